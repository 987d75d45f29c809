"""Adds scipy.fft to the FFT layer's benchmark table and prints the ratios.

Reads the tab-separated output of fft_bench (any section), times scipy.fft
on the same cases with the same number of workers and the same 1/sqrt(N)
scale, and prints one table with the ratios.
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
    if kind in ("r2c", "halfpure", "real"):
        x = rng.uniform(-1, 1, dims).astype(real)
        if kind == "real":
            # The full, centred spectrum of a real image, as a scipy user gets it.
            return lambda: scipy.fft.fftshift(scipy.fft.fftn(x, norm="ortho", workers=workers))
        return lambda: scipy.fft.rfftn(x, norm="ortho", workers=workers)
    x = (rng.uniform(-1, 1, dims) + 1j * rng.uniform(-1, 1, dims)).astype(cplx)
    axes = {"rows": (-1,), "x": (-1,), "y": (-2,), "z": (-3,), "xy": (-2, -1), "frames": (-2, -1)}.get(kind)
    return lambda: scipy.fft.ifftn(x, axes=axes, norm="ortho", workers=workers, overwrite_x=True)


def median_ms(call, budget_s=1.5):
    call()
    times = []
    start = time.perf_counter()
    while len(times) < 5 or (time.perf_counter() - start < budget_s and len(times) < 200):
        t0 = time.perf_counter()
        call()
        times.append((time.perf_counter() - t0) * 1e3)
    return statistics.median(times)


def times_ms(call, count):
    call()
    times = []
    for _ in range(count):
        t0 = time.perf_counter()
        call()
        times.append((time.perf_counter() - t0) * 1e3)
    return times


def tight_table(rows, header=True):
    if not header:
        return tight_rows(rows)
    print("Tight loop: 300 calls back to back, each case in a fresh process with an empty plan cache.")
    print("All times in ms. Targets: total/best <= 2; last50/(FFTW+scale) <= 1.15; "
          "cheap-worst/scipy-worst <= 1 within A/A")
    print("  total = the loop; best = the better of 300 cheap calls and FFTW_MEASURE planning + 300 "
          "measured calls (FFTW+scale);")
    print("  from = the first call on the measured plan (-1: none); cheap, cheap-worst = median and "
          "slowest call before it")
    print("  (less the first, which plans, and the one that may have measured); scipy, scipy-worst = "
          "median and slowest of as many warm scipy.fft calls;")
    print("  A/A = worst-over-worst between the odd and the even scipy calls; last50 = median of the "
          "loop's last 50 calls;")
    print("  measuring = raw FFTW_MEASURE planning; FFTW+scale = its plan's execution plus a scale pass")
    print()
    columns = ("case", "thr", "total", "best", "total/best", "from", "cheap", "cheap-worst", "scipy",
               "scipy-worst", "cheap-worst/scipy-worst", "A/A", "last50", "FFTW+scale",
               "last50/(FFTW+scale)", "measuring")
    widths = (20, 3, 9, 9, 10, 4, 7, 11, 7, 11, 23, 5, 7, 10, 19, 9)
    print(" ".join(("%-*s" if i == 0 else "%*s") % (w, c) for i, (w, c) in enumerate(zip(widths, columns))))
    tight_rows(rows)


def tight_rows(rows):
    for name, threads, total, first_measured, cheap_calls, cheap, cheap_worst, last50, measuring, \
            measured, estimated in rows:
        total, cheap, cheap_worst, last50, measuring, measured, estimated = map(
            float, (total, cheap, cheap_worst, last50, measuring, measured, estimated))
        cheap_calls = int(cheap_calls)
        best = min(300 * (cheap if cheap_calls else estimated), measuring + 300 * measured)
        scipy_times = times_ms(scipy_call(name, int(threads)), min(300, max(10, cheap_calls)))
        halves = max(scipy_times[0::2]), max(scipy_times[1::2])
        scipy_median, scipy_worst = statistics.median(scipy_times), max(scipy_times)
        cells = ["%-20s" % name, "%3s" % threads, "%9.0f" % total, "%9.0f" % best,
                 "%10.2f" % (total / best), "%4s" % first_measured,
                 "%7.2f" % cheap, "%11.2f" % cheap_worst, "%7.2f" % scipy_median, "%11.2f" % scipy_worst,
                 "%23.2f" % (cheap_worst / scipy_worst if cheap_calls else 0),
                 "%5.2f" % (max(halves) / min(halves)), "%7.2f" % last50, "%10.2f" % measured,
                 "%19.2f" % (last50 / measured), "%9.0f" % measuring]
        print(" ".join(cells))
        sys.stdout.flush()


def first_calls_table(rows, header, known):
    """Each case's first call and calls 2 to 20 against scipy's warm calls."""
    if header:
        print("First calls: each case in a fresh process with an empty plan cache, 20 calls back to back, through "
              "the kernel library.")
        print("All times in ms. Targets: first/scipy <= 2; calls/scipy <= 1 (within A/A); for stacks and volumes, "
              "stack/frames <= 1.1")
        print("  first = the first call, calls = the median of calls 2-20, each the median over the case's fresh "
              "processes (3);")
        print("  scipy = median of 40 warm scipy.fft calls (same data, workers and scale);")
        print("  A/A = the larger over the smaller median of scipy's odd and even calls (this machine's noise on "
              "such ratios);")
        print("  frame/first, frame/calls = a stack's or volume's time over its frames' transformed one by one, a "
              "2-D call each (frames-*, same threads, this run)")
        print("  planes/calls = a volume's calls less its z transform's (z-*), over its frames': the share of its "
              "planes (the whole volume adds a transform along z, more arithmetic than its frames)")
        print()
        columns = ("case", "thr", "first", "calls", "scipy", "A/A", "first/scipy", "calls/scipy", "frame/first",
                   "frame/calls", "planes/calls")
        widths = (24, 3, 8, 8, 8, 5, 11, 11, 11, 11, 12)
        print(" ".join(("%-*s" if i == 0 else "%*s") % (w, c) for i, (w, c) in enumerate(zip(widths, columns))))
    for name, threads, first, calls in medians_of_runs(rows):
        times = times_ms(scipy_call(name, int(threads)), 40)
        scipy_median = statistics.median(times)
        halves = statistics.median(times[0::2]), statistics.median(times[1::2])
        cells = ["%-24s" % name, "%3s" % threads, "%8.2f" % first, "%8.2f" % calls, "%8.2f" % scipy_median,
                 "%5.2f" % (max(halves) / min(halves)), "%11.2f" % (first / scipy_median),
                 "%11.2f" % (calls / scipy_median)]
        frames = frames_of(name)
        if frames and (frames, threads) in known:
            frames_first, frames_calls = known[frames, threads]
            cells += ["%11.2f" % (first / frames_first), "%11.2f" % (calls / frames_calls)]
            along_z = name.replace("c2c-", "z-", 1)
            if name.startswith("c2c-") and (along_z, threads) in known:
                cells.append("%12.2f" % ((calls - known[along_z, threads][1]) / frames_calls))
        known[name, threads] = first, calls
        print(" ".join(cells))
        sys.stdout.flush()


def medians_of_runs(rows):
    """One row per case and thread count: the median first call and the median
    of the calls' medians over its runs (a fresh process each: one first call
    is one sample of a noisy moment)."""
    runs = {}
    for name, threads, first, calls in rows:
        runs.setdefault((name, threads), []).append((float(first), float(calls)))
    return [(name, threads, statistics.median(f for f, _ in r), statistics.median(c for _, c in r))
            for (name, threads), r in runs.items()]


def known_first_calls():
    """First calls and calls 2-20 of cases run earlier (fft_bench's lines in
    the file after --known), for the per-frame ratios."""
    rows = []
    if "--known" in sys.argv:
        with open(sys.argv[sys.argv.index("--known") + 1]) as lines:
            for line in lines:
                cells = line.rstrip("\n").split("\t")
                if len(cells) == 4 and cells[0] != "case":
                    rows.append(cells)
    return {(name, threads): (first, calls) for name, threads, first, calls in medians_of_runs(rows)}


def frames_of(name):
    """The case that transforms a stack's (xy) or volume's (c2c of three
    sizes) frames one by one, a 2-D call each."""
    kind, precision, shape = name.split("-")
    dims = shape.split("x")
    if kind == "xy" or (kind == "c2c" and len(dims) == 3 and dims[1] == dims[2]):
        return "frames-%s-%s" % (precision, shape)
    return None


def main():
    rows = [line.rstrip("\n").split("\t") for line in sys.stdin if line.strip()]
    header, rows = rows[0], rows[1:]
    if header[2] == "total":
        return tight_table(rows, "--no-header" not in sys.argv)
    if header[3].startswith("calls_2_"):
        return first_calls_table(rows, "--no-header" not in sys.argv, known_first_calls())
    assert header == ["case", "threads", "first", "worst", "cheap", "cheap_worst", "steady",
                      "measured", "scaled", "cheap_spread", "calls", "settled_s"], header
    print("Calls with a script's idle time between them (twice the last call, at least 20 ms), "
          "from an empty plan cache.")
    print("All times in ms. Targets: steady/(FFTW+scale) <= 1.10; steady/scipy < 1; "
          "first/cheap <= 1.20")
    print("  first  = the layer's first call; worst = its slowest call until settled (a call that "
          "measures included);")
    print("  cheap  = raw FFTW_ESTIMATE planning + one execution + the scale pass (median), "
          "cheap-worst = the slowest of as many such calls;")
    print("  steady = the layer settled, its 1/sqrt(N) scale included; FFTW = a raw "
          "FFTW_MEASURE plan's execution;")
    print("  FFTW+scale = the same plus a plain parallel scale pass; scipy = scipy.fft, same "
          "workers and scale;")
    print("  A/A = the worst-over-worst ratio between the odd and the even raw cheap calls "
          "(this machine's noise on such ratios);")
    print("  calls, settled = layer calls and seconds until its measured plan was ready")
    print()
    columns = ("case", "thr", "first", "worst", "cheap", "cheap-worst", "steady", "FFTW",
               "FFTW+scale", "scipy", "steady/FFTW", "steady/(FFTW+scale)", "steady/scipy",
               "first/cheap", "worst/cheap-worst", "A/A", "calls", "settled")
    widths = (20, 3, 8, 8, 8, 11, 8, 8, 10, 8, 11, 19, 12, 11, 17, 5, 5, 7)
    print(" ".join(("%-*s" if i == 0 else "%*s") % (w, c) for i, (w, c) in enumerate(zip(widths, columns))))
    for name, threads, *times, spread, calls, settled in rows:
        first, worst, cheap, cheap_worst, steady, measured, scaled = map(float, times)
        scipy_ms = median_ms(scipy_call(name, int(threads)))
        values = (first, worst, cheap, cheap_worst, steady, measured, scaled, scipy_ms,
                  steady / measured, steady / scaled, steady / scipy_ms, first / cheap, worst / cheap_worst,
                  float(spread))
        cells = ["%-20s" % name, "%3s" % threads]
        cells += ["%*.2f" % (w, v) for w, v in zip(widths[2:], values)]
        cells += ["%5s" % calls, "%6.1fs" % float(settled) if float(settled) >= 0 else "  never"]
        print(" ".join(cells))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
