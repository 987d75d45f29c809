// Integer bit functions for callers of the library.
#pragma once

#include <cstdint>

#include "Export.h"

// floor(log2 v) for v taken as unsigned: the index of the highest set bit;
// 0 for 0 and for 1.
ZEP_EXPORT std::uint32_t ilog2_floor_asm_x86(std::int32_t v);
// The largest power of two not above v taken as unsigned; 0 for 0.
ZEP_EXPORT std::uint32_t ifloor_pow2_asm_x86(std::int32_t v);
