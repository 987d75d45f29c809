"""lumadex.measure against numpy: extremes with their first positions, one-pass summaries, 2 x 2 binning."""

import numpy as np
import pytest

import lumadex
from lumadex import measure

KERNEL_DTYPES = [np.int8, np.uint8, np.int16, np.uint16, np.int32, np.uint32, np.float32, np.float64]
ALL_DTYPES = KERNEL_DTYPES + [np.int64, np.uint64, np.float16, np.bool_]


def sample(rng, shape, dtype, low=-50, high=50):
    if np.dtype(dtype) == np.bool_:
        return rng.integers(0, 2, size=shape).astype(bool)
    if np.dtype(dtype).kind in "iu":
        info = np.iinfo(dtype)
        return rng.integers(max(info.min, low), min(info.max, high), size=shape, endpoint=True).astype(dtype)
    return (rng.normal(size=shape) * 20).astype(dtype)


@pytest.fixture(params=["native", "avx2", "base"])
def isa(request):
    """The kernels' instruction-set variants, which must agree."""
    lumadex._arrays._select_isa(request.param)
    yield request.param
    lumadex._arrays._select_isa("native")


def layouts(array):
    """The array as numpy holds it in several layouts: C order, Fortran order, strided, reversed."""
    yield array
    yield np.asfortranarray(array)
    padded = np.zeros(array.shape[:-1] + (2 * array.shape[-1],), array.dtype)
    padded[..., ::2] = array
    yield padded[..., ::2]
    yield array[::-1].copy()[::-1]


# --- min_max ----------------------------------------------------------------------------------


@pytest.mark.parametrize("dtype", ALL_DTYPES)
@pytest.mark.parametrize("shape", [(1,), (1000,), (37, 41), (3, 70000), (4, 5, 6), (2, 3, 4, 5), (2, 2, 3, 2, 5)])
def test_min_max_matches_argmin_argmax(rng, isa, shape, dtype):
    # Few distinct values, so that ties test the first occurrence.
    array = sample(rng, shape, dtype, -3, 3)
    for a in layouts(array):
        result = measure.min_max(a)
        assert result.min_index == np.unravel_index(np.argmin(a), a.shape)
        assert result.max_index == np.unravel_index(np.argmax(a), a.shape)
        assert result.min == a.min() and result.max == a.max()
        assert type(result.min) is a.dtype.type


@pytest.mark.parametrize("dtype", KERNEL_DTYPES)
@pytest.mark.parametrize("shape", [(200000,), (64, 1000), (3, 70001)])
def test_min_max_finds_lone_extremes_wherever_they_lie(rng, isa, dtype, shape):
    # One smallest and one largest value, each with later copies, at the first
    # pixel, at the edges of registers and of the searched groups, in a row's
    # scalar tail and at a chunk's edges: each is found where numpy finds it.
    background = rng.integers(5, 9, size=shape).astype(dtype)
    n = background.size
    for place in [p for p in (0, 63, 64, 127, 128, 255, 256, 511, 512, 999, 1000, 32767, 32768, 65535) if p < n - 3] + [n - 3]:
        array = background.copy()
        flat = array.reshape(-1)
        flat[[place, place + 1, n - 1]] = 1
        flat[[n - 2 - place, n - 1 - place, 0 if place else 5]] = 100
        result = measure.min_max(array)
        assert result.min_index == np.unravel_index(np.argmin(array), shape), place
        assert result.max_index == np.unravel_index(np.argmax(array), shape), place
        assert (result.min, result.max) == (1, 100)


@pytest.mark.parametrize("dtype", KERNEL_DTYPES)
@pytest.mark.parametrize("width", [7, 16, 17, 33, 63, 65, 129])
def test_min_max_finds_extremes_in_every_column_of_short_rows(rng, isa, dtype, width):
    # Rows read as a register at the start, a body from a register boundary
    # and a register ending at the end, which overlap; rows starting one
    # element past the array's start shift the boundary.
    whole = rng.integers(5, 9, size=(5, width + 1)).astype(dtype)
    for rows in (whole[:, :width].copy(), whole[:, 1:]):
        saved = rows.copy()
        for column in range(width):
            rows[3, column], rows[2, width - 1 - column] = 1, 100
            result = measure.min_max(rows)
            assert result.min_index == (3, column) and result.max_index == (2, width - 1 - column)
            assert (result.min, result.max) == (1, 100)
            rows[...] = saved


@pytest.mark.parametrize(
    "make",
    [
        lambda a: a.astype(a.dtype.newbyteorder(">")),  # swapped byte order
        lambda a: a.view(np.recarray),  # an ndarray subclass
        lambda a: np.lib.stride_tricks.as_strided(a, writeable=False),  # read-only
        lambda a: a.tolist(),  # not an array at all
    ],
    ids=["big-endian", "subclass", "read-only", "list"],
)
@pytest.mark.parametrize("dtype", [np.uint16, np.int32, np.float32])
def test_min_max_of_swapped_subclassed_read_only_and_listed_arrays(rng, make, dtype):
    array = sample(rng, (40, 33), dtype, -3, 3)
    result = measure.min_max(make(array))
    assert result.min_index == np.unravel_index(np.argmin(array), array.shape)
    assert result.max_index == np.unravel_index(np.argmax(array), array.shape)
    assert (result.min, result.max) == (array.min(), array.max())


