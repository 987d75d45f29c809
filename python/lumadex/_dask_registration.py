"""Series registration on dask: series larger than memory, on the local scheduler or a dask.distributed cluster.

The frames are a dask array (n, h, w) chunked by whole frames. The reference
frame is computed once in the caller and put into the graph as one key, so
that each worker receives it once; there it becomes a PhaseCorrelation
(the reference's spectrum, the mask and the buffers of one frame), made on
the first task and kept per thread for the tasks that follow. Each task runs
the engine on the thread count of its worker (a distributed worker's
nthreads; lumadex's own count on the local scheduler).

Pass 1 registers every chunk (the engine measures and aligns each frame from
one spectrum) and keeps per chunk the drifts and the sum of the aligned
frames; a tree of additions gives the average. When the aligned frames are
not kept, a chunk sums their spectra instead (one transform a frame fewer,
and half the bytes sent between workers), and the average is the inverse
transform of the sum of all of them. With aligned="lazy" the
aligned frames are then a dask array that shifts each chunk back by its
drifts when computed (pass 2, run by whoever computes it); with "memory" or
a path, pass 1 keeps the aligned chunks too and they are gathered in frame
order, a few at a time, into one array or streamed into a DM4 file (or a zarr
store). Memory per worker stays within a few chunks whatever the series'
length.
"""

from __future__ import annotations

import math
import os
import shutil
import tempfile
import threading

import numpy as np

from . import _arrays, _lazy
from .drift import Registration

_ALIGNED_CHOICES = "'lazy', 'memory' or a path ending in .dm4, .dm3 or .zarr"


def wants_dask(frames, aligned) -> bool:
    """Whether register_series takes the dask path for these frames and this `aligned`."""
    from .io import Dataset

    if isinstance(frames, Dataset):
        frames = frames.data
    if _lazy.is_dask_array(frames):
        return True
    if isinstance(frames, (list, tuple)) and any(_lazy.is_dask_array(f) for f in frames):
        return True
    return aligned is not None and not (isinstance(aligned, str) and aligned == "memory")


def register_on_dask(frames, *, reference=0, mask_radius, normalization, progress=False, aligned="lazy"):
    """register_series for dask input: see its docstring."""
    import dask

    series, axes, name = _series(frames)
    count = series.shape[0]
    if isinstance(reference, bool) or not isinstance(reference, (int, np.integer)):
        raise TypeError(f"register_series: reference is a frame's index, not {type(reference).__name__}")
    if not -count <= reference < count:
        raise IndexError(f"register_series: reference {reference} is not a frame of a series of {count}")
    destination = _destination(aligned)
    reference_frame = np.ascontiguousarray(series[reference].compute(), dtype=np.float32)
    # Checks mask_radius and normalization before any work is sent out.
    _arrays.PhaseCorrelation(reference_frame, float(mask_radius), normalization)
    settings = dict(key=dask.base.tokenize(reference_frame, float(mask_radius), normalization),
                    mask_radius=float(mask_radius), normalization=normalization)
    da = _lazy._dask_array()
    reference_array = da.from_array(reference_frame, chunks=reference_frame.shape,
                                    name="lumadex-reference-" + settings["key"])
    client = _lazy.current_client()
    # On a cluster the reference is put there once for this call, not into every graph sent to it.
    in_use = reference_array if client is None else client.persist(reference_array)

    if destination == "lazy":
        drift, average = _compute(_tree(_registered_chunks(series, in_use, settings, keep_aligned=False),
                                        series.shape[1:], count), progress)
        # A graph of its own (the reference inside it): computable wherever and whenever the caller likes.
        aligned_frames = da.blockwise(_aligned_chunk, "ijk", series, "ijk",
                                      da.from_array(drift, chunks=(series.chunks[0], 2)), "il",
                                      reference_array, "jk", dtype=np.float32, concatenate=True,
                                      meta=np.empty((0, 0, 0), np.float32), **settings)
        return Registration(drift=drift, aligned=aligned_frames, average=average)

    chunks = _registered_chunks(series, in_use, settings, keep_aligned=True)
    gathered = _Gathered(series.shape, progress)
    results = gathered.taking(_lazy.computed_in_order(chunks, _lazy.parallel_tasks()))
    if destination == "memory":
        out = _arrays.frames_array(series.shape)
        for start, chunk in results:
            out[start:start + len(chunk)] = chunk
    elif destination.endswith(".zarr"):
        out = _stream_to_zarr(destination, series.shape, series.chunks[0], results)
    else:
        from . import io

        io._save_in_pieces(destination, series.shape, np.float32, (chunk for _, chunk in results),
                           axes=axes, name=name)
        out = io.load(destination, lazy=True, chunks=(series.chunks[0], -1, -1))[0].data
    gathered.close()
    return Registration(drift=gathered.drift, aligned=out, average=gathered.total / count)


