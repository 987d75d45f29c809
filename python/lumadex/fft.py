"""Discrete Fourier transforms of numpy arrays, with scipy.fft's functions and conventions.

    import numpy as np
    import lumadex.fft

    spectrum = lumadex.fft.fft2(image)                  # as scipy.fft.fft2(image)
    back = lumadex.fft.ifft2(spectrum, workers=2)

    import scipy.fft                                    # or as scipy.fft's backend:
    with scipy.fft.set_backend(lumadex.fft):
        spectrum = scipy.fft.fftn(volume)

The transforms run on the Lumadex kernel library (DFTI descriptors over FFTW,
plans kept and improved for geometries that recur) on the arrays' own memory,
whatever their strides, and release the GIL while they run.

Conventions (scipy.fft's):

- The forward transform has the negative exponent,
  ``X[k] = sum_n x[n] exp(-2j pi k n / N)``; the inverse the positive one.
- ``norm`` scales: "backward" (the default, ``None``) 1 forward and 1/N
  inverse; "ortho" 1/sqrt(N) both ways; "forward" 1/N forward and 1 inverse,
  N being the product of the transformed lengths.
- Types: float32 and complex64 stay single precision (complex64 results),
  float16 is computed in single, integers and bools in double; float64 and
  complex128 in double. Long double is not supported (as scipy.fft's
  backend, it leaves those calls to scipy).
- ``n``/``s`` crop or zero-pad the input along the transformed axes; for the
  inverse real transforms they give the output's lengths (the last axis
  defaults to ``2 * (m - 1)`` for an input of m points there).
- Inputs are never written, unless ``overwrite_x=True`` allows a complex
  transform to run in the input's memory (the result is then a view of it).
- ``workers``: a positive thread count, -1 for every processor, -2 all but
  one...; ``None`` is lumadex's own count (lumadex.get_num_threads()). Calls
  that come through scipy.fft's backend protocol without ``workers`` use
  scipy's default instead (scipy.fft.get_workers(): 1, or what
  scipy.fft.set_workers set).
- ``plan`` is accepted for scipy's signature and ignored: plans are kept and
  reused behind the scenes.
"""

from __future__ import annotations

import math
import numbers
import operator
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _arrays

__all__ = [
    "fft",
    "ifft",
    "fft2",
    "ifft2",
    "fftn",
    "ifftn",
    "rfft",
    "irfft",
    "rfft2",
    "irfft2",
    "rfftn",
    "irfftn",
    "fftfreq",
    "rfftfreq",
    "fftshift",
    "ifftshift",
]

Norm = Optional[str]  # "backward", "ortho", "forward" or None
Lengths = Optional[Union[int, Sequence[int]]]
Axes = Optional[Union[int, Sequence[int]]]

_NORMS = ("backward", "ortho", "forward")
_ALIGNMENT = 64  # bytes: the start of the large arrays made here
_ALIGNED_FROM = 1 << 16  # bytes


class _LongDouble(TypeError):
    """A precision the kernels lack: refused here, handed back to scipy by the backend."""


# --- inputs ----------------------------------------------------------------------------------


def _floating(name: str, x: Any) -> Tuple[np.ndarray, bool]:
    """x as an array of a type the kernels take, and whether it is a copy of our own.

    The type follows scipy.fft: float16 to float32, anything but float and
    complex to float64; native byte order. Unaligned data, strides that are
    not whole elements, and dimensions of several positions at one address
    (broadcast arrays) are copied.
    """
    if type(x) is np.ndarray and x.dtype.char in "fdFD" and x.dtype.isnative and x.flags.c_contiguous \
            and x.flags.aligned:
        return x, False  # the common case, at no cost
    try:
        a = x if isinstance(x, np.ndarray) else np.asarray(x)
        fresh = a is not x and isinstance(x, (list, tuple, numbers.Number))
        kind, size = a.dtype.kind, a.dtype.itemsize
        if (kind == "f" and size > 8) or (kind == "c" and size > 16):
            raise _LongDouble(f"{name}: x has dtype {a.dtype}; long double precision is not supported "
                              "(float16, float32, float64, complex64, complex128, integers and bools are)")
        if kind in "fc":
            target = np.dtype(np.float32) if size == 2 else a.dtype.newbyteorder("=")
        else:
            target = np.dtype(np.float64)
        if a.dtype != target:
            a, fresh = a.astype(target), True
    except _LongDouble:
        raise
    except (TypeError, ValueError) as error:
        raise type(error)(f"{name}: x cannot be read as an array of numbers: {error}") from error
    # (A dimension of one position is never stepped along: its stride does not matter.)
    if not a.flags.aligned or any(n > 1 and (step % a.itemsize or step == 0) for step, n in zip(a.strides, a.shape)):
        a, fresh = a.copy(), True
    return a, fresh


