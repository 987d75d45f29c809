"""The element-wise functions (ZEPSqrt, ZEPAdd, ZEPSinCos ...) against numpy and scipy.special."""

import ctypes

import mpmath
import numpy as np
import pytest
import scipy.special as sp

import lumadex

BIR = "Data type should be Binary, Integer or Real."
NOT_COMPLEX = "Data type should be Complex."
SIZE = "Images of different size cannot appear in this function."


def round_half_away(x):
    t = np.trunc(x)
    return t + np.where(np.abs(x - t) >= 0.5, np.sign(x), 0)


# name: (oracle in float64/complex128, real domain, complex domain or None for real-only)
UNARY = {
    "Sqr": (np.square, (-10, 10), None), "Abs": (np.abs, (-10, 10), None),
    "Inv": (np.reciprocal, (0.1, 10), None), "Sqrt": (np.sqrt, (0, 100), 2),
    "InvSqrt": (lambda x: 1 / np.sqrt(x), (0.01, 100), None), "Cbrt": (np.cbrt, (-100, 100), None),
    "InvCbrt": (lambda x: 1 / np.cbrt(x), (0.01, 100), None),
    "Pow2o3": (lambda x: np.cbrt(x) ** 2, (-100, 100), None), "Pow3o2": (lambda x: x ** 1.5, (0, 100), None),
    "Exp": (np.exp, (-20, 20), 2), "Expm1": (np.expm1, (-1, 1), None), "Ln": (np.log, (0.01, 100), 2),
    "Log10": (np.log10, (0.01, 100), 2), "Log1p": (np.log1p, (-0.5, 10), None),
    "Cos": (np.cos, (-3, 3), 2), "Sin": (np.sin, (-3, 3), 2), "Tan": (np.tan, (-1.4, 1.4), 1),
    "Cosh": (np.cosh, (-10, 10), 2), "Sinh": (np.sinh, (-10, 10), 2), "Tanh": (np.tanh, (-5, 5), 1),
    "Acos": (np.arccos, (-1, 1), 2), "Asin": (np.arcsin, (-1, 1), 2), "Atan": (np.arctan, (-10, 10), 2),
    "Acosh": (np.arccosh, (1, 100), 2), "Asinh": (np.arcsinh, (-10, 10), 2),
    "Atanh": (np.arctanh, (-0.9, 0.9), 2), "Erf": (sp.erf, (-3, 3), None), "Erfc": (sp.erfc, (-3, 5), None),
    "ErfInv": (sp.erfinv, (-0.999, 0.999), None), "Floor": (np.floor, (-100, 100), None),
    "Ceil": (np.ceil, (-100, 100), None), "Trunc": (np.trunc, (-100, 100), None),
    "Round": (round_half_away, (-100, 100), None), "NearbyInt": (np.rint, (-100, 100), None),
    "Rint": (np.rint, (-100, 100), None),
}
BINARY = {
    "Add": (np.add, (-10, 10), (-10, 10), True), "Sub": (np.subtract, (-10, 10), (-10, 10), True),
    "Mul": (np.multiply, (-10, 10), (-10, 10), True), "Div": (np.divide, (-10, 10), (0.5, 10), False),
    "Pow": (np.power, (0.1, 10), (-3, 3), True), "Hypot": (np.hypot, (-10, 10), (-10, 10), False),
    "Atan2": (np.arctan2, (-10, 10), (-10, 10), False),
}
RTOL = {np.float32: 3e-7, np.float64: 5e-16, np.complex64: 2e-6, np.complex128: 2e-14}
SHAPES = [(37,), (5, 9), (2, 3, 7), (700, 600)]  # the last one large enough to be split over threads


def samples(rng, dtype, low, high, shape):
    x = rng.uniform(low, high, shape)
    if np.dtype(dtype).kind == "c":
        x = x + 1j * rng.uniform(low, high, shape)
    return x.astype(dtype)


