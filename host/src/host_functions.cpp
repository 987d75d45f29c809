// The host functions a plug-in looks up by prototype text, and their
// argument checks. The table comes from the one list in
// abi/dm/host_functions.h; each function reads its arguments with the C
// types of the list's signature and throws UsageError on bad input; the
// caller turns that into a pending Throwable.
#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "dm/host_functions.h"
#include "dm/image_data.h"
#include "host_state.h"
#include "image_object.h"
#include "tag_group_object.h"

namespace lumadex::host {

// One call of a host function: its arguments by index, checked to be there;
// Args<Fn> below reads them with the types of the function's signature.
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

// --- the list's signatures ------------------------------------------------------

// One type per host function of abi/dm/host_functions.h: its prototype text
// and its C signature.
namespace fn {
#define LUMADEX_HOST_FUNCTION_TYPE(ID, PROTOTYPE, RESULT, PARAMETERS) \
    struct ID {                                                       \
        static constexpr std::string_view prototype = PROTOTYPE;      \
        using signature = RESULT PARAMETERS;                          \
    };
DM_HOST_FUNCTIONS(LUMADEX_HOST_FUNCTION_TYPE)
#undef LUMADEX_HOST_FUNCTION_TYPE
}  // namespace fn

template <class F>
struct Signature;
template <class R, class... P>
struct Signature<R(P...)> {
    using Result = R;
    using Parameters = std::tuple<P...>;
    static constexpr int kArgc = sizeof...(P);
};
// A "uint32..." run: the fixed parameters end with the run's count, and
// the arguments after them are uint32_t; any count is taken here and the
// function checks it.
template <class R, class... P>
struct Signature<R(P..., ...)> {
    using Result = R;
    using Parameters = std::tuple<P...>;
    static constexpr int kArgc = -1;
};

// The function's name in a prototype text: the word before the parenthesis.
constexpr std::string_view FunctionWord(std::string_view prototype)
{
    const std::string_view head = prototype.substr(0, prototype.find('('));
    return head.substr(head.rfind(' ') + 1);
}

// One call of the host function Fn: its arguments read with the types of
// Fn's signature, each when the function first needs it (so that the first
// bad argument is the one reported), and its result written with the
// signature's result type.
template <class Fn>
class Args {
public:
    using Sig = Signature<typename Fn::signature>;
    template <std::size_t I>
    using Parameter = std::tuple_element_t<I, typename Sig::Parameters>;

    explicit Args(HostCallArgs& call) : call_(call) {}

    template <std::size_t I>
    Parameter<I> arg() const
    {
        return call_.value<Parameter<I>>(static_cast<int>(I));
    }
    // An object argument, checked to be a live one of its class.
    template <std::size_t I>
    ImageObject& image() const
    {
        static_assert(std::is_same_v<Parameter<I>, dm_object*>);
        return call_.image(static_cast<int>(I));
    }
    template <std::size_t I>
    TagGroupObject& tag_group() const
    {
        static_assert(std::is_same_v<Parameter<I>, dm_object*>);
        return call_.tag_group(static_cast<int>(I));
    }
    template <std::size_t I>
    LockedDataObject& locked_data() const
    {
        static_assert(std::is_same_v<Parameter<I>, dm_object*>);
        return call_.locked_data(static_cast<int>(I));
    }
    // The text of a string argument; a null string is the empty text.
    template <std::size_t I>
    std::string text() const
    {
        static_assert(std::is_same_v<Parameter<I>, dm_object*>);
        return call_.text(static_cast<int>(I));
    }
    // Argument i of a "uint32..." run (i counts from the first argument).
    std::uint32_t run_value(int i) const
    {
        static_assert(Sig::kArgc < 0, "only a function with a uint32... run has run arguments");
        return call_.value<std::uint32_t>(i);
    }
    int argc() const { return call_.argc; }

    // The result, converted to the signature's result type (no result for void).
    template <class R = typename Sig::Result>
        requires(!std::is_void_v<R>)
    void set_result(std::type_identity_t<R> value) const
    {
        call_.set_result(value);
    }
    // Hands one reference to the caller.
    template <class T>
    void set_result(Ref<T> object) const
    {
        static_assert(std::is_same_v<typename Sig::Result, dm_object*>);
        call_.set_result(std::move(object));
    }

