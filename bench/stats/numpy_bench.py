"""Adds numpy computing the same numbers to the statistics benchmark and prints the ratios.

Reads the tab-separated output of stats_bench (case, threads, zep_ms,
read_ms; several runs take the best of each) and times numpy on the same case: the five survey numbers, the
extremes with their positions, a reshape-mean 2x2 reduction, and the
cross-correlation mask formula (mode 3 with a mask). numpy runs one thread
whatever the row's thread count. Run through bench/stats/run.sh.
"""
import statistics
import sys
import time

import numpy as np


def numpy_call(name, per_number=False):
    rng = np.random.default_rng(7)
    if name.startswith(("survey", "minmax")):
        dtype = np.float32 if name.endswith("real4") else np.int16
        a = (rng.standard_normal((4096, 4096)) * 1000).astype(dtype)
        if per_number:  # the extremes as four numbers, one pass each
            return lambda: (a.min(), a.max(), np.unravel_index(a.argmin(), a.shape),
                            np.unravel_index(a.argmax(), a.shape))
        if name.startswith("survey"):
            return lambda: (a.min(), a.max(), a.sum(dtype=np.float64), np.square(a, dtype=np.float64).sum(),
                            np.abs(a).sum(dtype=np.float64))

        def extremes():  # two passes: each position, then its value
            low, high = a.argmin(), a.argmax()
            return np.unravel_index(low, a.shape), a.flat[low], np.unravel_index(high, a.shape), a.flat[high]
        return extremes
    if name == "reduce-real4":
        a = rng.standard_normal((2048, 2048)).astype(np.float32)
        return lambda: a.reshape(1024, 2, 1024, 2).mean(axis=(1, 3))
    if name == "mask-complex8":
        n, c, scale, radius = 2048, 1024, 1 / 2048, 0.25
        t, r = [(rng.standard_normal((n, n)) + 1j * rng.standard_normal((n, n))).astype(np.complex64) for _ in "tr"]
        k = (np.arange(n) - c).astype(np.float32)
        ky, kx = np.meshgrid(k, k, indexing="ij")
        theta = (kx + ky) * np.float32(np.pi)
        r2 = (kx * scale) ** 2 + (ky * scale) ** 2

        def mask():
            p = t * np.conj(r)
            a = np.abs(p)
            q = p * np.exp(1j * theta).astype(np.complex64) * np.exp(-(r2 / radius**2) ** 2)
            with np.errstate(divide="ignore", invalid="ignore"):
                d = np.where(a == 0, 0, q / a)
            mean = (np.abs(d).sum(dtype=np.float64) - abs(d[c, c])) / d.size
            d[c, c] = 0
            return d, mean
        return mask
    raise ValueError(name)


def median_ms(call, budget_s=2.0):
    call()
    times = []
    start = time.perf_counter()
    while len(times) < 5 or (time.perf_counter() - start < budget_s and len(times) < 50):
        t0 = time.perf_counter()
        call()
        times.append((time.perf_counter() - t0) * 1e3)
    return statistics.median(times)


TARGETS = {"survey": ("<= 1.5", ">= 3"), "minmax": ("<= 1.5", ">= 3"), "reduce": ("", ">= 3"), "mask": ("", ">= 5")}


def main():
    rows = [line.rstrip("\n").split("\t") for line in sys.stdin if line.strip()]
    header, rows = rows[0], rows[1:]
    assert header == ["case", "threads", "zep_ms", "read_ms"], header
    best = {}  # the best of the runs, in the order of the first
    for name, threads, zep, read in rows:
        old = best.get((name, threads))
        best[(name, threads)] = (min(float(zep), old[0]), min(float(read), old[1])) if old else (float(zep), float(read))
    rows = [(name, threads, zep, read) for (name, threads), (zep, read) in best.items()]
    numpy_ms, per_number_ms = {}, {}
    print("All times in ms (medians); read = one parallel read pass over the same bytes, same threads;")
    print("numpy runs one thread. Targets: survey/minmax zep/read <= 1.5 and numpy/zep >= 3; "
          "reduce numpy/zep >= 3; mask numpy/zep >= 5.")
    print("numpy for minmax: argmin and argmax, the values read at their positions (two passes);")
    print("numpy*: one pass per number (min, max, argmin, argmax), as numpy computes the survey.")
    print(f"{'case':16s}{'threads':>8s}{'zep':>9s}{'read':>9s}{'numpy':>9s}{'numpy*':>9s}{'zep/read':>10s}"
          f"{'numpy/zep':>11s}{'numpy*/zep':>12s}")
    for name, threads, zep, read in rows:
        if name not in numpy_ms:
            numpy_ms[name] = median_ms(numpy_call(name))
            if name.startswith("minmax"):
                per_number_ms[name] = median_ms(numpy_call(name, per_number=True))
        zep, read = float(zep), float(read)
        star = per_number_ms.get(name)
        print(f"{name:16s}{threads:>8s}{zep:9.2f}{read:9.2f}{numpy_ms[name]:9.2f}"
              f"{(f'{star:9.2f}' if star else '        -')}{zep / read:10.2f}{numpy_ms[name] / zep:11.1f}"
              f"{(f'{star / zep:12.1f}' if star else '           -')}")


if __name__ == "__main__":
    main()
