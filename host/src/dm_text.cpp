#include "dm_text.h"

namespace lumadex::host::dm {

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

std::optional<std::uint32_t> next_utf8(std::string_view s, std::size_t& i)
{
    // The smallest code point each sequence length may carry: below it the form is overlong.
    static constexpr std::uint32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
    const auto b = static_cast<unsigned char>(s[i]);
    const int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    if (extra < 0 || s.size() - i <= static_cast<std::size_t>(extra)) return std::nullopt;
    std::uint32_t c = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        const auto next = static_cast<unsigned char>(s[i + k]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < kSmallest[extra] || (c >= 0xD800 && c < 0xE000) || c > 0x10FFFF) return std::nullopt;
    i += extra + 1;
    return c;
}

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

std::string decode_utf16(const std::byte* p, std::uint64_t units, bool little_endian)
{
    auto unit = [&](std::uint64_t i) {
        const auto a = std::to_integer<std::uint32_t>(p[2 * i]), b = std::to_integer<std::uint32_t>(p[2 * i + 1]);
        return little_endian ? a | (b << 8) : (a << 8) | b;
    };
    std::string out;
    for (std::uint64_t i = 0; i < units; ++i) {
        std::uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
            const std::uint32_t low = unit(i + 1);
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

std::string printable(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        const std::optional<std::uint32_t> c = next_utf8(text, i);
        if (!c || *c < 0x20 || *c == 0x7F) {
            const auto b = static_cast<unsigned char>(text[start]);
            out += {'\\', 'x', kHex[b >> 4], kHex[b & 15]};
            i = start + 1;
        } else if (*c >= 0x80 && *c < 0xA0) {
            out += {'\\', 'u', '{', kHex[*c >> 4], kHex[*c & 15], '}'};
        } else {
            if (*c == '\\' || *c == '"') out += '\\';
            out.append(text.substr(start, i - start));
        }
    }
    return out;
}

std::string valid_utf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        if (next_utf8(text, i)) {
            out.append(text.substr(start, i - start));
        } else {
            append_utf8(out, 0xFFFD);
            ++i;
        }
    }
    return out;
}

}  // namespace lumadex::host::dm
