"""Reading and writing the host's DM3 / DM4 image files as numpy arrays with calibrated axes.

    import lumadex.io

    (image,) = lumadex.io.load("spectrum.dm4")
    image.data                  # a numpy array, numpy order: the last axis is x
    image.axes[-1]              # Axis(name='x', scale=0.02, offset=-1.28, units='1/nm')
    image.coordinates(-1)       # offset + scale * arange(size)
    lumadex.io.save("twice.dm4", 2 * image.data, axes=image.axes, name="twice", metadata=image.metadata)

No plug-in is needed: the host's own reader and writer do the work, with
their checks (a damaged or hostile file is a lumadex.FileError naming the
file and the fault) and their safe replacement of files.

Files larger than memory go through dask (python3-dask):

    (movie,) = lumadex.io.load("movie.dm4", lazy=True)  # reads the tags only
    movie.data                  # a dask array over the file's pixels, chunks of whole frames
    lumadex.io.save("twice.dm4", 2 * movie.data)        # computed and written chunk by chunk

Axes follow HyperSpy's conventions: per numpy axis a name, a scale, the
offset (the coordinate of pixel 0) and units, so that pixel i lies at
offset + i * scale. A file keeps, per dimension, an origin in pixels with
value = (i - origin) * scale, in 32-bit floats: offset = -origin * scale.
The spectra the plug-in's centred transforms make (FFT, RealFFT, HalfFFT)
carry the origin N // 2 + 0.5 with reciprocal units ("1/..." or none): there
the zero frequency lies on pixel N // 2, and load() reports
offset = -(N // 2) * scale, so that its coordinate is exactly 0.
"""

from __future__ import annotations

import copy
import math
import numbers
import os
import re
import warnings
from dataclasses import dataclass, field
from typing import Mapping, Optional, Sequence

import numpy as np

from . import _lazy, _lumadex
from ._datatypes import DataType, data_type_of

__all__ = ["Axis", "Dataset", "from_hyperspy", "load", "save"]

_MAX_DIMENSIONS = 4  # what a DM file holds
_MAX_TAG_DEPTH = _lumadex.MAX_TAG_DEPTH
_FLOAT32_MAX = float(np.finfo(np.float32).max)
_WRITABLE = ", ".join(str(d) for d in sorted((t.dtype for t in DataType if t is not DataType.RGB),
                                              key=lambda d: ("iufcb".index(d.kind) - (d.kind == "u"), d.itemsize, d.kind)))


def _default_name(axis, ndim):
    """HyperSpy's names for a DM file's axes: x, y, z from the last numpy axis back; none beyond."""
    from_last = ndim - 1 - axis
    return "xyz"[from_last] if from_last < 3 else ""


@dataclass(frozen=True)
class Axis:
    """One calibrated axis: pixel i lies at offset + i * scale, in `units`.

    Parameters
    ----------
    name : str
        The axis's name ("" for none).
    scale : float
        Coordinate step per pixel; not zero.
    offset : float
        Coordinate of pixel 0.
    units : str
        Units of the coordinates ("" for none).

    A file holds scale and origin (-offset / scale) as 32-bit floats, so
    values saved come back at that precision.
    """

    name: str = ""
    scale: float = 1.0
    offset: float = 0.0
    units: str = ""

    def __post_init__(self):
        for key in ("name", "units"):
            if not isinstance(getattr(self, key), str):
                raise TypeError(f"lumadex.io.Axis: {key} is a str, not {type(getattr(self, key)).__name__}")
        for key in ("scale", "offset"):
            value = getattr(self, key)
            if isinstance(value, bool) or not isinstance(value, numbers.Real):
                raise TypeError(f"lumadex.io.Axis: {key} is a number, not {type(value).__name__}")
            object.__setattr__(self, key, float(value))

    def coordinates(self, size: int) -> np.ndarray:
        """The coordinates of `size` pixels along this axis."""
        return self.offset + self.scale * np.arange(size)


