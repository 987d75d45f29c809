// The vector-math layer's routines as numpy ufuncs.
//
// RegisterUfuncs fetches numpy's C API for the module (once; see
// ufunc_numpy_api.h) and adds two submodules of ufuncs:
//   math_ufuncs     under numpy's names (exp, log1p, arctan2...): numpy's own
//                   ufunc of that name with the layer's loops in place of
//                   numpy's for the types the layer serves, so that types,
//                   casting, broadcasting and keywords are numpy's;
//   special_ufuncs  under scipy.special's names (erf, erfc, erfinv): float32
//                   and float64 loops, other real types cast to them.
// lumadex/math.py and lumadex/special.py publish them.
#pragma once

#include <pybind11/pybind11.h>

namespace lumadex::arrays {

void RegisterUfuncs(pybind11::module_& m);

}  // namespace lumadex::arrays
