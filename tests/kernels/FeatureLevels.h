// The kernel-level test's choice of instruction sets: feature words that
// offer the shift kernels AVX-512, AVX2, SSE2 or nothing, as far as this
// processor has them.
#pragma once

#include "lumadex/kernels/Dispatch.h"

namespace lumadex::kernels::test {

// 3 AVX-512, 2 AVX2, 1 SSE2, 0 none.
inline void UseLevel(int level)
{
    ReadProcessorFeatures();
    ProcessorFeatureWords words = FeatureWords();
    if (level < 3) words.leaf7Ebx &= ~(1u << 16);  // AVX-512 Foundation
    if (level < 2) words.ecx = 0, words.leaf7Ebx = 0, words.xcr0 = 0;
    if (level < 1) words.edx = 0;
    SetFeatureWords(words);
}

}  // namespace lumadex::kernels::test
