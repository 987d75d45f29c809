// The host's image, tag and message functions, as the frames call them.
//
// Each wraps one host function found by its prototype text; a failed call
// throws dmplugin_exception with the host's error. Images and tag groups that
// a function returns are new references held by the returned handle.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "HostObjects.h"

namespace Gatan::DM {

inline constexpr std::uint32_t kMaxDim = 5;  // the most dimensions an image the plug-in makes can have

// --- constructors ---------------------------------------------------------------
Image ComplexImage(std::string_view name, std::int32_t bytes, std::int32_t width);
Image ComplexImage(std::string_view name, std::int32_t bytes, std::int32_t width, std::int32_t height);
Image ComplexImage(std::string_view name, std::int32_t bytes, std::int32_t width, std::int32_t height,
                   std::int32_t depth);
Image RealImage(std::string_view name, std::uint32_t bytes, std::uint32_t width);
Image RealImage(std::string_view name, std::uint32_t bytes, std::uint32_t width, std::uint32_t height);
Image RealImage(std::string_view name, std::uint32_t bytes, std::uint32_t width, std::uint32_t height,
                std::uint32_t depth);
// An image of `dataType` with `num_dim` sizes (at most kMaxDim).
Image NewImage(std::string_view name, std::uint32_t dataType, std::uint32_t num_dim, const std::uint32_t* sizes);
Image ImageClone(const Image& image);

// --- conversions ----------------------------------------------------------------
void ConvertImageData(const Image& source, const Image& target);
void ConvertToComplex(const Image& image);
void ConvertToFloat(const Image& image);
void ImageChangeDataType(const Image& image, std::uint32_t dataType);

// --- data types and sizes ---------------------------------------------------------
std::int16_t GetDataType(const Image& image);
std::uint32_t ImageGetDataType(const Image& image);
std::uint32_t ImageGetDataElementByteSize(const Image& image);
bool IsComplexDataType(const Image& image, std::int32_t bytes);
bool IsRealDataType(const Image& image, std::int32_t bytes);
bool ImageIsDataTypeBinary(const Image& image);
bool ImageIsDataTypeComplex(const Image& image);
bool ImageIsDataTypeInteger(const Image& image);
void GetSize(const Image& image, std::int32_t* width, std::int32_t* height);
std::uint32_t ImageGetDimensionSize(const Image& image, std::uint32_t dimension);
std::uint32_t ImageGetNumDimensions(const Image& image);

// --- name, calibration, tags --------------------------------------------------------
std::string GetName(const Image& image);

struct DimensionCalibration {
    float origin = 0;
    float scale = 1;
    std::string units;
};
DimensionCalibration ImageGetDimensionCalibration(const Image& image, std::int32_t dimension);
void ImageSetDimensionCalibration(const Image& image, std::int32_t dimension, const DimensionCalibration& calibration);
TagGroup ImageGetTagGroup(const Image& image);
TagGroup NewTagGroup();
void TagGroupCopyTagsFrom(const TagGroup& target, const TagGroup& source);
void ImageDataChanged(const Image& image);

// --- pixel locks -------------------------------------------------------------------
ScriptObject ImageGetLockedData(const Image& image, std::uint32_t flags);
void ExtractImageDataSequenceFromScriptObjectOrFail(const ScriptObject& lockedData, void* record);

// --- messages to the user ------------------------------------------------------------
void Result(std::string_view text);
void ShowAlert(std::string_view text, std::int32_t kind);

}  // namespace Gatan::DM