def assert_matches(got, want, dtype):
    """Within a few units of the result's precision, relative to the modulus."""
    want = np.asarray(want)
    scale = np.maximum(np.abs(want), np.finfo(np.dtype(dtype)).tiny)
    worst = np.max(np.abs(got.astype(want.dtype) - want) / scale)
    assert worst <= 4 * RTOL[dtype], f"relative error {worst:.3g}"


UNARY_CASES = [(name, dtype) for name, (_, _, cplx) in UNARY.items() for dtype in
               (np.float32, np.float64) + ((np.complex64, np.complex128) if cplx else ())] + \
              [("Conj", np.complex64), ("Conj", np.complex128)]


@pytest.mark.parametrize("name, dtype", UNARY_CASES, ids=lambda v: getattr(v, "__name__", v))
def test_unary_operations_match_numpy(host, rng, name, dtype):
    oracle, domain, cplx = UNARY.get(name, (np.conj, None, 2))
    for shape in SHAPES if name in ("Exp", "Rint", "Conj") else SHAPES[:3]:
        low, high = (-cplx, cplx) if np.dtype(dtype).kind == "c" else domain
        x = samples(rng, dtype, low, high, shape)
        if name in ("Round", "NearbyInt", "Rint"):
            x.flat[::3] = np.round(x.flat[::3] * 2) / 2  # halves
        source = host.image(x)
        result = host.call("ZEP" + name, source, None)
        assert result.data_type == source.data_type
        wide = np.complex128 if np.dtype(dtype).kind == "c" else np.float64
        assert_matches(result.array(), oracle(x.astype(wide)), dtype)
        np.testing.assert_array_equal(source.array(), x)


@pytest.mark.parametrize("dtype, far", [(np.float32, 10), (np.float64, 27)])
def test_error_function_tails(host, dtype, far):
    """erfc out to where it leaves the type (subnormal results included) and
    erfinv within a few ulps of +-1, where the kernels switch to tail pieces.
    mpmath at 40 digits is the oracle: scipy's erfc underflows early."""

    @np.vectorize
    def exact(f, v):
        with mpmath.workdps(40):
            return float(f(mpmath.mpf(float(v))))
    x = np.linspace(-6, far, 1001).astype(dtype)
    got = host.call("ZEPErfc", host.image(x), None).array().astype(np.float64)
    want = exact(mpmath.erfc, x)
    tiny = np.finfo(np.dtype(dtype)).smallest_subnormal
    assert np.all(np.abs(got - want) <= 4 * RTOL[dtype] * want + tiny)
    bits = np.finfo(np.dtype(dtype)).nmant + 1
    y = np.concatenate([1 - 2.0 ** -np.arange(1, bits + 1), np.linspace(0.99, 0.9999, 51)]).astype(dtype)
    y = np.concatenate([y, -y])
    inverse = host.call("ZEPErfInv", host.image(y), None).array()
    assert_matches(inverse, exact(mpmath.erfinv, y), dtype)


BINARY_CASES = [(name, dtype) for name, (_, _, _, cplx) in BINARY.items()
                for dtype in (np.float32, np.float64) + ((np.complex64, np.complex128) if cplx else ())] + \
               [("MulByConj", np.complex64), ("MulByConj", np.complex128)]


@pytest.mark.parametrize("name, dtype", BINARY_CASES, ids=lambda v: getattr(v, "__name__", v))
def test_binary_operations_match_numpy(host, rng, name, dtype):
    oracle, da, db, _ = BINARY.get(name, (lambda a, b: a * np.conj(b), (-3, 3), (-3, 3), True))
    if np.dtype(dtype).kind == "c":
        da, db = (0.2, 2), (-2, 2)
    for shape in SHAPES if name == "Add" else SHAPES[:3]:
        a, b = samples(rng, dtype, *da, shape), samples(rng, dtype, *db, shape)
        result = host.call("ZEP" + name, host.image(a), host.image(b), None)
        assert result.data_type == lumadex.data_type_of(dtype)
        wide = np.complex128 if np.dtype(dtype).kind == "c" else np.float64
        assert_matches(result.array(), oracle(a.astype(wide), b.astype(wide)), dtype)


