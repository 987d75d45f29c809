"""lumadex.ndimage against scipy.ndimage: the same parameters give the same values, edges included.

The warps compute scipy's sums in scipy's order, so float results are
compared for equality; rotations by angles that are not multiples of 90
degrees differ only by scipy's own sine and cosine, and are compared to a
tolerance.
"""

import warnings

import numpy as np
import pytest
import scipy.ndimage as ndi

import lumadex
from lumadex import ndimage as lnd

MODES = ["constant", "grid-constant", "nearest", "reflect", "grid-mirror", "mirror", "wrap", "grid-wrap"]
SHAPES = [(7,), (6, 9), (5, 4, 7)]


def sample(rng, shape, dtype):
    if np.dtype(dtype).kind in "iu":
        info = np.iinfo(dtype)
        return rng.integers(max(info.min, -1000), min(info.max, 1000), size=shape).astype(dtype)
    values = rng.normal(size=shape) * 10
    if np.dtype(dtype).kind == "c":
        values = values + 1j * rng.normal(size=shape)
    return values.astype(dtype)


@pytest.fixture(params=["native", "avx2", "base"])
def isa(request):
    """The kernels' instruction-set variants, which must give the same bits."""
    lumadex._arrays._select_isa(request.param)
    yield request.param
    lumadex._arrays._select_isa("native")


def assert_same(result, expected):
    assert result.dtype == expected.dtype and result.shape == expected.shape
    np.testing.assert_array_equal(result, expected)


# --- warps against scipy ----------------------------------------------------------------


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("order", [0, 1])
@pytest.mark.parametrize("shape", SHAPES)
def test_shift_matches_scipy(rng, isa, shape, order, mode):
    image = sample(rng, shape, np.float64)
    for amount in ([1.5] * len(shape), list(rng.uniform(-6, 6, len(shape))), [0.0] * len(shape), 2.0, -7.25):
        expected = ndi.shift(image, amount, order=order, mode=mode, cval=-3.5)
        assert_same(lnd.shift(image, amount, order=order, mode=mode, cval=-3.5), expected)


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("order", [0, 1])
@pytest.mark.parametrize("grid_mode", [False, True])
@pytest.mark.parametrize("shape", SHAPES)
def test_zoom_matches_scipy(rng, isa, shape, order, mode, grid_mode):
    image = sample(rng, shape, np.float32)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)  # scipy's advice about grid modes, given by both
        for factor in (1.7, 0.45, [2.0, 0.5, 1.3][: len(shape)], 1 / 3):
            expected = ndi.zoom(image, factor, order=order, mode=mode, cval=2.0, grid_mode=grid_mode)
            result = lnd.zoom(image, factor, order=order, mode=mode, cval=2.0, grid_mode=grid_mode)
            assert_same(result, expected)


def test_zoom_warns_as_scipy_in_grid_mode(rng):
    with pytest.warns(UserWarning, match="grid-constant"):
        lnd.zoom(np.ones((4, 4)), 2, mode="constant", grid_mode=True)


def random_matrix(rng, ndim):
    return np.eye(ndim) * rng.uniform(0.6, 1.4, ndim) + rng.normal(scale=0.3, size=(ndim, ndim))


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("order", [0, 1])
@pytest.mark.parametrize("shape", [(6, 9), (5, 4, 7)])
def test_affine_transform_matches_scipy(rng, isa, shape, order, mode):
    image = sample(rng, shape, np.float64)
    ndim = len(shape)
    matrix = random_matrix(rng, ndim)
    # Wider outputs, so that the eight-pixel rows run as well as their tails.
    offset = rng.uniform(-3, 3, ndim)
    out_shape = tuple(n + 2 for n in shape[:-1]) + (3 * shape[-1],)
    expected = ndi.affine_transform(image, matrix, offset, out_shape, order=order, mode=mode, cval=1.25)
    assert_same(lnd.affine_transform(image, matrix, offset, out_shape, order=order, mode=mode, cval=1.25), expected)


@pytest.mark.parametrize(
    "form",
    ["diagonal-1d", "diagonal-2d", "homogeneous", "homogeneous-short", "scalar-offset"],
)
def test_affine_transform_matrix_forms(rng, form):
    image = sample(rng, (8, 11), np.float64)
    linear = random_matrix(rng, 2)
    offset = np.array([1.5, -2.25])
    if form == "diagonal-1d":
        args = (np.array([0.8, 1.7]), offset)
    elif form == "diagonal-2d":
        args = (np.diag([0.8, -1.7]), offset)
    elif form == "homogeneous":
        args = (np.block([[linear, offset[:, None]], [np.zeros((1, 2)), np.ones((1, 1))]]), 0.0)
    elif form == "homogeneous-short":
        args = (np.hstack([linear, offset[:, None]]), 0.0)
    else:
        args = (linear, 0.75)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)  # scipy's note on the 1-D form
        expected = ndi.affine_transform(image, *args, order=1, mode="grid-constant", cval=9.0)
    assert_same(lnd.affine_transform(image, *args, order=1, mode="grid-constant", cval=9.0), expected)


