// The host stand-in's C++ API: what tests, benchmarks and the Python front end
// use to make images, load a plug-in and run script calls.
//
// A Host is a small application host: it owns reference-counted objects
// (images, strings, tag groups, throwables, functions, script objects), hands a
// plug-in the link object of abi/dm, answers its host-function calls, keeps the
// script-function registry, and calls registered handlers through libffi.
//
// One thread at a time: the host, like the application it stands in for, runs
// every call on the caller's thread and takes no locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "dm/data_types.h"
#include <vector>

extern "C" {
struct dm_object;
struct dm_link;
}

namespace lumadex::host {

class HostState;  // the implementation behind a Host and its objects

// A script call failed: the message is the script error's exact text.
class ScriptError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Misuse of this API (bad arguments from C++ or Python): not a script error.
class UsageError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// A DM3 / DM4 file that cannot be read or written: the message names the file
// and what is wrong with it.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Host data-type codes, from the one table of data types.
enum class DataType : std::uint32_t {
#define LUMADEX_DATA_TYPE(code, identifier, name, bytes, kind) identifier = code,
    DM_DATA_TYPES(LUMADEX_DATA_TYPE)
#undef LUMADEX_DATA_TYPE
};

std::size_t element_size(DataType type);
std::string_view data_type_name(DataType type);  // "Real 4", "Complex 16", "Binary", "RGB"
dm_data_kind data_type_kind(DataType type);

constexpr int kMaxDimensions = 5;

// A dimension's calibration: the value at pixel i is (i - origin) * scale.
struct Calibration {
    float origin = 0.0f;
    float scale = 1.0f;
    std::string units;
    // The axis's name ("" for none): kept in a file as a "Label" beside the
    // units, and reset by a script that sets the calibration.
    std::string label;
};

// Counted handle to a host object. Copying takes a reference; destruction
// gives it back. A default-constructed handle is null.
class ObjectHandle {
public:
    ObjectHandle() = default;
    static ObjectHandle adopt(dm_object* object);   // takes over one reference
    static ObjectHandle borrow(dm_object* object);  // adds a reference
    ObjectHandle(const ObjectHandle& other);
    ObjectHandle(ObjectHandle&& other) noexcept;
    ObjectHandle& operator=(ObjectHandle other) noexcept;
    ~ObjectHandle();

    explicit operator bool() const { return object_ != nullptr; }
    dm_object* get() const { return object_; }
    dm_object* release();  // hands the reference to the caller
    friend bool operator==(const ObjectHandle& a, const ObjectHandle& b) { return a.object_ == b.object_; }

private:
    dm_object* object_ = nullptr;
};

class TagGroup;

// The deepest nesting of groups a tag tree may have, counting the root as
// level 0: what the file reader accepts, and so what setting, copying,
// converting and saving tags allow (UsageError past it). It bounds every
// recursion over a tree.
constexpr int kMaxTagDepth = 64;

// A tag value: number, text or nested group.
using TagValue = std::variant<std::int32_t, double, std::string, TagGroup>;

// Tag paths are ':'-separated: "zep__PureFFTDM:Count".
class TagGroup : public ObjectHandle {
public:
    TagGroup() = default;
    explicit TagGroup(ObjectHandle handle);
    using ObjectHandle::get;  // the handle, beside get(path) below

    void set(std::string_view path, double value);
    void set(std::string_view path, std::int32_t value);
    void set(std::string_view path, std::string_view value);
    void set(std::string_view path, const TagGroup& group);  // a deep copy of `group`
    // Lists (a file's TagList): unnamed entries, in the order appended. A
    // group whose entries are all unnamed reads back as a list.
    void append(double value);
    void append(std::int32_t value);
    void append(std::string_view value);
    TagGroup append(const TagGroup& group);  // appends a deep copy of `group` and returns the copy
    bool contains(std::string_view path) const;
    TagValue get(std::string_view path) const;  // UsageError when absent
    std::vector<std::pair<std::string, TagValue>> entries() const;  // in insertion order
    std::size_t size() const;
};

// Pixels held by a lock: what the plug-in's views see.
struct PixelLock {
    void* data = nullptr;
    int num_dims = 0;
    std::int64_t sizes[kMaxDimensions] = {};
    std::int64_t byte_strides[kMaxDimensions] = {};
    ObjectHandle locked_data;  // releasing it ends the lock
    // Owns the bytes `data` points into: they stay valid while this lives,
    // even after the lock has ended and the image's pixels were replaced or
    // the image is gone (what is written then reaches no image).
    std::shared_ptr<const void> memory;
};

class Image : public ObjectHandle {
public:
    Image() = default;
    explicit Image(ObjectHandle handle);  // UsageError unless it is an image

