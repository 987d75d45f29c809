#include "PureFFT.h"

#include "ComplexTransformFrame.h"
#include "FourierBlocks.h"
#include "lumadex/kernels/Fourier.h"

namespace zep {
namespace {

using lumadex::kernels::Exponent;

// One whole-image complex transform.
template <class T>
void TransformComplex(const ComplexView<T>& src, T scale, ComplexView<T>& dst, Exponent exponent)
{
    const auto in = TransformBlockOf(src);
    lumadex::kernels::ComplexFourier<T>(in, TransformBlockOf(dst), lumadex::kernels::EveryAxis(in.size), exponent,
                                        scale);
}

}  // namespace

template <class T>
ComplexView<T>& PureFFT(const ComplexView<T>& src, T scale, ComplexView<T>& dst)
{
    TransformComplex(src, scale, dst, Exponent::Positive);
    return dst;
}

template <class T>
ComplexView<T>& PureIFFT(const ComplexView<T>& src, T scale, ComplexView<T>& dst)
{
    TransformComplex(src, scale, dst, Exponent::Negative);
    return dst;
}

template ZEP_EXPORT ComplexView<float>& PureFFT(const ComplexView<float>&, float, ComplexView<float>&);
template ZEP_EXPORT ComplexView<double>& PureFFT(const ComplexView<double>&, double, ComplexView<double>&);
template ZEP_EXPORT ComplexView<float>& PureIFFT(const ComplexView<float>&, float, ComplexView<float>&);
template ZEP_EXPORT ComplexView<double>& PureIFFT(const ComplexView<double>&, double, ComplexView<double>&);

ZEP_COMPLEX_TRANSFORM_HANDLER(PureFFT, Forward, ComplexTransform::kAllAxes)
ZEP_COMPLEX_TRANSFORM_HANDLER(PureIFFT, Inverse, ComplexTransform::kAllAxes)

}  // namespace zep
