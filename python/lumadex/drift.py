"""Drift correction of an image series with the plug-in's own functions.

Each frame is registered against a reference frame by masked phase
correlation: both are transformed with the zero frequency at the centre
(ZEPFFT), their cross-power spectrum is normalised (by default by the
square root of its modulus) and damped towards high frequencies
(ZEPCrossCorrelationMask), and the inverse transform (ZEPIFFT) is a
correlation map whose peak, found with ZEPMax, lies at the centre plus the
frame's displacement. A quadratic fit through the
peak and its neighbours gives the sub-pixel part. Each frame is then shifted
back in Fourier space by a phase ramp (ZEPImageShifter) and transformed back,
and the aligned frames are averaged.
"""

import dataclasses

import numpy as np

from ._host import Ref

# The mask's radius in cycles per pixel: exp(-(f / radius)^4) keeps the
# frequencies that carry the image and damps the noise beyond them. With the
# half-normalised cross-power spectrum (mode 2) this held on particles,
# amorphous texture and lattices with an envelope at low dose, where plain
# phase correlation (mode 3) lets the noise at high frequencies win.
DEFAULT_MASK_RADIUS = 0.12
DEFAULT_MODE = 2


@dataclasses.dataclass
class Registration:
    """What register_series returns.

    drift: (n, 2) array of each frame's displacement from the reference,
        (dy, dx) in pixels: the frame's content lies at the reference's
        position plus drift.
    aligned: (n, h, w) float32 array, every frame shifted back by its drift.
    average: (h, w) float64 array, the mean of the aligned frames.
    """

    drift: np.ndarray
    aligned: np.ndarray
    average: np.ndarray


def _load(image, frame):
    """Writes a real frame into a complex host image of its shape, in one pass."""
    with image.pixels() as pixels:
        pixels[...] = frame
    return image


def _peak_offset(values, y, x):
    """Sub-pixel offset of a peak at (y, x) from a quadratic through it and its neighbours, per axis."""

    def vertex(left, centre, right):
        curvature = left - 2.0 * centre + right
        if curvature >= 0:  # not a maximum: keep the whole-pixel position
            return 0.0
        return float(np.clip(0.5 * (left - right) / curvature, -0.5, 0.5))

    h, w = values.shape
    dy = vertex(values[(y - 1) % h, x], values[y, x], values[(y + 1) % h, x])
    dx = vertex(values[y, (x - 1) % w], values[y, x], values[y, (x + 1) % w])
    return dy, dx


class _Workspace:
    """The host images one registration reuses for every frame: no allocation per frame."""

    def __init__(self, host, shape):
        self.host = host
        self.shape = shape
        self.frame = host.new_image("frame", "Complex8", *shape)
        self.cross = host.new_image("cross-power spectrum", "Complex8", *shape)
        self.peak = host.new_image("correlation", "Real4", *shape)

    def spectrum(self, frame, into=None):
        """ZEPFFT of a real frame, in place in `into` (the workspace's frame image by default)."""
        image = _load(into if into is not None else self.frame, frame)
        return self.host.ZEPFFT(image, 1.0, image)


def measure_shift(workspace, spectrum, reference_spectrum, mask_radius=DEFAULT_MASK_RADIUS, mode=DEFAULT_MODE):
    """Displacement (dy, dx) of the image behind `spectrum` from the one behind `reference_spectrum`.

    Both are centred spectra (ZEPFFT) of images of the workspace's shape;
    `mode` is ZEPCrossCorrelationMask's normalisation (1 plain, 2 half, 3 phase).
    """
    host, (h, w) = workspace.host, workspace.shape
    cross, peak = workspace.cross, workspace.peak
    host.ZEPCrossCorrelationMask(
        spectrum, reference_spectrum, w // 2, h // 2, 0, 1.0 / w, 1.0 / h, 0.0, mask_radius, mode, Ref(0.0), cross
    )
    host.ZEPIFFT(cross, 1.0 / (w * h), cross)
    with cross.pixels() as correlation, peak.pixels() as values:
        values[...] = correlation.real
    x, y, z = Ref(0), Ref(0), Ref(0)
    host.ZEPMax(peak, x, y, z)
    py, px = y.value, x.value
    with peak.pixels() as values:
        fy, fx = _peak_offset(values, py, px)
    return py + fy - h // 2, px + fx - w // 2


def register_series(host, frames, reference=0, mask_radius=DEFAULT_MASK_RADIUS, mode=DEFAULT_MODE):
    """Registers every frame of a series against one of them and averages the aligned frames.

    host: a lumadex.Host with the plug-in loaded.
    frames: a 3-D array (n, h, w) or a list of 2-D arrays of one shape.
    reference: the index of the frame the others are aligned to.
    mask_radius: radius of the correlation's frequency mask, in cycles per pixel.
    mode: normalisation of the cross-power spectrum (1 plain, 2 half, 3 phase).

    Returns a Registration with the measured drift per frame (dy, dx), the
    aligned frames and their average. Works on any image content with
    structure at the frequencies the mask keeps (particles, amorphous
    texture, lattices with an envelope); sizes may be odd or even.
    """
    frames = [np.asarray(frame) for frame in frames]
    if not frames:
        raise ValueError("a series needs at least one frame")
    shape = frames[0].shape
    if len(shape) != 2 or any(frame.shape != shape for frame in frames):
        raise ValueError(f"every frame must be 2-D and of one shape; got {[f.shape for f in frames]}")
    h, w = shape
    workspace = _Workspace(host, shape)
    reference_spectrum = workspace.spectrum(frames[reference], host.new_image("reference", "Complex8", h, w))

    drift = np.zeros((len(frames), 2))
    aligned = np.empty((len(frames), h, w), np.float32)
    for k, frame in enumerate(frames):
        spectrum = workspace.spectrum(frame)
        dy, dx = measure_shift(workspace, spectrum, reference_spectrum, mask_radius, mode)
        drift[k] = dy, dx
        host.ZEPImageShifter(spectrum, w, h, 1, w // 2, h // 2, 0, -dx, -dy, 0.0, 1.0, spectrum)
        host.ZEPIFFT(spectrum, 1.0 / (w * h), spectrum)
        with spectrum.pixels() as back:
            aligned[k] = back.real
    return Registration(drift=drift, aligned=aligned, average=aligned.mean(axis=0, dtype=np.float64))
