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

from . import _arrays, _dask_registration, drift
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
    aligned = _arrays.frames_array((count,) + first.shape)
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
    aligned = kwargs.pop("aligned", None)
    if _dask_registration.wants_dask(frames, aligned):
        return _dask_registration.register_on_dask(
            frames, aligned="lazy" if aligned is None else aligned,
            **{"mask_radius": DEFAULT_MASK_RADIUS, "normalization": "half", **kwargs})
    from .io import Dataset

    return _register_frames(frames.data if isinstance(frames, Dataset) else frames, **kwargs)


register_series.__doc__ = _register_frames.__doc__ + """
    Series larger than memory
    -------------------------
    frames may be a dask array (n, h, w), a lazy lumadex.io Dataset (from
    ``lumadex.io.load(path, lazy=True)``) or a list of 2-D dask arrays. The
    reference frame is sent to each worker once and every chunk of frames is
    registered in the task that reads it, on the local scheduler or on the
    dask.distributed Client in use (each task with its worker's thread
    count). Chunks must hold whole frames: a chunking that splits frames is
    rechunked into whole-frame chunks of about 64 MB. ``drift`` and
    ``average`` come back as numpy arrays; where the aligned frames go is
    chosen by

    aligned : {"lazy", "memory"} or path
        "lazy" (the default for dask input): a dask array that shifts each
        chunk back by its drifts when it is computed. "memory": a numpy
        array, gathered chunk by chunk. A path ending in .dm4 or .dm3: the
        aligned frames streamed into that file in frame order (written
        whole or not at all), and returned as a lazy array over it; .zarr:
        a new zarr store (python3-zarr). Numpy frames with any of these but
        "memory" take the dask path too.

    progress=True shows dask's progress bar on a local scheduler and
    distributed's on a cluster; with aligned "memory" or a path, a tqdm bar
    over the frames gathered.

    The host face's form, ``register_series(host, frames, reference=0,
    mask_radius=0.12, mode=2)``, still runs the series through the host's
    script functions.
"""
register_series.__signature__ = inspect.signature(_register_frames).replace(
    parameters=[*inspect.signature(_register_frames).parameters.values(),
                inspect.Parameter("aligned", inspect.Parameter.KEYWORD_ONLY, default=None)])


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
