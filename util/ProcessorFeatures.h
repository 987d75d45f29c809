// The SIMD switch. The processor feature words it changes, and the
// instruction sets they choose, belong to the kernel library
// (lumadex/kernels/Dispatch.h).
#pragma once

#include <cstdint>

namespace zep {

// Script function "SetUseSIMD(long isUseSIMD)": 0 switches the vectorised
// paths off, anything else reads the processor again.
void SetUseSIMDHandler(std::int32_t isUseSIMD);

}  // namespace zep
