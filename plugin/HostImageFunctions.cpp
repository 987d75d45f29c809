#include "HostImageFunctions.h"

#include <span>

#include "Errors.h"
#include "HostLink.h"

namespace Gatan::DM {
namespace {

using PlugIn::HostFunction;
namespace HostFn = PlugIn::HostFn;
using PlugIn::MakeString;

// Booleans cross the boundary as one byte.
bool AsBool(std::uint8_t value) { return value != 0; }

}  // namespace

Image ComplexImage(std::string_view name, std::int32_t bytes, std::int32_t width)
{
    static HostFunction<HostFn::ComplexImage1D> f;
    return Image::Adopt(f(MakeString(name).get(), bytes, width));
}

Image ComplexImage(std::string_view name, std::int32_t bytes, std::int32_t width, std::int32_t height)
{
    static HostFunction<HostFn::ComplexImage2D> f;
    return Image::Adopt(f(MakeString(name).get(), bytes, width, height));
}

Image ComplexImage(std::string_view name, std::int32_t bytes, std::int32_t width, std::int32_t height,
                   std::int32_t depth)
{
    static HostFunction<HostFn::ComplexImage3D> f;
    return Image::Adopt(f(MakeString(name).get(), bytes, width, height, depth));
}

Image RealImage(std::string_view name, std::uint32_t bytes, std::uint32_t width)
{
    static HostFunction<HostFn::RealImage1D> f;
    return Image::Adopt(f(MakeString(name).get(), bytes, width));
}

Image RealImage(std::string_view name, std::uint32_t bytes, std::uint32_t width, std::uint32_t height)
{
    static HostFunction<HostFn::RealImage2D> f;
    return Image::Adopt(f(MakeString(name).get(), bytes, width, height));
}

Image RealImage(std::string_view name, std::uint32_t bytes, std::uint32_t width, std::uint32_t height,
                std::uint32_t depth)
{
    static HostFunction<HostFn::RealImage3D> f;
    return Image::Adopt(f(MakeString(name).get(), bytes, width, height, depth));
}

Image NewImage(std::string_view name, std::uint32_t dataType, std::uint32_t num_dim, const std::uint32_t* sizes)
{
    ZEP_ASSERT(num_dim <= kMaxDim);
    static HostFunction<HostFn::NewImage> f;
    return Image::Adopt(f(MakeString(name).get(), dataType, num_dim, std::span(sizes, num_dim)));
}

Image ImageClone(const Image& image)
{
    static HostFunction<HostFn::ImageClone> f;
    return Image::Adopt(f(image.get()));
}

void ConvertImageData(const Image& source, const Image& target)
{
    static HostFunction<HostFn::ConvertImageData> f;
    f(source.get(), target.get());
}

void ConvertToComplex(const Image& image)
{
    static HostFunction<HostFn::ConvertToComplex> f;
    f(image.get());
}

void ConvertToFloat(const Image& image)
{
    static HostFunction<HostFn::ConvertToFloat> f;
    f(image.get());
}

void ImageChangeDataType(const Image& image, std::uint32_t dataType)
{
    static HostFunction<HostFn::ImageChangeDataType> f;
    f(image.get(), dataType);
}

std::int16_t GetDataType(const Image& image)
{
    static HostFunction<HostFn::GetDataType> f;
    return f(image.get());
}

std::uint32_t ImageGetDataType(const Image& image)
{
    static HostFunction<HostFn::ImageGetDataType> f;
    return f(image.get());
}

std::uint32_t ImageGetDataElementByteSize(const Image& image)
{
    static HostFunction<HostFn::ImageGetDataElementByteSize> f;
    return f(image.get());
}

bool IsComplexDataType(const Image& image, std::int32_t bytes)
{
    static HostFunction<HostFn::IsComplexDataType> f;
    return AsBool(f(image.get(), bytes));
}

bool IsRealDataType(const Image& image, std::int32_t bytes)
{
    static HostFunction<HostFn::IsRealDataType> f;
    return AsBool(f(image.get(), bytes));
}

bool ImageIsDataTypeBinary(const Image& image)
{
    static HostFunction<HostFn::ImageIsDataTypeBinary> f;
    return AsBool(f(image.get()));
}

bool ImageIsDataTypeComplex(const Image& image)
{
    static HostFunction<HostFn::ImageIsDataTypeComplex> f;
    return AsBool(f(image.get()));
}

bool ImageIsDataTypeInteger(const Image& image)
{
    static HostFunction<HostFn::ImageIsDataTypeInteger> f;
    return AsBool(f(image.get()));
}

void GetSize(const Image& image, std::int32_t* width, std::int32_t* height)
{
    static HostFunction<HostFn::GetSize> f;
    f(image.get(), width, height);
}

std::uint32_t ImageGetDimensionSize(const Image& image, std::uint32_t dimension)
{
    static HostFunction<HostFn::ImageGetDimensionSize> f;
    return f(image.get(), dimension);
}

std::uint32_t ImageGetNumDimensions(const Image& image)
{
    static HostFunction<HostFn::ImageGetNumDimensions> f;
    return f(image.get());
}

std::string GetName(const Image& image)
{
    static HostFunction<HostFn::GetName> f;
    return PlugIn::StringText(String::Adopt(f(image.get())));
}

DimensionCalibration ImageGetDimensionCalibration(const Image& image, std::int32_t dimension)
{
    static HostFunction<HostFn::ImageGetDimensionCalibration> f;
    DimensionCalibration calibration;
    dm_object* units = nullptr;
    f(image.get(), dimension, &calibration.origin, &calibration.scale, &units, std::int32_t{1});
    calibration.units = PlugIn::StringText(String::Adopt(units));
    return calibration;
}

void ImageSetDimensionCalibration(const Image& image, std::int32_t dimension, const DimensionCalibration& calibration)
{
    static HostFunction<HostFn::ImageSetDimensionCalibration> f;
    String units = MakeString(calibration.units);
    f(image.get(), dimension, calibration.origin, calibration.scale, units.get(), std::int32_t{1});
}

TagGroup ImageGetTagGroup(const Image& image)
{
    static HostFunction<HostFn::ImageGetTagGroup> f;
    return TagGroup::Adopt(f(image.get()));
}

TagGroup NewTagGroup()
{
    static HostFunction<HostFn::NewTagGroup> f;
    return TagGroup::Adopt(f());
}

void TagGroupCopyTagsFrom(const TagGroup& target, const TagGroup& source)
{
    static HostFunction<HostFn::TagGroupCopyTagsFrom> f;
    f(target.get(), source.get());
}

void ImageDataChanged(const Image& image)
{
    static HostFunction<HostFn::ImageDataChanged> f;
    f(image.get());
}

ScriptObject ImageGetLockedData(const Image& image, std::uint32_t flags)
{
    static HostFunction<HostFn::ImageGetLockedData> f;
    dm_object* noSlice = nullptr;
    return ScriptObject::Adopt(f(image.get(), flags, noSlice));
}

void ExtractImageDataSequenceFromScriptObjectOrFail(const ScriptObject& lockedData, void* record)
{
    static HostFunction<HostFn::ExtractImageDataSequence> f;
    f(lockedData.get(), record);
}

void Result(std::string_view text)
{
    static HostFunction<HostFn::Result> f;
    f(MakeString(text).get());
}

void ShowAlert(std::string_view text, std::int32_t kind)
{
    static HostFunction<HostFn::ShowAlert> f;
    f(MakeString(text).get(), kind);
}

}  // namespace Gatan::DM
