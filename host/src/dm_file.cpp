#include "dm_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "host_state.h"

namespace lumadex::host {
namespace {

static_assert(std::endian::native == std::endian::little, "the pixel and tag code assumes a little-endian machine");

constexpr int kMaxTypeDepth = 16;                       // type descriptions nested deeper are refused
constexpr std::uint64_t kMaxArrayTags = 1u << 16;       // longer arrays are left out of an image's tags
constexpr std::uint64_t kMaxImageTagEntries = 1u << 20; // tags made for one file's images, at most
constexpr int kMaxFileDimensions = 4;

// Tag kinds, and the type codes of a data tag's description.
constexpr std::uint64_t kGroupTag = 20, kDataTag = 21;
enum TypeCode : std::uint64_t {
    kShort = 2, kLong = 3, kUShort = 4, kULong = 5, kFloat = 6, kDouble = 7, kBool = 8, kChar = 9,
    kOctet = 10, kInt64 = 11, kUInt64 = 12, kStruct = 15, kString = 18, kArray = 20,
};

std::uint64_t simple_size(std::uint64_t code)
{
    switch (code) {
    case kBool: case kChar: case kOctet: return 1;
    case kShort: case kUShort: return 2;
    case kLong: case kULong: case kFloat: return 4;
    case kDouble: case kInt64: case kUInt64: return 8;
    default: return 0;
    }
}

const char* type_name(std::uint64_t code)
{
    switch (code) {
    case kShort: return "short";
    case kLong: return "long";
    case kUShort: return "ushort";
    case kULong: return "ulong";
    case kFloat: return "float";
    case kDouble: return "double";
    case kBool: return "bool";
    case kChar: return "char";
    case kOctet: return "octet";
    case kInt64: return "int64";
    case kUInt64: return "uint64";
    case kStruct: return "struct";
    case kString: return "string";
    case kArray: return "array";
    default: return nullptr;
    }
}

std::string str(std::uint64_t n) { return std::to_string(n); }

[[noreturn]] void file_error(const std::filesystem::path& path, const std::string& what)
{
    throw FileError(path.string() + ": " + what);
}

// --- text -----------------------------------------------------------------

void append_utf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The next code point of UTF-8 text at `i`, or nullopt where the text is not UTF-8.
std::optional<std::uint32_t> next_utf8(std::string_view s, std::size_t& i)
{
    const auto b = static_cast<unsigned char>(s[i]);
    const int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    if (extra < 0 || s.size() - i <= static_cast<std::size_t>(extra)) return std::nullopt;
    std::uint32_t c = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        const auto next = static_cast<unsigned char>(s[i + k]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        c = (c << 6) | (next & 0x3F);
    }
    i += extra + 1;
    return c;
}

// Labels and one-byte strings: UTF-8 when they are, else Latin-1 (older files).
std::string decode_bytes(const std::byte* p, std::uint64_t n)
{
    std::string_view raw(reinterpret_cast<const char*>(p), n);
    for (std::size_t i = 0; i < raw.size();)
        if (!next_utf8(raw, i)) {
            std::string out;
            for (char c : raw) append_utf8(out, static_cast<unsigned char>(c));
            return out;
        }
    return std::string(raw);
}

std::vector<std::uint16_t> utf16_of(std::string_view text)
{
    std::vector<std::uint16_t> units;
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t c = 0xFFFD;
        if (auto decoded = next_utf8(text, i)) c = *decoded;
        else ++i;
        if (c >= 0x10000) {
            units.push_back(static_cast<std::uint16_t>(0xD800 + ((c - 0x10000) >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<std::uint16_t>(c));
        }
    }
    return units;
}

// --- the file in memory ---------------------------------------------------

class MappedFile {
public:
    explicit MappedFile(const std::filesystem::path& path) : path_(path)
    {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) file_error(path, std::string("cannot be opened: ") + std::strerror(errno));
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(fd);
            file_error(path, "is not a regular file");
        }
        size = static_cast<std::uint64_t>(info.st_size);
        if (size == 0) return;
        void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map == MAP_FAILED) {
            ::close(fd);
            file_error(path, std::string("cannot be mapped: ") + std::strerror(errno));
        }
        data = static_cast<const std::byte*>(map);
    }
    ~MappedFile()
    {
        if (data) ::munmap(const_cast<std::byte*>(data), size);
        ::close(fd);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Copies `bytes` from `offset` with one read (the page cache straight into `out`).
    void read(std::byte* out, std::uint64_t bytes, std::uint64_t offset) const
    {
        while (bytes > 0) {
            const ssize_t got = ::pread(fd, out, bytes, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) file_error(path_, "could not be read to its end (it changed while being read?)");
            out += got;
            bytes -= static_cast<std::uint64_t>(got);
            offset += static_cast<std::uint64_t>(got);
        }
    }

    int fd = -1;
    const std::byte* data = nullptr;
    std::uint64_t size = 0;

private:
    std::filesystem::path path_;
};

// --- parsing the tag tree --------------------------------------------------

struct TagNode {
    std::string label;
    bool group = false;
    std::vector<TagNode> children;    // of a group
    std::vector<std::uint64_t> info;  // a data tag's type description
    std::uint64_t offset = 0;         // where its value lies in the file
    std::uint64_t bytes = 0;

