// The plug-in's thread count: script functions "SetNumThreads(long n)",
// "GetNumThreads()" and "GetMaxThreads()".
//
// The count is OpenMP's: it governs the plug-in's parallel loops, the FFT
// descriptors committed afterwards (they plan with omp_get_max_threads())
// and OpenBLAS, whose OpenMP build follows the same setting.
#pragma once

#include <cstdint>

namespace zep {

// The most threads a script may ask for: more would only make the runtime
// fail to start them.
inline constexpr std::int32_t kMaxThreadCount = 1024;

void SetNumThreadsDM(std::int32_t n);
std::int32_t GetNumThreadsDM();
std::int32_t GetMaxThreadsDM();

}  // namespace zep
