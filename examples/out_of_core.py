#!/usr/bin/python3
"""Drift correction of a series larger than the workers' memory, on a dask cluster of two worker processes.

A series of low-dose frames (nanoparticles on an amorphous film, moved along
a known sub-pixel path) is made on the workers and streamed into one DM4
file chunk by chunk: the file is larger than the memory the two workers are
given together. The file is opened lazily (only its tags are read), and
lumadex.registration.register_series registers it on a dask.distributed
LocalCluster of two worker processes, one thread each, with a memory limit
below the file's size: every task reads its chunk of frames from the file
and registers it against the reference, whose spectrum each worker builds
once. Printed: the drift error against the true path, frames per second,
and each worker's peak memory against its limit; written: the aligned
average.

    PYTHONPATH=build/python /usr/bin/python3 examples/out_of_core.py [OUTPUT_DIR]
        [--size 512] [--frames 832] [--memory-limit 384] [--dose 20]
"""

import argparse
import os
import resource
import sys
import tempfile
import time

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import lumadex  # noqa: E402
import lumadex.io  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from drift_correction import rms, specimen  # noqa: E402

FRAMES_PER_CHUNK = 16


def drift_path(frames, rng):
    """A slow wander with jitter, starting at 0 and staying well within a frame: (dy, dx) per frame in pixels."""
    t = np.arange(frames, dtype=np.float64)
    path = np.stack([14.0 * np.sin(2 * np.pi * t / 400) + 0.01 * t,
                     9.0 * np.cos(2 * np.pi * t / 250) - 9.0 - 0.005 * t], axis=1)
    path += rng.normal(0.0, 0.15, path.shape)
    return path - path[0]


def record_chunk(mean_counts, shifts, dose, seed):
    """Frames of the specimen moved by each drift (a band-limited shift), with shot noise: made on a worker.

    At this dose the counts' Poisson noise is drawn as its Gaussian
    approximation (variance = mean, rounded to whole counts): five times
    faster to draw, and the same to the registration.
    """
    rng = np.random.default_rng(seed)
    size_y, size_x = mean_counts.shape
    spectrum = np.fft.rfft2(mean_counts * dose)
    ky = np.fft.fftfreq(size_y)[:, None]
    kx = np.fft.rfftfreq(size_x)[None, :]
    frames = np.empty((len(shifts),) + mean_counts.shape, np.float32)
    for k, (dy, dx) in enumerate(shifts):
        ramp = np.exp(-2j * np.pi * ky * dy) * np.exp(-2j * np.pi * kx * dx)  # separable: two vectors
        counts = np.clip(np.fft.irfft2(spectrum * ramp, s=mean_counts.shape), 0, None).astype(np.float32)
        noise = rng.standard_normal(counts.shape, dtype=np.float32)
        frames[k] = np.maximum(np.rint(counts + np.sqrt(counts) * noise), 0)
    return frames


def recorded_series(mean_counts, path, dose, seed):
    """The series as a dask array whose chunks are recorded on the workers when computed."""
    import dask
    import dask.array as da

    specimen_key = dask.delayed(mean_counts, pure=True)  # sent to each worker once
    chunks = []
    for start in range(0, len(path), FRAMES_PER_CHUNK):
        shifts = path[start:start + FRAMES_PER_CHUNK]
        made = dask.delayed(record_chunk, pure=True)(specimen_key, shifts, dose, seed + start)
        chunks.append(da.from_delayed(made, (len(shifts),) + mean_counts.shape, np.float32))
    return da.concatenate(chunks)


def peak_memory():
    """This process's peak resident memory in bytes (Linux reports kilobytes)."""
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def save_average(out_dir, average):
    os.makedirs(out_dir, exist_ok=True)
    figure, axes = plt.subplots(figsize=(6, 6))
    axes.imshow(average, cmap="gray")
    axes.set_title("aligned average (out of core)")
    axes.set_axis_off()
    name = os.path.join(out_dir, "out_of_core_average.png")
    figure.savefig(name, dpi=100, bbox_inches="tight")
    plt.close(figure)
    print(f"  wrote {name}")


def main(argv=None):
    from distributed import Client, LocalCluster

    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out_dir", nargs="?", default="out")
    parser.add_argument("--size", type=int, default=512)
    parser.add_argument("--frames", type=int, default=832)
    parser.add_argument("--memory-limit", type=int, default=384, help="per worker, in MB (default: 384)")
    parser.add_argument("--dose", type=float, default=20.0, help="counts per pixel on the bare film")
    parser.add_argument("--seed", type=int, default=11)
    args, _ = parser.parse_known_args(argv)  # the main job hands every example the same arguments

    rng = np.random.default_rng(args.seed)
    path = drift_path(args.frames, rng)
    mean_counts = specimen(args.size, rng)
    limit = args.memory_limit * 2**20
    with tempfile.TemporaryDirectory(prefix="lumadex-out-of-core-") as folder, \
            LocalCluster(n_workers=2, threads_per_worker=1, processes=True, memory_limit=limit,
                         dashboard_address=":0") as cluster, Client(cluster) as client:
        workers = client.run(os.getpid)
        series_file = os.path.join(folder, "series.dm4")
        started = time.perf_counter()
        lumadex.io.save(series_file, recorded_series(mean_counts, path, args.dose, args.seed), name="series")
        size = os.path.getsize(series_file)
        print(f"series: {args.frames} frames of {args.size} x {args.size} float32 recorded on 2 workers and streamed "
              f"into a DM4 file of {size / 2**20:.0f} MB in {time.perf_counter() - started:.1f} s; "
              f"workers' memory limit {args.memory_limit} MB each, {2 * args.memory_limit} MB together")

        started = time.perf_counter()
        (series,) = lumadex.io.load(series_file, lazy=True, chunks=(FRAMES_PER_CHUNK, -1, -1))
        print(f"opened lazily in {(time.perf_counter() - started) * 1000:.1f} ms: {series.data.npartitions} chunks "
              f"of {FRAMES_PER_CHUNK} frames")

        started = time.perf_counter()
        result = lumadex.registration.register_series(series)
        seconds = time.perf_counter() - started
        error = rms(result.drift - path)
        print(f"registered on a LocalCluster of 2 worker processes x 1 thread: drift RMS error {error:.4f} px "
              f"(max {np.abs(result.drift - path).max():.4f} px), {args.frames / seconds:.1f} frames per second")

        peaks = client.run(peak_memory)
        restarted = client.run(os.getpid) != workers
        for address, peak in sorted(peaks.items()):
            print(f"  worker {address}: peak memory {peak / 2**20:.0f} MB of its {args.memory_limit} MB limit")
        print(f"  workers restarted: {'yes' if restarted else 'none'}; the series file is {size / 2**20:.0f} MB, "
              f"{size / (2 * limit):.2f}x the memory limit of both workers together")
    save_average(args.out_dir, result.average)
    return error, peaks, restarted, size


if __name__ == "__main__":
    main()
