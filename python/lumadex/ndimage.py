"""Shifts, zooms, affine transforms and rotations of numpy arrays, with scipy.ndimage's conventions.

The functions take scipy.ndimage's parameters, defaults (except ``order``)
and coordinate conventions, and give its results:

- ``fourier_shift`` multiplies a spectrum by the phase ramp of a shift, as
  ``scipy.ndimage.fourier_shift`` does, on the kernel library's shift ramps;
- ``shift``, ``zoom``, ``affine_transform`` and ``rotate`` resample 1-D to
  3-D arrays (``rotate``: the planes of arrays of any dimension) at spline
  order 0 (nearest pixel) or 1 (linear), the default here as there is no
  higher-order spline kernel; every edge mode of scipy.ndimage is
  available and gives scipy's values at the edges as well.

Coordinates are array indices: pixel ``i`` is centred at ``i``. An output
pixel with index vector ``o`` takes the input's value at
``matrix @ o + offset`` (pull resampling). Values are computed in double
from float32 or float64 pixels (other real types are read as float64), with
scipy's positions, weights and sums in scipy's order, so that float results
equal scipy's to the last bit; they are rounded to the output type as scipy
does (integers: to nearest, halves away from zero, clipped to the type's
range). The kernels run without the GIL on ``lumadex.get_num_threads()``
threads.

Where this module differs from scipy.ndimage:

- ``order`` defaults to 1 and takes 0 or 1; 2 to 5 raise NotImplementedError;
- bad arguments raise TypeError or ValueError (scipy raises RuntimeError for
  some), and ``fourier_shift`` refuses ``n=0`` (scipy returns NaN);
- a position that is not finite (a NaN or infinite matrix entry) gives
  ``cval`` in every mode (scipy's results there depend on the mode and the
  order), and a position beyond about 2**52 pixels is folded in floating
  point rather than through scipy's overflowing integer conversion;
- ``affine_transform`` keeps the number of dimensions (scipy allows a
  non-square matrix mapping to an output of fewer dimensions);
- ``shift``, ``zoom`` and ``affine_transform`` take 1 to 3 dimensions;
- a new ``fourier_shift`` output has the input's memory order (numpy's FFTs
  return Fortran-ordered spectra), where scipy's is always C-ordered.
"""

import math
import numbers
import warnings
from typing import Callable, Optional, Sequence, Tuple, Union

import numpy as np
from numpy.typing import ArrayLike, DTypeLike

from . import _arrays

__all__ = ["affine_transform", "fourier_shift", "rotate", "shift", "zoom"]

MODES = ("constant", "grid-constant", "nearest", "reflect", "grid-mirror", "mirror", "wrap", "grid-wrap")
ORDERS = (0, 1)

# Output: an array to write into, or a dtype for a new one.
Output = Union[None, np.ndarray, DTypeLike]

_READ_KINDS = "biufc"  # bool, signed and unsigned integers, floats, complex
_KERNEL_DTYPES = (np.dtype(np.float32), np.dtype(np.float64))


# --- argument checks -------------------------------------------------------------------


def _as_input(function: str, input: ArrayLike) -> np.ndarray:
    """The input as an array of a dtype the warps read (native byte order)."""
    array = np.asarray(input)
    if array.dtype.kind not in _READ_KINDS or array.dtype in (np.float16, np.longdouble, np.clongdouble):
        raise TypeError(
            f"{function}: input must be an array of bool, integers, float32, float64, complex64 or "
            f"complex128, got dtype {array.dtype}"
        )
    if not array.dtype.isnative:
        array = array.astype(array.dtype.newbyteorder("="))
    return array


def _check_dimensions(function: str, array: np.ndarray, low: int = 1, high: Optional[int] = 3) -> None:
    if array.ndim < low or (high is not None and array.ndim > high):
        wanted = f"{low} to {high}" if high is not None else f"at least {low}"
        raise ValueError(f"{function}: input must have {wanted} dimensions, got shape {array.shape}")


