#include "PureFFT.h"

#include "ComplexTransformFrame.h"
#include "Dfti.h"
#include "TransformGeometry.h"

namespace zep {
namespace {

// One whole-image complex transform through one descriptor.
template <class T>
void TransformComplex(const ComplexView<T>& src, T scale, ComplexView<T>& dst, dfti::Exponent exponent)
{
    const TransformAxes axes = AxesOf(src);
    StrideArray inputStrides, outputStrides;
    FillStrides(src, axes, inputStrides);
    FillStrides(dst, axes, outputStrides);

    dfti::Descriptor descriptor(dfti::kPrecision<T>, DFTI_COMPLEX, axes.rank, axes.lengths);
    descriptor.SetStrides(DFTI_INPUT_STRIDES, inputStrides);
    descriptor.SetStrides(DFTI_OUTPUT_STRIDES, outputStrides);
    descriptor.SetScale(exponent, scale);
    const bool inPlace = src.data() == dst.data();
    if (!inPlace) descriptor.SetValue(DFTI_PLACEMENT, DFTI_NOT_INPLACE);
    descriptor.Commit();
    descriptor.Compute(exponent, src.data(), inPlace ? nullptr : dst.data());
    descriptor.Free();
}

}  // namespace

template <class T>
ComplexView<T>& PureFFT(const ComplexView<T>& src, T scale, ComplexView<T>& dst)
{
    TransformComplex(src, scale, dst, dfti::Exponent::Positive);
    return dst;
}

template <class T>
ComplexView<T>& PureIFFT(const ComplexView<T>& src, T scale, ComplexView<T>& dst)
{
    TransformComplex(src, scale, dst, dfti::Exponent::Negative);
    return dst;
}

template ZEP_EXPORT ComplexView<float>& PureFFT(const ComplexView<float>&, float, ComplexView<float>&);
template ZEP_EXPORT ComplexView<double>& PureFFT(const ComplexView<double>&, double, ComplexView<double>&);
template ZEP_EXPORT ComplexView<float>& PureIFFT(const ComplexView<float>&, float, ComplexView<float>&);
template ZEP_EXPORT ComplexView<double>& PureIFFT(const ComplexView<double>&, double, ComplexView<double>&);

dm_object* PureFFTDM(dm_object* cimSrc, double fScale, dm_object* cimDst)
{
    static constexpr ComplexTransform kTransform = {CalibrationRule::Forward, &PureFFT<float>, &PureFFT<double>};
    return RunComplexTransform("zep::PureFFTDM", kTransform, cimSrc, fScale, cimDst);
}

dm_object* PureIFFTDM(dm_object* cimSrc, double fScale, dm_object* cimDst)
{
    static constexpr ComplexTransform kTransform = {CalibrationRule::Inverse, &PureIFFT<float>, &PureIFFT<double>};
    return RunComplexTransform("zep::PureIFFTDM", kTransform, cimSrc, fScale, cimDst);
}

}  // namespace zep