def _real(name: str, x: Any) -> np.ndarray:
    """x as a real array of a kernel type (as _floating); complex input is a TypeError."""
    a, _ = _floating(name, x)
    if a.dtype.kind == "c":
        raise TypeError(f"{name}: x must be real; got dtype {a.dtype} (fft and fftn take complex input)")
    return a


def _index(name: str, what: str, value: Any) -> int:
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(f"{name}: {what} must be an integer; got {value!r}") from None


def _integers(name: str, what: str, value: Any) -> List[int]:
    # An integer alone or an iterable of them; anything else is a ValueError, as in scipy.fft.
    if isinstance(value, numbers.Number):
        value = (value,)
    try:
        return [operator.index(v) for v in value]
    except TypeError:
        raise ValueError(f"{name}: {what} must be an integer or a sequence of integers; got {value!r}") from None


def _one_axis(name: str, a: np.ndarray, n: Optional[int], axis: int) -> Tuple[List[int], List[int]]:
    """The axis (in range) and the length of a 1-D transform."""
    axis = _index(name, "axis", axis)
    if not -a.ndim <= axis < a.ndim:
        raise np.AxisError(axis, a.ndim, name)
    axis %= a.ndim
    n = a.shape[axis] if n is None else _index(name, "n", n)
    if n < 1:
        raise ValueError(f"{name}: n must be at least 1 (the number of data points); got {n}")
    return [axis], [n]


def _many_axes(name: str, a: np.ndarray, s: Lengths, axes: Axes) -> Tuple[List[int], List[int]]:
    """The axes (in range, distinct) and lengths of an n-D transform, as scipy.fft resolves them:
    every axis by default, or the last len(s) ones; -1 in s keeps the input's length."""
    given = axes
    if axes is not None:
        axes = _integers(name, "axes", axes)
        if any(not -a.ndim <= d < a.ndim for d in axes):
            raise np.AxisError(f"{name}: axes {tuple(axes)} out of range for an array of {a.ndim} dimensions")
        axes = [d % a.ndim for d in axes]
        if len(set(axes)) != len(axes):
            raise ValueError(f"{name}: axes must be distinct; got {tuple(_integers(name, 'axes', given))}")
    if s is not None:
        s = _integers(name, "s", s)
        if axes is None:
            if len(s) > a.ndim:
                raise ValueError(f"{name}: s gives {len(s)} lengths for an array of {a.ndim} dimensions")
            axes = list(range(a.ndim - len(s), a.ndim))
        elif len(s) != len(axes):
            raise ValueError(f"{name}: s and axes must have the same length; got s={tuple(s)}, axes={tuple(axes)}")
        lengths = [a.shape[d] if n == -1 else n for n, d in zip(s, axes)]
    else:
        axes = list(range(a.ndim)) if axes is None else axes
        lengths = [a.shape[d] for d in axes]
    if any(n < 1 for n in lengths):
        raise ValueError(f"{name}: lengths must be at least 1 (the number of data points); "
                         f"got {tuple(lengths)} along axes {tuple(axes)}")
    return axes, lengths


def _workers(name: str, workers: Any) -> Any:
    # Zero and numpy integers here; the rest (ranges, types) in the native part.
    if workers is None or isinstance(workers, bool):
        return workers
    workers = _index(name, "workers", workers)
    if workers == 0:
        raise ValueError(f"{name}: workers must not be zero; give a thread count, a negative number "
                         "(-1: every processor) or None")
    return workers


def _scale(name: str, norm: Norm, forward: bool, n: int) -> float:
    """The factor of a transform of n points in the given direction under `norm`."""
    if norm is None:
        norm = "backward"
    if not isinstance(norm, str) or norm not in _NORMS:
        raise ValueError(f'{name}: norm must be "backward", "ortho", "forward" or None; got {norm!r}')
    if norm == "ortho":
        return 1.0 / math.sqrt(n)
    return 1.0 / n if (norm == "forward") == forward else 1.0