def _check_order(function: str, order: int) -> int:
    if isinstance(order, bool) or not isinstance(order, numbers.Integral):
        raise TypeError(f"{function}: order must be an integer, got {order!r}")
    if order not in ORDERS:
        raise NotImplementedError(
            f"{function}: order={order} is not implemented; lumadex.ndimage has spline orders 0 (nearest) "
            "and 1 (linear)"
        )
    return int(order)


def _check_mode(function: str, mode: str) -> str:
    if not isinstance(mode, str) or mode not in MODES:
        raise ValueError(f"{function}: mode must be one of {', '.join(MODES)}; got {mode!r}")
    return mode


def _warp_arguments(function: str, input: ArrayLike, order: int, mode: str, low: int = 1,
                    high: Optional[int] = 3) -> Tuple[np.ndarray, int, str]:
    """The checks every warp starts with: the input as an array of low to high dimensions, the
    spline order and the edge mode."""
    input = _as_input(function, input)
    _check_dimensions(function, input, low, high)
    return input, _check_order(function, order), _check_mode(function, mode)


def _floats(function: str, name: str, value, rank: int) -> Tuple[float, ...]:
    """A scalar or one value per axis as floats (scipy's _normalize_sequence)."""
    if isinstance(value, str) or not np.iterable(value):
        values = [value] * rank
    else:
        values = list(np.asarray(value).ravel()) if isinstance(value, np.ndarray) else list(value)
        if len(values) != rank:
            raise ValueError(f"{function}: {name} must be a number or {rank} numbers (one per axis), got {value!r}")
    try:
        return tuple(float(v) for v in values)
    except (TypeError, ValueError):
        raise TypeError(f"{function}: {name} must be a real number or one per axis, got {value!r}") from None


def _real_cval(function: str, cval, complex_input: bool) -> complex:
    try:
        value = complex(cval)
    except (TypeError, ValueError):
        raise TypeError(f"{function}: cval must be a number, got {cval!r}") from None
    if value.imag != 0 and not complex_input:
        raise TypeError(f"{function}: cval must be real for real input, got {cval!r}")
    return value


def _output_array(function: str, output: Output, input: np.ndarray, shape: Tuple[int, ...]) -> np.ndarray:
    """The array the results go to, by scipy.ndimage's rules (_ni_support._get_output).

    New arrays are left uninitialised: the warps write every element."""
    complex_input = input.dtype.kind == "c"
    if output is None:
        dtype = np.promote_types(input.dtype, np.complex64) if complex_input else input.dtype
        return np.empty(shape, dtype)
    if isinstance(output, np.ndarray):
        if output.shape != tuple(shape):
            raise ValueError(f"{function}: output has shape {output.shape}, the result has shape {tuple(shape)}")
        if not output.flags.writeable:
            raise ValueError(f"{function}: the output array is read-only")
        _check_output_dtype(function, output.dtype, complex_input)
        return output
    try:
        dtype = np.dtype(output)
    except TypeError:
        raise TypeError(f"{function}: output must be None, an array or a dtype, got {output!r}") from None
    if complex_input and dtype.kind != "c":
        warnings.warn("promoting specified output dtype to complex")
        dtype = np.promote_types(dtype, np.complex64)
    _check_output_dtype(function, dtype, complex_input)
    return np.empty(shape, dtype)


def _check_output_dtype(function: str, dtype: np.dtype, complex_input: bool) -> None:
    kinds = "c" if complex_input else "biuf"
    if dtype.kind not in kinds or dtype in (np.float16, np.longdouble, np.clongdouble):
        wanted = "complex64 or complex128" if complex_input else "bool, integers, float32 or float64"
        raise TypeError(f"{function}: the output dtype must be {wanted}, got {dtype}")


# --- running the warp kernels ---------------------------------------------------------------


