"""Data larger than memory for lumadex.io: DM files as dask arrays, and dask arrays written into DM files.

A lazy image is a dask array over the pixel block of one image of a file.
Each chunk reads its own bytes with pread when it is computed, swaps them
when the file is big endian, and reads nothing else: opening a file of any
size costs the reading of its tags. The block is a small picklable object
(path, offset, shape, dtype and the file's identity), so the same graph runs
on dask's local schedulers and on dask.distributed workers, which open the
file themselves. Before and after each read the file's identity (inode,
size, time of change) is compared with the one it had when it was
opened: a file replaced, truncated or rewritten since is a FileError from
the task, never a read of other bytes (nor a SIGBUS, as a memory map of a
truncated file would give). A write of the same size within the file
system's tick of time cannot be told from no change.

Writing goes the other way: the pixels of a dask array are computed slab by
slab along the first axis, in file order, a few slabs at a time, and handed
to the host's writer, which streams them into the file's pixel block behind
a header that already holds the block's size.
"""

from __future__ import annotations

import collections
import concurrent.futures
import math
import os
import sys
import weakref

import numpy as np

from . import _lumadex

CHUNK_BYTES = 64 << 20  # a chunk's size when the caller gives none: large reads, a few in memory


def is_dask_array(value) -> bool:
    """Whether `value` is a dask array, without importing dask for callers that never use it."""
    module = sys.modules.get("dask.array")
    return module is not None and isinstance(value, module.Array)


def _dask_array():
    try:
        import dask.array
    except ImportError as missing:
        raise ImportError("lazy data needs dask (Debian: python3-dask)") from missing
    return dask.array


# --- reading ------------------------------------------------------------------


def _identity(status):
    # No device number: the same file on a shared file system has another one on every machine.
    return (status.st_ino, status.st_size, status.st_mtime_ns)


def file_identity(path):
    """What a lazy image checks the file against: inode, size and time of change."""
    try:
        return _identity(os.stat(path))
    except OSError as error:
        raise _lumadex.FileError(f"{path}: cannot be opened: {error.strerror}") from None


class PixelBlock:
    """The pixels of one image of a file, read by position: what a lazy image's chunks are read from.

    Indexed with a tuple of slices (steps of 1), as dask indexes the arrays
    it makes chunks of, it returns those pixels as a new numpy array in the
    machine's byte order.
    """

    def __init__(self, path, offset, shape, dtype, little_endian, identity):
        self.path = path
        self.offset = int(offset)
        self.shape = tuple(int(n) for n in shape)
        self.dtype = np.dtype(dtype)
        self.ndim = len(self.shape)
        self.little_endian = bool(little_endian)
        self.identity = tuple(identity)

    def __dask_tokenize__(self):
        return ("lumadex.PixelBlock", self.path, self.offset, self.shape, self.dtype.str, self.little_endian,
                self.identity)

    def __repr__(self):
        return f"PixelBlock({self.path!r}, offset={self.offset}, shape={self.shape}, dtype={self.dtype})"

    def __getitem__(self, index):
        bounds = self._bounds(index)
        extent = tuple(stop - start for start, stop in bounds)
        stored = self.dtype.newbyteorder("<" if self.little_endian else ">")
        out = np.empty(extent, stored)
        if out.size:
            self._read(bounds, out)
        if not self.little_endian:
            out = out.byteswap(inplace=True).view(stored.newbyteorder("="))  # each number, each part of a complex one
        return out

    def frames(self, start, stop):
        """Frames start to stop - 1 along the first axis, one at a time, each read into the same
        buffer (in the machine's byte order): a consumer uses a frame before it asks for the
        next. Reading a chunk of frames this way puts no chunk-sized array in memory."""
        whole = [(0, n) for n in self.shape[1:]]
        stored = self.dtype.newbyteorder("<" if self.little_endian else ">")
        buffer = np.empty((1,) + self.shape[1:], stored)
        for k in range(start, stop):
            self._read([(k, k + 1)] + whole, buffer)
            if self.little_endian:
                yield buffer[0]
            else:
                yield buffer.byteswap().view(stored.newbyteorder("="))[0]

    def _bounds(self, index):
        if not isinstance(index, tuple):
            index = (index,)
        if len(index) != self.ndim or not all(isinstance(s, slice) for s in index):
            raise IndexError(f"a PixelBlock is read with {self.ndim} slices, one per axis; got {index!r}")
        bounds = []
        for s, n in zip(index, self.shape):
            start, stop, step = s.indices(n)
            if step != 1:
                raise IndexError(f"a PixelBlock is read with slices of step 1; got {s!r}")
            bounds.append((start, max(start, stop)))
        return bounds

    def _runs(self, bounds):
        """(file offset, bytes) of each contiguous run of the pixels within `bounds`, in C order."""
        partial = max((k for k, (start, stop) in enumerate(bounds) if stop - start != self.shape[k]), default=0)
        strides = np.cumprod((1,) + self.shape[:0:-1])[::-1] * self.dtype.itemsize  # C-order byte strides
        run_bytes = (bounds[partial][1] - bounds[partial][0]) * int(strides[partial])
        first = bounds[partial][0] * int(strides[partial])
        for leading in np.ndindex(*(stop - start for start, stop in bounds[:partial])):
            at = first + sum((start + i) * int(stride) for i, (start, _), stride in zip(leading, bounds, strides))
            yield self.offset + at, run_bytes

    def _read(self, bounds, out):
        flat = out.reshape(-1).view(np.uint8)
        try:
            fd = os.open(self.path, os.O_RDONLY | os.O_CLOEXEC)
        except OSError as error:
            raise _lumadex.FileError(f"{self.path}: cannot be opened: {error.strerror}") from None
        try:
            self._check(os.fstat(fd))
            filled = 0
            for at, count in self._runs(bounds):
                _pread_into(fd, flat[filled:filled + count], at, self.path)
                filled += count
            self._check(os.fstat(fd))  # a file rewritten in place while it was read
        finally:
            os.close(fd)

    def _check(self, status):
        if _identity(status) != self.identity:
            raise _lumadex.FileError(
                f"{self.path}: changed since it was opened lazily (it was replaced, resized or written to); "
                f"its pixels are no longer those the lazy array stands for: load it again")


