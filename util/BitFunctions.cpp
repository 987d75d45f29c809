#include "BitFunctions.h"

#include <bit>

std::uint32_t ilog2_floor_asm_x86(std::int32_t v)
{
    const auto bits = static_cast<std::uint32_t>(v);
    return bits == 0 ? 0 : static_cast<std::uint32_t>(std::bit_width(bits) - 1);
}

std::uint32_t ifloor_pow2_asm_x86(std::int32_t v) { return std::bit_floor(static_cast<std::uint32_t>(v)); }