def _store_rounded(values: np.ndarray, out: np.ndarray) -> None:
    """Doubles into an integer or bool array as scipy.ndimage stores them (integers: halves away from 0, clipped)."""
    if out.dtype == np.bool_:
        # scipy stores the value truncated to a byte: true from 1 on (NaN false).
        out[...] = (values >= 1) | (values <= -1)
        return
    info = np.iinfo(out.dtype)
    with np.errstate(invalid="ignore"):
        if info.min == 0:
            rounded = np.where(values > 0, values + 0.5, 0.0)
        else:
            rounded = np.where(values > 0, values + 0.5, values - 0.5)
        np.clip(rounded, info.min, info.max, out=rounded)
        out[...] = rounded.astype(out.dtype)


def _run_real(input: np.ndarray, output: np.ndarray, call, cval: float) -> None:
    """Runs `call(source, destination, cval)` on float32/float64 arrays, converting around it."""
    source = input if input.dtype in _KERNEL_DTYPES else input.astype(np.float64)
    if output.dtype in _KERNEL_DTYPES:
        call(source, output, cval)
    else:
        values = np.empty(output.shape, np.float64)
        call(source, values, cval)
        _store_rounded(values, output)


def _run(input: np.ndarray, output: np.ndarray, call, cval: complex) -> np.ndarray:
    """Runs a warp on real input, or on the real and imaginary parts of complex input."""
    if input.dtype.kind == "c":
        _run_real(input.real, output.real, call, cval.real)
        _run_real(input.imag, output.imag, call, cval.imag)
    else:
        _run_real(input, output, call, cval.real)
    return output


def _axes_call(maps, order: int, mode: str):
    """The separable warp: maps are (shift, scale, offset, grid) per axis."""
    return lambda source, destination, cval: _arrays._resample_axes(
        source, destination, len(maps), list(maps), order, mode, cval
    )


def _affine_call(matrix: np.ndarray, offset: Sequence[float], order: int, mode: str):
    """The affine warp of the last len(offset) axes; a diagonal matrix takes the separable warp."""
    off_diagonal = matrix.copy()
    np.fill_diagonal(off_diagonal, 0.0)
    if not np.any(off_diagonal != 0):
        # d * m + offset, as the general sum gives with its zero terms.
        return _axes_call([(0.0, float(m), float(t), False) for m, t in zip(np.diagonal(matrix), offset)], order, mode)
    rows = [[float(v) for v in row] for row in matrix]
    return lambda source, destination, cval: _arrays._resample_affine(
        source, destination, len(rows), rows, [float(t) for t in offset], order, mode, cval
    )


# --- the warps ------------------------------------------------------------------------------------


# The parameter texts the warps share, put in their docstrings where {order_mode} and
# {cval_prefilter} stand.
_WARP_PARAMETERS = {
    "    {order_mode}\n": (
        "    order : int, optional\n        Spline order, 0 or 1 (the default).\n"
        "    mode : str, optional\n        Edge mode, as for `shift` (default 'constant').\n"),
    "    {cval_prefilter}\n": (
        "    cval : float, optional\n        The value outside the input in the constant modes (default 0).\n"
        "    prefilter : bool, optional\n        Accepted for scipy's signature; no effect at orders 0 and 1.\n"),
}


def _warp_documented(function: Callable) -> Callable:
    for placeholder, text in _WARP_PARAMETERS.items():
        function.__doc__ = function.__doc__.replace(placeholder, text)
    return function