def _pread_into(fd, buffer, offset, path):
    view = memoryview(buffer)
    while view.nbytes:
        try:
            got = os.preadv(fd, [view], offset)
        except OSError as error:
            raise _lumadex.FileError(f"{path}: cannot be read: {error.strerror}") from None
        if got == 0:
            raise _lumadex.FileError(f"{path}: is shorter than when it was opened lazily: its pixels are cut off")
        view, offset = view[got:], offset + got


def frame_chunks(shape, itemsize, target=None):
    """Chunks of about `target` bytes (CHUNK_BYTES) of whole frames: the last two axes (rows of 2-D data) stay whole."""
    target = CHUNK_BYTES if target is None else target
    ndim = len(shape)
    whole = min(2, ndim - 1)  # trailing axes kept whole
    chunks = list(shape)
    below = itemsize * math.prod(shape)
    for axis in range(ndim - whole):
        below //= max(shape[axis], 1)  # bytes of one index along `axis`
        if below * shape[axis] <= target:
            break
        chunks[axis] = max(1, min(shape[axis], target // max(below, 1)))
        if chunks[axis] > 1:
            break
    return tuple(chunks)


def lazy_pixels(path, offset, shape, dtype, little_endian, identity, chunks=None):
    """A dask array over an image's pixel block in a file, chunked by whole frames or by `chunks`."""
    da = _dask_array()
    block = PixelBlock(path, offset, shape, dtype, little_endian, identity)
    if chunks is None:
        chunks = frame_chunks(block.shape, block.dtype.itemsize)
    from dask.base import tokenize

    array = da.from_array(block, chunks=chunks, name="dm-file-" + tokenize(block, chunks), asarray=False,
                          fancy=False, inline_array=True, meta=np.empty((0,) * block.ndim, block.dtype))
    _file_blocks[array.name] = block
    return array


# The pixel blocks behind the lazy arrays made here, by the arrays' names (a name
# stands for one graph: sliced, rechunked or computed-on arrays have others).
_file_blocks = weakref.WeakValueDictionary()


def file_block(array):
    """The PixelBlock a lazy array reads, when the array is one made by lazy_pixels as it was made; else None."""
    return _file_blocks.get(getattr(array, "name", None))


# --- writing ------------------------------------------------------------------


def parallel_tasks():
    """How many tasks the scheduler dask would use runs at once: its workers' threads, or this machine's cores."""
    client = current_client()
    if client is not None:
        threads = sum(client.nthreads().values())
        return max(threads, 1)
    import dask

    return max(int(dask.config.get("num_workers", None) or os.cpu_count() or 1), 1)


def current_client():
    """The dask.distributed Client dask computes with now, or None for a local scheduler."""
    if "distributed" not in sys.modules:
        return None
    import dask.base

    scheduler = dask.base.get_scheduler()
    owner = getattr(scheduler, "__self__", None)
    from distributed import Client

    return owner if isinstance(owner, Client) else None


def slabs(array):
    """Bounds (start, stop) along the first axis of the array's chunks: each slab is a contiguous part of a file."""
    bounds = np.cumsum((0,) + tuple(array.chunks[0]))
    return list(zip(bounds[:-1].tolist(), bounds[1:].tolist()))


def computed_in_order(parts, window):
    """Computes dask collections and yields their values in order, with at most 2 * `window` of them under way.

    On a dask.distributed Client each is a future of the cluster; on a local
    scheduler each is computed by one of `window` threads. What is under way
    when the consumer stops early is cancelled.
    """
    import dask

    client = current_client()
    if client is not None:
        submit, executor = client.compute, None
    else:
        executor = concurrent.futures.ThreadPoolExecutor(window, thread_name_prefix="lumadex-chunks")
        submit = lambda part: executor.submit(lambda: dask.compute(part)[0])  # noqa: E731
    pending = collections.deque()
    try:
        for part in parts:
            pending.append(submit(part))
            if len(pending) >= 2 * window:
                yield pending.popleft().result()
        while pending:
            yield pending.popleft().result()
    finally:
        for future in pending:
            future.cancel()
        if executor is not None:
            executor.shutdown(wait=True, cancel_futures=True)


def pixel_source(array, dtype):
    """A callable giving the array's pixels slab by slab as C-contiguous little-endian `dtype`, then None."""
    dtype = np.dtype(dtype).newbyteorder("<")
    pieces = computed_in_order([array[start:stop] for start, stop in slabs(array)], parallel_tasks())

    def next_piece():
        piece = next(pieces, None)
        return None if piece is None else np.ascontiguousarray(piece, dtype=dtype)

    return next_piece


def whole_source(pixels):
    """A pixel source that gives an array in memory in one piece."""
    given = iter([pixels])
    return lambda: next(given, None)
