// Transforms along one axis (x, y or z) or over the x-y plane only, once
// for every position along the other axes, in natural (uncentred) order.
//
//   PureFFTX/Y/Z/XY   dst[k] = scale * sum_n src[n] exp(+2 pi i k n / N) along
//                     the axis (both in-plane axes for XY)
//   PureIFFTX/Y/Z/XY  the same with exp(-2 pi i k n / N)
//   HalfPureFFTX/Z    a real image to the half-pure spectrum of each line:
//                     dst[k] = scale * sum_n src[n] exp(-2 pi i k n / N),
//                     k = 0 ... N/2
//   HalfPureIFFTX/Z   each real line of length N rebuilt from its N/2+1
//                     coefficients (positive exponent)
//
// Views are taken where they lie: sub-areas of stacks are transformed with
// their parent's row and plane pitches.
#pragma once

#include <complex>

#include "Export.h"
#include "PureFFT.h"

namespace zep {

#define ZEP_DECLARE_AXIS_TRANSFORM(Name) \
    template <class T>                   \
    ZEP_EXPORT ComplexView<T>& Name(const ComplexView<T>& src, T scale, ComplexView<T>& dst);
ZEP_DECLARE_AXIS_TRANSFORM(PureFFTX)
ZEP_DECLARE_AXIS_TRANSFORM(PureIFFTX)
ZEP_DECLARE_AXIS_TRANSFORM(PureFFTY)
ZEP_DECLARE_AXIS_TRANSFORM(PureIFFTY)
ZEP_DECLARE_AXIS_TRANSFORM(PureFFTZ)
ZEP_DECLARE_AXIS_TRANSFORM(PureIFFTZ)
ZEP_DECLARE_AXIS_TRANSFORM(PureFFTXY)
ZEP_DECLARE_AXIS_TRANSFORM(PureIFFTXY)
#undef ZEP_DECLARE_AXIS_TRANSFORM

template <class T>
ZEP_EXPORT ComplexView<T>& HalfPureFFTX(tarn::dm::image<T> src, T scale, ComplexView<T>& dst);
template <class T>
ZEP_EXPORT ComplexView<T>& HalfPureFFTZ(tarn::dm::image<T> src, T scale, ComplexView<T>& dst);
template <class T>
ZEP_EXPORT tarn::dm::image<T>& HalfPureIFFTX(const ComplexView<T>& src, T scale, tarn::dm::image<T>& dst);
template <class T>
ZEP_EXPORT tarn::dm::image<T>& HalfPureIFFTZ(const ComplexView<T>& src, T scale, tarn::dm::image<T>& dst);

// Script functions.
TransformHandler PureFFTXDM, PureIFFTXDM, PureFFTYDM, PureIFFTYDM, PureFFTZDM, PureIFFTZDM, PureFFTXYDM, PureIFFTXYDM;
TransformHandler HalfPureFFTXDM, HalfPureIFFTXDM, HalfPureFFTZDM, HalfPureIFFTZDM;

}  // namespace zep