def shift(
    input: ArrayLike,
    shift: Union[float, Sequence[float]],
    output: Output = None,
    order: int = 1,
    mode: str = "constant",
    cval: float = 0.0,
    prefilter: bool = True,
) -> np.ndarray:
    """Shift an array, as ``scipy.ndimage.shift``.

    Output pixel ``o`` takes the input's value at ``o - shift`` (per axis),
    interpolated at the given order; positions outside the input are
    treated by `mode`.

    Parameters
    ----------
    input : array_like
        The input array, 1 to 3 dimensions; bool, integers, float32,
        float64, complex64 or complex128 (real and imaginary parts are
        shifted independently).
    shift : float or sequence of float
        The shift along each axis in pixels (numpy axis order); a number
        shifts every axis by it. Positive values move the content towards
        higher indices.
    output : ndarray or dtype, optional
        The array to write into (the result's shape) or the dtype of a new
        one; by default the input's dtype.
    order : int, optional
        Spline order: 0 takes the nearest pixel (halves round up), 1
        interpolates linearly (the default). Other orders raise
        NotImplementedError.
    mode : str, optional
        How positions outside the input are treated, as in scipy.ndimage:
        'constant' (cval beyond the outermost pixel centres, no
        interpolation towards it; the default), 'grid-constant' (the input
        padded with cval, interpolated towards it), 'nearest', 'reflect'
        (= 'grid-mirror'), 'mirror', 'wrap' (period n - 1, scipy's) or
        'grid-wrap' (period n).
    cval : float, optional
        The value outside the input in the constant modes (default 0).
    prefilter : bool, optional
        Accepted for scipy's signature; no prefilter applies at orders 0 and 1.

    Returns
    -------
    ndarray
        The shifted array (`output` when an array was given).
    """
    function = "shift"
    input, order, mode = _warp_arguments(function, input, order, mode)
    shifts = _floats(function, "shift", shift, input.ndim)
    cval = _real_cval(function, cval, input.dtype.kind == "c")
    output = _output_array(function, output, input, input.shape)
    # scipy's position: o + (-shift), times 1.
    return _run(input, output, _axes_call([(-s, 1.0, 0.0, False) for s in shifts], order, mode), cval)


@_warp_documented
def zoom(
    input: ArrayLike,
    zoom: Union[float, Sequence[float]],
    output: Output = None,
    order: int = 1,
    mode: str = "constant",
    cval: float = 0.0,
    prefilter: bool = True,
    *,
    grid_mode: bool = False,
) -> np.ndarray:
    """Zoom an array, as ``scipy.ndimage.zoom``.

    The output has ``round(n * zoom)`` pixels along an axis of ``n``
    (Python's round, halves to even). With ``grid_mode=False`` the centres
    of the first and last pixels stay in place: output index ``o`` samples
    ``o * (n - 1) / (m - 1)``. With ``grid_mode=True`` the pixels' outer
    edges stay in place: ``o`` samples ``(o + 0.5) * n / m - 0.5``.

    Parameters
    ----------
    input : array_like
        The input array, 1 to 3 dimensions; dtypes as for `shift`.
    zoom : float or sequence of float
        The zoom factor along each axis (numpy order), or one for all.
    output : ndarray or dtype, optional
        The array to write into (of the zoomed shape) or the dtype of a new
        one; by default the input's dtype.
    order : int, optional
        Spline order, 0 or 1 (the default).
    mode : str, optional
        Edge mode, as for `shift` (default 'constant'; with grid_mode,
        'grid-constant' is what scipy suggests and a warning says so).
    {cval_prefilter}
    grid_mode : bool, optional
        Scale the pixels' full extent instead of the distance between the
        outer pixel centres (default False).

    Returns
    -------
    ndarray
        The zoomed array.
    """
    function = "zoom"
    input, order, mode = _warp_arguments(function, input, order, mode)
    factors = _floats(function, "zoom", zoom, input.ndim)
    cval = _real_cval(function, cval, input.dtype.kind == "c")
    try:
        output_shape = tuple(int(round(n * z)) for n, z in zip(input.shape, factors))
    except (OverflowError, ValueError):
        raise ValueError(f"zoom: zoom must be finite, got {zoom!r}") from None
    if min(output_shape) < 0:
        raise ValueError(f"zoom: zoom {factors} gives the output shape {output_shape}, with negative sizes")
    output = _output_array(function, output, input, output_shape)
    if grid_mode:
        suggestion = {"constant": "grid-constant", "wrap": "grid-wrap"}.get(mode)
        if suggestion is not None:
            warnings.warn(f"It is recommended to use mode = {suggestion} instead of {mode} when grid_mode is True.")
    divisor = np.array(output_shape)
    numerator = np.array(input.shape)
    if not grid_mode:
        divisor -= 1
        numerator -= 1
    # An axis of one output pixel keeps the factor 1 (scipy's choice).
    scales = np.divide(numerator, divisor, out=np.ones(input.ndim, dtype=np.float64), where=divisor != 0)
    maps = [(0.0, float(s), 0.0, bool(grid_mode)) for s in scales]
    return _run(input, output, _axes_call(maps, order, mode), cval)


