#include "CentredFFT.h"

#include "ComplexTransformFrame.h"
#include "FourierBlocks.h"
#include "lumadex/kernels/Fourier.h"

namespace zep {

template <class T>
ComplexView<T>& FFT(const ComplexView<T>& src, T scale, ComplexView<T>& dst)
{
    lumadex::kernels::CentredComplex<T>(TransformBlockOf(src), TransformBlockOf(dst),
                                        lumadex::kernels::Exponent::Positive, scale);
    return dst;
}

template <class T>
ComplexView<T>& IFFT(const ComplexView<T>& src, T scale, ComplexView<T>& dst)
{
    lumadex::kernels::CentredComplex<T>(TransformBlockOf(src), TransformBlockOf(dst),
                                        lumadex::kernels::Exponent::Negative, scale);
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
