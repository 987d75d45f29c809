#include "AxisTransforms.h"

#include <stdexcept>

#include "ComplexTransformFrame.h"
#include "FourierBlocks.h"
#include "Messages.h"
#include "RealTransformFrame.h"
#include "lumadex/kernels/Fourier.h"

namespace zep {
namespace {

using lumadex::kernels::Exponent;
using lumadex::kernels::FourierAxes;

template <class T>
ComplexView<T>& ComplexLines(const ComplexView<T>& src, T scale, ComplexView<T>& dst, Exponent exponent,
                             const FourierAxes& axes)
{
    for (int d = 0; d < 4; ++d)
        if (dst.size(d) != src.size(d))
            throw std::runtime_error(message::kDifferentSizes);
    lumadex::kernels::ComplexFourier<T>(TransformBlockOf(src), TransformBlockOf(dst), axes, exponent, scale);
    return dst;
}

// A real image to or from its spectrum halved along `axis`.
template <class R, class C>
void CheckHalfAlong(int axis, const tarn::dm::image<R>& real, const tarn::dm::image<C>& spectrum)
{
    for (int d = 0; d < 4; ++d) {
        const std::int32_t needed = d == axis ? real.size(d) / 2 + 1 : real.size(d);
        if (spectrum.size(d) < needed) throw std::runtime_error(message::kInvalidImageSize);
    }
}

template <class T>
ComplexView<T>& HalfLinesForward(const tarn::dm::image<T>& src, T scale, ComplexView<T>& dst, int axis)
{
    CheckHalfAlong(axis, src, dst);
    lumadex::kernels::RealForward<T>(TransformBlockOf(src), TransformBlockOf(dst), {axis}, scale);
    return dst;
}

template <class T>
tarn::dm::image<T>& HalfLinesInverse(const ComplexView<T>& src, T scale, tarn::dm::image<T>& dst, int axis)
{
    CheckHalfAlong(axis, dst, src);
    lumadex::kernels::RealInverse<T>(TransformBlockOf(src), TransformBlockOf(dst), {axis}, scale);
    return dst;
}

constexpr Exponent kPlus = Exponent::Positive;
constexpr Exponent kMinus = Exponent::Negative;

}  // namespace

// An axis transform over ComplexLines, defined and instantiated for both
// precisions.
#define ZEP_AXIS_TRANSFORM(Name, exponent, ...)                                                             \
    template <class T>                                                                                      \
    ComplexView<T>& Name(const ComplexView<T>& src, T scale, ComplexView<T>& dst)                           \
    {                                                                                                       \
        return ComplexLines(src, scale, dst, exponent, {__VA_ARGS__});                                      \
    }                                                                                                       \
    template ZEP_EXPORT ComplexView<float>& Name(const ComplexView<float>&, float, ComplexView<float>&);     \
    template ZEP_EXPORT ComplexView<double>& Name(const ComplexView<double>&, double, ComplexView<double>&);
ZEP_AXIS_TRANSFORM(PureFFTX, kPlus, 0)
ZEP_AXIS_TRANSFORM(PureIFFTX, kMinus, 0)
ZEP_AXIS_TRANSFORM(PureFFTY, kPlus, 1)
ZEP_AXIS_TRANSFORM(PureIFFTY, kMinus, 1)
ZEP_AXIS_TRANSFORM(PureFFTZ, kPlus, 2)
ZEP_AXIS_TRANSFORM(PureIFFTZ, kMinus, 2)
ZEP_AXIS_TRANSFORM(PureFFTXY, kPlus, 1, 0)
ZEP_AXIS_TRANSFORM(PureIFFTXY, kMinus, 1, 0)
#undef ZEP_AXIS_TRANSFORM

// The half-pure transforms of lines along x (axis 0) and z (axis 2).
template <class T>
ComplexView<T>& HalfPureFFTX(tarn::dm::image<T> src, T scale, ComplexView<T>& dst)
{
    return HalfLinesForward(src, scale, dst, 0);
}
template <class T>
ComplexView<T>& HalfPureFFTZ(tarn::dm::image<T> src, T scale, ComplexView<T>& dst)
{
    return HalfLinesForward(src, scale, dst, 2);
}
template <class T>
tarn::dm::image<T>& HalfPureIFFTX(const ComplexView<T>& src, T scale, tarn::dm::image<T>& dst)
{
    return HalfLinesInverse(src, scale, dst, 0);
}
template <class T>
tarn::dm::image<T>& HalfPureIFFTZ(const ComplexView<T>& src, T scale, tarn::dm::image<T>& dst)
{
    return HalfLinesInverse(src, scale, dst, 2);
}

#define ZEP_HALF_LINES_TEMPLATES(T)                                                                         \
    template ZEP_EXPORT ComplexView<T>& HalfPureFFTX(tarn::dm::image<T>, T, ComplexView<T>&);               \
    template ZEP_EXPORT ComplexView<T>& HalfPureFFTZ(tarn::dm::image<T>, T, ComplexView<T>&);               \
    template ZEP_EXPORT tarn::dm::image<T>& HalfPureIFFTX(const ComplexView<T>&, T, tarn::dm::image<T>&);   \
    template ZEP_EXPORT tarn::dm::image<T>& HalfPureIFFTZ(const ComplexView<T>&, T, tarn::dm::image<T>&);
ZEP_HALF_LINES_TEMPLATES(float)
ZEP_HALF_LINES_TEMPLATES(double)
#undef ZEP_HALF_LINES_TEMPLATES

// --- script functions ------------------------------------------------------------------------

namespace {

constexpr unsigned kX = 1u, kY = 2u, kZ = 4u;

using Gatan::DM::Image;

template <class T, bool Forward, int Axis>
void RunHalfLines(const Image& source, const Image& destination, double scale, std::uint32_t flags)
{
    if constexpr (Forward) {
        const tarn::dm::image<T> src(source, flags);
        ComplexView<T> dst(destination, flags);
        HalfLinesForward(src, static_cast<T>(scale), dst, Axis);
    } else {
        const ComplexView<T> src(source, flags);
        tarn::dm::image<T> dst(destination, flags);
        HalfLinesInverse(src, static_cast<T>(scale), dst, Axis);
    }
}

template <bool Forward, int Axis>
void RunHalfLinesOf(const Image& source, const Image& destination, double scale)
{
    // The x forms take sub-areas where they lie, the z forms dense pixels.
    const std::uint32_t flags = Axis == 0 ? tarn::dm::kLockInPlace : tarn::dm::kLockDense;
    if (IsDouble(source))
        RunHalfLines<double, Forward, Axis>(source, destination, scale, flags);
    else
        RunHalfLines<float, Forward, Axis>(source, destination, scale, flags);
}

template <int Axis>
Extent HalfAlong(const Extent& real)
{
    Extent half = real;
    half.size[Axis] = real[Axis] / 2 + 1;
    return half;
}

template <int Axis>
Extent RealAlong(const Extent& half)
{
    Extent real = half;
    real.size[Axis] = RealLengthOf(half[Axis]);
    return real;
}

template <int Axis>
bool HoldsHalfAlong(const Extent& real, const Extent& half)
{
    for (int d = 0; d < 3; ++d)
        if (half[d] < (d == Axis ? real[d] / 2 + 1 : real[d])) return false;
    return true;
}

template <int Axis>
bool MatchesHalfAlong(const Extent& half, const Extent& real)
{
    for (int d = 0; d < 3; ++d)
        if (half[d] != (d == Axis ? real[d] / 2 + 1 : real[d])) return false;
    return true;
}

template <bool Forward, int Axis>
constexpr RealTransformFrame kHalfLinesFrame = {
    Forward,
    Forward ? HalfAlong<Axis> : RealAlong<Axis>,
    Forward ? RealToComplex : ComplexToReal,
    Forward ? HoldsHalfAlong<Axis> : MatchesHalfAlong<Axis>,
    message::kInvalidImageSize,
    {Forward ? CalibrationRule::Forward : CalibrationRule::Inverse,
     Forward ? CalibrationRule::Forward : CalibrationRule::Inverse,
     Forward ? CalibrationRule::Forward : CalibrationRule::Inverse},
    1u << Axis,
    RunHalfLinesOf<Forward, Axis>};

}  // namespace

ZEP_COMPLEX_TRANSFORM_HANDLER(PureFFTX, Forward, kX)
ZEP_COMPLEX_TRANSFORM_HANDLER(PureIFFTX, Inverse, kX)
ZEP_COMPLEX_TRANSFORM_HANDLER(PureFFTY, Forward, kY)
ZEP_COMPLEX_TRANSFORM_HANDLER(PureIFFTY, Inverse, kY)
ZEP_COMPLEX_TRANSFORM_HANDLER(PureFFTZ, Forward, kZ)
ZEP_COMPLEX_TRANSFORM_HANDLER(PureIFFTZ, Inverse, kZ)
ZEP_COMPLEX_TRANSFORM_HANDLER(PureFFTXY, Forward, kX | kY)
ZEP_COMPLEX_TRANSFORM_HANDLER(PureIFFTXY, Inverse, kX | kY)

ZEP_REAL_TRANSFORM_HANDLER(HalfPureFFTX, (kHalfLinesFrame<true, 0>))
ZEP_REAL_TRANSFORM_HANDLER(HalfPureIFFTX, (kHalfLinesFrame<false, 0>))
ZEP_REAL_TRANSFORM_HANDLER(HalfPureFFTZ, (kHalfLinesFrame<true, 2>))
ZEP_REAL_TRANSFORM_HANDLER(HalfPureIFFTZ, (kHalfLinesFrame<false, 2>))

}  // namespace zep