@_warp_documented
def affine_transform(
    input: ArrayLike,
    matrix: ArrayLike,
    offset: Union[float, Sequence[float]] = 0.0,
    output_shape: Optional[Sequence[int]] = None,
    output: Output = None,
    order: int = 1,
    mode: str = "constant",
    cval: float = 0.0,
    prefilter: bool = True,
) -> np.ndarray:
    """Apply an affine transformation, as ``scipy.ndimage.affine_transform``.

    Output pixel with index vector ``o`` takes the input's value at
    ``matrix @ o + offset`` (pull resampling: the matrix maps output
    coordinates to input coordinates; invert a push transform first).

    Parameters
    ----------
    input : array_like
        The input array, 1 to 3 dimensions; dtypes as for `shift`.
    matrix : array_like
        The inverse coordinate map, of one of the shapes scipy takes
        (``ndim`` being the input's number of dimensions):
        ``(ndim, ndim)``, a linear map; ``(ndim,)``, a diagonal one (then
        positions are ``(o + offset / matrix) * matrix``, as scipy computes
        them); ``(ndim + 1, ndim + 1)``, homogeneous coordinates whose last
        column is the offset (`offset` is then ignored; the bottom row must
        be ``[0, ..., 0, 1]``); or ``(ndim, ndim + 1)``, the same without the
        bottom row.
    offset : float or sequence of float, optional
        The input position of output index 0, per axis, or one for all.
    output_shape : sequence of int, optional
        The output's shape: by default `output`'s when it is an array, else
        the input's. It must have the input's number of dimensions.
    output : ndarray or dtype, optional
        The array to write into or the dtype of a new one.
    {order_mode}
    {cval_prefilter}

    Returns
    -------
    ndarray
        The transformed array.
    """
    function = "affine_transform"
    input, order, mode = _warp_arguments(function, input, order, mode)
    cval = _real_cval(function, cval, input.dtype.kind == "c")
    ndim = input.ndim
    if output_shape is None:
        output_shape = output.shape if isinstance(output, np.ndarray) else input.shape
    try:
        output_shape = tuple(int(n) for n in output_shape)
    except (TypeError, ValueError):
        raise TypeError(f"{function}: output_shape must be a sequence of integers, got {output_shape!r}") from None
    if len(output_shape) != ndim or min(output_shape) < 0:
        raise ValueError(
            f"{function}: output_shape must have the input's {ndim} dimensions and no negative size, "
            f"got {output_shape}"
        )
    try:
        matrix = np.asarray(matrix, dtype=np.float64)
    except (TypeError, ValueError):
        raise TypeError(f"{function}: matrix must be an array of real numbers, got {matrix!r}") from None
    if matrix.ndim == 2 and matrix.shape[1] == ndim + 1 and matrix.shape[0] in (ndim, ndim + 1):
        if matrix.shape[0] == ndim + 1 and not np.all(matrix[ndim] == [0] * ndim + [1]):
            raise ValueError(
                f"{function}: a homogeneous matrix of shape {matrix.shape} must have the bottom row "
                f"{[0] * ndim + [1]}, got {matrix[ndim].tolist()}"
            )
        offset = matrix[:ndim, ndim]
        matrix = matrix[:ndim, :ndim]
    if matrix.shape not in ((ndim,), (ndim, ndim)):
        raise ValueError(
            f"{function}: matrix must have shape ({ndim},), ({ndim}, {ndim}), ({ndim}, {ndim + 1}) or "
            f"({ndim + 1}, {ndim + 1}) for an input of shape {input.shape}, got {matrix.shape}"
        )
    offsets = _floats(function, "offset", offset, ndim)
    output = _output_array(function, output, input, output_shape)
    if matrix.ndim == 1:
        # scipy's diagonal form: (o + offset / matrix) * matrix.
        with np.errstate(divide="ignore", invalid="ignore"):
            shifts = np.asarray(offsets) / matrix
        call = _axes_call([(float(s), float(m), 0.0, False) for s, m in zip(shifts, matrix)], order, mode)
    else:
        call = _affine_call(matrix, offsets, order, mode)
    return _run(input, output, call, cval)


