#include "CentredFFT.h"

#include "ComplexTransformFrame.h"
#include "ImageShifter.h"

namespace zep {
namespace {

// Multiplies by exp(sign * 2 pi i (w x / W + h y / H + d z / D)), w = W / 2...
template <class T>
void Centre(const ComplexView<T>& src, double sign, ComplexView<T>& dst)
{
    const int W = src.size(0), H = src.size(1), D = src.size(2);
    ImageShifter(src, W, H, D, 0, 0, 0, W / 2, H / 2, D / 2, sign, dst);
}

}  // namespace

template <class T>
ComplexView<T>& FFT(const ComplexView<T>& src, T scale, ComplexView<T>& dst)
{
    Centre(src, -1.0, dst);
    return PureFFT(dst, scale, dst);
}

template <class T>
ComplexView<T>& IFFT(const ComplexView<T>& src, T scale, ComplexView<T>& dst)
{
    PureIFFT(src, scale, dst);
    Centre(dst, +1.0, dst);
    return dst;
}

template ComplexView<float>& FFT(const ComplexView<float>&, float, ComplexView<float>&);
template ComplexView<double>& FFT(const ComplexView<double>&, double, ComplexView<double>&);
template ComplexView<float>& IFFT(const ComplexView<float>&, float, ComplexView<float>&);
template ComplexView<double>& IFFT(const ComplexView<double>&, double, ComplexView<double>&);

dm_object* FFTDM(dm_object* cimSrc, double fScale, dm_object* cimDst)
{
    static constexpr ComplexTransform kTransform = {CalibrationRule::ForwardCentred, &FFT<float>, &FFT<double>};
    return RunComplexTransform("zep::FFTDM", kTransform, cimSrc, fScale, cimDst);
}

dm_object* IFFTDM(dm_object* cimSrc, double fScale, dm_object* cimDst)
{
    static constexpr ComplexTransform kTransform = {CalibrationRule::Inverse, &IFFT<float>, &IFFT<double>};
    return RunComplexTransform("zep::IFFTDM", kTransform, cimSrc, fScale, cimDst);
}

}  // namespace zep
