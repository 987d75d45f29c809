#!/usr/bin/python3
"""Drift correction of a low-dose image series, with Lumadex and with scikit-image.

A synthetic series is made: nanoparticles on an amorphous support film,
moved along a known sub-pixel drift path and recorded with Poisson noise at
a low dose per frame. lumadex.drift.register_series measures the drift of
every frame against the first with the plug-in's functions and averages the
aligned frames. The same frames are registered with scikit-image's
phase_cross_correlation (upsample_factor 20, the better of its two
normalisations) and shifted back with scipy.ndimage.fourier_shift. Both run
on one thread. Printed: the drift error (RMS, pixels) and the time per frame
of each; pictures: the first frame, the plain and the aligned averages, and
the true and measured drift.

    PYTHONPATH=build/python /usr/bin/python3 examples/drift_correction.py [OUTPUT_DIR]
        [--size 1024] [--frames 30] [--dose 4]
"""

import argparse
import os
import time

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
from scipy import ndimage  # noqa: E402

import lumadex  # noqa: E402
from lumadex.drift import register_series  # noqa: E402


def specimen(size, rng):
    """Mean counts per pixel of nanoparticles (2-9 px radius) on an amorphous film, before the dose."""
    y, x = np.mgrid[0:size, 0:size].astype(np.float64)
    film = 1.0 + 0.35 * ndimage.gaussian_filter(rng.standard_normal((size, size)), 1.2) / 0.2
    particles = np.zeros((size, size))
    for _ in range(max(8, size * size // 6000)):
        cy, cx = rng.uniform(0, size, 2)
        radius = rng.uniform(2.0, 9.0)
        particles += 1.5 * np.exp(-((y - cy) ** 2 + (x - cx) ** 2) / (2 * radius**2))
    return np.clip(film + particles, 0.05, None)


def drift_path(frames, rng):
    """A slow, curved drift with jitter, starting at 0: (dy, dx) per frame in pixels."""
    t = np.arange(frames, dtype=np.float64)
    path = np.stack([0.28 * t + 1.2 * np.sin(t / 6.0), -0.17 * t + 0.8 * np.cos(t / 4.0) - 0.8], axis=1)
    path += rng.normal(0.0, 0.15, path.shape)
    return path - path[0]


def record_series(mean_counts, path, dose, rng):
    """Each frame: the specimen moved by its drift (band-limited shift), then Poisson noise."""
    spectrum = np.fft.fft2(mean_counts)
    frames = []
    for shift in path:
        moved = np.fft.ifft2(ndimage.fourier_shift(spectrum, shift)).real
        frames.append(rng.poisson(np.clip(moved, 0, None) * dose).astype(np.float32))
    return np.stack(frames)


def register_with_skimage(frames):
    """scikit-image + scipy: drift per frame (the better normalisation kept), aligned average, seconds per frame."""
    from skimage.registration import phase_cross_correlation

    best = None
    for normalization in ("phase", None):
        started = time.perf_counter()
        drift = np.array([
            -phase_cross_correlation(frames[0], frame, upsample_factor=20, normalization=normalization)[0]
            for frame in frames
        ])
        aligned = [np.fft.ifft2(ndimage.fourier_shift(np.fft.fft2(f), -d)).real for f, d in zip(frames, drift)]
        seconds = (time.perf_counter() - started) / len(frames)
        candidate = (normalization, drift, np.mean(aligned, axis=0), seconds)
        best = candidate if best is None else best
        yield candidate


def rms(error):
    return float(np.sqrt(np.mean(np.sum(error**2, axis=1))))


def save_pictures(out_dir, frames, lumadex_average, path, drift, skimage_drift):
    os.makedirs(out_dir, exist_ok=True)
    written = []
    for name, picture, title in [
        ("series_first_frame.png", frames[0], "first frame"),
        ("series_plain_average.png", frames.mean(axis=0), "plain average (blurred by drift)"),
        ("series_aligned_average.png", lumadex_average, "aligned average (Lumadex)"),
    ]:
        figure, axes = plt.subplots(figsize=(6, 6))
        axes.imshow(picture, cmap="gray")
        axes.set_title(title)
        axes.set_axis_off()
        figure.savefig(os.path.join(out_dir, name), dpi=100, bbox_inches="tight")
        plt.close(figure)
        written.append(name)
    figure, axes = plt.subplots(figsize=(7, 4.5))
    for column, axis_name in ((1, "x"), (0, "y")):
        axes.plot(path[:, column], "k-", lw=1, label=f"true {axis_name}")
        axes.plot(drift[:, column], "o", ms=4, label=f"Lumadex {axis_name}")
        axes.plot(skimage_drift[:, column], "x", ms=4, label=f"scikit-image {axis_name}")
    axes.set_xlabel("frame")
    axes.set_ylabel("drift (pixels)")
    axes.legend(fontsize=8)
    figure.savefig(os.path.join(out_dir, "series_drift.png"), dpi=100, bbox_inches="tight")
    plt.close(figure)
    written.append("series_drift.png")
    for name in written:
        print(f"  wrote {os.path.join(out_dir, name)}")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out_dir", nargs="?", default="out")
    parser.add_argument("--size", type=int, default=1024)
    parser.add_argument("--frames", type=int, default=30)
    parser.add_argument("--dose", type=float, default=4.0, help="electrons per pixel on the bare film")
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args(argv)

    rng = np.random.default_rng(args.seed)
    path = drift_path(args.frames, rng)
    frames = record_series(specimen(args.size, rng), path, args.dose, rng)
    print(f"series: {args.frames} frames of {args.size} x {args.size}, {args.dose:g} counts per pixel on the film")

    with lumadex.Host() as host:
        threads = host.ZEPGetMaxThreads()
        host.ZEPSetNumThreads(1)  # the same single thread scikit-image and scipy use
        started = time.perf_counter()
        result = register_series(host, frames)
        lumadex_seconds = (time.perf_counter() - started) / args.frames
        host.ZEPSetNumThreads(threads)

    print(f"{'method':<36}{'drift RMS error (px)':>22}{'ms per frame':>14}")
    lumadex_error = rms(result.drift - path)
    print(f"{'Lumadex (mask, half-normalised)':<36}{lumadex_error:>22.4f}{lumadex_seconds * 1000:>14.1f}")
    best = None
    for normalization, drift, average, seconds in register_with_skimage(frames):
        error = rms(drift - path)
        label = f"scikit-image + scipy ({normalization})"
        print(f"{label:<36}{error:>22.4f}{seconds * 1000:>14.1f}")
        if best is None or error < best[0]:
            best = (error, drift, seconds)
    print(f"Lumadex is {best[2] / lumadex_seconds:.1f}x faster per frame than scikit-image + scipy, "
          f"with {lumadex_error / best[0]:.2f}x its best drift error")
    save_pictures(args.out_dir, frames, result.average, path, result.drift, best[1])
    return lumadex_error, best[0]


if __name__ == "__main__":
    main()
