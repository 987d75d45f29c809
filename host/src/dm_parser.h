// The tag tree of a DM3 / DM4 file (the format is described in dm_reader.h),
// parsed and checked against the bytes the file really has.
//
// The file is read with pread through a small window, never mapped: a file
// that another program truncates while it is read gives FileError, not
// SIGBUS. The tree is kept compactly, as one flat list of fixed-size nodes in
// file order whose labels and type descriptions lie in two shared buffers;
// only the root's ImageList and Thumbnails are kept at all, the rest of the
// file is checked and passed over. Values stay in the file until asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumadex::host::dm {

// An open file, read by position. Every read lies within size(), the size the
// file had when it was opened; one that the file no longer holds is a FileError.
class FileSource {
public:
    explicit FileSource(const std::filesystem::path& path);
    ~FileSource();
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::uint64_t size() const { return size_; }
    const std::filesystem::path& path() const { return path_; }

    // The `n` bytes at `offset`, for small items (labels, words, numbers):
    // valid until the next call.
    const std::byte* view(std::uint64_t offset, std::size_t n);
    // Copies `bytes` from `offset` into `out`.
    void read(std::byte* out, std::uint64_t bytes, std::uint64_t offset) const;

private:
    std::filesystem::path path_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::vector<std::byte> window_;
    std::uint64_t window_at_ = 0;
    std::size_t window_bytes_ = 0;
};

using NodeId = std::uint64_t;
inline constexpr NodeId kNoNode = std::numeric_limits<NodeId>::max();

struct TagNode {
    std::uint64_t next = 0;         // the node after this one and all it holds
    std::uint64_t label_at = 0;     // the label's bytes in the parser's label buffer
    std::uint64_t info_at = 0;      // a data tag's type description in the parser's word buffer
    std::uint64_t value_at = 0;     // where a data tag's value lies in the file
    std::uint64_t value_bytes = 0;
    std::uint32_t info_words = 0;
    std::uint16_t label_bytes = 0;
    bool group = false;
};

class Parser {
public:
    explicit Parser(FileSource& file);

    [[noreturn]] void fail(const std::string& what) const;

    // --- the tree: node 0 is the root; a group's children follow it ---------
    const TagNode& node(NodeId id) const { return nodes_[id]; }
    bool is_group(NodeId id) const { return id != kNoNode && nodes_[id].group; }
    NodeId first_child(NodeId group) const { return group + 1; }
    NodeId end_of(NodeId id) const { return nodes_[id].next; }
    std::size_t child_count(NodeId group) const;
    // The first child of `group` labelled `name` (ASCII), or kNoNode.
    NodeId find(NodeId group, std::string_view name) const;
    std::string label(NodeId id) const;
    std::span<const std::uint64_t> info(NodeId id) const;

    // --- values ---------------------------------------------------------------
    // The bytes of a type description's value, each count checked against
    // `limit` before it multiplies anything. Advances `at` past the description.
    std::uint64_t type_bytes(std::span<const std::uint64_t> info, std::size_t& at, int depth,
                             std::uint64_t limit) const;
    // A simple value at `offset` as a double (exact for every integer a count or code needs).
    double number(std::uint64_t code, std::uint64_t offset);
    std::string utf16_text(std::uint64_t offset, std::uint64_t units);
    std::string byte_text(std::uint64_t offset, std::uint64_t bytes);
    // The number a simple data tag holds; nullopt when the tag is absent or not one.
    std::optional<double> number_of(NodeId id);
    // The text a tag holds (UTF-16 array or one-byte string); nullopt when it holds none.
    std::optional<std::string> text_of(NodeId id);

    FileSource& file() const { return file_; }
    const std::filesystem::path& path() const { return file_.path(); }

    int version = 0;
    bool little_endian = true;

private:
    void need(std::uint64_t n, const char* what) const;
    std::uint64_t take(int bytes, const char* what);
    std::uint64_t word(const char* what) { return take(version == 4 ? 8 : 4, what); }
    void parse_group(bool keep, int depth);
    void parse_tag(bool keep, int depth, std::uint64_t index, bool in_root);
    void parse_data(TagNode* tag);

    FileSource& file_;
    std::uint64_t pos_ = 0;
    std::vector<std::string> trail_;  // the labels down to the tag being parsed, for messages
    std::deque<TagNode> nodes_;       // a deque: growing it never copies what it holds
    std::string labels_;
    std::vector<std::uint64_t> words_;
};

}  // namespace lumadex::host::dm
