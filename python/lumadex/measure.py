"""One-pass measurements of numpy arrays: extremes, summaries and 2 x 2 binning.

Each function reads the array once with the kernel library's statistics
kernels (vectorised, on ``lumadex.get_num_threads()`` threads, without the
GIL). Arrays of 8-, 16- and 32-bit integers, float32 and float64 are read
as they are; bool arrays as uint8; the other real types are converted
first (see each function).
"""

import math
from typing import Any, NamedTuple, Optional, Tuple

import numpy as np
from numpy.typing import ArrayLike, DTypeLike

from . import _arrays

__all__ = ["Description", "MinMax", "bin2", "describe", "min_max"]

_NATIVE = {np.dtype(t) for t in (np.int8, np.int16, np.int32, np.uint8, np.uint16, np.uint32, np.float32, np.float64)}


class MinMax(NamedTuple):
    """What min_max returns: the extremes and the index tuples of their first occurrences."""

    min: Any
    max: Any
    min_index: Tuple[int, ...]
    max_index: Tuple[int, ...]


class Description(NamedTuple):
    """What describe returns: element count, extremes, mean and variance."""

    count: int
    min: Any
    max: Any
    mean: float
    variance: float


def _as_real(function: str, a: ArrayLike) -> np.ndarray:
    array = np.asarray(a)
    if array.dtype.kind not in "biuf" or array.dtype == np.longdouble:
        raise TypeError(
            f"{function}: a must be an array of bool, integers, float16, float32 or float64, got dtype {array.dtype}"
        )
    if not array.dtype.isnative:
        array = array.astype(array.dtype.newbyteorder("="))
    return array


def _kernel_view(array: np.ndarray) -> np.ndarray:
    """The array as the kernels take it: bool as uint8, float16 as float32."""
    if array.dtype == np.bool_:
        return array.view(np.uint8)
    if array.dtype == np.float16:
        return array.astype(np.float32)
    return array


def _rows(array: np.ndarray) -> np.ndarray:
    """At most four dimensions with a contiguous last axis, elements in the same C order."""
    if array.ndim == 0:
        array = array.reshape(1)
    if array.ndim > 4:
        array = array.reshape(-1, array.shape[-1])
    if array.shape[-1] > 1 and array.strides[-1] != array.itemsize:
        array = np.ascontiguousarray(array)
    return array


def _unravel(rank: int, shape: Tuple[int, ...]) -> Tuple[int, ...]:
    """np.unravel_index(rank, shape) as a tuple of ints, in a few divisions
    (numpy's costs about a microsecond, a per cent of a 2048 x 2048 uint16
    min_max)."""
    index = []
    for n in reversed(shape):
        rank, i = divmod(int(rank), n)
        index.append(i)
    return tuple(reversed(index))


def min_max(a: ArrayLike) -> MinMax:
    """The smallest and largest element and where they first occur, in one pass.

    Parameters
    ----------
    a : array_like
        A non-empty real array (bool, integers, float16, float32, float64).

    Returns
    -------
    MinMax
        ``(min, max, min_index, max_index)``: the extremes as scalars of
        ``a``'s dtype and the index tuples of their first occurrences in C
        order, ``np.unravel_index(np.argmin(a), a.shape)`` and the same for
        argmax.

    Notes
    -----
    NaN is handled as numpy's argmin and argmax handle it: an array holding
    NaN reports NaN for both extremes, at the index of its first NaN. The
    pass finds each chunk's extremes without their positions, and then
    looks for the first occurrences in the one chunk that holds them.
    int64 and uint64 arrays, which the kernel does not take, are measured by
    numpy's argmin and argmax (two passes).
    """
    fields = _arrays._min_max(a)  # a plain ndarray the kernel reads as it lies, in one call
    if fields is not None:
        return MinMax(*fields)
    array = _as_real("min_max", a)
    if array.size == 0:
        raise ValueError(f"min_max: a is empty (shape {array.shape})")
    shape = array.shape
    if array.dtype.itemsize == 8 and array.dtype.kind in "iu":
        low, high = int(np.argmin(array)), int(np.argmax(array))
    else:
        _, _, low, high = _arrays._extremes(_rows(_kernel_view(array)))
    flat = array.reshape(-1) if array.flags.c_contiguous else None
    index_low, index_high = _unravel(low, shape), _unravel(high, shape)
    value_low = flat[low] if flat is not None else array[index_low]
    value_high = flat[high] if flat is not None else array[index_high]
    return MinMax(value_low, value_high, index_low, index_high)


