"""Spectra of real images: half-pure, half and full layouts, their conversions,
the axis and plane transforms and the Hermitian test, against numpy.

The plug-in's forward spectrum F = s * N * ifftn(x) (positive exponent). The
half-pure layout is s * rfftn(x) = conj(F) for kx = 0 ... W/2; the full layout
is fftshift(F); the half layout is F with only its rows centred.
"""

import numpy as np
import pytest

import lumadex

TOLERANCE = {np.float32: 2e-5, np.float64: 1e-12}
COMPLEX = {np.float32: np.complex64, np.float64: np.complex128}
SIZE_MESSAGE = "Images of different size cannot appear in this function."
# (x is numpy's last axis): line, column, even, odd, mixed, stacks
SHAPES = [(8,), (7,), (6, 1), (5, 1), (6, 8), (7, 5), (5, 6), (256, 300), (3, 4, 6), (4, 5, 7)]  # large: threads


def spectrum(x, scale=1.0):
    return scale * x.size * np.fft.ifftn(x.astype(np.float64))


def half_pure(x, scale=1.0):
    return scale * np.fft.rfftn(x.astype(np.float64))


def full(x, scale=1.0):
    return np.fft.fftshift(spectrum(x, scale))


def half(x, scale=1.0):
    centred = np.fft.fftshift(spectrum(x, scale), axes=0) if x.ndim > 1 else spectrum(x, scale)
    return centred[..., : x.shape[-1] // 2 + 1]


def assert_close(got, want, dtype):
    error = np.linalg.norm(got - want) / max(np.linalg.norm(want), 1e-300)
    assert error < TOLERANCE[dtype], f"relative error {error:.3g}"


def real_image(host, rng, shape, dtype, name="src"):
    pixels = rng.standard_normal(shape).astype(dtype)
    return pixels, host.image(pixels, name)


FORWARD = {"ZEPHalfPureFFT": (half_pure, "ZEPHalfPureIFFT"), "ZEPHalfFFT": (half, "ZEPHalfIFFT"),
           "ZEPRealFFT": (full, "ZEPRealIFFT")}


@pytest.mark.parametrize("dtype", [np.float32, np.float64], ids=["real4", "real8"])
@pytest.mark.parametrize("shape", SHAPES, ids=str)
@pytest.mark.parametrize("function", list(FORWARD))
def test_whole_image_transforms_and_round_trips(host, rng, function, shape, dtype):
    if function == "ZEPHalfFFT" and len(shape) == 3:
        pytest.skip("the half layout is two-dimensional")
    oracle, inverse = FORWARD[function]
    pixels, source = real_image(host, rng, shape, dtype)
    result = host.call(function, source, 0.5, None)
    want = oracle(pixels, 0.5)
    assert (result.name, result.shape, result.dtype) == ("FFT of src", want.shape, COMPLEX[dtype])
    assert_close(result.array(), want, dtype)
    # Back with 2/N into a destination of the image's own size, odd widths
    # too; the spectrum stays as it was.
    before = result.array()
    back = host.new_image("back", source.data_type, *shape)
    assert host.call(inverse, result, 2.0 / pixels.size, back) is back
    assert_close(back.array(), pixels, dtype)
    np.testing.assert_array_equal(result.array(), before)
    np.testing.assert_array_equal(source.array(), pixels)


def test_spectra_of_real_images_are_hermitian_until_one_element_changes(host, rng):
    for shape in SHAPES:
        spectrum_image = host.ZEPRealFFT(real_image(host, rng, shape, np.float64)[1], 1.0, None)
        assert host.ZEPIsHermitian(spectrum_image) == 1.0
        disturbed = spectrum_image.array()
        index = tuple(n // 2 - 1 if n > 2 else 0 for n in shape)  # off the centre
        disturbed[index] += 1e-2 * np.abs(disturbed).max() * (1 + 1j)
        assert host.ZEPIsHermitian(host.image(disturbed)) == 0.0, shape


def test_created_sizes_names_and_the_inverse_widths(host, rng):
    pixels, source = real_image(host, rng, (4, 7), np.float32, "img")
    spectrum4 = host.ZEPHalfPureFFT(source, 1.0, None)
    # A created inverse destination has the even width 2 (W/2 + 1) - 2.
    back = host.ZEPHalfPureIFFT(spectrum4, 1.0, None)
    assert (back.name, back.shape, back.dtype) == ("IFFT of FFT of img", (4, 6), np.float32)
    # A Complex destination of HalfPureIFFT gets only its real parts written.
    target = host.image(np.full((4, 7), 3j, np.complex64))
    host.ZEPHalfPureIFFT(spectrum4, 1.0 / 28, target)
    assert_close(target.array(), pixels + 3j, np.float32)
    # The real parts of a complex source, also into itself.
    both = host.image((pixels + 5j).astype(np.complex64))
    host.ZEPHalfPureFFT(both, 1.0, both)
    assert_close(both.array()[:, :4], half_pure(pixels), np.float32)
    # A wider destination keeps its columns past W/2 + 1.
    wide = host.image(np.full((4, 6), 9, np.complex64))
    host.ZEPHalfPureFFT(source, 1.0, wide)
    assert np.all(wide.array()[:, 4:] == 9)


AXES = {"X": (-1,), "Y": (-2,), "Z": (-3,), "XY": (-2, -1)}


@pytest.mark.parametrize("dtype", [np.complex64, np.complex128], ids=["complex8", "complex16"])
@pytest.mark.parametrize("axis", list(AXES))
def test_complex_axis_transforms_on_stacks_and_on_sub_areas(host, rng, axis, dtype):
    axes = AXES[axis]
    precision = np.float32 if dtype is np.complex64 else np.float64
    pixels = (rng.standard_normal((5, 6, 9)) + 1j * rng.standard_normal((5, 6, 9))).astype(dtype)
    forward = lambda x, s: s * np.prod([x.shape[a] for a in axes]) * np.fft.ifftn(x, axes=axes)
    inverse = lambda x, s: s * np.fft.fftn(x, axes=axes)
    for name, oracle in ((f"ZEPPureFFT{axis}", forward), (f"ZEPPureIFFT{axis}", inverse)):
        assert_close(host.call(name, host.image(pixels), 0.5, None).array(), oracle(pixels, 0.5), precision)
        # A box of a stack, into a box of another stack: the parents' pitches.
        parent, other = host.image(pixels), host.image(np.zeros((6, 8, 10), dtype))
        host.call(name, parent.box((1, 1, 2), (4, 5, 8)), 2.0, other.box((2, 3, 1), (5, 7, 7)))
        expected = np.zeros((6, 8, 10), dtype)
        expected[2:5, 3:7, 1:7] = oracle(pixels[1:4, 1:5, 2:8], 2.0)
        assert_close(other.array(), expected, precision)
        image = host.image(pixels)
        host.call(name, image, 1.0, image)
        assert_close(image.array(), oracle(pixels, 1.0), precision)


@pytest.mark.parametrize("axis", ["X", "Z"])
@pytest.mark.parametrize("shape", [(8, 8, 9), (3, 5, 6), (1, 4, 5)], ids=str)
def test_real_axis_transforms_round_trip_on_stacks_and_sub_areas(host, rng, axis, shape):
    numpy_axis = -1 if axis == "X" else -3
    pixels = rng.standard_normal(shape)
    for dtype in (np.float32, np.float64):
        typed = pixels.astype(dtype)
        result = host.call(f"ZEPHalfPureFFT{axis}", host.image(typed, "s"), 1.0, None)
        want = np.fft.rfft(pixels, axis=numpy_axis)
        assert result.name == "FFT of s"  # a created image drops a depth of 1
        assert_close(result.array().reshape(want.shape), want, dtype)
        back = host.new_image("b", "Real4" if dtype is np.float32 else "Real8", *shape)
        host.call(f"ZEPHalfPureIFFT{axis}", result, 1.0 / shape[numpy_axis], back)
        assert_close(back.array(), typed, dtype)
    # A box of a larger stack transforms as a copy of it would.
    parent = host.image(rng.standard_normal((shape[0] + 2, shape[1] + 1, shape[2] + 3)))
    box = parent.box((1, 1, 2), (1 + shape[0], 1 + shape[1], 2 + shape[2]))
    got = host.call(f"ZEPHalfPureFFT{axis}", box, 1.0, None)
    want = np.fft.rfft(box.array(), axis=numpy_axis)
    assert_close(got.array().reshape(want.shape), want, np.float64)


def test_half_pure_z_with_a_created_inverse_is_eight_deep(host, rng):
    pixels, source = real_image(host, rng, (9, 8, 8), np.float32)
    packed = host.ZEPHalfPureFFTZ(source, 1.0, None)
    assert packed.shape == (5, 8, 8)
    assert host.ZEPHalfPureIFFTZ(packed, 1.0 / 9, None).shape == (8, 8, 8)


# Conversions: (function, from layout, to layout)
CONVERSIONS = [("ZEPHalfPureToHalf", half_pure, half), ("ZEPHalfToHalfPure", half, half_pure),
               ("ZEPHalfPureToFull", half_pure, full), ("ZEPFullToHalfPure", full, half_pure)]


@pytest.mark.parametrize("shape", SHAPES, ids=str)
@pytest.mark.parametrize("function, source_layout, target_layout", CONVERSIONS, ids=[c[0] for c in CONVERSIONS])
def test_conversions_created_given_and_in_place(host, rng, function, source_layout, target_layout, shape):
    if "Half" in function.replace("HalfPure", "") and len(shape) == 3:
        pytest.skip("the half layout is two-dimensional")
    pixels = rng.standard_normal(shape)
    src = source_layout(pixels).astype(np.complex64)
    want = target_layout(pixels)
    created = host.call(function, host.image(src, "s"), None)
    assert created.name == ("Packed s" if function == "ZEPFullToHalfPure" else "s")
    if function == "ZEPHalfPureToFull":  # a created full width is even: 2 (W/2 + 1) - 2
        assert created.shape[-1] == max(1, 2 * src.shape[-1] - 2) and created.shape[:-1] == want.shape[:-1]
    else:
        assert created.shape == want.shape
    if created.shape == want.shape:
        assert_close(created.array(), want, np.float32)
    if function == "ZEPFullToHalfPure":  # kx > 0 is not read
        src[..., shape[-1] // 2 + 1:] = 99
    given = host.image(np.zeros(want.shape, np.complex64))
    host.call(function, host.image(src), given)
    assert_close(given.array(), want, np.float32)
    # In place; half-pure to full in a full-width image that carries the
    # half-pure spectrum in its first W/2 + 1 columns.
    carrier = src
    if function == "ZEPHalfPureToFull":
        carrier = np.zeros(want.shape, np.complex64)
        carrier[..., : src.shape[-1]] = src
    if carrier.shape == want.shape:
        image = host.image(carrier)
        host.call(function, image, image)
        assert_close(image.array(), want, np.float32)


@pytest.mark.parametrize("shape", [(7, 5), (6, 4), (1, 5), (5, 1), (4, 6, 8)], ids=str)
def test_conversions_undo_each_other_exactly(host, rng, shape):
    spectrum_image = host.image((rng.standard_normal(shape) + 1j * rng.standard_normal(shape)).astype(np.complex64))
    original = spectrum_image.array()
    pairs = [("ZEPHalfPureToFull", "ZEPFullToHalfPure")]
    if len(shape) == 2:
        pairs.append(("ZEPHalfPureToHalf", "ZEPHalfToHalfPure"))
    for there, back in pairs:
        out = host.call(there, spectrum_image, None)
        np.testing.assert_array_equal(host.call(back, out, None).array().reshape(shape), original)
        # And in place, where the two layouts have one size.
        if there == "ZEPHalfPureToHalf":
            host.call(there, spectrum_image, spectrum_image)
            host.call(back, spectrum_image, spectrum_image)
            np.testing.assert_array_equal(spectrum_image.array(), original)


def failed(host, function, message, *args):
    before = [a.array() for a in args if isinstance(a, lumadex.Image)]
    with pytest.raises(lumadex.ScriptError) as error:
        host.call(function, *args)
    assert str(error.value) == message
    for old, image in zip(before, [a for a in args if isinstance(a, lumadex.Image)]):
        np.testing.assert_array_equal(image.array(), old)


def test_bad_input_is_refused_before_anything_is_written(host, rng):
    c8 = lambda *shape: host.image(rng.standard_normal(shape).astype(np.complex64))
    r4 = lambda *shape: host.image(rng.standard_normal(shape).astype(np.float32))
    c16, r8 = host.image(np.ones((6, 8), np.complex128)), host.image(np.ones((6, 8)))
    for function in ("ZEPHalfToHalfPure", "ZEPHalfPureToHalf", "ZEPFullToHalfPure", "ZEPHalfPureToFull"):
        failed(host, function, "All data type should be Complex 8.", c16, None)
        # A destination smaller than what is written (too wide a full one).
        destination = c8(7, 20) if function == "ZEPHalfPureToFull" else c8(3, 3)
        failed(host, function, SIZE_MESSAGE, c8(6, 8), destination)
    failed(host, "ZEPHalfPureToHalf", "Dimension support is up to 2D now.", c8(2, 4, 4), None)
    failed(host, "ZEPHalfToHalfPure", "Dimension support is up to 2D now.", c8(2, 4, 4), c8(2, 4, 4))
    failed(host, "ZEPHalfPureToFull", "Dimension support is up to 3D now.", c8(2, 2, 3, 4), None)
    failed(host, "ZEPIsHermitian", "All data type should be Complex 8 or Complex 16.", r4(4, 4))
    failed(host, "ZEPHalfFFT", "Dimension support is up to 2D now.", r4(3, 4, 4), 1.0, c8(3, 4, 3))
    failed(host, "ZEPHalfIFFT", "Dimension support is up to 2D now.", c8(3, 4, 3), 1.0, r4(3, 4, 4))
    for function in ("ZEPHalfPureFFT", "ZEPHalfFFT", "ZEPRealFFT", "ZEPHalfPureFFTX", "ZEPHalfPureFFTZ"):
        failed(host, function, "Invalid image type.", r8, 1.0, c8(6, 8))
        failed(host, function, "Invalid image type.", r4(6, 8), 1.0, r4(6, 8))
    failed(host, "ZEPHalfPureFFT", "Invalid image type.", c16, 1.0, c8(6, 8))
    for function in ("ZEPHalfPureIFFT", "ZEPHalfIFFT", "ZEPRealIFFT", "ZEPHalfPureIFFTX", "ZEPHalfPureIFFTZ"):
        failed(host, function, "Invalid image type.", c8(6, 5), 1.0, r8)
    for function, source, destination, message in [
            ("ZEPHalfPureFFT", r4(6, 8), c8(6, 4), "Invalid image size."),
            ("ZEPHalfPureFFT", r4(6, 8), c8(5, 5), "Invalid image size."),
            ("ZEPHalfPureIFFT", c8(6, 5), r4(6, 7), "Invalid image size."),
            ("ZEPHalfIFFT", c8(6, 5), r4(5, 8), "Invalid image size."),
            ("ZEPHalfPureFFTX", r4(6, 8), c8(6, 4), "Invalid image size."),
            ("ZEPHalfPureIFFTX", c8(6, 5), r4(6, 10), "Invalid image size."),
            ("ZEPHalfPureFFTZ", r4(4, 6, 8), c8(2, 6, 8), "Invalid image size."),
            ("ZEPHalfPureIFFTZ", c8(3, 6, 8), r4(3, 6, 8), "Invalid image size."),
            ("ZEPRealFFT", r4(6, 8), c8(6, 7), SIZE_MESSAGE),
            ("ZEPRealFFT", r4(6, 8), c8(5, 8), SIZE_MESSAGE),
            ("ZEPRealIFFT", c8(6, 8), r4(7, 8), SIZE_MESSAGE),
            ("ZEPPureFFTZ", c8(3, 6, 8), c8(2, 6, 8), SIZE_MESSAGE)]:
        failed(host, function, message, source, 1.0, destination)
    # A fourth dimension with no destination given: a created one has three.
    for function in ("ZEPHalfPureFFT", "ZEPHalfFFT", "ZEPRealFFT", "ZEPHalfPureFFTX", "ZEPHalfPureFFTZ",
                     "ZEPHalfPureIFFT", "ZEPHalfIFFT", "ZEPRealIFFT", "ZEPHalfPureIFFTX", "ZEPHalfPureIFFTZ"):
        limit = 2 if function in ("ZEPHalfFFT", "ZEPHalfIFFT") else 3
        source = (c8 if "IFFT" in function else r4)(2, 2, 3, 4)
        failed(host, function, f"Dimension support is up to {limit}D now.", source, 1.0, None)
    # Different sub-areas of one image sharing pixels; the half-pure spectrum
    # of a complex image's real parts, and back into real parts.
    parent = c8(7, 9)
    for function, source, destination in [("ZEPHalfPureFFT", (0, 0, 4, 8), (1, 1, 5, 6)),
                                          ("ZEPHalfPureIFFT", (0, 0, 4, 5), (2, 1, 6, 9))]:
        failed(host, function, "Subareas belonging to the same image cannot overlap.",
               parent.subarea(*source), 1.0, parent.subarea(*destination))


def test_created_calibrations_and_tags(host):
    def calibrated(data_type, *shape):
        image = host.new_image("c", data_type, *shape)
        for dim in range(len(shape)):
            image.set_calibration(dim, 3.0, 0.5, "nm")
        image.set_tag("Sample", "gold")
        return image

    real, half_spectrum = calibrated("Real4", 4, 6, 8), calibrated("Complex8", 4, 6, 5)
    for function, source, origins, units in [
            ("ZEPHalfPureFFT", real, [0, 0, 0], "1/nm"),
            ("ZEPRealFFT", real, [4.5, 3.5, 2.5], "1/nm"),
            ("ZEPHalfPureIFFT", half_spectrum, [0, 0, 0], "nm"),
            ("ZEPHalfPureFFTZ", real, [None, None, 0], "1/nm")]:  # only z: x and y as created
        result = host.call(function, source, 1.0, None)
        for dim, (origin, size) in enumerate(zip(origins, [8, 6, 4])):
            expected = (0.0, 1.0, "") if origin is None else (origin, pytest.approx(1 / (size * 0.5)), units)
            assert result.calibration(dim) == expected, (function, dim)
        assert result.tags() == {"Sample": "gold"}
    two_d = calibrated("Real8", 6, 8)
    result = host.ZEPHalfFFT(two_d, 1.0, None)
    assert [result.calibration(d)[0] for d in (0, 1)] == [0.0, 3.5]
    stack = calibrated("Complex16", 4, 6, 8)
    result = host.ZEPPureFFTY(stack, 1.0, None)
    assert [result.calibration(d)[0] for d in range(3)] == [3.0, 0.0, 3.0]
