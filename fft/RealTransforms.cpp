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

[[noreturn]] void ThrowSize() { throw std::runtime_error(message::kInvalidImageSize); }

// A spectrum of a real image needs W/2+1 columns and the image's extent
// along every other dimension.
template <class R, class C>
void CheckHoldsSpectrum(const tarn::dm::image<R>& real, const tarn::dm::image<C>& spectrum)
{
    if (spectrum.size(0) < real.size(0) / 2 + 1) ThrowSize();
    for (int d = 1; d < 4; ++d)
        if (spectrum.size(d) < real.size(d)) ThrowSize();
}

// A full spectrum holds the real image's x, y and z extents.
template <class R, class C>
void CheckHoldsFull(const tarn::dm::image<R>& real, const tarn::dm::image<C>& full)
{
    for (int d = 0; d < 3; ++d)
        if (full.size(d) < real.size(d)) throw std::runtime_error(message::kDifferentSizes);
}

void CheckUpTo2D(int depth, int fourth)
{
    if (depth > 1 || fourth > 1) throw std::runtime_error(message::kUpTo2D);
}

void CheckUpTo3D(int fourth)
{
    if (fourth > 1) throw std::runtime_error(message::kUpTo3D);
}

// Runs the kernel on the views' blocks; returns the destination.
template <class T, class Kernel, class S, class D>
tarn::dm::image<D>& Transformed(Kernel kernel, const tarn::dm::image<S>& src, T scale, tarn::dm::image<D>& dst)
{
    kernel(TransformBlockOf(src), TransformBlockOf(dst), scale);
    return dst;
}

}  // namespace

template <class S, class T>
ComplexView<T>& HalfPureFFT2(const tarn::dm::image<S>& src, T scale, ComplexView<T>& dst)
{
    CheckHoldsSpectrum(src, dst);
    return Transformed<T>(lumadex::kernels::HalfPureForward<T, S>, src, scale, dst);
}

template <class T, class D>
tarn::dm::image<D>& HalfPureIFFT2(const ComplexView<T>& src, T scale, tarn::dm::image<D>& dst)
{
    CheckHoldsSpectrum(dst, src);
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
    CheckHoldsSpectrum(src, dst);
    return Transformed<T>(lumadex::kernels::HalfForward<T>, src, scale, dst);
}

template <class T>
RealView<T>& HalfIFFT(const ComplexView<T>& src, T scale, RealView<T>& dst)
{
    CheckUpTo2D(src.size(2), src.size(3));
    CheckUpTo2D(dst.size(2), dst.size(3));
    CheckHoldsSpectrum(dst, src);
    return Transformed<T>(lumadex::kernels::HalfInverse<T>, src, scale, dst);
}

template <class T>
ComplexView<T>& RealFFT(const RealView<T>& src, T scale, ComplexView<T>& dst)
{
    CheckUpTo3D(src.size(3));
    CheckHoldsFull(src, dst);
    return Transformed<T>(lumadex::kernels::FullForward<T>, src, scale, dst);
}

template <class T>
RealView<T>& RealIFFT(const ComplexView<T>& src, T scale, RealView<T>& dst)
{
    CheckUpTo3D(src.size(3));
    CheckUpTo3D(dst.size(3));
    CheckHoldsFull(dst, src);
    return Transformed<T>(lumadex::kernels::FullInverse<T>, src, scale, dst);
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

constexpr RealTransformFrame kHalfPureFFT = {
    true, HalfOf, HalfPureForwardTypes, HoldsHalf, message::kInvalidImageSize, {kForward, kForward, kForward}, 7u,
    RunHalfPure<true>};

constexpr RealTransformFrame kHalfPureIFFT = {
    false, RealOf, HalfPureInverseTypes, MatchesHalf, message::kInvalidImageSize, {kInverse, kInverse, kInverse}, 7u,
    RunHalfPure<false>};

constexpr RealTransformFrame kHalfFFT = {
    true, HalfOf, RealToComplex, HoldsHalf, message::kInvalidImageSize, {kForward, kCentred, kCentred}, 7u,
    [](const Image& source, const Image& destination, double scale) {
        // The half layout is two-dimensional: refuse a stack before the
        // transform writes into the destination.
        CheckUpTo2D(ExtentOf(source)[2], ExtentOf(source)[3]);
        RunForward<HalfForward>(source, destination, scale, kDense);
    },
    message::kUpTo2D};

constexpr RealTransformFrame kHalfIFFT = {
    false, RealOf, ComplexToReal, MatchesHalf, message::kInvalidImageSize, {kInverse, kInverse, kInverse}, 7u,
    [](const Image& source, const Image& destination, double scale) {
        RunInverse<HalfInverse>(source, destination, scale, kDense);
    },
    message::kUpTo2D};

constexpr RealTransformFrame kRealFFT = {
    true, Same, RealToComplex,
    [](const Extent& real, const Extent& full) {
        return full[0] == real[0] && full[1] >= real[1] && full[2] >= real[2];
    },
    message::kDifferentSizes, {kCentred, kCentred, kCentred}, 7u,
    [](const Image& source, const Image& destination, double scale) {
        RunForward<FullForward>(source, destination, scale, kDense);
    }};

constexpr RealTransformFrame kRealIFFT = {
    false, Same, ComplexToReal,
    [](const Extent& full, const Extent& real) {
        return full[0] == real[0] && full[1] == real[1] && full[2] == real[2];
    },
    message::kDifferentSizes, {kInverse, kInverse, kInverse}, 7u,
    [](const Image& source, const Image& destination, double scale) {
        RunInverse<FullInverse>(source, destination, scale, kDense);
    }};

}  // namespace

ZEP_REAL_TRANSFORM_HANDLER(HalfPureFFT, kHalfPureFFT)
ZEP_REAL_TRANSFORM_HANDLER(HalfPureIFFT, kHalfPureIFFT)
ZEP_REAL_TRANSFORM_HANDLER(HalfFFT, kHalfFFT)
ZEP_REAL_TRANSFORM_HANDLER(HalfIFFT, kHalfIFFT)
ZEP_REAL_TRANSFORM_HANDLER(RealFFT, kRealFFT)
ZEP_REAL_TRANSFORM_HANDLER(RealIFFT, kRealIFFT)

}  // namespace zep