def describe(a: ArrayLike, *, ddof: int = 0) -> Description:
    """Count, extremes, mean and variance of all elements, from one pass in double.

    Parameters
    ----------
    a : array_like
        A non-empty real array (bool, integers, float16, float32, float64).
    ddof : int, optional
        Delta degrees of freedom: the variance divides by ``count - ddof``
        (default 0, numpy's var).

    Returns
    -------
    Description
        ``(count, min, max, mean, variance)``: min and max as scalars of
        ``a``'s dtype, mean and variance as floats.

    Notes
    -----
    The sums of the elements and of their squares are taken in one pass
    (8- and 16-bit integers exactly), and the variance is
    ``(sum_sq - sum * mean) / (count - ddof)``, never below 0. This loses
    precision where the mean is large against the spread (about
    ``(mean / std)**2`` units in the last place of a double), unlike numpy's
    two-pass var. A NaN element makes min, max, mean and variance NaN, as
    in numpy. ``count - ddof <= 0`` gives a NaN variance. int64, uint64 and
    float16 arrays are converted to float64 first.
    """
    array = _as_real("describe", a)
    if isinstance(ddof, bool) or not isinstance(ddof, (int, np.integer)):
        raise TypeError(f"describe: ddof must be an integer, got {ddof!r}")
    if array.size == 0:
        raise ValueError(f"describe: a is empty (shape {array.shape})")
    view = _kernel_view(array)
    if view.dtype not in _NATIVE:
        view = view.astype(np.float64)
    # The sums do not depend on the order: a contiguous array of any layout is one row.
    if view.flags.c_contiguous or view.flags.f_contiguous:
        view = view.ravel(order="K")
    low, high, total, squares = _arrays._survey(_rows(view))
    count = int(array.size)
    mean = total / count
    if math.isnan(total) and not (low == -math.inf and high == math.inf):
        low = high = math.nan  # a NaN element (the kernel skips NaN in its extremes)
    denominator = count - int(ddof)
    variance = max((squares - total * mean) / denominator, 0.0) if denominator > 0 else math.nan
    if math.isnan(total) or math.isnan(squares):
        variance = math.nan
    kind = array.dtype.type
    return Description(count, kind(low), kind(high), float(mean), float(variance))


def bin2(a: ArrayLike, dtype: Optional[DTypeLike] = None) -> np.ndarray:
    """2 x 2 mean binning of the last two axes.

    Output element ``[..., i, j]`` is the mean of ``a[..., 2i:2i+2, 2j:2j+2]``.
    An odd last row or column has no partner and is left out (the output
    has ``h // 2`` rows and ``w // 2`` columns), as the plug-in's reduction
    does. Leading axes are kept.

    Parameters
    ----------
    a : array_like
        A real array of at least 2 dimensions.
    dtype : dtype, optional
        The output dtype: float32 or float64 (integer blocks are summed
        exactly, then multiplied by 0.25 in double), or ``a``'s own dtype.
        By default float arrays keep their dtype (the four values summed in
        it) and integer and bool arrays give float32. An integer dtype
        equal to ``a``'s rounds the means to the nearest integer, halves to
        even.

    Returns
    -------
    ndarray
        The binned array, of shape ``a.shape[:-2] + (h // 2, w // 2)``.
    """
    array = _as_real("bin2", a)
    if array.ndim < 2:
        raise ValueError(f"bin2: a must have at least 2 dimensions, got shape {array.shape}")
    if dtype is None:
        out_dtype = array.dtype if array.dtype.kind == "f" else np.dtype(np.float32)
    else:
        try:
            out_dtype = np.dtype(dtype)
        except TypeError:
            raise TypeError(f"bin2: dtype must be a numpy dtype, got {dtype!r}") from None
        if out_dtype not in (np.float32, np.float64) and out_dtype != array.dtype:
            raise TypeError(f"bin2: dtype must be float32, float64 or the input's {array.dtype}, got {out_dtype}")
    if out_dtype == np.bool_ or (out_dtype.kind in "iu" and out_dtype.itemsize == 8):
        raise TypeError(f"bin2: {array.dtype} arrays bin to float32 or float64 only")
    h, w = array.shape[-2:]
    shape = array.shape[:-2] + (h // 2, w // 2)
    source = _kernel_view(array)
    kernel_dtype = out_dtype
    if source.dtype not in _NATIVE:  # int64, uint64: summed in double
        source = source.astype(np.float64)
    if out_dtype == np.float16:  # float16 in, float16 out: binned in float32
        kernel_dtype = np.dtype(np.float32)
    if source.ndim > 4:
        source = source.reshape((-1,) + source.shape[-3:])
    if source.shape[-1] > 1 and source.strides[-1] != source.itemsize:
        source = np.ascontiguousarray(source)
    out = np.empty(source.shape[:-2] + (h // 2, w // 2), kernel_dtype)
    _arrays._bin2(source, out)
    return out.reshape(shape).astype(out_dtype, copy=False)
