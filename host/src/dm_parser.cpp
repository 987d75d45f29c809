#include "dm_parser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>

#include "dm_format.h"
#include "dm_text.h"
#include "tag_group_object.h"

namespace lumadex::host::dm {

// --- the file -------------------------------------------------------------------

namespace {
constexpr std::size_t kWindowBytes = std::size_t{1} << 16;
}

FileSource::FileSource(const std::filesystem::path& path) : path_(path)
{
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) file_error(path, std::string("cannot be opened: ") + std::strerror(errno));
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd_);
        file_error(path, "is not a regular file");
    }
    size_ = static_cast<std::uint64_t>(info.st_size);
}

FileSource::~FileSource() { ::close(fd_); }

const std::byte* FileSource::view(std::uint64_t offset, std::size_t n)
{
    if (offset >= window_at_ && offset - window_at_ + n <= window_bytes_) return window_.data() + (offset - window_at_);
    const std::size_t bytes = static_cast<std::size_t>(std::min<std::uint64_t>(std::max(n, kWindowBytes), size_ - offset));
    if (window_.size() < bytes) window_.resize(bytes);
    window_bytes_ = 0;  // until the read below has succeeded
    read(window_.data(), bytes, offset);
    window_at_ = offset;
    window_bytes_ = bytes;
    return window_.data();
}

