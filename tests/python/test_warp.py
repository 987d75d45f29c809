"""The linear warps and the affine warp against a numpy reference of their formulas.

Sample position s = d / c - offset (rounded to float for single-precision
pixels), neighbours floor(s) and floor(s) + 1 clamped to the source; linear
(1 - f)*g0 + f*g1, bilinear g00 + fx*a + fy*b + fx*fy*c, trilinear
P1*fz + P0*(1 - fz); the affine warp fills where the 2 x 2 neighbourhood leaves
the source. Arrays are numpy order (z, y, x); factors and axes host order (x, y, z).
"""

import math

import numpy as np
import pytest

import lumadex

# pixel dtype: (position, weight, value, difference) dtypes; the results match to the last bit
ARITHMETIC = {
    np.float32: (np.float32, np.float64, np.float64, np.float32),
    np.float64: (np.float64, np.float64, np.float64, np.float64),
    np.complex64: (np.float32, np.float32, np.complex64, np.complex64),
    np.complex128: (np.float64, np.float64, np.complex128, np.complex128),
}
LINEAR_TYPES = [np.float32, np.complex64, np.complex128]
SIZE_MESSAGE = "Images of different size cannot appear in this function."
# operation: (axes warped, counter of the form without offset, prefix of a created image)
OPERATIONS = {"X": ({0}, "LinearWarpX"), "Y": ({1}, "LinearWarpY"), "Z": ({2}, "LinearWarpZ"),
              "XY": ({0, 1}, "LinearWarp"), "": ({0, 1, 2}, "LinearWarp")}


def positions(count, coef, offset, n, dtype):
    s = (np.arange(count) / coef - np.float64(np.float32(offset))).astype(ARITHMETIC[dtype][0])
    fraction = s - np.floor(s)
    i = np.floor(s).astype(np.int64)
    return np.clip(i, 0, n - 1), np.clip(i + 1, 0, n - 1), fraction


def linear(g0, g1, f, dtype):
    _, weight, value, _ = ARITHMETIC[dtype]
    w = f.astype(weight)
    return g0.astype(value) * (weight(1) - w) + g1.astype(value) * w


def bilinear(g00, g10, g01, g11, fx, fy, dtype):
    _, weight, value, difference = ARITHMETIC[dtype]
    g00, g10, g01, g11 = (g.astype(difference) for g in (g00, g10, g01, g11))
    a, b = g10 - g00, g01 - g00
    c = g11 - ((b + a) + g00)
    wx, wy = fx.astype(weight), fy.astype(weight)
    return g00.astype(value) + wx * a.astype(value) + wy * b.astype(value) + (wx * wy) * c.astype(value)


def resample(src, axes, coefs, offset, shape, leading=False):
    """The warped part of a destination of `shape` (3-D arrays), and its extent."""
    dtype = src.dtype.type
    index, fraction, extent = {}, {}, {}
    for a in range(3):
        n = 2 - a  # numpy axis of host axis a
        if a in axes:
            i0, i1, f = positions(shape[n], coefs[a], offset, src.shape[n], dtype)
            index[a], fraction[a] = (i0, i1), f.reshape([-1 if k == n else 1 for k in range(3)])
        else:
            index[a] = (np.arange(1 if leading else min(src.shape[n], shape[n])),) * 2
        extent[a] = len(index[a][0])

    def g(**which):  # the neighbours 0 or 1 along x, y, z
        return src[np.ix_(*(index[a][which.get("xyz"[a], 0)] for a in (2, 1, 0)))]

    p, *rest = sorted(axes)
    q = rest[0] if rest else None
    P, Q = "xyz"[p], "xyz"[q] if rest else None
    if len(axes) == 1:
        value = linear(g(), g(**{P: 1}), fraction[p], dtype)
    else:
        def plane(**z):
            return bilinear(g(**z), g(**{P: 1}, **z), g(**{Q: 1}, **z), g(**{P: 1, Q: 1}, **z),
                            fraction[p], fraction[q], dtype)
        value = plane() if len(axes) == 2 else _trilinear(plane(z=0), plane(z=1), fraction[2], dtype)
    return value.astype(dtype), tuple(extent[a] for a in (2, 1, 0))


