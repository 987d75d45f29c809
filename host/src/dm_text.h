// Text in DM files: labels and one-byte strings (UTF-8, or Latin-1 in older
// files) and UTF-16 text, turned into the UTF-8 the host keeps, and back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumadex::host::dm {

void append_utf8(std::string& out, std::uint32_t c);

// The next code point of UTF-8 text at `i`, or nullopt where the text is not UTF-8.
std::optional<std::uint32_t> next_utf8(std::string_view s, std::size_t& i);

// Labels and one-byte strings: UTF-8 when they are, else Latin-1 (older files).
std::string decode_bytes(const std::byte* p, std::uint64_t n);

// The UTF-16 units of UTF-8 text.
std::vector<std::uint16_t> utf16_of(std::string_view text);

}  // namespace lumadex::host::dm
