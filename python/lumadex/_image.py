"""Host images seen from Python."""

import collections
import contextlib
import os

import numpy as np

from ._datatypes import DataType

Calibration = collections.namedtuple("Calibration", "origin scale units")
Calibration.__doc__ = """One dimension's calibration as the host stores it (origin and scale are 32-bit floats)."""


class Image:
    """A host image (or a sub-area of one).

    Axis order: shapes, boxes and arrays are in numpy order (C order, the last
    axis is x), as numpy shows them. Calibrations are numbered by HOST
    dimension instead: 0 is x (the last numpy axis), 1 is y, 2 is z, because
    that is how the host and the transforms' calibration rules number them.

    Images are made by lumadex.Host.image() / new_image() or returned by
    script calls; each keeps its host alive.
    """

    __slots__ = ("_core", "__weakref__")
    __module__ = "lumadex"  # as help() and signatures show it

    def __init__(self, core):
        self._core = core

    # --- what it is ------------------------------------------------------
    @property
    def data_type(self):
        """The host data type (lumadex.DataType)."""
        return DataType(self._core.data_type)

    @property
    def dtype(self):
        """The numpy dtype of the pixels."""
        return self.data_type.dtype

    @property
    def shape(self):
        """Sizes in numpy order (the last is x)."""
        return tuple(reversed(self._core.sizes))

    @property
    def ndim(self):
        return len(self._core.sizes)

    @property
    def size(self):
        """Number of pixels."""
        return int(np.prod(self._core.sizes))

    @property
    def name(self):
        return self._core.name

    @name.setter
    def name(self, value):
        self._core.name = str(value)

    @property
    def is_subarea(self):
        """True for a sub-area that shares its parent's pixels."""
        return self._core.is_subarea

    def is_same(self, other):
        """True when both refer to the same host object."""
        return isinstance(other, Image) and self._core.same_object(other._core)

    # --- calibrations and tags --------------------------------------------
    def calibration(self, dim=0):
        """Calibration of HOST dimension `dim` (0 = x, the last numpy axis; 1 = y; 2 = z)."""
        return Calibration(*self._core.calibration(dim))

    def set_calibration(self, dim, origin, scale, units=""):
        """Sets the calibration of HOST dimension `dim` (0 = x, 1 = y, 2 = z)."""
        self._core.set_calibration(dim, float(origin), float(scale), str(units))

    def tags(self):
        """The image's tag group as nested dicts (groups become dicts)."""
        return self._core.tags()

    def set_tag(self, path, value):
        """Sets one tag; `path` is ':'-separated ("Microscope:Voltage"); value is int, float, str or a dict
        of them (a group; nested dicts are nested groups, named without ':').

        Groups nest at most lumadex.MAX_TAG_DEPTH deep (the root is level 0); a tag past that is
        refused with UsageError, and the tags are left as they were.
        """
        if isinstance(value, np.generic):
            value = value.item()
        self._core.set_tag(path, value)

    # --- sub-areas ---------------------------------------------------------
    def subarea(self, top, left, bottom, right):
        """The 2-D sub-area rows [top, bottom) x columns [left, right), sharing these pixels."""
        if self.ndim != 2:
            raise ValueError(f"subarea(top, left, bottom, right) needs a 2-D image, this one has shape {self.shape}")
        return self.box((top, left), (bottom, right))

    def box(self, start, stop):
        """The sub-area [start, stop) per axis in numpy order (one entry per axis), sharing these pixels."""
        start, stop = tuple(start), tuple(stop)
        if len(start) != self.ndim or len(stop) != self.ndim:
            raise ValueError(f"a box of an image of shape {self.shape} needs {self.ndim} starts and stops")
        return Image(self._core.subarea([int(i) for i in reversed(start)], [int(i) for i in reversed(stop)]))

    def clone(self):
        """A dense copy with name, calibrations and tags."""
        return Image(self._core.clone())

    def save(self, path, *, overwrite_read_only=False):
        """Writes the image (pixels, name, calibrations, tags) as DM4, or DM3 when `path` ends in .dm3.

        A symbolic link is followed and the file it names replaced, keeping its mode; a path that is not a
        regular file is refused, and so is a read-only file unless `overwrite_read_only`."""
        path = os.fspath(path)
        self._core.save(path, 3 if path.lower().endswith(".dm3") else 4, overwrite_read_only)

    # --- pixels ------------------------------------------------------------
    def array(self):
        """A copy of the pixels as a numpy array of shape self.shape."""
        return self._core.read()

    def __array__(self, dtype=None):
        pixels = self.array()
        return pixels if dtype is None else pixels.astype(dtype)

    def write(self, array):
        """Copies `array` (same shape; any dtype numpy casts safely to self.dtype) into the pixels."""
        source = np.asarray(array)
        if source.shape != self.shape:
            raise ValueError(f"an array of shape {source.shape} does not fit an image of shape {self.shape}")
        if not np.can_cast(source.dtype, self.dtype, casting="same_kind"):
            raise TypeError(f"an array of dtype {source.dtype} cannot be written into "
                            f"{self.data_type.host_name} pixels")
        self._core.write(np.ascontiguousarray(source, dtype=self.dtype))

    @contextlib.contextmanager
    def pixels(self):
        """Locks the pixels and yields a writable numpy view of them (no copy).

        The view has the lock's strides: a sub-area shows its parent's row and
        plane pitch. Writes go straight into the host image. The lock ends when
        the with-block does, and the view turns read-only then: a script call
        may replace the image's pixels (a data-type change) once it is over.
        A view kept beyond the block (or an array made from it) stays safe to
        use, but may show pixels that are no longer the image's.
        """
        lock = self._core.lock()
        view = None
        try:
            view = lock.array()
            yield view
        finally:
            lock.release()
            if view is not None:
                view.flags.writeable = False

    def __repr__(self):
        kind = "sub-area" if self.is_subarea else "image"
        return f"<lumadex {kind} {self.name!r} {self.data_type.name} shape={self.shape}>"
