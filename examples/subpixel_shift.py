#!/usr/bin/python3
"""Lumadex example: shifting an image by a fraction of a pixel in Fourier space.

A synthetic micrograph (a few round particles on a smooth background) is
transformed with ZEPFFT (zero frequency at the centre), multiplied by a phase
ramp with ZEPImageShifter (a shift of +0.37 pixels along x and -1.6 pixels
along y) and transformed back with ZEPIFFT. No interpolation is involved: the
shift is exact for a band-limited image, with periodic wrap-around at the
borders. The script measures where the brightest particle went, compares the
result with scipy.ndimage.fourier_shift, and writes a picture of the original
beside the shifted image.

    PYTHONPATH=build/python /usr/bin/python3 examples/subpixel_shift.py [OUTPUT_DIR] [--size N]
"""

import argparse
import os

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402
import scipy.ndimage  # noqa: E402

import lumadex  # noqa: E402

SHIFT_X, SHIFT_Y = 0.37, -1.6  # pixels


def particles(size, seed):
    """Round, soft-edged particles (a band-limited image) on a gentle gradient."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:size, 0:size].astype(float)
    image = 0.2 * np.cos(2 * np.pi * x / size) + 0.1 * np.sin(2 * np.pi * y / size)
    for i in range(12):
        cx, cy = rng.uniform(0.15, 0.85, 2) * size
        radius = size / 40 * (2.0 if i == 0 else rng.uniform(0.6, 1.4))
        image += (1.5 if i == 0 else 1.0) * np.exp(-((x - cx) ** 2 + (y - cy) ** 2) / (2 * radius**2))
    return image


def centroid(image, around, radius):
    """Centre (x, y) of the part above half maximum in the window of `radius` pixels around `around`."""
    x0, y0 = (int(round(c)) for c in around)
    window = image[y0 - radius:y0 + radius + 1, x0 - radius:x0 + radius + 1]
    window = np.clip(window - 0.5 * (window.max() + window.min()), 0, None)
    y, x = np.mgrid[y0 - radius:y0 + radius + 1, x0 - radius:x0 + radius + 1]
    return (x * window).sum() / window.sum(), (y * window).sum() / window.sum()


def shift_with_lumadex(host, image, dx, dy):
    """ZEPFFT, then the centred shifter, then ZEPIFFT with 1/N: the image translated by (dx, dy)."""
    height, width = image.shape
    source = host.image(image.astype(np.complex128), "particles")
    spectrum = host.ZEPFFT(source, 1.0, None)  # zero frequency at (width / 2, height / 2)
    # The plug-in's forward transform has the positive exponent, so fSign = +1
    # moves the content by +dx, +dy.
    host.ZEPImageShifter(spectrum, width, height, 1, width // 2, height // 2, 0, dx, dy, 0.0, 1.0, spectrum)
    shifted = host.ZEPIFFT(spectrum, 1.0 / image.size, None)
    return shifted.array().real


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("output", nargs="?", default="out", help="folder for the picture (default: out)")
    parser.add_argument("--size", type=int, default=256, help="image size in pixels (default: 256)")
    parser.add_argument("--seed", type=int, default=3, help="particle seed (default: 3)")
    args = parser.parse_args(argv)
    os.makedirs(args.output, exist_ok=True)

    image = particles(args.size, args.seed)
    with lumadex.Host() as host:
        shifted = shift_with_lumadex(host, image, SHIFT_X, SHIFT_Y)

    brightest = np.unravel_index(np.argmax(image), image.shape)[::-1]
    radius = max(3, args.size // 25)
    before = centroid(image, brightest, radius)
    after = centroid(shifted, (before[0] + SHIFT_X, before[1] + SHIFT_Y), radius)
    moved = (after[0] - before[0], after[1] - before[1])
    print(f"asked for a shift of ({SHIFT_X:+.2f}, {SHIFT_Y:+.2f}) pixels")
    print(f"brightest particle moved by ({moved[0]:+.3f}, {moved[1]:+.3f}) pixels")
    reference = scipy.ndimage.fourier_shift(np.fft.fft2(image), (SHIFT_Y, SHIFT_X))
    difference = np.abs(shifted - np.fft.ifft2(reference).real).max()
    print(f"largest difference from scipy.ndimage.fourier_shift: {difference:.2e}")

    figure, axes = plt.subplots(1, 3, figsize=(13, 4.6))
    zoom = (slice(int(before[1]) - 3 * radius, int(before[1]) + 3 * radius),
            slice(int(before[0]) - 3 * radius, int(before[0]) + 3 * radius))
    for ax, picture, title in ((axes[0], image, "original"),
                               (axes[1], shifted, f"shifted by ({SHIFT_X:+.2f}, {SHIFT_Y:+.2f}) px")):
        ax.imshow(picture, cmap="gray", origin="upper")
        ax.plot(*before, "c+", markersize=12)
        ax.set_title(title)
    axes[2].imshow(shifted[zoom] - image[zoom], cmap="RdBu_r")
    axes[2].set_title("shifted - original, around the brightest particle")
    for ax in axes:
        ax.set_xticks([]), ax.set_yticks([])
    figure.suptitle("Sub-pixel shift with ZEPFFT, ZEPImageShifter and ZEPIFFT")
    figure.tight_layout()
    path = os.path.join(args.output, "subpixel_shift.png")
    figure.savefig(path, dpi=100)
    plt.close(figure)
    print(f"wrote {path}")


if __name__ == "__main__":
    main()
