"""ZEPPureFFT and ZEPPureIFFT against numpy's FFT.

The plug-in's forward transform uses the positive exponent, so with N the
number of pixels:  ZEPPureFFT(x, s) == s * N * ifftn(x)  and
ZEPPureIFFT(X, s) == s * fftn(X).
"""

import numpy as np
import pytest

import lumadex

PRECISIONS = {np.complex64: 1e-4, np.complex128: 1e-12}  # error allowed, relative to the norm

SHAPES = [
    (1,), (2,), (7,), (16,), (97,), (30,), (1000,), (1021,),  # 1-D: unit, even, prime, composite, larger
    (1, 1), (9, 1), (1, 9), (5, 8), (13, 17), (64, 48), (31, 20),  # 2-D
    (3, 5, 7), (4, 6, 8), (2, 11, 1), (1, 4, 6), (5, 3, 2), (12, 10, 9),  # 3-D
]
# And a few drawn at random (fixed seed, so a failure reproduces).
_draw = np.random.default_rng(2024)
SHAPES += [tuple(int(n) for n in _draw.integers(1, 48 // ndim + 8, size=ndim)) for ndim in (1, 2, 3) for _ in range(2)]

DATA_TYPE_MESSAGE = "All data type should be Complex 8 or Complex 16."
SIZE_MESSAGE = "Images of different size cannot appear in this function."
OVERLAP_MESSAGE = "Subareas belonging to the same image cannot overlap."


def random_complex(rng, shape, dtype):
    return (rng.standard_normal(shape) + 1j * rng.standard_normal(shape)).astype(dtype)


def pure_fft(x, scale):
    return scale * x.size * np.fft.ifftn(x.astype(np.complex128))


def pure_ifft(x, scale):
    return scale * np.fft.fftn(x.astype(np.complex128))


ORACLES = {"ZEPPureFFT": pure_fft, "ZEPPureIFFT": pure_ifft}


def assert_close(got, want, dtype):
    error = np.linalg.norm(got - want) / max(np.linalg.norm(want), np.finfo(np.float64).tiny)
    assert error < PRECISIONS[dtype], f"relative error {error:.3g}"


@pytest.mark.parametrize("dtype", list(PRECISIONS), ids=["complex64", "complex128"])
@pytest.mark.parametrize("shape", SHAPES, ids=str)
def test_transforms_match_numpy_into_a_created_destination(host, rng, shape, dtype):
    pixels = random_complex(rng, shape, dtype)
    source = host.image(pixels, "source")
    for function, oracle in ORACLES.items():
        scale = rng.uniform(0.25, 2.0)
        result = host.call(function, source, scale, None)
        assert not result.is_same(source)
        assert result.data_type == source.data_type and result.shape == shape
        # A Complex 8 call rounds the scale to float first.
        used_scale = float(np.float32(scale)) if dtype is np.complex64 else scale
        assert_close(result.array(), oracle(pixels, used_scale), dtype)
    np.testing.assert_array_equal(source.array(), pixels)


@pytest.mark.parametrize("dtype", list(PRECISIONS), ids=["complex64", "complex128"])
@pytest.mark.parametrize("shape", [(12,), (7, 10), (3, 4, 5)], ids=str)
def test_in_place_and_given_destinations(host, rng, shape, dtype):
    pixels = random_complex(rng, shape, dtype)
    for function, oracle in ORACLES.items():
        image = host.image(pixels)
        assert getattr(host, function)(image, 0.5, image) is image
        assert_close(image.array(), oracle(pixels, 0.5), dtype)

        source = host.image(pixels)
        destination = host.new_image("given", source.data_type, *shape)
        assert host.call(function, source, 2.0, destination) is destination
        assert_close(destination.array(), oracle(pixels, 2.0), dtype)
        np.testing.assert_array_equal(source.array(), pixels)


@pytest.mark.parametrize("dtype", list(PRECISIONS), ids=["complex64", "complex128"])
def test_round_trip_with_one_over_n_restores_the_image(host, rng, dtype):
    pixels = random_complex(rng, (24, 35), dtype)
    spectrum = host.ZEPPureFFT(host.image(pixels), 1.0, None)
    back = host.ZEPPureIFFT(spectrum, 1.0 / pixels.size, None)
    assert_close(back.array(), pixels, dtype)


@pytest.mark.parametrize("function", list(ORACLES))
def test_disjoint_sub_areas_of_one_image(host, rng, function):
    oracle = ORACLES[function]
    pixels = random_complex(rng, (20, 30), np.complex128)
    parent = host.image(pixels)
    source = parent.subarea(2, 3, 9, 14)
    destination = parent.subarea(11, 15, 18, 26)
    assert host.call(function, source, 0.75, destination) is destination

    expected = pixels.copy()
    expected[11:18, 15:26] = oracle(pixels[2:9, 3:14], 0.75)
    assert_close(parent.array(), expected, np.complex128)
    outside = np.ones(pixels.shape, bool)
    outside[11:18, 15:26] = False
    np.testing.assert_array_equal(parent.array()[outside], pixels[outside])


def test_disjoint_boxes_of_a_stack(host, rng):
    pixels = random_complex(rng, (4, 10, 12), np.complex64)
    parent = host.image(pixels)
    source = parent.box((0, 0, 0), (3, 4, 5))
    destination = parent.box((1, 5, 6), (4, 9, 11))
    host.ZEPPureIFFT(source, 1.0, destination)

    expected = pixels.copy()
    expected[1:4, 5:9, 6:11] = pure_ifft(pixels[0:3, 0:4, 0:5], 1.0)
    assert_close(parent.array(), expected, np.complex64)


def test_a_sub_area_transformed_in_place_leaves_the_rest_untouched(host, rng):
    pixels = random_complex(rng, (9, 11), np.complex64)
    parent = host.image(pixels)
    area = parent.subarea(1, 2, 8, 7)
    host.ZEPPureFFT(area, 1.0, area)
    expected = pixels.astype(np.complex128)
    expected[1:8, 2:7] = pure_fft(pixels[1:8, 2:7], 1.0)
    assert_close(parent.array(), expected, np.complex64)


@pytest.mark.parametrize("function, origin_units, expected_units", [
    ("ZEPPureFFT", "nm", "1/nm"),
    ("ZEPPureFFT", "", ""),
    ("ZEPPureIFFT", "1/nm", "nm"),
    ("ZEPPureIFFT", "nm", "nm"),
])
def test_a_created_destination_gets_reciprocal_calibration_and_the_tags(host, function, origin_units, expected_units):
    source = host.new_image("calibrated", lumadex.DataType.Complex8, 3, 8, 5)  # x = 5, y = 8, z = 3
    scales = {0: 0.5, 1: 0.25, 2: 2.0}
    for dim, scale in scales.items():
        source.set_calibration(dim, 7.0, scale, origin_units)
    source.set_tag("Acquisition:Exposure", 0.5)
    source.set_tag("Sample", "gold")

    result = getattr(host, function)(source, 1.0, None)
    for dim, size in {0: 5, 1: 8, 2: 3}.items():
        origin, scale, units = result.calibration(dim)
        assert origin == 0.0
        assert scale == pytest.approx(1.0 / (size * scales[dim]), rel=1e-6)
        assert units == expected_units
    assert result.tags() == {"Acquisition": {"Exposure": 0.5}, "Sample": "gold"}
    assert source.calibration(0) == (7.0, 0.5, origin_units)


def test_a_given_destination_keeps_its_calibration(host):
    source = host.new_image("source", "Complex16", 4, 4)
    source.set_calibration(0, 0.0, 0.5, "nm")
    destination = host.new_image("destination", "Complex16", 4, 4)
    destination.set_calibration(0, 3.0, 2.0, "px")
    host.ZEPPureFFT(source, 1.0, destination)
    assert destination.calibration(0) == (3.0, 2.0, "px")


def failed_call_leaves(host, function, source, destination, message):
    """Calls function, expects `message`, and checks that no image changed."""
    before = [image.array() for image in (source, destination) if image is not None]
    with pytest.raises(lumadex.ScriptError) as failure:
        host.call(function, source, 1.0, destination)
    assert str(failure.value) == message
    after = [image.array() for image in (source, destination) if image is not None]
    for old, new in zip(before, after):
        np.testing.assert_array_equal(new, old)


@pytest.mark.parametrize("function", list(ORACLES))
def test_failed_calls_give_the_exact_message_and_change_nothing(host, rng, function):
    complex8 = host.image(random_complex(rng, (6, 6), np.complex64))
    complex16 = host.image(random_complex(rng, (6, 6), np.complex128))
    real = host.image(rng.standard_normal((6, 6)).astype(np.float32))
    failed_call_leaves(host, function, complex8, complex16, DATA_TYPE_MESSAGE)
    failed_call_leaves(host, function, complex16, complex8, DATA_TYPE_MESSAGE)
    failed_call_leaves(host, function, real, real, DATA_TYPE_MESSAGE)
    failed_call_leaves(host, function, real, None, DATA_TYPE_MESSAGE)  # the clone it made must be released

    for other_shape in [(6, 5), (5, 6), (2, 6, 6), (36,)]:
        other = host.image(random_complex(rng, other_shape, np.complex64))
        failed_call_leaves(host, function, complex8, other, SIZE_MESSAGE)

    parent = host.image(random_complex(rng, (12, 12), np.complex64))
    failed_call_leaves(host, function, parent.subarea(0, 0, 8, 8), parent.subarea(2, 2, 10, 10), OVERLAP_MESSAGE)


def test_counters_count_calls_failed_ones_too(host, rng):
    host.reset_counters()
    assert host.counters() == {}
    image = host.image(random_complex(rng, (16, 16), np.complex64))
    host.ZEPPureFFT(image, 1.0, image)
    host.ZEPPureFFT(image, 1.0, image)
    host.ZEPPureIFFT(image, 1.0 / 256, image)
    counters = host.counters()
    assert counters["zep::PureFFTDM"]["count"] == 2
    assert counters["zep::PureIFFTDM"]["count"] == 1
    assert all(c["seconds"] > 0 for c in counters.values())

    with pytest.raises(lumadex.ScriptError, match="Complex 8 or Complex 16"):
        host.ZEPPureFFT(image, 1.0, host.new_image("double", "Complex16", 16, 16))
    assert host.counters()["zep::PureFFTDM"]["count"] == 3

    host.reset_counters()
    assert host.counters() == {}
