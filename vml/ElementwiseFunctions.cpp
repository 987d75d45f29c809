// The element-wise block of script functions: the four frames (one and two
// operands, real and complex) shared by every operation of the table, the
// five special handlers, and the registration list.
#include <algorithm>
#include <array>
#include <complex>
#include <iterator>
#include <stdexcept>
#include <tuple>
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

// The image an argument names, or a clone of `source` when it names none.
Image GivenOrCloneOf(dm_object* image, const Image& source)
{
    return image ? Image::Borrow(image) : ImageClone(source);
}

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
        const Image dst = GivenOrCloneOf(imgDst, src);
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

// Runs a typed entry point, run(s, d...), on views of the source, converted
// to S's data type when it has another, and of the destinations as D, all
// locked where they lie, in that order.
template <class S, class D, class Run, class... Destinations>
void RunOnViews(Run&& run, const Image& src, const Destinations&... destinations)
{
    const Image a = ConvertedTo(src, kDataTypeOf<S>);
    const tarn::dm::image<S> s(a, kLockInPlace);
    std::array<tarn::dm::image<D>, sizeof...(Destinations)> d{tarn::dm::image<D>(destinations, kLockInPlace)...};
    std::apply([&](auto&... views) { run(s, views...); }, d);
}

dm_object* ComplexAbsDM(dm_object* imgSrc, dm_object* imgDst)
{
    return ScriptCall(nullptr, [&] {
        const Image src = Image::Borrow(imgSrc);
        const Image dst =
            imgDst ? Image::Borrow(imgDst)
                   : ConvertedClone(src, IsComplexDataType(src, 16) ? tarn::dm::kReal8 : tarn::dm::kReal4);
        const std::uint32_t code = ImageGetDataType(dst);
        if (code != tarn::dm::kReal4 && code != tarn::dm::kReal8)
            throw std::runtime_error(message::kDestinationShouldBeReal);
        CheckHoldsAsMany(src, dst);
        if (code == tarn::dm::kReal4)
            RunOnViews<std::complex<float>, float>(&ComplexAbs<float>, src, dst);
        else
            RunOnViews<std::complex<double>, double>(&ComplexAbs<double>, src, dst);
        ImageDataChanged(dst);
        return dst;
    });
}

dm_object* CISDM(dm_object* imgSrc, dm_object* cimDst)
{
    return ScriptCall(nullptr, [&] {
        const Image src = Image::Borrow(imgSrc);
        const bool given = cimDst != nullptr;
        const Image dst = given ? Image::Borrow(cimDst)
                                : ConvertedClone(src, ImageGetDataType(src) == tarn::dm::kReal8 ? tarn::dm::kComplex16
                                                                                                : tarn::dm::kComplex8);
        const std::uint32_t code = ImageGetDataType(dst);
        if (code != tarn::dm::kComplex8 && code != tarn::dm::kComplex16) {
            if (given || !IsIntegerOrBinary(src)) throw std::runtime_error(message::kInvalidDataType);
            ConvertToComplex(dst);
        }
        CheckHoldsAsMany(src, dst);
        if (ImageGetDataType(dst) == tarn::dm::kComplex8)
            RunOnViews<float, std::complex<float>>(&CIS<float>, src, dst);
        else
            RunOnViews<double, std::complex<double>>(&CIS<double>, src, dst);
        ImageDataChanged(dst);
        return dst;
    });
}

dm_object* PowxDM(dm_object* imgA, double fB, dm_object* imgDst)
{
    return ScriptCall(nullptr, [&] {
        const Image a = Image::Borrow(imgA);
        const Image dst = GivenOrCloneOf(imgDst, a);
        PrepareRealDestination(dst, imgDst != nullptr, {&a});
        CheckHoldsAsMany(a, dst);
        const auto powx = [&]<class T>(const tarn::dm::image<T>& s, tarn::dm::image<T>& d) {
            Powx(s, static_cast<T>(fB), d);
        };
        if (ImageGetDataType(dst) == tarn::dm::kReal4)
            RunOnViews<float, float>(powx, a, dst);
        else
            RunOnViews<double, double>(powx, a, dst);
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
        const Image out1 = GivenOrCloneOf(*first, src);
        const Image out2 = GivenOrCloneOf(*second, src);
        SameShape(src, out1);
        SameShape(src, out2);
        const std::uint32_t code = ImageGetDataType(src);
        if (ImageGetDataType(out1) != code || ImageGetDataType(out2) != code)
            throw std::runtime_error(message::kAllSameType);
        if (code == tarn::dm::kReal8) {
            RunOnViews<double, double>(runDouble, src, out1, out2);
        } else {
            if (code != tarn::dm::kReal4) {
                if (!IsIntegerOrBinary(src)) ThrowNotReal();
                // The outputs share the source's integer type: they get Real 4 storage first.
                ConvertToFloat(out1);
                if (!(out2 == out1)) ConvertToFloat(out2);
            }
            RunOnViews<float, float>(runFloat, src, out1, out2);
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
