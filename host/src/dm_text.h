// Text in DM files: labels and one-byte strings (UTF-8, or Latin-1 in older
// files) and UTF-16 text, turned into the UTF-8 the host keeps, and back.
// Whatever the bytes, the text made here is valid UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumadex::host::dm {

void append_utf8(std::string& out, std::uint32_t c);

// The next code point of UTF-8 text at `i`, or nullopt where the text is not
// UTF-8: a stray or truncated sequence, an overlong form, an encoded surrogate
// (U+D800 to U+DFFF) or a code point above U+10FFFF.
std::optional<std::uint32_t> next_utf8(std::string_view s, std::size_t& i);

// Labels and one-byte strings: UTF-8 when they are, else Latin-1 (older files).
std::string decode_bytes(const std::byte* p, std::uint64_t n);

// UTF-16 text of `units` units in the given byte order; unpaired surrogates become U+FFFD.
std::string decode_utf16(const std::byte* p, std::uint64_t units, bool little_endian);

// The UTF-16 units of UTF-8 text.
std::vector<std::uint16_t> utf16_of(std::string_view text);

// `text` for a terminal: control characters written as \xNN (C0 and DEL) or
// \u{NN} (C1), and so are bytes that are not UTF-8; backslash and double
// quote are escaped with a backslash.
std::string printable(std::string_view text);

// `text` with every sequence that is not UTF-8 replaced by U+FFFD.
std::string valid_utf8(std::string_view text);

}  // namespace lumadex::host::dm