    DataType data_type() const;
    std::size_t element_size() const;
    int num_dims() const;
    std::int64_t size(int dim) const;              // 1 for dim >= num_dims
    std::vector<std::int64_t> sizes() const;       // x first
    std::int64_t element_count() const;

    std::string name() const;
    void set_name(std::string_view name);
    Calibration calibration(int dim) const;
    void set_calibration(int dim, const Calibration& calibration);
    TagGroup tags() const;

    // A sub-area sharing this image's pixels: [start, end) per dimension, x
    // first, one entry per dimension of this image.
    Image subarea(std::span<const std::int64_t> start, std::span<const std::int64_t> end) const;
    bool is_subarea() const;
    Image clone() const;  // dense copy with name, calibrations and tags

    // Dense copies of the pixels, x fastest; `bytes` must be element_count() * element_size().
    void read_pixels(void* out, std::size_t bytes) const;
    // The same as a vector of T, whose size must be the element size.
    template <class T>
    std::vector<T> pixels() const
    {
        std::vector<T> values(static_cast<std::size_t>(element_count()));
        read_pixels(values.data(), values.size() * sizeof(T));
        return values;
    }
    void write_pixels(const void* in, std::size_t bytes);

    // Locks as the plug-in does (flags 1 or 32 of abi/dm/image_data.h).
    PixelLock lock(std::uint32_t flags) const;
};

// Values that cross a script call. monostate is a null image (an omitted
// argument) or the result of a void function.
using Value = std::variant<std::monostate, std::int64_t, double, std::string, Image, TagGroup>;

// One argument of a script call. An out-argument (`long *`, `double *`,
// `ImageRef *`) carries its initial value in `value`; the call updates it.
struct Argument {
    Value value;
    bool out = false;
};

struct LiveObjects {
    std::map<std::string, std::int64_t> by_class;  // class identifier -> live objects
    std::int64_t total = 0;
};

// A loaded plug-in library.
class Plugin {
public:
    virtual ~Plugin() = default;
    virtual const std::filesystem::path& path() const = 0;
    virtual void run() = 0;      // PlugInRun
    virtual void cleanup() = 0;  // PlugInCleanup
};

// --- DM3 / DM4 files in pieces, for data larger than memory (dm_file.cpp) ---

// An image of a file without its pixels: what a reader that takes the pixels
// in pieces needs, and what a writer that is given them in pieces writes.
struct ImageHeader {
    std::string name;
    DataType type = DataType::Real4;
    std::vector<std::int64_t> sizes;         // x first, 1 to 4 of them
    std::vector<Calibration> calibrations;   // one per dimension (absent ones: uncalibrated)
    TagGroup tags;                           // null: none
};

// Where an image's pixels lie in its file: `bytes` bytes from `offset`, dense
// with x fastest, each number of a pixel (each part of a complex one) in the
// file's byte order. The block lies within the file's size when it was read.
struct PixelBlock {
    std::uint64_t offset = 0;
    std::uint64_t bytes = 0;
    bool little_endian = true;
};

// The next piece of an image's pixels, dense with x fastest and little
// endian: valid until the source is called again; an empty span when none
// remain. A piece may end inside a pixel.
using PixelSource = std::function<std::span<const std::byte>()>;

class Host {
public:
    // `version` is what the link object reports (0x030A0000 is 3.10.0).
    explicit Host(std::uint32_t version = 0x03500000u);
    ~Host();  // shuts down and unloads every plug-in, then checks nothing
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    std::uint32_t version() const;
    void set_version(std::uint32_t version);

    // --- objects -----------------------------------------------------------
    Image new_image(std::string_view name, DataType type, std::span<const std::int64_t> sizes);
    TagGroup new_tag_group();
    LiveObjects live_objects() const;

