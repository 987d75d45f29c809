"""lumadex.math and lumadex.special (the vector-math layer as numpy ufuncs) against numpy, scipy.special and mpmath."""

import threading
from decimal import Decimal

import mpmath
import numpy as np
import pytest
import scipy.special as sp

import lumadex
from lumadex import math as lm
from lumadex import special as ls

INF = np.inf
REAL = [np.float32, np.float64]
COMPLEX = [np.complex64, np.complex128]


def _log_max(info):
    return [np.log(info.max), np.log(info.tiny), np.log(info.smallest_subnormal)]


# Real functions of one argument: (domain, points the sample crowds in on: a list or a function of finfo).
UNARY = {
    "exp": ((-INF, INF), _log_max), "expm1": ((-INF, INF), _log_max),
    "log": ((0, INF), [1.0]), "log10": ((0, INF), [1.0, 10.0]), "log1p": ((-1, INF), [-1.0]),
    "sqrt": ((0, INF), [1.0]), "cbrt": ((-INF, INF), [1.0]),
    # (sin and cos: also just below 2^20, the fast reduction's last multiples of pi/2)
    "sin": ((-INF, INF), [np.pi, 333333 * np.pi, 1e6 * np.pi]),
    "cos": ((-INF, INF), [np.pi / 2, 333333 * np.pi + np.pi / 2, 1e6 * np.pi + np.pi / 2]),
    "tan": ((-INF, INF), [np.pi / 2, 201 * np.pi / 2]), "arcsin": ((-1, 1), [1.0, -1.0]),
    "arccos": ((-1, 1), [1.0, -1.0]), "arctan": ((-INF, INF), [1.0]),
    "sinh": ((-INF, INF), lambda i: [np.log(i.max) + 0.69]), "cosh": ((-INF, INF), lambda i: [np.log(i.max) + 0.69]),
    "tanh": ((-INF, INF), [1.0]), "arcsinh": ((-INF, INF), [1.0]), "arccosh": ((1, INF), [1.0]),
    "arctanh": ((-1, 1), [1.0, -1.0]),
    "erf": ((-INF, INF), [0.5, 1.0, 6.0]), "erfc": ((-INF, INF), [1.0, 26.0, 9.0]), "erfinv": ((-1, 1), [1.0, -1.0]),
}
SPECIAL = {"erf": mpmath.erf, "erfc": mpmath.erfc, "erfinv": mpmath.erfinv}
BINARY = {"power": ((0, INF), (-60, 60)), "hypot": ((-INF, INF), (-INF, INF)), "arctan2": ((-INF, INF), (-INF, INF))}
# Results that are exact or correctly rounded: bit for bit numpy's.
EXACT_UNARY = ["square", "reciprocal", "absolute", "fabs", "floor", "ceil", "trunc", "rint"]
COMPLEX_UNARY = ["exp", "log", "log10", "sqrt", "sin", "cos", "tan", "arcsin", "arccos", "arctan",
                 "sinh", "cosh", "tanh", "arcsinh", "arccosh", "arctanh"]
SPECIAL_VALUES = [0.0, -0.0, INF, -INF, np.nan, 1.0, -1.0, 0.5, -0.5, 2.0, -2.0, 3.0, -3.0, 1e-30, -1e-30, 1e30,
                  -1e30]


def ufunc(name):
    return getattr(ls if name in SPECIAL else lm, name)


def real_sample(rng, dtype, domain, crowd=(), n=3000):
    """Uniform arguments near 0, magnitudes spread over every binade, and arguments crowding in on `crowd`."""
    info = np.finfo(dtype)
    low, high = max(domain[0], -float(info.max)), min(domain[1], float(info.max))
    spread = np.exp2(rng.uniform(np.log2(info.smallest_subnormal), np.log2(info.max), n)) * rng.choice([-1, 1], n)
    parts = [rng.uniform(max(low, -10), min(high, 10), n), spread, [low, high]]
    for point in crowd(info) if callable(crowd) else crowd:
        distance = 10 ** rng.uniform(np.log10(info.eps), -1, 300) * rng.choice([-1, 1], 300)
        parts.append(point * (1 + distance))
        up = down = dtype(point)
        parts.append([up])
        for _ in range(3):  # and its nearest neighbours
            up, down = np.nextafter(up, dtype(INF)), np.nextafter(down, dtype(-INF))
            parts.append([up, down])
    x = np.concatenate([np.asarray(p, np.float64).ravel() for p in parts]).astype(dtype)
    return x[(x >= low) & (x <= high)]


