// The one dispatch policy of the kernels: which instruction set a kernel
// runs, and from how many elements a pass forks threads.
//
// The processor feature words are CPUID leaf 1 (EAX, EBX, ECX, EDX) as the
// processor answers, plus the words that tell of AVX2 and AVX-512 (leaf 7
// EBX and the register state the operating system saves, XCR0). They are
// read when the plug-in's registration starts and changed afterwards only by
// ZEPSetUseSIMD, on the script thread; kernels read them on every call and
// take a vectorised path only when its feature is present. Results are the
// same on every path.
//
// The SIMD switch (ZEPSetUseSIMD) governs the kernels that read these words:
// the shift ramps, the statistics kernels (extremes, survey, difference), the
// 2x reduction, the cross-correlation mask and the warps' row sampling; the
// vector-math layer (its own SLEEF dispatch), the FFTs (FFTW) and the matrix
// functions (OpenBLAS) choose their instruction sets themselves.
#pragma once

#include <cstdint>

namespace lumadex::kernels {

// --- processor feature words ----------------------------------------------------

struct ProcessorFeatureWords {
    std::uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;  // CPUID leaf 1
    std::uint32_t leaf7Ebx = 0;                        // CPUID leaf 7, sub-leaf 0
    std::uint64_t xcr0 = 0;                            // register state saved by the OS
};

// The words in force.
const ProcessorFeatureWords& FeatureWords();

// Reads the processor again (zeros on processors without CPUID).
void ReadProcessorFeatures();

// Puts `words` in force (tests that choose the instruction sets).
void SetFeatureWords(const ProcessorFeatureWords& words);

// Clears the words the vectorised paths test: ECX, EDX and the extended
// words; every test below then answers no.
void ClearProcessorFeatures();

bool HasAVX2();     // AVX2 and FMA, with the YMM state saved by the OS
bool HasAVX512F();  // AVX-512 Foundation, with the ZMM state saved by the OS

// --- instruction sets -------------------------------------------------------------

// The instruction sets the kernels are compiled for, chosen per call from
// the feature words (so ZEPSetUseSIMD(0) selects Base). Avx512 needs the
// Foundation, doubleword/quadword, byte/word and vector-length extensions.
enum class Isa { Base, Avx2, Avx512 };
Isa SelectedIsa();

// The variant of a kernel for the selected instruction set.
template <class Fn>
Fn Pick(Fn avx512, Fn avx2, Fn base)
{
    switch (SelectedIsa()) {
    case Isa::Avx512: return avx512;
    case Isa::Avx2: return avx2;
    default: return base;
    }
}

// The targets of a kernel's AVX-512 and AVX2 variants, as attributes:
// [[LUMADEX_TARGET_AVX512]] void KernelAvx512(...).
#define LUMADEX_TARGET_AVX512 gnu::target("avx512f,avx512bw,avx512dq,avx512vl")
#define LUMADEX_TARGET_AVX2 gnu::target("avx2")
// The Foundation alone, for an AVX-512 variant that must round exactly as
// the base one: with the vector-length extension GCC 12 fuses multiplies
// and adds of vectorised scalar code (vfmaddsub) despite fp-contract=off.
#define LUMADEX_TARGET_AVX512F gnu::target("avx512f")

// --- parallel thresholds ------------------------------------------------------------
// The fewest elements for which a pass forks threads; below them the threads
// cost more than they save.

// Shift ramps: pixels of a block (or of one dense run).
inline constexpr std::int64_t kShiftParallelPixels = std::int64_t{1} << 15;
// Statistics, the 2x reduction and the cross-correlation mask: pixels of the
// pass's block, whose chunks the threads share.
inline constexpr std::int64_t kStatisticsParallelPixels = std::int64_t{1} << 16;
// Warps: destination pixels times the source pixels each row reads.
inline constexpr std::int64_t kWarpParallelPixels = std::int64_t{1} << 15;
// Element-wise mathematics: pixels of a strided walk (dense runs go to the
// vector-math layer whole).
inline constexpr std::int64_t kElementwiseParallelPixels = std::int64_t{1} << 16;
// FFT half/full layout conversions: elements copied or mirrored.
inline constexpr std::int64_t kLayoutParallelElements = std::int64_t{1} << 15;
// Phase correlation: spectrum or correlation elements of a pass.
inline constexpr std::int64_t kCorrelationParallelElements = std::int64_t{1} << 15;
// Fourier transforms the descriptor cannot batch into one compute call (an
// axis transform along y of a volume: a call per plane): elements of all
// the calls, which then run side by side. The descriptor layer threads a
// single call from 2^17 elements on.
inline constexpr std::int64_t kFourierCallsParallelElements = std::int64_t{1} << 17;

}  // namespace lumadex::kernels