def _trilinear(p0, p1, fz, dtype):
    weight = ARITHMETIC[dtype][1]
    return p1 * fz.astype(weight) + p0 * (weight(1) - fz.astype(weight))


def random_pixels(rng, shape, dtype):
    pixels = rng.standard_normal(shape)
    if np.dtype(dtype).kind == "c":
        pixels = pixels + 1j * rng.standard_normal(shape)
    return pixels.astype(dtype)


def assert_close(got, want):
    assert got.dtype == want.dtype
    np.testing.assert_array_equal(got, want)


def warp(host, operation, source, coefs, offset, destination):
    """Calls ZEPLinearWarp<operation>, the form with fOffset when offset is not None."""
    if operation in ("X", "Y", "Z"):
        factor = coefs[0 if operation == "X" else 1 if operation == "Y" else 2]
    else:
        factor = host.image(np.array(coefs, np.float64))
    args = (source, factor) + (() if offset is None else (offset,)) + (destination,)
    return host.call("ZEPLinearWarp" + operation, *args)


def as3d(a):
    return a.reshape((1,) * (3 - a.ndim) + a.shape)


@pytest.mark.parametrize("dtype", LINEAR_TYPES, ids=lambda t: t.__name__)
@pytest.mark.parametrize("operation", list(OPERATIONS))
@pytest.mark.parametrize("shape, coefs, offset", [
    ((3, 6, 8), (1.7, 0.6, 1.5), None), ((4, 7, 5), (0.45, 2.0, 0.7), 0.37), ((2, 9, 10), (1.0, 1.0, 1.0), -1.6),
    ((2, 130, 151), (1.3, 1.1, 1.5), 0.2),  # large enough for the parallel rows
])
def test_created_destinations_match_the_reference(host, rng, dtype, operation, shape, coefs, offset):
    axes, prefix = OPERATIONS[operation]
    pixels = random_pixels(rng, shape, dtype)
    source = host.image(pixels, "cell")
    result = warp(host, operation, source, coefs, offset, None)
    want_shape = tuple(math.ceil(shape[2 - a] * coefs[a]) if a in axes else shape[2 - a] for a in (2, 1, 0))
    assert (result.name, result.shape, result.dtype) == (prefix + " of cell", want_shape, np.dtype(dtype))
    value, extent = resample(pixels, axes, coefs, offset or 0.0, want_shape)
    assert_close(result.array(), value)
    np.testing.assert_array_equal(source.array(), pixels)


@pytest.mark.parametrize("dtype", LINEAR_TYPES, ids=lambda t: t.__name__)
@pytest.mark.parametrize("shape, axes", [
    ((1,), {0}), ((6,), {0}), ((7, 1), {1}), ((5, 1, 1), {2}), ((4, 5), {0, 1}), ((4, 1, 5), {0, 2}),
    ((4, 5, 1), {1, 2}), ((3, 4, 5), {0, 1, 2}),
])
def test_linear_warp_interpolates_over_the_axes_longer_than_one_pixel(host, rng, dtype, shape, axes):
    pixels = random_pixels(rng, shape, dtype)
    coefs = (1.5, 2.5, 2.0)
    result = warp(host, "", host.image(pixels), coefs, 0.25, None)
    value, extent = resample(as3d(pixels), axes, coefs, 0.25, as3d(result.array()).shape, leading=True)
    got = as3d(result.array())
    assert_close(got[tuple(slice(0, e) for e in extent)], value)
    assert not got[tuple(slice(e, None) for e in extent)].any()  # nothing written outside the warped line or plane