    const TagNode* find(std::string_view name) const
    {
        for (const TagNode& child : children)
            if (child.label == name) return &child;
        return nullptr;
    }
};

class Parser {
public:
    Parser(const MappedFile& file, const std::filesystem::path& path) : file_(file), path_(path)
    {
        if (file.size < 16) fail("is too short to be a DM3 or DM4 file (" + str(file.size) + " bytes)");
        version = static_cast<int>(take(4, "the header"));
        if (version != 3 && version != 4)
            fail("is not a DM3 or DM4 file (its version field says " + str(static_cast<std::uint32_t>(version)) + ")");
        take(version == 4 ? 8 : 4, "the header");  // the root's length: the real size is what counts
        const std::uint64_t order = take(4, "the header");
        if (order > 1) fail("has a byte-order field of " + str(order) + ", not 0 or 1");
        little_endian = order == 1;
        root.group = true;
        parse_group(root, 0);
    }

    [[noreturn]] void fail(const std::string& what) const
    {
        std::string where;
        if (pos_ > 0) where = " (at byte " + str(pos_);
        if (!trail_.empty()) {
            where += where.empty() ? " (in tag " : ", in tag ";
            for (std::size_t i = 0; i < trail_.size(); ++i) where += (i ? ":" : "") + trail_[i];
        }
        file_error(path_, what + (where.empty() ? "" : where + ")"));
    }

    // The bytes of a type description's value, each count checked against
    // `limit` before it multiplies anything. Advances `at` past the description.
    std::uint64_t type_bytes(const std::vector<std::uint64_t>& info, std::size_t& at, int depth,
                             std::uint64_t limit) const
    {
        if (depth > kMaxTypeDepth) fail("a type description is nested too deeply");
        auto word = [&]() {
            if (at >= info.size()) fail("a type description is incomplete");
            return info[at++];
        };
        const std::uint64_t code = word();
        if (const std::uint64_t size = simple_size(code)) return size;
        switch (code) {
        case kString: {
            const std::uint64_t length = word();
            if (length > limit) fail("a string of " + str(length) + " bytes is longer than the rest of the file");
            return length;
        }
        case kStruct: {
            word();  // the struct's name length, always 0
            const std::uint64_t fields = word();
            if (fields > (info.size() - at) / 2) fail("a struct claims " + str(fields) + " fields, more than its description holds");
            std::uint64_t total = 0;
            for (std::uint64_t f = 0; f < fields; ++f) {
                word();  // the field's name length
                const std::uint64_t size = type_bytes(info, at, depth + 1, limit);
                if (size > limit - total) fail("a struct is larger than the rest of the file");
                total += size;
            }
            return total;
        }
        case kArray: {
            const std::uint64_t element = type_bytes(info, at, depth + 1, limit);
            const std::uint64_t count = word();
            if (element != 0 && count > limit / element)
                fail("an array of " + str(count) + " elements of " + str(element) +
                     " bytes is larger than the rest of the file");
            return element * count;
        }
        default: fail("a tag has the unknown data type " + str(code));
        }
    }

    template <class T>
    T load(std::uint64_t offset) const
    {
        T value;
        std::memcpy(&value, file_.data + offset, sizeof value);
        if (!little_endian) {
            if constexpr (sizeof(T) > 1) {
                auto bytes = std::bit_cast<std::array<std::byte, sizeof(T)>>(value);
                std::reverse(bytes.begin(), bytes.end());
                value = std::bit_cast<T>(bytes);
            }
        }
        return value;
    }

    // A simple value at `offset` as a double (exact for every integer a count or code needs).
    double number(std::uint64_t code, std::uint64_t offset) const
    {
        switch (code) {
        case kShort: return load<std::int16_t>(offset);
        case kLong: return load<std::int32_t>(offset);
        case kUShort: return load<std::uint16_t>(offset);
        case kULong: return load<std::uint32_t>(offset);
        case kFloat: return load<float>(offset);
        case kDouble: return load<double>(offset);
        case kBool: return load<std::uint8_t>(offset) != 0;
        case kChar: return load<std::int8_t>(offset);
        case kOctet: return load<std::uint8_t>(offset);
        case kInt64: return static_cast<double>(load<std::int64_t>(offset));
        case kUInt64: return static_cast<double>(load<std::uint64_t>(offset));
        default: return 0;
        }
    }

    std::string utf16_text(std::uint64_t offset, std::uint64_t units) const
    {
        std::string out;
        for (std::uint64_t i = 0; i < units; ++i) {
            std::uint32_t c = load<std::uint16_t>(offset + 2 * i);
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
                const std::uint32_t low = load<std::uint16_t>(offset + 2 * (i + 1));
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
            if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;  // an unpaired surrogate
            append_utf8(out, c);
        }
        return out;
    }

    // The number a simple data tag holds; nullopt when the tag is absent or not one.
    std::optional<double> number_of(const TagNode* node) const
    {
        if (!node || node->group || node->info.size() != 1 || !simple_size(node->info[0])) return std::nullopt;
        return number(node->info[0], node->offset);
    }