def _sin_cos_degrees(angle: float) -> Tuple[float, float]:
    """sin and cos of an angle in degrees, exact at multiples of 90 degrees (as scipy.special's sindg, cosdg)."""
    reduced = math.fmod(angle, 360.0)
    quarters = reduced / 90.0
    if quarters == math.floor(quarters):
        return ((0.0, 1.0), (1.0, 0.0), (0.0, -1.0), (-1.0, 0.0))[int(quarters) % 4]
    radians = math.radians(reduced)
    return math.sin(radians), math.cos(radians)


@_warp_documented
def rotate(
    input: ArrayLike,
    angle: float,
    axes: Tuple[int, int] = (1, 0),
    reshape: bool = True,
    output: Output = None,
    order: int = 1,
    mode: str = "constant",
    cval: float = 0.0,
    prefilter: bool = True,
) -> np.ndarray:
    """Rotate an array, as ``scipy.ndimage.rotate``.

    The planes spanned by `axes` are rotated about their centres by `angle`
    degrees, each plane as ``affine_transform`` with the matrix
    ``[[cos, sin], [-sin, cos]]`` (rows and columns in the order of the
    sorted axes) and the offset that maps the output plane's centre onto
    the input plane's centre.

    Parameters
    ----------
    input : array_like
        The input array, at least 2 dimensions; dtypes as for `shift`.
    angle : float
        The rotation angle in degrees.
    axes : tuple of 2 ints, optional
        The two axes of the rotation plane (default (1, 0): the first two).
    reshape : bool, optional
        If true (the default), the output plane is made large enough to
        hold the whole rotated input plane; otherwise it keeps its shape.
    output : ndarray or dtype, optional
        The array to write into or the dtype of a new one.
    {order_mode}
    {cval_prefilter}

    Returns
    -------
    ndarray
        The rotated array.
    """
    function = "rotate"
    input, order, mode = _warp_arguments(function, input, order, mode, 2, None)
    cval = _real_cval(function, cval, input.dtype.kind == "c")
    try:
        angle = float(angle)
    except (TypeError, ValueError):
        raise TypeError(f"{function}: angle must be a real number of degrees, got {angle!r}") from None
    ndim = input.ndim
    axes = list(axes) if np.iterable(axes) else [axes]
    if len(axes) != 2 or not all(float(a).is_integer() for a in axes):
        raise ValueError(f"{function}: axes must be two integers, got {axes!r}")
    axes = [int(a) + ndim if int(a) < 0 else int(a) for a in axes]
    if not all(0 <= a < ndim for a in axes) or axes[0] == axes[1]:
        raise ValueError(f"{function}: axes must be two different axes of an array of shape {input.shape}, got {axes}")
    axes.sort()

    s, c = _sin_cos_degrees(angle)
    rotation = np.array([[c, s], [-s, c]])
    shape = np.asarray(input.shape)
    in_plane = shape[axes]
    if reshape:
        iy, ix = in_plane
        bounds = rotation @ [[0, 0, iy, iy], [0, ix, 0, ix]]
        out_plane = (np.ptp(bounds, axis=1) + 0.5).astype(int)
    else:
        out_plane = in_plane
    offset = (in_plane - 1) / 2 - rotation @ ((out_plane - 1) / 2)
    output_shape = shape.copy()
    output_shape[axes] = out_plane
    output = _output_array(function, output, input, tuple(int(n) for n in output_shape))

    # The rotation plane as the last two axes; the others are planes for the kernel.
    source = np.moveaxis(input, axes, (-2, -1))
    target = np.moveaxis(output, axes, (-2, -1))
    call = _affine_call(rotation, [float(t) for t in offset], order, mode)
    for index in np.ndindex(*source.shape[:-4]):
        _run(source[index], target[index], call, cval)
    return output


