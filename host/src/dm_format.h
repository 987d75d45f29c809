// The DM3 / DM4 format's constants (the format is described in dm_reader.h):
// tag kinds, the type codes of a data tag's description, and the limits the
// reader and writer share.
#pragma once

#include <bit>
#include <cstdint>
#include <filesystem>
#include <string>

#include "lumadex/host/host.h"
#include "tag_group_object.h"

namespace lumadex::host::dm {

static_assert(std::endian::native == std::endian::little, "the pixel and tag code assumes a little-endian machine");

constexpr int kMaxTypeDepth = 16;                       // type descriptions nested deeper are refused
constexpr std::uint64_t kMaxArrayTags = 1u << 16;       // longer arrays are left out of an image's tags
constexpr std::uint64_t kMaxImageTagEntries = 1u << 20; // tags made for one file's images, at most
constexpr int kMaxFileDimensions = 4;
// The root of an image's tags ("ImageTags" of an entry of "ImageList") lies
// this many levels below the file's root.
constexpr int kImageTagsLevel = 3;

// Tag kinds, and the type codes of a data tag's description.
constexpr std::uint64_t kGroupTag = 20, kDataTag = 21;
enum TypeCode : std::uint64_t {
    kShort = 2, kLong = 3, kUShort = 4, kULong = 5, kFloat = 6, kDouble = 7, kBool = 8, kChar = 9,
    kOctet = 10, kInt64 = 11, kUInt64 = 12, kStruct = 15, kString = 18, kArray = 20,
};

inline std::uint64_t simple_size(std::uint64_t code)
{
    switch (code) {
    case kBool: case kChar: case kOctet: return 1;
    case kShort: case kUShort: return 2;
    case kLong: case kULong: case kFloat: return 4;
    case kDouble: case kInt64: case kUInt64: return 8;
    default: return 0;
    }
}

inline const char* type_name(std::uint64_t code)
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

inline std::string str(std::uint64_t n) { return std::to_string(n); }

[[noreturn]] inline void file_error(const std::filesystem::path& path, const std::string& what)
{
    throw FileError(path.string() + ": " + what);
}

// Whether the tags under `group`, which lies at `level`, nest no deeper than
// kMaxTagDepth; the recursion stops one level past the limit.
inline bool nests_within(const TagGroupObject& group, int level)
{
    if (level > kMaxTagDepth) return false;
    for (const auto& e : group.entries)
        if (const auto* inner = std::get_if<Ref<TagGroupObject>>(&e.value); inner && !nests_within(**inner, level + 1))
            return false;
    return true;
}

}  // namespace lumadex::host::dm
