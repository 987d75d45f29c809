#include "RealTransforms.h"

#include <stdexcept>
#include <type_traits>

#include "FourierBlocks.h"
#include "Messages.h"
#include "RealTransformFrame.h"
#include "SubareasOverlap.h"
#include "lumadex/kernels/Fourier.h"

namespace zep {
namespace {

template <class E>
void SizesOf(const tarn::dm::image<E>& view, std::int32_t (&sizes)[4])
{
    for (int d = 0; d < 4; ++d) sizes[d] = view.size(d);
}

// A spectrum of a real image of `real` sizes needs W/2+1 columns and the
// image's extent along every other dimension.
template <class E>
bool HoldsSpectrum(const tarn::dm::image<E>& spectrum, const std::int32_t (&real)[4])
{
    return spectrum.size(0) >= real[0] / 2 + 1 && spectrum.size(1) >= real[1] && spectrum.size(2) >= real[2] &&
           spectrum.size(3) >= real[3];
}

[[noreturn]] void ThrowSize() { throw std::runtime_error(message::kInvalidImageSize); }

void CheckUpTo2D(int depth, int fourth)
{
    if (depth > 1 || fourth > 1) throw std::runtime_error(message::kUpTo2D);
}

void CheckUpTo3D(int fourth)
{
    if (fourth > 1) throw std::runtime_error(message::kUpTo3D);
}

}  // namespace

template <class S, class T>
ComplexView<T>& HalfPureFFT2(const tarn::dm::image<S>& src, T scale, ComplexView<T>& dst)
{
    std::int32_t real[4];
    SizesOf(src, real);
    if (!HoldsSpectrum(dst, real)) ThrowSize();
    lumadex::kernels::HalfPureForward<T, S>(TransformBlockOf(src), TransformBlockOf(dst), scale);
    return dst;
}

template <class T, class D>
tarn::dm::image<D>& HalfPureIFFT2(const ComplexView<T>& src, T scale, tarn::dm::image<D>& dst)
{
    std::int32_t real[4];
    SizesOf(dst, real);
    if (!HoldsSpectrum(src, real)) ThrowSize();
    lumadex::kernels::HalfPureInverse<T>(TransformBlockOf(src), RealsOf<T>(dst), scale);
    return dst;
}

template <class T>
ComplexView<T>& HalfPureFFT(const RealView<T>& src, T scale, ComplexView<T>& dst)
{
    return HalfPureFFT2<T, T>(src, scale, dst);
}

template <class T>
RealView<T>& HalfPureIFFT(const ComplexView<T>& src, T scale, RealView<T>& dst)
{
    return HalfPureIFFT2<T, T>(src, scale, dst);
}

template <class T>
ComplexView<T>& HalfFFT(const RealView<T>& src, T scale, ComplexView<T>& dst)
{
    CheckUpTo2D(src.size(2), src.size(3));
    std::int32_t real[4];
    SizesOf(src, real);
    if (!HoldsSpectrum(dst, real)) ThrowSize();
    lumadex::kernels::HalfForward<T>(TransformBlockOf(src), TransformBlockOf(dst), scale);
    return dst;
}

template <class T>
RealView<T>& HalfIFFT(const ComplexView<T>& src, T scale, RealView<T>& dst)
{
    std::int32_t real[4];
    SizesOf(dst, real);
    CheckUpTo2D(src.size(2), src.size(3));
    CheckUpTo2D(real[2], real[3]);
    if (!HoldsSpectrum(src, real)) ThrowSize();
    lumadex::kernels::HalfInverse<T>(TransformBlockOf(src), TransformBlockOf(dst), scale);
    return dst;
}

template <class T>
ComplexView<T>& RealFFT(const RealView<T>& src, T scale, ComplexView<T>& dst)
{
    std::int32_t real[4];
    SizesOf(src, real);
    CheckUpTo3D(real[3]);
    if (dst.size(0) < real[0] || dst.size(1) < real[1] || dst.size(2) < real[2])
        throw std::runtime_error(message::kDifferentSizes);
    lumadex::kernels::FullForward<T>(TransformBlockOf(src), TransformBlockOf(dst), scale);
    return dst;
}

template <class T>
RealView<T>& RealIFFT(const ComplexView<T>& src, T scale, RealView<T>& dst)
{
    std::int32_t real[4];
    SizesOf(dst, real);
    CheckUpTo3D(src.size(3));
    CheckUpTo3D(real[3]);
    if (src.size(0) < real[0] || src.size(1) < real[1] || src.size(2) < real[2])
        throw std::runtime_error(message::kDifferentSizes);
    lumadex::kernels::FullInverse<T>(TransformBlockOf(src), TransformBlockOf(dst), scale);
    return dst;
}

template ZEP_EXPORT ComplexView<float>& HalfPureFFT2(const RealView<float>&, float, ComplexView<float>&);
template ZEP_EXPORT ComplexView<double>& HalfPureFFT2(const RealView<double>&, double, ComplexView<double>&);
template ZEP_EXPORT ComplexView<float>& HalfPureFFT2(const ComplexView<float>&, float, ComplexView<float>&);
template ZEP_EXPORT ComplexView<double>& HalfPureFFT2(const ComplexView<double>&, double, ComplexView<double>&);
template ZEP_EXPORT RealView<float>& HalfPureIFFT2(const ComplexView<float>&, float, RealView<float>&);
template ZEP_EXPORT RealView<double>& HalfPureIFFT2(const ComplexView<double>&, double, RealView<double>&);
template ZEP_EXPORT ComplexView<float>& HalfPureIFFT2(const ComplexView<float>&, float, ComplexView<float>&);
template ZEP_EXPORT ComplexView<double>& HalfPureIFFT2(const ComplexView<double>&, double, ComplexView<double>&);

#define ZEP_REAL_TEMPLATES(T)                                                                          \
    template ZEP_EXPORT ComplexView<T>& HalfPureFFT(const RealView<T>&, T, ComplexView<T>&);           \
    template ZEP_EXPORT RealView<T>& HalfPureIFFT(const ComplexView<T>&, T, RealView<T>&);             \
    template ZEP_EXPORT ComplexView<T>& HalfFFT(const RealView<T>&, T, ComplexView<T>&);               \
    template ZEP_EXPORT RealView<T>& HalfIFFT(const ComplexView<T>&, T, RealView<T>&);                 \
    template ZEP_EXPORT ComplexView<T>& RealFFT(const RealView<T>&, T, ComplexView<T>&);               \
    template ZEP_EXPORT RealView<T>& RealIFFT(const ComplexView<T>&, T, RealView<T>&);
ZEP_REAL_TEMPLATES(float)
ZEP_REAL_TEMPLATES(double)
#undef ZEP_REAL_TEMPLATES

// --- script functions ------------------------------------------------------------------------

namespace {

using Gatan::DM::Image;
constexpr std::uint32_t kInPlace = tarn::dm::kLockInPlace;
constexpr std::uint32_t kDense = tarn::dm::kLockDense;

// Runs `algorithm` on views of source (elements S) and destination (D) of
// precision T; an image transformed into itself is viewed once.
template <class S, class D, class T, class Algorithm>
void RunOn(const Image& source, const Image& destination, double scale, std::uint32_t flags, Algorithm algorithm)
{
    const tarn::dm::image<S> src(source, flags);
    if constexpr (std::is_same_v<S, D>) {
        if (source == destination) {
            tarn::dm::image<D> same = src;
            algorithm(src, static_cast<T>(scale), same);
            return;
        }
    }
    tarn::dm::image<D> dst(destination, flags);
    // Before any descriptor is made: the library would refuse partly shared
    // memory with a message of its own.
    if (SubareasOverlap(src, dst)) throw std::runtime_error(message::kSubareasOverlap);
    algorithm(src, static_cast<T>(scale), dst);
}

// Forward and inverse transforms whose element types follow the precision.
template <template <class> class Forward>
void RunForward(const Image& source, const Image& destination, double scale, std::uint32_t flags)
{
    if (IsDouble(source))
        RunOn<double, std::complex<double>, double>(source, destination, scale, flags, Forward<double>{});
    else
        RunOn<float, std::complex<float>, float>(source, destination, scale, flags, Forward<float>{});
}

template <template <class> class Inverse>
void RunInverse(const Image& source, const Image& destination, double scale, std::uint32_t flags)
{
    if (IsDouble(source))
        RunOn<std::complex<double>, double, double>(source, destination, scale, flags, Inverse<double>{});
    else
        RunOn<std::complex<float>, float, float>(source, destination, scale, flags, Inverse<float>{});
}

#define ZEP_ALGORITHM(Name, Function)                                        \
    template <class T>                                                       \
    struct Name {                                                            \
        template <class S, class D>                                          \
        void operator()(const S& src, T scale, D& dst) const                 \
        {                                                                    \
            Function<T>(src, scale, dst);                                    \
        }                                                                    \
    };
ZEP_ALGORITHM(HalfForward, HalfFFT)
ZEP_ALGORITHM(HalfInverse, HalfIFFT)
ZEP_ALGORITHM(FullForward, RealFFT)
ZEP_ALGORITHM(FullInverse, RealIFFT)
#undef ZEP_ALGORITHM

Extent HalfOf(const Extent& real)
{
    Extent half = real;
    half.size[0] = real[0] / 2 + 1;
    return half;
}

Extent RealOf(const Extent& half)
{
    Extent real = half;
    real.size[0] = RealLengthOf(half[0]);
    return real;
}

Extent Same(const Extent& extent) { return extent; }

bool HoldsHalf(const Extent& real, const Extent& half)
{
    return half[0] >= real[0] / 2 + 1 && half[1] >= real[1] && half[2] >= real[2];
}

bool MatchesHalf(const Extent& half, const Extent& real)
{
    return real[0] / 2 + 1 == half[0] && real[1] == half[1] && real[2] == half[2];
}

bool HalfPureForwardTypes(int source, int destination)
{
    // The destination is the complex type of the source's precision.
    return RealToComplex(source, destination) ||
           ((source == tarn::dm::kComplex8 || source == tarn::dm::kComplex16) && destination == source);
}

bool HalfPureInverseTypes(int source, int destination)
{
    return ComplexToReal(source, destination) ||
           ((source == tarn::dm::kComplex8 || source == tarn::dm::kComplex16) && destination == source);
}

// The half-pure transforms in the source's precision; the real side may be
// a complex image, of which the real parts are read or written.
template <bool Forward, class T>
void RunHalfPureOf(const Image& source, const Image& destination, double scale, bool complexReal)
{
    using C = std::complex<T>;
    auto run = [](const auto& src, auto s, auto& dst) {
        if constexpr (Forward)
            HalfPureFFT2(src, s, dst);
        else
            HalfPureIFFT2(src, s, dst);
    };
    if (complexReal)
        RunOn<C, C, T>(source, destination, scale, kInPlace, run);
    else if constexpr (Forward)
        RunOn<T, C, T>(source, destination, scale, kInPlace, run);
    else
        RunOn<C, T, T>(source, destination, scale, kInPlace, run);
}

template <bool Forward>
void RunHalfPure(const Image& source, const Image& destination, double scale)
{
    const bool complexReal = Gatan::DM::ImageIsDataTypeComplex(Forward ? source : destination);
    if (IsDouble(source))
        RunHalfPureOf<Forward, double>(source, destination, scale, complexReal);
    else
        RunHalfPureOf<Forward, float>(source, destination, scale, complexReal);
}

constexpr CalibrationRule kForward = CalibrationRule::Forward;
constexpr CalibrationRule kCentred = CalibrationRule::ForwardCentred;
constexpr CalibrationRule kInverse = CalibrationRule::Inverse;

}  // namespace

dm_object* HalfPureFFTDM(dm_object* imgSrc, double fScale, dm_object* cimDst)
{
    static constexpr RealTransformFrame kFrame = {
        "zep::HalfPureFFTDM", true, HalfOf, HalfPureForwardTypes, HoldsHalf, message::kInvalidImageSize,
        {kForward, kForward, kForward}, 7u, RunHalfPure<true>};
    return RunRealTransform(kFrame, imgSrc, fScale, cimDst);
}

dm_object* HalfPureIFFTDM(dm_object* cimSrc, double fScale, dm_object* imgDst)
{
    static constexpr RealTransformFrame kFrame = {
        "zep::HalfPureIFFTDM", false, RealOf, HalfPureInverseTypes, MatchesHalf, message::kInvalidImageSize,
        {kInverse, kInverse, kInverse}, 7u, RunHalfPure<false>};
    return RunRealTransform(kFrame, cimSrc, fScale, imgDst);
}

dm_object* HalfFFTDM(dm_object* imgSrc, double fScale, dm_object* cimDst)
{
    static constexpr RealTransformFrame kFrame = {
        "zep::HalfFFTDM", true, HalfOf, RealToComplex, HoldsHalf, message::kInvalidImageSize,
        {kForward, kCentred, kCentred}, 7u,
        [](const Image& source, const Image& destination, double scale) {
            // The half layout is two-dimensional: refuse a stack before the
            // transform writes into the destination.
            CheckUpTo2D(ExtentOf(source)[2], ExtentOf(source)[3]);
            RunForward<HalfForward>(source, destination, scale, kDense);
        },
        message::kUpTo2D};
    return RunRealTransform(kFrame, imgSrc, fScale, cimDst);
}

dm_object* HalfIFFTDM(dm_object* cimSrc, double fScale, dm_object* imgDst)
{
    static constexpr RealTransformFrame kFrame = {
        "zep::HalfIFFTDM", false, RealOf, ComplexToReal, MatchesHalf, message::kInvalidImageSize,
        {kInverse, kInverse, kInverse}, 7u,
        [](const Image& source, const Image& destination, double scale) {
            RunInverse<HalfInverse>(source, destination, scale, kDense);
        },
        message::kUpTo2D};
    return RunRealTransform(kFrame, cimSrc, fScale, imgDst);
}

dm_object* RealFFTDM(dm_object* imgSrc, double fScale, dm_object* cimDst)
{
    static constexpr RealTransformFrame kFrame = {
        "zep::RealFFTDM", true, Same, RealToComplex,
        [](const Extent& real, const Extent& full) {
            return full[0] == real[0] && full[1] >= real[1] && full[2] >= real[2];
        },
        message::kDifferentSizes, {kCentred, kCentred, kCentred}, 7u,
        [](const Image& source, const Image& destination, double scale) {
            RunForward<FullForward>(source, destination, scale, kDense);
        }};
    return RunRealTransform(kFrame, imgSrc, fScale, cimDst);
}

dm_object* RealIFFTDM(dm_object* cimSrc, double fScale, dm_object* imgDst)
{
    static constexpr RealTransformFrame kFrame = {
        "zep::RealIFFTDM", false, Same, ComplexToReal,
        [](const Extent& full, const Extent& real) {
            return full[0] == real[0] && full[1] == real[1] && full[2] == real[2];
        },
        message::kDifferentSizes, {kInverse, kInverse, kInverse}, 7u,
        [](const Image& source, const Image& destination, double scale) {
            RunInverse<FullInverse>(source, destination, scale, kDense);
        }};
    return RunRealTransform(kFrame, cimSrc, fScale, imgDst);
}

}  // namespace zep
