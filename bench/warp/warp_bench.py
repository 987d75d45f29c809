"""Speed of the warps against scipy.ndimage (order 1, same output size) and a memcpy.

Per case and thread count, medians in ms of:
  given    the plug-in writing into a destination given by the caller
  created  the plug-in creating its destination (allocation and first touch included)
  scipy    scipy.ndimage doing the same resampling (single-threaded), into a new array
  scipy-g  the same into an output array given to it
  memcpy   a copy of the destination's bytes (numpy copyto), the memory-speed floor
and the ratios scipy/created and scipy-g/given (each side allocating, or
neither) and given/memcpy.

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/warp/warp_bench.py [threads ...]
Each thread count runs in its own process with OMP_NUM_THREADS set, since the
thread count of the plug-in's OpenMP runtime is fixed when it starts.
"""
import math
import os
import statistics
import subprocess
import sys
import time

import numpy as np
import scipy.ndimage as ndi


def median_ms(call, budget_s=2.0, least=5):
    call()
    times = []
    start = time.perf_counter()
    while len(times) < least or (time.perf_counter() - start < budget_s and len(times) < 50):
        t0 = time.perf_counter()
        call()
        times.append((time.perf_counter() - t0) * 1e3)
    return statistics.median(times)


def cases(host):
    rng = np.random.default_rng(1)
    image = rng.standard_normal((2048, 2048)).astype(np.float32)
    stack_c8 = (rng.standard_normal((64, 512, 512)) + 1j * rng.standard_normal((64, 512, 512))).astype(np.complex64)
    stack_r4 = rng.standard_normal((64, 256, 256)).astype(np.float32)
    angle = math.radians(7)
    a = (math.cos(angle), -math.sin(angle), 150.0)
    b = (math.sin(angle), math.cos(angle), -100.0)
    # scipy maps output (row, col) to input matrix @ (row, col) + offset: the same map.
    matrix, offset = np.array([[b[1], b[0]], [a[1], a[0]]]), (b[2], a[2])

    src = host.image(image)
    coefs2 = host.image(np.array([2.0, 2.0]))
    yield ("LinearWarpXY x2 2048^2 R4", (4096, 4096), np.float32,
           lambda dst: host.ZEPLinearWarpXY(src, coefs2, dst), lambda out=None: ndi.zoom(image, 2, out, order=1))

    affine = host.image(np.array([a, b]))
    yield ("AffineWarp 7deg 2048^2 R4", (2048, 2048), np.float32,
           lambda dst: host.ZEPAffineWarp(src, affine, dst, 0),
           lambda out=None: ndi.affine_transform(image, matrix, offset, output=out, order=1))

    c8 = host.image(stack_c8)
    yield ("LinearWarpZ x1.5 512^2x64 C8", (96, 512, 512), np.complex64,
           lambda dst: host.ZEPLinearWarpZ(c8, 1.5, dst), lambda out=None: ndi.zoom(stack_c8, (1.5, 1, 1), out, order=1))

    r4 = host.image(stack_r4)
    coefs3 = host.image(np.array([1.5, 1.5, 1.5]))
    yield ("LinearWarp x1.5 256^2x64 R4", (96, 384, 384), np.float32,
           lambda dst: host.ZEPLinearWarp(r4, coefs3, dst), lambda out=None: ndi.zoom(stack_r4, 1.5, out, order=1))


def run(threads):
    import lumadex

    with lumadex.Host() as host:
        for name, shape, dtype, warp, scipy_call in cases(host):
            given = host.image(np.zeros(shape, dtype))
            given_ms = median_ms(lambda: warp(given))
            created_ms = median_ms(lambda: warp(None))
            scipy_ms = median_ms(scipy_call, least=3)
            a, b = np.ones(shape, dtype), np.zeros(shape, dtype)
            scipy_given_ms = median_ms(lambda: scipy_call(b), least=3)
            memcpy_ms = median_ms(lambda: np.copyto(b, a))
            print("%-30s %3d %8.2f %8.2f %8.2f %8.2f %8.2f %13.1f %13.1f %12.2f" % (
                name, threads, given_ms, created_ms, scipy_ms, scipy_given_ms, memcpy_ms, scipy_ms / created_ms,
                scipy_given_ms / given_ms, given_ms / memcpy_ms), flush=True)


def main():
    if os.environ.get("WARP_BENCH_CHILD"):
        run(int(os.environ["OMP_NUM_THREADS"]))
        return
    print("times in ms (medians); load average at start: %.1f %.1f %.1f" % os.getloadavg())
    print("%-30s %3s %8s %8s %8s %8s %8s %13s %13s %12s" % (
        "case", "thr", "given", "created", "scipy", "scipy-g", "memcpy", "scipy/created", "scipy-g/given",
        "given/memcpy"), flush=True)
    for threads in (sys.argv[1:] or ["1", "2"]):
        env = dict(os.environ, OMP_NUM_THREADS=threads, WARP_BENCH_CHILD="1")
        subprocess.run([sys.executable, __file__], env=env, check=True)


if __name__ == "__main__":
    main()