def ulps(got, reference, dtype):
    """|got - reference| in ulps of `dtype` at the reference (0 where got is the reference rounded, infinities too)."""
    rounded = reference.astype(dtype)
    unit = np.spacing(np.minimum(np.abs(rounded), np.finfo(dtype).max)).astype(reference.dtype)
    error = np.abs(got.astype(reference.dtype) - reference) / unit
    return np.nan_to_num(np.where(got == rounded, 0, error), nan=INF)


def reference(name, x, dtype):
    """The function at long double precision (mpmath for the double error functions)."""
    if name in SPECIAL:
        if dtype == np.float32:
            return getattr(sp, name)(x.astype(np.float64))
        with mpmath.workprec(96):
            # (beyond +-40 the functions are constant to far below the smallest double; mpmath overflows there)
            return np.array([np.longdouble(mpmath.nstr(SPECIAL[name](mpmath.mpf(float(np.clip(v, -40, 40)))), 24))
                             for v in x])
    return getattr(np, name)(*(a.astype(np.longdouble) for a in (x if isinstance(x, tuple) else (x,))))


def same_values(got, want):
    """Equal bit for bit in value: nan where numpy has nan, zeros of numpy's sign."""
    got, want = np.asarray(got), np.asarray(want)
    assert got.dtype == want.dtype
    for part in ((got.real, want.real), (got.imag, want.imag)) if got.dtype.kind == "c" else ((got, want),):
        np.testing.assert_array_equal(part[0], part[1])  # nan where numpy has nan
        number = ~np.isnan(part[1])
        np.testing.assert_array_equal(np.signbit(part[0][number]), np.signbit(part[1][number]))


# --- accuracy -------------------------------------------------------------------------------------------------------

pytestmark = pytest.mark.filterwarnings("ignore::RuntimeWarning")  # the oracles' overflows and invalid values


@pytest.mark.parametrize("dtype", REAL)
@pytest.mark.parametrize("name", UNARY)
def test_real_functions_within_one_ulp(name, dtype, rng):
    domain, crowd = UNARY[name]
    x = real_sample(rng, dtype, domain, crowd, n=400 if name in SPECIAL and dtype == np.float64 else 3000)
    got = ufunc(name)(x)
    assert got.dtype == dtype
    error = ulps(got, reference(name, x, dtype), dtype)
    assert error.max() <= 1.0, f"{name}({x[error.argmax()]!r}) = {got[error.argmax()]!r}: {error.max():.3f} ulps"


@pytest.mark.parametrize("dtype", REAL)
@pytest.mark.parametrize("name", BINARY)
def test_functions_of_two_arguments_within_one_ulp(name, dtype, rng):
    first, second = BINARY[name]
    x = real_sample(rng, dtype, first)
    y = real_sample(rng, dtype, second)[: len(x)]
    x = x[: len(y)]
    if name == "power":  # negative bases with whole exponents, and exponents near 1
        x = np.concatenate([x, -x[:500], x[:500]])
        y = np.concatenate([y, np.round(y[:500]), (1 + rng.uniform(-1e-3, 1e-3, 500))]).astype(dtype)
    got = ufunc(name)(x, y)
    error = ulps(got, reference(name, (x, y), dtype), dtype)
    worst = error.argmax()
    assert error.max() <= 1.0, f"{name}({x[worst]!r}, {y[worst]!r}) = {got[worst]!r}: {error.max():.3f} ulps"


@pytest.mark.parametrize("dtype", COMPLEX)
@pytest.mark.parametrize("name", COMPLEX_UNARY + ["absolute"])
def test_complex_functions_within_a_few_ulps(name, dtype, rng):
    n = 4000
    radius = 10 ** rng.uniform(-6, 6 if name not in ("exp", "sin", "cos", "tan", "sinh", "cosh", "tanh") else 1.5, n)
    z = (radius * np.exp(2j * np.pi * rng.uniform(0, 1, n))).astype(dtype)
    got = ufunc(name)(z)
    want = getattr(np, name)(z.astype(np.clongdouble))
    part = np.float32 if dtype == np.complex64 else np.float64
    if name == "absolute":
        assert ulps(got, want, part).max() <= 1.2
        return
    unit = np.spacing(np.maximum(np.abs(want.real), np.abs(want.imag)).astype(part)).astype(np.longdouble)
    error = np.maximum(np.abs(got.real - want.real), np.abs(got.imag - want.imag)) / unit
    assert error.max() <= 5.0, f"{name}({z[error.argmax()]!r}): {error.max():.2f} ulps"