def _complex_of(dtype: np.dtype) -> np.dtype:
    return np.dtype(np.complex64 if dtype in (np.float32, np.complex64) else np.complex128)


def _real_of(dtype: np.dtype) -> np.dtype:
    return np.dtype(np.float32 if dtype in (np.float32, np.complex64) else np.float64)


def _empty(shape: Sequence[int], dtype: np.dtype) -> np.ndarray:
    """A C-ordered array; a large one starts on a 64-byte boundary, so that FFTW's vector
    loads do not straddle cache lines (numpy's own large arrays start 16 bytes past one).
    FFTW tells alignments apart modulo 16 only: both kinds run the same plans."""
    dtype = np.dtype(dtype)
    nbytes = math.prod(shape) * dtype.itemsize
    if nbytes < _ALIGNED_FROM:
        return np.empty(shape, dtype)
    raw = np.empty(nbytes + _ALIGNMENT, np.uint8)
    start = -raw.__array_interface__["data"][0] % _ALIGNMENT
    return raw[start:start + nbytes].view(dtype).reshape(shape)


def _c_ordered(a: np.ndarray) -> bool:
    """Whether a's dimensions of several positions lie in C order (slower ones first)."""
    if a.flags.c_contiguous:
        return True
    steps = [abs(step) for step, n in zip(a.strides, a.shape) if n > 1]
    return all(outer >= inner for outer, inner in zip(steps, steps[1:]))


def _fit(a: np.ndarray, axes: Sequence[int], lengths: Sequence[int], dtype: np.dtype) -> Tuple[np.ndarray, bool]:
    """a cropped or zero-padded to `lengths` along `axes`, as `dtype`: a view of a when nothing
    has to be added or converted, else a new array (then True).

    An input in another order than C's (Fortran order, transposed views) is copied to C order
    and transformed as a C-ordered input would be (False): FFTW chooses its plans, and so the
    last bits of a result, by the memory layout, and scipy.fft's results do not depend on it.
    Strided views in C order (sub-areas, reversed axes) are transformed where they lie.
    """
    if a.dtype == dtype and all(a.shape[d] == n for d, n in zip(axes, lengths)):
        if _c_ordered(a):
            return a, False
        copy = _empty(a.shape, dtype)
        copy[...] = a
        return copy, False
    index = [slice(None)] * a.ndim
    shape = list(a.shape)
    padded = False
    for d, n in zip(axes, lengths):
        index[d] = slice(0, min(n, a.shape[d]))
        shape[d] = n
        padded = padded or n > a.shape[d]
    part = a[tuple(index)]
    if not padded and a.dtype == dtype:
        return _fit(part, axes, lengths, dtype)
    work = _empty(shape, dtype)
    if padded:
        work.fill(0)
    work[tuple(index)] = part
    return work, True


# --- the three kinds of transform --------------------------------------------------------------


def _complex(name: str, forward: bool, a: np.ndarray, fresh: bool, axes: List[int], lengths: List[int],
             norm: Norm, overwrite_x: bool, workers: Any) -> np.ndarray:
    workers = _workers(name, workers)
    scale = _scale(name, norm, forward, math.prod(lengths))
    work, made = _fit(a, axes, lengths, _complex_of(a.dtype))
    in_place = made or ((fresh or overwrite_x) and work.flags.writeable)
    out = work if in_place else _empty(work.shape, work.dtype)
    _arrays.complex_fourier(work, out, axes, forward, scale, workers, name)
    return out


def _real_forward(name: str, a: np.ndarray, axes: List[int], lengths: List[int], norm: Norm,
                  workers: Any) -> np.ndarray:
    if not axes:
        raise ValueError(f"{name}: at least one axis must be transformed; got axes=()")
    workers = _workers(name, workers)
    scale = _scale(name, norm, True, math.prod(lengths))
    work, _ = _fit(a, axes, lengths, a.dtype)
    shape = list(work.shape)
    shape[axes[-1]] = shape[axes[-1]] // 2 + 1
    out = _empty(shape, _complex_of(a.dtype))
    _arrays.real_forward(work, out, axes, scale, workers, name)
    return out


