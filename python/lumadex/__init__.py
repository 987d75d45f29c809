"""lumadex: the Lumadex plug-in's script functions from Python, through the host stand-in.

    import numpy as np
    import lumadex

    with lumadex.Host() as host:                        # loads the plug-in built or installed with this package
        image = host.image(np.ones((64, 64), np.complex64), "ones")
        spectrum = host.ZEPPureFFT(image, fScale=1.0, cimDst=None)  # or host.call("ZEPPureFFT", ...)
        print(spectrum.array()[0, 0], host.counters())
        help(host.ZEPPureFFT)                           # what it does, its parameters and forms

    (image,) = lumadex.io.load("spectrum.dm4")          # DM files as numpy arrays with calibrated axes

Arrays and shapes are in numpy order (the last axis is x); calibrations are
numbered by host dimension (0 = x). Script functions take their arguments by
position or by the registered parameter names. Out-parameters are
lumadex.Ref objects; failed calls raise lumadex.ScriptError with the
script's exact message. Every Host over one plug-in file shares the loaded
plug-in: a second Host leaves the first working.
"""

from ._version import __version__  # the project version of the build, "2.3.0.0"
from ._datatypes import DataType, as_data_type, data_type_of
from ._host import MAX_DIMENSIONS, MAX_TAG_DEPTH, FileError, Host, Ref, ScriptError, UsageError, default_plugin_path
from ._image import Calibration, Image
from .drift import Registration
from .registration import register_series
from ._arrays import get_num_threads, set_num_threads
from . import fft, io, math, measure, ndimage, registration, special

__all__ = [
    "Calibration",
    "DataType",
    "FileError",
    "Host",
    "Image",
    "MAX_DIMENSIONS",
    "MAX_TAG_DEPTH",
    "Ref",
    "Registration",
    "ScriptError",
    "UsageError",
    "as_data_type",
    "data_type_of",
    "default_plugin_path",
    "fft",
    "get_num_threads",
    "io",
    "math",
    "measure",
    "ndimage",
    "register_series",
    "registration",
    "set_num_threads",
    "special",
]
