// A small plug-in for the host's tests. It reaches the host only as a real
// plug-in does: link object -> host call interface -> function registry ->
// call_function, with reference counting through the class tables. Its
// handlers cover every script type, an overload pair, out-parameters, raised
// errors, a host error passed through, image creation and pixel locks.
#include <cstring>
#include <string>
#include <vector>

#include "dm/image_data.h"
#include "dm/link.h"
#include "dm/plugin_entry.h"
#include "dm/script_handler.h"

#define TEST_EXPORT extern "C" __attribute__((visibility("default")))

// Built a second time with another version, to be refused by the loader.
#ifndef TEST_LINK_VERSION
#define TEST_LINK_VERSION DM_PLUGIN_LINK_VERSION
#endif

namespace {

dm_link* g_link_slot = nullptr;
dm_link* g_link = nullptr;
dm_host_call* g_host = nullptr;
const dm_class_table* g_images = nullptr;
const dm_class_table* g_strings = nullptr;
const dm_class_table* g_throwables = nullptr;
const dm_class_table* g_functions = nullptr;
const dm_class_table* g_tag_groups = nullptr;
const dm_class_table* g_script_objects = nullptr;
std::vector<dm_object*> g_registered;
bool g_forget_on_shutdown = false;

// A host error in hand: the Throwable to raise (one reference).
struct HostFailure {
    dm_object* throwable;
};

// --- host functions --------------------------------------------------------------

// Bumped at every start-up: handles found under an earlier link are not
// used again.
int g_link_generation = 0;

struct HostFunction {
    const char* prototype;
    dm_host_function* handle = nullptr;
    int generation = -1;
};

dm_function_registry* registry() { return g_host->vtbl->function_registry(g_host); }

[[noreturn]] void fail_with_text(const std::string& text)
{
    throw HostFailure{g_host->vtbl->throwable_from_error(g_host, 28802, reinterpret_cast<std::intptr_t>(text.c_str()))};
}

[[noreturn]] void fail_with_pending()
{
    dm_object* pending = g_host->vtbl->pending_throwable(g_host);
    g_host->vtbl->clear_error(g_host);
    throw HostFailure{pending};
}

dm_host_function* find(HostFunction& f)
{
    dm_host_function* handle = registry()->vtbl->lookup(registry(), f.prototype);
    if (!handle) fail_with_text(std::string("A function of the following prototype can not be found:\n\n") + f.prototype);
    return handle;
}

// Calls a host function; a stale handle is looked up again and the call
// repeated once. Throws HostFailure with the host's error.
template <class... Args>
void call(HostFunction& f, void* result, Args... args)
{
    void* argv[sizeof...(Args) + 1] = {static_cast<void*>(&args)...};
    if (!f.handle || f.generation != g_link_generation) {
        f.handle = find(f);
        f.generation = g_link_generation;
    }
    std::int32_t status = g_host->vtbl->call_function(g_host, f.handle, result, argv, sizeof...(Args));
    if (status == DM_STATUS_STALE) {
        g_host->vtbl->clear_error(g_host);
        f.handle = find(f);
        status = g_host->vtbl->call_function(g_host, f.handle, result, argv, sizeof...(Args));
    }
    if (status != DM_STATUS_OK) fail_with_pending();
}

HostFunction kNewImage{"BasicImage NewImage( dm_string, uint32, uint32... )"};
HostFunction kComplexImage{"ComplexImagePtr ComplexImage( string, long, long, long )"};
HostFunction kGetDataType{"short GetDataType( ImageRef )"};
HostFunction kDimensionSize{"uint32 ImageGetDimensionSize( ImageRef, uint32 )"};
HostFunction kLock{"ScriptObject ImageGetLockedData( BasicImage, ulong, ScriptObject )"};
HostFunction kExtract{"void ExtractImageDataSequenceFromScriptObjectOrFail( ScriptObject, void * )"};
HostFunction kNewTagGroup{"TagGroup NewTagGroup(  )"};
HostFunction kCopyTags{"void TagGroupCopyTagsFrom( TagGroup, TagGroup )"};
HostFunction kSetDouble{"void TagGroupSetTagAsDouble( TagGroup, string, double )"};
HostFunction kSetLong{"void TagGroupSetTagAsLong( TagGroup, string, long )"};
HostFunction kResult{"void Result( dm_string )"};
HostFunction kNewThrowable{"Throwable NewThrowableFromString( dm_string )"};

// --- held references -------------------------------------------------------------

// One reference to a host object, given back through its class table.
class Held {
public:
    Held(const dm_class_table* table, dm_object* object) : table_(table), object_(object) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held()
    {
        if (object_) table_->release(object_);
    }
    dm_object* get() const { return object_; }
    dm_object* release()
    {
        dm_object* object = object_;
        object_ = nullptr;
        return object;
    }

private:
    const dm_class_table* table_;
    dm_object* object_;
};

Held make_string(const std::string& text)
{
    return Held(g_strings, g_strings->string_from_text(text.data(), text.data() + text.size()));
}

dm_object* lock_pixels(dm_object* image, std::uint32_t flags)
{
    dm_object* lock = nullptr;
    dm_object* no_slice = nullptr;
    call(kLock, &lock, image, flags, no_slice);
    return lock;
}

// The pixels of a Real 4 image, locked with `flags` for the object's life.
class LockedFloats {
public:
    LockedFloats(dm_object* image, std::uint32_t flags) : lock_(g_script_objects, lock_pixels(image, flags))
    {
        void* record = &data_;
        call(kExtract, nullptr, lock_.get(), record);
    }