# (function, source types, given destination type or None) -> result type or the message
RULES = [
    ("ZEPSqrt", ["Real8"], None, "Real8"), ("ZEPSqrt", ["Complex8"], None, "Complex8"),
    ("ZEPSqrt", ["Int16"], None, "Real4"), ("ZEPSqrt", ["Binary"], None, "Real4"),
    ("ZEPSqrt", ["Real4"], "Complex16", "Complex16"), ("ZEPExp", ["Complex16"], "Real4", NOT_COMPLEX),
    ("ZEPSqr", ["Complex8"], None, BIR), ("ZEPSqr", ["Real4"], "Int32", BIR), ("ZEPSqr", ["UInt8"], "Real8", "Real8"),
    ("ZEPConj", ["Real4"], None, NOT_COMPLEX), ("ZEPConj", ["Real4"], "Complex8", "Complex8"),
    ("ZEPAdd", ["Real4", "Real8"], None, "Real8"), ("ZEPAdd", ["Real8", "Real4"], None, "Real8"),
    ("ZEPAdd", ["Real4", "Int16"], None, "Real4"), ("ZEPAdd", ["Int8", "Int8"], None, "Real4"),
    ("ZEPAdd", ["Int16", "Real4"], None, BIR), ("ZEPAdd", ["Binary", "UInt16"], None, "Real4"),
    ("ZEPAdd", ["Real4", "Complex8"], None, "Complex8"), ("ZEPAdd", ["Complex8", "Complex16"], None, "Complex16"),
    ("ZEPAdd", ["Real8", "Real8"], "Complex8", "Complex8"), ("ZEPDiv", ["Real4", "Real4"], "Complex8", BIR),
    ("ZEPMulByConj", ["Real4", "Real4"], None, NOT_COMPLEX), ("ZEPMulByConj", ["Real4", "Complex8"], None, "Complex8"),
    ("ZEPAbs", ["Complex16"], None, "Real8"), ("ZEPAbs", ["Complex8"], None, "Real4"),
    ("ZEPAbs", ["Complex8"], "Real8", "Real8"), ("ZEPAbs", ["Complex8"], "Complex8", "Data type of imgDst should be Real."),
    ("ZEPCIS", ["Real8"], None, "Complex16"), ("ZEPCIS", ["Real4"], None, "Complex8"),
    ("ZEPCIS", ["Int16"], None, "Complex8"), ("ZEPCIS", ["Real4"], "Real4", "Invalid data type."),
    ("ZEPPowx", ["Int16"], None, "Real4"), ("ZEPPowx", ["Complex8"], None, BIR), ("ZEPPowx", ["Real4"], "Real8", "Real8"),
]


@pytest.mark.parametrize("function, sources, destination, expected", RULES, ids=str)
def test_type_and_precision_rules(host, rng, function, sources, destination, expected):
    arrays = [(rng.uniform(1, 3, (4, 6)) + (1j if lumadex.as_data_type(t).dtype.kind == "c" else 0))
              .astype(lumadex.as_data_type(t).dtype) for t in sources]
    images = [host.image(a) for a in arrays]
    given = host.new_image("given", destination, 4, 6) if destination else None
    arguments = images[:1] + [2.0] + [given] if function == "ZEPPowx" else images + [given]
    before = given.array() if given else None
    if expected.endswith("."):
        with pytest.raises(lumadex.ScriptError) as failure:
            host.call(function, *arguments)
        assert str(failure.value) == expected
        if given:
            np.testing.assert_array_equal(given.array(), before)
    else:
        result = host.call(function, *arguments)
        assert result.data_type == lumadex.as_data_type(expected)
        assert given is None or result.is_same(given)
    for image, array in zip(images, arrays):  # sources keep their type and pixels
        np.testing.assert_array_equal(image.array(), array)