    // The text a tag holds (UTF-16 array or one-byte string); nullopt when it holds none.
    std::optional<std::string> text_of(const TagNode* node) const
    {
        if (!node || node->group) return std::nullopt;
        const auto& info = node->info;
        if (info.size() == 3 && info[0] == kArray && info[1] == kUShort) return utf16_text(node->offset, info[2]);
        if (info.size() == 2 && info[0] == kString) return decode_bytes(file_.data + node->offset, info[1]);
        return std::nullopt;
    }

    void enter(std::string name) { trail_.push_back(std::move(name)); }
    void leave() { trail_.pop_back(); }

    const MappedFile& file() const { return file_; }
    const std::filesystem::path& path() const { return path_; }

    TagNode root;
    int version = 0;
    bool little_endian = true;

private:
    void need(std::uint64_t n, const char* what) const
    {
        if (n > file_.size - pos_) fail(std::string("is truncated: ") + what + " runs past the end of the file");
    }

    std::uint64_t take(int bytes, const char* what)
    {
        need(static_cast<std::uint64_t>(bytes), what);
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value = (value << 8) | std::to_integer<std::uint64_t>(file_.data[pos_ + i]);
        pos_ += static_cast<std::uint64_t>(bytes);
        return value;
    }

    std::uint64_t word(const char* what) { return take(version == 4 ? 8 : 4, what); }

    void parse_group(TagNode& group, int depth)
    {
        if (depth > kMaxTagDepth) fail("has tag groups nested deeper than " + str(kMaxTagDepth) + " levels");
        take(2, "a tag group");  // sorted and open flags
        const std::uint64_t count = word("a tag group");
        // Every tag takes at least 3 bytes: its kind and its label's length.
        if (count > (file_.size - pos_) / 3)
            fail("has a tag group that claims " + str(count) + " tags, more than the rest of the file can hold");
        for (std::uint64_t i = 0; i < count; ++i) parse_tag(group.children.emplace_back(), depth, i);
    }

    void parse_tag(TagNode& tag, int depth, std::uint64_t index)
    {
        const std::uint64_t kind = take(1, "a tag");
        const std::uint64_t length = take(2, "a tag label");
        need(length, "a tag label");
        tag.label = decode_bytes(file_.data + pos_, length);
        pos_ += length;
        enter(tag.label.empty() ? "[" + str(index) + "]" : tag.label);
        if (version == 4) {
            const std::uint64_t size = take(8, "a tag size");
            if (size > file_.size - pos_)
                fail("is truncated: a tag claims " + str(size) + " bytes, but " + str(file_.size - pos_) + " remain");
        }
        if (kind == kGroupTag) {
            tag.group = true;
            parse_group(tag, depth + 1);
        } else if (kind == kDataTag) {
            parse_data(tag);
        } else {
            fail("has a tag of unknown kind " + str(kind) + " (20 is a group, 21 data)");
        }
        leave();
    }

    void parse_data(TagNode& tag)
    {
        need(4, "a data tag");
        if (std::memcmp(file_.data + pos_, "%%%%", 4) != 0) fail("has a data tag without its %%%% mark");
        pos_ += 4;
        const std::uint64_t words = word("a type description");
        const std::uint64_t word_bytes = version == 4 ? 8 : 4;
        if (words == 0 || words > (file_.size - pos_) / word_bytes)
            fail("has a type description of " + str(words) + " words, which the rest of the file cannot hold");
        tag.info.resize(words);
        for (auto& w : tag.info) w = word("a type description");
        std::size_t at = 0;
        const std::uint64_t bytes = type_bytes(tag.info, at, 0, file_.size - pos_);
        if (at != tag.info.size()) fail("has a type description with " + str(tag.info.size() - at) + " words too many");
        need(bytes, "a tag's value");
        tag.offset = pos_;
        tag.bytes = bytes;
        pos_ += bytes;
    }

    const MappedFile& file_;
    std::filesystem::path path_;
    std::uint64_t pos_ = 0;
    std::vector<std::string> trail_;
};

// --- tags of an image --------------------------------------------------------

TagData tag_number(double value, std::uint64_t code)
{
    const bool integral = code != kFloat && code != kDouble;
    if (integral && value >= std::numeric_limits<std::int32_t>::min() && value <= std::numeric_limits<std::int32_t>::max())
        return static_cast<std::int32_t>(value);
    return value;
}

// Turns the data tags and groups under an image's "ImageTags" into host tags.
class TagBuilder {
public:
    TagBuilder(const Parser& file, std::shared_ptr<ObjectBook> book) : file_(file), book_(std::move(book)) {}

    Ref<TagGroupObject> group(const TagNode& node)
    {
        Ref<TagGroupObject> out = make_object<TagGroupObject>(book_);
        for (const TagNode& child : node.children) {
            count();
            if (child.group) {
                out->entries.push_back({child.label, group(child), 0});
                continue;
            }
            std::size_t at = 0;
            std::uint64_t offset = child.offset;
            std::uint16_t encoding = 0;
            try {
                TagData value = data(child.info, at, offset, encoding, true);
                out->entries.push_back({child.label, std::move(value), encoding});
            } catch (const TooLong&) {
                // A bulk array, not a tag a script reads.
            }
        }
        return out;
    }

private:
    void count()
    {
        if (++made_ > kMaxImageTagEntries) file_.fail("has images with more than " + str(kMaxImageTagEntries) + " tags");
    }

