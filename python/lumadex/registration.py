"""Image registration of numpy arrays, with scikit-image's conventions.

Frames are registered by masked phase correlation on their real spectra:
the cross-power spectrum of a frame and the reference is normalised (by
default by the square root of its modulus, ``normalization="half"``),
damped towards high frequencies by ``exp(-(f / mask_radius)^4)`` (f in
cycles per pixel) and transformed back; the correlation's peak, refined to
sub-pixel precision by a parabola through it and its neighbours along each
axis, is the displacement. The work runs in float32 without the GIL, on
``lumadex.get_num_threads()`` threads.

    >>> import numpy as np, lumadex
    >>> shift = lumadex.registration.phase_cross_correlation(reference, moving)
    >>> registered = lumadex.ndimage.fourier_shift(...)  # or scipy.ndimage.shift(moving, shift)
"""

from __future__ import annotations

from typing import Iterable, Optional, Union

import inspect

import numpy as np

from . import _arrays, drift
from ._host import Host
from .drift import DEFAULT_MASK_RADIUS, Registration

__all__ = ["Registration", "phase_cross_correlation", "register_series"]


def phase_cross_correlation(
    reference_image: np.ndarray,
    moving_image: np.ndarray,
    *,
    normalization: Optional[str] = "half",
    mask_radius: float = DEFAULT_MASK_RADIUS,
) -> np.ndarray:
    """The shift that registers `moving_image` to `reference_image`.

    Parameters
    ----------
    reference_image, moving_image : array_like
        Real 2-D or 3-D images of one shape (any real dtype; computed in
        float32).
    normalization : {"half", "phase", None}
        How the cross-power spectrum P is normalised: by sqrt(|P|) ("half",
        robust at low dose), by |P| ("phase", classic phase correlation) or
        not at all (None).
    mask_radius : float
        Radius of the frequency mask in cycles per pixel (0.5 is the Nyquist
        frequency); 0 for no mask.

    Returns
    -------
    shift : ndarray of float64
        One entry per axis, in numpy axis order, with scikit-image's sign:
        shifting `moving_image` by it (``scipy.ndimage.shift`` or
        ``lumadex.ndimage.fourier_shift``) registers it to `reference_image`.
        Each entry lies in [-N/2, N/2) pixels, N the axis' size.
    """
    engine = _arrays.PhaseCorrelation(_real(reference_image, "reference_image"), float(mask_radius), normalization)
    moving = _real(moving_image, "moving_image")
    if moving.shape != engine.shape:
        raise ValueError(
            f"phase_cross_correlation: moving_image must have the shape of reference_image {engine.shape}; "
            f"got {moving.shape}"
        )
    return -np.asarray(engine.displacement(moving))


def _register_frames(
    frames: Union[np.ndarray, Iterable[np.ndarray]],
    *,
    reference: int = 0,
    mask_radius: float = DEFAULT_MASK_RADIUS,
    normalization: Optional[str] = "half",
    progress: bool = False,
) -> Registration:
    """Registers every frame of a series against one of them and averages the aligned frames.

    Parameters
    ----------
    frames : array_like (n, h, w), or a sequence of 2-D arrays of one shape
        The series; any real dtype (computed in float32).
    reference : int
        Index of the frame the others are aligned to.
    mask_radius, normalization
        As for :func:`phase_cross_correlation`.
    progress : bool
        Show a progress bar (tqdm) while the frames are registered.

    Returns
    -------
    Registration
        ``drift`` (n, 2): each frame's displacement (dy, dx) in pixels from the
        reference (the frame's content lies at the reference's position plus
        its drift; the opposite of :func:`phase_cross_correlation`'s shift);
        ``aligned`` (n, h, w) float32: every frame shifted back by its drift;
        ``average`` (h, w) float64: their mean.
    """
    series = frames if isinstance(frames, np.ndarray) else [np.asarray(frame) for frame in frames]
    count = len(series)
    if count == 0:
        raise ValueError("register_series: a series needs at least one frame")
    first = np.asarray(series[0])
    if first.ndim != 2:
        raise ValueError(f"register_series: frames must be 2-D; got a frame of shape {first.shape}")
    if not -count <= reference < count:
        raise IndexError(f"register_series: reference {reference} is not a frame of a series of {count}")
    engine = _arrays.PhaseCorrelation(_real(series[reference], "frames"), float(mask_radius), normalization)

    drift = np.zeros((count, 2))
    aligned = np.empty((count,) + first.shape, np.float32)
    for k in _progress(range(count), progress, "register_series"):
        frame = _real(series[k], "frames")
        if frame.shape != first.shape:
            raise ValueError(f"register_series: every frame must have the shape {first.shape}; frame {k} has {frame.shape}")
        drift[k] = engine.register(frame, aligned[k])
    return Registration(drift=drift, aligned=aligned, average=aligned.mean(axis=0, dtype=np.float64))


def register_series(frames, *args, **kwargs) -> Registration:
    if isinstance(frames, Host):  # the host face's form: register_series(host, frames, ...)
        return drift.register_series(frames, *args, **kwargs)
    if args:
        raise TypeError("register_series: only frames is positional; give reference, mask_radius, ... by name")
    return _register_frames(frames, **kwargs)


register_series.__doc__ = _register_frames.__doc__ + """
    The host face's form, ``register_series(host, frames, reference=0,
    mask_radius=0.12, mode=2)``, still runs the series through the host's
    script functions.
"""
register_series.__signature__ = inspect.signature(_register_frames)


def _real(a, name):
    array = np.asarray(a)
    if array.dtype.kind not in "biuf":
        raise TypeError(f"{name} must be a real numeric array; got dtype {array.dtype}")
    return array


def _progress(items, show, description):
    if not show:
        return items
    try:
        from tqdm import tqdm
    except ImportError as missing:
        raise ImportError("progress=True needs tqdm (Debian: python3-tqdm)") from missing
    return tqdm(items, desc=description, unit="frame")