@pytest.mark.parametrize("call", [
    lambda h, small, big: h.ZEPSqrt(big, small), lambda h, small, big: h.ZEPAdd(big, small, None),
    lambda h, small, big: h.ZEPAdd(big, big, small), lambda h, small, big: h.ZEPPowx(big, 2.0, small),
    lambda h, small, big: h.ZEPAbs(h.image(np.ones(12, np.complex64)), small),
    lambda h, small, big: h.ZEPSinCos(big, lumadex.Ref(small), lumadex.Ref()),
])
def test_fewer_pixels_are_refused_before_anything_is_written(host, call):
    small, big = host.image(np.full((3, 3), 7, np.float32)), host.image(np.ones((3, 4), np.float32))
    with pytest.raises(lumadex.ScriptError, match=SIZE):
        call(host, small, big)
    np.testing.assert_array_equal(small.array(), np.full((3, 3), 7, np.float32))


def test_equal_counts_in_other_shapes_pair_elements_in_order(host, rng):
    a, b = rng.uniform(size=(4, 6)), rng.uniform(size=(3, 8))
    destination = host.new_image("flat", "Real8", 24)
    host.ZEPAdd(host.image(a), host.image(b), destination)
    np.testing.assert_allclose(destination.array(), a.ravel() + b.ravel(), rtol=1e-15)


@pytest.mark.parametrize("large", [False, True])
def test_sub_areas_are_read_and_written_where_they_lie(host, rng, large):
    n = 600 if large else 20
    pixels = rng.uniform(0, 10, (n, n + 3))
    parent = host.image(pixels)
    h = n // 2 - 1
    source, target = parent.subarea(0, 1, h, h + 1), parent.subarea(h + 1, 2, 2 * h + 1, h + 2)
    host.ZEPSqrt(source, target)
    expected = pixels.copy()
    expected[h + 1:2 * h + 1, 2:h + 2] = np.sqrt(pixels[0:h, 1:h + 1])
    np.testing.assert_allclose(parent.array(), expected, rtol=1e-15)

    # Overlapping but shifted: every result comes from the original pixels.
    parent = host.image(pixels)
    host.ZEPAdd(parent.subarea(0, 0, h, h), parent.subarea(1, 1, h + 1, h + 1), parent.subarea(1, 0, h + 1, h))
    expected = pixels.copy()
    expected[1:h + 1, 0:h] = pixels[0:h, 0:h] + pixels[1:h + 1, 1:h + 1]
    np.testing.assert_allclose(parent.array(), expected, rtol=1e-15)

    # In place.
    area = parent.subarea(2, 2, h, h)
    before = parent.array()
    host.ZEPNearbyInt(area, area)
    before[2:h, 2:h] = np.rint(before[2:h, 2:h])
    np.testing.assert_array_equal(parent.array(), before)


@pytest.mark.parametrize("function, oracle", [
    ("ZEPSinCos", lambda x: (np.sin(x), np.cos(x))), ("ZEPModf", lambda x: (np.trunc(x), x - np.trunc(x)))])
@pytest.mark.parametrize("dtype", [np.float32, np.float64, np.int16])
def test_two_results_into_made_and_given_outputs(host, rng, function, oracle, dtype):
    x = rng.uniform(-20, 20, (5, 7)).astype(dtype)
    source = host.image(x)
    first, second = lumadex.Ref(), lumadex.Ref()
    assert host.call(function, source, first, second) is None
    want = oracle(x.astype(np.float64))
    expected_type = lumadex.DataType.Real8 if dtype is np.float64 else lumadex.DataType.Real4
    for ref, values in zip((first, second), want):
        assert ref.value.data_type == expected_type and not ref.value.is_same(source)
        assert_matches(ref.value.array(), values, expected_type.dtype.type)
    given = host.image(np.zeros_like(x))
    second = lumadex.Ref()
    host.call(function, source, lumadex.Ref(given), second)
    assert_matches(given.array(), want[0], given.dtype.type)
    np.testing.assert_array_equal(source.array(), x)