    // An array too long to become tags: the whole data tag is left out.
    struct TooLong {};

    TagData data(const std::vector<std::uint64_t>& info, std::size_t& at, std::uint64_t& offset,
                 std::uint16_t& encoding, bool top)
    {
        const std::uint64_t code = info[at++];
        encoding = static_cast<std::uint16_t>(code);
        if (const std::uint64_t size = simple_size(code)) {
            const double value = file_.number(code, offset);
            offset += size;
            return tag_number(value, code);
        }
        if (code == kString) {
            const std::uint64_t length = info[at++];
            std::string text = decode_bytes(file_.file().data + offset, length);
            offset += length;
            return text;
        }
        Ref<TagGroupObject> out = make_object<TagGroupObject>(book_);
        if (code == kStruct) {
            at++;
            const std::uint64_t fields = info[at++];
            for (std::uint64_t f = 0; f < fields; ++f) {
                at++;
                std::uint16_t field_encoding = 0;
                TagData value = data(info, at, offset, field_encoding, false);
                count();
                out->entries.push_back({"", std::move(value), field_encoding});
            }
            return out;
        }
        // An array: the element's description, then the count.
        const std::size_t element_at = at;
        std::size_t end = at;
        file_.type_bytes(info, end, 0, std::numeric_limits<std::uint64_t>::max());
        const std::uint64_t elements = info[end];
        at = end + 1;
        if (top && info[element_at] == kUShort) {  // the files' form of text
            encoding = 0;
            std::string text = file_.utf16_text(offset, elements);
            offset += 2 * elements;
            return text;
        }
        if (elements > kMaxArrayTags) throw TooLong{};
        for (std::uint64_t k = 0; k < elements; ++k) {
            std::size_t element = element_at;
            std::uint16_t element_encoding = 0;
            TagData value = data(info, element, offset, element_encoding, false);
            count();
            out->entries.push_back({"", std::move(value), element_encoding});
        }
        return out;
    }

    const Parser& file_;
    std::shared_ptr<ObjectBook> book_;
    std::uint64_t made_ = 0;
};

// --- images ---------------------------------------------------------------

std::optional<DataType> host_type(std::uint64_t file_code)
{
    if (file_code == 23) return DataType::RGB;  // the files' RGBA of four bytes
    if (file_code > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return data_type_from_code(static_cast<std::uint32_t>(file_code));
}

// The bytes of one number in a pixel of `type` (the unit a byte swap works on).
std::size_t component_bytes(DataType type)
{
    switch (type) {
    case DataType::Complex8: return 4;
    case DataType::Complex16: return 8;
    default: return element_size(type);
    }
}

// A calibration number as the host keeps it: a float, saturated rather than out of range.
float to_float(double value)
{
    constexpr double kMax = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(value, -kMax, kMax));
}

[[noreturn]] void image_error(const std::filesystem::path& path, std::uint64_t index, const std::string& what)
{
    file_error(path, "image " + str(index) + " " + what);
}

Ref<ImageObject> read_image(const Parser& file, const TagNode& entry, std::uint64_t index, TagBuilder& tags,
                            const std::shared_ptr<ObjectBook>& book)
{
    auto fail = [&](const std::string& what) { image_error(file.path(), index, what); };
    const TagNode* data = entry.find("ImageData");
    if (!data || !data->group) fail("has no ImageData group");

    const std::optional<double> code = file.number_of(data->find("DataType"));
    if (!code) fail("has no DataType");
    const bool whole = *code >= 0 && *code <= 1e6 && *code == std::floor(*code);  // NaN is not
    const std::optional<DataType> type = whole ? host_type(static_cast<std::uint64_t>(*code)) : std::nullopt;
    if (!type) {
        const bool packed = *code == 5 || *code == 27 || *code == 28;
        char shown[32];
        std::snprintf(shown, sizeof shown, "%g", *code);
        fail("has the data type " + std::string(shown) +
             (packed ? " (packed complex), which the host does not hold" : ", which the host does not know"));
    }

    const TagNode* dimensions = data->find("Dimensions");
    if (!dimensions || !dimensions->group || dimensions->children.empty() ||
        dimensions->children.size() > kMaxFileDimensions)
        fail("has no list of 1 to 4 Dimensions");
    std::vector<std::int64_t> sizes;
    for (const TagNode& d : dimensions->children) {
        const std::optional<double> size = file.number_of(&d);
        if (!size || *size < 1 || *size > std::numeric_limits<std::int32_t>::max() || *size != std::floor(*size))
            fail("has a dimension that is not a size from 1 to 2147483647");
        sizes.push_back(static_cast<std::int64_t>(*size));
    }

    const TagNode* pixels = data->find("Data");
    if (!pixels || pixels->group || pixels->info.empty() || pixels->info[0] != kArray) fail("has no pixel Data array");
    // The bytes the sizes need, each product checked for overflow before it is used.
    std::uint64_t needed = element_size(*type);
    bool overflow = false;
    for (std::int64_t size : sizes) overflow = overflow || __builtin_mul_overflow(needed, static_cast<std::uint64_t>(size), &needed);
    if (overflow || needed != pixels->bytes) {
        std::string shape;
        for (std::int64_t size : sizes) shape += (shape.empty() ? "" : " x ") + std::to_string(size);
        fail("has a pixel Data block of " + str(pixels->bytes) + " bytes, but " + shape + " " +
             std::string(data_type_name(*type)) + " pixels need " + (overflow ? std::string("more than 2^64") : str(needed)));
    }

    Ref<ImageObject> image = make_object<ImageObject>(book);
    image->type = *type;
    image->num_dims = static_cast<int>(sizes.size());
    std::int64_t stride = static_cast<std::int64_t>(element_size(*type));
    for (std::size_t d = 0; d < sizes.size(); ++d) {
        image->sizes[d] = sizes[d];
        image->strides[d] = stride;
        stride *= sizes[d];
    }
    image->pixels = std::make_shared<PixelBuffer>(pixels->bytes, PixelBuffer::Uninitialised{});
    file.file().read(image->pixels->data(), pixels->bytes, pixels->offset);
    if (!file.little_endian) {
        const std::size_t unit = component_bytes(*type);
        for (std::byte* p = image->pixels->data(); unit > 1 && p < image->pixels->data() + pixels->bytes; p += unit)
            std::reverse(p, p + unit);
    }

    image->name = file.text_of(entry.find("Name")).value_or("");
    const TagNode* calibrations = data->find("Calibrations");
    const TagNode* per_dimension = calibrations ? calibrations->find("Dimension") : nullptr;
    if (per_dimension && per_dimension->group) {
        for (std::size_t d = 0; d < sizes.size() && d < per_dimension->children.size(); ++d) {
            const TagNode& cal = per_dimension->children[d];
            image->calibrations[d].origin = to_float(file.number_of(cal.find("Origin")).value_or(0.0));
            image->calibrations[d].scale = to_float(file.number_of(cal.find("Scale")).value_or(1.0));
            image->calibrations[d].units = file.text_of(cal.find("Units")).value_or("");
        }
    }
    const TagNode* image_tags = entry.find("ImageTags");
    image->tags = image_tags && image_tags->group ? tags.group(*image_tags) : make_object<TagGroupObject>(book);
    return image;
}

// --- writing ----------------------------------------------------------------

// The file being written: bytes of ours, with the pixel blocks referred to
// where they lie so that they are written straight from the images.
class Writer {
public:
    explicit Writer(int version) : version_(version) { segments_.emplace_back(); }