# --- the series ----------------------------------------------------------------


def _series(frames):
    """The frames as a dask array (n, h, w) of whole-frame chunks, with the axes and name of a Dataset given."""
    from .io import Dataset

    da = _lazy._dask_array()
    axes, name = None, ""
    if isinstance(frames, Dataset):
        axes, name, frames = frames.axes, frames.name, frames.data
    if isinstance(frames, (list, tuple)):
        frames = _stacked(frames, da)
    elif not _lazy.is_dask_array(frames):
        frames = np.asarray(frames)
        if frames.ndim == 3:
            frames = da.from_array(frames, chunks=_lazy.frame_chunks(frames.shape, frames.dtype.itemsize))
    if frames.ndim != 3:
        raise ValueError(f"register_series: a series is an array (n, h, w) of 2-D frames; got shape {frames.shape}")
    if any(math.isnan(n) for n in frames.shape):
        raise ValueError(f"register_series: the series has unknown chunk sizes (shape {frames.shape}); give it "
                         f"known ones first (compute_chunk_sizes())")
    if frames.dtype.kind not in "biuf":
        raise TypeError(f"frames must be a real numeric array; got dtype {frames.dtype}")
    if 0 in frames.shape:
        raise ValueError(f"register_series: a series needs at least one frame of at least one pixel; got shape "
                         f"{frames.shape}")
    if len(frames.chunks[1]) > 1 or len(frames.chunks[2]) > 1:
        # A frame is registered whole: chunks that split frames are joined into whole-frame chunks.
        per_chunk = _lazy.frame_chunks(frames.shape, frames.dtype.itemsize)[0]
        frames = frames.rechunk((per_chunk, -1, -1))
    return frames, axes, name


def _stacked(frames, da):
    if not frames:
        raise ValueError("register_series: a series needs at least one frame")
    first = frames[0]
    for k, frame in enumerate(frames):
        if frame.ndim != 2:
            raise ValueError(f"register_series: frames must be 2-D; frame {k} has shape {frame.shape}")
        if frame.shape != first.shape:
            raise ValueError(f"register_series: every frame must have the shape {first.shape}; frame {k} has "
                             f"{frame.shape}")
    return da.stack([f if _lazy.is_dask_array(f) else da.from_array(np.asarray(f)) for f in frames])


def _destination(aligned):
    if isinstance(aligned, str) and aligned in ("lazy", "memory"):
        return aligned
    if isinstance(aligned, (str, bytes, os.PathLike)):
        path = os.fsdecode(aligned)
        if path.lower().endswith((".dm4", ".dm3")):
            return path
        if path.lower().endswith(".zarr"):
            try:
                import zarr  # noqa: F401
            except ImportError as missing:
                raise ImportError("aligned frames streamed to a .zarr store need zarr (Debian: python3-zarr)") \
                    from missing
            return path
        raise ValueError(f"register_series: aligned is {_ALIGNED_CHOICES}; got the path {path!r}")
    raise ValueError(f"register_series: aligned is {_ALIGNED_CHOICES}; got {aligned!r}")