# --- Fourier-space shift ----------------------------------------------------------------------------


def _fourier_output(output: Output, input: np.ndarray) -> np.ndarray:
    """scipy's output rule for fourier_shift: complex64 stays, everything else gives complex128."""
    if output is None:
        dtype = input.dtype if input.dtype in (np.complex64, np.complex128) else np.dtype(np.complex128)
        # In the input's memory order (numpy's FFTs return Fortran-ordered spectra).
        return np.empty_like(input, dtype=dtype)
    if isinstance(output, np.ndarray):
        if output.shape != input.shape:
            raise ValueError(f"fourier_shift: output has shape {output.shape}, the input has {input.shape}")
        if output.dtype not in (np.complex64, np.complex128):
            raise TypeError(f"fourier_shift: the output array must be complex64 or complex128, got {output.dtype}")
        if not output.flags.writeable:
            raise ValueError("fourier_shift: the output array is read-only")
        return output
    try:
        dtype = np.dtype(output)
    except TypeError:
        raise TypeError(f"fourier_shift: output must be None, an array or a dtype, got {output!r}") from None
    if dtype not in (np.complex64, np.complex128):
        raise TypeError(f"fourier_shift: the output dtype must be complex64 or complex128, got {dtype}")
    return np.empty_like(input, dtype=dtype)


def _shared_contiguous_axis(*arrays: np.ndarray) -> Optional[int]:
    """An axis along which every array steps by one element (the last such, longer ones first), or None."""
    steps = [k for k in range(arrays[0].ndim) if all(a.strides[k] == a.itemsize for a in arrays)]
    longer = [k for k in steps if arrays[0].shape[k] > 1]
    if longer:
        return longer[-1]
    if all(n == 1 for n in arrays[0].shape[:-1]) or arrays[0].shape[-1] <= 1:
        return arrays[0].ndim - 1  # one element per row: any stride will do
    return None


def _same_memory(a: np.ndarray, b: np.ndarray) -> bool:
    return (
        a.__array_interface__["data"][0] == b.__array_interface__["data"][0]
        and a.strides == b.strides
        and a.dtype == b.dtype
    )


def _frequencies(size: int, n: int, real_axis: bool) -> np.ndarray:
    """Frequencies in cycles per period along one axis of a spectrum."""
    if real_axis:
        return np.arange(size) / n
    return np.fft.fftfreq(size)


def _shift_spectrum(source: np.ndarray, target: np.ndarray, shifts, n: int, axis: int) -> None:
    """The kernel over arrays whose last axis steps by one element: up to three axes at once, the
    leading axes of longer arrays by index, their phases multiplied in afterwards."""
    ndim = source.ndim
    lead = max(0, ndim - 3)
    real_axis = n > 0
    kernel_axis = axis - lead if axis >= lead else 0
    kernel_n = n if axis >= lead else -1
    for index in np.ndindex(*source.shape[:lead]):
        _arrays._fourier_shift(source[index], target[index], list(shifts[lead:]), kernel_n, kernel_axis)
    if lead:
        turns = np.zeros(source.shape[:lead])
        for k in range(lead):
            if shifts[k] != 0 and source.shape[k] > 1:
                f = _frequencies(source.shape[k], n, real_axis and k == axis) * shifts[k]
                turns = turns + f.reshape([-1 if j == k else 1 for j in range(lead)])
        if np.any(turns != 0):
            target *= np.exp(-2j * np.pi * turns).reshape(source.shape[:lead] + (1, 1, 1)).astype(target.dtype)


