"""Host data types and the numpy dtypes that hold their pixels."""

import enum

import numpy as np

from . import _lumadex

# The host's one table of data types:
# code -> (identifier, numpy dtype, bytes per pixel, the host's name such as "Complex 8")
_NATIVE = {code: (ident, np.dtype(dtype), size, name) for code, ident, dtype, size, name in _lumadex.data_types()}


class _DataTypeBase(enum.IntEnum):
    @property
    def dtype(self):
        """The numpy dtype of one pixel."""
        return _NATIVE[self.value][1]

    @property
    def element_size(self):
        """Bytes per pixel."""
        return _NATIVE[self.value][2]

    @property
    def host_name(self):
        """The host's name of the type, as its messages write it ("Complex 8")."""
        return _NATIVE[self.value][3]


DataType = _DataTypeBase("DataType", [(ident, code) for code, (ident, *_) in _NATIVE.items()], module=__name__)
DataType.__qualname__ = "DataType"
DataType.__doc__ = """A host image data type; the value is the host's data-type code.

numpy dtype <-> data type: int8 Int8, uint8 UInt8, int16 Int16,
uint16 UInt16, int32 Int32, uint32 UInt32, float32 Real4, float64 Real8,
complex64 Complex8, complex128 Complex16, bool Binary. RGB has no numpy
counterpart: its pixels read as packed uint32 and no array becomes RGB.
"""


# Every array dtype that has a host data type (native byte order).
_FROM_DTYPE = {t.dtype: t for t in DataType if t is not DataType.RGB}


def data_type_of(dtype):
    """The DataType for a numpy dtype; TypeError when the host has none."""
    dtype = np.dtype(dtype)
    found = _FROM_DTYPE.get(dtype.newbyteorder("="))
    if found is None:
        names = ", ".join(str(d) for d in _FROM_DTYPE)
        raise TypeError(f"numpy dtype {dtype} has no host data type (supported: {names})")
    return found


def as_data_type(value):
    """A DataType from a member, a code (3), a name ("Complex8") or the host's name ("Complex 8")."""
    if isinstance(value, DataType):
        return value
    if isinstance(value, str):
        for t in DataType:
            if value in (t.name, t.host_name):
                return t
        raise ValueError(f"no host data type is named {value!r}")
    if isinstance(value, (int, np.integer)) and not isinstance(value, bool):
        try:
            return DataType(int(value))
        except ValueError:
            raise ValueError(f"no host data type has the code {int(value)}") from None
    raise TypeError(f"a data type is a lumadex.DataType, a code or a name, not {type(value).__name__}")