    struct Mark {
        std::size_t segment, at;
        std::uint64_t position;
    };

    void raw(const void* p, std::size_t n)
    {
        segments_.back().bytes.append(static_cast<const char*>(p), n);
        position_ += n;
    }
    void big(std::uint64_t value, int bytes)
    {
        for (int i = bytes - 1; i >= 0; --i) segments_.back().bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
        position_ += static_cast<std::uint64_t>(bytes);
    }
    template <class T>
    void little(T value) { raw(&value, sizeof value); }
    void word(std::uint64_t value)
    {
        if (version_ == 3 && value > std::numeric_limits<std::uint32_t>::max())
            throw FileError("holds a count of " + str(value) + ", too large for a DM3 file; save it as .dm4");
        big(value, version_ == 4 ? 8 : 4);
    }
    void external(const std::byte* p, std::uint64_t n)
    {
        segments_.back().pixels = p;
        segments_.back().pixel_bytes = n;
        position_ += n;
        segments_.emplace_back();
    }
    Mark mark() const { return {segments_.size() - 1, segments_.back().bytes.size(), position_}; }
    void patch(const Mark& mark, std::uint64_t value, int bytes)
    {
        for (int i = 0; i < bytes; ++i)
            segments_[mark.segment].bytes[mark.at + i] = static_cast<char>((value >> (8 * (bytes - 1 - i))) & 0xFF);
    }
    std::uint64_t position() const { return position_; }
    int version() const { return version_; }

    void label(std::uint64_t kind, std::string_view name)
    {
        if (name.size() > 0xFFFF) throw FileError("holds a tag label longer than 65535 bytes");
        big(kind, 1);
        big(name.size(), 2);
        raw(name.data(), name.size());
    }

    // A group of `count` tags: end_group() after them.
    Mark begin_group(std::string_view name, std::uint64_t count)
    {
        label(kGroupTag, name);
        const Mark size = mark();
        if (version_ == 4) big(0, 8);
        big(0, 1);  // not sorted
        big(1, 1);  // open
        word(count);
        return size;
    }
    void end_group(const Mark& size)
    {
        if (version_ == 4) patch(size, position_ - size.position - 8, 8);
    }

    // A data tag's head: its value of `bytes` follows.
    void begin_data(std::string_view name, const std::vector<std::uint64_t>& info, std::uint64_t bytes)
    {
        label(kDataTag, name);
        const std::uint64_t w = version_ == 4 ? 8 : 4;
        if (version_ == 4) big(4 + w + w * info.size() + bytes, 8);
        raw("%%%%", 4);
        word(info.size());
        for (std::uint64_t v : info) word(v);
    }

