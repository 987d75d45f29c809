// The tag tree of a DM3 / DM4 file (the format is described in dm_reader.h),
// parsed and checked against the bytes the file really has.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dm_format.h"
#include "dm_text.h"
#include "tag_group_object.h"

namespace lumadex::host::dm {

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


}  // namespace lumadex::host::dm
