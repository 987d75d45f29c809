#!/usr/bin/python3
"""Opening a DM4 file from the page cache: lumadex's host.open against HyperSpy's load and numpy.fromfile.

    PYTHONPATH=build/python /usr/bin/python3 bench/dm_files/bench.py [--size 4096] [--repeat 7]

A size x size Real 4 image is saved by Image.save into a temporary folder, read
once to bring it into the page cache, then opened `repeat` times by each reader
in turn. numpy.fromfile reads the same number of pixel bytes from the same
file: the floor for any reader. The table gives the median and best times and
the ratios to host.open.
"""

import argparse
import logging
import os
import statistics
import tempfile
import time
import warnings

import numpy as np

import lumadex


def timed(run, repeat):
    times = []
    for _ in range(repeat):
        started = time.perf_counter()
        result = run()
        times.append(time.perf_counter() - started)
        del result
    return statistics.median(times), min(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size", type=int, default=4096)
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args()

    logging.disable(logging.WARNING)
    warnings.simplefilter("ignore")
    import hyperspy.api as hs  # noqa: E402 (slow to import; not part of any timing)

    n = args.size
    pixels = np.random.default_rng(1).standard_normal((n, n)).astype(np.float32)
    with tempfile.TemporaryDirectory() as folder, lumadex.Host() as host:
        path = os.path.join(folder, "bench.dm4")
        host.image(pixels, "bench").save(path)
        with open(path, "rb") as warm:
            warm.read()
        (image,) = host.open(path)
        assert np.array_equal(image.array(), pixels) and np.array_equal(hs.load(path).data, pixels)
        del image

        readers = {
            "lumadex host.open": lambda: host.open(path),
            "numpy.fromfile (same bytes)": lambda: np.fromfile(path, dtype=np.float32, count=n * n),
            "hyperspy load": lambda: hs.load(path),
        }
        results = {name: timed(run, args.repeat) for name, run in readers.items()}

    ours = results["lumadex host.open"][0]
    print(f"Opening a {n} x {n} Real 4 DM4 file ({n * n * 4 / 2**20:.0f} MiB) from the page cache, "
          f"{args.repeat} runs each")
    print(f"{'reader':<30} {'median ms':>10} {'best ms':>10} {'median / host.open':>20}")
    for name, (median, best) in results.items():
        print(f"{name:<30} {median * 1e3:>10.1f} {best * 1e3:>10.1f} {median / ours:>20.2f}")


if __name__ == "__main__":
    main()