@pytest.mark.parametrize("mode", ["constant", "grid-constant", "nearest", "reflect", "wrap"])
@pytest.mark.parametrize("order", [0, 1])
@pytest.mark.parametrize("reshape", [True, False])
@pytest.mark.parametrize("angle", [90, -180, 270, 450, 0])
def test_rotate_by_quarter_turns_matches_scipy_exactly(rng, angle, reshape, order, mode):
    image = sample(rng, (7, 10), np.float64)
    expected = ndi.rotate(image, angle, reshape=reshape, order=order, mode=mode, cval=-1.0)
    assert_same(lnd.rotate(image, angle, reshape=reshape, order=order, mode=mode, cval=-1.0), expected)


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("reshape", [True, False])
@pytest.mark.parametrize("axes", [(1, 0), (0, 2), (2, 1), (-1, -3)])
@pytest.mark.parametrize("angle", [33.0, -71.5, 200.0])
def test_rotate_matches_scipy(rng, angle, axes, reshape, mode):
    image = sample(rng, (6, 9, 8), np.float32)
    expected = ndi.rotate(image, angle, axes=axes, reshape=reshape, order=1, mode=mode, cval=0.5)
    result = lnd.rotate(image, angle, axes=axes, reshape=reshape, order=1, mode=mode, cval=0.5)
    assert result.shape == expected.shape and result.dtype == expected.dtype
    # scipy's degree sine and cosine may differ from ours in the last place.
    np.testing.assert_allclose(result, expected, rtol=1e-5, atol=1e-4)


def test_rotate_of_four_dimensions_rotates_every_plane(rng):
    image = sample(rng, (3, 5, 6, 4), np.float64)
    expected = ndi.rotate(image, 90, axes=(1, 3), order=1)
    assert_same(lnd.rotate(image, 90, axes=(1, 3), order=1), expected)


# --- dtypes and outputs --------------------------------------------------------------------------


@pytest.mark.parametrize("dtype", [np.uint8, np.int16, np.uint16, np.int32, np.int64, np.float32, np.bool_])
def test_dtypes_round_as_scipy(rng, dtype):
    image = sample(rng, (9, 8), np.float64 if dtype == np.bool_ else dtype)
    image = image > 0 if dtype == np.bool_ else image
    for function, argument in ((ndi.shift, (0.5, -1.5)), (ndi.zoom, 1.5)):
        expected = function(image, argument, order=1, mode="nearest")
        ours = getattr(lnd, function.__name__)(image, argument, order=1, mode="nearest")
        assert_same(ours, expected)


@pytest.mark.parametrize("output", [np.float32, "float64", np.int16, np.uint8])
def test_output_dtype_and_cval_rounding(rng, output):
    image = sample(rng, (6, 7), np.float64)
    expected = ndi.shift(image, (0.3, 2.6), output=output, order=1, cval=-2.5)
    assert_same(lnd.shift(image, (0.3, 2.6), output=output, order=1, cval=-2.5), expected)


def test_output_array_is_written_and_returned(rng):
    image = sample(rng, (6, 7), np.float64)
    target = np.full((12, 14), np.nan, np.float32)[::2, ::2]  # a strided output
    result = lnd.zoom(image, 1.0, output=target, mode="mirror")
    assert result is target
    assert_same(target, ndi.zoom(image, 1.0, output=np.float32, mode="mirror"))


def test_output_may_be_the_input(rng):
    image = sample(rng, (8, 9), np.float64)
    expected = ndi.shift(image, (1.25, -0.5), order=1, mode="reflect")
    lnd.shift(image, (1.25, -0.5), output=image, order=1, mode="reflect")
    assert_same(image, expected)


@pytest.mark.parametrize("dtype", [np.complex64, np.complex128])
def test_complex_parts_are_warped_independently(rng, dtype):
    image = sample(rng, (7, 6), dtype)
    expected = ndi.affine_transform(image, random_matrix(np.random.default_rng(1), 2), 0.5, order=1, cval=1 + 2j)
    result = lnd.affine_transform(image, random_matrix(np.random.default_rng(1), 2), 0.5, order=1, cval=1 + 2j)
    assert_same(result, expected)


