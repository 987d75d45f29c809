"""The host: plug-in loading, images from numpy, script calls, call counters."""

import numbers
import os
import weakref

import numpy as np

from . import _lumadex
from ._datatypes import as_data_type, data_type_of
from ._image import Image
from ._script_functions import Ref, parse_form, script_function

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


_SCRIPT_VALUES = "an Image, a number, a str or None (an omitted image)"


def _script_value(value, where):
    """What the native layer passes for one argument value; `where` names the argument in errors."""
    if value is None or isinstance(value, str):
        return value
    if isinstance(value, Image):
        return value._core
    if isinstance(value, Ref):
        raise TypeError(f"{where} is a Ref holding another Ref; a Ref holds {_SCRIPT_VALUES}")
    if isinstance(value, np.ndarray):
        raise TypeError(f"{where} is a numpy array: pass a host image, made with host.image(array)")
    if isinstance(value, (bool, np.bool_, numbers.Integral)):
        return int(value)
    if isinstance(value, numbers.Real):
        return float(value)
    raise TypeError(f"{where} is of type {type(value).__name__}; a script argument is {_SCRIPT_VALUES}, "
                    f"or a lumadex.Ref")


class _Session:
    """One loaded plug-in, shared by every open Host over the same plug-in file (a notebook cell run
    again makes a second Host, which must not break the first). Unloaded when the last one closes."""

    def __init__(self, core, key):
        self.core, self.key, self.users = core, key, 0


# Real path of each plug-in file loaded in this process -> its session. The
# library, and so its link to a host, exists once per process.
_SESSIONS = {}


def _open_session(path, version):
    key = os.path.realpath(path)
    session = _SESSIONS.get(key)
    if session is not None and not session.core.closed:
        if version is not None and session.core.version != version:
            raise UsageError(f"the plug-in {path} is loaded already in an open lumadex.Host that reports host "
                             f"version {session.core.version:#010x}; a new Host shares it and cannot report "
                             f"{version:#010x}: close the open Hosts first")
    else:
        core = _lumadex.HostCore() if version is None else _lumadex.HostCore(version)
        core.load_plugin(path)
        session = _SESSIONS[key] = _Session(core, key)
    session.users += 1
    return session


def _leave_session(session):
    session.users -= 1
    if session.users == 0:
        if _SESSIONS.get(session.key) is session:
            del _SESSIONS[session.key]
        session.core.close()


class Host:
    """A host stand-in with the plug-in loaded: every registered script function is callable.

        with lumadex.Host() as host:
            spectrum = host.ZEPPureFFT(host.image(pixels.astype(np.complex64)), fScale=1.0, cimDst=None)

    Parameters
    ----------
    plugin : str or os.PathLike, optional
        The plug-in file to load; default, the one built with this package.
    version : int, str or tuple, optional
        The host version the plug-in sees: 0x030A0000, "3.10.0" or (3, 10, 0);
        default, a current one. A plug-in that refuses to start says why in
        startup_errors().

    Notes
    -----
    A plug-in library exists once per process and links itself to one host,
    so every open Host over the same plug-in file shares one loaded plug-in
    (its thread count, call counters, results and alerts): a second Host, made
    when a notebook cell runs again, leaves the first and its images working.
    close() ends one Host; the plug-in is shut down and unloaded when the last
    one closes, is collected, or the interpreter exits. Images stay readable
    after that, and usable in calls through any open Host that shares them.
    """

    def __init__(self, plugin=None, *, version=None):
        self._names = {}
        code = None if version is None else _host_version(version)
        path = os.fspath(plugin) if plugin is not None else default_plugin_path()
        if not path:
            raise FileNotFoundError("this lumadex build has no plug-in; build the ZEP32 target or name a plug-in file")
        if not os.path.exists(path):
            raise FileNotFoundError(f"no plug-in file at {path}")
        session = _open_session(path, code)
        self._core = session.core
        # This Host's share ends on close(), when this object goes, or at interpreter exit.
        self._finalizer = weakref.finalize(self, _leave_session, session)
        for text in self._core.signatures():
            form = parse_form(text)
            name = form.name if form else text.split("(")[0].split()[-1]
            self._names.setdefault(name, []).append(form or text)

    # --- life cycle ----------------------------------------------------------
    def close(self):
        """Ends this Host: it accepts no more calls. The last Host over a plug-in shuts the plug-in down."""
        self._finalizer()

    @property
    def closed(self):
        return not self._finalizer.alive or self._core.closed

    def _open_core(self):
        if self.closed:
            raise ValueError("this lumadex host is closed")
        return self._core

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
        # host.ZEPPureFFT(...) is host.call("ZEPPureFFT", ...), with keywords too.
        forms = self.__dict__.get("_names", {}).get(name)
        if forms is None:
            raise AttributeError(f"{type(self).__name__!s} has no attribute or script function {name!r}")
        return script_function(name, forms, self._call)

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
        return Image(self._open_core().new_image(str(name), int(as_data_type(data_type)), sizes))

    def open(self, path):
        """The images of a DM3 / DM4 file, in file order (thumbnails skipped); FileError if it cannot be read whole."""
        return [Image(core) for core in self._open_core().open_file(os.fspath(path))]

    # --- script calls ----------------------------------------------------------
    def call(self, name, *args, **kwargs):
        """Calls the script function `name`, choosing the registered form that fits the arguments.

        Arguments pass by position or by the registered parameter names
        (see help(host.ZEPPureFFT)): Image, number, str, None (an omitted
        image), or Ref for an out-parameter. Returns an Image, a number, a
        str, a dict (tag group) or None. A failed call raises ScriptError with
        the script's exact message.
        """
        name = str(name)
        forms = self._names.get(name)
        if forms is None:
            return self._call(name, args, [None] * len(args))  # the host names the unknown function
        return script_function(name, forms, self._call)(*args, **kwargs)

    def _call(self, name, args, parameter_names):
        core = self._open_core()
        values = [_script_value(a.value if isinstance(a, Ref) else a,
                                f"{name}(): {'argument ' + repr(p) if p else f'argument {i + 1}'}")
                  for i, (a, p) in enumerate(zip(args, parameter_names))]
        out = [isinstance(a, Ref) for a in args]
        result, out_values = core.call(name, values, out)

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
