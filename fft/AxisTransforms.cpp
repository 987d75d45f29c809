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

template <class E>
void SizesOf(const tarn::dm::image<E>& view, std::int32_t (&sizes)[4])
{
    for (int d = 0; d < 4; ++d) sizes[d] = view.size(d);
}

template <class T>
ComplexView<T>& ComplexLines(const ComplexView<T>& src, T scale, ComplexView<T>& dst, Exponent exponent,
                             const FourierAxes& axes)
{
    std::int32_t sizes[4];
    SizesOf(src, sizes);
    for (int d = 0; d < 4; ++d)
        if (dst.size(d) != sizes[d])
            throw std::runtime_error(message::kDifferentSizes);
    lumadex::kernels::ComplexFourier<T>(TransformBlockOf(src), TransformBlockOf(dst), axes, exponent, scale);
    return dst;
}

// Real image of `real` sizes to or from its spectrum halved along `axis`.
template <class T, class Spectrum>
void CheckHalfAlong(int axis, const std::int32_t (&real)[4], const Spectrum& spectrum)
{
    for (int d = 0; d < 4; ++d) {
        const std::int32_t needed = d == axis ? real[d] / 2 + 1 : real[d];
        if (spectrum.size(d) < needed) throw std::runtime_error(message::kInvalidImageSize);
    }
}

template <class T>
ComplexView<T>& HalfLinesForward(const tarn::dm::image<T>& src, T scale, ComplexView<T>& dst, int axis)
{
    std::int32_t real[4];
    SizesOf(src, real);
    CheckHalfAlong<T>(axis, real, dst);
    lumadex::kernels::RealForward<T>(TransformBlockOf(src), TransformBlockOf(dst), {axis}, scale);
    return dst;
}

template <class T>
tarn::dm::image<T>& HalfLinesInverse(const ComplexView<T>& src, T scale, tarn::dm::image<T>& dst, int axis)
{
    std::int32_t real[4];
    SizesOf(dst, real);
    CheckHalfAlong<T>(axis, real, src);
    lumadex::kernels::RealInverse<T>(TransformBlockOf(src), TransformBlockOf(dst), {axis}, scale);
    return dst;
}

constexpr Exponent kPlus = Exponent::Positive;
constexpr Exponent kMinus = Exponent::Negative;

}  // namespace

// clang-format off
template <class T> ComplexView<T>& PureFFTX(const ComplexView<T>& s, T a, ComplexView<T>& d) { return ComplexLines(s, a, d, kPlus, {0}); }
template <class T> ComplexView<T>& PureIFFTX(const ComplexView<T>& s, T a, ComplexView<T>& d) { return ComplexLines(s, a, d, kMinus, {0}); }
template <class T> ComplexView<T>& PureFFTY(const ComplexView<T>& s, T a, ComplexView<T>& d) { return ComplexLines(s, a, d, kPlus, {1}); }
template <class T> ComplexView<T>& PureIFFTY(const ComplexView<T>& s, T a, ComplexView<T>& d) { return ComplexLines(s, a, d, kMinus, {1}); }
template <class T> ComplexView<T>& PureFFTZ(const ComplexView<T>& s, T a, ComplexView<T>& d) { return ComplexLines(s, a, d, kPlus, {2}); }
template <class T> ComplexView<T>& PureIFFTZ(const ComplexView<T>& s, T a, ComplexView<T>& d) { return ComplexLines(s, a, d, kMinus, {2}); }
template <class T> ComplexView<T>& PureFFTXY(const ComplexView<T>& s, T a, ComplexView<T>& d) { return ComplexLines(s, a, d, kPlus, {1, 0}); }
template <class T> ComplexView<T>& PureIFFTXY(const ComplexView<T>& s, T a, ComplexView<T>& d) { return ComplexLines(s, a, d, kMinus, {1, 0}); }
template <class T> ComplexView<T>& HalfPureFFTX(tarn::dm::image<T> s, T a, ComplexView<T>& d) { return HalfLinesForward(s, a, d, 0); }
template <class T> ComplexView<T>& HalfPureFFTZ(tarn::dm::image<T> s, T a, ComplexView<T>& d) { return HalfLinesForward(s, a, d, 2); }
template <class T> tarn::dm::image<T>& HalfPureIFFTX(const ComplexView<T>& s, T a, tarn::dm::image<T>& d) { return HalfLinesInverse(s, a, d, 0); }
template <class T> tarn::dm::image<T>& HalfPureIFFTZ(const ComplexView<T>& s, T a, tarn::dm::image<T>& d) { return HalfLinesInverse(s, a, d, 2); }
// clang-format on