@pytest.fixture(params=[1, 0], ids=["simd", "baseline"])
def simd(request, host):
    """Runs a test on the vectorised and on the baseline row functions."""
    host.ZEPSetUseSIMD(request.param)
    yield
    host.ZEPSetUseSIMD(1)


@pytest.mark.parametrize("operation", list(OPERATIONS))
def test_given_destinations_sub_areas_and_in_place(host, rng, simd, operation):
    axes, _ = OPERATIONS[operation]
    coefs, shape = (1.3, 0.8, 1.0), (3, 11, 12)
    pixels = random_pixels(rng, shape, np.float32)
    # A given destination's own size along a warped axis sets the grid.
    out_shape = tuple(shape[2 - a] + (3 if a in axes else 0) for a in (2, 1, 0))
    destination = host.image(np.zeros(out_shape, np.float32))
    assert warp(host, operation, host.image(pixels), coefs, 0.5, destination) is destination
    assert_close(destination.array(), resample(pixels, axes, coefs, 0.5, out_shape)[0])
    # In place: the same result as into another image.
    image = host.image(pixels)
    warp(host, operation, image, coefs, 0.5, image)
    assert_close(image.array(), resample(pixels, axes, coefs, 0.5, shape)[0])
    # Overlapping boxes of one image: only the destination box changes.
    parent = host.image(pixels)
    source, target = parent.box((0, 1, 2), (3, 9, 10)), parent.box((0, 3, 1), (3, 11, 9))
    warp(host, operation, source, coefs, None, target)
    expected = pixels.copy()
    expected[:, 3:11, 1:9] = resample(pixels[:, 1:9, 2:10], axes, coefs, 0.0, (3, 8, 8))[0]
    assert_close(parent.array(), expected)


def affine_reference(src, a, b, shape, fill):
    dtype = src.dtype.type
    y, x = np.mgrid[0:shape[0], 0:shape[1]].astype(np.float64)
    u = (x * a[0] + y * a[1] + a[2]).astype(dtype)
    v = (x * b[0] + y * b[1] + b[2]).astype(dtype)
    inside = (u >= 0) & (u < src.shape[1] - 1) & (v >= 0) & (v < src.shape[0] - 1)
    i, j = np.where(inside, np.floor(u), 0).astype(int), np.where(inside, np.floor(v), 0).astype(int)
    value = bilinear(src[j, i], src[j, i + 1], src[j + 1, i], src[j + 1, i + 1], u - np.floor(u), v - np.floor(v), dtype)
    return np.where(inside, value.astype(dtype), dtype(fill))


@pytest.mark.parametrize("dtype", [np.float32, np.float64], ids=lambda t: t.__name__)
@pytest.mark.parametrize("a, b", [
    ((1, 0, 0), (0, 1, 0)), ((1, 0, 0.5), (0, 1, 0)), ((1, 0, -1), (0, 1, 0)),
    ((math.cos(0.3), -math.sin(0.3), 4.2), (math.sin(0.3), math.cos(0.3), -2.7)), ((0.7, 0.2, 1.1), (-0.1, 1.6, 0.3)),
])
def test_affine_warp_matches_the_reference(host, rng, simd, dtype, a, b):
    pixels = random_pixels(rng, (2, 13, 16), dtype)
    coefs = host.image(np.array([a, b], np.float64))
    source = host.image(pixels, "grid")
    result = host.ZEPAffineWarp(source, coefs, None, -3)
    assert (result.name, result.shape) == ("AffineWarp of grid", pixels.shape)
    assert_close(result.array()[0], affine_reference(pixels[0], a, b, (13, 16), -3))
    assert not result.array()[1].any()  # only the first plane is warped
    # A given destination of its own size, and the source itself.
    given = host.image(np.ones((9, 21), dtype))
    host.ZEPAffineWarp(source, coefs, given, 7)
    assert_close(given.array(), affine_reference(pixels[0], a, b, (9, 21), 7))
    host.ZEPAffineWarp(source, coefs, source, 7)
    assert_close(source.array()[0], affine_reference(pixels[0], a, b, (13, 16), 7))
    np.testing.assert_array_equal(source.array()[1], pixels[1])


