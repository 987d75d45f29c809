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

ZEP_COMPLEX_TRANSFORM_HANDLER(FFT, ForwardCentred, ComplexTransform::kAllAxes)
ZEP_COMPLEX_TRANSFORM_HANDLER(IFFT, Inverse, ComplexTransform::kAllAxes)

}  // namespace zep