void FileSource::read(std::byte* out, std::uint64_t bytes, std::uint64_t offset) const
{
    while (bytes > 0) {
        const ssize_t got = ::pread(fd_, out, std::min<std::uint64_t>(bytes, 1u << 30), static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) file_error(path_, std::string("could not be read: ") + std::strerror(errno));
        if (got == 0) file_error(path_, "could not be read to its end: it became shorter while being read");
        out += got;
        bytes -= static_cast<std::uint64_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
}

// --- parsing --------------------------------------------------------------------

Parser::Parser(FileSource& file) : file_(file)
{
    if (file.size() < 16) fail("is too short to be a DM3 or DM4 file (" + str(file.size()) + " bytes)");
    version = static_cast<int>(take(4, "the header"));
    if (version != 3 && version != 4)
        fail("is not a DM3 or DM4 file (its version field says " + str(static_cast<std::uint32_t>(version)) + ")");
    take(version == 4 ? 8 : 4, "the header");  // the root's length: the real size is what counts
    const std::uint64_t order = take(4, "the header");
    if (order > 1) fail("has a byte-order field of " + str(order) + ", not 0 or 1");
    little_endian = order == 1;
    nodes_.emplace_back().group = true;
    parse_group(true, 0);
    nodes_[0].next = nodes_.size();
}

void Parser::fail(const std::string& what) const
{
    std::string where;
    if (pos_ > 0) where = " (at byte " + str(pos_);
    if (!trail_.empty()) {
        where += where.empty() ? " (in tag " : ", in tag ";
        for (std::size_t i = 0; i < trail_.size(); ++i) where += (i ? ":" : "") + trail_[i];
    }
    file_error(file_.path(), what + (where.empty() ? "" : where + ")"));
}

void Parser::need(std::uint64_t n, const char* what) const
{
    if (n > file_.size() - pos_) fail(std::string("is truncated: ") + what + " runs past the end of the file");
}

std::uint64_t Parser::take(int bytes, const char* what)
{
    need(static_cast<std::uint64_t>(bytes), what);
    const std::byte* p = file_.view(pos_, static_cast<std::size_t>(bytes));
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | std::to_integer<std::uint64_t>(p[i]);
    pos_ += static_cast<std::uint64_t>(bytes);
    return value;
}

// The groups under an image's ImageTags lie kImageTagsLevel levels below the
// root; they may nest as deeply as any tag tree the host holds.
void Parser::parse_group(bool keep, int depth)
{
    if (depth > kMaxTagDepth + kImageTagsLevel)
        fail("has tag groups nested deeper than " + str(kMaxTagDepth + kImageTagsLevel) + " levels");
    take(2, "a tag group");  // sorted and open flags
    const std::uint64_t count = word("a tag group");
    // Every tag takes at least 3 bytes: its kind and its label's length.
    if (count > (file_.size() - pos_) / 3)
        fail("has a tag group that claims " + str(count) + " tags, more than the rest of the file can hold");
    for (std::uint64_t i = 0; i < count; ++i) parse_tag(keep, depth, i, depth == 0);
}

void Parser::parse_tag(bool keep, int depth, std::uint64_t index, bool in_root)
{
    const std::uint64_t kind = take(1, "a tag");
    const std::uint64_t length = take(2, "a tag label");
    need(length, "a tag label");
    const std::string_view raw(reinterpret_cast<const char*>(file_.view(pos_, length)), length);
    // Of the root's tags only the image list and the list of previews are kept.
    if (in_root) keep = raw == "ImageList" || raw == "Thumbnails";
    const NodeId id = nodes_.size();
    if (keep) {
        TagNode& tag = nodes_.emplace_back();
        tag.label_at = labels_.size();
        tag.label_bytes = static_cast<std::uint16_t>(length);
        labels_.append(raw);
    }
    {
        const std::string label = decode_bytes(reinterpret_cast<const std::byte*>(raw.data()), length);
        trail_.push_back(label.empty() ? "[" + str(index) + "]" : label);
    }
    pos_ += length;
    if (version == 4) {
        const std::uint64_t size = take(8, "a tag size");
        if (size > file_.size() - pos_)
            fail("is truncated: a tag claims " + str(size) + " bytes, but " + str(file_.size() - pos_) + " remain");
    }
    if (kind == kGroupTag) {
        if (keep) nodes_[id].group = true;
        parse_group(keep, depth + 1);
    } else if (kind == kDataTag) {
        parse_data(keep ? &nodes_[id] : nullptr);
    } else {
        fail("has a tag of unknown kind " + str(kind) + " (20 is a group, 21 data)");
    }
    if (keep) nodes_[id].next = nodes_.size();
    trail_.pop_back();
}

void Parser::parse_data(TagNode* tag)
{
    need(4, "a data tag");
    if (std::memcmp(file_.view(pos_, 4), "%%%%", 4) != 0) fail("has a data tag without its %%%% mark");
    pos_ += 4;
    const std::uint64_t words = word("a type description");
    const std::uint64_t word_bytes = version == 4 ? 8 : 4;
    if (words == 0 || words > (file_.size() - pos_) / word_bytes || words > std::numeric_limits<std::uint32_t>::max())
        fail("has a type description of " + str(words) + " words, which the rest of the file cannot hold");
    const std::size_t info_at = words_.size();
    for (std::uint64_t w = 0; w < words; ++w) words_.push_back(word("a type description"));
    const std::span<const std::uint64_t> info(words_.data() + info_at, words);
    std::size_t at = 0;
    const std::uint64_t bytes = type_bytes(info, at, 0, file_.size() - pos_);
    if (at != info.size()) fail("has a type description with " + str(info.size() - at) + " words too many");
    need(bytes, "a tag's value");
    if (tag) {
        tag->info_at = info_at;
        tag->info_words = static_cast<std::uint32_t>(words);
        tag->value_at = pos_;
        tag->value_bytes = bytes;
    } else {
        words_.resize(info_at);
    }
    pos_ += bytes;
}

std::uint64_t Parser::type_bytes(std::span<const std::uint64_t> info, std::size_t& at, int depth,
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

// --- the tree ---------------------------------------------------------------------

std::size_t Parser::child_count(NodeId group) const
{
    std::size_t n = 0;
    for (NodeId c = first_child(group); c < end_of(group); c = end_of(c)) ++n;
    return n;
}

// Labels are compared as the file's bytes: for an ASCII name that is the same
// as comparing the decoded label, since a label that is not UTF-8 decodes to
// text that is not ASCII.
NodeId Parser::find(NodeId group, std::string_view name) const
{
    if (!is_group(group)) return kNoNode;
    for (NodeId c = first_child(group); c < end_of(group); c = end_of(c))
        if (std::string_view(labels_).substr(nodes_[c].label_at, nodes_[c].label_bytes) == name) return c;
    return kNoNode;
}

std::string Parser::label(NodeId id) const
{
    const TagNode& n = nodes_[id];
    return decode_bytes(reinterpret_cast<const std::byte*>(labels_.data() + n.label_at), n.label_bytes);
}

std::span<const std::uint64_t> Parser::info(NodeId id) const
{
    const TagNode& n = nodes_[id];
    return {words_.data() + n.info_at, n.info_words};
}

// --- values -----------------------------------------------------------------------

namespace {
template <class T>
T load(const std::byte* p, bool little_endian)
{
    auto bytes = std::bit_cast<std::array<std::byte, sizeof(T)>>(T{});
    std::memcpy(bytes.data(), p, sizeof(T));
    if (!little_endian) std::reverse(bytes.begin(), bytes.end());
    return std::bit_cast<T>(bytes);
}
}  // namespace

double Parser::number(std::uint64_t code, std::uint64_t offset)
{
    const std::byte* p = file_.view(offset, simple_size(code));
    switch (code) {
    case kShort: return load<std::int16_t>(p, little_endian);
    case kLong: return load<std::int32_t>(p, little_endian);
    case kUShort: return load<std::uint16_t>(p, little_endian);
    case kULong: return load<std::uint32_t>(p, little_endian);
    case kFloat: return load<float>(p, little_endian);
    case kDouble: return load<double>(p, little_endian);
    case kBool: return load<std::uint8_t>(p, little_endian) != 0;
    case kChar: return load<std::int8_t>(p, little_endian);
    case kOctet: return load<std::uint8_t>(p, little_endian);
    case kInt64: return static_cast<double>(load<std::int64_t>(p, little_endian));
    case kUInt64: return static_cast<double>(load<std::uint64_t>(p, little_endian));
    default: return 0;
    }
}

std::string Parser::utf16_text(std::uint64_t offset, std::uint64_t units)
{
    std::vector<std::byte> bytes(2 * units);
    file_.read(bytes.data(), bytes.size(), offset);
    return decode_utf16(bytes.data(), units, little_endian);
}

std::string Parser::byte_text(std::uint64_t offset, std::uint64_t bytes)
{
    std::vector<std::byte> raw(bytes);
    file_.read(raw.data(), bytes, offset);
    return decode_bytes(raw.data(), bytes);
}

std::optional<double> Parser::number_of(NodeId id)
{
    if (id == kNoNode || nodes_[id].group) return std::nullopt;
    const auto words = info(id);
    if (words.size() != 1 || !simple_size(words[0])) return std::nullopt;
    return number(words[0], nodes_[id].value_at);
}

std::optional<std::string> Parser::text_of(NodeId id)
{
    if (id == kNoNode || nodes_[id].group) return std::nullopt;
    const auto words = info(id);
    if (words.size() == 3 && words[0] == kArray && words[1] == kUShort) return utf16_text(nodes_[id].value_at, words[2]);
    if (words.size() == 2 && words[0] == kString) return byte_text(nodes_[id].value_at, words[1]);
    return std::nullopt;
}

}  // namespace lumadex::host::dm