    // --- plug-ins ----------------------------------------------------------
    // dlopen, DMPlugIn_GetVersion == 2, DMPlugIn_Link_2, PlugInStartup.
    // A start-up error raised by the plug-in is recorded (startup_errors()),
    // not thrown; a library that cannot be loaded throws UsageError.
    Plugin& load_plugin(const std::filesystem::path& path);
    // PlugInShutdown, then dlclose.
    void unload_plugin(Plugin& plugin);
    std::vector<std::string> startup_errors() const;

    // --- script functions --------------------------------------------------
    std::vector<std::string> signatures() const;  // registration order
    // Call `name` with overload resolution by the arguments: count, then kind
    // (image or null for ImageRef and ComplexImagePtr, number, string, tag
    // group; out-arguments only for pointer parameters). Among the forms that
    // fit, a complex image prefers ComplexImagePtr and a real image ImageRef;
    // a real image still fits ComplexImagePtr, least of all, so that a
    // function with only that form refuses the image in its own words.
    // Throws ScriptError with the script error's text, or with a message
    // naming the function when no form fits.
    Value call(std::string_view name, std::span<Argument> args);

    // --- what scripts showed ----------------------------------------------
    const std::vector<std::string>& results() const;  // Result( dm_string )
    const std::vector<std::pair<std::string, std::int32_t>>& alerts() const;  // ShowAlert

    // --- test hooks --------------------------------------------------------
    // The prototype is no longer found (lookups answer null) until restored.
    void withdraw_prototype(std::string_view prototype);
    void restore_prototype(std::string_view prototype);
    // The next call through the current handle of `prototype` answers
    // DM_STATUS_STALE; a fresh lookup gives a new handle that works.
    void make_stale_once(std::string_view prototype);

    dm_link* link();  // borrowed

    // --- DM3 / DM4 files (dm_file.cpp) ----------------------------------------
    // Every image of the file in file order, thumbnails skipped: pixels, name,
    // calibrations, and the image's tags with their stored types. All or
    // nothing: a file that cannot be read whole throws FileError.
    std::vector<Image> open_file(const std::filesystem::path& path);
    // The same images without their pixels, each with the block its pixels
    // lie in: nothing of the pixels is read, every check of open_file but the
    // memory the pixels would need is made, and the tags are this host's.
    std::vector<std::pair<ImageHeader, PixelBlock>> describe_file(const std::filesystem::path& path);
    // Writes images whose pixels come from `pixels` (one source per image,
    // called in file order) as save_file() does: whole or not at all. A
    // source whose pieces do not add up to its image's bytes is a FileError;
    // an exception a source throws leaves nothing behind and goes on to the
    // caller.
    void save_file(std::span<const ImageHeader> images, std::span<const PixelSource> pixels,
                   const std::filesystem::path& path, int version = 4, bool overwrite_read_only = false);

private:
    std::unique_ptr<HostState> state_;
};

// The ZEP32 plug-in that belongs with this host code: looked for beside the
// program or shared library the host code is linked into (the build tree's
// layout, then the installed one: bin/ -> lib/<multiarch>/lumadex/), then at
// its installed location. Empty when there is none.
std::filesystem::path default_plugin_path();

// Writes the images (dense copies of sub-areas) into one DM4 file, or DM3 when
// `version` is 3. The file appears whole or not at all; FileError on failure.
// A symbolic link is followed and the file it names replaced, keeping its mode
// (and owner where the process may); a target that is not a regular file is
// refused, and so is a read-only one unless `overwrite_read_only`.
void save_file(std::span<const Image> images, const std::filesystem::path& path, int version = 4,
               bool overwrite_read_only = false);

// The tag tree as text: one "name (type) = value" line per tag, indented two
// blanks per level; list entries are numbered [0], [1]...
std::string format_tags(const TagGroup& tags);

// `text` made safe for a terminal, as format_tags() shows labels and texts:
// control characters written as \xNN (C0 and DEL) or \u{NN} (C1), and so are
// bytes that are not UTF-8; backslash and double quote escaped with a backslash.
std::string printable_text(std::string_view text);

}  // namespace lumadex::host
