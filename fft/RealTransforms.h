// Transforms between real images and the three spectrum layouts of
// HalfFullLayouts.h.
//
//   HalfPureFFT2   real image (or the real parts of a complex one) to its
//                  half-pure spectrum: dst[k] = scale * sum_x f(x) exp(-2 pi i k.x / N)
//                  for kx = 0 ... W/2; only the first W/2+1 columns of each
//                  destination row are written
//   HalfPureIFFT2  the inverse, with the positive exponent, completing the
//                  spectrum by conjugate symmetry; a complex destination gets
//                  only its real parts written
//   HalfFFT / HalfIFFT   the same through the half layout (at most 2-D)
//   RealFFT / RealIFFT   through the full layout (at most 3-D): RealFFT
//                  equals FFT of the image stored as complex
//
// The scale is used as given, as in PureFFT. Every transform checks that
// the destination holds what it writes before it writes anything.
#pragma once

#include <complex>

#include "Export.h"
#include "PureFFT.h"

namespace zep {

template <class T>
using RealView = tarn::dm::image<T>;

// Source element S: T (a real image) or std::complex<T> (its real parts).
template <class S, class T>
ZEP_EXPORT ComplexView<T>& HalfPureFFT2(const tarn::dm::image<S>& src, T scale, ComplexView<T>& dst);
// Destination element D: T, or std::complex<T> (real parts written).
template <class T, class D>
ZEP_EXPORT tarn::dm::image<D>& HalfPureIFFT2(const ComplexView<T>& src, T scale, tarn::dm::image<D>& dst);

// A transform from a real image to its spectrum and its inverse.
#define ZEP_DECLARE_REAL_TRANSFORMS(Forward, Inverse)                                            \
    template <class T>                                                                          \
    ZEP_EXPORT ComplexView<T>& Forward(const RealView<T>& src, T scale, ComplexView<T>& dst);    \
    template <class T>                                                                          \
    ZEP_EXPORT RealView<T>& Inverse(const ComplexView<T>& src, T scale, RealView<T>& dst);
ZEP_DECLARE_REAL_TRANSFORMS(HalfPureFFT, HalfPureIFFT)
ZEP_DECLARE_REAL_TRANSFORMS(HalfFFT, HalfIFFT)
ZEP_DECLARE_REAL_TRANSFORMS(RealFFT, RealIFFT)
#undef ZEP_DECLARE_REAL_TRANSFORMS

// Script functions "HalfPureFFT", "HalfPureIFFT", "HalfFFT", "HalfIFFT",
// "RealFFT", "RealIFFT".
TransformHandler HalfPureFFTDM, HalfPureIFFTDM, HalfFFTDM, HalfIFFTDM, RealFFTDM, RealIFFTDM;

}  // namespace zep
