"""lumadex: the Lumadex plug-in's script functions from Python, through the host stand-in.

    import numpy as np
    import lumadex

    with lumadex.Host() as host:                        # loads the plug-in built or installed with this package
        image = host.image(np.ones((64, 64), np.complex64), "ones")
        spectrum = host.ZEPPureFFT(image, 1.0, None)    # or host.call("ZEPPureFFT", ...)
        print(spectrum.array()[0, 0], host.counters())

Arrays and shapes are in numpy order (the last axis is x); calibrations are
numbered by host dimension (0 = x). Out-parameters are lumadex.Ref objects;
failed calls raise lumadex.ScriptError with the script's exact message.
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
