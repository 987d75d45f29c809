"""The image shifter family, ZEPFFT / ZEPIFFT and the SIMD switch, against numpy.

The plug-in's forward transform has the positive exponent: ZEPPureFFT(x, 1) == N * ifftn(x).
The pure layout's frequencies are numpy's fftfreq(N, 1 / N) (index N/2 is -N/2).
"""

import numpy as np
import pytest

import lumadex

TOL = {np.complex64: 2e-6, np.complex128: 1e-13}
PURE, CENTRED = True, False


def random_complex(rng, shape, dtype):
    return (rng.standard_normal(shape) + 1j * rng.standard_normal(shape)).astype(dtype)


def frequencies(size, period, centre, pure):
    return np.fft.fftfreq(period, 1 / period)[:size] if pure else np.arange(size) - centre


def ramp(shape, axes, sign):
    """Phase factors for (period, centre, shift, pure) per axis x, y, z; shape in numpy order."""
    depth, height, width = (1,) * (3 - len(shape)) + tuple(shape)
    turns = np.zeros((depth, height, width))
    for axis, size, (period, centre, shift, pure) in zip((2, 1, 0), (width, height, depth), axes):
        if shift:
            k = frequencies(size, period, centre, pure)
            turns += np.expand_dims(k * shift / period, [a for a in range(3) if a != axis])
    return np.exp(2j * np.pi * sign * (turns - np.floor(turns))).reshape(shape)  # reduced: matters for |sign| != 1


def assert_close(got, want, dtype):
    scale = max(np.abs(want).max(), 1e-300)
    assert np.abs(got - want).max() / scale < TOL[dtype]


# function, its numeric arguments, the axes (period, centre, shift, pure) they stand for; shape (4, 6, 10)
D, H, W = 4, 6, 10
MEMBERS = [
    ("ZEPImageShifter", (W, H, D, 3, -2, 1, 0.3, -1.7, 2.2, -1.0), [(W, 3, 0.3, 0), (H, -2, -1.7, 0), (D, 1, 2.2, 0)]),
    ("ZEPPureImageShifter", (12, 7, 5, 0.3, -1.7, 2.2, 1.0), [(12, 0, 0.3, 1), (7, 0, -1.7, 1), (5, 0, 2.2, 1)]),
    ("ZEPImageShifterXY", (W, H, 11, 2, 0.45, 1.25, 1.0), [(W, 11, 0.45, 0), (H, 2, 1.25, 0), (1, 0, 0, 0)]),
    ("ZEPPureImageShifterXY", (18, H, 0.45, -3.5, -1.0), [(18, 0, 0.45, 1), (H, 0, -3.5, 1), (1, 0, 0, 1)]),
    ("ZEPImageShifterX", (W, 5, 0.8, 1.0), [(W, 5, 0.8, 0), (1, 0, 0, 0), (1, 0, 0, 0)]),
    ("ZEPPureImageShifterX", (17, -0.8, -1.0), [(17, 0, -0.8, 1), (1, 0, 0, 1), (1, 0, 0, 1)]),
    ("ZEPImageShifterY", (H, 3, 2.6, 1.0), [(1, 0, 0, 0), (H, 3, 2.6, 0), (1, 0, 0, 0)]),
    ("ZEPPureImageShifterY", (9, 0.6, 1.0), [(1, 0, 0, 1), (9, 0, 0.6, 1), (1, 0, 0, 1)]),
    ("ZEPImageShifterZ", (D, 2, 0.35, -1.0), [(1, 0, 0, 0), (1, 0, 0, 0), (D, 2, 0.35, 0)]),
    ("ZEPPureImageShifterZ", (D, 1.4, 2.5), [(1, 0, 0, 1), (1, 0, 0, 1), (D, 0, 1.4, 1)]),
]


@pytest.mark.parametrize("dtype", list(TOL), ids=["complex64", "complex128"])
@pytest.mark.parametrize("function, args, axes", MEMBERS, ids=[m[0] for m in MEMBERS])
def test_every_member_multiplies_by_its_ramp(host, rng, function, args, axes, dtype):
    pixels = random_complex(rng, (D, H, W), dtype)
    source = host.image(pixels)
    host.reset_counters()
    result = host.call(function, source, *args, None)  # a created destination
    assert_close(result.array(), pixels * ramp(pixels.shape, axes, args[-1]), dtype)
    np.testing.assert_array_equal(source.array(), pixels)
    assert host.counters()[f"zep::{function[3:]}DM"]["count"] == 1

    # In place, and a sub-area into a sub-area of one parent.
    assert host.call(function, source, *args, source) is source
    np.testing.assert_array_equal(source.array(), result.array())
    parent = host.image(np.tile(pixels, (1, 1, 2)))
    host.call(function, parent.box((0, 0, 0), (D, H, W)), *args, parent.box((0, 0, W), (D, H, 2 * W)))
    np.testing.assert_array_equal(parent.array()[..., W:], result.array())
    np.testing.assert_array_equal(parent.array()[..., :W], pixels)