def test_min_max_of_a_scalar_array():
    assert measure.min_max(np.float32(2.5)) == (2.5, 2.5, (), ())


@pytest.mark.parametrize("dtype", [np.float16, np.float32, np.float64])
@pytest.mark.parametrize("where", [(0, 0), (17, 3), (49, 69000), None])
def test_min_max_reports_the_first_nan_as_argmin(rng, isa, dtype, where):
    array = rng.normal(size=(50, 70001)).astype(dtype)
    if where is not None:
        array[where] = np.nan
        array[-1, -1] = np.nan
    result = measure.min_max(array)
    assert result.min_index == np.unravel_index(np.argmin(array), array.shape)
    assert result.max_index == np.unravel_index(np.argmax(array), array.shape)
    assert np.isnan(result.min) == (where is not None) and np.isnan(result.max) == (where is not None)


def test_min_max_of_nan_only_and_of_signed_zeros():
    all_nan = measure.min_max(np.full((3, 4), np.nan))
    assert np.isnan(all_nan.min) and np.isnan(all_nan.max) and all_nan.min_index == all_nan.max_index == (0, 0)
    zeros = np.array([0.0, -0.0, 0.0, -0.0])
    result = measure.min_max(zeros)
    assert (result.min_index, result.max_index) == ((int(np.argmin(zeros)),), (int(np.argmax(zeros)),))


def test_min_max_finds_infinities_and_extreme_integers():
    values = np.array([0.0, -np.inf, 3.0, np.inf, -np.inf])
    assert measure.min_max(values) == (-np.inf, np.inf, (1,), (3,))
    extremes = np.array([5, 255, 0, 255, 0], np.uint8)
    assert measure.min_max(extremes) == (0, 255, (2,), (1,))


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
@pytest.mark.parametrize("nan_at", [None, 5, 90000])
def test_min_max_of_long_arrays_whose_values_overflow_a_sum(rng, isa, dtype, nan_at):
    # Infinities of both signs, and finite values whose running sums overflow,
    # in the chunks before (or without) a NaN: neither may pass for NaN.
    array = rng.normal(size=100000).astype(dtype)
    big = np.finfo(dtype).max
    array[:64] = np.where(np.arange(64) % 3 == 0, big, -big)
    array[70], array[71], array[200] = np.inf, -np.inf, np.inf
    if nan_at is not None:
        array[nan_at] = np.nan
    result = measure.min_max(array)
    assert (result.min_index, result.max_index) == ((int(np.argmin(array)),), (int(np.argmax(array)),))
    assert np.isnan(result.min) == (nan_at is not None)


# --- describe -------------------------------------------------------------------------------------


@pytest.mark.parametrize("dtype", ALL_DTYPES)
@pytest.mark.parametrize("shape", [(1,), (999,), (64, 65), (3, 100, 7), (2, 3, 4, 5, 6)])
def test_describe_matches_numpy(rng, shape, dtype):
    array = sample(rng, shape, dtype, -1000, 1000)
    wide = array.astype(np.float64)
    for a in layouts(array):
        d = measure.describe(a)
        assert d.count == a.size
        assert d.min == a.min() and d.max == a.max() and type(d.min) is a.dtype.type
        np.testing.assert_allclose(d.mean, wide.mean(), rtol=1e-12, atol=1e-12)
        np.testing.assert_allclose(d.variance, wide.var(), rtol=1e-9, atol=1e-12)


@pytest.mark.parametrize("ddof", [0, 1, 5])
def test_describe_ddof_as_numpy_var(rng, ddof):
    array = rng.normal(size=(17, 3))
    np.testing.assert_allclose(measure.describe(array, ddof=ddof).variance, array.var(ddof=ddof), rtol=1e-12)


def test_describe_with_nan_and_too_few_degrees_of_freedom():
    d = measure.describe(np.array([1.0, np.nan, 3.0]))
    assert np.isnan(d.min) and np.isnan(d.max) and np.isnan(d.mean) and np.isnan(d.variance)
    assert np.isnan(measure.describe(np.array([1.0, 2.0]), ddof=2).variance)


def test_describe_accuracy_with_a_large_mean(rng):
    # One pass loses about (mean / std)**2 units in the last place: 1e6 here.
    array = 1000.0 + rng.normal(size=100000)
    np.testing.assert_allclose(measure.describe(array).variance, array.var(), rtol=1e-8)


# --- bin2 ----------------------------------------------------------------------------------------------


def reference_bin2(a, dtype):
    h, w = a.shape[-2] // 2, a.shape[-1] // 2
    blocks = a[..., : 2 * h, : 2 * w].astype(np.float64).reshape(a.shape[:-2] + (h, 2, w, 2))
    return blocks.mean(axis=(-3, -1)).astype(dtype)