    // Calls visit(element, index) for every element, x fastest, through the
    // strides.
    template <class Visit>
    void for_each(Visit visit) const
    {
        std::int32_t index[DM_MAX_DIMENSIONS] = {};
        std::int64_t count = 1;
        for (int d = 0; d < data_.num_dims; ++d) count *= data_.dims[d].size;
        for (std::int64_t n = 0; n < count; ++n) {
            auto* p = static_cast<char*>(data_.data);
            for (int d = 0; d < data_.num_dims; ++d) p += std::int64_t{index[d]} * data_.dims[d].stride;
            visit(*reinterpret_cast<float*>(p), index);
            for (int d = 0; d < data_.num_dims; ++d) {
                if (++index[d] < data_.dims[d].size) break;
                index[d] = 0;
            }
        }
    }

private:
    Held lock_;
    dm_image_data_sequence data_{};
};

// Runs a handler's body; a host error is raised in the script unchanged.
template <class Result, class Body>
Result guarded(Body body)
{
    try {
        return body();
    } catch (HostFailure& failure) {
        g_host->vtbl->raise_throwable(g_host, failure.throwable);
        g_throwables->release(failure.throwable);
        return Result{};
    }
}

// --- handlers ----------------------------------------------------------------------

dm_object* TestKindReal(dm_object*)
{
    return guarded<dm_object*>([] { return make_string("real image").release(); });
}

dm_object* TestKindComplex(dm_object*)
{
    return guarded<dm_object*>([] { return make_string("complex image").release(); });
}

// Every scalar type in, two out-parameters, a long result; the text goes to
// the host's Result.
std::int32_t TestScalars(std::int32_t n, float f, std::uint8_t flag, char letter, dm_object* text, std::int32_t* n_out,
                         double* f_out)
{
    return guarded<std::int32_t>([&] {
        call(kResult, nullptr, text);
        *n_out = *n_out * 10 + n + flag;
        *f_out = *f_out + static_cast<double>(f) + letter;
        return n + 1;
    });
}

// A w x h Real 4 image with pixel x + 100 y, written through an in-place
// lock, handed out through the out-parameter.
void TestMakeImage(std::int32_t width, std::int32_t height, dm_object** out)
{
    guarded<int>([&] {
        Held name = make_string("made");
        dm_object* made = nullptr;
        std::uint32_t type = 2, dims = 2, w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(height);
        call(kNewImage, &made, name.get(), type, dims, w, h);
        Held image(g_images, made);
        LockedFloats(image.get(), DM_LOCK_IN_PLACE).for_each([](float& v, const std::int32_t* index) {
            v = static_cast<float>(index[0] + 100 * index[1]);
        });
        if (*out) g_images->release(*out);
        *out = image.release();
        return 0;
    });
}

dm_object* TestComplex(std::int32_t width)
{
    return guarded<dm_object*>([&] {
        Held name = make_string("complex");
        dm_object* made = nullptr;
        std::int32_t bytes = 8, height = 1;
        call(kComplexImage, &made, name.get(), bytes, width, height);
        return made;
    });
}

// A new group: a copy of the source's tags plus two numbers.
dm_object* TestTags(dm_object* source, double value)
{
    return guarded<dm_object*>([&] {
        dm_object* made = nullptr;
        call(kNewTagGroup, &made);
        Held group(g_tag_groups, made);
        call(kCopyTags, nullptr, group.get(), source);
        Held value_path = make_string("Result:Value");
        Held count_path = make_string("Result:Count");
        std::int32_t count = 3;
        call(kSetDouble, nullptr, group.get(), value_path.get(), value);
        call(kSetLong, nullptr, group.get(), count_path.get(), count);
        return group.release();
    });
}

// Raises the error pair (code, 7), or (28802, text) for the message code.
void TestRaisePair(std::int32_t code)
{
    static const char text[] = "A message from the pair.";
    const std::intptr_t param = code == 28802 ? reinterpret_cast<std::intptr_t>(text) : 7;
    dm_object* throwable = g_host->vtbl->throwable_from_error(g_host, code, param);
    g_host->vtbl->raise_throwable(g_host, throwable);
    g_throwables->release(throwable);
}

// Raises a Throwable made by the host from the text; returns an image anyway,
// which the host must give back.
dm_object* TestRaiseString(dm_object* message)
{
    return guarded<dm_object*>([&] {
        dm_object* throwable = nullptr;
        call(kNewThrowable, &throwable, message);
        g_host->vtbl->raise_throwable(g_host, throwable);
        g_throwables->release(throwable);
        Held name = make_string("ignored");
        dm_object* made = nullptr;
        std::uint32_t type = 2, dims = 1, width = 3;
        call(kNewImage, &made, name.get(), type, dims, width);
        return made;
    });
}

// The host's data-type code of an image passed as ComplexImagePtr.
std::int32_t TestTypeCode(dm_object* image)
{
    return guarded<std::int32_t>([&] {
        std::int16_t code = 0;
        call(kGetDataType, &code, image);
        return static_cast<std::int32_t>(code);
    });
}

// The host's ImageGetDimensionSize; its errors pass through unchanged.
std::int32_t TestDimension(dm_object* image, std::int32_t dim)
{
    return guarded<std::int32_t>([&] {
        std::uint32_t size = 0;
        call(kDimensionSize, &size, image, static_cast<std::uint32_t>(dim));
        return static_cast<std::int32_t>(size);
    });
}

// Small results: float, bool and char come back through the C return value.
float TestHalf(float value) { return value / 2; }
std::uint8_t TestPositive(double value) { return value > 0 ? 1 : 0; }
char TestNextLetter(char letter) { return static_cast<char>(letter + 1); }

void TestForgetOnShutdown() { g_forget_on_shutdown = true; }

// --- registration ------------------------------------------------------------------

void add(const char* signature, void* handler)
{
    dm_handler_descriptor descriptor{DM_HANDLER_C_FUNCTION, handler};
    dm_object* function =
        registry()->vtbl->add_function(registry(), signature, signature + std::strlen(signature), &descriptor);
    if (!function) fail_with_pending();
    g_registered.push_back(function);
}

template <class Fn>
void* address(Fn* fn)
{
    return reinterpret_cast<void*>(fn);
}

void register_all()
{
    add("dm_string TestKind(ImageRef imgSrc)", address(TestKindReal));
    add("dm_string TestKind(ComplexImagePtr cimSrc)", address(TestKindComplex));
    add("long TestScalars(long n, float   f, bool bFlag, char cLetter, dm_string strText, long * nOut, double *fOut)",
        address(TestScalars));
    add("void TestMakeImage(long nWidth, long nHeight, ImageRef * imgOut)", address(TestMakeImage));
    add("ComplexImagePtr TestComplex(long nWidth)", address(TestComplex));
    add("TagGroup TestTags(TagGroup tgSource, double fValue)", address(TestTags));
    add("void TestRaisePair(long nCode)", address(TestRaisePair));
    add("ImageRef TestRaiseString(dm_string strMessage)", address(TestRaiseString));
    add("long TestDimension(ImageRef img, long nDim)", address(TestDimension));
    add("long TestTypeCode(ComplexImagePtr cimSrc)", address(TestTypeCode));
    add("float TestHalf(float fValue)", address(TestHalf));
    add("bool TestPositive(double fValue)", address(TestPositive));
    add("char TestNextLetter(char cLetter)", address(TestNextLetter));
    add("void TestForgetOnShutdown()", address(TestForgetOnShutdown));
}

void raise_text(const char* text)
{
    dm_object* throwable = g_host->vtbl->throwable_from_error(g_host, 28802, reinterpret_cast<std::intptr_t>(text));
    g_host->vtbl->raise_throwable(g_host, throwable);
    g_throwables->release(throwable);
}

}  // namespace

