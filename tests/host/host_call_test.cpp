// The host's C side, called as a plug-in calls it: the link object, class
// tables, host call interface and the host functions found by prototype.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <vector>

#include "abi_helpers.h"
#include "dm/host_functions.h"

namespace lumadex::host {
namespace {

using testing::Abi;
using testing::live_total;

// The prototype texts of the list in abi/dm/host_functions.h, by id.
#define LUMADEX_TEST_PROTOTYPE(ID, PROTOTYPE, RESULT, PARAMETERS) constexpr const char* k##ID = PROTOTYPE;
DM_HOST_FUNCTIONS(LUMADEX_TEST_PROTOTYPE)
#undef LUMADEX_TEST_PROTOTYPE
constexpr const char* kDimensionSize = kImageGetDimensionSize;
constexpr const char* kChangeType = kImageChangeDataType;

template <class T>
Image image_of(Host& host, DataType type, const std::vector<T>& values)
{
    const std::int64_t sizes[] = {static_cast<std::int64_t>(values.size())};
    Image image = host.new_image("values", type, sizes);
    image.write_pixels(values.data(), values.size() * sizeof(T));
    return image;
}

TEST(LinkObject, VersionClassTablesAndStrings)
{
    Host host(0x030A0000u);
    Abi abi(host);
    EXPECT_EQ(abi.link->vtbl->host_version(abi.link), 0x030A0000u);
    host.set_version(0x0309FFFFu);
    EXPECT_EQ(abi.link->vtbl->host_version(abi.link), 0x0309FFFFu);

    for (const char* id : {DM_CLASS_STRING, DM_CLASS_IMAGE}) {
        const dm_class_table* table = abi.link->vtbl->class_table(abi.link, 0, id);
        ASSERT_NE(table, nullptr) << id;
        EXPECT_STREQ(table->class_id(), id);
        EXPECT_NE(table->add_ref, nullptr);
        EXPECT_NE(table->release, nullptr);
    }
    EXPECT_EQ(abi.link->vtbl->class_table(abi.link, 0, "Gatan:DigitalMicrograph:Nothing"), nullptr);

    // Slot 6 and 7 count references; a table refuses objects of another class.
    const dm_class_table* images = abi.link->vtbl->class_table(abi.link, 0, DM_CLASS_IMAGE);
    const dm_class_table* strings = abi.link->vtbl->class_table(abi.link, 0, DM_CLASS_STRING);
    const std::int64_t sizes[] = {2};
    dm_object* image = host.new_image("i", DataType::Real4, sizes).release();
    images->add_ref(image);
    images->release(image);
    strings->release(image);  // wrong class: ignored
    EXPECT_EQ(live_total(host), 1);
    images->release(image);
    EXPECT_EQ(live_total(host), 0);

    dm_object* text = abi.string("héllo").release();
    char buffer[4];
    EXPECT_EQ(strings->string_text(text, buffer, sizeof buffer), 6);
    EXPECT_STREQ(buffer, "hé");  // 3 bytes kept, then the terminator
    strings->release(text);
    EXPECT_EQ(live_total(host), 0);
}

TEST(HostFunctions, ConversionRules)
{
    Host host;
    Abi abi(host);
    const double nan = std::numeric_limits<double>::quiet_NaN();

    // Real to integer: rounded to nearest, saturated; NaN gives 0.
    Image to_int8 = image_of<double>(host, DataType::Real8, {-1.5, 2.5, 300.7, -1e10, nan, 0.49});
    ASSERT_EQ(abi.call(kChangeType, nullptr, to_int8.get(), 9u), DM_STATUS_OK);
    EXPECT_EQ(to_int8.pixels<std::int8_t>(), (std::vector<std::int8_t>{-2, 3, 127, -128, 0, 0}));

    Image to_uint16 = image_of<float>(host, DataType::Real4, {-3.0f, 65535.4f, 70000.0f, 7.5f});
    ASSERT_EQ(abi.call(kChangeType, nullptr, to_uint16.get(), 10u), DM_STATUS_OK);
    EXPECT_EQ(to_uint16.pixels<std::uint16_t>(), (std::vector<std::uint16_t>{0, 65535, 65535, 8}));

    // Complex to real keeps the real part; real to complex has imaginary 0.
    Image complex = image_of<std::complex<float>>(host, DataType::Complex8, {{1.5f, -2.0f}, {-3.0f, 4.0f}});
    Image real = image_of<float>(host, DataType::Real4, {0.0f, 0.0f});
    ASSERT_EQ(abi.call("void ConvertImageData( ImageRef, ImageRef )", nullptr, complex.get(), real.get()),
              DM_STATUS_OK);
    EXPECT_EQ(real.pixels<float>(), (std::vector<float>{1.5f, -3.0f}));
    ASSERT_EQ(abi.call("void ConvertToComplex( ImageRef )", nullptr, real.get()), DM_STATUS_OK);
    EXPECT_EQ(real.data_type(), DataType::Complex8);
    EXPECT_EQ(real.pixels<std::complex<float>>(), (std::vector<std::complex<float>>{{1.5f, 0.0f}, {-3.0f, 0.0f}}));

    // Integers to float exactly; any nonzero value to binary 1.
    Image integers = image_of<std::int32_t>(host, DataType::Int32, {-7, 0, 16777216, 3});
    ASSERT_EQ(abi.call("void ConvertToFloat( ImageRef )", nullptr, integers.get()), DM_STATUS_OK);
    EXPECT_EQ(integers.pixels<float>(), (std::vector<float>{-7.0f, 0.0f, 16777216.0f, 3.0f}));
    ASSERT_EQ(abi.call(kChangeType, nullptr, integers.get(), 14u), DM_STATUS_OK);
    EXPECT_EQ(integers.pixels<std::uint8_t>(), (std::vector<std::uint8_t>{1, 0, 1, 1}));

    // RGB converts to nothing else; unknown codes are refused.
    Image rgb = image_of<std::uint32_t>(host, DataType::RGB, {0x00FF00FFu});
    EXPECT_EQ(abi.call(kChangeType, nullptr, rgb.get(), 2u), DM_STATUS_ERROR);
    EXPECT_NE(abi.take_error().find("Cannot convert RGB data to Real 4."), std::string::npos);
    EXPECT_EQ(abi.call(kChangeType, nullptr, rgb.get(), 5u), DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(), "ImageChangeDataType: 5 is not a data type the host knows.");
    EXPECT_EQ(rgb.pixels<std::uint32_t>(), (std::vector<std::uint32_t>{0x00FF00FFu}));

    // Sizes must match.
    Image three = image_of<float>(host, DataType::Real4, {1, 2, 3});
    EXPECT_EQ(abi.call("void ConvertImageData( ImageRef, ImageRef )", nullptr, complex.get(), three.get()),
              DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(), "ConvertImageData: The images differ in size (2 and 3).");
    EXPECT_EQ(three.pixels<float>(), (std::vector<float>{1, 2, 3}));
}

TEST(HostFunctions, RetypingLockedImagesAndSubareasIsRefused)
{
    Host host;
    Abi abi(host);
    Image image = image_of<float>(host, DataType::Real4, {1, 2, 3, 4});
    {
        PixelLock lock = image.lock(DM_LOCK_DENSE);
        EXPECT_EQ(abi.call("void ConvertToComplex( ImageRef )", nullptr, image.get()), DM_STATUS_ERROR);
        EXPECT_EQ(abi.take_error(),
                  "ConvertToComplex: Cannot change the data type of \"values\" while its pixels are locked.");
    }
    const std::int64_t start[] = {1}, end[] = {3};
    Image area = image.subarea(start, end);
    EXPECT_EQ(abi.call(kChangeType, nullptr, area.get(), 12u), DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(),
              "ImageChangeDataType: Cannot change the data type of \"values\": it is a sub-area of another image.");
    EXPECT_EQ(abi.call(kChangeType, nullptr, image.get(), 12u), DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(),
              "ImageChangeDataType: Cannot change the data type of \"values\" while sub-areas share its pixels.");
    area = Image();
    EXPECT_EQ(abi.call(kChangeType, nullptr, image.get(), 12u), DM_STATUS_OK);
    EXPECT_EQ(image.pixels<double>(), (std::vector<double>{1, 2, 3, 4}));
}

TEST(HostFunctions, BadHandlesAndArgumentsFailWithAPendingError)
{
    Host host;
    Abi abi(host);
    std::int16_t code = 0;
    std::uint32_t size = 0;
    dm_object* null_image = nullptr;

    EXPECT_EQ(abi.call(kGetDataType, &code, null_image), DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(), "GetDataType: argument 1 is a null image.");

    const std::int64_t sizes[] = {3, 2};
    dm_object* dead = host.new_image("dead", DataType::Real4, sizes).get();  // released at once
    EXPECT_EQ(abi.call(kGetDataType, &code, dead), DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(), "GetDataType: argument 1 is not a live image (a dead or foreign handle).");

    TagGroup tags = host.new_tag_group();
    EXPECT_EQ(abi.call(kGetDataType, &code, tags.get()), DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(), "GetDataType: argument 1 is not a live image (a dead or foreign handle).");

    Image image = host.new_image("image", DataType::Real4, sizes);
    EXPECT_EQ(abi.call(kDimensionSize, &size, image.get(), 9u), DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(), "ImageGetDimensionSize: dimension 9 is out of range (an image has at most 5).");

    ObjectHandle name = abi.string("x");
    dm_object* made = nullptr;
    EXPECT_EQ(abi.call("ComplexImagePtr ComplexImage( string, long, long )", &made, name.get(), 8, -4),
              DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(), "ComplexImage: the size -4 along dimension 0 is not between 1 and 2147483647.");
    EXPECT_EQ(abi.call("ComplexImagePtr ComplexImage( string, long, long )", &made, name.get(), 4, 4),
              DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(), "ComplexImage: a complex image has 8 or 16 bytes per element, not 4.");
    EXPECT_EQ(abi.call("RealImagePtr RealImage( dm_string, uint32, uint32, uint32, uint32 )", &made, name.get(), 8u,
                       1u << 20, 1u << 20, 2u),
              DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(), "RealImage: The image would need more than 2^40 bytes.");
    EXPECT_EQ(abi.call("BasicImage NewImage( dm_string, uint32, uint32... )", &made, name.get(), 2u, 3u, 4u, 4u),
              DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(), "NewImage: the dimension count 3 is followed by 2 sizes.");
    EXPECT_EQ(abi.call("BasicImage NewImage( dm_string, uint32, uint32... )", &made, name.get(), 2u, 6u, 1u, 1u, 1u,
                       1u, 1u, 1u),
              DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(), "NewImage: an image has 1 to 5 dimensions, not 6.");
    EXPECT_EQ(made, nullptr);

    float origin = 0, scale = 0;
    dm_object* units = nullptr;
    EXPECT_EQ(abi.call("void ImageGetDimensionCalibration( ImageRef, long, float *, float *, dm_string *, long )",
                       nullptr, image.get(), 2, &origin, &scale, &units, 1),
              DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(),
              "ImageGetDimensionCalibration: dimension 2 is out of range for an image of 2 dimensions.");
    EXPECT_EQ(units, nullptr);

    // Wrong argument count, unknown handle.
    void* one_arg[] = {&null_image};
    EXPECT_EQ(abi.call_interface->vtbl->call_function(abi.call_interface, abi.lookup(kDimensionSize), &size, one_arg,
                                                      1),
              DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(), "ImageGetDimensionSize: it takes 2 arguments, not 1.");
    EXPECT_EQ(abi.take_error(), "");  // cleared
    EXPECT_EQ(live_total(host), 3);   // tags, image, name
}

TEST(HostFunctions, TagsCopiedDeepAndWhatScriptsShow)
{
    Host host;
    Abi abi(host);
    const std::int64_t sizes[] = {4, 3};
    Image image = host.new_image("probe", DataType::Real4, sizes);

    // Tags: set through the host functions, copied deep, replacing by name.
    dm_object* group = nullptr;
    ASSERT_EQ(abi.call("TagGroup ImageGetTagGroup( ImageRef )", &group, image.get()), DM_STATUS_OK);
    TagGroup tags(ObjectHandle::adopt(group));
    ObjectHandle count_path = abi.string("zep__PureFFTDM:Count");
    ObjectHandle ticks_path = abi.string("zep__PureFFTDM:Ticks");
    ASSERT_EQ(abi.call("void TagGroupSetTagAsLong( TagGroup, string, long )", nullptr, tags.get(), count_path.get(),
                       2),
              DM_STATUS_OK);
    ASSERT_EQ(abi.call("void TagGroupSetTagAsDouble( TagGroup, string, double )", nullptr, tags.get(),
                       ticks_path.get(), 0.5),
              DM_STATUS_OK);
    EXPECT_EQ(std::get<std::int32_t>(image.tags().get("zep__PureFFTDM:Count")), 2);
    EXPECT_EQ(std::get<double>(image.tags().get("zep__PureFFTDM:Ticks")), 0.5);

    dm_object* fresh = nullptr;
    ASSERT_EQ(abi.call("TagGroup NewTagGroup(  )", &fresh), DM_STATUS_OK);
    TagGroup copy(ObjectHandle::adopt(fresh));
    copy.set("zep__PureFFTDM", 1);
    copy.set("kept", 7);
    ASSERT_EQ(abi.call("void TagGroupCopyTagsFrom( TagGroup, TagGroup )", nullptr, copy.get(), tags.get()),
              DM_STATUS_OK);
    EXPECT_EQ(copy.size(), 2u);
    EXPECT_EQ(copy.entries()[0].first, "zep__PureFFTDM");
    EXPECT_EQ(std::get<std::int32_t>(copy.get("zep__PureFFTDM:Count")), 2);
    tags.set("zep__PureFFTDM:Count", 5);  // the copy is deep
    EXPECT_EQ(std::get<std::int32_t>(copy.get("zep__PureFFTDM:Count")), 2);
    ASSERT_EQ(abi.call("void TagGroupCopyTagsFrom( TagGroup, TagGroup )", nullptr, copy.get(), copy.get()),
              DM_STATUS_OK);
    EXPECT_EQ(copy.size(), 2u);

    ObjectHandle said = abi.string("said");
    ASSERT_EQ(abi.call("void Result( dm_string )", nullptr, said.get()), DM_STATUS_OK);
    ASSERT_EQ(abi.call("void ShowAlert( dm_string, long )", nullptr, said.get(), 2), DM_STATUS_OK);
    EXPECT_EQ(host.results(), std::vector<std::string>{"said"});
    EXPECT_EQ(host.alerts().at(0), (std::pair<std::string, std::int32_t>{"said", 2}));
}

TEST(HostFunctions, LockedDataRecord)
{
    Host host;
    Abi abi(host);
    const std::int64_t sizes[] = {6, 4};
    Image image = host.new_image("image", DataType::Complex8, sizes);
    const std::int64_t start[] = {1, 2}, end[] = {5, 4};
    Image area = image.subarea(start, end);
    const char* lock_prototype = "ScriptObject ImageGetLockedData( BasicImage, ulong, ScriptObject )";
    const char* extract_prototype = "void ExtractImageDataSequenceFromScriptObjectOrFail( ScriptObject, void * )";

    for (std::uint32_t flags : {DM_LOCK_IN_PLACE, DM_LOCK_DENSE}) {
        dm_object* lock = nullptr;
        dm_object* no_slice = nullptr;
        ASSERT_EQ(abi.call(lock_prototype, &lock, area.get(), flags, no_slice), DM_STATUS_OK);
        ObjectHandle held = ObjectHandle::adopt(lock);
        dm_image_data_sequence record{};
        void* record_address = &record;
        ASSERT_EQ(abi.call(extract_prototype, nullptr, lock, record_address), DM_STATUS_OK);
        EXPECT_EQ(record.num_dims, 2);
        EXPECT_EQ(record.dims[0].size, 4);
        EXPECT_EQ(record.dims[1].size, 2);
        EXPECT_EQ(record.dims[0].stride, 8);
        EXPECT_EQ(record.dims[1].stride, flags == DM_LOCK_IN_PLACE ? 6 * 8 : 4 * 8);
    }

    dm_object* lock = nullptr;
    dm_object* no_slice = nullptr;
    EXPECT_EQ(abi.call(lock_prototype, &lock, image.get(), 3u, no_slice), DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(), "ImageGetLockedData: Unknown lock flags 3 (1 or 32 are known).");
    EXPECT_EQ(abi.call(lock_prototype, &lock, image.get(), 1u, image.get()), DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(), "ImageGetLockedData: locking a slice of an image is not supported.");
    void* record_address = nullptr;
    EXPECT_EQ(abi.call(extract_prototype, nullptr, image.get(), record_address), DM_STATUS_ERROR);
    EXPECT_EQ(abi.take_error(),
              "ExtractImageDataSequenceFromScriptObjectOrFail: argument 1 is not a live locked-data object (a dead "
              "or foreign handle).");
}

// The list's texts are the real host's, byte for byte (double spaces and
// all), and the host answers every one of them.
TEST(HostFunctions, EveryPrototypeOfTheListIsTheRealHostsAndFound)
{
    const std::vector<std::string> real_host = {
        "ComplexImagePtr ComplexImage( string, long, long )",
        "ComplexImagePtr ComplexImage( string, long, long, long )",
        "ComplexImagePtr ComplexImage( string, long, long, long, long )",
        "RealImagePtr RealImage( dm_string, uint32, uint32 )",
        "RealImagePtr RealImage( dm_string, uint32, uint32, uint32 )",
        "RealImagePtr RealImage( dm_string, uint32, uint32, uint32, uint32 )",
        "BasicImage NewImage( dm_string, uint32, uint32... )",
        "ImageRef ImageClone( ImageRef )",
        "void ConvertImageData( ImageRef, ImageRef )",
        "void ConvertToComplex( ImageRef )",
        "void ConvertToFloat( ImageRef )",
        "void ImageChangeDataType( BasicImage, uint32 )",
        "short GetDataType( ImageRef )",
        "uint32 ImageGetDataType( ImageRef )",
        "uint32 ImageGetDataElementByteSize( ImageRef )",
        "Boolean IsComplexDataType( ImageRef, long )",
        "Boolean IsRealDataType( ImageRef, long )",
        "Boolean ImageIsDataTypeBinary( ImageRef )",
        "Boolean ImageIsDataTypeComplex( ImageRef )",
        "Boolean ImageIsDataTypeInteger( ImageRef )",
        "void GetSize( ImageRef, long *, long * )",
        "uint32 ImageGetDimensionSize( ImageRef, uint32 )",
        "uint32 ImageGetNumDimensions( ImageRef )",
        "dm_string GetName( ImageRef )",
        "void ImageGetDimensionCalibration( ImageRef, long, float *, float *, dm_string *, long )",
        "void ImageSetDimensionCalibration( ImageRef, long, float, float, dm_string, long )",
        "void ImageCopyCalibrationFrom( ImageRef, ImageRef )",
        "TagGroup ImageGetTagGroup( ImageRef )",
        "void ImageDataChanged( ImageRef )",
        "ScriptObject ImageGetLockedData( BasicImage, ulong, ScriptObject )",
        "void ExtractImageDataSequenceFromScriptObjectOrFail( ScriptObject, void * )",
        "TagGroup NewTagGroup(  )",
        "void TagGroupCopyTagsFrom( TagGroup, TagGroup )",
        "void TagGroupSetTagAsDouble( TagGroup, string, double )",
        "void TagGroupSetTagAsLong( TagGroup, string, long )",
        "void Result( dm_string )",
        "void ShowAlert( dm_string, long )",
        "Throwable NewThrowableFromString( dm_string )",
    };
#define LUMADEX_TEST_TEXT(ID, PROTOTYPE, RESULT, PARAMETERS) PROTOTYPE,
    const std::vector<std::string> listed = {DM_HOST_FUNCTIONS(LUMADEX_TEST_TEXT)};
#undef LUMADEX_TEST_TEXT
    EXPECT_EQ(listed, real_host);

    Host host;
    Abi abi(host);
    for (const std::string& prototype : listed) EXPECT_NE(abi.lookup(prototype.c_str()), nullptr) << prototype;
}

TEST(HostCallInterface, ErrorPairsPendingErrorsAndStaleHandles)
{
    Host host;
    Abi abi(host);
    dm_host_call* call = abi.call_interface;
    const auto pair_text = [&](std::int32_t code, std::intptr_t param) {
        ObjectHandle throwable = ObjectHandle::adopt(call->vtbl->throwable_from_error(call, code, param));
        return abi.text(throwable.get());
    };
    static const char message[] = "A fixed message.";
    EXPECT_EQ(pair_text(28802, reinterpret_cast<std::intptr_t>(message)), message);
    EXPECT_EQ(pair_text(28803, 0), "An unspecified error has occurred.");
    EXPECT_EQ(pair_text(12345, 7), "An error (12345,7) has occurred.");
    EXPECT_EQ(pair_text(28810, 14), "An error (28810,14) has occurred.");
    EXPECT_EQ(pair_text(-5, -1), "An error (-5,-1) has occurred.");

    // Stale once: the call answers 3, a fresh lookup gives a working handle.
    const std::int64_t sizes[] = {3};
    Image image = host.new_image("i", DataType::Real4, sizes);
    dm_host_function* before = abi.lookup(kGetDataType);
    host.make_stale_once(kGetDataType);
    std::int16_t code = 0;
    dm_object* handle = image.get();
    void* args[] = {&handle};
    EXPECT_EQ(call->vtbl->call_function(call, before, &code, args, 1), DM_STATUS_STALE);
    EXPECT_FALSE(abi.take_error().empty());
    dm_host_function* after = abi.lookup(kGetDataType);
    EXPECT_NE(after, before);
    EXPECT_EQ(call->vtbl->call_function(call, after, &code, args, 1), DM_STATUS_OK);
    EXPECT_EQ(code, 2);

    // A withdrawn prototype is not found until it is restored.
    host.withdraw_prototype(kGetDataType);
    EXPECT_EQ(abi.lookup(kGetDataType), nullptr);
    EXPECT_EQ(call->vtbl->call_function(call, after, &code, args, 1), DM_STATUS_STALE);
    abi.take_error();
    host.restore_prototype(kGetDataType);
    EXPECT_NE(abi.lookup(kGetDataType), nullptr);
    EXPECT_THROW(host.withdraw_prototype("void Nothing( )"), UsageError);
    EXPECT_EQ(live_total(host), 1);
}

}  // namespace
}  // namespace lumadex::host