@pytest.mark.parametrize("dtype", ALL_DTYPES)
@pytest.mark.parametrize("shape", [(2, 2), (7, 9), (64, 130), (3, 11, 6), (2, 3, 5, 4), (2, 1, 2, 4, 6)])
def test_bin2_matches_reshape_mean(rng, shape, dtype):
    array = sample(rng, shape, dtype, -1000, 1000)
    kept = np.dtype(dtype) if np.dtype(dtype).kind == "f" else np.dtype(np.float32)
    for a in layouts(array):
        result = measure.bin2(a)
        assert result.dtype == kept and result.shape == a.shape[:-2] + (a.shape[-2] // 2, a.shape[-1] // 2)
        # Float blocks are summed in their own type: a few units in its last place of the values' scale.
        scale = float(np.abs(array.astype(np.float64)).max()) * np.finfo(kept).eps * 4
        np.testing.assert_allclose(result, reference_bin2(a, kept), rtol=0, atol=scale)


@pytest.mark.parametrize("dtype", [np.uint8, np.int16, np.uint32, np.float32])
def test_bin2_to_float64(rng, dtype):
    array = sample(rng, (6, 10), dtype, -(2**20), 2**20)
    np.testing.assert_array_equal(measure.bin2(array, dtype=np.float64), reference_bin2(array, np.float64))


@pytest.mark.parametrize("dtype", [np.uint8, np.int8, np.int16, np.uint16, np.int32])
def test_bin2_in_the_input_integer_type_rounds_halves_to_even(rng, dtype):
    array = sample(rng, (4, 10, 12), dtype, -100, 100)
    result = measure.bin2(array, dtype=dtype)
    assert result.dtype == dtype
    np.testing.assert_array_equal(result, np.round(reference_bin2(array, np.float64)).astype(dtype))


def test_bin2_integer_sums_are_exact():
    array = np.full((2, 2), 2**32 - 1, np.uint32)
    assert measure.bin2(array, dtype=np.float64)[0, 0] == 2**32 - 1


# --- bad input and threads ------------------------------------------------------------------------------


@pytest.mark.parametrize(
    "call, error, words",
    [
        (lambda: measure.min_max(np.zeros(0)), ValueError, ["min_max", "empty", "(0,)"]),
        (lambda: measure.min_max(np.ones(3, complex)), TypeError, ["min_max", "complex128"]),
        (lambda: measure.min_max(["a", "b"]), TypeError, ["min_max", "<U1"]),
        (lambda: measure.describe(np.zeros((2, 0))), ValueError, ["describe", "empty"]),
        (lambda: measure.describe(np.ones(3), ddof=0.5), TypeError, ["ddof"]),
        (lambda: measure.bin2(np.ones(4)), ValueError, ["bin2", "2 dimensions", "(4,)"]),
        (lambda: measure.bin2(np.ones((4, 4)), dtype=np.int32), TypeError, ["bin2", "float32", "int32"]),
        (lambda: measure.bin2(np.ones((4, 4), np.int64), dtype=np.int64), TypeError, ["bin2", "int64"]),
        (lambda: measure.bin2(np.ones((4, 4)), dtype="nonsense"), TypeError, ["bin2", "dtype"]),
    ],
)
def test_bad_input_is_refused_clearly(call, error, words):
    with pytest.raises(error) as raised:
        call()
    assert all(word in str(raised.value) for word in words), str(raised.value)


def test_inputs_are_not_changed(rng):
    array = sample(rng, (33, 34), np.float32)
    copy = array.copy()
    measure.min_max(array), measure.describe(array), measure.bin2(array), measure.bin2(array, dtype=np.float64)
    np.testing.assert_array_equal(array, copy)


def test_results_do_not_depend_on_thread_count(rng):
    array = sample(rng, (513, 700), np.float32)
    before = lumadex.get_num_threads()
    results = []
    try:
        for threads in (1, 2):
            lumadex.set_num_threads(threads)
            results.append((measure.min_max(array), measure.describe(array), measure.bin2(array)))
    finally:
        lumadex.set_num_threads(before)
    (m1, d1, b1), (m2, d2, b2) = results
    assert m1 == m2 and d1 == d2
    np.testing.assert_array_equal(b1, b2)


@pytest.mark.parametrize("shape", [(1, 1), (1, 9), (9, 1), (3, 0, 4)])
def test_bin2_of_thin_arrays(rng, shape):
    array = sample(rng, shape, np.float32)
    result = measure.bin2(array)
    assert result.shape == shape[:-2] + (shape[-2] // 2, shape[-1] // 2)
    np.testing.assert_allclose(result, reference_bin2(array, np.float32), rtol=1e-6)


def test_describe_and_min_max_of_bool_and_scalars():
    flags = np.array([[False, True], [True, True]])
    assert measure.min_max(flags) == (False, True, (0, 0), (0, 1))
    d = measure.describe(flags)
    assert d.count == 4 and d.min == False and d.max == True  # noqa: E712
    np.testing.assert_allclose((d.mean, d.variance), (0.75, flags.var()))
    assert measure.describe(np.float64(3.5)) == (1, 3.5, 3.5, 3.5, 0.0)