def test_strided_and_reversed_inputs(rng):
    image = sample(rng, (12, 20), np.float64)[::-2, 1::3]
    expected = ndi.zoom(image, (1.4, 2.2), order=1, mode="grid-wrap")
    assert_same(lnd.zoom(image, (1.4, 2.2), order=1, mode="grid-wrap"), expected)


def test_non_finite_values_spread_as_in_scipy():
    image = np.array([0.0, np.nan, 0.0, 0.0, np.inf, 1.0])
    for amount in (1.0, 0.5, -1.0):
        assert_same(lnd.shift(image, amount, order=1), ndi.shift(image, amount, order=1))


def test_result_does_not_depend_on_thread_count(rng):
    image = sample(rng, (300, 257), np.float32)
    matrix = random_matrix(rng, 2)
    before = lumadex.get_num_threads()
    try:
        lumadex.set_num_threads(1)
        one = lnd.affine_transform(image, matrix, order=1, mode="grid-constant")
        lumadex.set_num_threads(2)
        two = lnd.affine_transform(image, matrix, order=1, mode="grid-constant")
    finally:
        lumadex.set_num_threads(before)
    assert_same(one, two)
    assert_same(two, ndi.affine_transform(image, matrix, order=1, mode="grid-constant"))


# --- fourier_shift ---------------------------------------------------------------------------------


@pytest.mark.parametrize("shape", [(16,), (9, 12), (8, 7), (4, 5, 6), (3, 2, 5, 4)])
@pytest.mark.parametrize("dtype", [np.complex64, np.complex128, np.float64, np.int32])
def test_fourier_shift_matches_scipy(rng, shape, dtype):
    spectrum = sample(rng, shape, dtype)
    shifts = rng.uniform(-5, 5, len(shape))
    expected = ndi.fourier_shift(spectrum, shifts)
    result = lnd.fourier_shift(spectrum, shifts)
    assert result.dtype == expected.dtype
    tolerance = 2e-6 if result.dtype == np.complex64 else 1e-12
    np.testing.assert_allclose(result, expected, rtol=tolerance, atol=tolerance * np.abs(expected).max())


@pytest.mark.parametrize("axis", [0, 1, -1])
@pytest.mark.parametrize("n", [10, 11])
def test_fourier_shift_of_a_real_transform(rng, n, axis):
    image = rng.normal(size=(n, n + 1, n))
    spectrum = np.fft.rfft(image, axis=axis)
    expected = ndi.fourier_shift(spectrum, (1.5, -2.25, 0.75), n=n, axis=axis)
    result = lnd.fourier_shift(spectrum, (1.5, -2.25, 0.75), n=n, axis=axis)
    np.testing.assert_allclose(result, expected, rtol=1e-12, atol=1e-12 * np.abs(expected).max())


def test_fourier_shift_by_whole_pixels_rolls_the_image(rng):
    image = rng.normal(size=(10, 12)).astype(np.float32)
    shifted = np.fft.ifft2(lnd.fourier_shift(np.fft.fft2(image).astype(np.complex64), (3, -5))).real
    np.testing.assert_allclose(shifted, np.roll(image, (3, -5), axis=(0, 1)), atol=1e-5)


@pytest.mark.parametrize("target", ["same", "strided", "complex64-of-complex128", "dtype", "overlap"])
def test_fourier_shift_outputs(rng, target):
    spectrum = sample(rng, (6, 8), np.complex128)
    expected = ndi.fourier_shift(spectrum, (0.5, 1.75))
    if target == "same":
        result = lnd.fourier_shift(spectrum, (0.5, 1.75), output=spectrum)
        assert result is spectrum
    elif target == "strided":
        out = np.zeros((6, 16), np.complex128)[:, ::2]
        assert lnd.fourier_shift(spectrum, (0.5, 1.75), output=out) is out
        result = out
    elif target == "complex64-of-complex128":
        result = lnd.fourier_shift(spectrum, (0.5, 1.75), output=np.zeros((6, 8), np.complex64))
    elif target == "dtype":
        result = lnd.fourier_shift(spectrum, (0.5, 1.75), output=np.complex64)
        assert result.dtype == np.complex64
    else:
        # The output overlaps the input, one column along.
        memory = np.zeros((6, 9), np.complex128)
        memory[:, :8] = spectrum
        result = lnd.fourier_shift(memory[:, :8], (0.5, 1.75), output=memory[:, 1:])
    np.testing.assert_allclose(result, expected, rtol=1e-6, atol=1e-6)