def fourier_shift(
    input: ArrayLike,
    shift: Union[float, Sequence[float]],
    n: int = -1,
    axis: int = -1,
    output: Optional[Union[np.ndarray, DTypeLike]] = None,
) -> np.ndarray:
    """Multidimensional Fourier shift filter, as ``scipy.ndimage.fourier_shift``.

    The input is a spectrum (the FFT of an image); the result is the
    spectrum of the image shifted by `shift` pixels: each element of
    frequency index ``k`` along an axis of ``N`` is multiplied by
    ``exp(-2j * pi * shift * k / N)``, ``k`` running 0, 1, ... then the
    negative frequencies as numpy's fftfreq orders them. With ``n >= 1``
    the axis `axis` is the half axis of a real transform of length `n`:
    ``k`` runs 0 .. size - 1 and ``N`` is `n`.

    Parameters
    ----------
    input : array_like
        The spectrum, any number of dimensions; complex64, complex128, or a
        real or integer array (read as complex128).
    shift : float or sequence of float
        The shift in pixels along each axis (numpy order), or one for all.
    n : int, optional
        -1 (the default) for a complex spectrum; the length of the real
        image along `axis` when `input` came from a real transform (rfft).
        0 is refused (scipy returns NaN).
    axis : int, optional
        The axis of the real transform (default -1, the last).
    output : ndarray or dtype, optional
        The complex64 or complex128 array to write into (of the input's
        shape; it may be `input` itself) or the dtype of a new one. By
        default complex64 input gives complex64, everything else complex128.

    Returns
    -------
    ndarray
        The shifted spectrum.
    """
    function = "fourier_shift"
    input = np.asarray(input)
    if input.dtype.kind not in _READ_KINDS or input.dtype in (np.float16, np.longdouble, np.clongdouble):
        raise TypeError(
            f"{function}: input must be a complex64, complex128, real or integer array, got dtype {input.dtype}"
        )
    if input.ndim < 1:
        raise ValueError(f"{function}: input must have at least one dimension, got shape {input.shape}")
    if isinstance(n, bool) or not isinstance(n, numbers.Integral):
        raise TypeError(f"{function}: n must be an integer, got {n!r}")
    if isinstance(axis, bool) or not isinstance(axis, numbers.Integral):
        raise TypeError(f"{function}: axis must be an integer, got {axis!r}")
    n, axis = int(n), int(axis)
    if not -input.ndim <= axis < input.ndim:
        raise ValueError(f"{function}: axis {axis} is out of range for an input of shape {input.shape}")
    axis %= input.ndim
    if n == 0:
        raise ValueError(f"{function}: n must be -1 (a complex spectrum) or the real transform's length, got 0")
    real_axis = n > 0
    if real_axis and n >= 2**31:
        raise ValueError(f"{function}: n must be below 2**31, got {n}")
    shifts = _floats(function, "shift", shift, input.ndim)
    output = _fourier_output(output, input)
    if input.size == 0:
        return output

    # The kernel works in the output's precision, along an axis that steps
    # by one element in source and destination: the arrays are viewed with
    # that axis last (the shifts permuted with them). A source of another
    # dtype is converted into the output, which is then shifted in place.
    if input.dtype != output.dtype:
        output[...] = input
        source = output
    elif _same_memory(input, output):
        source = output
    elif np.may_share_memory(input, output):
        source = input.copy(order="K")
    else:
        source = input
    target = output
    inner = _shared_contiguous_axis(source, target)
    if inner is None:
        # No axis steps by one in both: a scratch array in the source's order.
        if _shared_contiguous_axis(source) is None:
            source = np.ascontiguousarray(source)
        target = source if source is output else np.empty_like(source)
        inner = _shared_contiguous_axis(source, target)
    order = [k for k in range(input.ndim) if k != inner] + [inner]
    _shift_spectrum(source.transpose(order), target.transpose(order), [shifts[k] for k in order], n,
                    order.index(axis))
    if target is not output:
        output[...] = target
    return output
