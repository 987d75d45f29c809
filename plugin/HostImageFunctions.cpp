#include "HostImageFunctions.h"

#include <vector>

#include "Errors.h"
#include "HostLink.h"

namespace Gatan::DM {
namespace {

using PlugIn::HostFunction;
using PlugIn::MakeString;

// Booleans cross the boundary as one byte.
bool AsBool(std::uint8_t value) { return value != 0; }

}  // namespace

Image ComplexImage(std::string_view name, std::int32_t bytes, std::int32_t width)
{
    static HostFunction f("ComplexImagePtr ComplexImage( string, long, long )");
    return Image::Adopt(f.Call<dm_object*>(MakeString(name).get(), bytes, width));
}

Image ComplexImage(std::string_view name, std::int32_t bytes, std::int32_t width, std::int32_t height)
{
    static HostFunction f("ComplexImagePtr ComplexImage( string, long, long, long )");
    return Image::Adopt(f.Call<dm_object*>(MakeString(name).get(), bytes, width, height));
}

Image ComplexImage(std::string_view name, std::int32_t bytes, std::int32_t width, std::int32_t height,
                   std::int32_t depth)
{
    static HostFunction f("ComplexImagePtr ComplexImage( string, long, long, long, long )");
    return Image::Adopt(f.Call<dm_object*>(MakeString(name).get(), bytes, width, height, depth));
}

Image RealImage(std::string_view name, std::uint32_t bytes, std::uint32_t width)
{
    static HostFunction f("RealImagePtr RealImage( dm_string, uint32, uint32 )");
    return Image::Adopt(f.Call<dm_object*>(MakeString(name).get(), bytes, width));
}

Image RealImage(std::string_view name, std::uint32_t bytes, std::uint32_t width, std::uint32_t height)
{
    static HostFunction f("RealImagePtr RealImage( dm_string, uint32, uint32, uint32 )");
    return Image::Adopt(f.Call<dm_object*>(MakeString(name).get(), bytes, width, height));
}

Image RealImage(std::string_view name, std::uint32_t bytes, std::uint32_t width, std::uint32_t height,
                std::uint32_t depth)
{
    static HostFunction f("RealImagePtr RealImage( dm_string, uint32, uint32, uint32, uint32 )");
    return Image::Adopt(f.Call<dm_object*>(MakeString(name).get(), bytes, width, height, depth));
}

Image NewImage(std::string_view name, std::uint32_t dataType, std::uint32_t num_dim, const std::uint32_t* sizes)
{
    ZEP_ASSERT(num_dim <= kMaxDim);
    static HostFunction f("BasicImage NewImage( dm_string, uint32, uint32... )");
    String nameString = MakeString(name);
    dm_object* nameObject = nameString.get();
    std::uint32_t sizeCopy[kMaxDim];
    std::vector<void*> argv = {&nameObject, &dataType, &num_dim};
    for (std::uint32_t d = 0; d < num_dim; ++d) {
        sizeCopy[d] = sizes[d];
        argv.push_back(&sizeCopy[d]);
    }
    dm_object* image = nullptr;
    f.Invoke(&image, argv.data(), static_cast<int>(argv.size()));
    return Image::Adopt(image);
}

Image ImageClone(const Image& image)
{
    static HostFunction f("ImageRef ImageClone( ImageRef )");
    return Image::Adopt(f.Call<dm_object*>(image.get()));
}

void ConvertImageData(const Image& source, const Image& target)
{
    static HostFunction f("void ConvertImageData( ImageRef, ImageRef )");
    f.Call<void>(source.get(), target.get());
}

void ConvertToComplex(const Image& image)
{
    static HostFunction f("void ConvertToComplex( ImageRef )");
    f.Call<void>(image.get());
}

void ConvertToFloat(const Image& image)
{
    static HostFunction f("void ConvertToFloat( ImageRef )");
    f.Call<void>(image.get());
}

void ImageChangeDataType(const Image& image, std::uint32_t dataType)
{
    static HostFunction f("void ImageChangeDataType( BasicImage, uint32 )");
    f.Call<void>(image.get(), dataType);
}

std::int16_t GetDataType(const Image& image)
{
    static HostFunction f("short GetDataType( ImageRef )");
    return f.Call<std::int16_t>(image.get());
}

std::uint32_t ImageGetDataType(const Image& image)
{
    static HostFunction f("uint32 ImageGetDataType( ImageRef )");
    return f.Call<std::uint32_t>(image.get());
}

std::uint32_t ImageGetDataElementByteSize(const Image& image)
{
    static HostFunction f("uint32 ImageGetDataElementByteSize( ImageRef )");
    return f.Call<std::uint32_t>(image.get());
}

bool IsComplexDataType(const Image& image, std::int32_t bytes)
{
    static HostFunction f("Boolean IsComplexDataType( ImageRef, long )");
    return AsBool(f.Call<std::uint8_t>(image.get(), bytes));
}

bool IsRealDataType(const Image& image, std::int32_t bytes)
{
    static HostFunction f("Boolean IsRealDataType( ImageRef, long )");
    return AsBool(f.Call<std::uint8_t>(image.get(), bytes));
}

bool ImageIsDataTypeBinary(const Image& image)
{
    static HostFunction f("Boolean ImageIsDataTypeBinary( ImageRef )");
    return AsBool(f.Call<std::uint8_t>(image.get()));
}

bool ImageIsDataTypeComplex(const Image& image)
{
    static HostFunction f("Boolean ImageIsDataTypeComplex( ImageRef )");
    return AsBool(f.Call<std::uint8_t>(image.get()));
}

bool ImageIsDataTypeInteger(const Image& image)
{
    static HostFunction f("Boolean ImageIsDataTypeInteger( ImageRef )");
    return AsBool(f.Call<std::uint8_t>(image.get()));
}

void GetSize(const Image& image, std::int32_t* width, std::int32_t* height)
{
    static HostFunction f("void GetSize( ImageRef, long *, long * )");
    f.Call<void>(image.get(), width, height);
}

std::uint32_t ImageGetDimensionSize(const Image& image, std::uint32_t dimension)
{
    static HostFunction f("uint32 ImageGetDimensionSize( ImageRef, uint32 )");
    return f.Call<std::uint32_t>(image.get(), dimension);
}

std::uint32_t ImageGetNumDimensions(const Image& image)
{
    static HostFunction f("uint32 ImageGetNumDimensions( ImageRef )");
    return f.Call<std::uint32_t>(image.get());
}

std::string GetName(const Image& image)
{
    static HostFunction f("dm_string GetName( ImageRef )");
    return PlugIn::StringText(String::Adopt(f.Call<dm_object*>(image.get())));
}

DimensionCalibration ImageGetDimensionCalibration(const Image& image, std::int32_t dimension)
{
    static HostFunction f("void ImageGetDimensionCalibration( ImageRef, long, float *, float *, dm_string *, long )");
    DimensionCalibration calibration;
    dm_object* units = nullptr;
    f.Call<void>(image.get(), dimension, &calibration.origin, &calibration.scale, &units, std::int32_t{1});
    calibration.units = PlugIn::StringText(String::Adopt(units));
    return calibration;
}

void ImageSetDimensionCalibration(const Image& image, std::int32_t dimension, const DimensionCalibration& calibration)
{
    static HostFunction f("void ImageSetDimensionCalibration( ImageRef, long, float, float, dm_string, long )");
    String units = MakeString(calibration.units);
    f.Call<void>(image.get(), dimension, calibration.origin, calibration.scale, units.get(), std::int32_t{1});
}

TagGroup ImageGetTagGroup(const Image& image)
{
    static HostFunction f("TagGroup ImageGetTagGroup( ImageRef )");
    return TagGroup::Adopt(f.Call<dm_object*>(image.get()));
}

TagGroup NewTagGroup()
{
    static HostFunction f("TagGroup NewTagGroup(  )");
    return TagGroup::Adopt(f.Call<dm_object*>());
}

void TagGroupCopyTagsFrom(const TagGroup& target, const TagGroup& source)
{
    static HostFunction f("void TagGroupCopyTagsFrom( TagGroup, TagGroup )");
    f.Call<void>(target.get(), source.get());
}

void ImageDataChanged(const Image& image)
{
    static HostFunction f("void ImageDataChanged( ImageRef )");
    f.Call<void>(image.get());
}

ScriptObject ImageGetLockedData(const Image& image, std::uint32_t flags)
{
    static HostFunction f("ScriptObject ImageGetLockedData( BasicImage, ulong, ScriptObject )");
    dm_object* noSlice = nullptr;
    return ScriptObject::Adopt(f.Call<dm_object*>(image.get(), flags, noSlice));
}

void ExtractImageDataSequenceFromScriptObjectOrFail(const ScriptObject& lockedData, void* record)
{
    static HostFunction f("void ExtractImageDataSequenceFromScriptObjectOrFail( ScriptObject, void * )");
    f.Call<void>(lockedData.get(), record);
}

void Result(std::string_view text)
{
    static HostFunction f("void Result( dm_string )");
    f.Call<void>(MakeString(text).get());
}

void ShowAlert(std::string_view text, std::int32_t kind)
{
    static HostFunction f("void ShowAlert( dm_string, long )");
    f.Call<void>(MakeString(text).get(), kind);
}

}  // namespace Gatan::DM
