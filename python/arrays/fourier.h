// The Fourier transforms of lumadex.fft on numpy memory: the kernels'
// complex and real transforms along any axes of arrays of any rank and
// strides (fourier_passes.h), with the GIL released while they run.
//
// lumadex.fft (Python) resolves scipy.fft's parameters: dtypes, lengths,
// axes, normalisation; it hands these functions arrays of the kernels'
// types and the output to fill, and they check what they rely on.
#pragma once

#include <pybind11/pybind11.h>

namespace lumadex::arrays {

void RegisterFourier(pybind11::module_& m);

}  // namespace lumadex::arrays
