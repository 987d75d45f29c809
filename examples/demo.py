#!/usr/bin/python3
"""Lumadex demonstration: the Fourier transform of a crystal-lattice image.

A synthetic high-resolution micrograph of a hexagonal crystal lattice (with
shot noise) is transformed by the plug-in (ZEPPureFFT), its power spectrum is
shown with the Bragg spots, the spacing of the strongest spot is measured, and
the spectrum is transformed back (ZEPPureIFFT with 1/N) to check the round trip.
The plug-in's call counters are printed; then a real micrograph recorded by a
microscope (a DM3 file among HyperSpy's test files, when installed) is opened
and shown with its power spectrum, both with calibrated axes.

    PYTHONPATH=build/python /usr/bin/python3 examples/demo.py [OUTPUT_DIR] [--size N]

Pictures go to OUTPUT_DIR (default: out/ in the working directory) as PNG files.
Each step is a small function in STEPS, run in order on one shared Demo record.
"""

import argparse
import dataclasses
import importlib.util
import os
import sys
import time

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import lumadex  # noqa: E402

PIXEL_SIZE_NM = 0.02  # 20 pm per pixel, a typical HRTEM sampling
LATTICE_SPACING_NM = 0.213  # spacing of the lattice planes of the first-order spots
LATTICE_ROTATION_DEG = 12.0


@dataclasses.dataclass
class Demo:
    host: lumadex.Host
    out_dir: str
    size: int
    seed: int
    pictures: list = dataclasses.field(default_factory=list)
    lattice: np.ndarray = None  # the micrograph, real
    image: lumadex.Image = None  # the micrograph as a host image
    spectrum: lumadex.Image = None  # ZEPPureFFT of the image
    round_trip: lumadex.Image = None  # ZEPPureIFFT of the spectrum

    def save(self, figure, name):
        path = os.path.join(self.out_dir, name)
        figure.savefig(path, dpi=100)
        plt.close(figure)
        self.pictures.append(path)
        print(f"  wrote {path}")


# --- the input ---------------------------------------------------------------

def hexagonal_lattice(size, seed):
    """A noisy hexagonal-lattice micrograph: three plane waves 60 degrees apart, their harmonics, shot noise."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:size, 0:size] * PIXEL_SIZE_NM  # positions in nm
    g = 1.0 / LATTICE_SPACING_NM  # spatial frequency of the first-order spots, 1/nm
    intensity = np.zeros((size, size))
    for k in range(3):
        angle = np.deg2rad(LATTICE_ROTATION_DEG + 60.0 * k)
        phase = 2 * np.pi * g * (x * np.cos(angle) + y * np.sin(angle))
        intensity += np.cos(phase) + 0.3 * np.cos(2 * phase)
    # Thickness falls off towards the edges of the crystal, as in a wedge-shaped sample.
    envelope = 0.6 + 0.4 * np.exp(-((x - x.mean()) ** 2 + (y - y.mean()) ** 2) / (0.4 * x.max()) ** 2)
    counts = 40.0 * (4.0 + envelope * intensity)  # mean counts per pixel
    return rng.poisson(np.clip(counts, 0, None)).astype(np.float64)


def make_input(demo):
    demo.lattice = hexagonal_lattice(demo.size, demo.seed)
    demo.image = demo.host.image(demo.lattice.astype(np.complex64), "Hexagonal lattice")
    for dim in (0, 1):
        demo.image.set_calibration(dim, 0.0, PIXEL_SIZE_NM, "nm")
    print(f"input: {demo.size} x {demo.size} synthetic micrograph, {PIXEL_SIZE_NM * 1000:.0f} pm per pixel, "
          f"lattice spacing {LATTICE_SPACING_NM} nm")


# --- the steps ---------------------------------------------------------------

def forward_transform(demo):
    started = time.perf_counter()
    demo.spectrum = demo.host.ZEPPureFFT(demo.image, 1.0, None)
    elapsed = (time.perf_counter() - started) * 1000
    origin, scale, units = demo.spectrum.calibration(0)
    print(f"ZEPPureFFT: {demo.spectrum.shape[1]} x {demo.spectrum.shape[0]} spectrum in {elapsed:.1f} ms, "
          f"calibrated {scale:.4f} {units} per pixel")


def strongest_spot(power, scale):
    """(spatial frequency in 1/nm, (row, column)) of the strongest spot away from the centre of a shifted spectrum."""
    n = power.shape[0]
    rows, cols = np.indices(power.shape) - n // 2
    radius = np.hypot(rows, cols)
    masked = np.where(radius > 0.25 * n * PIXEL_SIZE_NM / LATTICE_SPACING_NM, power, 0)  # skip the central blob
    row, col = np.unravel_index(np.argmax(masked), power.shape)
    return radius[row, col] * scale, (row, col)


def show_power_spectrum(demo):
    spectrum = demo.spectrum.array()
    power = np.fft.fftshift(np.log1p(np.abs(spectrum) ** 2))
    _, scale, units = demo.spectrum.calibration(0)
    frequency, spot = strongest_spot(power, scale)
    print(f"strongest spot at {frequency:.3f} {units}: lattice spacing {1 / frequency:.4f} nm "
          f"(generated {LATTICE_SPACING_NM} nm)")

    n = demo.size
    field = n * PIXEL_SIZE_NM  # nm
    band = n // 2 * scale  # highest frequency, in 1/nm
    low, high = (-(n // 2) - 0.5) * scale, (n - n // 2 - 0.5) * scale  # pixel edges: index i is at (i - n/2) * scale
    figure, (left, right) = plt.subplots(1, 2, figsize=(11, 5.2))
    left.imshow(demo.lattice, cmap="gray", extent=(0, field, field, 0))
    left.set_title("Synthetic micrograph")
    left.set_xlabel("x (nm)")
    left.set_ylabel("y (nm)")
    right.imshow(power, cmap="inferno", extent=(low, high, high, low))
    right.plot((spot[1] - n // 2) * scale, (spot[0] - n // 2) * scale, "o", mfc="none", mec="cyan", ms=14)
    zoom = min(band, 2.5 / LATTICE_SPACING_NM)  # first- and second-order spots
    right.set_xlim(-zoom, zoom)
    right.set_ylim(zoom, -zoom)
    right.set_title(f"Power spectrum (log, centre), d = {1 / frequency:.3f} nm")
    right.set_xlabel(f"kx ({units})")
    right.set_ylabel(f"ky ({units})")
    figure.tight_layout()
    demo.save(figure, "power_spectrum.png")


def inverse_transform(demo):
    n_pixels = demo.size * demo.size
    demo.round_trip = demo.host.ZEPPureIFFT(demo.spectrum, 1.0 / n_pixels, None)
    back = demo.round_trip.array()
    original = demo.image.array()
    difference = back - original
    max_error = np.max(np.abs(difference)) / np.max(np.abs(original))
    rms_error = np.linalg.norm(difference) / np.linalg.norm(original)
    print(f"ZEPPureIFFT with scale 1/{n_pixels}: round-trip error {max_error:.2e} (max), {rms_error:.2e} (rms), "
          f"relative to the image")

    figure, (left, right) = plt.subplots(1, 2, figsize=(11, 5.2))
    left.imshow(back.real, cmap="gray")
    left.set_title("Transformed back")
    shown = right.imshow(difference.real, cmap="coolwarm")
    right.set_title("Back minus original (counts)")
    figure.colorbar(shown, ax=right, shrink=0.8)
    figure.tight_layout()
    demo.save(figure, "round_trip.png")


def recorded_file():
    """A real micrograph recorded by a microscope: HyperSpy's DM3 test file, when python3-hyperspy is installed."""
    package = importlib.util.find_spec("hyperspy")
    path = package and os.path.join(os.path.dirname(package.origin), "tests", "io", "dm3_2D_data", "multi_signal.dm3")
    return path if path and os.path.exists(path) else None