def _axis_from(value, where):
    """An Axis from an Axis or a mapping with its fields (HyperSpy's axis dicts too)."""
    if isinstance(value, Axis):
        return value
    if isinstance(value, Mapping):
        known = {"name", "scale", "offset", "units", "size", "navigate", "index_in_array"}
        unknown = sorted(set(value) - known)
        if unknown:
            raise ValueError(f"{where} has the unknown field {unknown[0]!r}; an axis has name, scale, offset, units")
        fields = {k: value[k] for k in ("name", "scale", "offset", "units") if k in value}
        return Axis(**fields)
    raise TypeError(f"{where} is a lumadex.io.Axis or a dict of its fields, not {type(value).__name__}")


def _checked(data, axes, name, metadata, where):
    """The pixels as an array (a dask array stays one) and the axes as Axis, or a clear error naming `where`."""
    if not _lazy.is_dask_array(data):
        data = np.asarray(data)
    ndim = data.ndim
    if axes is None:
        axes = tuple(Axis(_default_name(k, ndim)) for k in range(ndim))
    else:
        if isinstance(axes, (str, bytes, Mapping)) or not hasattr(axes, "__iter__"):
            raise TypeError(f"{where}: axes is a sequence of Axis, one per dimension, not {type(axes).__name__}")
        axes = tuple(axes)
        if len(axes) != ndim:
            raise ValueError(f"{where}: axes has {len(axes)} entries; data of shape {data.shape} needs {ndim}, "
                             f"one per dimension")
        axes = tuple(_axis_from(a, f"{where}: axes[{k}]") for k, a in enumerate(axes))
    if not isinstance(name, str):
        raise TypeError(f"{where}: name is a str, not {type(name).__name__}")
    if not isinstance(metadata, dict):
        raise TypeError(f"{where}: metadata is a dict of tags, not {type(metadata).__name__}")
    return data, axes


@dataclass(eq=False)
class Dataset:
    """An image of a DM file: pixels in numpy order, an axis per dimension, a name and the image's tags.

    Parameters
    ----------
    data : numpy.ndarray or dask.array.Array
        The pixels; the last axis is x. A dask array (a lazy image) is kept
        as it is: nothing is computed until asked for.
    axes : sequence of Axis (or dicts of their fields), optional
        One per dimension of `data`, in numpy order; default, uncalibrated
        axes named as HyperSpy names a DM file's (x, y, z from the last).
    name : str
        The image's name.
    metadata : dict
        The image's tags: nested dicts (groups) and lists of numbers, texts,
        dicts and lists.

    Two Datasets are equal when their pixels (dtype, shape and values, NaN
    equal to NaN), axes, name and metadata are.
    """

    data: np.ndarray
    axes: Optional[Sequence[Axis]] = None
    name: str = ""
    metadata: dict = field(default_factory=dict)

    def __post_init__(self):
        self.data, self.axes = _checked(self.data, self.axes, self.name, self.metadata, "lumadex.io.Dataset")

    def coordinates(self, axis: int) -> np.ndarray:
        """The coordinates of the pixels along numpy axis `axis` (negative counts from the last)."""
        return self.axes[axis].coordinates(self.data.shape[axis])

    def to_hyperspy(self):
        """This image as a HyperSpy signal (Signal1D for 1-D data, Signal2D beyond; complex ones for complex data).

        The axes become the signal's axes (an unnamed one undefined), the name its
        metadata.General.title and the tags its original_metadata. A lazy image
        (dask data) gives a lazy signal over the same dask array.
        """
        signals, undefined = _hyperspy()
        complex_data = np.iscomplexobj(self.data)
        if self.data.ndim == 1:
            kind = signals.ComplexSignal1D if complex_data else signals.Signal1D
        else:
            kind = signals.ComplexSignal2D if complex_data else signals.Signal2D
        axes = [{"name": a.name or undefined, "size": n, "scale": a.scale, "offset": a.offset, "units": a.units}
                for a, n in zip(self.axes, self.data.shape)]
        signal = kind(self.data, axes=axes, metadata={"General": {"title": self.name}},
                      original_metadata=copy.deepcopy(self.metadata))
        return signal.as_lazy() if _lazy.is_dask_array(self.data) else signal

    def __eq__(self, other):
        if not isinstance(other, Dataset):
            return NotImplemented
        a, b = self.data, other.data
        if self.name == other.name and self.axes == other.axes and a.dtype == b.dtype and a.shape == b.shape:
            a, b = np.asarray(a), np.asarray(b)  # lazy images are computed to be compared
        return (self.name == other.name and self.axes == other.axes and self.metadata == other.metadata
                and a.dtype == b.dtype and a.shape == b.shape
                and bool(np.array_equal(a, b, equal_nan=a.dtype.kind in "fc")))

    __hash__ = None

    def __repr__(self):
        kind = "dask array" if _lazy.is_dask_array(self.data) else "array"
        return (f"Dataset(name={self.name!r}, data=<{self.data.dtype} {kind} of shape {self.data.shape}>, "
                f"axes={self.axes!r}, metadata=<{len(self.metadata)} tags>)")


