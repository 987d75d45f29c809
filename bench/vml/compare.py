"""The vector-math layer against numpy / scipy.special and a memcpy, timed side by side in one process.

Usage: compare.py SHIM [function[:precisions] ...]   (SHIM: build/bench/vml/libvml_shim.so;
       e.g. Tan Exp:sd Abs:c runs every precision of Tan, s and d of Exp, c of Abs)

Per routine (and, for a few, in place: rows named ...InPlace), on the same arguments, one after the other and repeated (best
of several rounds, so that a busy machine disturbs both sides alike): ours
at one thread, numpy's ufunc (numpy runs on one thread), ours at two
threads, and a copy of the same bytes (numpy.copyto, a memcpy). 16 M
elements for s and d, 4 M for c and z. Columns: np/ours above 1 means we
are faster; 1t/2t is the speed-up from the second thread; 2t/copy compares
ours at two threads with the memory's own pace.
"""

import ctypes
import sys
import time

import numpy as np
import scipy.special as sp

DTYPES = {"s": np.float32, "d": np.float64, "c": np.complex64, "z": np.complex128}
REAL_OF = {"c": np.float32, "z": np.float64}
ROUNDS = 5


def two_steps(first, second):
    def run(a, out):
        first(a, out=out)
        second(out, out=out)
    return run


def cis(a, out):
    np.cos(a, out=out.real)
    np.sin(a, out=out.imag)


UNARY = {
    "Sqr": np.square, "Abs": np.abs, "Inv": np.reciprocal, "Sqrt": np.sqrt,
    "InvSqrt": two_steps(np.sqrt, np.reciprocal), "Cbrt": np.cbrt, "InvCbrt": two_steps(np.cbrt, np.reciprocal),
    "Pow2o3": two_steps(np.cbrt, np.square), "Pow3o2": lambda a, out: np.power(a, a.dtype.type(1.5), out=out),
    "Exp": np.exp, "Expm1": np.expm1, "Ln": np.log, "Log10": np.log10, "Log1p": np.log1p, "Cos": np.cos,
    "Sin": np.sin, "Tan": np.tan, "Cosh": np.cosh, "Sinh": np.sinh, "Tanh": np.tanh, "Acos": np.arccos,
    "Asin": np.arcsin, "Atan": np.arctan, "Acosh": np.arccosh, "Asinh": np.arcsinh, "Atanh": np.arctanh,
    "Erf": sp.erf, "Erfc": sp.erfc, "ErfInv": sp.erfinv, "Floor": np.floor, "Ceil": np.ceil, "Trunc": np.trunc,
    "Round": np.rint, "NearbyInt": np.rint, "Rint": np.rint, "Conj": np.conjugate, "CIS": cis,
}
BINARY = {"Add": np.add, "Sub": np.subtract, "Mul": np.multiply, "Div": np.divide, "Pow": np.power,
          "Hypot": np.hypot, "Atan2": np.arctan2,
          "MulByConj": lambda a, b, out: np.multiply(a, np.conjugate(b, out=out), out=out)}
DOMAINS = {"Inv": (0.1, 10), "Sqrt": (0, 100), "InvSqrt": (0.01, 100), "InvCbrt": (0.01, 100), "Pow2o3": (0, 100),
           "Pow3o2": (0, 100), "Expm1": (-1, 1), "Ln": (0.01, 100), "Log10": (0.01, 100), "Log1p": (-0.5, 10),
           "Tan": (-1.4, 1.4), "Tanh": (-5, 5), "Acos": (-1, 1), "Asin": (-1, 1), "Acosh": (1, 100),
           "Atanh": (-0.9, 0.9), "Erf": (-3, 3), "Erfc": (-3, 5), "ErfInv": (-0.999, 0.999), "Powx": (0.1, 10),
           "Pow": (0.1, 10)}
REAL_ONLY = ["Sqr", "Abs", "Inv", "Sqrt", "InvSqrt", "Cbrt", "InvCbrt", "Pow2o3", "Pow3o2", "Exp", "Expm1", "Ln",
             "Log10", "Log1p", "Cos", "Sin", "Tan", "Cosh", "Sinh", "Tanh", "Acos", "Asin", "Atan", "Acosh", "Asinh",
             "Atanh", "Erf", "Erfc", "ErfInv", "Floor", "Ceil", "Trunc", "Round", "NearbyInt", "Rint",
             "Add", "Sub", "Mul", "Div", "Pow", "Hypot", "Atan2", "Powx", "SinCos", "Modf"]
# Rows run in place (the result written over the first operand, by both
# sides), of routines whose values stay finite when applied repeatedly.
IN_PLACE = [("AddInPlace", "d"), ("MulInPlace", "d"), ("MulInPlace", "z"), ("SinInPlace", "d")]
COMPLEX = ["Sqrt", "Exp", "Ln", "Log10", "Cos", "Sin", "Tan", "Cosh", "Sinh", "Tanh", "Acos", "Asin", "Atan",
           "Acosh", "Asinh", "Atanh", "Conj", "Add", "Sub", "Mul", "Pow", "MulByConj", "Abs", "CIS"]


