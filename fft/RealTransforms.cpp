#include "RealTransforms.h"

#include <stdexcept>
#include <type_traits>
#include <vector>

#include "BatchTransform.h"
#include "Messages.h"
#include "RealTransformFrame.h"
#include "HalfFullLayouts.h"
#include "ScratchBuffer.h"
#include "SubareasOverlap.h"

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

// Copies the `sizes` pixels of a strided view into a dense buffer, row by row.
template <class E>
void DenseCopy(const tarn::dm::image<E>& view, const std::int32_t (&sizes)[4], E* copy)
{
    for (int e = 0; e < sizes[3]; ++e)
        for (int z = 0; z < sizes[2]; ++z)
            for (int y = 0; y < sizes[1]; ++y) {
                const E* row = view.data() + e * view.pitch(3) + z * view.pitch(2) + y * view.pitch(1);
                copy = std::copy_n(row, sizes[0], copy);
            }
}

// One real transform over `axes`: forward from a real image to its half-pure
// spectrum, backward from the spectrum to the image (pointers and strides
// in T for the real side, in complex elements for the spectrum).
template <class T, class In, class Out>
void RealTransform(dfti::Exponent exponent, const TransformAxes& axes, const In* in, const MKL_LONG* inStrides,
                   Out* out, const MKL_LONG* outStrides, T scale)
{
    BatchPlan plan;
    plan.domain = DFTI_REAL;
    plan.rank = axes.rank;
    std::copy_n(axes.lengths, 4, plan.lengths);
    plan.inputStrides = inStrides;
    plan.outputStrides = outStrides;
    RunBatch<T>(plan, exponent, scale, [&](auto compute) { compute(in, out); });
}

template <class T>
void ForwardReal(const TransformAxes& axes, const T* real, const MKL_LONG* realStrides, std::complex<T>* spectrum,
                 const MKL_LONG* spectrumStrides, T scale)
{
    RealTransform(dfti::Exponent::Negative, axes, real, realStrides, spectrum, spectrumStrides, scale);
}

template <class T>
void InverseReal(const TransformAxes& axes, const std::complex<T>* spectrum, const MKL_LONG* spectrumStrides, T* real,
                 const MKL_LONG* realStrides, T scale)
{
    RealTransform(dfti::Exponent::Positive, axes, spectrum, spectrumStrides, real, realStrides, scale);
}

// A dense Wh x H x D x E spectrum of a real image of `real` sizes, in
// scratch memory given back when the call ends. Every user writes all of it
// before reading it.
template <class T>
struct PackedSpectrum {
    std::int32_t sizes[4];
    ScratchBuffer memory;
    explicit PackedSpectrum(const std::int32_t (&real)[4])
        : sizes{real[0] / 2 + 1, real[1], real[2], real[3]},
          memory(sizeof(std::complex<T>) * sizes[0] * sizes[1] * sizes[2] * sizes[3])
    {
    }
    std::complex<T>* data() const { return static_cast<std::complex<T>*>(memory.data()); }
    layout::Pitches pitches() const { return {sizes[0], std::int64_t{sizes[0]} * sizes[1]}; }
};

void CheckUpTo2D(int depth, int fourth)
{
    if (depth > 1 || fourth > 1) throw std::runtime_error(message::kUpTo2D);
}

void CheckUpTo3D(int fourth)
{
    if (fourth > 1) throw std::runtime_error(message::kUpTo3D);
}

// The half-pure inverse from a dense packed spectrum into `dst`.
template <class T, class D>
void InverseFromPacked(const PackedSpectrum<T>& packed, const std::int32_t (&real)[4], T scale,
                       tarn::dm::image<D>& dst)
{
    const TransformAxes axes = RealAxesOf(real);
    StrideArray in, out;
    FillDenseStrides(packed.sizes, axes, in);
    FillStrides(dst, axes, out, sizeof(D) / sizeof(T));
    InverseReal(axes, packed.data(), in, reinterpret_cast<T*>(dst.data()), out, scale);
}

}  // namespace

template <class S, class T>
ComplexView<T>& HalfPureFFT2(const tarn::dm::image<S>& src, T scale, ComplexView<T>& dst)
{
    std::int32_t real[4];
    SizesOf(src, real);
    if (!HoldsSpectrum(dst, real)) ThrowSize();
    const TransformAxes axes = RealAxesOf(real);
    StrideArray in, out;
    FillStrides(dst, axes, out);
    const void* pixels = src.data();
    std::vector<S> copy;
    if (pixels == static_cast<const void*>(dst.data())) {
        // A complex image transformed into itself: the spectrum would
        // overwrite real parts not yet read.
        copy.resize(static_cast<std::size_t>(real[0]) * real[1] * real[2] * real[3]);
        DenseCopy(src, real, copy.data());
        pixels = copy.data();
        FillDenseStrides(real, axes, in);
        for (MKL_LONG& stride : in) stride *= sizeof(S) / sizeof(T);
        in[0] = 0;
    } else {
        FillStrides(src, axes, in, sizeof(S) / sizeof(T));
    }
    ForwardReal(axes, static_cast<const T*>(pixels), in, dst.data(), out, scale);
    return dst;
}