# --- reading ------------------------------------------------------------------


def _is_centred_spectrum(origin, units, size):
    """Whether a dimension carries the calibration the plug-in's centred transforms write."""
    centre = float(np.float32(size // 2) + np.float32(0.5))
    return origin == centre and (units == "" or units.startswith("1/"))


def _axis_from_calibration(origin, scale, units, label, size, default_name):
    if _is_centred_spectrum(origin, units, size):
        offset = -(size // 2) * scale  # the zero frequency's pixel at exactly 0
    else:
        offset = -origin * scale
    return Axis(label or default_name, scale, offset + 0.0, units)  # + 0.0: no negative zero


def _path_text(path, function, parameter="path"):
    if not isinstance(path, (str, bytes, os.PathLike)):
        raise TypeError(f"lumadex.io.{function}: {parameter} is a str or os.PathLike, not {type(path).__name__}")
    return os.fsdecode(path)


def load(path: str | os.PathLike, *, lazy: bool = False, chunks=None) -> list[Dataset]:
    """The images of a DM3 or DM4 file, in file order (thumbnails left out).

    Parameters
    ----------
    path : str or os.PathLike
        The file.
    lazy : bool
        Leave the pixels in the file: each image's data is a dask array over
        its pixel block, read (and put in the machine's byte order) chunk by
        chunk when computed; only the tags are read now, whatever the file's
        size. A chunk computed after the file was replaced, resized or
        written to is a FileError from its task.
    chunks : dask chunks, optional
        With `lazy`: how each image's array is chunked (anything
        ``dask.array.from_array`` takes). Default, chunks of about 64 MB made
        of whole frames: the last two axes (rows for 2-D images) are never
        split.

    Returns
    -------
    list of Dataset
        Per image its pixels (RGB as packed uint32), axes, name and tags.

    Raises
    ------
    lumadex.FileError
        The file cannot be read whole (the pixel blocks of a lazy one lie
        within it): the message names the file and the fault.
    """
    text = _path_text(path, "load")
    if not isinstance(lazy, bool):
        raise TypeError(f"lumadex.io.load: lazy is True or False, not {type(lazy).__name__}")
    if chunks is not None and not lazy:
        raise ValueError("lumadex.io.load: chunks is for a lazy load (lazy=True)")
    if not lazy:
        return [_dataset(*image) for image in _lumadex.read_file(text)]
    before = _lazy.file_identity(text)
    images = _lumadex.describe_file(text)
    identity = _lazy.file_identity(text)
    if identity != before:
        raise _lumadex.FileError(f"{text}: changed while it was being opened: open it again")
    datasets = []
    for k, (name, calibrations, tags, dtype, shape, offset, _, little_endian) in enumerate(images):
        try:
            pixels = _lazy.lazy_pixels(text, offset, shape, dtype, little_endian, identity, chunks)
        except (ValueError, TypeError) as error:
            raise type(error)(f"lumadex.io.load: chunks {chunks!r} do not fit image {k} of shape {shape}: {error}") \
                from None
        datasets.append(_dataset(pixels, name, calibrations, tags))
    return datasets


def _dataset(pixels, name, calibrations, tags):
    """A Dataset from what the native reader gives for an image (host order calibrations, x first)."""
    ndim = pixels.ndim
    axes = tuple(_axis_from_calibration(*calibrations[ndim - 1 - k], pixels.shape[k], _default_name(k, ndim))
                 for k in range(ndim))
    if not isinstance(tags, dict):  # a file whose image tags are a bare list
        tags = {str(i): value for i, value in enumerate(tags or [])}
    return Dataset(pixels, axes, name, tags)


# --- writing ------------------------------------------------------------------


def _tag_tree(value, where, level, lenient, dropped):
    """The tags a file holds for `value`: 32-bit ints, floats, strs, dicts and lists.

    Strict: anything else is a TypeError or ValueError naming `where`.
    Lenient (from HyperSpy's metadata): numpy arrays and tuples become lists,
    large integers floats, odd names are mended, and what a file cannot hold
    is left out and listed in `dropped`.
    """
    if level > _MAX_TAG_DEPTH:
        raise ValueError(f"{where} nests deeper than {_MAX_TAG_DEPTH} levels of groups, the most a file holds")
    if isinstance(value, np.generic):
        value = value.item()
    if isinstance(value, bool):
        return int(value)
    if isinstance(value, numbers.Integral):
        value = int(value)
        if -2**31 <= value < 2**31:
            return value
        if abs(value) <= 2**53 or lenient:
            return float(value)  # a file holds it as a double, exactly
        raise ValueError(f"{where} is {value}; a tag number is a 32-bit integer or a float, and a float "
                         f"holds integers exactly only up to 2**53")
    if isinstance(value, numbers.Real):
        return float(value)
    if isinstance(value, str):
        return value
    if isinstance(value, dict):
        tree = {}
        for key, item in value.items():
            inner = f"{where}[{key!r}]"
            if not isinstance(key, str) or not key or ":" in key:
                if not lenient:
                    raise (TypeError if not isinstance(key, str) else ValueError)(
                        f"{where} has the key {key!r}; a tag name is a non-empty str without ':'")
                key = str(key).replace(":", "_") or "_"
            converted = _tag_tree(item, inner, level + 1, lenient, dropped)
            if converted is not _LEFT_OUT:
                tree[key] = converted
        return tree
    if isinstance(value, (list, tuple)) or (lenient and isinstance(value, np.ndarray)):
        items = [_tag_tree(item, f"{where}[{i}]", level + 1, lenient, dropped)
                 for i, item in enumerate(value.tolist() if isinstance(value, np.ndarray) else value)]
        return [item for item in items if item is not _LEFT_OUT]
    if lenient:
        dropped.append(f"{where} ({type(value).__name__})")
        return _LEFT_OUT
    raise TypeError(f"{where} is of type {type(value).__name__}; a tag is an int, a float, a str, or a dict or "
                    f"list of them")


_LEFT_OUT = object()


def _calibration(axis, k, ndim, where):
    """(origin, scale, units, label) of numpy axis k as a file keeps it."""
    scale, offset = axis.scale, axis.offset
    if not (math.isfinite(scale) and scale != 0 and abs(scale) <= _FLOAT32_MAX):
        raise ValueError(f"{where}.scale is {scale}; a scale is finite, not zero, and fits a 32-bit float")
    origin = -offset / scale
    if not (math.isfinite(offset) and abs(origin) <= _FLOAT32_MAX):
        raise ValueError(f"{where}.offset is {offset}; with scale {scale} its origin -offset / scale must be finite "
                         f"and fit a 32-bit float")
    label = axis.name if axis.name != _default_name(k, ndim) else ""
    return origin, scale, axis.units, label


def _image_entry(dataset, where, convert=True):
    """What the native writer takes for one image, checked before anything is written.

    The pixels are a C-contiguous array of the file's dtype (unless not
    `convert`), or a dask array that is computed while the file is written.
    """
    data = dataset.data
    try:
        data_type = data_type_of(data.dtype)
    except TypeError:
        raise TypeError(f"{where} has dtype {data.dtype}; a DM file holds {_WRITABLE}") from None
    if not 1 <= data.ndim <= _MAX_DIMENSIONS:
        raise ValueError(f"{where} has {data.ndim} dimensions (shape {data.shape}); a DM file holds 1 to "
                         f"{_MAX_DIMENSIONS}")
    if any(math.isnan(n) for n in data.shape):
        raise ValueError(f"{where} is a dask array of unknown chunk sizes (shape {data.shape}); give it known "
                         f"ones first (compute_chunk_sizes())")
    if 0 in data.shape:
        raise ValueError(f"{where} has shape {data.shape}; every axis needs at least one pixel")
    calibrations = [_calibration(dataset.axes[k], k, data.ndim, f"{where}.axes[{k}]")
                    for k in reversed(range(data.ndim))]  # host order: x first
    tags = _tag_tree(dataset.metadata, f"{where}.metadata", 0, False, [])
    if convert and not _lazy.is_dask_array(data):
        data = np.ascontiguousarray(data, dtype=data_type.dtype)
    return data, int(data_type), dataset.name, calibrations, tags


def save(path: str | os.PathLike, data, *, axes: Optional[Sequence[Axis]] = None, name: Optional[str] = None,
         metadata: Optional[dict] = None, overwrite_read_only: bool = False) -> str:
    """Writes images into a DM4 file, or a DM3 file when `path` ends in .dm3.

    Parameters
    ----------
    path : str or os.PathLike
        The file. It appears whole or not at all; a symbolic link is followed
        and the file it names replaced, keeping its mode; a path that is not a
        regular file is refused, and so is a read-only file unless
        `overwrite_read_only`.
    data : array_like, dask array, Dataset or sequence of Dataset
        The pixels (1 to 4 dimensions, numpy order; dtype int8, uint8, int16,
        uint16, int32, uint32, float32, float64, complex64, complex128 or
        bool), a Dataset, or several Datasets for a file of several images.
        A dask array is never held whole: it is computed slab by slab along
        its first axis (its chunks there, a few at a time on the scheduler
        dask uses now) and each slab is written as it comes, behind a
        header that already holds the pixel block's size.
    axes : sequence of Axis (or dicts of their fields), optional
        One per dimension, in numpy order; default, the Dataset's, or
        uncalibrated ones. A name other than HyperSpy's default for its place
        is kept in the file (as a "Label" beside the units).
    name : str, optional
        The image's name; default, the Dataset's or "".
    metadata : dict, optional
        The image's tags; default, the Dataset's or none. Values are ints
        (32-bit; larger ones up to 2**53 are kept as floats), floats, strs,
        and dicts and lists of them; bools are kept as 0 and 1 and an empty
        list reads back as an empty dict.
    overwrite_read_only : bool
        Replace a read-only file.

    Returns
    -------
    str
        The path written, so that ``load(save(path, x))`` reads it back.
    """
    text = _path_text(path, "save")
    if isinstance(data, (list, tuple)) and data and all(isinstance(d, Dataset) for d in data):
        if axes is not None or name is not None or metadata is not None:
            raise ValueError("lumadex.io.save: axes, name and metadata come from the Datasets when data is "
                             "several of them; give them to each Dataset")
        datasets = list(data)
    else:
        base = data if isinstance(data, Dataset) else Dataset(data)
        pixels, checked_axes = _checked(base.data, base.axes if axes is None else axes,
                                        base.name if name is None else name,
                                        base.metadata if metadata is None else metadata, "lumadex.io.save")
        datasets = [Dataset(pixels, checked_axes, base.name if name is None else name,
                            base.metadata if metadata is None else metadata)]
    entries = [_image_entry(d, "lumadex.io.save: data" + (f"[{i}]" if len(datasets) > 1 else ""))
               for i, d in enumerate(datasets)]
    version = 3 if text.lower().endswith(".dm3") else 4
    if any(_lazy.is_dask_array(entry[0]) for entry in entries):
        headers = [(code, tuple(pixels.shape), name, calibrations, tags)
                   for pixels, code, name, calibrations, tags in entries]
        sources = [_lazy.pixel_source(pixels, DataType(code).dtype) if _lazy.is_dask_array(pixels)
                   else _lazy.whole_source(pixels) for pixels, code, *_ in entries]
        _lumadex.write_file_in_pieces(text, headers, sources, version, bool(overwrite_read_only))
    else:
        _lumadex.write_file(text, entries, version, bool(overwrite_read_only))
    return text


def _save_in_pieces(path, shape, dtype, pieces, *, axes=None, name="", metadata=None) -> str:
    """save() of one image of `shape` and `dtype` whose pixels come from `pieces`: arrays in file order.

    Each piece is a slab along the first axis (any C-ordered run of pixels
    will do); they are written as they come, none is kept.
    """
    text = _path_text(path, "save")
    no_pixels = np.lib.stride_tricks.as_strided(np.zeros(1, dtype), shape, (0,) * len(shape))
    _, code, name, calibrations, tags = _image_entry(Dataset(no_pixels, axes, name, metadata or {}),
                                                     "lumadex.io.save: data", convert=False)
    stored = DataType(code).dtype.newbyteorder("<")
    given = iter(pieces)

    def next_piece():
        piece = next(given, None)
        return None if piece is None else np.ascontiguousarray(piece, dtype=stored)

    version = 3 if text.lower().endswith(".dm3") else 4
    _lumadex.write_file_in_pieces(text, [(code, tuple(shape), name, calibrations, tags)], [next_piece], version, False)
    return text


# --- HyperSpy -----------------------------------------------------------------


def _hyperspy():
    try:
        from hyperspy import signals
        from traits.api import Undefined
    except ImportError as error:
        raise ImportError("lumadex.io's HyperSpy conversions need HyperSpy (Debian: python3-hyperspy)") from error
    return signals, Undefined


_UNNAMED_ENTRY = re.compile(r"(TagGroup|Data)\d+$")


def _dm_lists(tree):
    """HyperSpy's reading of a DM file names unnamed entries TagGroup0, Data1...: those groups become lists."""
    if isinstance(tree, dict):
        converted = {key: _dm_lists(value) for key, value in tree.items()}
        if converted and all(_UNNAMED_ENTRY.match(key) for key in converted):
            return list(converted.values())
        return converted
    if isinstance(tree, list):
        return [_dm_lists(value) for value in tree]
    return tree


def from_hyperspy(signal) -> Dataset:
    """A Dataset from a HyperSpy signal: its data, axes (in array order), title and original_metadata.

    The tags are the signal's original_metadata; for a signal HyperSpy read
    from a DM file, the image's own tags within it (ImageList's ImageTags),
    with HyperSpy's TagGroup0, Data1... groups turned back into lists. Values
    a file cannot hold (None, objects) are left out with a warning.

    Raises
    ------
    TypeError
        `signal` is not a HyperSpy signal.
    ValueError
        An axis is not uniform (a DM file holds scale and offset only).
    """
    if not (hasattr(signal, "axes_manager") and hasattr(signal, "data") and hasattr(signal, "original_metadata")):
        raise TypeError(f"lumadex.io.from_hyperspy: signal is a HyperSpy signal, not {type(signal).__name__}")
    axes = []
    for axis in sorted(signal.axes_manager._axes, key=lambda a: a.index_in_array):
        if not getattr(axis, "is_uniform", True):
            raise ValueError(f"lumadex.io.from_hyperspy: the axis {axis.name!r} is not uniform; a DM file holds "
                             f"uniform axes (scale and offset) only")
        axes.append(Axis(axis.name if isinstance(axis.name, str) else "", float(axis.scale), float(axis.offset),
                         axis.units if isinstance(axis.units, str) else ""))
    title = signal.metadata.get_item("General.title", "")
    original = signal.original_metadata.as_dictionary()
    image = original.get("ImageList", {}).get("TagGroup0", {}) if isinstance(original.get("ImageList"), dict) else {}
    tags = _dm_lists(image["ImageTags"]) if isinstance(image, dict) and "ImageTags" in image else original
    dropped: list[str] = []
    metadata = _tag_tree(tags, "original_metadata", 0, True, dropped)
    if dropped:
        warnings.warn(f"lumadex.io.from_hyperspy: left out {len(dropped)} values a DM file cannot hold: "
                      f"{', '.join(dropped[:5])}{' ...' if len(dropped) > 5 else ''}", stacklevel=2)
    return Dataset(np.asarray(signal.data), axes, title if isinstance(title, str) else "", metadata)
