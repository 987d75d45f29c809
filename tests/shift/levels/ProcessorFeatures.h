// Stands in for util/ProcessorFeatures.h in the kernel-level test: the test
// chooses which instruction sets the kernels may use.
#pragma once

namespace zep {

inline int testLevel = 3;  // 3 AVX-512, 2 AVX2, 1 SSE2, 0 none
inline bool HasAVX512F() { return testLevel >= 3; }
inline bool HasAVX2() { return testLevel >= 2; }
inline bool HasSSE2() { return testLevel >= 1; }

}  // namespace zep
