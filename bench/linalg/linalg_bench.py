"""Matrix operations of the plug-in against numpy and scipy on the same data, one table.

Both sides run in this process, on the same OpenBLAS (OpenMP build) and the
same environment (OPENBLAS_CORETYPE included); the thread count is set for
both through OpenMP and OpenBLAS. Calls of the two sides alternate; the table
gives the best time of each and two ratios, of the best times and the median
of the ratios of neighbouring calls, so that load from other processes on
the machine disturbs the comparison as little as it can.

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/linalg/linalg_bench.py [repeats]
"""
import ctypes
import ctypes.util
import os
import statistics
import sys
import time

import numpy as np
import scipy.linalg

import lumadex

gomp = ctypes.CDLL(ctypes.util.find_library("gomp"))
openblas = ctypes.CDLL("libopenblas.so.0")


def set_threads(n):
    gomp.omp_set_num_threads(n)
    openblas.openblas_set_num_threads(n)


def timings(ours, theirs, repeats):
    """Best time in ms of each side, and the median of the ratios of
    neighbouring calls (the sides alternate, so both meet the same load)."""
    ours(), theirs()  # warm up
    best, ratios = [float("inf")] * 2, []
    for _ in range(repeats):
        pair = []
        for i, call in enumerate((ours, theirs)):
            t0 = time.perf_counter()
            call()
            pair.append((time.perf_counter() - t0) * 1e3)
            best[i] = min(best[i], pair[-1])
        ratios.append(pair[0] / pair[1])
    return best[0], best[1], statistics.median(ratios)


def cases(host, rng):
    for n, dtype in [(1000, np.float64), (2000, np.float32)]:
        label = f"{n}x{n} {'Real 8' if dtype == np.float64 else 'Real 4'}"
        a = rng.standard_normal((n, n)).astype(dtype)
        b = rng.standard_normal((n, n)).astype(dtype)
        image_a, image_b = host.image(a), host.image(b)
        destination = host.image(np.zeros_like(a))
        yield (f"ZEPMatrixMultiply {label}", "a @ b",
               lambda: host.ZEPMatrixMultiply(False, False, False, 1.0, image_a, image_b, 0.0, None),
               lambda: a @ b)
        yield (f"ZEPMatrixInverse {label}", "np.linalg.inv",
               lambda: host.ZEPMatrixInverse(image_a, destination), lambda: np.linalg.inv(a))
        # X·A = B in image terms is A^T x = b per row.
        yield (f"ZEPLUDecompositionF {label}, {n} rhs", "np.linalg.solve",
               lambda: host.ZEPLUDecompositionF(image_a, image_b), lambda: np.linalg.solve(a.T, b.T))

    n, kd, nrhs = 4000, 8, 16
    for dtype in (np.float64, np.float32):
        label = f"{n}x{n} {'Real 8' if dtype == np.float64 else 'Real 4'}, kd {kd}, {nrhs} rhs"
        offsets = np.arange(n)[None, :] - np.arange(n)[:, None]
        full = np.where(np.abs(offsets) <= kd, rng.uniform(-1, 1, (n, n)), 0.0)
        full = (full + full.T + np.eye(n) * 4 * kd).astype(dtype)
        # The same band in scipy's upper form: ab[kd + i - j, j] = A[i, j].
        ab = np.zeros((kd + 1, n), dtype)
        for d in range(kd + 1):
            ab[kd - d, d:] = np.diagonal(full, d)
        b = rng.standard_normal((nrhs, n)).astype(dtype)
        image_full, image_b = host.image(full), host.image(b)
        yield (f"ZEPBandedCholDecompositionF {label}", "solveh_banded",
               lambda: host.ZEPBandedCholDecompositionF(image_full, image_b, ord("U"), kd),
               lambda: scipy.linalg.solveh_banded(ab, b.T, check_finite=False))


def main():
    repeats = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    openblas.openblas_get_config.restype = ctypes.c_char_p
    openblas.openblas_get_corename.restype = ctypes.c_char_p
    print(f"OPENBLAS_CORETYPE={os.environ.get('OPENBLAS_CORETYPE', '(unset)')}, "
          f"core {openblas.openblas_get_corename().decode()}, {openblas.openblas_get_config().decode()}")
    print(f"{repeats} alternating calls of each side; best times in ms; ratios plug-in/reference")
    print(f"{'case':58} {'thr':>3} {'plug-in':>9} {'reference':>16} {'ms':>9} {'best':>6} {'median':>6}")
    with lumadex.Host() as host:
        rng = np.random.default_rng(1)
        for name, reference, ours, theirs in cases(host, rng):
            for threads in (1, 2):
                set_threads(threads)
                mine, other, ratio = timings(ours, theirs, repeats)
                print(f"{name:58} {threads:3d} {mine:9.2f} {reference:>16} {other:9.2f} {mine / other:6.2f} "
                      f"{ratio:6.2f}", flush=True)
    set_threads(os.cpu_count() or 1)


if __name__ == "__main__":
    main()
