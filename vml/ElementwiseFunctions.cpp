// The element-wise block of script functions: the four frames (one and two
// operands, real and complex) shared by every operation of the table, the
// five special handlers, and the registration list.
#include <algorithm>
#include <array>
#include <complex>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "ElementwiseRules.h"
#include "Messages.h"
#include "Registration.h"
#include "ScriptFrame.h"
#include "VmlOperations.h"

namespace zep::vml {
namespace {

using namespace Gatan::DM;
using tarn::dm::kLockInPlace;

const char* const kUnaryCounter = "zep::vml::vml_expr1DM";
const char* const kBinaryCounter = "zep::vml::vml_expr2DM";

[[noreturn]] void ThrowNotReal() { throw std::runtime_error(message::kShouldBeBinaryIntegerOrReal); }

Image Argument(dm_object* image) { return image ? Image::Borrow(image) : Image(); }

// The real frame's destination rule: a Real 4 or Real 8 destination decides
// the precision; a made destination of an Integer or Binary source becomes
// Real 4 (its source is converted on the way); anything else is refused.
void PrepareRealDestination(const Image& dst, bool given, std::initializer_list<const Image*> sources)
{
    if (IsReal(dst)) return;
    if (given) ThrowNotReal();
    for (const Image* source : sources)
        if (!IsIntegerOrBinary(*source)) ThrowNotReal();
    ConvertToFloat(dst);
}

dm_object* UnaryFrame(const UnaryOperation& op, dm_object* imgSrc, dm_object* imgDst)
{
    return ScriptCall(kUnaryCounter, [&] {
        const Image src = Image::Borrow(imgSrc);
        const bool given = imgDst != nullptr;
        const Image dst = given ? Image::Borrow(imgDst) : ImageClone(src);
        const bool complex = op.family == Family::C ||
                             (op.family == Family::B &&
                              (ImageIsDataTypeComplex(src) || (given && ImageIsDataTypeComplex(dst))));
        if (complex) {
            Apply(op, Path::Complex, src, dst);
        } else {
            PrepareRealDestination(dst, given, {&src});
            Apply(op, Path::Real, src, dst);
        }
        ImageDataChanged(dst);
        return dst;
    });
}

dm_object* BinaryFrame(const BinaryOperation& op, dm_object* imgA, dm_object* imgB, dm_object* imgDst)
{
    return ScriptCall(kBinaryCounter, [&] {
        const Image a = Image::Borrow(imgA), b = Image::Borrow(imgB);
        const bool given = imgDst != nullptr;
        const bool complex =
            op.family == Family::C ||
            (op.family == Family::B && (ImageIsDataTypeComplex(a) || ImageIsDataTypeComplex(b) ||
                                        (given && ImageIsDataTypeComplex(Image::Borrow(imgDst)))));
        Image dst;
        if (given) {
            dst = Image::Borrow(imgDst);
        } else if (complex) {
            // The wider complex operand, else the complex one.
            const bool cloneA = IsComplexDataType(a, 16) || (!IsComplexDataType(b, 16) && ImageIsDataTypeComplex(a));
            dst = ImageClone(cloneA ? a : b);
        } else {
            dst = ImageClone(ImageGetDataType(b) == tarn::dm::kReal8 ? b : a);
        }
        if (complex) {
            Apply(op, Path::Complex, a, b, dst);
        } else {
            PrepareRealDestination(dst, given, {&a, &b});
            Apply(op, Path::Real, a, b, dst);
        }
        ImageDataChanged(dst);
        return dst;
    });
}

template <std::size_t I>
dm_object* UnaryHandler(dm_object* imgSrc, dm_object* imgDst)
{
    return UnaryFrame(kUnaryOperations[I], imgSrc, imgDst);
}

template <std::size_t I>
dm_object* BinaryHandler(dm_object* imgA, dm_object* imgB, dm_object* imgDst)
{
    return BinaryFrame(kBinaryOperations[I], imgA, imgB, imgDst);
}

// --- the special handlers: untimed and uncounted, failures reported -------------------

dm_object* ComplexAbsDM(dm_object* imgSrc, dm_object* imgDst)
{
    return ScriptCall(nullptr, [&] {
        const Image src = Image::Borrow(imgSrc);
        Image dst = Argument(imgDst);
        if (!dst) {
            dst = ImageClone(src);
            if (IsComplexDataType(src, 16))
                ImageChangeDataType(dst, tarn::dm::kReal8);
            else
                ConvertToFloat(dst);
        }
        const std::uint32_t code = ImageGetDataType(dst);
        if (code != tarn::dm::kReal4 && code != tarn::dm::kReal8)
            throw std::runtime_error(message::kDestinationShouldBeReal);
        CheckHoldsAsMany(src, dst);
        if (code == tarn::dm::kReal4) {
            const Image a = ConvertedTo(src, tarn::dm::kComplex8);
            const tarn::dm::image<std::complex<float>> s(a, kLockInPlace);
            tarn::dm::image<float> d(dst, kLockInPlace);
            ComplexAbs(s, d);
        } else {
            const Image a = ConvertedTo(src, tarn::dm::kComplex16);
            const tarn::dm::image<std::complex<double>> s(a, kLockInPlace);
            tarn::dm::image<double> d(dst, kLockInPlace);
            ComplexAbs(s, d);
        }
        ImageDataChanged(dst);
        return dst;
    });
}

template <class T>
void RunCIS(const Image& src, const Image& dst)
{
    const Image a = ConvertedTo(src, std::is_same_v<T, float> ? tarn::dm::kReal4 : tarn::dm::kReal8);
    const tarn::dm::image<T> s(a, kLockInPlace);
    tarn::dm::image<std::complex<T>> d(dst, kLockInPlace);
    CIS(s, d);
}

dm_object* CISDM(dm_object* imgSrc, dm_object* cimDst)
{
    return ScriptCall(nullptr, [&] {
        const Image src = Image::Borrow(imgSrc);
        const bool given = cimDst != nullptr;
        Image dst = Argument(cimDst);
        if (!given) {
            dst = ImageClone(src);
            if (ImageGetDataType(src) == tarn::dm::kReal8)
                ImageChangeDataType(dst, tarn::dm::kComplex16);
            else
                ConvertToComplex(dst);
        }
        const std::uint32_t code = ImageGetDataType(dst);
        if (code != tarn::dm::kComplex8 && code != tarn::dm::kComplex16) {
            if (given || !IsIntegerOrBinary(src)) throw std::runtime_error(message::kInvalidDataType);
            ConvertToComplex(dst);
        }
        CheckHoldsAsMany(src, dst);
        if (ImageGetDataType(dst) == tarn::dm::kComplex8)
            RunCIS<float>(src, dst);
        else
            RunCIS<double>(src, dst);
        ImageDataChanged(dst);
        return dst;
    });
}

template <class T>
void RunPowx(const Image& src, T b, const Image& dst)
{
    const Image a = ConvertedTo(src, std::is_same_v<T, float> ? tarn::dm::kReal4 : tarn::dm::kReal8);
    const tarn::dm::image<T> s(a, kLockInPlace);
    tarn::dm::image<T> d(dst, kLockInPlace);
    Powx(s, b, d);
}

dm_object* PowxDM(dm_object* imgA, double fB, dm_object* imgDst)
{
    return ScriptCall(nullptr, [&] {
        const Image a = Image::Borrow(imgA);
        const bool given = imgDst != nullptr;
        const Image dst = given ? Image::Borrow(imgDst) : ImageClone(a);
        PrepareRealDestination(dst, given, {&a});
        CheckHoldsAsMany(a, dst);
        if (ImageGetDataType(dst) == tarn::dm::kReal4)
            RunPowx(a, static_cast<float>(fB), dst);
        else
            RunPowx(a, fB, dst);
        ImageDataChanged(dst);
        return dst;
    });
}

// SinCos and Modf: two outputs by reference, made as clones of the source when null.
using TwoResultsFloat = void (*)(const tarn::dm::image<float>&, tarn::dm::image<float>&, tarn::dm::image<float>&);
using TwoResultsDouble = void (*)(const tarn::dm::image<double>&, tarn::dm::image<double>&,
                                  tarn::dm::image<double>&);

void SameShape(const Image& a, const Image& b)
{
    std::int32_t widthA = 0, heightA = 0, widthB = 0, heightB = 0;
    GetSize(a, &widthA, &heightA);
    GetSize(b, &widthB, &heightB);
    if (widthA != widthB || heightA != heightB || ImageGetDimensionSize(a, 2) != ImageGetDimensionSize(b, 2))
        throw std::runtime_error(message::kDifferentSizes);
    CheckHoldsAsMany(a, b);  // a fourth dimension too
}

void TwoResultsCall(TwoResultsFloat runFloat, TwoResultsDouble runDouble, dm_object* imgSrc, dm_object** first,
                    dm_object** second)
{
    ScriptCall(nullptr, [&] {
        const Image src = Image::Borrow(imgSrc);
        const Image out1 = *first ? Image::Borrow(*first) : ImageClone(src);
        const Image out2 = *second ? Image::Borrow(*second) : ImageClone(src);
        SameShape(src, out1);
        SameShape(src, out2);
        const std::uint32_t code = ImageGetDataType(src);
        if (ImageGetDataType(out1) != code || ImageGetDataType(out2) != code)
            throw std::runtime_error(message::kAllSameType);
        if (code == tarn::dm::kReal8) {
            const tarn::dm::image<double> s(src, kLockInPlace);
            tarn::dm::image<double> r1(out1, kLockInPlace), r2(out2, kLockInPlace);
            runDouble(s, r1, r2);
        } else {
            if (code != tarn::dm::kReal4) {
                if (!IsIntegerOrBinary(src)) ThrowNotReal();
                // The outputs share the source's integer type: they get Real 4 storage first.
                ConvertToFloat(out1);
                if (!(out2 == out1)) ConvertToFloat(out2);
            }
            const Image a = ConvertedTo(src, tarn::dm::kReal4);
            const tarn::dm::image<float> s(a, kLockInPlace);
            tarn::dm::image<float> r1(out1, kLockInPlace), r2(out2, kLockInPlace);
            runFloat(s, r1, r2);
        }
        ImageDataChanged(out1);
        ImageDataChanged(out2);
        // A made output passes to the caller's slot with its one reference.
        if (!*first) *first = Image(out1).release();
        if (!*second) *second = Image(out2).release();
    });
}

void SinCosDM(dm_object* imgSrc, dm_object** imgSin, dm_object** imgCos)
{
    TwoResultsCall(&SinCos<float>, &SinCos<double>, imgSrc, imgSin, imgCos);
}

void ModfDM(dm_object* imgSrc, dm_object** imgVal, dm_object** imgRem)
{
    TwoResultsCall(&Modf<float>, &Modf<double>, imgSrc, imgVal, imgRem);
}

// The special handlers, registered after the operations of the table.
const ScriptFunctionEntry kSpecialEntries[] = {
    {"ImageRef ", "Abs(ComplexImagePtr imgSrc, ImageRef imgDst)", HandlerAddress(&ComplexAbsDM)},
    {"ImageRef ", "CIS(ImageRef imgSrc, ComplexImagePtr cimDst)", HandlerAddress(&CISDM)},
    {"ImageRef ", "Powx(ImageRef imgA, double fB, ImageRef imgDst)", HandlerAddress(&PowxDM)},
    {"void ", "SinCos(ImageRef imgSrc, ImageRef * imgSin, ImageRef * imgCos)", HandlerAddress(&SinCosDM)},
    {"void ", "Modf(ImageRef imgSrc, ImageRef * imgVal, ImageRef * imgRem)", HandlerAddress(&ModfDM)},
};

// The block's size follows from its three tables.
constexpr std::size_t kEntryCount =
    std::size(kUnaryOperations) + std::size(kBinaryOperations) + std::size(kSpecialEntries);
static_assert(kEntryCount == block_size::kElementwise);

// One entry per operation of the tables, in their order, then the special handlers.
template <std::size_t... I, std::size_t... J>
std::array<ScriptFunctionEntry, kEntryCount> Entries(std::index_sequence<I...>, std::index_sequence<J...>)
{
    std::array<ScriptFunctionEntry, kEntryCount> entries = {{
        {"ImageRef ", kUnaryOperations[I].nameAndArguments, HandlerAddress(&UnaryHandler<I>)}...,
        {"ImageRef ", kBinaryOperations[J].nameAndArguments, HandlerAddress(&BinaryHandler<J>)}...,
    }};
    std::copy(std::begin(kSpecialEntries), std::end(kSpecialEntries), entries.begin() + sizeof...(I) + sizeof...(J));
    return entries;
}

}  // namespace
}  // namespace zep::vml

namespace zep {

std::span<const ScriptFunctionEntry> ElementwiseFunctions()
{
    static const auto kFunctions = vml::Entries(std::make_index_sequence<std::size(vml::kUnaryOperations)>(),
                                                std::make_index_sequence<std::size(vml::kBinaryOperations)>());
    return kFunctions;
}

}  // namespace zep