# --- tasks ---------------------------------------------------------------------

_engines = threading.local()  # per thread: (key, PhaseCorrelation) of the last reference
_threads_set = []


def _engine(reference, key, mask_radius, normalization):
    """This thread's engine for the reference `key`, made on first use."""
    held = getattr(_engines, "held", None)
    if held is None or held[0] != key:
        _use_worker_threads()
        held = (key, _arrays.PhaseCorrelation(reference, mask_radius, normalization))
        _engines.held = held
    return held[1]


def _use_worker_threads():
    """On a dask.distributed worker, the engine runs on the worker's thread count (once per process)."""
    if _threads_set:
        return
    try:
        from distributed import get_worker

        worker = get_worker()
    except (ImportError, ValueError):
        return  # not a distributed worker: lumadex's own count holds
    state = getattr(worker, "state", worker)  # distributed moved nthreads into the worker's state
    threads = state.nthreads
    _arrays.set_num_threads(max(int(threads), 1))
    _threads_set.append(threads)


def _register_chunk(frames, reference, *, start, **settings):
    """(start, drifts, aligned frames or their sum) of one chunk of frames."""
    frames = np.asarray(frames)
    return _register_each(frames, len(frames), frames.shape[1:], reference, start=start, **settings)


def _register_file_chunk(block, start, stop, reference, **settings):
    """_register_chunk for frames start to stop - 1 of a lazy file, read one at a time into one buffer."""
    return _register_each(block.frames(start, stop), stop - start, block.shape[1:], reference, start=start,
                          **settings)


def _register_each(frames, count, shape, reference, *, key, mask_radius, normalization, keep_aligned, start):
    """(start, drifts, the aligned frames) of a chunk, or (start, drifts, the sum of the aligned frames'
    spectra, rounded to complex64 as the frames themselves would be) when they are not kept."""
    engine = _engine(reference, key, mask_radius, normalization)
    drift = np.empty((count, 2))
    if keep_aligned:
        aligned = _arrays.frames_array((count,) + tuple(shape))
        for k, frame in enumerate(frames):
            drift[k] = engine.register(frame, aligned[k])
        return start, drift, aligned
    spectra = _spectrum_sum(engine)
    for k, frame in enumerate(frames):
        drift[k] = engine.accumulate(frame, spectra)
    return start, drift, spectra.astype(np.complex64)


def _spectrum_sum(engine):
    """This thread's running sum of half spectra for the engine's frames, zeroed: kept between tasks, so
    that a task maps no fresh memory for it."""
    held = getattr(_engines, "spectrum_sum", None)
    if held is None or held.shape != engine.half_shape:
        held = _engines.spectrum_sum = np.zeros(engine.half_shape, np.complex128)
    else:
        held.fill(0)
    return held


def _aligned_chunk(frames, drift, reference, *, key, mask_radius, normalization):
    engine = _engine(reference, key, mask_radius, normalization)
    frames = np.asarray(frames)
    out = _arrays.frames_array(frames.shape)
    for k, frame in enumerate(frames):
        engine.align(frame, drift[k].tolist(), out[k])
    return out


def _registered_chunks(series, reference_array, settings, keep_aligned):
    """One delayed task per chunk of frames, each fused with the reading of its chunk (frame by
    frame, when the series is a lazy file's pixels as loaded).

    The tasks are blocks of a dask array of objects (one (start, drifts,
    frames or sum) per chunk, never an array), so that dask's blockwise
    fusion puts the reading and the registering of a chunk into one task.
    """
    block = _lazy.file_block(series)
    if block is not None:
        # A file's frames as they lie: each task reads its frames one at a time into one buffer.
        import dask

        ends = np.cumsum(series.chunks[0])
        task = dask.delayed(_register_file_chunk, pure=True)
        return [task(block, int(end - size), int(end), reference_array, keep_aligned=keep_aligned, **settings)
                for size, end in zip(series.chunks[0], ends)]
    da = _lazy._dask_array()
    indices = da.arange(series.shape[0], chunks=(series.chunks[0],))  # each chunk's frame numbers
    per_chunk = da.blockwise(_register_chunk_at, "ijk", series, "ijk", reference_array, "jk", indices, "i",
                             keep_aligned=keep_aligned, dtype=object, meta=np.empty((0, 0, 0), object),
                             adjust_chunks={"i": 1, "j": 1, "k": 1}, **settings)
    return list(per_chunk.to_delayed(optimize_graph=True).ravel())


