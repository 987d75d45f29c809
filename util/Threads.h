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

// At the plug-in's start and end. Every parallel part (its loops, FFTW's
// threads, OpenBLAS) runs on OpenMP's worker pools, which do not survive
// fork by themselves: the start registers a fork handler that ends the
// forking thread's pool (a forked child then uses the plug-in as its parent
// did, at the same thread count); the end ends the calling thread's pool,
// as the handler goes when the library is unloaded and the pool would not.
void ThreadsStartup();
void ThreadsShutdown();

void SetNumThreadsDM(std::int32_t n);
std::int32_t GetNumThreadsDM();
std::int32_t GetMaxThreadsDM();

}  // namespace zep