template <class T, class D>
tarn::dm::image<D>& HalfPureIFFT2(const ComplexView<T>& src, T scale, tarn::dm::image<D>& dst)
{
    std::int32_t real[4];
    SizesOf(dst, real);
    if (!HoldsSpectrum(src, real)) ThrowSize();
    const TransformAxes axes = RealAxesOf(real);
    if (static_cast<const void*>(src.data()) == static_cast<const void*>(dst.data())) {
        // Into the spectrum's own image: work from a copy of the spectrum.
        PackedSpectrum<T> packed(real);
        DenseCopy(src, packed.sizes, packed.data());
        InverseFromPacked(packed, real, scale, dst);
        return dst;
    }
    StrideArray in, out;
    FillStrides(src, axes, in);
    FillStrides(dst, axes, out, sizeof(D) / sizeof(T));
    InverseReal(axes, src.data(), in, reinterpret_cast<T*>(dst.data()), out, scale);
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
    HalfPureFFT2<T, T>(src, scale, dst);
    // Only the spectrum's own rows and columns, whatever the destination's size.
    const int height = src.size(1);
    layout::ShiftRowsConjugated<T>(dst.data(), dst.pitch(1), dst.data(), dst.pitch(1), src.size(0) / 2 + 1, height,
                                   height / 2);
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
    // The source stays as it is: the half-pure spectrum goes to a buffer.
    PackedSpectrum<T> packed(real);
    const int height = real[1];
    layout::ShiftRowsConjugated<T>(src.data(), src.pitch(1), packed.data(), packed.sizes[0], packed.sizes[0],
                                   height, (height - height / 2) % height);
    InverseFromPacked(packed, real, scale, dst);
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
    // The half-pure spectrum goes to a dense buffer, with the same geometry
    // (and plan) as HalfPureFFT's, and spreads from there to the full layout.
    // (Written straight into the destination's rows, it would take FFTW a
    // copying plan a fifth slower than the dense one.)
    PackedSpectrum<T> packed(real);
    const TransformAxes axes = RealAxesOf(real);
    StrideArray in, out;
    FillStrides(src, axes, in);
    FillDenseStrides(packed.sizes, axes, out);
    ForwardReal(axes, src.data(), in, packed.data(), out, scale);
    layout::HalfPureToFull<T>(packed.data(), packed.pitches(), dst.data(), layout::PitchesOf(dst), real[0], real[1],
                              real[2]);
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
    // Only the left half (kx <= 0) of the full spectrum is read.
    PackedSpectrum<T> packed(real);
    layout::FullToHalfPure<T>(src.data(), layout::PitchesOf(src), packed.data(), packed.pitches(), real[0],
                              real[1], real[2]);
    InverseFromPacked(packed, real, scale, dst);
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

bool IsDouble(const Image& image)
{
    return Gatan::DM::IsRealDataType(image, 8) || Gatan::DM::IsComplexDataType(image, 16);
}

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

constexpr CalibrationRule kForward = CalibrationRule::Forward;
constexpr CalibrationRule kCentred = CalibrationRule::ForwardCentred;
constexpr CalibrationRule kInverse = CalibrationRule::Inverse;

}  // namespace

dm_object* HalfPureFFTDM(dm_object* imgSrc, double fScale, dm_object* cimDst)
{
    static constexpr RealTransformFrame kFrame = {
        "zep::HalfPureFFTDM", true, HalfOf, HalfPureForwardTypes, HoldsHalf, message::kInvalidImageSize,
        {kForward, kForward, kForward}, 7u,
        [](const Image& source, const Image& destination, double scale) {
            const bool doublePrecision = IsDouble(source);
            const bool complexSource = Gatan::DM::ImageIsDataTypeComplex(source);
            auto run = [](const auto& src, auto s, auto& dst) { HalfPureFFT2(src, s, dst); };
            if (doublePrecision && complexSource)
                RunOn<std::complex<double>, std::complex<double>, double>(source, destination, scale, kInPlace, run);
            else if (doublePrecision)
                RunOn<double, std::complex<double>, double>(source, destination, scale, kInPlace, run);
            else if (complexSource)
                RunOn<std::complex<float>, std::complex<float>, float>(source, destination, scale, kInPlace, run);
            else
                RunOn<float, std::complex<float>, float>(source, destination, scale, kInPlace, run);
        }};
    return RunRealTransform(kFrame, imgSrc, fScale, cimDst);
}

dm_object* HalfPureIFFTDM(dm_object* cimSrc, double fScale, dm_object* imgDst)
{
    static constexpr RealTransformFrame kFrame = {
        "zep::HalfPureIFFTDM", false, RealOf, HalfPureInverseTypes, MatchesHalf, message::kInvalidImageSize,
        {kInverse, kInverse, kInverse}, 7u,
        [](const Image& source, const Image& destination, double scale) {
            const bool doublePrecision = IsDouble(source);
            const bool complexDestination = Gatan::DM::ImageIsDataTypeComplex(destination);
            auto run = [](const auto& src, auto s, auto& dst) { HalfPureIFFT2(src, s, dst); };
            if (doublePrecision && complexDestination)
                RunOn<std::complex<double>, std::complex<double>, double>(source, destination, scale, kInPlace, run);
            else if (doublePrecision)
                RunOn<std::complex<double>, double, double>(source, destination, scale, kInPlace, run);
            else if (complexDestination)
                RunOn<std::complex<float>, std::complex<float>, float>(source, destination, scale, kInPlace, run);
            else
                RunOn<std::complex<float>, float, float>(source, destination, scale, kInPlace, run);
        }};
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
