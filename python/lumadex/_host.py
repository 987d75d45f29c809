"""The host: plug-in loading, images from numpy, script calls, call counters."""

import numbers
import os
import re
import warnings
import weakref

import numpy as np

from . import _lumadex
from ._datatypes import as_data_type, data_type_of
from ._image import Image

ScriptError = _lumadex.ScriptError
ScriptError.__doc__ = "A script call failed; str(error) is the script error's exact text."
UsageError = _lumadex.UsageError
UsageError.__doc__ = "The host refused a request as misuse of its API (a ValueError)."
FileError = _lumadex.FileError
FileError.__doc__ = "A DM3 / DM4 file could not be read or written; the message names the file and the fault."
ScriptError.__module__ = UsageError.__module__ = FileError.__module__ = "lumadex"

MAX_DIMENSIONS = _lumadex.MAX_DIMENSIONS
MAX_TAG_DEPTH = _lumadex.MAX_TAG_DEPTH  # tag groups nest at most this deep (the root is level 0)


def default_plugin_path():
    """Absolute path of the plug-in built with this package ('' if the build made none)."""
    try:
        from ._paths import PLUGIN_PATH
    except ImportError:
        return ""
    return PLUGIN_PATH


class Ref:
    """An out-argument of a script call (`long *`, `double *`, `ImageRef *`).

    Ref(initial) passes `initial` in; after the call `.value` holds what the
    function wrote, or still `initial` where it wrote nothing.
    """

    __slots__ = ("value",)

    def __init__(self, value=None):
        self.value = value

    def __repr__(self):
        return f"Ref({self.value!r})"


def _host_version(version):
    """A host version number from 0x030A0000, "3.10.0" or (3, 10, 0)."""
    if isinstance(version, str):
        version = tuple(int(part) for part in version.split("."))
    if isinstance(version, tuple):
        if not 1 <= len(version) <= 4 or any(not 0 <= part <= 255 for part in version):
            raise ValueError(f"a host version has 1 to 4 parts of 0..255, not {version}")
        parts = tuple(version) + (0,) * (4 - len(version))
        return (parts[0] << 24) | (parts[1] << 16) | (parts[2] << 8) | parts[3]
    if isinstance(version, numbers.Integral) and 0 <= version <= 0xFFFFFFFF:
        return int(version)
    raise ValueError(f"a host version is a 32-bit number or 'major.minor.patch', not {version!r}")


def _script_value(value):
    """What the native layer passes for one argument value."""
    if value is None or isinstance(value, str):
        return value
    if isinstance(value, Image):
        return value._core
    if isinstance(value, Ref):
        raise TypeError("a Ref cannot hold another Ref")
    if isinstance(value, np.ndarray):
        raise TypeError("pass a host image, not a numpy array: make one with host.image(array)")
    if isinstance(value, (bool, np.bool_, numbers.Integral)):
        return int(value)
    if isinstance(value, numbers.Real):
        return float(value)
    raise TypeError(f"a script argument is an image, a number, a string, None or a Ref, not {type(value).__name__}")


_FUNCTION_NAME = re.compile(r"(\w+)\s*\(")

# Real path of each plug-in file loaded into an open host -> that host's core.
_OPEN_PLUGINS = {}


def _close_host(core, plugin_key):
    if _OPEN_PLUGINS.get(plugin_key) is core:
        del _OPEN_PLUGINS[plugin_key]
    core.close()


