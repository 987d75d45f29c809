"""Statistics, the 2x reduction and the cross-correlation mask against numpy."""

import itertools

import numpy as np
import pytest

import lumadex
from lumadex import Ref

REAL_TYPES = [np.int8, np.uint8, np.int16, np.uint16, np.int32, np.uint32, np.float32, np.float64]
SHAPES = [(37,), (70000,), (9, 40), (3, 70001), (4, 5, 17), (2, 3, 4, 5)]


def pixels(rng, shape, dtype, spread=7):
    """Few distinct values, so that extremes repeat; unsigned 32-bit ones above 2^31."""
    values = rng.integers(-spread, spread + 1, shape)
    if dtype == np.uint32:
        return (values + 2**31 + 5).astype(dtype)
    if np.issubdtype(dtype, np.unsignedinteger):
        values += spread
    return values.astype(dtype) if np.issubdtype(dtype, np.integer) else (values * 0.37).astype(dtype)


def minmax(host, image):
    out = [Ref(-9), Ref(-9), Ref(-9), Ref(-9.0), Ref(-9), Ref(-9), Ref(-9), Ref(-9.0)]
    host.ZEPMinMax(image, *out)
    return [r.value for r in out]


def position(shape, flat):
    """(x, y, z) of a flat index into dimensions 0 to 2."""
    x = flat % shape[-1]
    y = (flat // shape[-1]) % shape[-2] if len(shape) > 1 else 0
    z = flat // (shape[-1] * shape[-2]) if len(shape) > 1 else 0
    return [x, y, z]


@pytest.fixture(params=[1, 0], ids=["simd", "base"])
def simd(host, request):
    host.ZEPSetUseSIMD(request.param)
    return request.param


@pytest.mark.parametrize("dtype", REAL_TYPES, ids=lambda t: t.__name__)
@pytest.mark.parametrize("shape", SHAPES, ids=str)
def test_extremes_and_survey(host, rng, simd, shape, dtype):
    whole = pixels(rng, shape, dtype)
    if np.issubdtype(dtype, np.floating):
        whole.flat[rng.integers(0, whole.size, 3)] = np.nan  # never taken, and the sums turn NaN
    image = host.image(whole)
    # Dimensions 0 to 2 only: of a 4-D image the first volume, whose extremes
    # the later volumes exceed.
    a = whole[0] if whole.ndim == 4 else whole
    if whole.ndim == 4:
        info = np.finfo(dtype) if np.issubdtype(dtype, np.floating) else np.iinfo(dtype)
        whole[1:], whole[1:, 0, 0, :2] = info.max, info.min
        image.write(whole)
    lo, hi = np.nanargmin(a), np.nanargmax(a)
    assert minmax(host, image) == [*position(shape, lo), a.flat[lo], *position(shape, hi), a.flat[hi]]
    at = [Ref(), Ref(), Ref()]
    assert host.ZEPMax(image, *at) == a.flat[hi] and [r.value for r in at] == position(shape, hi)

    out = [Ref(0.0) for _ in range(5)]
    host.ZEPSurvey(image, *out)
    d = a.astype(np.float64)
    want = [np.nanmin(d), np.nanmax(d), d.sum(), (d * d).sum(), np.abs(d).sum()]
    np.testing.assert_allclose([r.value for r in out], want, rtol=1e-12)


def every_result(host, image):
    """The bytes of every statistics result for `image`."""
    if image.dtype.kind == "c":
        mean, centre = Ref(0.0), [n // 2 for n in reversed(image.shape)] + [0, 0]
        out = [host.ZEPCrossCorrelationMask(image, image, *centre[:3], 0.5, 1.0, 2.0, 3.0, 2, mean, None), mean]
    else:
        out = [Ref(0) for _ in range(20)]
        host.ZEPMinMax(image, *out[:8]), host.ZEPSurvey(image, *out[8:13]), host.ZEPSurveyDifference(image, image, *out[13:])
    out.append(host.ZEPReduce(image))
    return [np.asarray(r.value if isinstance(r, Ref) else r.array() if r else 0).tobytes() for r in out]


@pytest.mark.parametrize("dtype", REAL_TYPES + [np.complex64, np.complex128], ids=lambda t: t.__name__)
def test_vectorised_and_base_kernels_give_the_same_bits(host, rng, dtype):
    images = [host.image(pixels(rng, shape, dtype) * (1 + 1j if dtype(0).dtype.kind == "c" else 1))
              for shape in [(1,), (3,), (40000,), (33, 1), (5, 7), (3, 4, 5)]]
    images.append(host.image(pixels(rng, (6, 9), dtype)).subarea(1, 1, 5, 9))
    results = []
    for use in (1, 0):
        host.ZEPSetUseSIMD(use)
        results.append([every_result(host, image) for image in images])
    host.ZEPSetUseSIMD(1)
    assert results[0] == results[1]


@pytest.mark.parametrize("fill, expect", [(np.inf, np.inf), (-np.inf, -np.inf), (np.nan, np.nan)])
def test_images_without_finite_values(host, simd, fill, expect):
    a = np.full((3, 5), fill, np.float32)
    got = minmax(host, host.image(a))
    np.testing.assert_array_equal(got, [0, 0, 0, expect, 0, 0, 0, expect])
    out = [Ref(0.0) for _ in range(5)]
    host.ZEPSurvey(host.image(a), *out)
    largest = np.finfo(np.float64).max
    assert out[0].value == (largest if np.isnan(fill) else fill)
    assert out[1].value == (-largest if np.isnan(fill) else fill)


def test_sub_areas_report_positions_within_themselves(host, rng):
    a = rng.standard_normal((6, 20, 30)).astype(np.float32)
    box = host.image(a).box((1, 3, 4), (5, 17, 25))
    inner = a[1:5, 3:17, 4:25]
    lo, hi = inner.argmin(), inner.argmax()
    assert minmax(host, box) == [*position(inner.shape, lo), inner.flat[lo], *position(inner.shape, hi), inner.flat[hi]]
    survey = [Ref(0.0) for _ in range(5)]
    host.ZEPSurvey(box, *survey)
    assert survey[2].value == pytest.approx(inner.astype(np.float64).sum(), rel=1e-12)


@pytest.mark.parametrize("dtype", REAL_TYPES, ids=lambda t: t.__name__)
def test_difference_sums(host, rng, simd, dtype):
    a, b = pixels(rng, (30, 50), dtype, 100), pixels(rng, (30, 50), dtype, 100)
    parent = host.image(np.zeros((40, 60), dtype))
    area = parent.subarea(5, 7, 35, 57)
    area.write(b)
    for first, second in [(host.image(a), area), (host.image(a.reshape(1500)), host.image(b.reshape(50, 30)))]:
        out = [Ref(0.0) for _ in range(7)]
        host.ZEPSurveyDifference(first, second, *out)
        x, y = a.astype(np.float64), b.astype(np.float64)
        e = x - y
        want = [x.sum(), (x * x).sum(), y.sum(), (y * y).sum(), e.sum(), (e * e).sum(), np.abs(e).sum()]
        np.testing.assert_allclose([r.value for r in out], want, rtol=1e-12, atol=1e-6)


def reduce_oracle(a):
    blocks = a[tuple(slice(0, n - n % 2) for n in a.shape)]
    for axis in range(a.ndim):
        blocks = blocks.reshape(blocks.shape[:axis] + (-1, 2) + blocks.shape[axis + 1:]).sum(axis + 1, dtype=complex if
                                                                                          np.iscomplexobj(a) else float)
    mean = blocks / 2**a.ndim
    return np.round(mean).astype(a.dtype) if np.issubdtype(a.dtype, np.integer) else mean.astype(a.dtype)


@pytest.mark.parametrize("dtype", REAL_TYPES + [np.complex64, np.complex128], ids=lambda t: t.__name__)
@pytest.mark.parametrize("shape", [(7,), (70001,), (5, 3), (9, 12), (5, 7, 9)], ids=str)
def test_reduce(host, rng, shape, dtype):
    if np.issubdtype(dtype, np.integer):
        info = np.iinfo(dtype)
        a = rng.integers(info.min, info.max, shape, dtype=dtype, endpoint=True)  # Integer 4 block sums overflow 32 bits
    else:
        a = (rng.standard_normal(shape) + (1j * rng.standard_normal(shape) if np.iscomplexobj(dtype(0)) else 0))
        a = a.astype(dtype)
    result = host.ZEPReduce(host.image(a))
    assert result.data_type == host.image(a[:1]).data_type and result.name == ""
    np.testing.assert_allclose(result.array(), reduce_oracle(a), rtol=1e-6 if dtype in (np.float32, np.complex64) else 1e-13)


def left_to_right_means(a):
    """Each block's pixels added one by one in the pixel type, x fastest, then y, then z; times 1/2^n."""
    if np.iscomplexobj(a):
        mean = np.empty([n // 2 for n in a.shape], a.dtype)
        mean.real, mean.imag = left_to_right_means(a.real.copy()), left_to_right_means(a.imag.copy())
        return mean
    corners = itertools.product((0, 1), repeat=a.ndim)  # the last axis (x) fastest
    terms = [a[tuple(slice(c, n - n % 2, 2) for c, n in zip(corner, a.shape))] for corner in corners]
    total = terms[0]
    for term in terms[1:]:
        total = total + term
    return total * a.dtype.type(0.5**a.ndim)


@pytest.mark.parametrize("dtype", [np.float32, np.float64, np.complex64, np.complex128], ids=lambda t: t.__name__)
def test_reduce_adds_each_block_left_to_right(host, rng, dtype):
    for shape in [(9,), (6, 7), (4, 6, 5), (64, 130)]:
        # Magnitudes far apart, so that every grouping of the sums rounds differently.
        a = rng.standard_normal(shape) * 10.0 ** rng.integers(-9, 9, shape)
        if np.iscomplexobj(dtype(0)):
            a = a + 1j * a[..., ::-1]
        a = a.astype(dtype)
        np.testing.assert_array_equal(host.ZEPReduce(host.image(a)).array(), left_to_right_means(a))


def test_reduce_rounds_ties_to_even_and_calibrates(host, rng):
    a = np.array([[1, 2, 2, 3, 9], [2, 1, 3, 2, 9], [7, 7, 7, 7, 7]], np.uint8)
    source = host.image(a)
    source.set_calibration(0, 10.0, 0.5, "nm")
    source.set_calibration(1, 4.0, 2.0, "")
    result = host.ZEPReduce(source)
    np.testing.assert_array_equal(result.array(), [[2, 2]])
    assert result.calibration(0) == (5.0, 1.0, "nm") and result.calibration(1) == (2.0, 4.0, "nm")
    # A sub-area is reduced where it lies.
    b = rng.standard_normal((10, 12))
    np.testing.assert_allclose(host.ZEPReduce(host.image(b).subarea(1, 2, 8, 11)).array(), reduce_oracle(b[1:8, 2:11]))


@pytest.mark.parametrize("array", [np.ones((4, 4), bool), np.ones((2, 2, 2, 2), np.float32), np.ones((1, 8), np.int16)],
                         ids=["binary", "4-D", "one row"])
def test_reduce_refuses_with_a_null_image(host, array):
    host.reset_counters()
    assert host.ZEPReduce(host.image(array)) is None
    assert host.counters() == {}


def mask_oracle(t, r, centre, scales, radius, mode):
    """The mask in double precision; shapes in numpy order, centre and scales as (x, y, z)."""
    p = t.astype(np.complex128) * np.conj(r.astype(np.complex128))
    k = np.meshgrid(*[np.arange(n) - c for n, c in zip(p.shape[::-1], centre)], indexing="ij")  # x, y, z
    k = [axis.T for axis in k]
    theta = sum(kk * (2 * np.pi * (n // 2) / n) for kk, n in zip(k, p.shape[::-1]))
    a = np.abs(p)
    w = np.exp(-(sum((kk * s) ** 2 for kk, s in zip(k, scales)) / radius**2) ** 2) if radius else 1.0
    with np.errstate(divide="ignore", invalid="ignore"):
        d = np.where(a == 0, 0, p * np.exp(1j * theta) * w * a ** {1: 0.0, 2: -0.5, 3: -1.0}[mode])
    at = tuple(reversed(centre[:p.ndim]))
    mean = (np.abs(d).sum() - abs(d[at])) / d.size
    d[at] = 0
    return d, mean


@pytest.mark.parametrize("dtype", [np.complex64, np.complex128])
@pytest.mark.parametrize("mode", [1, 2, 3])
@pytest.mark.parametrize("shape, centre, radius", [((16, 20), (10, 8, 0), 0.0), ((7, 9), (4, 3, 0), 2.5),
                                                  ((4, 6, 10), (5, 3, 2), 3.0), ((300,), (150, 0, 0), 40.0)])
def test_cross_correlation_mask(host, rng, dtype, mode, shape, centre, radius):
    t, r = [(rng.standard_normal(shape) + 1j * rng.standard_normal(shape)).astype(dtype) for _ in "tr"]
    r.flat[3] = 0  # a zero product stays zero in every mode
    scales = (0.5, 0.75, 1.25)
    want, want_mean = mask_oracle(t, r, centre, scales, radius, mode)
    mean = Ref(-1.0)
    target = host.image(t)
    result = host.ZEPCrossCorrelationMask(target, host.image(r), *centre, *scales, radius, mode, mean, None)
    tolerance = 2e-6 if dtype == np.complex64 else 1e-13
    np.testing.assert_allclose(result.array(), want, atol=tolerance * np.abs(want).max())
    assert result.array().flat[3] == 0 and mean.value == pytest.approx(want_mean, rel=tolerance)
    np.testing.assert_array_equal(target.array(), t)
    # In place, the destination being the target.
    assert host.ZEPCrossCorrelationMask(target, host.image(r), *centre, *scales, radius, mode, mean, target) is target
    np.testing.assert_allclose(target.array(), want, atol=tolerance * np.abs(want).max())


def test_mask_of_sub_areas(host, rng):
    t = (rng.standard_normal((12, 14)) + 1j * rng.standard_normal((12, 14))).astype(np.complex128)
    want, want_mean = mask_oracle(t[2:9, 3:11], t[4:11, 5:13], (4, 3, 0), (1, 1, 1), 3.0, 2)
    parent, mean = host.image(t), Ref(0.0)
    result = host.ZEPCrossCorrelationMask(parent.subarea(2, 3, 9, 11), parent.subarea(4, 5, 11, 13), 4, 3, 0, 1, 1, 1,
                                          3.0, 2, mean, None)
    np.testing.assert_allclose(result.array(), want, atol=1e-13)
    assert mean.value == pytest.approx(want_mean, rel=1e-13)


def test_mode_outside_one_to_three_changes_nothing(host, rng):
    t = (rng.standard_normal((6, 6)) + 1j).astype(np.complex64)
    mean, destination = Ref(0.5), host.image(t * 2)
    assert host.ZEPCrossCorrelationMask(host.image(t), host.image(t), 3, 3, 0, 1, 1, 1, 0, 4, mean, destination) is destination
    np.testing.assert_array_equal(destination.array(), t * 2)
    assert mean.value == 0.5


def test_phase_correlation_recovers_a_displacement(host, rng):
    scene = rng.standard_normal((64, 64))
    shifted = np.roll(scene, (5, -9), axis=(0, 1))

    def centred_spectrum(a):
        pure = host.ZEPPureFFT(host.image(a.astype(np.complex64)), 1.0, None).array()
        return host.image(np.fft.fftshift(pure))

    mean = Ref(0.0)
    mask = host.ZEPCrossCorrelationMask(centred_spectrum(shifted), centred_spectrum(scene), 32, 32, 0, 1, 1, 1, 0, 3,
                                        mean, None)
    correlation = host.ZEPPureIFFT(host.image(np.fft.ifftshift(mask.array())), 1.0, None)
    at = [Ref(), Ref(), Ref()]
    host.ZEPMax(host.image(correlation.array().real.astype(np.float32)), *at)
    assert [r.value for r in at] == [32 - 9, 32 + 5, 0]
    assert mean.value == pytest.approx((64 * 64 - 1) / (64 * 64))


STATISTICS_CALLS = {
    "ZEPMinMax": lambda host, image, out: host.ZEPMinMax(image, *out[:8]),
    "ZEPMin": lambda host, image, out: host.ZEPMin(image, *out[:3]),
    "ZEPSurvey": lambda host, image, out: host.ZEPSurvey(image, *out[:5]),
    "ZEPSurveyDifference": lambda host, image, out: host.ZEPSurveyDifference(image, image, *out[:7]),
}


@pytest.mark.parametrize("call", list(STATISTICS_CALLS))
@pytest.mark.parametrize("dtype", [np.complex64, bool])
def test_invalid_data_types_leave_the_out_parameters(host, call, dtype):
    out = [Ref(7) for _ in range(8)]
    with pytest.raises(lumadex.ScriptError, match=r"^Invalid data type\.$"):
        STATISTICS_CALLS[call](host, host.image(np.ones((3, 3), dtype)), out)
    assert all(r.value == 7 for r in out)


@pytest.mark.parametrize("first, second, message", [
    (np.ones(4, np.float32), np.ones(4, np.float64), "All data type should be Integer 1, Integer 2, Real 4 or Real 8."),
    (np.ones(4, np.int16), np.ones(5, np.int16), "Images of different size cannot appear in this function."),
])
def test_difference_errors(host, first, second, message):
    out = [Ref(7.0) for _ in range(7)]
    with pytest.raises(lumadex.ScriptError) as failure:
        host.ZEPSurveyDifference(host.image(first), host.image(second), *out)
    assert str(failure.value) == message and all(r.value == 7.0 for r in out)


C8, C16 = np.ones((4, 4), np.complex64), np.ones((4, 4), np.complex128)


@pytest.mark.parametrize("target, reference, destination, centre, message", [
    (C8, C16, None, (2, 2, 0), "cimTarg, cimRef and cimDst should be Complex."),
    (C8, C8, C16, (2, 2, 0), "cimTarg, cimRef and cimDst should be Complex."),
    (C8.real, C8.real, None, (2, 2, 0), "cimTarg, cimRef and cimDst should be Complex."),
    (C8, np.ones((4, 5), np.complex64), None, (2, 2, 0), "Images of different size cannot appear in this function."),
    (C8, C8, np.ones((2, 4, 4), np.complex64), (2, 2, 0), "Images of different size cannot appear in this function."),
    (C8, C8, C8, (4, 2, 0), "The centre (nCX, nCY, nCZ) must lie inside the image."),
    (C8, C8, None, (0, -1, 0), "The centre (nCX, nCY, nCZ) must lie inside the image."),
    (C16, C16, C16, (0, 0, 1), "The centre (nCX, nCY, nCZ) must lie inside the image."),
])
def test_mask_errors_change_nothing(host, target, reference, destination, centre, message):
    images = [host.image(a * (i + 2)) for i, a in enumerate((target, reference))]
    images.append(None if destination is None else host.image(destination * 5))
    before = [image.array() for image in images if image is not None]
    mean = Ref(0.25)
    with pytest.raises(lumadex.ScriptError) as failure:
        host.ZEPCrossCorrelationMask(images[0], images[1], *centre, 1, 1, 1, 2.0, 3, mean, images[2])
    assert str(failure.value) == message and mean.value == 0.25
    for image, old in zip([i for i in images if i is not None], before):
        np.testing.assert_array_equal(image.array(), old)


def test_counters(host, rng):
    host.reset_counters()
    image = host.image(rng.standard_normal((5, 5)))
    minmax(host, image)
    host.ZEPMin(image, Ref(), Ref(), Ref())
    with pytest.raises(lumadex.ScriptError):
        host.ZEPMax(host.image(np.ones(3, np.complex64)), Ref(), Ref(), Ref())
    host.ZEPSurvey(image, *[Ref(0.0) for _ in range(5)])
    host.ZEPReduce(image)
    counts = {name: c["count"] for name, c in host.counters().items()}
    assert counts == {"MinMaxDM": 3, "SurveyDM": 1}