@pytest.mark.parametrize("dtype", REAL + COMPLEX)
def test_exact_operations_are_numpys_bit_for_bit(dtype, rng):
    x = real_sample(rng, np.float64, (-1e6, 1e6), [0.5, 2.5, -1.5]).astype(dtype)
    if dtype in COMPLEX:
        x = x + 1j * x[::-1]
    y = x[::-1] * dtype(0.37)
    for name in EXACT_UNARY + ["conjugate"]:
        if dtype in REAL or name == "conjugate":
            same_values(ufunc(name)(x), getattr(np, name)(x))


# --- special values -------------------------------------------------------------------------------------------------

def special_class(want):
    return np.isnan(want) | np.isinf(want) | (want == 0) | (np.abs(want) == 1)


@pytest.mark.parametrize("dtype", REAL)
def test_special_values_are_numpys_and_scipys(dtype):
    """nan, infinities, zeros (signed) and +-1 exactly where numpy or scipy give them; the rest within 1 ulp."""
    x = np.array(SPECIAL_VALUES, dtype)
    a, b = (v.ravel() for v in np.meshgrid(x, x))
    for name in list(UNARY) + EXACT_UNARY + list(BINARY):
        arguments = (a, b) if ufunc(name).nin == 2 else (x,)
        with np.errstate(all="ignore"):
            got, want = ufunc(name)(*arguments), getattr(sp if name in SPECIAL else np, name)(*arguments)
        exact = special_class(want) | (name in EXACT_UNARY)
        if name == "erfinv":  # erfinv(-0) = -0, where scipy gives +0 (test_known_layer_gaps)
            want = np.where(x == 0, x, want)
        same_values(got[exact], want[exact].astype(dtype))
        if not exact.all():
            rest = tuple(v[~exact] for v in arguments)
            want = reference(name, rest if len(rest) == 2 else rest[0], dtype)
            assert ulps(got[~exact], want, dtype).max() <= 1, name


@pytest.mark.parametrize("dtype", COMPLEX)
def test_complex_special_values_are_numpys(dtype):
    """Per component: numpy's nan, infinities, zeros and +-1 exactly; the rest within a few ulps."""
    parts = np.array([0.0, -0.0, INF, -INF, np.nan, 1.0, -1.0])
    z = np.empty(len(parts) ** 2, dtype)
    z.real, z.imag = np.repeat(parts, len(parts)), np.tile(parts, len(parts))  # every pair, signed zeros kept
    for name in COMPLEX_UNARY + ["absolute", "conjugate"]:
        with np.errstate(all="ignore"):
            got, want = ufunc(name)(z), getattr(np, name)(z)
        for g, w in ((got.real, want.real), (got.imag, want.imag)) if got.dtype.kind == "c" else ((got, want),):
            exact = special_class(w)
            same_values(g[exact], w[exact])
            assert (np.abs(g - w)[~exact] <= 4 * np.spacing(np.abs(w[~exact]))).all(), name


@pytest.mark.parametrize("dtype", REAL)
@pytest.mark.parametrize("name", ["exp", "expm1", "cosh", "sinh"])
def test_finite_up_to_the_overflow_threshold(name, dtype):
    """Finite (within 1 ulp) up to the largest argument whose result rounds below the largest float, inf past it."""
    function = getattr(np, name)
    last = dtype(np.log(np.longdouble(np.finfo(dtype).max)) + (np.log(2) if name in ("cosh", "sinh") else 0))
    while not np.isfinite(function(np.longdouble(last)).astype(dtype)):
        last = np.nextafter(last, dtype(0))
    while np.isfinite(function(np.longdouble(np.nextafter(last, dtype(INF)))).astype(dtype)):
        last = np.nextafter(last, dtype(INF))
    below = [last]
    for _ in range(300):
        below.append(np.nextafter(below[-1], dtype(0)))
    x = np.concatenate([below, last * (1 - np.geomspace(1e-12 if dtype == np.float64 else 1e-7, 1e-4, 300))])
    x = x.astype(dtype)
    got = lm.__dict__[name](x)
    assert np.isfinite(got).all(), f"{name}({x[~np.isfinite(got)][0]!r}) overflows"
    assert ulps(got, reference(name, x, dtype), dtype).max() <= 1.0
    assert np.isinf(lm.__dict__[name](np.array([np.nextafter(last, dtype(INF))], dtype)))[0]