def test_bad_input_gives_the_message_and_changes_nothing(host, rng):
    real4, real8 = host.image(random_pixels(rng, (5, 6), np.float32)), host.image(random_pixels(rng, (5, 6), np.float64))
    complex8 = host.image(random_pixels(rng, (5, 6), np.complex64))
    coefs = host.image(np.ones((2, 3)))
    cases = [
        ("ZEPLinearWarpX", (real8, 2.0, None), "Image type not supported, it must be REAL4 or COMPLEX"),
        ("ZEPLinearWarpX", (real4, 2.0, complex8), "Images of different type."),
        ("ZEPLinearWarpY", (real4, 2.0, host.image(np.zeros((5, 7), np.float32))), SIZE_MESSAGE),
        ("ZEPLinearWarpZ", (complex8, 2.0, 0.5, host.image(np.zeros((2, 5, 5), np.complex64))), SIZE_MESSAGE),
        ("ZEPLinearWarpXY", (real4, host.image(np.ones(1)), None), "Size of imgCoefs should be 3x1."),
        ("ZEPLinearWarpXY", (real4, host.image(np.ones(2, np.float32)), None), "Data type of imgCoefs should be Real 8."),
        ("ZEPLinearWarp", (real4, host.image(np.ones(3, np.float32)), None), "Data type of imgCoefs should be Real 8."),
        ("ZEPLinearWarp", (real4, host.image(np.ones(2)), 0.5, None), "Size of imgCoefs should be 3x1."),
        ("ZEPAffineWarp", (complex8, coefs, None, 0), "Image type not supported, it must be REAL"),
        ("ZEPAffineWarp", (real4, coefs, real8, 0), "Images of different type."),
        ("ZEPAffineWarp", (real4, host.image(np.ones((1, 3))), None, 0), "Size of imgCoefs should be 3x2."),
        ("ZEPAffineWarp", (real4, host.image(np.ones((2, 3), np.float32)), None, 0),
         "Data type of imgCoefs should be Real 8."),
        ("ZEPLinearWarpX", (real4, 1.0, float("nan"), None), "The offset must be finite."),
        ("ZEPLinearWarpX", (real4, 1e12, None), "The warped image would be too large."),
        ("ZEPLinearWarp", (real4, host.image(np.array([1e8, 1.0, 1.0])), None), "The warped image would be too large."),
    ]
    cases += [("ZEPLinearWarpX", (complex8, factor, None), "Scale factors must be finite and greater than zero.")
              for factor in (0.0, -1.5, float("inf"), float("nan"))]
    cases += [("ZEPLinearWarpXY", (real4, host.image(np.array([2.0, factor])), real4),
               "Scale factors must be finite and greater than zero.") for factor in (0.0, -1.0)]
    images = [real4, real8, complex8]
    before = [image.array() for image in images]
    for function, args, message in cases:
        with pytest.raises(lumadex.ScriptError) as failure:
            host.call(function, *args)
        assert str(failure.value) == message, function
    for image, pixels in zip(images, before):
        np.testing.assert_array_equal(image.array(), pixels)


def test_the_two_forms_reach_their_own_handlers(host):
    host.reset_counters()
    image = host.image(np.ones((4, 4), np.float32))
    host.ZEPLinearWarpX(image, 2.0, None)
    host.ZEPLinearWarpX(image, 2.0, 0.5, None)
    with pytest.raises(lumadex.ScriptError):
        host.ZEPLinearWarpX(image, 2.0, 0.5, host.image(np.ones((3, 4), np.float32)))
    counters = host.counters()
    assert (counters["LinearWarpXDM"]["count"], counters["LinearWarpXOffsetDM"]["count"]) == (1, 2)
