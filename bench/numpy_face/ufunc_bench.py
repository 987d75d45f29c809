"""lumadex.math and lumadex.special against numpy and scipy.special, timed side by side in one process.

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/numpy_face/ufunc_bench.py [-n ELEMENTS] [name ...]

Every function and every type the vector-math layer serves, on the same
arguments (4 M elements by default) written into the same preallocated
output: the reference (numpy's ufunc, one thread; scipy.special's for
the error functions), lumadex's at one thread and at two. Rounds alternate
the contestants and each keeps its best, so that a busy machine disturbs
them alike. Columns: ref/1t and ref/2t above 1 mean lumadex is faster
(target at one thread: at least 1 against numpy, at least 5 against
scipy.special). A few strided rows at the end show what gathering
costs (every other element of a long array, short rows of a matrix), and
a few rows in place (the output is the argument).
"""

import argparse
import time

import numpy as np
import scipy.special as sp

import lumadex
from lumadex import math as lm
from lumadex import special as ls

ROUNDS = 5
COMPLEX = {"exp", "log", "log10", "sqrt", "absolute", "conjugate", "sin", "cos", "tan", "arcsin", "arccos", "arctan",
           "sinh", "cosh", "tanh", "arcsinh", "arccosh", "arctanh"}
DOMAINS = {"log": (0.01, 100), "log10": (0.01, 100), "log1p": (-0.5, 10), "sqrt": (0, 100), "reciprocal": (0.1, 10),
           "expm1": (-1, 1), "tan": (-1.4, 1.4), "tanh": (-5, 5), "arcsin": (-1, 1), "arccos": (-1, 1),
           "arccosh": (1, 100), "arctanh": (-0.9, 0.9), "erf": (-3, 3), "erfc": (-3, 5), "erfinv": (-0.999, 0.999),
           "power": (0.1, 10)}
REAL_OF = {np.complex64: np.float32, np.complex128: np.float64}


def arguments(name, dtype, n, rng):
    low, high = DOMAINS.get(name, (-10, 10))
    if np.dtype(dtype).kind == "c":
        low, high = (-1, 1) if name not in ("log", "log10", "arccosh") else (0.1, 2)
        x = (rng.uniform(low, high, n) + 1j * rng.uniform(-1, 1, n)).astype(dtype)
    else:
        x = rng.uniform(low, high, n).astype(dtype)
    if getattr(lm, name, None) is not None and getattr(lm, name).nin == 2:
        y = rng.uniform(-3, 3, n) if name == "power" else rng.uniform(0.5, 10, n)
        return x, y.astype(dtype)
    return (x,)


def best_ms(calls, budget_s=1.5, least=ROUNDS, most=40):
    """Best time of each call, the calls alternating within a round: at least `least` rounds, more (up to
    `most`) while the row's time budget lasts."""
    best = [np.inf] * len(calls)
    start, rounds = time.perf_counter(), 0
    while rounds < least or (rounds < most and time.perf_counter() - start < budget_s):
        for k, call in enumerate(calls):
            begin = time.perf_counter()
            call()
            best[k] = min(best[k], time.perf_counter() - begin)
        rounds += 1
    return [t * 1e3 for t in best]


def ours_at(threads, ufunc, args, out):
    def call():
        lumadex.set_num_threads(threads)
        ufunc(*args, out=out)
    return call


def row(name, label, ours, reference, args, target=1, out=None):
    """Times one case and prints its line; returns reference / ours at one thread."""
    if out is None:
        out_dtype = REAL_OF.get(args[0].dtype.type, args[0].dtype) if name == "absolute" else args[0].dtype
        out = np.empty(args[0].shape, out_dtype)
    theirs, one, two = best_ms([lambda: reference(*args, out=out), ours_at(1, ours, args, out),
                                ours_at(2, ours, args, out)])
    print(f"{name:<11}{label:<11}{theirs:9.2f}{one:9.2f}{two:9.2f}{theirs / one:8.2f}{theirs / two:8.2f}"
          f"{'  (scipy.special)' if target == 5 else ''}{'  below target' if theirs / one < target else ''}",
          flush=True)
    return theirs / one, target


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-n", type=int, default=4 << 20, help="elements per argument (default 4 M)")
    parser.add_argument("names", nargs="*", help="functions to time (default: all)")
    options = parser.parse_args()
    rng = np.random.default_rng(7)
    names = options.names or lm.__all__ + ["erf", "erfc", "erfinv"]
    print(f"{options.n} elements, best of {ROUNDS} to 40 rounds; times in ms; numpy {np.__version__}")
    print("reference: numpy, or scipy.special for erf, erfc and erfinv (target 5 there, 1 elsewhere)")
    print(f"{'function':<11}{'dtype':<11}{'ref.':>9}{'ours 1t':>9}{'ours 2t':>9}{'ref/1t':>8}{'ref/2t':>8}")
    slow = []
    for name in names:
        special = name in ls.__all__ and not hasattr(np, name)
        ours = getattr(ls if special else lm, name)
        dtypes = [np.float32, np.float64] + ([np.complex64, np.complex128] if name in COMPLEX else [])
        if name in ("conjugate",):
            dtypes = dtypes[2:]
        for dtype in dtypes:
            args = arguments(name, dtype, options.n, rng)
            ratio, target = row(name, np.dtype(dtype).name, ours, getattr(sp if special else np, name), args,
                                5 if special else 1)
            if ratio < target:
                slow.append(f"{name} {np.dtype(dtype).name} {ratio:.2f}")
    print("\nstrided runs (the wrapper's gathering):")
    x = rng.uniform(0.1, 10, 2 * options.n)
    matrix = rng.uniform(0.1, 10, (options.n // 4, 4))
    for name in ("exp", "sqrt", "floor", "hypot"):
        ufunc = getattr(lm, name)
        for label, view in (("x[::2]", x[::2]), ("m[:, :3]", matrix[:, :3])):
            args = (view,) * ufunc.nin
            ratio, _ = row(name, label, ufunc, getattr(np, name), args)
            if ratio < 1:
                slow.append(f"{name} {label} {ratio:.2f}")
    print("\nin place (out= the argument; idempotent functions, so that every round sees the same values):")
    for name, dtype in (("floor", np.float64), ("absolute", np.float64), ("rint", np.float32),
                        ("conjugate", np.complex128)):
        (x,) = arguments(name, dtype, options.n, rng)
        ratio, _ = row(name, np.dtype(dtype).name, getattr(lm, name), getattr(np, name), (x,), out=x)
        if ratio < 1:
            slow.append(f"{name} {np.dtype(dtype).name} in place {ratio:.2f}")
    lumadex.set_num_threads(2)
    print("\nbelow target at one thread:", ", ".join(slow) if slow else "none")


if __name__ == "__main__":
    main()
