// The host functions a plug-in looks up by prototype text, and their
// argument checks. Each reads its arguments with the C types that the
// prototype's words stand for (abi/dm/function_registry.h) and throws
// UsageError on bad input; the caller turns that into a pending Throwable.
#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "dm/image_data.h"
#include "host_state.h"
#include "image_object.h"
#include "tag_group_object.h"

namespace lumadex::host {

// One call of a host function: typed, checked access to its arguments.
struct HostCallArgs {
    HostState& host;
    void* result;
    void* const* args;
    int argc;

    void* slot(int i) const
    {
        if (!args || !args[i]) throw UsageError("argument " + std::to_string(i + 1) + " is missing.");
        return args[i];
    }
    template <class T>
    T value(int i) const
    {
        T v;
        std::memcpy(&v, slot(i), sizeof v);
        return v;
    }
    template <class T>
    T* out(int i) const
    {
        return value<T*>(i);  // may be null: that output is not wanted
    }
    template <class T>
    T& object(int i, const char* what) const
    {
        dm_object* handle = value<dm_object*>(i);
        if (!handle) throw UsageError("argument " + std::to_string(i + 1) + " is a null " + what + ".");
        T* object = object_cast<T>(handle);
        if (!object)
            throw UsageError("argument " + std::to_string(i + 1) + " is not a live " + what +
                             " (a dead or foreign handle).");
        return *object;
    }
    ImageObject& image(int i) const { return object<ImageObject>(i, "image"); }
    TagGroupObject& tag_group(int i) const { return object<TagGroupObject>(i, "tag group"); }
    LockedDataObject& locked_data(int i) const { return object<LockedDataObject>(i, "locked-data object"); }
    // The text of a string argument; a null string is the empty text.
    std::string text(int i) const
    {
        if (!value<dm_object*>(i)) return {};
        return object<StringObject>(i, "string").text;
    }

