"""Special functions as numpy ufuncs, under scipy.special's names.

The error functions run lumadex's vector-math layer for float32 and float64
arguments; other real arguments are cast to those by numpy's rules (small
integers to float32, others to float64), as scipy.special's are. Complex
arguments are not accepted: scipy.special.erf and erfc take them. All of
numpy's ufunc machinery applies (broadcasting, ``out=``, ``where=``,
``dtype=``); long runs are split over ``lumadex.get_num_threads()`` threads
and numpy releases the GIL around every call.

Accuracy: within 1 ulp of the correctly rounded result. Special values
follow scipy.special: erf(+-inf) = +-1, erfc(-inf) = 2, erfinv(+-1) = +-inf,
nan outside [-1, 1]. As in lumadex.math, no floating-point warnings are
raised.

Functions
---------
erf, erfc, erfinv
    the error function, its complement and its inverse
cbrt, expm1, log1p
    the functions scipy.special shares with numpy: lumadex.math's ufuncs
    (with numpy's argument types)

scipy.special.erfcinv has no counterpart: the layer has no routine for it,
and erfinv(1 - y) would lose the digits of a small y.
"""

from . import _arrays
from .math import cbrt, expm1, log1p

__all__ = ["erf", "erfc", "erfinv", "cbrt", "expm1", "log1p"]

erf = _arrays.special_ufuncs.erf
erfc = _arrays.special_ufuncs.erfc
erfinv = _arrays.special_ufuncs.erfinv