def show_recorded_file(demo):
    path = recorded_file()
    if path is None:
        print("recorded file: none here (python3-hyperspy holds the DM files)")
        return
    recorded = demo.host.open(path)[0]  # the file's first image: a STEM HAADF micrograph
    pixels = recorded.array().astype(np.float64)
    image = demo.host.image((pixels - pixels.mean()).astype(np.complex64), recorded.name)
    for dim in (0, 1):
        image.set_calibration(dim, *recorded.calibration(dim))
    spectrum = demo.host.ZEPPureFFT(image, 1.0, None)
    power = np.fft.fftshift(np.log1p(np.abs(spectrum.array()) ** 2))
    origin, scale, units = recorded.calibration(0)
    _, k_scale, k_units = spectrum.calibration(0)
    rows, cols = pixels.shape
    print(f"recorded file {os.path.basename(path)}: \"{recorded.name}\", {cols} x {rows} "
          f"{recorded.data_type.host_name}, {scale:.4f} {units} per pixel")
    figure, (left, right) = plt.subplots(1, 2, figsize=(11, 5.2))
    left.imshow(pixels, cmap="gray", extent=(-origin * scale, (cols - origin) * scale, (rows - origin) * scale,
                                             -origin * scale))
    left.set_title(f"{recorded.name} ({os.path.basename(path)})")
    left.set_xlabel(f"x ({units})")
    left.set_ylabel(f"y ({units})")
    low, high = (-(cols // 2) - 0.5) * k_scale, (cols - cols // 2 - 0.5) * k_scale
    right.imshow(power, cmap="inferno", extent=(low, high, high, low))
    right.set_title("Power spectrum (log, centre)")
    right.set_xlabel(f"kx ({k_units})")
    right.set_ylabel(f"ky ({k_units})")
    figure.tight_layout()
    demo.save(figure, "recorded_file.png")


def print_counters(demo):
    print("call counters:")
    for name, counter in sorted(demo.host.counters().items()):
        print(f"  {name:<20} {counter['count']:>4} calls {counter['seconds'] * 1000:>9.3f} ms")


STEPS = [make_input, forward_transform, show_power_spectrum, inverse_transform, print_counters, show_recorded_file]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("output", nargs="?", default="out", help="folder for the pictures (default: out)")
    parser.add_argument("--size", type=int, default=512, help="image size in pixels (default: 512)")
    parser.add_argument("--seed", type=int, default=1, help="noise seed (default: 1)")
    args = parser.parse_args(argv)
    if args.size < 16:
        parser.error("--size must be at least 16")

    os.makedirs(args.output, exist_ok=True)
    with lumadex.Host() as host:
        print(f"plug-in: {host.plugin_path} ({len(host.signatures())} script functions)")
        demo = Demo(host=host, out_dir=args.output, size=args.size, seed=args.seed)
        for step in STEPS:
            step(demo)
        print(f"pictures in {os.path.abspath(args.output)}: {', '.join(os.path.basename(p) for p in demo.pictures)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