def test_two_results_checks_and_modf_signs(host):
    source = host.image(np.array([-2.75, 2.5, -0.0, np.inf]))
    val, rem = lumadex.Ref(), lumadex.Ref()
    host.ZEPModf(source, val, rem)
    np.testing.assert_array_equal(val.value.array(), [-2, 2, -0.0, np.inf])
    np.testing.assert_array_equal(np.signbit(rem.value.array()), [True, False, True, False])
    np.testing.assert_array_equal(rem.value.array(), [-0.75, 0.5, 0, 0])
    wrong_size = host.image(np.zeros(5, np.float32))  # the size is checked before the type
    with pytest.raises(lumadex.ScriptError, match=SIZE):
        host.ZEPSinCos(source, lumadex.Ref(wrong_size), lumadex.Ref())
    with pytest.raises(lumadex.ScriptError, match="All data type should be same."):
        host.ZEPSinCos(source, lumadex.Ref(host.image(np.zeros(4, np.float32))), lumadex.Ref())
    with pytest.raises(lumadex.ScriptError, match=BIR):
        host.ZEPModf(host.image(np.zeros(4, np.complex64)), lumadex.Ref(), lumadex.Ref())


def test_powx_in_both_precisions(host, rng):
    x = rng.uniform(0, 10, 50)
    single = host.image(x.astype(np.float32))
    np.testing.assert_allclose(host.ZEPPowx(single, 0.5, None).array(), host.ZEPSqrt(single, None).array(), rtol=2e-7)
    double = host.new_image("double", "Real8", 50)
    exponent = 1 / 3  # not a float: a rounded exponent would show at 1e-9
    host.ZEPPowx(single, exponent, double)
    assert_matches(double.array(), np.power(x.astype(np.float32).astype(np.float64), exponent), np.float64)


@pytest.mark.parametrize("shape", [(5, 8), (700, 600)])
def test_nearbyint_and_rint_round_in_the_current_mode(host, shape):
    libm = ctypes.CDLL("libm.so.6")
    x = np.linspace(-3.75, 3.75, np.prod(shape)).reshape(shape)
    image, parent = host.image(x), host.image(np.zeros((shape[0] + 2, shape[1])))
    area = parent.subarea(1, 0, shape[0] + 1, shape[1])  # a strided walk, split over threads when large
    libm.fesetround(0x400)  # FE_DOWNWARD
    try:
        down, rint = host.ZEPNearbyInt(image, None), host.ZEPRint(image, area)
    finally:
        libm.fesetround(0)
    np.testing.assert_array_equal(down.array(), np.floor(x))
    assert rint.is_same(area)
    np.testing.assert_array_equal(parent.array()[1:-1], np.floor(x))


def test_counters_and_failures(host):
    host.reset_counters()
    image = host.image(np.ones(4, np.float32))
    host.ZEPSqrt(image, None), host.ZEPExp(image, None), host.ZEPAdd(image, image, None)
    host.ZEPPowx(image, 2.0, None), host.ZEPCIS(image, None), host.ZEPSinCos(image, lumadex.Ref(), lumadex.Ref())
    with pytest.raises(lumadex.ScriptError, match=BIR):
        host.ZEPSqr(image, host.new_image("c", "Complex8", 4))
    with pytest.raises(lumadex.ScriptError, match="Data type of imgDst should be Real."):  # special: not counted
        host.ZEPAbs(host.image(np.ones(4, np.complex64)), host.new_image("c", "Complex8", 4))
    counters = host.counters()
    assert set(counters) == {"zep::vml::vml_expr1DM", "zep::vml::vml_expr2DM"}
    assert counters["zep::vml::vml_expr1DM"]["count"] == 3 and counters["zep::vml::vml_expr2DM"]["count"] == 1