def test_known_layer_gaps():
    """Where the layer still differs from numpy or scipy (a failure here means a gap was closed)."""
    # erfinv is odd, as erf is and as VML's ErfInv is: erfinv(-0) = -0 (scipy.special gives +0)
    assert np.signbit(ls.erfinv(-0.0)) and not np.signbit(sp.erfinv(-0.0))


# --- the ufunc machinery --------------------------------------------------------------------------------------------

def test_ufuncs_have_numpys_and_scipys_types():
    for name in lm.__all__:
        ours, theirs = getattr(lm, name), getattr(np, name)
        assert isinstance(ours, np.ufunc) and ours.__name__ == name
        assert (ours.types, ours.nin, ours.nout, ours.identity) == (theirs.types, theirs.nin, theirs.nout,
                                                                     theirs.identity)
        assert "ulp" in ours.__doc__ or "exact" in ours.__doc__ or "rounded" in ours.__doc__
    assert [ls.erf.types, ls.erfc.types, ls.erfinv.types] == [["f->f", "d->d"]] * 3
    assert ls.cbrt is lm.cbrt and lm.abs is lm.absolute and lm.conj is lm.conjugate


def test_other_types_run_numpys_loops():
    ints = np.arange(-5, 6)
    cases = [("power", (ints, np.int64(3))), ("absolute", (ints.astype(np.int8),)), ("exp", (np.float16([1, 2]),)),
             ("reciprocal", (ints[ints != 0],)), ("sin", (np.longdouble([1, 2]),)),
             ("sqrt", (np.array([Decimal(4), Decimal(2)], object),)), ("absolute", (np.timedelta64(-3, "s"),))]
    for name, arguments in cases:
        got, want = getattr(lm, name)(*arguments), getattr(np, name)(*arguments)
        assert np.asarray(got).dtype == np.asarray(want).dtype and np.all(got == want), name
    with pytest.raises(TypeError):
        ls.erf(np.complex128(1j))
    assert ls.erfinv(np.int16(0)).dtype == np.float32 and lm.exp(np.arange(3)).dtype == np.float64


def test_broadcasting_out_where_dtype_and_casting(rng):
    a, b = rng.uniform(-3, 3, (40, 1)), rng.uniform(-3, 3, (1, 30))
    dense = [np.ascontiguousarray(v) for v in np.broadcast_arrays(a, b)]
    same_values(lm.hypot(a, b), lm.hypot(*dense))
    out = np.full((40, 30), 7.0)
    mask = rng.uniform(size=(40, 30)) < 0.5
    assert lm.arctan2(a, b, out=out, where=mask) is out
    same_values(out, np.where(mask, lm.arctan2(*dense), 7.0))
    x = rng.uniform(0, 5, 1000).astype(np.float32)
    same_values(lm.log1p(x, dtype=np.float64), lm.log1p(x.astype(np.float64)))
    assert lm.exp(np.float32(1)).dtype == np.float32 and np.isscalar(lm.exp(np.float32(1)))
    assert lm.exp(np.empty((0, 3))).shape == (0, 3)
    with pytest.raises(TypeError):
        lm.sqrt(x, out=np.empty(1000, np.int32))
    before = x.copy()
    with pytest.raises(ValueError):
        lm.exp(x, out=np.empty(999, np.float32))
    same_values(x, before)


@pytest.mark.parametrize("threads", [1, 2])
def test_strided_overlapping_and_long_runs(threads, rng):
    before = lumadex.get_num_threads()
    lumadex.set_num_threads(threads)
    try:
        big = rng.uniform(-2, 2, (300, 700))  # long runs: split over the threads
        views = [big, big[:, ::3], big[::-1, ::-2], big.T, big.astype(np.float32)[::2], big.ravel()[::-3]]
        for v in views:
            same_values(lm.sin(v), lm.sin(np.ascontiguousarray(v)))
            same_values(lm.power(v, 0.5), lm.power(np.ascontiguousarray(v), 0.5))
        out = np.zeros((300, 1400))
        lm.cos(big, out=out[:, ::2])
        same_values(out[:, ::2], lm.cos(big))
        assert not out[:, 1::2].any()
        in_place = big.copy()
        lm.tanh(in_place, out=in_place)
        same_values(in_place, lm.tanh(big))
        shifted = big.ravel().copy()
        lm.exp(shifted[:-1], out=shifted[1:])  # overlapping: numpy's rule, as if the input were copied first
        same_values(shifted[1:], lm.exp(big.ravel()[:-1]))
        # reduce and accumulate (one element's result feeds the next: numpy's loops there)
        for axis in (None, 0, 1):
            np.testing.assert_allclose(lm.hypot.reduce(big, axis=axis), np.hypot.reduce(big, axis=axis), rtol=1e-13)
        same_values(lm.hypot.accumulate(big, axis=1), np.hypot.accumulate(big, axis=1))
        same_values(lm.hypot.reduce(big, axis=1), np.hypot.reduce(big, axis=1))
    finally:
        lumadex.set_num_threads(before)


