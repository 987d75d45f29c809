// The operation table and the rules of type, precision, conversion and
// destination, decided once for every element-wise function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "ImageUtility.h"
#include "VmlOperations.h"
#include "mkl_vml.h"

namespace zep::vml {

using Gatan::DM::Image;

enum class Family { R, B, C };  // real only, real or complex, complex only
enum class Path { Real, Complex };

// One operation's routines per precision; null where it has none.
struct UnaryOperation {
    const char* nameAndArguments;  // as registered: "Sqrt(ImageRef imgSrc, ImageRef imgDst)"
    Family family;
    void (*s)(MKL_INT, const float*, float*);
    void (*d)(MKL_INT, const double*, double*);
    void (*c)(MKL_INT, const MKL_Complex8*, MKL_Complex8*);
    void (*z)(MKL_INT, const MKL_Complex16*, MKL_Complex16*);
};
struct BinaryOperation {
    const char* nameAndArguments;
    Family family;
    void (*s)(MKL_INT, const float*, const float*, float*);
    void (*d)(MKL_INT, const double*, const double*, double*);
    void (*c)(MKL_INT, const MKL_Complex8*, const MKL_Complex8*, MKL_Complex8*);
    void (*z)(MKL_INT, const MKL_Complex16*, const MKL_Complex16*, MKL_Complex16*);
};

// How many operations each list of VmlOperations.h holds, counted from the
// list itself, so that the tables below can neither lose a row nor gain an
// empty one.
#define ZEP_VML_COUNT_ONE(op, family) +1
inline constexpr std::size_t kUnaryOperationCount = 0 ZEP_VML_UNARY_OPERATIONS(ZEP_VML_COUNT_ONE);
inline constexpr std::size_t kBinaryOperationCount = 0 ZEP_VML_BINARY_OPERATIONS(ZEP_VML_COUNT_ONE);
#undef ZEP_VML_COUNT_ONE

// The operations in registration order, one row per entry of the lists.
extern const UnaryOperation kUnaryOperations[kUnaryOperationCount];
extern const BinaryOperation kBinaryOperations[kBinaryOperationCount];

// --- rules -----------------------------------------------------------------------

// The pixels of an image, all dimensions.
std::int64_t PixelCount(const Image& image);

// Refuses an image holding fewer pixels than `first` (message::kDifferentSizes).
void CheckHoldsAsMany(const Image& first, const Image& other);

// A clone of the image converted to the data type `code` (Real 4, Real 8,
// Complex 8 or Complex 16) by the host's conversions.
Image ConvertedClone(const Image& image, std::uint32_t code);

// The image itself when it has the data type `code`, else ConvertedClone.
Image ConvertedTo(const Image& image, std::uint32_t code);

// The data type of pixels of type P (float, double and their complex).
template <class P>
inline constexpr std::uint32_t kDataTypeOf =
    std::is_floating_point_v<P> ? (sizeof(P) == 4 ? tarn::dm::kReal4 : tarn::dm::kReal8)
                                : (sizeof(P) == 8 ? tarn::dm::kComplex8 : tarn::dm::kComplex16);

bool IsReal(const Image& image);             // Real 4 or Real 8
bool IsIntegerOrBinary(const Image& image);

// The typed applications: the destination's type decides the precision
// (on the real path Real 4 or Real 8, else message::kShouldBeReal; on the
// complex path Complex 8 or Complex 16, else message::kShouldBeComplex);
// sources of another type are read from converted copies.
void Apply(const UnaryOperation& op, Path path, const Image& src, const Image& dst);
void Apply(const BinaryOperation& op, Path path, const Image& a, const Image& b, const Image& dst);

}  // namespace zep::vml