    HostState& host() const { return call_.host; }
    std::shared_ptr<ObjectBook> book() const { return call_.book(); }

private:
    HostCallArgs& call_;
};

template <class F, class... Fn>
concept OneOf = (std::is_same_v<F, Fn> || ...);

// --- image constructors -------------------------------------------------------

std::int64_t checked_size(std::int64_t size, int dim)
{
    if (size < 1 || size > std::numeric_limits<std::int32_t>::max())
        throw UsageError("the size " + std::to_string(size) + " along dimension " + std::to_string(dim) +
                         " is not between 1 and 2147483647.");
    return size;
}

// The sizes that follow the name and the byte count, in order.
template <class Fn>
std::vector<std::int64_t> trailing_sizes(const Args<Fn>& call)
{
    std::vector<std::int64_t> sizes;
    [&]<std::size_t... D>(std::index_sequence<D...>) {
        (sizes.push_back(checked_size(call.template arg<D + 2>(), static_cast<int>(D))), ...);
    }(std::make_index_sequence<Args<Fn>::Sig::kArgc - 2>{});
    return sizes;
}

// The two element sizes of the complex or the real images and their data types.
struct ElementKind {
    const char* name;
    std::int64_t narrow, wide;  // bytes per element
    DataType narrowType, wideType;
};
constexpr ElementKind kComplexElements = {"complex", 8, 16, DataType::Complex8, DataType::Complex16};
constexpr ElementKind kRealElements = {"real", 4, 8, DataType::Real4, DataType::Real8};

// A new image of `kind`: name, bytes per element, then the sizes.
template <class Fn>
void make_sized_image(const Args<Fn>& call, const ElementKind& kind)
{
    const std::int64_t bytes = call.template arg<1>();
    if (bytes != kind.narrow && bytes != kind.wide)
        throw UsageError(std::string("a ") + kind.name + " image has " + std::to_string(kind.narrow) + " or " +
                         std::to_string(kind.wide) + " bytes per element, not " + std::to_string(bytes) + ".");
    const std::vector<std::int64_t> sizes = trailing_sizes(call);
    call.set_result(
        make_image(call.book(), call.template text<0>(), bytes == kind.narrow ? kind.narrowType : kind.wideType, sizes));
}

// ComplexImage( string, long, long [, long [, long]] ): name, bytes (8 or 16), sizes.
template <class Fn>
    requires OneOf<Fn, fn::ComplexImage1D, fn::ComplexImage2D, fn::ComplexImage3D>
void handle(const Args<Fn>& call)
{
    make_sized_image(call, kComplexElements);
}

// RealImage( dm_string, uint32, uint32 [, uint32 [, uint32]] ): name, bytes (4 or 8), sizes.
template <class Fn>
    requires OneOf<Fn, fn::RealImage1D, fn::RealImage2D, fn::RealImage3D>
void handle(const Args<Fn>& call)
{
    make_sized_image(call, kRealElements);
}

DataType data_type_from(std::uint32_t code)
{
    const auto type = data_type_from_code(code);
    if (!type) throw UsageError(std::to_string(code) + " is not a data type the host knows.");
    return *type;
}

// NewImage( dm_string, uint32, uint32... ): name, data type, dimension count, sizes.
void handle(const Args<fn::NewImage>& call)
{
    if (call.argc() < 3) throw UsageError("it takes a name, a data type, a dimension count and the sizes.");
    const DataType type = data_type_from(call.arg<1>());
    const std::uint32_t dims = call.arg<2>();
    if (dims < 1 || dims > static_cast<std::uint32_t>(kMaxDimensions))
        throw UsageError("an image has 1 to 5 dimensions, not " + std::to_string(dims) + ".");
    if (static_cast<std::uint32_t>(call.argc() - 3) != dims)
        throw UsageError("the dimension count " + std::to_string(dims) + " is followed by " +
                         std::to_string(call.argc() - 3) + " sizes.");
    std::vector<std::int64_t> sizes;
    for (int i = 3; i < call.argc(); ++i) sizes.push_back(checked_size(call.run_value(i), i - 3));
    call.set_result(make_image(call.book(), call.text<0>(), type, sizes));
}

void handle(const Args<fn::ImageClone>& call) { call.set_result(clone_image(call.image<0>())); }

// --- data types ---------------------------------------------------------------

void handle(const Args<fn::ConvertImageData>& call) { convert_image_data(call.image<0>(), call.image<1>()); }
void handle(const Args<fn::ConvertToComplex>& call) { change_data_type(call.image<0>(), DataType::Complex8); }
void handle(const Args<fn::ConvertToFloat>& call) { change_data_type(call.image<0>(), DataType::Real4); }
void handle(const Args<fn::ImageChangeDataType>& call)
{
    ImageObject& image = call.image<0>();
    change_data_type(image, data_type_from(call.arg<1>()));
}

std::uint32_t code_of(const ImageObject& image) { return static_cast<std::uint32_t>(image.type); }

void handle(const Args<fn::GetDataType>& call) { call.set_result(static_cast<std::int16_t>(code_of(call.image<0>()))); }
void handle(const Args<fn::ImageGetDataType>& call) { call.set_result(code_of(call.image<0>())); }
void handle(const Args<fn::ImageGetDataElementByteSize>& call)
{
    call.set_result(static_cast<std::uint32_t>(call.image<0>().element_bytes()));
}

// Booleans cross as one byte, 0 or 1.
std::uint8_t boolean(bool value) { return value ? 1 : 0; }

void handle(const Args<fn::IsComplexDataType>& call)
{
    const ImageObject& image = call.image<0>();
    call.set_result(boolean(type_kind(image.type) == TypeKind::Complex &&
                            static_cast<std::int64_t>(image.element_bytes()) == call.arg<1>()));
}
void handle(const Args<fn::IsRealDataType>& call)
{
    const ImageObject& image = call.image<0>();
    call.set_result(boolean(type_kind(image.type) == TypeKind::Real &&
                            static_cast<std::int64_t>(image.element_bytes()) == call.arg<1>()));
}
void handle(const Args<fn::ImageIsDataTypeBinary>& call)
{
    call.set_result(boolean(type_kind(call.image<0>().type) == TypeKind::Binary));
}
void handle(const Args<fn::ImageIsDataTypeComplex>& call)
{
    call.set_result(boolean(type_kind(call.image<0>().type) == TypeKind::Complex));
}
void handle(const Args<fn::ImageIsDataTypeInteger>& call)
{
    call.set_result(boolean(type_kind(call.image<0>().type) == TypeKind::Integer));
}

// --- sizes, names, calibrations -------------------------------------------------

// Null output pointers: that output is not wanted.
void handle(const Args<fn::GetSize>& call)
{
    const ImageObject& image = call.image<0>();
    std::int32_t* width = call.arg<1>();
    std::int32_t* height = call.arg<2>();
    if (width) *width = static_cast<std::int32_t>(image.size(0));
    if (height) *height = static_cast<std::int32_t>(image.size(1));
}

void handle(const Args<fn::ImageGetDimensionSize>& call)
{
    const ImageObject& image = call.image<0>();
    const std::uint32_t dim = call.arg<1>();
    if (dim >= static_cast<std::uint32_t>(kMaxDimensions))
        throw UsageError("dimension " + std::to_string(dim) + " is out of range (an image has at most 5).");
    call.set_result(static_cast<std::uint32_t>(image.size(static_cast<int>(dim))));
}

void handle(const Args<fn::ImageGetNumDimensions>& call)
{
    call.set_result(static_cast<std::uint32_t>(call.image<0>().num_dims));
}

void handle(const Args<fn::GetName>& call)
{
    call.set_result(make_object<StringObject>(call.book(), call.image<0>().name));
}

template <class Fn>
int calibrated_dimension(const Args<Fn>& call, const ImageObject& image)
{
    const std::int32_t dim = call.template arg<1>();
    if (dim < 0 || dim >= image.num_dims)
        throw UsageError("dimension " + std::to_string(dim) + " is out of range for an image of " +
                         std::to_string(image.num_dims) + " dimensions.");
    return dim;
}

// The last argument (1 for calibrated units) is accepted and not used: the
// host keeps one calibration per dimension.
void handle(const Args<fn::ImageGetDimensionCalibration>& call)
{
    const ImageObject& image = call.image<0>();
    const Calibration& calibration = image.calibrations[calibrated_dimension(call, image)];
    float* origin = call.arg<2>();
    float* scale = call.arg<3>();
    dm_object** units = call.arg<4>();
    Ref<StringObject> units_text;
    if (units) units_text = make_object<StringObject>(call.book(), calibration.units);
    if (origin) *origin = calibration.origin;
    if (scale) *scale = calibration.scale;
    if (units) *units = units_text.release();
}

void handle(const Args<fn::ImageSetDimensionCalibration>& call)
{
    ImageObject& image = call.image<0>();
    const int dim = calibrated_dimension(call, image);
    Calibration calibration{call.arg<2>(), call.arg<3>(), call.text<4>(), ""};  // a new calibration: no name
    image.calibrations[dim] = std::move(calibration);
}

// (target, source): the calibrations of the dimensions both images have.
void handle(const Args<fn::ImageCopyCalibrationFrom>& call)
{
    ImageObject& target = call.image<0>();
    const ImageObject& source = call.image<1>();
    const int dims = std::min(target.num_dims, source.num_dims);
    std::copy(source.calibrations, source.calibrations + dims, target.calibrations);
}

void handle(const Args<fn::ImageGetTagGroup>& call)
{
    call.set_result(Ref<TagGroupObject>::borrow(&image_tags(call.image<0>())));
}

void handle(const Args<fn::ImageDataChanged>& call) { ++call.image<0>().changes_noted; }

// --- pixel locks ----------------------------------------------------------------

void handle(const Args<fn::ImageGetLockedData>& call)
{
    ImageObject& image = call.image<0>();
    const std::uint32_t flags = call.arg<1>();
    if (call.arg<2>()) throw UsageError("locking a slice of an image is not supported.");
    Ref<LockedDataObject> lock = lock_image(image, flags);
    call.set_result(std::move(lock));
}

void handle(const Args<fn::ExtractImageDataSequence>& call)
{
    const LockedDataObject& lock = call.locked_data<0>();
    auto* record = static_cast<dm_image_data_sequence*>(call.arg<1>());
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

void handle(const Args<fn::NewTagGroup>& call) { call.set_result(make_object<TagGroupObject>(call.book())); }

// (target, source)
void handle(const Args<fn::TagGroupCopyTagsFrom>& call) { copy_tags_from(call.tag_group<0>(), call.tag_group<1>()); }

void handle(const Args<fn::TagGroupSetTagAsDouble>& call)
{
    TagGroupObject& group = call.tag_group<0>();
    set_tag(group, call.text<1>(), call.arg<2>());
}

void handle(const Args<fn::TagGroupSetTagAsLong>& call)
{
    TagGroupObject& group = call.tag_group<0>();
    set_tag(group, call.text<1>(), call.arg<2>());
}

// --- what scripts show, errors ----------------------------------------------------

void handle(const Args<fn::Result>& call) { call.host().results.push_back(call.text<0>()); }

void handle(const Args<fn::ShowAlert>& call)
{
    std::string text = call.text<0>();
    call.host().alerts.emplace_back(std::move(text), call.arg<1>());
}

void handle(const Args<fn::NewThrowableFromString>& call)
{
    call.set_result(call.host().make_throwable(call.text<0>()));
}

// --- the table ------------------------------------------------------------------

// Every function of the list needs a handle() for its Args: one missing, or
// one that reads an argument as another type, does not compile.
template <class Fn>
void run(HostCallArgs& call)
{
    handle(Args<Fn>(call));
}

#define LUMADEX_HOST_FUNCTION_ENTRY(ID, PROTOTYPE, RESULT, PARAMETERS) \
    {fn::ID::prototype, FunctionWord(PROTOTYPE), Signature<fn::ID::signature>::kArgc, run<fn::ID>},
constexpr PrototypeEntry kHostFunctions[] = {DM_HOST_FUNCTIONS(LUMADEX_HOST_FUNCTION_ENTRY)};
#undef LUMADEX_HOST_FUNCTION_ENTRY

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
