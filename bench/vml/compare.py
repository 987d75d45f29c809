"""Reads vml_bench's lines on stdin, times numpy / scipy.special doing the same, prints one table.

Columns: our time at one thread, numpy's (numpy's ufuncs run on one thread),
numpy / ours (above 1: we are faster), ours at two threads, the speed-up
from one to two threads, and ours at two threads against a memcpy of the
same bytes (the memory's pace).
"""

import sys
import time

import numpy as np
import scipy.special as sp

DTYPES = {"s": np.float32, "d": np.float64, "c": np.complex64, "z": np.complex128}
REAL_OF = {"c": np.float32, "z": np.float64}


def cis(a, r):
    np.cos(a, out=r.real)
    np.sin(a, out=r.imag)


def two_steps(first, second):
    def run(a, r):
        first(a, out=r)
        second(r, out=r)
    return run


UNARY = {
    "Sqr": np.square, "Abs": np.abs, "Inv": np.reciprocal, "Sqrt": np.sqrt,
    "InvSqrt": two_steps(np.sqrt, np.reciprocal), "Cbrt": np.cbrt, "InvCbrt": two_steps(np.cbrt, np.reciprocal),
    "Pow2o3": two_steps(np.cbrt, np.square), "Pow3o2": lambda a, out: np.power(a, a.dtype.type(1.5), out=out),
    "Exp": np.exp, "Expm1": np.expm1, "Ln": np.log, "Log10": np.log10, "Log1p": np.log1p, "Cos": np.cos,
    "Sin": np.sin, "Tan": np.tan, "Cosh": np.cosh, "Sinh": np.sinh, "Tanh": np.tanh, "Acos": np.arccos,
    "Asin": np.arcsin, "Atan": np.arctan, "Acosh": np.arccosh, "Asinh": np.arcsinh, "Atanh": np.arctanh,
    "Erf": sp.erf, "Erfc": sp.erfc, "ErfInv": sp.erfinv, "Floor": np.floor, "Ceil": np.ceil, "Trunc": np.trunc,
    "Round": np.rint, "NearbyInt": np.rint, "Rint": np.rint, "Conj": np.conjugate,
    "Powx": lambda a, out: np.power(a, a.dtype.type(1.7), out=out),
}
BINARY = {"Add": np.add, "Sub": np.subtract, "Mul": np.multiply, "Div": np.divide, "Pow": np.power,
          "Hypot": np.hypot, "Atan2": np.arctan2,
          "MulByConj": lambda a, b, out: np.multiply(a, np.conjugate(b, out=out), out=out)}
DOMAINS = {"Inv": (0.1, 10), "Sqrt": (0, 100), "InvSqrt": (0.01, 100), "InvCbrt": (0.01, 100), "Pow2o3": (0, 100),
           "Pow3o2": (0, 100), "Expm1": (-1, 1), "Ln": (0.01, 100), "Log10": (0.01, 100), "Log1p": (-0.5, 10),
           "Tan": (-1.4, 1.4), "Tanh": (-5, 5), "Acos": (-1, 1), "Asin": (-1, 1), "Acosh": (1, 100),
           "Atanh": (-0.9, 0.9), "Erf": (-3, 3), "Erfc": (-3, 5), "ErfInv": (-0.999, 0.999), "Powx": (0.1, 10),
           "Pow": (0.1, 10)}


def best_ms(run, repeats=3):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - start)
    return best * 1e3


def numpy_ms(name, precision, n, rng):
    dtype = DTYPES[precision]
    low, high = DOMAINS.get(name, (-10, 10))
    if precision in "cz":
        low, high = (0.2, 2) if name == "Pow" else (-1, 1)
        a = (rng.uniform(low, high, n) + 1j * rng.uniform(-1, 1, n)).astype(dtype)
        if name == "CIS":
            a = rng.uniform(-10, 10, n).astype(REAL_OF[precision])
    else:
        a = rng.uniform(low, high, n).astype(dtype)
    b = rng.uniform(-3, 3, n).astype(dtype) if name == "Pow" else rng.uniform(0.5, 10, n).astype(dtype) + a * 0
    r = np.empty(n, dtype)
    if name == "Abs" and precision in "cz":
        out = np.empty(n, REAL_OF[precision])
        return best_ms(lambda: np.abs(a, out=out))
    if name == "CIS":
        return best_ms(lambda: cis(a, r))
    if name == "SinCos":
        r2 = np.empty(n, dtype)
        return best_ms(lambda: (np.sin(a, out=r), np.cos(a, out=r2)))
    if name == "Modf":
        r2 = np.empty(n, dtype)
        return best_ms(lambda: np.modf(a, out=(r, r2)))
    if name in BINARY:
        return best_ms(lambda: BINARY[name](a, b, out=r))
    return best_ms(lambda: UNARY[name](a, out=r))


def main():
    rng = np.random.default_rng(5)
    print(f"{'function':<10} {'p':>1} {'elements':>9} {'ours 1t':>8} {'numpy':>8} {'np/ours':>8}"
          f" {'ours 2t':>8} {'1t/2t':>6} {'memcpy':>7} {'2t/copy':>7}")
    for line in sys.stdin:
        name, precision, n, one, two, copy = line.split("\t")
        n, one, two, copy = int(n), float(one), float(two), float(copy)
        theirs = numpy_ms(name, precision, n, rng)
        print(f"{name:<10} {precision:>1} {n:>9} {one:8.2f} {theirs:8.2f} {theirs / one:8.2f}"
              f" {two:8.2f} {one / two:6.2f} {copy:7.2f} {two / copy:7.2f}", flush=True)


if __name__ == "__main__":
    main()
