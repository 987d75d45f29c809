// numpy's C API (arrays and ufuncs) in the _arrays extension.
//
// numpy reaches its C API through a table of function pointers that each
// extension fetches once, at import (import_array, import_umath). With the
// API used from more than one file of one extension, numpy 1.24's rule is:
// every file names the table alike (PY_ARRAY_UNIQUE_SYMBOL,
// PY_UFUNC_UNIQUE_SYMBOL); exactly one file defines it and fetches it, the
// others declare it (NO_IMPORT_ARRAY, NO_IMPORT_UFUNC). Here the file that
// defines LUMADEX_NUMPY_API_OWNER before including this header owns the
// table (ufuncs.cpp, whose ImportNumpyApi() fills it when the module is
// imported); every other file includes this header as it is and may use
// the API once the module is initialised.
//
// pybind11's numpy support finds numpy's API by itself and is unaffected.
#pragma once

#define PY_ARRAY_UNIQUE_SYMBOL lumadex_arrays_ARRAY_API
#define PY_UFUNC_UNIQUE_SYMBOL lumadex_arrays_UFUNC_API
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#ifndef LUMADEX_NUMPY_API_OWNER
#define NO_IMPORT_ARRAY
#define NO_IMPORT_UFUNC
#endif

#include <Python.h>
#include <numpy/arrayobject.h>
#include <numpy/ufuncobject.h>
