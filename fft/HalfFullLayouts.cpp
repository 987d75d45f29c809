#include "HalfFullLayouts.h"

#include <stdexcept>

#include "FourierBlocks.h"
#include "Messages.h"
#include "ScriptFrame.h"
#include "TransformImages.h"
#include "lumadex/kernels/Fourier.h"

namespace zep {
namespace {

[[noreturn]] void ThrowSizes() { throw std::runtime_error(message::kDifferentSizes); }

template <class T>
void CheckHalfLayoutLimits(const ComplexView<T>& src, const ComplexView<T>& dst)
{
    if (src.size(2) > 1 || src.size(3) > 1) throw std::runtime_error(message::kUpTo2D);
    if (dst.size(0) < src.size(0) || dst.size(1) < src.size(1)) ThrowSizes();
}

// A conversion between a full spectrum and the half-pure one: the real
// image's sizes are the full side's, and the half-pure side holds them.
template <class T>
ComplexView<T>& ConvertFullLayout(const ComplexView<T>& src, ComplexView<T>& dst, bool toFull)
{
    if (src.size(3) > 1 || dst.size(3) > 1) throw std::runtime_error(message::kUpTo3D);
    const ComplexView<T>& full = toFull ? dst : src;
    const ComplexView<T>& half = toFull ? src : dst;
    if (half.size(0) < full.size(0) / 2 + 1 || half.size(1) < full.size(1) || half.size(2) < full.size(2))
        ThrowSizes();
    const auto convert = toFull ? lumadex::kernels::HalfPureToFull<T> : lumadex::kernels::FullToHalfPure<T>;
    convert(TransformBlockOf(src), TransformBlockOf(dst), full.size(0), full.size(1), full.size(2));
    return dst;
}

template <class T>
ComplexView<T>& ShiftHalfRows(const ComplexView<T>& src, ComplexView<T>& dst, bool toHalf)
{
    CheckHalfLayoutLimits(src, dst);
    const int height = src.size(1);
    const int shift = toHalf ? height / 2 : height - height / 2;
    lumadex::kernels::ShiftRowsConjugated<T>(TransformBlockOf(src), TransformBlockOf(dst), src.size(0), height,
                                             shift % height);
    return dst;
}

}  // namespace

// A conversion over its helper, defined and instantiated for both precisions.
#define ZEP_LAYOUT_CONVERSION(Name, Convert, forward)                                                  \
    template <class T>                                                                                 \
    ComplexView<T>& Name(const ComplexView<T>& src, ComplexView<T>& dst)                               \
    {                                                                                                  \
        return Convert(src, dst, forward);                                                             \
    }                                                                                                  \
    template ZEP_EXPORT ComplexView<float>& Name(const ComplexView<float>&, ComplexView<float>&);      \
    template ZEP_EXPORT ComplexView<double>& Name(const ComplexView<double>&, ComplexView<double>&);
ZEP_LAYOUT_CONVERSION(HalfPureToHalf, ShiftHalfRows, true)
ZEP_LAYOUT_CONVERSION(HalfToHalfPure, ShiftHalfRows, false)
ZEP_LAYOUT_CONVERSION(HalfPureToFull, ConvertFullLayout, true)
ZEP_LAYOUT_CONVERSION(FullToHalfPure, ConvertFullLayout, false)
#undef ZEP_LAYOUT_CONVERSION

template <class T>
float IsHermitian(const ComplexView<T>& spectrum, int allowance)
{
    return lumadex::kernels::IsHermitian<T>(TransformBlockOf(spectrum), allowance) ? 1.0f : 0.0f;
}

template ZEP_EXPORT float IsHermitian(const ComplexView<float>&, int);
template ZEP_EXPORT float IsHermitian(const ComplexView<double>&, int);

namespace {

using Gatan::DM::Image;
using Conversion = ComplexView<float>& (*)(const ComplexView<float>&, ComplexView<float>&);

// The frame of the four conversions: Complex 8 only; a destination the
// script does not give is made by `create`. A conversion of an image into
// itself runs in place on one view.
template <class Create>
dm_object* RunConversion(const char* counterName, Conversion convert, dm_object* cimSrc, dm_object* cimDst,
                         Create create)
{
    return ScriptCall(counterName, [&] {
        const Image source = Image::Borrow(cimSrc);
        const Image destination = cimDst ? Image::Borrow(cimDst) : create(source);
        if (!Gatan::DM::IsComplexDataType(source, 8) || !Gatan::DM::IsComplexDataType(destination, 8))
            throw std::runtime_error(message::kAllComplex8);
        if (source == destination) {
            ComplexView<float> view(source, tarn::dm::kLockDense);
            convert(view, view);
        } else {
            const ComplexView<float> src(source, tarn::dm::kLockDense);
            ComplexView<float> dst(destination, tarn::dm::kLockDense);
            convert(src, dst);
        }
        Gatan::DM::ImageDataChanged(destination);
        return destination;
    });
}

Image CloneOf(const Image& source) { return Gatan::DM::ImageClone(source); }

}  // namespace

dm_object* HalfToHalfPureDM(dm_object* cimSrc, dm_object* cimDst)
{
    return RunConversion("zep::HalfToHalfPureDM", &HalfToHalfPure<float>, cimSrc, cimDst, CloneOf);
}

dm_object* HalfPureToHalfDM(dm_object* cimSrc, dm_object* cimDst)
{
    return RunConversion("zep::HalfPureToHalfDM", &HalfPureToHalf<float>, cimSrc, cimDst, CloneOf);
}

dm_object* FullToHalfPureDM(dm_object* cimSrc, dm_object* cimDst)
{
    return RunConversion("zep::FullToHalfPureDM", &FullToHalfPure<float>, cimSrc, cimDst, [](const Image& source) {
        const Extent full = ExtentOf(source);
        return NewComplexImage("Packed " + Gatan::DM::GetName(source), 8, full[0] / 2 + 1, full[1], full[2]);
    });
}

dm_object* HalfPureToFullDM(dm_object* cimSrc, dm_object* cimDst)
{
    return RunConversion("zep::HalfPureToFullDM", &HalfPureToFull<float>, cimSrc, cimDst, [](const Image& source) {
        const Extent half = ExtentOf(source);
        return NewComplexImage(Gatan::DM::GetName(source), 8, RealLengthOf(half[0]), half[1], half[2]);
    });
}

float IsHermitianDM(dm_object* imgSrc)
{
    return ScriptCallOr("zep::IsHermitianDM", 0.0f, [&] {
        const Image source = Image::Borrow(imgSrc);
        // Only complex pixels can be read as a spectrum.
        if (Gatan::DM::IsComplexDataType(source, 8))
            return IsHermitian(ComplexView<float>(source, tarn::dm::kLockDense), 0);
        if (Gatan::DM::IsComplexDataType(source, 16))
            return IsHermitian(ComplexView<double>(source, tarn::dm::kLockDense), 0);
        throw std::runtime_error(message::kAllComplex8Or16);
    });
}

}  // namespace zep