    void write_to(int fd, const std::filesystem::path& path) const
    {
        auto put = [&](const void* p, std::uint64_t n) {
            auto* bytes = static_cast<const char*>(p);
            while (n > 0) {
                const ssize_t done = ::write(fd, bytes, std::min<std::uint64_t>(n, 1u << 30));
                if (done < 0 && errno == EINTR) continue;
                if (done <= 0) file_error(path, std::string("cannot be written: ") + std::strerror(errno));
                bytes += done;
                n -= static_cast<std::uint64_t>(done);
            }
        };
        for (const Segment& s : segments_) {
            put(s.bytes.data(), s.bytes.size());
            if (s.pixels) put(s.pixels, s.pixel_bytes);
        }
    }

private:
    struct Segment {
        std::string bytes;
        const std::byte* pixels = nullptr;
        std::uint64_t pixel_bytes = 0;
    };
    int version_;
    std::vector<Segment> segments_;
    std::uint64_t position_ = 0;
};

std::uint64_t scalar_code(const TagData& value, std::uint16_t encoding)
{
    if (simple_size(encoding)) return encoding;
    return std::holds_alternative<std::int32_t>(value) ? kLong : kDouble;
}

template <class T>
T clamp_to(double value)
{
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(value);
    } else {
        if (std::isnan(value)) return 0;
        if (value <= static_cast<double>(std::numeric_limits<T>::lowest())) return std::numeric_limits<T>::lowest();
        if (value >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
        return static_cast<T>(value);
    }
}

void write_scalar(Writer& out, std::uint64_t code, double v)
{
    switch (code) {
    case kShort: out.little(clamp_to<std::int16_t>(v)); break;
    case kLong: out.little(clamp_to<std::int32_t>(v)); break;
    case kUShort: out.little(clamp_to<std::uint16_t>(v)); break;
    case kULong: out.little(clamp_to<std::uint32_t>(v)); break;
    case kFloat: out.little(static_cast<float>(v)); break;
    case kDouble: out.little(v); break;
    case kBool: out.little(static_cast<std::uint8_t>(v != 0)); break;
    case kChar: out.little(clamp_to<std::int8_t>(v)); break;
    case kOctet: out.little(clamp_to<std::uint8_t>(v)); break;
    case kInt64: out.little(clamp_to<std::int64_t>(v)); break;
    case kUInt64: out.little(clamp_to<std::uint64_t>(v)); break;
    }
}

double as_double(const TagData& value)
{
    if (const auto* i = std::get_if<std::int32_t>(&value)) return *i;
    return std::get<double>(value);
}

// The type description and value size of a tag stored as data, or nullopt
// when it is stored as a tag group (a group, or a list the data types cannot
// describe: mixed elements, for one).
std::optional<std::uint64_t> describe(const TagData& value, std::uint16_t encoding, std::vector<std::uint64_t>& info)
{
    if (std::holds_alternative<std::int32_t>(value) || std::holds_alternative<double>(value)) {
        const std::uint64_t code = scalar_code(value, encoding);
        info.push_back(code);
        return simple_size(code);
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        if (encoding == kString) {
            info.insert(info.end(), {kString, text->size()});
            return text->size();
        }
        const std::uint64_t units = utf16_of(*text).size();
        info.insert(info.end(), {kArray, kUShort, units});
        return 2 * units;
    }
    const TagGroupObject& group = *std::get<Ref<TagGroupObject>>(value);
    const auto& entries = group.entries;
    if (encoding == kStruct) {
        info.insert(info.end(), {kStruct, 0, entries.size()});
        std::uint64_t total = 0;
        for (const auto& e : entries) {
            if (std::holds_alternative<std::string>(e.value) || std::holds_alternative<Ref<TagGroupObject>>(e.value))
                return std::nullopt;
            info.push_back(0);
            total += *describe(e.value, e.encoding, info);
        }
        return total;
    }
    if (encoding != kArray || entries.empty()) return std::nullopt;
    for (const auto& e : entries)  // texts of any length: a list of texts
        if (std::holds_alternative<std::string>(e.value) && e.encoding != kString) return std::nullopt;
    std::vector<std::uint64_t> first;
    const std::optional<std::uint64_t> element = describe(entries[0].value, entries[0].encoding, first);
    if (!element) return std::nullopt;
    for (const auto& e : entries) {
        std::vector<std::uint64_t> other;
        if (describe(e.value, e.encoding, other) != element || other != first) return std::nullopt;
    }
    info.push_back(kArray);
    info.insert(info.end(), first.begin(), first.end());
    info.push_back(entries.size());
    return *element * entries.size();
}

void write_value(Writer& out, const TagData& value, std::uint16_t encoding)
{
    if (std::holds_alternative<std::int32_t>(value) || std::holds_alternative<double>(value)) {
        write_scalar(out, scalar_code(value, encoding), as_double(value));
    } else if (const auto* text = std::get_if<std::string>(&value)) {
        if (encoding == kString) {
            out.raw(text->data(), text->size());
        } else {
            for (std::uint16_t unit : utf16_of(*text)) out.little(unit);
        }
    } else {
        for (const auto& e : std::get<Ref<TagGroupObject>>(value)->entries) write_value(out, e.value, e.encoding);
    }
}

void write_tag(Writer& out, std::string_view name, const TagData& value, std::uint16_t encoding)
{
    std::vector<std::uint64_t> info;
    if (const std::optional<std::uint64_t> bytes = describe(value, encoding, info)) {
        out.begin_data(name, info, *bytes);
        write_value(out, value, encoding);
        return;
    }
    const auto& entries = std::get<Ref<TagGroupObject>>(value)->entries;
    const Writer::Mark size = out.begin_group(name, entries.size());
    for (const auto& e : entries) write_tag(out, e.name, e.value, e.encoding);
    out.end_group(size);
}

void write_number(Writer& out, std::string_view name, std::uint64_t code, double value)
{
    out.begin_data(name, {code}, simple_size(code));
    write_scalar(out, code, value);
}

void write_text(Writer& out, std::string_view name, std::string_view text)
{
    write_tag(out, name, std::string(text), 0);
}

void write_calibration(Writer& out, float origin, float scale, std::string_view units)
{
    const Writer::Mark size = out.begin_group("", 3);
    write_number(out, "Origin", kFloat, origin);
    write_number(out, "Scale", kFloat, scale);
    write_text(out, "Units", units);
    out.end_group(size);
}

// The pixel array's type description, as the host application writes it:
// an array of the pixel's number type, or of a struct of two for complex.
std::vector<std::uint64_t> pixel_array_info(DataType type, std::uint64_t pixels)
{
    switch (type) {
    case DataType::Complex8: return {kArray, kStruct, 0, 2, 0, kFloat, 0, kFloat, pixels};
    case DataType::Complex16: return {kArray, kStruct, 0, 2, 0, kDouble, 0, kDouble, pixels};
    default: break;
    }
    std::uint64_t element = kOctet;
    switch (type) {
    case DataType::Int8: element = kChar; break;
    case DataType::UInt8: element = kOctet; break;
    case DataType::Int16: element = kShort; break;
    case DataType::UInt16: element = kUShort; break;
    case DataType::Int32: case DataType::RGB: element = kLong; break;
    case DataType::UInt32: element = kULong; break;
    case DataType::Real4: element = kFloat; break;
    case DataType::Real8: element = kDouble; break;
    case DataType::Binary: element = kBool; break;
    default: break;
    }
    return {kArray, element, pixels};
}

void write_image(Writer& out, const ImageObject& image, const std::byte* pixels)
{
    const Writer::Mark entry = out.begin_group("", 3);
    {
        const Writer::Mark image_data = out.begin_group("ImageData", 5);
        {
            const Writer::Mark calibrations = out.begin_group("Calibrations", 3);
            const Writer::Mark brightness = out.begin_group("Brightness", 3);
            write_number(out, "Origin", kFloat, 0.0);
            write_number(out, "Scale", kFloat, 1.0);
            write_text(out, "Units", "");
            out.end_group(brightness);
            const Writer::Mark dimension = out.begin_group("Dimension", static_cast<std::uint64_t>(image.num_dims));
            for (int d = 0; d < image.num_dims; ++d) {
                const Calibration& c = image.calibrations[d];
                write_calibration(out, c.origin, c.scale, c.units);
            }
            out.end_group(dimension);
            write_number(out, "DisplayCalibratedUnits", kBool, 1);
            out.end_group(calibrations);
        }
        const auto count = static_cast<std::uint64_t>(image.element_count());
        const std::uint64_t bytes = count * image.element_bytes();
        out.begin_data("Data", pixel_array_info(image.type, count), bytes);
        out.external(pixels, bytes);
        const std::uint32_t code = image.type == DataType::RGB ? 23u : static_cast<std::uint32_t>(image.type);
        write_number(out, "DataType", kLong, code);
        const Writer::Mark dimensions = out.begin_group("Dimensions", static_cast<std::uint64_t>(image.num_dims));
        for (int d = 0; d < image.num_dims; ++d) write_number(out, "", kULong, static_cast<double>(image.sizes[d]));
        out.end_group(dimensions);
        write_number(out, "PixelDepth", kLong, static_cast<double>(image.element_bytes()));
        out.end_group(image_data);
    }
    if (image.tags)
        write_tag(out, "ImageTags", image.tags, 0);
    else
        out.end_group(out.begin_group("ImageTags", 0));
    write_text(out, "Name", image.name);
    out.end_group(entry);
}

// --- the tag tree as text ---------------------------------------------------------

std::string kind_name(const TagData& value, std::uint16_t encoding)
{
    if (const char* name = type_name(encoding)) return name;
    if (std::holds_alternative<std::int32_t>(value)) return "long";
    if (std::holds_alternative<double>(value)) return "double";
    if (std::holds_alternative<std::string>(value)) return "text";
    return "group";
}

void format_group(std::string& out, const TagGroupObject& group, int depth)
{
    std::size_t index = 0;
    for (const auto& e : group.entries) {
        out.append(2 * static_cast<std::size_t>(depth), ' ');
        out += e.name.empty() ? "[" + std::to_string(index) + "]" : e.name;
        ++index;
        out += " (" + kind_name(e.value, e.encoding) + ")";
        if (const auto* i = std::get_if<std::int32_t>(&e.value)) {
            out += " = " + std::to_string(*i) + "\n";
        } else if (const auto* d = std::get_if<double>(&e.value)) {
            char text[40];
            std::snprintf(text, sizeof text, std::floor(*d) == *d && std::fabs(*d) < 1e18 ? "%.0f" : "%.9g", *d);
            out += std::string(" = ") + text + "\n";
        } else if (const auto* s = std::get_if<std::string>(&e.value)) {
            out += " = \"" + *s + "\"\n";
        } else {
            const auto& inner = *std::get<Ref<TagGroupObject>>(e.value);
            out += ", " + std::to_string(inner.entries.size()) + " entries\n";
            format_group(out, inner, depth + 1);
        }
    }
}

}  // namespace