    template <class T>
    void set_result(T v) const
    {
        if (!result) throw UsageError("there is no storage for the result.");
        std::memcpy(result, &v, sizeof v);
    }
    // Hands one reference to the caller.
    template <class T>
    void set_result(Ref<T> object) const
    {
        set_result<dm_object*>(object.get());
        object.release();
    }
    std::shared_ptr<ObjectBook> book() const { return host.book; }
};

namespace {

using Call = const HostCallArgs&;

// --- image constructors -------------------------------------------------------

std::int64_t checked_size(std::int64_t size, int dim)
{
    if (size < 1 || size > std::numeric_limits<std::int32_t>::max())
        throw UsageError("the size " + std::to_string(size) + " along dimension " + std::to_string(dim) +
                         " is not between 1 and 2147483647.");
    return size;
}

// ComplexImage( string, long, long [, long [, long]] ): name, bytes (8 or 16), sizes.
void complex_image(HostCallArgs& call)
{
    const std::int32_t bytes = call.value<std::int32_t>(1);
    if (bytes != 8 && bytes != 16)
        throw UsageError("a complex image has 8 or 16 bytes per element, not " + std::to_string(bytes) + ".");
    std::vector<std::int64_t> sizes;
    for (int i = 2; i < call.argc; ++i) sizes.push_back(checked_size(call.value<std::int32_t>(i), i - 2));
    call.set_result(make_image(call.book(), call.text(0), bytes == 8 ? DataType::Complex8 : DataType::Complex16,
                               sizes));
}

// RealImage( dm_string, uint32, uint32 [, uint32 [, uint32]] ): name, bytes (4 or 8), sizes.
void real_image(HostCallArgs& call)
{
    const std::uint32_t bytes = call.value<std::uint32_t>(1);
    if (bytes != 4 && bytes != 8)
        throw UsageError("a real image has 4 or 8 bytes per element, not " + std::to_string(bytes) + ".");
    std::vector<std::int64_t> sizes;
    for (int i = 2; i < call.argc; ++i) sizes.push_back(checked_size(call.value<std::uint32_t>(i), i - 2));
    call.set_result(make_image(call.book(), call.text(0), bytes == 4 ? DataType::Real4 : DataType::Real8, sizes));
}

DataType data_type_argument(Call call, int i)
{
    const std::uint32_t code = call.value<std::uint32_t>(i);
    const auto type = data_type_from_code(code);
    if (!type) throw UsageError(std::to_string(code) + " is not a data type the host knows.");
    return *type;
}

// NewImage( dm_string, uint32, uint32... ): name, data type, dimension count, sizes.
void new_image(HostCallArgs& call)
{
    if (call.argc < 3) throw UsageError("it takes a name, a data type, a dimension count and the sizes.");
    const DataType type = data_type_argument(call, 1);
    const std::uint32_t dims = call.value<std::uint32_t>(2);
    if (dims < 1 || dims > static_cast<std::uint32_t>(kMaxDimensions))
        throw UsageError("an image has 1 to 5 dimensions, not " + std::to_string(dims) + ".");
    if (static_cast<std::uint32_t>(call.argc - 3) != dims)
        throw UsageError("the dimension count " + std::to_string(dims) + " is followed by " +
                         std::to_string(call.argc - 3) + " sizes.");
    std::vector<std::int64_t> sizes;
    for (int i = 3; i < call.argc; ++i) sizes.push_back(checked_size(call.value<std::uint32_t>(i), i - 3));
    call.set_result(make_image(call.book(), call.text(0), type, sizes));
}

void image_clone(HostCallArgs& call) { call.set_result(clone_image(call.image(0))); }

// --- data types ---------------------------------------------------------------

void convert_image_data_fn(HostCallArgs& call) { convert_image_data(call.image(0), call.image(1)); }
void convert_to_complex(HostCallArgs& call) { change_data_type(call.image(0), DataType::Complex8); }
void convert_to_float(HostCallArgs& call) { change_data_type(call.image(0), DataType::Real4); }
void image_change_data_type(HostCallArgs& call)
{
    ImageObject& image = call.image(0);
    change_data_type(image, data_type_argument(call, 1));
}

std::uint32_t code_of(const ImageObject& image) { return static_cast<std::uint32_t>(image.type); }

void get_data_type(HostCallArgs& call) { call.set_result(static_cast<std::int16_t>(code_of(call.image(0)))); }
void image_get_data_type(HostCallArgs& call) { call.set_result(code_of(call.image(0))); }
void image_get_data_element_byte_size(HostCallArgs& call)
{
    call.set_result(static_cast<std::uint32_t>(call.image(0).element_bytes()));
}

void set_boolean(Call call, bool value) { call.set_result(static_cast<std::uint8_t>(value ? 1 : 0)); }

void is_complex_data_type(HostCallArgs& call)
{
    const ImageObject& image = call.image(0);
    set_boolean(call, type_kind(image.type) == TypeKind::Complex &&
                          static_cast<std::int64_t>(image.element_bytes()) == call.value<std::int32_t>(1));
}
void is_real_data_type(HostCallArgs& call)
{
    const ImageObject& image = call.image(0);
    set_boolean(call, type_kind(image.type) == TypeKind::Real &&
                          static_cast<std::int64_t>(image.element_bytes()) == call.value<std::int32_t>(1));
}
void is_binary(HostCallArgs& call) { set_boolean(call, type_kind(call.image(0).type) == TypeKind::Binary); }
void is_complex(HostCallArgs& call) { set_boolean(call, type_kind(call.image(0).type) == TypeKind::Complex); }
void is_integer(HostCallArgs& call) { set_boolean(call, type_kind(call.image(0).type) == TypeKind::Integer); }

// --- sizes, names, calibrations -------------------------------------------------

void get_size(HostCallArgs& call)
{
    const ImageObject& image = call.image(0);
    auto* width = call.out<std::int32_t>(1);
    auto* height = call.out<std::int32_t>(2);
    if (width) *width = static_cast<std::int32_t>(image.size(0));
    if (height) *height = static_cast<std::int32_t>(image.size(1));
}

void image_get_dimension_size(HostCallArgs& call)
{
    const ImageObject& image = call.image(0);
    const std::uint32_t dim = call.value<std::uint32_t>(1);
    if (dim >= static_cast<std::uint32_t>(kMaxDimensions))
        throw UsageError("dimension " + std::to_string(dim) + " is out of range (an image has at most 5).");
    call.set_result(static_cast<std::uint32_t>(image.size(static_cast<int>(dim))));
}

void image_get_num_dimensions(HostCallArgs& call)
{
    call.set_result(static_cast<std::uint32_t>(call.image(0).num_dims));
}

void get_name(HostCallArgs& call)
{
    call.set_result(make_object<StringObject>(call.book(), call.image(0).name));
}

int calibrated_dimension(Call call, const ImageObject& image)
{
    const std::int32_t dim = call.value<std::int32_t>(1);
    if (dim < 0 || dim >= image.num_dims)
        throw UsageError("dimension " + std::to_string(dim) + " is out of range for an image of " +
                         std::to_string(image.num_dims) + " dimensions.");
    return dim;
}

// The last argument (1 for calibrated units) is accepted and not used: the
// host keeps one calibration per dimension.
void image_get_dimension_calibration(HostCallArgs& call)
{
    const ImageObject& image = call.image(0);
    const Calibration& calibration = image.calibrations[calibrated_dimension(call, image)];
    auto* origin = call.out<float>(2);
    auto* scale = call.out<float>(3);
    auto* units = call.out<dm_object*>(4);
    Ref<StringObject> units_text;
    if (units) units_text = make_object<StringObject>(call.book(), calibration.units);
    if (origin) *origin = calibration.origin;
    if (scale) *scale = calibration.scale;
    if (units) *units = units_text.release();
}

void image_set_dimension_calibration(HostCallArgs& call)
{
    ImageObject& image = call.image(0);
    const int dim = calibrated_dimension(call, image);
    Calibration calibration{call.value<float>(2), call.value<float>(3), call.text(4)};
    image.calibrations[dim] = std::move(calibration);
}

// (target, source): the calibrations of the dimensions both images have.
void image_copy_calibration_from(HostCallArgs& call)
{
    ImageObject& target = call.image(0);
    const ImageObject& source = call.image(1);
    const int dims = std::min(target.num_dims, source.num_dims);
    std::copy(source.calibrations, source.calibrations + dims, target.calibrations);
}

void image_get_tag_group(HostCallArgs& call)
{
    call.set_result(Ref<TagGroupObject>::borrow(&image_tags(call.image(0))));
}

void image_data_changed(HostCallArgs& call) { ++call.image(0).changes_noted; }

// --- pixel locks ----------------------------------------------------------------

void image_get_locked_data(HostCallArgs& call)
{
    ImageObject& image = call.image(0);
    const std::uint32_t flags = call.value<std::uint32_t>(1);
    if (call.value<dm_object*>(2)) throw UsageError("locking a slice of an image is not supported.");
    Ref<LockedDataObject> lock = lock_image(image, flags);
    call.set_result(std::move(lock));
}

void extract_image_data_sequence(HostCallArgs& call)
{
    const LockedDataObject& lock = call.locked_data(0);
    auto* record = static_cast<dm_image_data_sequence*>(call.value<void*>(1));
    if (!record) throw UsageError("argument 2 is a null record.");
    dm_image_data_sequence filled{};
    filled.data = lock.pixels.origin;
    filled.num_dims = lock.pixels.num_dims;
    for (int d = 0; d < lock.pixels.num_dims; ++d) {
        const std::int64_t stride = lock.pixels.strides[d];
        if (stride > std::numeric_limits<std::int32_t>::max())
            throw UsageError("the byte stride along dimension " + std::to_string(d) +
                             " does not fit the record's 32 bits.");
        filled.dims[d].size = static_cast<std::int32_t>(lock.pixels.sizes[d]);
        filled.dims[d].stride = static_cast<std::int32_t>(stride);
    }
    *record = filled;
}

// --- tag groups ---------------------------------------------------------------

void new_tag_group(HostCallArgs& call) { call.set_result(make_object<TagGroupObject>(call.book())); }

// (target, source)
void tag_group_copy_tags_from(HostCallArgs& call) { copy_tags_from(call.tag_group(0), call.tag_group(1)); }

void tag_group_set_tag_as_double(HostCallArgs& call)
{
    TagGroupObject& group = call.tag_group(0);
    set_tag(group, call.text(1), call.value<double>(2));
}

void tag_group_set_tag_as_long(HostCallArgs& call)
{
    TagGroupObject& group = call.tag_group(0);
    set_tag(group, call.text(1), call.value<std::int32_t>(2));
}

// --- what scripts show, errors ----------------------------------------------------

void result_fn(HostCallArgs& call) { call.host.results.push_back(call.text(0)); }

void show_alert(HostCallArgs& call)
{
    std::string text = call.text(0);
    call.host.alerts.emplace_back(std::move(text), call.value<std::int32_t>(1));
}

void new_throwable_from_string(HostCallArgs& call) { call.set_result(call.host.make_throwable(call.text(0))); }

constexpr PrototypeEntry kHostFunctions[] = {
    {"ComplexImagePtr ComplexImage( string, long, long )", "ComplexImage", 3, complex_image},
    {"ComplexImagePtr ComplexImage( string, long, long, long )", "ComplexImage", 4, complex_image},
    {"ComplexImagePtr ComplexImage( string, long, long, long, long )", "ComplexImage", 5, complex_image},
    {"RealImagePtr RealImage( dm_string, uint32, uint32 )", "RealImage", 3, real_image},
    {"RealImagePtr RealImage( dm_string, uint32, uint32, uint32 )", "RealImage", 4, real_image},
    {"RealImagePtr RealImage( dm_string, uint32, uint32, uint32, uint32 )", "RealImage", 5, real_image},
    {"BasicImage NewImage( dm_string, uint32, uint32... )", "NewImage", -1, new_image},
    {"ImageRef ImageClone( ImageRef )", "ImageClone", 1, image_clone},
    {"void ConvertImageData( ImageRef, ImageRef )", "ConvertImageData", 2, convert_image_data_fn},
    {"void ConvertToComplex( ImageRef )", "ConvertToComplex", 1, convert_to_complex},
    {"void ConvertToFloat( ImageRef )", "ConvertToFloat", 1, convert_to_float},
    {"void ImageChangeDataType( BasicImage, uint32 )", "ImageChangeDataType", 2, image_change_data_type},
    {"short GetDataType( ImageRef )", "GetDataType", 1, get_data_type},
    {"uint32 ImageGetDataType( ImageRef )", "ImageGetDataType", 1, image_get_data_type},
    {"uint32 ImageGetDataElementByteSize( ImageRef )", "ImageGetDataElementByteSize", 1,
     image_get_data_element_byte_size},
    {"Boolean IsComplexDataType( ImageRef, long )", "IsComplexDataType", 2, is_complex_data_type},
    {"Boolean IsRealDataType( ImageRef, long )", "IsRealDataType", 2, is_real_data_type},
    {"Boolean ImageIsDataTypeBinary( ImageRef )", "ImageIsDataTypeBinary", 1, is_binary},
    {"Boolean ImageIsDataTypeComplex( ImageRef )", "ImageIsDataTypeComplex", 1, is_complex},
    {"Boolean ImageIsDataTypeInteger( ImageRef )", "ImageIsDataTypeInteger", 1, is_integer},
    {"void GetSize( ImageRef, long *, long * )", "GetSize", 3, get_size},
    {"uint32 ImageGetDimensionSize( ImageRef, uint32 )", "ImageGetDimensionSize", 2, image_get_dimension_size},
    {"uint32 ImageGetNumDimensions( ImageRef )", "ImageGetNumDimensions", 1, image_get_num_dimensions},
    {"dm_string GetName( ImageRef )", "GetName", 1, get_name},
    {"void ImageGetDimensionCalibration( ImageRef, long, float *, float *, dm_string *, long )",
     "ImageGetDimensionCalibration", 6, image_get_dimension_calibration},
    {"void ImageSetDimensionCalibration( ImageRef, long, float, float, dm_string, long )",
     "ImageSetDimensionCalibration", 6, image_set_dimension_calibration},
    {"void ImageCopyCalibrationFrom( ImageRef, ImageRef )", "ImageCopyCalibrationFrom", 2,
     image_copy_calibration_from},
    {"TagGroup ImageGetTagGroup( ImageRef )", "ImageGetTagGroup", 1, image_get_tag_group},
    {"void ImageDataChanged( ImageRef )", "ImageDataChanged", 1, image_data_changed},
    {"ScriptObject ImageGetLockedData( BasicImage, ulong, ScriptObject )", "ImageGetLockedData", 3,
     image_get_locked_data},
    {"void ExtractImageDataSequenceFromScriptObjectOrFail( ScriptObject, void * )",
     "ExtractImageDataSequenceFromScriptObjectOrFail", 2, extract_image_data_sequence},
    {"TagGroup NewTagGroup(  )", "NewTagGroup", 0, new_tag_group},
    {"void TagGroupCopyTagsFrom( TagGroup, TagGroup )", "TagGroupCopyTagsFrom", 2, tag_group_copy_tags_from},
    {"void TagGroupSetTagAsDouble( TagGroup, string, double )", "TagGroupSetTagAsDouble", 3,
     tag_group_set_tag_as_double},
    {"void TagGroupSetTagAsLong( TagGroup, string, long )", "TagGroupSetTagAsLong", 3, tag_group_set_tag_as_long},
    {"void Result( dm_string )", "Result", 1, result_fn},
    {"void ShowAlert( dm_string, long )", "ShowAlert", 2, show_alert},
    {"Throwable NewThrowableFromString( dm_string )", "NewThrowableFromString", 1, new_throwable_from_string},
};

}  // namespace

std::span<const PrototypeEntry> prototype_table() { return kHostFunctions; }

void run_host_function(HostState& host, const PrototypeEntry& entry, void* result, void* const* args, int argc)
{
    if (argc < 0 || (entry.argc >= 0 && argc != entry.argc))
        throw UsageError("it takes " + std::to_string(entry.argc) + " arguments, not " + std::to_string(argc) + ".");
    if (argc > 0 && !args) throw UsageError("the argument list is missing.");
    HostCallArgs call{host, result, args, argc};
    entry.run(call);
}

}  // namespace lumadex::host
