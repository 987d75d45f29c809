// The full complex transforms, spectrum in natural order (zero frequency at
// index 0):
//
//   PureFFT:  dst[k] = scale * sum_x src[x] * exp(+2 pi i sum_d k_d x_d / N_d)
//   PureIFFT: dst[x] = scale * sum_k src[k] * exp(-2 pi i sum_d k_d x_d / N_d)
//
// The scale is used as given: PureFFT with a and PureIFFT with b multiply the
// data by a * b * (product of the lengths). Source and destination have the
// same sizes and may be the same view (in place).
#pragma once

#include <complex>

#include "Export.h"
#include "ImageUtility.h"

namespace zep {

template <class T>
using ComplexView = tarn::dm::image<std::complex<T>>;

template <class T>
ZEP_EXPORT ComplexView<T>& PureFFT(const ComplexView<T>& src, T scale, ComplexView<T>& dst);

template <class T>
ZEP_EXPORT ComplexView<T>& PureIFFT(const ComplexView<T>& src, T scale, ComplexView<T>& dst);

// The script function of a transform: (source, fScale, destination), the
// destination returned.
using TransformHandler = dm_object*(dm_object* source, double fScale, dm_object* destination);

// Script functions "PureFFT(...)" and "PureIFFT(...)".
TransformHandler PureFFTDM, PureIFFTDM;

}  // namespace zep
