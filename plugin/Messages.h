// The plug-in's fixed messages: every text a script can see when a call
// fails, written once and grouped by what went wrong.
//
// Scripts compare these texts exactly, so each must stay byte for byte as
// it stands (capitals, spelling and the final full stop included); a change
// here changes what every script sees. Texts with a variable part are built
// by the functions at the end, whose fixed parts live only there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace zep::message {

// --- the frame: host link, plug-in start-up, error reporting ---------------------

inline constexpr char kHostTooOld[] = "This plugin requires DM 3.10.0 or later.";
inline constexpr char kNotLinked[] = "The plug-in is not linked to a host.";
inline constexpr char kNoFunctionRegistry[] = "The host offers no function registry.";
inline constexpr char kNoStrings[] = "The host offers no strings.";
inline constexpr char kHostCallFailed[] = "A host call failed.";
inline constexpr char kUnspecified[] = "An unspecified error has occurred.";

// --- pixels handed over by the host ------------------------------------------------

inline constexpr char kNotLocked[] = "The host did not lock the image's pixels.";
inline constexpr char kNotDense[] = "The host handed over pixels that are not dense.";
inline constexpr char kMoreThanFourDimensions[] = "Images of more than four dimensions cannot appear in this function.";

// --- sizes and shapes ----------------------------------------------------------------

inline constexpr char kDifferentSizes[] = "Images of different size cannot appear in this function.";
inline constexpr char kInvalidImageSize[] = "Invalid image size.";
inline constexpr char kUpTo2D[] = "Dimension support is up to 2D now.";
inline constexpr char kUpTo3D[] = "Dimension support is up to 3D now.";
inline constexpr char kSubareasOverlap[] = "Subareas belonging to the same image cannot overlap.";
inline constexpr char kOddDimensionSize[] = "Image dimension sizes should be even.";
inline constexpr char kPeriodNotPositive[] = "Periods of shifted axes should be positive.";
inline constexpr char kCentreOutside[] = "The centre (nCX, nCY, nCZ) must lie inside the image.";
inline constexpr char kWarpTooLarge[] = "The warped image would be too large.";
inline constexpr char kLinearCoefficientsSize[] = "Size of imgCoefs should be 3x1.";
inline constexpr char kAffineCoefficientsSize[] = "Size of imgCoefs should be 3x2.";

// --- data types ----------------------------------------------------------------------

inline constexpr char kInvalidDataType[] = "Invalid data type.";
inline constexpr char kInvalidImageType[] = "Invalid image type.";
inline constexpr char kDifferentTypes[] = "Images of different type.";
inline constexpr char kAllSameType[] = "All data type should be same.";
inline constexpr char kAllSameComplex[] = "All data type should be same Complex.";
inline constexpr char kAllComplex8[] = "All data type should be Complex 8.";
inline constexpr char kAllComplex8Or16[] = "All data type should be Complex 8 or Complex 16.";
inline constexpr char kAllReal[] = "All data type should be Real.";
inline constexpr char kAllReal4Or8[] = "All data type should be Real 4 or Real 8.";
inline constexpr char kAllStatisticsTypes[] = "All data type should be Integer 1, Integer 2, Real 4 or Real 8.";
inline constexpr char kShouldBeReal[] = "Data type should be Real.";
inline constexpr char kShouldBeComplex[] = "Data type should be Complex.";
inline constexpr char kShouldBeBinaryIntegerOrReal[] = "Data type should be Binary, Integer or Real.";
inline constexpr char kDestinationShouldBeReal[] = "Data type of imgDst should be Real.";
inline constexpr char kMaskImagesComplex[] = "cimTarg, cimRef and cimDst should be Complex.";
inline constexpr char kCoefficientsReal8[] = "Data type of imgCoefs should be Real 8.";
// The warps' own wording, without a full stop.
inline constexpr char kLinearWarpTypes[] = "Image type not supported, it must be REAL4 or COMPLEX";
inline constexpr char kAffineWarpTypes[] = "Image type not supported, it must be REAL";

// --- other arguments -----------------------------------------------------------------

inline constexpr char kDestinationMissing[] = "The destination image must be given.";
inline constexpr char kBadUplo[] = "'uplo' should be 'U' or 'L'.";
inline constexpr char kBadKd[] = "'kd' should be at least 0 and less than the size of the matrix.";
inline constexpr char kBadScaleFactors[] = "Scale factors must be finite and greater than zero.";
inline constexpr char kBadOffset[] = "The offset must be finite.";

// --- texts with a variable part ------------------------------------------------------

// "Images of data type Real 4 cannot appear in this function." (a view of
// another element size than its pixels).
inline std::string DataTypeCannotAppear(std::string_view typeName)
{
    return "Images of data type " + std::string(typeName) + " cannot appear in this function.";
}

// "The number of threads must be from 1 to 64."
inline std::string ThreadCountRange(int maximum)
{
    return "The number of threads must be from 1 to " + std::to_string(maximum) + ".";
}

// The host lacks a function the plug-in calls; names its prototype.
inline std::string MissingPrototype(std::string_view prototype)
{
    return "A function of the following prototype can not be found:\n\n" + std::string(prototype);
}

// A solver's non-zero status: "error at .\LUDecomposition(126):3".
inline std::string SolverStatus(const char* source, int line, int info)
{
    return "error at " + std::string(source) + "(" + std::to_string(line) + "):" + std::to_string(info);
}

// An error pair without a text of its own, into `buffer` (cut to fit).
inline int FormatErrorPair(char* buffer, std::size_t size, std::int32_t code, std::intptr_t param)
{
    return std::snprintf(buffer, size, "An error (%d,%lld) has occurred.", code, static_cast<long long>(param));
}

// A failed ZEP_ASSERT, into `buffer` (cut to fit); formats without
// allocating, as it may run when memory is short.
inline int FormatAssertion(char* buffer, std::size_t size, const char* file, long line, const char* expression)
{
    return std::snprintf(buffer, size, "File \"%s\", Line %ld: Assertion \"%s\" Failed!", file, line, expression);
}

}  // namespace zep::message