# --- bad input ---------------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "call, error, words",
    [
        (lambda a: lnd.shift(a, 1.0, order=3), NotImplementedError, ["order=3", "0", "1"]),
        (lambda a: lnd.zoom(a, 2.0, order=1.5), TypeError, ["order"]),
        (lambda a: lnd.shift(a, 1.0, mode="edge"), ValueError, ["mode", "'edge'"]),
        (lambda a: lnd.shift(a, (1.0, 2.0, 3.0)), ValueError, ["shift", "2 numbers"]),
        (lambda a: lnd.shift(a, "x"), TypeError, ["shift"]),
        (lambda a: lnd.shift(a, 1.0, output=np.zeros((3, 3))), ValueError, ["output", "(3, 3)", "(5, 6)"]),
        (lambda a: lnd.shift(a, 1.0, output=np.float16), TypeError, ["output dtype", "float16"]),
        (lambda a: lnd.shift(a.astype(np.float16), 1.0), TypeError, ["input", "float16"]),
        (lambda a: lnd.shift(a[None, None], 1.0), ValueError, ["1 to 3 dimensions", "(1, 1, 5, 6)"]),
        (lambda a: lnd.affine_transform(a, np.eye(4)), ValueError, ["matrix", "(4, 4)"]),
        (lambda a: lnd.affine_transform(a, np.ones((3, 3))), ValueError, ["bottom row"]),
        (lambda a: lnd.affine_transform(a, np.eye(2), output_shape=(4,)), ValueError, ["output_shape"]),
        (lambda a: lnd.rotate(a, 30, axes=(0, 0)), ValueError, ["axes"]),
        (lambda a: lnd.rotate(a[0], 30), ValueError, ["at least 2"]),
        (lambda a: lnd.fourier_shift(a, 1.0, n=0), ValueError, ["n", "0"]),
        (lambda a: lnd.fourier_shift(a, 1.0, axis=2), ValueError, ["axis 2"]),
        (lambda a: lnd.fourier_shift(a, 1.0, output=np.float64), TypeError, ["complex64 or complex128"]),
        (lambda a: lnd.zoom(a, -1.0), ValueError, ["negative"]),
    ],
)
def test_bad_input_is_refused_clearly_and_changes_nothing(call, error, words):
    image = np.arange(30.0).reshape(5, 6)
    with pytest.raises(error) as raised:
        call(image)
    message = str(raised.value)
    assert all(word in message for word in words), message
    np.testing.assert_array_equal(image, np.arange(30.0).reshape(5, 6))


def test_read_only_output_is_refused():
    target = np.zeros((5, 6))
    target.flags.writeable = False
    with pytest.raises(ValueError, match="read-only"):
        lnd.shift(np.ones((5, 6)), 1.0, output=target)


# --- small, far and degenerate geometries ---------------------------------------------------------


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("order", [0, 1])
@pytest.mark.parametrize("shape", [(1,), (2,), (1, 5), (3, 1), (2, 1, 2)])
def test_tiny_axes_match_scipy(rng, isa, shape, order, mode):
    image = sample(rng, shape, np.float64)
    for amount in (0.0, 0.5, -1.25, 7.5):
        expected = ndi.shift(image, amount, order=order, mode=mode, cval=4.0)
        assert_same(lnd.shift(image, amount, order=order, mode=mode, cval=4.0), expected)
    expected = ndi.zoom(image, 3.0, order=order, mode=mode, cval=4.0)
    assert_same(lnd.zoom(image, 3.0, order=order, mode=mode, cval=4.0), expected)


@pytest.mark.parametrize("mode", MODES)
def test_positions_far_outside_fold_as_in_scipy(rng, isa, mode):
    # Many periods away from the input, on both sides.
    image = sample(rng, (5, 7), np.float64)
    matrix = np.array([[3.5, 0.25], [-0.5, 4.25]])
    expected = ndi.affine_transform(image, matrix, (-40.0, 13.0), (30, 33), order=1, mode=mode, cval=-2.0)
    assert_same(lnd.affine_transform(image, matrix, (-40.0, 13.0), (30, 33), order=1, mode=mode, cval=-2.0), expected)


@pytest.mark.parametrize("output_shape", [(0, 4), (3, 0)])
def test_empty_outputs(output_shape):
    image = np.ones((4, 5))
    result = lnd.affine_transform(image, np.eye(2), output_shape=output_shape)
    assert result.shape == output_shape
    assert lnd.zoom(np.ones((0, 3)), 2.0).shape == (0, 6)


