"""Adds scipy.fft to the FFT layer's benchmark table and prints the ratios.

Reads the tab-separated output of fft_bench (case, threads, first, worst,
cheap, steady, measured in ms), times scipy.fft on the same case with the same
number of workers and the same 1/sqrt(N) scale, and prints one table.
Run through bench/fft/run.sh.
"""
import statistics
import sys
import time

import numpy as np
import scipy.fft


def scipy_call(name, workers):
    kind, precision, shape = name.split("-")
    dims = tuple(int(n) for n in shape.split("x"))
    rng = np.random.default_rng(1)
    real = np.float32 if precision == "f32" else np.float64
    cplx = np.complex64 if precision == "f32" else np.complex128
    if kind == "r2c":
        x = rng.uniform(-1, 1, dims).astype(real)
        return lambda: scipy.fft.rfftn(x, norm="ortho", workers=workers)
    x = (rng.uniform(-1, 1, dims) + 1j * rng.uniform(-1, 1, dims)).astype(cplx)
    if kind == "rows":
        return lambda: scipy.fft.ifft(x, axis=-1, norm="ortho", workers=workers, overwrite_x=True)
    return lambda: scipy.fft.ifftn(x, norm="ortho", workers=workers, overwrite_x=True)


def median_ms(call, budget_s=1.5):
    call()
    times = []
    start = time.perf_counter()
    while len(times) < 5 or (time.perf_counter() - start < budget_s and len(times) < 200):
        t0 = time.perf_counter()
        call()
        times.append((time.perf_counter() - t0) * 1e3)
    return statistics.median(times)


def main():
    rows = [line.rstrip("\n").split("\t") for line in sys.stdin if line.strip()]
    header, rows = rows[0], rows[1:]
    assert header[:7] == ["case", "threads", "first", "worst", "cheap", "steady", "measured"], header
    print("All times in ms. steady/FFTW: target <= 1.10; steady/scipy: target < 1; "
          "worst/cheap: target <= 1.20")
    print("(first = the layer's first call; worst = its slowest call until settled; "
          "cheap = raw FFTW_ESTIMATE plan + one execution;")
    print(" steady = the layer settled, 1/sqrt(N) scale pass included; FFTW = raw "
          "FFTW_MEASURE plan execution; scipy = scipy.fft, same workers and scale)")
    print()
    columns = ("case", "thr", "first", "worst", "cheap", "steady", "FFTW", "scipy",
               "steady/FFTW", "steady/scipy", "worst/cheap")
    print("%-20s %3s %8s %8s %8s %8s %8s %8s %11s %12s %11s" % columns)
    for name, threads, first, worst, cheap, steady, measured in rows:
        scipy_ms = median_ms(scipy_call(name, int(threads)))
        first, worst, cheap, steady, measured = map(float, (first, worst, cheap, steady, measured))
        print("%-20s %3s %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f %11.2f %12.2f %11.2f" % (
            name, threads, first, worst, cheap, steady, measured, scipy_ms,
            steady / measured, steady / scipy_ms, worst / cheap))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