def test_calls_release_the_gil_and_run_side_by_side(rng):
    x = [rng.uniform(-5, 5, 1 << 21) for _ in range(2)]
    want = [lm.exp(v) for v in x]
    results = [[], []]

    def work(k):
        for _ in range(5):
            results[k].append(lm.exp(x[k]))

    workers = [threading.Thread(target=work, args=(k,)) for k in range(2)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    for k in range(2):
        for r in results[k]:
            same_values(r, want[k])


def test_no_floating_point_warnings(rng):
    x = rng.uniform(-700, 700, 100000)  # no result overflows, none is invalid
    with np.errstate(all="raise"):  # the vector kernels raise flags on the way (erf: overflow, sinh: underflow)
        for name in ("exp", "sinh", "tan", "erf", "erfc", "arctanh"):
            ufunc(name)(np.tanh(x / 100) if name == "arctanh" else x)
        got = lm.log(np.array([-1.0, 0.0]))  # invalid and pole: nan and -inf, silently
    same_values(got, np.array([np.nan, -INF]))


def _layouts(base):
    """Views of `base` (2-D, rows of at least 130) in the layouts the ufunc loops gather from: every other,
    backwards, sparse, a short piece of each row, one column, the transpose, a broadcast element."""
    flat = base.ravel()
    return {"x[::2]": flat[::2], "x[::-3]": flat[::-3], "x[1::7]": flat[1::7], "m[:, :3]": base[:, :3],
            "m[:, 1]": base[:, 1], "m.T": base.T, "broadcast": np.broadcast_to(base[0, :1], (base.shape[0], 129)),
            "x[:129:2]": flat[:129:2], "x[:257:2]": flat[:257:2]}


@pytest.mark.parametrize("threads", [1, 2])
@pytest.mark.parametrize("dtype", REAL + COMPLEX)
def test_strided_gathers_of_every_layout_are_numpys(dtype, threads, rng):
    """Blocks of gathered elements around the block size (128) and a thread's share, into a fresh output, a
    strided output and in place: the results on the same elements made dense, and numpy's bit for bit where
    both are exact (all but the complex absolute value and square)."""
    before = lumadex.get_num_threads()
    lumadex.set_num_threads(threads)
    try:
        shape = (700, 131)  # long runs split over the threads; rows cross a block boundary
        base = rng.uniform(-9, 9, shape).astype(dtype)
        if base.dtype.kind == "c":
            base = base + 1j * rng.uniform(-9, 9, shape).astype(dtype)
        names = ["absolute", "conjugate", "square"] if base.dtype.kind == "c" else ["floor", "sqrt", "absolute", "rint"]
        for name in names:
            ours, theirs = ufunc(name), getattr(np, name)
            for label, view in _layouts(base).items():
                with np.errstate(invalid="ignore"):
                    want = ours(np.ascontiguousarray(view))
                    if name not in ("absolute", "square") or base.dtype.kind != "c":
                        same_values(want, theirs(view))
                same_values(ours(view), want)
                out = np.zeros(view.shape + (2,), want.dtype)[..., 1]  # every other element
                ours(view, out=out)
                same_values(out, want)
                if want.dtype == view.dtype and label != "broadcast":
                    inside = base.copy()
                    view_inside = _layouts(inside)[label]
                    ours(view_inside, out=view_inside)
                    same_values(view_inside, want)
                    untouched = np.ones(base.shape, bool)
                    _layouts(untouched)[label][...] = False
                    same_values(inside[untouched], base[untouched])
        # two operands, one gathered and one dense: the same as on dense copies
        for label, view in _layouts(base.real.copy()).items():
            dense = np.ascontiguousarray(view)
            other = rng.uniform(0.5, 2, view.shape).astype(dense.dtype)
            same_values(lm.hypot(view, other), lm.hypot(dense, other))
            same_values(lm.power(other, view), lm.power(other, dense))
    finally:
        lumadex.set_num_threads(before)