def test_non_finite_matrix_gives_cval_in_constant_mode():
    image = np.arange(12.0).reshape(3, 4)
    for matrix in ([[np.nan, 0.0], [0.0, 1.0]], [[np.inf, 0.0], [0.0, 1.0]], [0.0, 1.0]):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            expected = ndi.affine_transform(image, np.array(matrix), offset=1.0, order=1, cval=-1.0)
        assert_same(lnd.affine_transform(image, np.array(matrix), offset=1.0, order=1, cval=-1.0), expected)


def test_fortran_ordered_inputs(rng):
    image = np.asfortranarray(sample(rng, (40, 33), np.float32))
    assert_same(lnd.rotate(image, 90, order=1), ndi.rotate(image, 90, order=1))
    spectrum = np.fft.fft2(image)  # numpy gives spectra in Fortran order
    result = lnd.fourier_shift(spectrum, (2.5, -1.0))
    np.testing.assert_allclose(result, ndi.fourier_shift(spectrum, (2.5, -1.0)), rtol=1e-12, atol=1e-9)
    assert result.flags.f_contiguous  # the output follows the input's order


def test_complex_rotation_into_a_given_output(rng):
    image = sample(rng, (9, 12), np.complex64)
    target = np.zeros((9, 12), np.complex128)
    assert lnd.rotate(image, 180, reshape=False, output=target, mode="wrap") is target
    assert_same(target, ndi.rotate(image, 180, reshape=False, output=np.complex128, order=1, mode="wrap"))


def test_fourier_shift_does_not_depend_on_thread_count(rng):
    spectrum = sample(rng, (3, 130, 260), np.complex64)
    before = lumadex.get_num_threads()
    try:
        lumadex.set_num_threads(1)
        one = lnd.fourier_shift(spectrum, (0.5, 1.25, -3.5))
        lumadex.set_num_threads(2)
        two = lnd.fourier_shift(spectrum, (0.5, 1.25, -3.5))
    finally:
        lumadex.set_num_threads(before)
    np.testing.assert_array_equal(one, two)


def test_inputs_are_not_changed(rng):
    image = sample(rng, (20, 21), np.float32)
    spectrum = sample(rng, (20, 21), np.complex64)
    copies = image.copy(), spectrum.copy()
    lnd.shift(image, 1.5), lnd.zoom(image, 0.7), lnd.rotate(image, 12.0), lnd.fourier_shift(spectrum, 3.0)
    lnd.affine_transform(image, np.eye(2) * 1.1, output=np.empty((20, 21), np.int16))
    np.testing.assert_array_equal(image, copies[0])
    np.testing.assert_array_equal(spectrum, copies[1])


@pytest.mark.parametrize(
    "shape, shifts, n, axis",
    [
        ((1,), 0.5, -1, -1),
        ((6,), 2.5, 11, 0),
        ((1, 7), (3.0, 0.5), -1, -1),
        ((5, 1, 4), (0.5, 9.0, -1.5), 8, 0),
        ((2, 3, 2, 3, 4), (0.5, -1.0, 0.25, 2.0, 1.5), -1, -1),
        ((2, 3, 2, 3, 4), (0.5, -1.0, 0.25, 2.0, 1.5), 5, 1),
    ],
)
def test_fourier_shift_shapes(rng, shape, shifts, n, axis):
    spectrum = sample(rng, shape, np.complex128)
    expected = ndi.fourier_shift(spectrum, shifts, n=n, axis=axis)
    result = lnd.fourier_shift(spectrum, shifts, n=n, axis=axis)
    np.testing.assert_allclose(result, expected, rtol=1e-12, atol=1e-12 * np.abs(expected).max())


def test_fourier_shift_of_an_empty_spectrum():
    assert lnd.fourier_shift(np.zeros((0, 4), np.complex64), 1.5).shape == (0, 4)


@pytest.mark.parametrize(
    "input_dtype, output",
    [
        (np.uint8, None),
        (np.int16, "float32"),
        (np.float32, np.float64),
        (np.float64, np.dtype(np.uint16)),
        (np.complex64, None),
        (np.complex64, np.complex128),
        (np.float32, np.int64),
    ],
)
def test_output_dtypes_follow_scipy(rng, input_dtype, output):
    image = sample(rng, (6, 9), input_dtype)
    expected = ndi.zoom(image, 1.5, output=output, order=1, mode="nearest")
    assert_same(lnd.zoom(image, 1.5, output=output, order=1, mode="nearest"), expected)


def test_real_output_dtype_for_complex_input_is_promoted_with_scipy_warning(rng):
    image = sample(rng, (5, 5), np.complex64)
    with pytest.warns(UserWarning, match="promoting specified output dtype to complex"):
        result = lnd.shift(image, 0.5, output=np.float32)
    assert result.dtype == np.complex64