@pytest.mark.parametrize("shape", [(8,), (9, 12), (5, 7), (4, 6, 3)], ids=str)
@pytest.mark.parametrize("sign", [1.0, -1.0])
def test_integer_shifts_are_rolls_in_both_layouts(host, rng, shape, sign):
    pixels = random_complex(rng, shape, np.complex128)
    shifts = (2, -3, 1)[: len(shape)]  # x, y, z; missing axes unshifted
    padded = shifts + (0,) * (3 - len(shape))
    periods = tuple(reversed(shape)) + (1,) * (3 - len(shape))
    pure = host.ZEPPureFFT(host.image(pixels), 1.0, None)
    moved = host.ZEPPureImageShifter(pure, *periods, *padded, sign, None)
    back = host.ZEPPureIFFT(moved, 1.0 / pixels.size, None).array()
    rolled = np.roll(pixels, [int(sign) * s for s in reversed(shifts)], axis=range(len(shape)))
    np.testing.assert_allclose(back, rolled, atol=1e-12)

    centres = [p // 2 for p in periods]
    centred = host.image(np.roll(pure.array(), list(reversed(centres[: len(shape)])), axis=range(len(shape))))
    host.ZEPImageShifter(centred, *periods, *centres, *padded, sign, centred)
    np.testing.assert_allclose(centred.array(), np.roll(moved.array(), [c for c in reversed(centres[: len(shape)])],
                                                        axis=range(len(shape))), atol=1e-10)


def test_fractional_shift_of_a_half_spectrum_is_the_band_limited_translation(host, rng):
    real = rng.standard_normal((6, 8))
    half = host.image(np.fft.rfft2(real))  # width 5 = 8 / 2 + 1; index 4 stands for frequency -4
    host.ZEPPureImageShifterXY(half, 8, 6, 0.37, -1.6, -1.0, half)  # numpy's exponent is negative: fSign -1
    expected = np.fft.rfft2(real) * ramp((6, 5), [(8, 0, 0.37, 1), (6, 0, -1.6, 1), (1, 0, 0, 1)], -1.0)
    np.testing.assert_allclose(half.array(), expected, atol=1e-12)


EXACT = [  # function, args, shape, expected sign pattern as a function of (y, x)
    ("ZEPPureImageShifterX", (8, 4.0, 1.0), (3, 8), lambda y, x: (-1) ** x),
    ("ZEPPureImageShifterX", (6, 3.0, -1.0), (6,), lambda y, x: (-1) ** x),
    ("ZEPImageShifterX", (8, 4, 4.0, 1.0), (2, 8), lambda y, x: (-1) ** x),
    ("ZEPPureImageShifterXY", (8, 4, 4.0, 2.0, 1.0), (4, 8), lambda y, x: (-1) ** (x + y)),
    ("ZEPPureImageShifterY", (10, 5.0, 1.0), (10, 1), lambda y, x: (-1) ** y),
    ("ZEPPureImageShifterXY", (5, 3, 0.0, 0.0, 1.0), (3, 5), lambda y, x: 1),
]


@pytest.mark.parametrize("function, args, shape, pattern", EXACT, ids=[f"{e[0]}{e[2]}" for e in EXACT])
def test_the_exact_path_flips_signs_bit_for_bit_with_and_without_simd(host, rng, function, args, shape, pattern):
    pixels = random_complex(rng, shape, np.complex64)
    pixels.flat[0] = np.nan
    y, x = np.indices((1,) * (2 - len(shape)) + shape)
    expected = (pixels.reshape(y.shape) * pattern(y, x)).reshape(shape)
    expected.flat[0] = np.nan
    for simd in (1, 0):
        host.ZEPSetUseSIMD(simd)
        result = host.call(function, host.image(pixels), *args, None).array()
        assert result.tobytes() == expected.tobytes() or np.array_equal(result, expected, equal_nan=True)
    host.ZEPSetUseSIMD(1)


def test_centre_three_needs_the_ramp_and_gives_minus_the_alternation(host, rng):
    pixels = random_complex(rng, (2, 8), np.complex128)
    result = host.ZEPImageShifterX(host.image(pixels), 8, 3, 4.0, 1.0, None).array()
    np.testing.assert_allclose(result, -pixels * (-1.0) ** np.arange(8), atol=1e-13)


@pytest.mark.parametrize("shape", [(4, 4), (5, 5), (6, 9), (12,), (3, 4, 5), (1, 7)], ids=str)
@pytest.mark.parametrize("dtype", list(TOL), ids=["complex64", "complex128"])
def test_centred_transforms(host, rng, shape, dtype):
    pixels = random_complex(rng, shape, dtype)
    source = host.image(pixels)
    spectrum = host.ZEPFFT(source, 1.0, None)
    pure = source.size * np.fft.ifftn(pixels.astype(np.complex128))
    assert_close(spectrum.array(), np.roll(pure, [n // 2 for n in shape], axis=range(len(shape))), dtype)
    for dim, n in enumerate(reversed(shape)):
        assert spectrum.calibration(dim).origin == n // 2 + 0.5
    back = host.ZEPIFFT(spectrum, 1.0 / source.size, spectrum)  # in place
    assert back is spectrum and back.calibration(0).origin == shape[-1] // 2 + 0.5  # a given destination keeps its own
    assert_close(back.array(), pixels, dtype)
    assert host.ZEPIFFT(spectrum, 1.0, None).calibration(0).origin == 0.0


def test_bad_input_is_refused_and_nothing_is_written(host, rng):
    c8 = host.image(random_complex(rng, (4, 6), np.complex64))
    c16 = host.image(random_complex(rng, (4, 6), np.complex128))
    real = host.image(rng.standard_normal((4, 6)).astype(np.float32))
    parent = host.image(random_complex(rng, (8, 8), np.complex64))
    cases = [
        ((c8, 6, 1.0, 1.0, c16), "All data type should be same Complex."),
        ((real, 6, 1.0, 1.0, None), "All data type should be same Complex."),
        ((real, 6, 1.0, 1.0, real), "All data type should be same Complex."),
        ((c8, 6, 1.0, 1.0, host.image(random_complex(rng, (4, 5), np.complex64))), "Images of different size cannot appear in this function."),
        ((c8, 6, 1.0, 1.0, host.image(random_complex(rng, (2, 4, 6), np.complex64))), "Images of different size cannot appear in this function."),
        ((parent.subarea(0, 0, 4, 6), 6, 1.0, 1.0, parent.subarea(2, 1, 6, 7)), "Subareas belonging to the same image cannot overlap."),
        ((c8, 0, 1.0, 1.0, None), "Periods of shifted axes should be positive."),
        ((c8, -6, 0.5, 1.0, c8), "Periods of shifted axes should be positive."),
    ]
    for args, message in cases:
        images = [a for a in args if isinstance(a, lumadex.Image)]
        before = [image.array() for image in images]
        with pytest.raises(lumadex.ScriptError) as failure:
            host.ZEPPureImageShifterX(*args)
        assert str(failure.value) == message
        for image, old in zip(images, before):
            np.testing.assert_array_equal(image.array(), old)
    with pytest.raises(lumadex.ScriptError, match="^Periods of shifted axes should be positive.$"):
        host.ZEPImageShifter(c8, 6, 4, 0, 0, 0, 0, 1.0, 0.0, 0.5, 1.0, c8)
    # A period of 0 on an axis without a shift is harmless.
    np.testing.assert_array_equal(host.ZEPPureImageShifter(c8, 6, 0, 0, 3.0, 0.0, 0.0, 1.0, None).array(),
                                  c8.array() * (-1.0) ** np.arange(6))
    with pytest.raises(lumadex.ScriptError, match="^All data type should be Complex 8 or Complex 16.$"):
        host.ZEPFFT(c8, 1.0, c16)


def test_the_example_moves_the_particle_as_asked_and_writes_its_picture(tmp_path):
    import os, re, subprocess, sys  # noqa: E401
    script = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "subpixel_shift.py")
    root = os.path.dirname(os.path.dirname(os.path.abspath(lumadex.__file__)))
    run = subprocess.run([sys.executable, script, str(tmp_path), "--size", "128"], capture_output=True, text=True,
                         timeout=120, env=dict(os.environ, PYTHONPATH=root))
    assert run.returncode == 0, run.stderr
    assert (tmp_path / "subpixel_shift.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
    moved = [float(v) for v in re.search(r"moved by \((\S+), (\S+)\)", run.stdout).groups()]
    assert moved == pytest.approx([0.37, -1.6], abs=0.05)
    assert float(re.search(r"fourier_shift: (\S+)", run.stdout).group(1)) < 1e-10