def case(name, precision, rng):
    """(ours(lib) -> callable, theirs callable, bytes of one operand)."""
    in_place = name.endswith("InPlace")
    name = name.removesuffix("InPlace")
    complex_ = precision in "cz"
    n = (4 if complex_ else 16) << 20
    dtype = DTYPES[precision]
    low, high = DOMAINS.get(name, (-10, 10))
    if complex_:
        low, high = (0.2, 2) if name == "Pow" else (-1, 1)
        a = (rng.uniform(low, high, n) + 1j * rng.uniform(-1, 1, n)).astype(dtype)
    else:
        a = rng.uniform(low, high, n).astype(dtype)
    if name == "CIS":
        a = rng.uniform(-10, 10, n).astype(REAL_OF[precision])
    b = (rng.uniform(-3, 3, n) if name == "Pow" else rng.uniform(0.5, 10, n)).astype(dtype)
    out_dtype = REAL_OF[precision] if name == "Abs" and complex_ else dtype
    r, r2 = (a if in_place else np.empty(n, out_dtype)), np.empty(n, dtype)
    ptr = [x.ctypes.data_as(ctypes.c_void_p) for x in (a, b, r, r2)]
    routine = f"v{precision}{name}"

    def ours(lib):
        f = lib.routine(routine)
        if name in BINARY:
            return lambda: f(n, ptr[0], ptr[1], ptr[2])
        if name == "Powx":
            scalar = ctypes.c_float(1.7) if precision == "s" else ctypes.c_double(1.7)
            return lambda: f(n, ptr[0], scalar, ptr[2])
        if name in ("SinCos", "Modf"):
            return lambda: f(n, ptr[0], ptr[2], ptr[3])
        return lambda: f(n, ptr[0], ptr[2])

    if name == "Abs" and complex_:
        theirs = lambda: np.abs(a, out=r)
    elif name == "SinCos":
        theirs = lambda: (np.sin(a, out=r), np.cos(a, out=r2))
    elif name == "Modf":
        theirs = lambda: np.modf(a, out=(r, r2))
    elif name == "Powx":
        theirs = lambda: np.power(a, dtype(1.7), out=r)
    elif name in BINARY:
        theirs = lambda: BINARY[name](a, b, out=r)
    else:
        theirs = lambda: UNARY[name](a, out=r)
    copy_source, copy_target = np.empty(n * np.dtype(dtype).itemsize, np.uint8), np.empty(n * np.dtype(dtype).itemsize, np.uint8)
    return ours, theirs, lambda: np.copyto(copy_target, copy_source), n


class Layer:
    def __init__(self, path):
        self.lib = ctypes.CDLL(path)
        self.lib.lumadex_vml_routine.restype = ctypes.c_void_p
        self.lib.lumadex_vml_routine.argtypes = [ctypes.c_char_p]

    def routine(self, name):
        address = self.lib.lumadex_vml_routine(name.encode())
        if not address:
            raise KeyError(name)
        return _Caller(address)

    def threads(self, n):
        self.lib.lumadex_vml_set_threads(n)


class _Caller:
    """Calls a routine with (n, pointers or one scalar ...)."""

    def __init__(self, address):
        self.address = address
        self.cache = {}

    def __call__(self, n, *args):
        kinds = tuple(type(a) for a in args)
        f = self.cache.get(kinds)
        if f is None:
            f = ctypes.CFUNCTYPE(None, ctypes.c_int, *kinds)(self.address)
            self.cache[kinds] = f
        f(n, *args)


def timed(run):
    start = time.perf_counter()
    run()
    return (time.perf_counter() - start) * 1e3


def main():
    layer = Layer(sys.argv[1])
    only = {}
    for word in sys.argv[2:]:
        name, _, precisions = word.partition(":")
        only[name] = only.get(name, "") + (precisions or "sdcz")
    rng = np.random.default_rng(5)
    print(f"{'function':<10} {'p':>1} {'elements':>9} {'ours 1t':>8} {'numpy':>8} {'np/ours':>8}"
          f" {'ours 2t':>8} {'1t/2t':>6} {'copy':>7} {'2t/copy':>7}   (ms, best of {ROUNDS} interleaved rounds)")
    cases = [(n, p) for n in REAL_ONLY for p in "sd"] + [(n, p) for n in COMPLEX for p in "cz"] + IN_PLACE
    for name, precision in cases:
        if only and precision not in only.get(name, ""):
            continue
        ours, theirs, copy, n = case(name, precision, rng)
        run = ours(layer)
        best = [float("inf")] * 4
        for _ in range(ROUNDS):
            layer.threads(1)
            best[0] = min(best[0], timed(run))
            best[1] = min(best[1], timed(theirs))
            layer.threads(2)
            best[2] = min(best[2], timed(run))
            best[3] = min(best[3], timed(copy))
        one, numpy_ms, two, copy_ms = best
        print(f"{name:<10} {precision:>1} {n:>9} {one:8.2f} {numpy_ms:8.2f} {numpy_ms / one:8.2f}"
              f" {two:8.2f} {one / two:6.2f} {copy_ms:7.2f} {two / copy_ms:7.2f}", flush=True)


if __name__ == "__main__":
    main()
