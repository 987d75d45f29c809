#include "ElementwiseRules.h"

#include <complex>
#include <stdexcept>

#include "ImageBlocks.h"
#include "KernelMessages.h"
#include "Messages.h"
#include "VmlOperations.h"
#include "lumadex/kernels/Elementwise.h"

namespace zep::vml {

namespace {

#define ZEP_VML_UNARY_ARGUMENTS_R "(ImageRef imgSrc, ImageRef imgDst)"
#define ZEP_VML_UNARY_ARGUMENTS_B "(ImageRef imgSrc, ImageRef imgDst)"
#define ZEP_VML_UNARY_ARGUMENTS_C "(ComplexImagePtr imgSrc, ComplexImagePtr imgDst)"
#define ZEP_VML_BINARY_ARGUMENTS_R "(ImageRef imgA, ImageRef imgB, ImageRef imgDst)"
#define ZEP_VML_BINARY_ARGUMENTS_B "(ImageRef imgA, ImageRef imgB, ImageRef imgDst)"
#define ZEP_VML_BINARY_ARGUMENTS_C "(ComplexImagePtr imgA, ComplexImagePtr imgB, ComplexImagePtr imgDst)"
#define ZEP_VML_KERNELS_R(op) vs##op, vd##op, nullptr, nullptr
#define ZEP_VML_KERNELS_B(op) vs##op, vd##op, vc##op, vz##op
#define ZEP_VML_KERNELS_C(op) nullptr, nullptr, vc##op, vz##op

// The pixel type of a view for a routine's element type.
template <class T>
struct PixelOf {
    using type = T;
};
template <>
struct PixelOf<MKL_Complex8> {
    using type = std::complex<float>;
};
template <>
struct PixelOf<MKL_Complex16> {
    using type = std::complex<double>;
};
template <class T>
using Pixel = typename PixelOf<T>::type;

template <class T>
void Run(void (*routine)(MKL_INT, const T*, T*), const Image& src, const Image& dst)
{
    const tarn::dm::image<Pixel<T>> a(src, tarn::dm::kLockInPlace);
    tarn::dm::image<Pixel<T>> r(dst, tarn::dm::kLockInPlace);
    WithKernelMessages([&] { lumadex::kernels::Map<Pixel<T>>(routine, BlockOf(a), BlockOf(r)); });
}

template <class T>
void Run(void (*routine)(MKL_INT, const T*, const T*, T*), const Image& srcA, const Image& srcB, const Image& dst)
{
    const tarn::dm::image<Pixel<T>> a(srcA, tarn::dm::kLockInPlace), b(srcB, tarn::dm::kLockInPlace);
    tarn::dm::image<Pixel<T>> r(dst, tarn::dm::kLockInPlace);
    WithKernelMessages([&] { lumadex::kernels::Map<Pixel<T>>(routine, BlockOf(a), BlockOf(b), BlockOf(r)); });
}

std::uint32_t PrecisionOf(const Image& dst, Path path)
{
    const std::uint32_t code = Gatan::DM::ImageGetDataType(dst);
    if (path == Path::Real) {
        if (code != tarn::dm::kReal4 && code != tarn::dm::kReal8)
            throw std::runtime_error(message::kShouldBeReal);
    } else if (code != tarn::dm::kComplex8 && code != tarn::dm::kComplex16) {
        throw std::runtime_error(message::kShouldBeComplex);
    }
    return code;
}

// Calls `run` with the kernel of precision `code` of an operation.
template <class Operation, class Runner>
void WithKernel(const Operation& op, std::uint32_t code, Runner&& run)
{
    switch (code) {
    case tarn::dm::kReal4: return run(op.s);
    case tarn::dm::kReal8: return run(op.d);
    case tarn::dm::kComplex8: return run(op.c);
    default: return run(op.z);
    }
}

}  // namespace

#define ZEP_VML_UNARY_ROW(op, family) {#op ZEP_VML_UNARY_ARGUMENTS_##family, Family::family, ZEP_VML_KERNELS_##family(op)},
#define ZEP_VML_BINARY_ROW(op, family) \
    {#op ZEP_VML_BINARY_ARGUMENTS_##family, Family::family, ZEP_VML_KERNELS_##family(op)},
const UnaryOperation kUnaryOperations[kUnaryOperationCount] = {ZEP_VML_UNARY_OPERATIONS(ZEP_VML_UNARY_ROW)};
const BinaryOperation kBinaryOperations[kBinaryOperationCount] = {ZEP_VML_BINARY_OPERATIONS(ZEP_VML_BINARY_ROW)};

// The script functions of the element-wise block are named by these lists:
// 36 with one operand and 8 with two, registered in this order.
static_assert(kUnaryOperationCount == 36 && kBinaryOperationCount == 8);

std::int64_t PixelCount(const Image& image)
{
    std::int64_t count = 1;
    const std::uint32_t dims = Gatan::DM::ImageGetNumDimensions(image);
    for (std::uint32_t d = 0; d < dims; ++d) count *= Gatan::DM::ImageGetDimensionSize(image, d);
    return count;
}

void CheckHoldsAsMany(const Image& first, const Image& other)
{
    if (PixelCount(other) < PixelCount(first))
        throw std::runtime_error(message::kDifferentSizes);
}

Image ConvertedTo(const Image& image, std::uint32_t code)
{
    if (Gatan::DM::ImageGetDataType(image) == code) return image;
    return ConvertedClone(image, code);
}

Image ConvertedClone(const Image& image, std::uint32_t code)
{
    Image copy = Gatan::DM::ImageClone(image);
    switch (code) {
    case tarn::dm::kReal4: Gatan::DM::ConvertToFloat(copy); break;
    case tarn::dm::kComplex8: Gatan::DM::ConvertToComplex(copy); break;
    default: Gatan::DM::ImageChangeDataType(copy, code); break;
    }
    return copy;
}

bool IsReal(const Image& image)
{
    const std::uint32_t code = Gatan::DM::ImageGetDataType(image);
    return code == tarn::dm::kReal4 || code == tarn::dm::kReal8;
}

bool IsIntegerOrBinary(const Image& image)
{
    return Gatan::DM::ImageIsDataTypeInteger(image) || Gatan::DM::ImageIsDataTypeBinary(image);
}

void Apply(const UnaryOperation& op, Path path, const Image& src, const Image& dst)
{
    const std::uint32_t code = PrecisionOf(dst, path);
    CheckHoldsAsMany(src, dst);
    const Image a = ConvertedTo(src, code);
    WithKernel(op, code, [&](auto kernel) { Run(kernel, a, dst); });
}

void Apply(const BinaryOperation& op, Path path, const Image& srcA, const Image& srcB, const Image& dst)
{
    const std::uint32_t code = PrecisionOf(dst, path);
    CheckHoldsAsMany(srcA, srcB);
    CheckHoldsAsMany(srcA, dst);
    const Image a = ConvertedTo(srcA, code);
    const Image b = ConvertedTo(srcB, code);
    WithKernel(op, code, [&](auto kernel) { Run(kernel, a, b, dst); });
}

// --- library entry points on host handles ------------------------------------------

namespace {

void RequireDestination(const Image& dst)
{
    if (!dst) throw std::runtime_error(message::kDestinationMissing);
}

Path LibraryPath(Family family, const Image& dst)
{
    if (family == Family::B) return Gatan::DM::ImageIsDataTypeComplex(dst) ? Path::Complex : Path::Real;
    return family == Family::C ? Path::Complex : Path::Real;
}

}  // namespace

#define ZEP_VML_DEFINE_UNARY(op, family)                                            \
    Image ZEP_VML_ENTRY_NAME(op, family)(Image src, Image dst)                      \
    {                                                                               \
        static constexpr UnaryOperation operation = {"", Family::family, ZEP_VML_KERNELS_##family(op)}; \
        RequireDestination(dst);                                                    \
        Apply(operation, LibraryPath(Family::family, dst), src, dst);               \
        return dst;                                                                 \
    }
ZEP_VML_UNARY_OPERATIONS(ZEP_VML_DEFINE_UNARY)

#define ZEP_VML_DEFINE_BINARY(op, family)                                                      \
    Image ZEP_VML_ENTRY_NAME(op, family)(Image a, Image b, Image dst)                          \
    {                                                                                          \
        static constexpr BinaryOperation operation = {"", Family::family, ZEP_VML_KERNELS_##family(op)}; \
        RequireDestination(dst);                                                               \
        Apply(operation, LibraryPath(Family::family, dst), a, b, dst);                         \
        return dst;                                                                            \
    }
ZEP_VML_BINARY_OPERATIONS(ZEP_VML_DEFINE_BINARY)

}  // namespace zep::vml