std::vector<Ref<ImageObject>> read_dm_file(const std::shared_ptr<ObjectBook>& book, const std::filesystem::path& path)
{
    const MappedFile file(path);
    Parser parser(file, path);
    const TagNode* list = parser.root.find("ImageList");
    if (!list || !list->group) file_error(path, "holds no ImageList: it is not an image file");

    std::vector<double> thumbnails;
    if (const TagNode* previews = parser.root.find("Thumbnails"); previews && previews->group)
        for (const TagNode& preview : previews->children)
            if (auto index = parser.number_of(preview.find("ImageIndex"))) thumbnails.push_back(*index);

    TagBuilder tags(parser, book);
    std::vector<Ref<ImageObject>> images;
    for (std::size_t i = 0; i < list->children.size(); ++i) {
        if (std::find(thumbnails.begin(), thumbnails.end(), static_cast<double>(i)) != thumbnails.end()) continue;
        images.push_back(read_image(parser, list->children[i], i, tags, book));
    }
    return images;
}

void write_dm_file(std::span<const ImageObject* const> images, const std::filesystem::path& path, int version)
{
    if (version != 3 && version != 4) throw UsageError("A DM file has version 3 or 4, not " + std::to_string(version) + ".");
    if (images.empty()) throw UsageError("A DM file needs at least one image.");
    std::vector<std::unique_ptr<std::byte[]>> copies;  // dense pixels of sub-areas
    Writer out(version);
    try {
        out.big(static_cast<std::uint64_t>(version), 4);
        const Writer::Mark length = out.mark();
        out.big(0, version == 4 ? 8 : 4);
        out.big(1, 4);  // little endian
        out.big(0, 1);
        out.big(1, 1);
        out.word(3);  // the root: ImageList, ImageSourceList, InImageMode
        const Writer::Mark list = out.begin_group("ImageList", images.size());
        for (const ImageObject* image : images) {
            if (image->num_dims < 1 || image->num_dims > kMaxFileDimensions)
                throw FileError("cannot hold the " + std::to_string(image->num_dims) +
                                "-dimensional image \"" + image->name + "\": DM files hold 1 to 4 dimensions");
            const std::byte* pixels = image->pixels->data() + image->offset;
            if (image->is_subarea) {
                const std::size_t bytes = static_cast<std::size_t>(image->element_count()) * image->element_bytes();
                copies.push_back(std::make_unique<std::byte[]>(bytes));
                read_pixels(*image, copies.back().get());
                pixels = copies.back().get();
            }
            write_image(out, *image, pixels);
        }
        out.end_group(list);
        // The image sources that the host application's documents refer to.
        const Writer::Mark sources = out.begin_group("ImageSourceList", images.size());
        for (std::size_t i = 0; i < images.size(); ++i) {
            const Writer::Mark source = out.begin_group("", 3);
            write_text(out, "ClassName", "ImageSource:Simple");
            const Writer::Mark id = out.begin_group("Id", 1);
            write_number(out, "", kULong, static_cast<double>(i));
            out.end_group(id);
            write_number(out, "ImageRef", kULong, static_cast<double>(i));
            out.end_group(source);
        }
        out.end_group(sources);
        write_number(out, "InImageMode", kBool, 1);
        out.big(0, 8);  // the end mark
        const std::uint64_t total = out.position();
        if (version == 3 && total - 16 > std::numeric_limits<std::uint32_t>::max())
            throw FileError("is too large for a DM3 file; save it as .dm4");
        out.patch(length, total - (version == 4 ? 24 : 16), version == 4 ? 8 : 4);
    } catch (const FileError& error) {
        file_error(path, error.what());
    }

    // Written beside the target and renamed over it: the file appears whole or not at all.
    std::string temporary = path.string() + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) file_error(path, std::string("cannot be written: ") + std::strerror(errno));
    try {
        out.write_to(fd, path);
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    } catch (...) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    if (::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        file_error(path, std::string("cannot be written: ") + std::strerror(error));
    }
}

std::vector<Image> Host::open_file(const std::filesystem::path& path)
{
    std::vector<Image> images;
    for (Ref<ImageObject>& image : read_dm_file(state_->book, path)) images.emplace_back(ObjectHandle::adopt(image.release()));
    return images;
}

void save_file(std::span<const Image> images, const std::filesystem::path& path, int version)
{
    std::vector<const ImageObject*> objects;
    for (const Image& image : images) {
        const ImageObject* object = object_cast<ImageObject>(image.get());
        if (!object) throw UsageError("Only live images can be saved.");
        objects.push_back(object);
    }
    write_dm_file(objects, path, version);
}

std::string format_tags(const TagGroup& tags)
{
    const TagGroupObject* group = object_cast<TagGroupObject>(tags.get());
    if (!group) throw UsageError("The handle is not a live tag group.");
    std::string out;
    format_group(out, *group, 0);
    return out;
}

}  // namespace lumadex::host