def _register_chunk_at(frames, reference, indices, **settings):
    return _register_chunk(frames, reference, start=int(indices[0]), **settings)


def _sum_of(*parts):
    """(start, drifts, sum of the aligned frames' spectra) of consecutive chunks from theirs, in complex128
    (the inputs stay as they were)."""
    parts = sorted(parts, key=lambda part: part[0])
    total = parts[0][2].astype(np.complex128)
    for part in parts[1:]:
        total += part[2]
    return parts[0][0], np.concatenate([part[1] for part in parts]), total


def _drift_and_average(part, shape, count):
    """The drifts and the mean aligned frame: the inverse transform of the sum of the frames' spectra."""
    from . import fft

    return part[1], fft.irfftn(part[2], s=tuple(shape), axes=(0, 1)) / count


def _tree(parts, shape, count, width=8):
    """The drifts and the average of the aligned frames of every chunk, their sums added in a tree of `width`
    at a time."""
    import dask

    while len(parts) > 1:
        parts = [dask.delayed(_sum_of, pure=True)(*parts[i:i + width]) for i in range(0, len(parts), width)]
    return dask.delayed(_drift_and_average, pure=True)(parts[0], tuple(shape), count)


def _compute(task, progress):
    """Computes a delayed task, showing progress: dask's bar on a local scheduler, distributed's on a cluster."""
    client = _lazy.current_client()
    if client is not None:
        future = client.compute(task)
        if progress:
            from distributed import progress as show

            show(future)
        return future.result()
    if not progress:
        return task.compute()
    from dask.diagnostics import ProgressBar

    with ProgressBar():
        return task.compute()


class _Gathered:
    """Drifts and the running sum of the aligned chunks as they come, in frame order, with a tqdm bar on request."""

    def __init__(self, shape, progress):
        self.drift = np.zeros((shape[0], 2))
        self.total = np.zeros(shape[1:])
        self._bar = None
        if progress:
            try:
                from tqdm import tqdm
            except ImportError as missing:
                raise ImportError("progress=True needs tqdm (Debian: python3-tqdm)") from missing
            self._bar = tqdm(total=shape[0], desc="register_series", unit="frame")

    def taking(self, results):
        for start, drift, chunk in results:
            self.drift[start:start + len(drift)] = drift
            self.total += chunk.sum(axis=0, dtype=np.float64)
            if self._bar is not None:
                self._bar.update(len(drift))
            yield start, chunk

    def close(self):
        if self._bar is not None:
            self._bar.close()


def _stream_to_zarr(path, shape, chunks, results):
    """Writes the chunks into a new zarr store at `path`: built beside it under a temporary name, then renamed."""
    import zarr

    path = os.path.abspath(path)
    if os.path.exists(path):
        raise FileExistsError(f"register_series: {path} exists; a zarr store is written only where nothing is")
    folder = tempfile.mkdtemp(prefix=".lumadex-", dir=os.path.dirname(path))
    try:
        store = zarr.open(folder, mode="w", shape=shape, chunks=(max(chunks),) + tuple(shape[1:]), dtype=np.float32)
        for start, chunk in results:
            store[start:start + len(chunk)] = chunk
        os.rename(folder, path)
    except BaseException:
        shutil.rmtree(folder, ignore_errors=True)
        raise
    return _lazy._dask_array().from_zarr(path)