def _real_inverse(name: str, a: np.ndarray, axes: List[int], lengths: List[int], norm: Norm,
                  workers: Any) -> np.ndarray:
    """`lengths` are the output's; the input holds lengths[-1] // 2 + 1 points along axes[-1]."""
    if not axes:
        raise ValueError(f"{name}: at least one axis must be transformed; got axes=()")
    if lengths[-1] < 1:
        raise ValueError(f"{name}: the output length along axis {axes[-1]} would be {lengths[-1]} "
                         f"(2 * (m - 1) for m = {a.shape[axes[-1]]} input points); give it with n or s")
    workers = _workers(name, workers)
    scale = _scale(name, norm, False, math.prod(lengths))
    halves = lengths[:-1] + [lengths[-1] // 2 + 1]
    work, _ = _fit(a, axes, halves, _complex_of(a.dtype))
    shape = list(work.shape)
    shape[axes[-1]] = lengths[-1]
    out = _empty(shape, _real_of(a.dtype))
    _arrays.real_inverse(work, out, axes, scale, workers, name)
    return out


# --- documentation shared by the transforms ----------------------------------------------------

_PARAMETERS = {
    "x": "x : array_like\n    Input array.",
    "x_real": "x : array_like\n    Real input (complex input is a TypeError).",
    "x_half": "x : array_like\n    Half spectrum (real input is taken as complex).",
    "n": ("n : int, optional\n    Length of the transform along `axis`: the input is cropped or zero-padded to it.\n"
          "    Default: the input's length."),
    "n_out": "n : int, optional\n    Length of the output along `axis`; default 2 * (m - 1) for m input points.",
    "axis": "axis : int, optional\n    The axis transformed (default the last); the others are batches.",
    "s": ("s : sequence of ints, optional\n    Lengths along `axes` (crop or zero-pad; -1 keeps the input's). "
          "Without `axes`,\n    the last len(s) axes."),
    "s_out": ("s : sequence of ints, optional\n    The output's lengths along `axes`; the input is cropped or "
              "zero-padded to them, and to\n    s[-1] // 2 + 1 along axes[-1]. Default: the input's lengths, and "
              "2 * (m - 1) along\n    axes[-1] for m input points there (1 for m = 1)."),
    "axes": ("axes : sequence of ints, optional\n    The axes transformed, distinct (default every axis); the "
             "others are batches. An\n    empty sequence returns x unchanged, as scipy.fft does."),
    "axes2": "axes : sequence of ints, optional\n    The axes transformed, distinct, default (-2, -1).",
    "axes_real": ("axes : sequence of ints, optional\n    The axes transformed, distinct (default every axis); "
                  "the last is the halved one."),
    "axes2_real": "axes : sequence of ints, optional\n    The axes transformed, default (-2, -1); the last is the halved one.",
    "norm": (
        'norm : {"backward", "ortho", "forward"}, optional\n'
        "    Normalisation: \"backward\" (default, also None) scales the forward transform by 1 and\n"
        "    the inverse by 1/N; \"ortho\" both by 1/sqrt(N); \"forward\" the forward by 1/N and the\n"
        "    inverse by 1. N is the product of the transformed lengths."),
    "overwrite_x": (
        "overwrite_x : bool, optional\n"
        "    If True, a complex transform may run in x's memory and return a view of it; x is\n"
        "    never written otherwise. Default False."),
    "overwrite_real": "overwrite_x : bool, optional\n    Accepted for scipy.fft's signature; x is never written.",
    "workers": (
        "workers : int, optional\n"
        "    Threads: a positive count, or -1 for every processor, -2 for all but one...\n"
        "    None (default) is lumadex.get_num_threads(); through scipy.fft's backend protocol,\n"
        "    scipy's default (scipy.fft.get_workers())."),
    "plan": "plan : object, optional\n    Accepted for scipy.fft's signature and ignored.",
}

_RAISES = """Raises
------
ValueError
    Lengths below 1, repeated or mismatched axes, an unknown norm, workers 0 or
    out of range.
numpy.AxisError
    An axis out of range (also a ValueError and an IndexError).
TypeError
    Non-integer n, axis or workers; complex input to a real forward
    transform; long double input."""


def _described(summary: str, parameters: str, returns: str, notes: str = "") -> Callable[[Callable], Callable]:
    """Gives a transform its numpy-style docstring, made of the shared parameter texts named in
    `parameters` (x, n or s, axis or axes, then norm, overwrite_x, workers and plan)."""
    listed = "\n".join(_PARAMETERS[name] for name in parameters.split())
    text = "\n\n".join(part for part in (
        summary, notes, "Parameters\n----------\n" + listed,
        "Returns\n-------\nnumpy.ndarray\n    " + returns, _RAISES) if part)

    def describe(function: Callable) -> Callable:
        function.__doc__ = text
        return function

    return describe


_COMPLEX_1D = "x n axis norm overwrite_x workers plan"
_COMPLEX_ND = "x s axes norm overwrite_x workers plan"
_COMPLEX_2D = "x s axes2 norm overwrite_x workers plan"


# --- the transforms, by family: the arguments resolved, then one of the three kinds ---------------


def _complex_1d(name: str, forward: bool, x: Any, n: Optional[int], axis: int, norm: Norm, overwrite_x: bool,
                workers: Any) -> np.ndarray:
    a, fresh = _floating(name, x)
    axes, lengths = _one_axis(name, a, n, axis)
    return _complex(name, forward, a, fresh, axes, lengths, norm, overwrite_x, workers)


def _complex_nd(name: str, forward: bool, x: Any, s: Lengths, axes: Axes, norm: Norm, overwrite_x: bool,
                workers: Any) -> np.ndarray:
    a, fresh = _floating(name, x)
    axes, lengths = _many_axes(name, a, s, axes)
    if not axes:
        return x
    return _complex(name, forward, a, fresh, axes, lengths, norm, overwrite_x, workers)


def _real_forward_of(name: str, x: Any, n_or_s: Any, axis_or_axes: Any, one_axis: bool, norm: Norm,
                     workers: Any) -> np.ndarray:
    a = _real(name, x)
    resolve = _one_axis if one_axis else _many_axes
    axes, lengths = resolve(name, a, n_or_s, axis_or_axes)
    return _real_forward(name, a, axes, lengths, norm, workers)


def _real_inverse_1d(name: str, x: Any, n: Optional[int], axis: int, norm: Norm, workers: Any) -> np.ndarray:
    a, _ = _floating(name, x)
    axes, lengths = _one_axis(name, a, 1 if n is None else n, axis)
    if n is None:
        lengths = [2 * (a.shape[axes[0]] - 1)]
    return _real_inverse(name, a, axes, lengths, norm, workers)


def _real_inverse_nd(name: str, x: Any, s: Lengths, axes: Axes, norm: Norm, workers: Any) -> np.ndarray:
    a, _ = _floating(name, x)
    axes, lengths = _many_axes(name, a, s, axes)
    if s is None and axes:
        # One input point gives one output point here (scipy.fft's n-D rule; irfft refuses it).
        lengths[-1] = 2 * (a.shape[axes[-1]] - 1) or 1
    return _real_inverse(name, a, axes, lengths, norm, workers)


# --- complex transforms ------------------------------------------------------------------------


@_described("The 1-D discrete Fourier transform, ``X[k] = sum_n x[n] exp(-2j pi k n / N)``.", _COMPLEX_1D,
            "Complex (complex64 for single-precision input, else complex128), with length n along\n    `axis`.")
def fft(x: npt.ArrayLike, n: Optional[int] = None, axis: int = -1, norm: Norm = None, overwrite_x: bool = False,
        workers: Optional[int] = None, *, plan: Any = None) -> np.ndarray:
    return _complex_1d("fft", True, x, n, axis, norm, overwrite_x, workers)


@_described("The 1-D inverse discrete Fourier transform, ``x[n] = 1/N sum_k X[k] exp(+2j pi k n / N)``.",
            _COMPLEX_1D, "Complex, of x's precision, with length n along `axis`.")
def ifft(x: npt.ArrayLike, n: Optional[int] = None, axis: int = -1, norm: Norm = None, overwrite_x: bool = False,
         workers: Optional[int] = None, *, plan: Any = None) -> np.ndarray:
    return _complex_1d("ifft", False, x, n, axis, norm, overwrite_x, workers)


@_described("The n-D discrete Fourier transform (negative exponent) along `axes`.", _COMPLEX_ND,
            "Complex, of x's precision, with lengths s along `axes`.")
def fftn(x: npt.ArrayLike, s: Lengths = None, axes: Axes = None, norm: Norm = None, overwrite_x: bool = False,
         workers: Optional[int] = None, *, plan: Any = None) -> np.ndarray:
    return _complex_nd("fftn", True, x, s, axes, norm, overwrite_x, workers)


@_described("The n-D inverse discrete Fourier transform (positive exponent, 1/N by default) along `axes`.",
            _COMPLEX_ND, "Complex, of x's precision, with lengths s along `axes`.")
def ifftn(x: npt.ArrayLike, s: Lengths = None, axes: Axes = None, norm: Norm = None, overwrite_x: bool = False,
          workers: Optional[int] = None, *, plan: Any = None) -> np.ndarray:
    return _complex_nd("ifftn", False, x, s, axes, norm, overwrite_x, workers)


@_described("The 2-D discrete Fourier transform (negative exponent): fftn with axes (-2, -1) by default.",
            _COMPLEX_2D, "Complex, of x's precision.")
def fft2(x: npt.ArrayLike, s: Lengths = None, axes: Axes = (-2, -1), norm: Norm = None, overwrite_x: bool = False,
         workers: Optional[int] = None, *, plan: Any = None) -> np.ndarray:
    return _complex_nd("fft2", True, x, s, axes, norm, overwrite_x, workers)


@_described("The 2-D inverse discrete Fourier transform (positive exponent): ifftn with axes (-2, -1).",
            _COMPLEX_2D, "Complex, of x's precision.")
def ifft2(x: npt.ArrayLike, s: Lengths = None, axes: Axes = (-2, -1), norm: Norm = None, overwrite_x: bool = False,
          workers: Optional[int] = None, *, plan: Any = None) -> np.ndarray:
    return _complex_nd("ifft2", False, x, s, axes, norm, overwrite_x, workers)


# --- real transforms ---------------------------------------------------------------------------


@_described("The 1-D discrete Fourier transform of real input: the n // 2 + 1 non-negative frequencies.",
            "x_real n axis norm overwrite_real workers plan",
            "Complex, of x's precision, with n // 2 + 1 points along `axis`.")
def rfft(x: npt.ArrayLike, n: Optional[int] = None, axis: int = -1, norm: Norm = None, overwrite_x: bool = False,
         workers: Optional[int] = None, *, plan: Any = None) -> np.ndarray:
    return _real_forward_of("rfft", x, n, axis, True, norm, workers)


@_described("The inverse of rfft: n real points from the half spectrum x (positive exponent).",
            "x_half n_out axis norm overwrite_real workers plan", "Real, of x's precision, with n points along `axis`.",
            "The input's n // 2 + 1 first points along `axis` are used (cropped or zero-padded); the\n"
            "imaginary parts of the zero and (for even n) the Nyquist frequency are ignored.")
def irfft(x: npt.ArrayLike, n: Optional[int] = None, axis: int = -1, norm: Norm = None, overwrite_x: bool = False,
          workers: Optional[int] = None, *, plan: Any = None) -> np.ndarray:
    return _real_inverse_1d("irfft", x, n, axis, norm, workers)


@_described("The n-D discrete Fourier transform of real input; the last of `axes` is halved (n // 2 + 1).",
            "x_real s axes_real norm overwrite_real workers plan",
            "Complex, of x's precision: s[-1] // 2 + 1 points along axes[-1], s along the others.")
def rfftn(x: npt.ArrayLike, s: Lengths = None, axes: Axes = None, norm: Norm = None, overwrite_x: bool = False,
          workers: Optional[int] = None, *, plan: Any = None) -> np.ndarray:
    return _real_forward_of("rfftn", x, s, axes, False, norm, workers)


@_described("The inverse of rfftn: a real array from its half spectrum (positive exponent).",
            "x_half s_out axes_real norm overwrite_real workers plan",
            "Real, of x's precision, with lengths s along `axes`.",
            "As scipy.fft computes it: the axes other than the last of `axes` are transformed complex to\n"
            "complex first, then the last one complex to real.")
def irfftn(x: npt.ArrayLike, s: Lengths = None, axes: Axes = None, norm: Norm = None, overwrite_x: bool = False,
           workers: Optional[int] = None, *, plan: Any = None) -> np.ndarray:
    return _real_inverse_nd("irfftn", x, s, axes, norm, workers)


@_described("The 2-D discrete Fourier transform of real input: rfftn with axes (-2, -1) by default.",
            "x_real s axes2_real norm overwrite_real workers plan", "Complex, of x's precision.")
def rfft2(x: npt.ArrayLike, s: Lengths = None, axes: Axes = (-2, -1), norm: Norm = None, overwrite_x: bool = False,
          workers: Optional[int] = None, *, plan: Any = None) -> np.ndarray:
    return _real_forward_of("rfft2", x, s, axes, False, norm, workers)


@_described("The inverse of rfft2: irfftn with axes (-2, -1) by default.",
            "x_half s_out axes2_real norm overwrite_real workers plan", "Real, of x's precision.")
def irfft2(x: npt.ArrayLike, s: Lengths = None, axes: Axes = (-2, -1), norm: Norm = None, overwrite_x: bool = False,
           workers: Optional[int] = None, *, plan: Any = None) -> np.ndarray:
    return _real_inverse_nd("irfft2", x, s, axes, norm, workers)


# --- frequencies and shifts (numpy's) ----------------------------------------------------------


def fftfreq(n: int, d: float = 1.0) -> np.ndarray:
    """The sample frequencies of fft's output: ``[0, 1, ..., n/2-1, -n/2, ..., -1] / (d n)`` (n even).

    Parameters
    ----------
    n : int
        Window length.
    d : float, optional
        Sample spacing (the inverse of the sampling rate). Default 1.

    Returns
    -------
    numpy.ndarray
        n frequencies (float64), in cycles per unit of the sample spacing.
    """
    return np.fft.fftfreq(n, d)


def rfftfreq(n: int, d: float = 1.0) -> np.ndarray:
    """The sample frequencies of rfft's output: ``[0, 1, ..., n // 2] / (d n)``.

    Parameters
    ----------
    n : int
        Window length.
    d : float, optional
        Sample spacing. Default 1.

    Returns
    -------
    numpy.ndarray
        n // 2 + 1 frequencies (float64).
    """
    return np.fft.rfftfreq(n, d)


def fftshift(x: npt.ArrayLike, axes: Axes = None) -> np.ndarray:
    """The zero frequency moved to the centre: a roll by n // 2 along each of `axes`.

    Parameters
    ----------
    x : array_like
        Input array.
    axes : int or sequence of ints, optional
        Axes to shift (default every axis).

    Returns
    -------
    numpy.ndarray
        The shifted array (a new array).
    """
    return np.fft.fftshift(x, axes)


def ifftshift(x: npt.ArrayLike, axes: Axes = None) -> np.ndarray:
    """The inverse of fftshift: a roll by -(n // 2) along each of `axes` (differs for odd n).

    Parameters
    ----------
    x : array_like
        Input array.
    axes : int or sequence of ints, optional
        Axes to shift (default every axis).

    Returns
    -------
    numpy.ndarray
        The shifted array (a new array).
    """
    return np.fft.ifftshift(x, axes)


# --- scipy.fft's backend protocol (uarray) -----------------------------------------------------

__ua_domain__ = "numpy.scipy.fft"

_BACKEND: Dict[str, Callable[..., np.ndarray]] = {
    function.__name__: function
    for function in (fft, ifft, fft2, ifft2, fftn, ifftn, rfft, irfft, rfft2, irfft2, rfftn, irfftn)
}
_WORKERS_POSITION = 5  # x, n or s, axis or axes, norm, overwrite_x, workers


def __ua_function__(method: Callable, args: tuple, kwargs: dict) -> Any:
    """scipy.fft's entry into this module as a backend.

    Calls the function of the method's name with scipy's arguments; returns NotImplemented for
    the methods not here (hfft, ihfft, dct, dst, fht and others) and for long double input, so
    that scipy's next backend (its own, by default) computes them. Without `workers`, scipy's
    default applies (scipy.fft.get_workers()).
    """
    function = _BACKEND.get(getattr(method, "__name__", None))
    if function is None:
        return NotImplemented
    if len(args) <= _WORKERS_POSITION and kwargs.get("workers") is None:
        import scipy.fft  # loaded already: scipy is calling

        kwargs = {**kwargs, "workers": scipy.fft.get_workers()}
    try:
        return function(*args, **kwargs)
    except _LongDouble:
        return NotImplemented