class Host:
    """A host stand-in with the plug-in loaded: every registered script function is callable.

        with lumadex.Host() as host:
            spectrum = host.ZEPPureFFT(host.image(pixels.astype(np.complex64)), 1.0, None)

    plugin: the plug-in file to load; default, the one built with this package.
    A plug-in file is loaded into one open host at a time (the library, and so
    its link to the host, exists once per process): a new host closes, with a
    warning, the open host that holds the same plug-in file.
    version: the host version the plug-in sees: 0x030A0000, "3.10.0" or
    (3, 10, 0); default, a current one. A plug-in that refuses to start says
    why in startup_errors().
    """

    def __init__(self, plugin=None, *, version=None):
        self._names = {}
        core = _lumadex.HostCore() if version is None else _lumadex.HostCore(_host_version(version))
        path = os.fspath(plugin) if plugin is not None else default_plugin_path()
        if not path:
            raise FileNotFoundError("this lumadex build has no plug-in; build the ZEP32 target or name a plug-in file")
        if not os.path.exists(path):
            raise FileNotFoundError(f"no plug-in file at {path}")
        # The plug-in library is loaded once per process and links itself to
        # one host, so a host that still holds it is closed first (as when a
        # notebook cell that makes a host runs again).
        key = os.path.realpath(path)
        previous = _OPEN_PLUGINS.get(key)
        if previous is not None:
            warnings.warn(f"closing the lumadex.Host that holds {path}: a plug-in is loaded into one host at a time",
                          stacklevel=2)
            _close_host(previous, key)
        core.load_plugin(path)
        _OPEN_PLUGINS[key] = core
        self._core = core
        # Shut the plug-in down on close(), when this object goes, or at interpreter exit.
        self._finalizer = weakref.finalize(self, _close_host, core, key)
        for signature in core.signatures():
            match = _FUNCTION_NAME.search(signature)
            if match:
                self._names.setdefault(match.group(1), []).append(signature)

    # --- life cycle ----------------------------------------------------------
    def close(self):
        """Shuts the plug-in down and unloads it; the host accepts no more calls."""
        self._finalizer()

    @property
    def closed(self):
        return self._core.closed

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @property
    def plugin_path(self):
        return self._core.plugin_path

    @property
    def version(self):
        """The host version the plug-in sees (0x030A0000 is 3.10.0)."""
        return self._core.version

    def startup_errors(self):
        """Errors the plug-in raised while starting (then it registered nothing)."""
        return self._core.startup_errors()

    # --- registry -------------------------------------------------------------
    def signatures(self):
        """Every registered signature text, in registration order."""
        return self._core.signatures()

    def function_names(self):
        """The registered script-function names, sorted."""
        return sorted(self._names)

    def __getattr__(self, name):
        # host.ZEPPureFFT(...) is host.call("ZEPPureFFT", ...).
        names = self.__dict__.get("_names", {})
        if name not in names:
            raise AttributeError(f"{type(self).__name__!s} has no attribute or script function {name!r}")

        def script_function(*args):
            return self.call(name, *args)

        script_function.__name__ = name
        script_function.__doc__ = "\n".join(names[name])
        return script_function

    def __dir__(self):
        return sorted(set(super().__dir__()) | set(self.__dict__.get("_names", {})))

    # --- images ------------------------------------------------------------
    def image(self, array, name=""):
        """A new host image holding a copy of `array`.

        The dtype decides the data type (see lumadex.DataType); numpy's C order
        is kept, so the last axis is x. 1 to 5 dimensions.
        """
        pixels = np.asarray(array)
        data_type = data_type_of(pixels.dtype)
        if not 1 <= pixels.ndim <= MAX_DIMENSIONS:
            raise ValueError(f"an image has 1 to {MAX_DIMENSIONS} dimensions, this array has {pixels.ndim}")
        pixels = np.ascontiguousarray(pixels, dtype=data_type.dtype)
        image = self.new_image(name, data_type, *pixels.shape)
        image._core.write(pixels)
        return image

    def new_image(self, name, data_type, *shape):
        """A new host image of `data_type` (DataType, code or name).

        `shape` is in numpy order, the last size being x:
        new_image("stack", "Real4", depth, height, width). Pixels start at 0.
        """
        if not 1 <= len(shape) <= MAX_DIMENSIONS:
            raise ValueError(f"an image has 1 to {MAX_DIMENSIONS} dimensions, not {len(shape)}")
        empty = [axis for axis, n in enumerate(shape) if int(n) < 1]
        if empty:
            raise ValueError(f"every axis of an image needs at least one pixel; "
                             f"shape {tuple(shape)} has none along axis {empty[0]}")
        sizes = [int(n) for n in reversed(shape)]
        return Image(self._core.new_image(str(name), int(as_data_type(data_type)), sizes))

    def open(self, path):
        """The images of a DM3 / DM4 file, in file order (thumbnails skipped); FileError if it cannot be read whole."""
        return [Image(core) for core in self._core.open_file(os.fspath(path))]

    # --- script calls ----------------------------------------------------------
    def call(self, name, *args):
        """Calls the script function `name`, choosing the registered form that fits `args`.

        Arguments: Image, number, str, None (an omitted image), or Ref for an
        out-parameter. Returns an Image, a number, a str, a dict (tag group) or
        None. A failed call raises ScriptError with the script's exact message.
        """
        values = [_script_value(a.value if isinstance(a, Ref) else a) for a in args]
        out = [isinstance(a, Ref) for a in args]
        result, out_values = self._core.call(str(name), values, out)

        known = [a for a in args if isinstance(a, Image)] + [a.value for a in args if isinstance(a, Ref)]
        for argument, value in zip(args, out_values):
            if isinstance(argument, Ref):
                argument.value = self._from_script(value, known)
        return self._from_script(result, known)

    @staticmethod
    def _from_script(value, known):
        # An image the caller passed in comes back as the caller's own object.
        if not isinstance(value, _lumadex.ImageCore):
            return value
        for candidate in known:
            if isinstance(candidate, Image) and candidate._core.same_object(value):
                return candidate
        return Image(value)

    # --- call counters -----------------------------------------------------------
    def counters(self):
        """The plug-in's call counters: {"zep::PureFFTDM": {"count": 2, "seconds": 0.013}, ...}.

        Read through ZEPDLLTraceGetCounter. The plug-in writes each counter's
        name with ':' replaced by '_'; here every "__" is turned back into
        "::", which restores the names of the form "zep::...".
        """
        tags = self.call("ZEPDLLTraceGetCounter")
        if tags is None:
            # The plug-in answers null, by design, only when building the tag
            # group failed: a tag-group function of the host refused or memory
            # ran out. Say so rather than return an empty dictionary.
            raise ScriptError(
                "ZEPDLLTraceGetCounter returned no tag group: the plug-in could not build it "
                "(a host tag-group function (NewTagGroup, TagGroupSetTagAsDouble, TagGroupSetTagAsLong) "
                "failed or memory ran out)"
            )
        return {
            name.replace("__", "::"): {"count": int(entry["Count"]), "seconds": float(entry["Ticks"])}
            for name, entry in tags.items()
        }

    def reset_counters(self):
        """Empties the call counters (ZEPDLLTraceInit)."""
        self.call("ZEPDLLTraceInit")

    # --- what scripts showed, and bookkeeping ------------------------------------
    def results(self):
        """Texts that script calls passed to the host's Result()."""
        return self._core.results()

    def alerts(self):
        """(text, kind) of each alert that script calls showed."""
        return self._core.alerts()

    def live_objects(self):
        """{"total": n, "by_class": {class: n}}: the host objects alive now (for leak checks)."""
        return self._core.live_objects()

    def __repr__(self):
        state = "closed" if self.closed else f"{len(self._names)} script functions"
        return f"<lumadex.Host {state}>"
