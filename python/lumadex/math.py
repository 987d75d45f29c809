"""Element-wise mathematics as numpy ufuncs, under numpy's names.

Each function here is a numpy ufunc that stands in for numpy's ufunc of the
same name: the same argument types, the same type resolution and casting,
broadcasting, ``out=``, ``where=``, ``dtype=``, ``casting=``, and for the
two-argument ones ``reduce``, ``accumulate``, ``outer`` and ``at``. The
float32 and float64 loops (and the complex64 and complex128 ones where
listed) run lumadex's vector-math layer; every other type runs numpy's own
loop, so that integers, float16 and long double give numpy's results.
numpy's arithmetic (add, multiply...) is not repeated here: the layer's
loops are no faster than numpy's.

Accuracy of the layer's loops: real functions within 1 ulp of the correctly
rounded result; complex ones within a few ulps per component, relative to
the larger component; rounding, absolute values, square and reciprocal
exact or correctly rounded, as numpy's. Special values (zeros of
either sign, infinities, nan) give numpy's results.

Threads: a long run is split over ``lumadex.get_num_threads()`` threads
(``lumadex.set_num_threads`` sets them); numpy releases the GIL around every
call, so calls from several Python threads run side by side.

One difference from numpy: the layer's loops raise no floating-point
warnings. An invalid argument gives nan and a pole an infinity, as in numpy,
but silently; ``numpy.errstate`` does not turn them into errors.

Functions
---------
exp, expm1, log, log10, log1p
    exponential and logarithms (expm1 and log1p real only)
sqrt, cbrt, square, reciprocal
    roots and powers of one argument (cbrt, square, reciprocal real only)
absolute, fabs, conjugate
    absolute value and complex modulus, conjugate (complex only)
sin, cos, tan, arcsin, arccos, arctan
    circular functions and their inverses
sinh, cosh, tanh, arcsinh, arccosh, arctanh
    hyperbolic functions and their inverses
floor, ceil, trunc, rint
    rounding to integers (real only)
power, hypot, arctan2
    functions of two arguments (real only)

``abs`` and ``conj`` are numpy's other names for absolute and conjugate.
"""

from . import _arrays

__all__ = [
    "exp", "expm1", "log", "log10", "log1p",
    "sqrt", "cbrt", "square", "reciprocal",
    "absolute", "fabs", "conjugate",
    "sin", "cos", "tan", "arcsin", "arccos", "arctan",
    "sinh", "cosh", "tanh", "arcsinh", "arccosh", "arctanh",
    "floor", "ceil", "trunc", "rint",
    "power", "hypot", "arctan2",
]

globals().update({name: getattr(_arrays.math_ufuncs, name) for name in __all__})

abs = absolute  # noqa: A001, F821 (numpy's alias; left out of __all__, as it hides the built-in)
conj = conjugate  # noqa: F821