TEST_EXPORT std::int32_t DMPlugIn_GetVersion() { return TEST_LINK_VERSION; }

TEST_EXPORT dm_link* DMPlugIn_Link_2(dm_link* link)
{
    if (link) link->vtbl->add_ref(link);
    if (g_link_slot) g_link_slot->vtbl->release(g_link_slot);
    g_link_slot = link;
    return g_link_slot;
}

TEST_EXPORT void PlugInStartup()
{
    g_link = g_link_slot;
    g_link_slot = nullptr;
    ++g_link_generation;
    if (!g_link) return;
    g_host = g_link->vtbl->host_call_interface(g_link);
    auto table = [](const char* id) { return g_link->vtbl->class_table(g_link, 0, id); };
    g_images = table(DM_CLASS_IMAGE);
    g_strings = table(DM_CLASS_STRING);
    g_throwables = table(DM_CLASS_THROWABLE);
    g_functions = table(DM_CLASS_FUNCTION);
    g_tag_groups = table(DM_CLASS_TAG_GROUP);
    g_script_objects = table(DM_CLASS_SCRIPT_OBJECT);
    if (g_link->vtbl->host_version(g_link) < DM_MINIMUM_HOST_VERSION) {
        raise_text("This plugin requires DM 3.10.0 or later.");
        return;
    }
    try {
        register_all();
    } catch (HostFailure& failure) {
        g_host->vtbl->raise_throwable(g_host, failure.throwable);
        g_throwables->release(failure.throwable);
    }
}

TEST_EXPORT void PlugInRun()
{
    guarded<int>([] {
        Held text = make_string("run");
        call(kResult, nullptr, text.get());
        return 0;
    });
}

TEST_EXPORT void PlugInCleanup() { raise_text("Cleanup raised this."); }

TEST_EXPORT void PlugInShutdown()
{
    if (!g_link) return;
    while (!g_registered.empty()) {
        dm_object* function = g_registered.back();
        g_registered.pop_back();
        if (!g_forget_on_shutdown) registry()->vtbl->remove_function(registry(), function);
        g_functions->release(function);
    }
    g_forget_on_shutdown = false;
    g_link->vtbl->release(g_link);
    g_link = nullptr;
    g_host = nullptr;
}