#define ZEP_AXIS_TEMPLATES(T)                                                                        \
    template ZEP_EXPORT ComplexView<T>& PureFFTX(const ComplexView<T>&, T, ComplexView<T>&);         \
    template ZEP_EXPORT ComplexView<T>& PureIFFTX(const ComplexView<T>&, T, ComplexView<T>&);        \
    template ZEP_EXPORT ComplexView<T>& PureFFTY(const ComplexView<T>&, T, ComplexView<T>&);         \
    template ZEP_EXPORT ComplexView<T>& PureIFFTY(const ComplexView<T>&, T, ComplexView<T>&);        \
    template ZEP_EXPORT ComplexView<T>& PureFFTZ(const ComplexView<T>&, T, ComplexView<T>&);         \
    template ZEP_EXPORT ComplexView<T>& PureIFFTZ(const ComplexView<T>&, T, ComplexView<T>&);        \
    template ZEP_EXPORT ComplexView<T>& PureFFTXY(const ComplexView<T>&, T, ComplexView<T>&);        \
    template ZEP_EXPORT ComplexView<T>& PureIFFTXY(const ComplexView<T>&, T, ComplexView<T>&);       \
    template ZEP_EXPORT ComplexView<T>& HalfPureFFTX(tarn::dm::image<T>, T, ComplexView<T>&);        \
    template ZEP_EXPORT ComplexView<T>& HalfPureFFTZ(tarn::dm::image<T>, T, ComplexView<T>&);        \
    template ZEP_EXPORT tarn::dm::image<T>& HalfPureIFFTX(const ComplexView<T>&, T, tarn::dm::image<T>&); \
    template ZEP_EXPORT tarn::dm::image<T>& HalfPureIFFTZ(const ComplexView<T>&, T, tarn::dm::image<T>&);
ZEP_AXIS_TEMPLATES(float)
ZEP_AXIS_TEMPLATES(double)
#undef ZEP_AXIS_TEMPLATES

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
    nullptr,
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

template <bool Forward, int Axis>
dm_object* RunHalfLinesFrame(const char* counterName, dm_object* source, double fScale, dm_object* destination)
{
    RealTransformFrame frame = kHalfLinesFrame<Forward, Axis>;
    frame.counterName = counterName;
    return RunRealTransform(frame, source, fScale, destination);
}

}  // namespace

ZEP_COMPLEX_TRANSFORM_HANDLER(PureFFTX, Forward, kX)
ZEP_COMPLEX_TRANSFORM_HANDLER(PureIFFTX, Inverse, kX)
ZEP_COMPLEX_TRANSFORM_HANDLER(PureFFTY, Forward, kY)
ZEP_COMPLEX_TRANSFORM_HANDLER(PureIFFTY, Inverse, kY)
ZEP_COMPLEX_TRANSFORM_HANDLER(PureFFTZ, Forward, kZ)
ZEP_COMPLEX_TRANSFORM_HANDLER(PureIFFTZ, Inverse, kZ)
ZEP_COMPLEX_TRANSFORM_HANDLER(PureFFTXY, Forward, kX | kY)
ZEP_COMPLEX_TRANSFORM_HANDLER(PureIFFTXY, Inverse, kX | kY)

dm_object* HalfPureFFTXDM(dm_object* imgSrc, double fScale, dm_object* cimDst)
{
    return RunHalfLinesFrame<true, 0>("zep::HalfPureFFTXDM", imgSrc, fScale, cimDst);
}

dm_object* HalfPureIFFTXDM(dm_object* cimSrc, double fScale, dm_object* imgDst)
{
    return RunHalfLinesFrame<false, 0>("zep::HalfPureIFFTXDM", cimSrc, fScale, imgDst);
}

dm_object* HalfPureFFTZDM(dm_object* imgSrc, double fScale, dm_object* cimDst)
{
    return RunHalfLinesFrame<true, 2>("zep::HalfPureFFTZDM", imgSrc, fScale, cimDst);
}

dm_object* HalfPureIFFTZDM(dm_object* cimSrc, double fScale, dm_object* imgDst)
{
    return RunHalfLinesFrame<false, 2>("zep::HalfPureIFFTZDM", cimSrc, fScale, imgDst);
}

}  // namespace zep
