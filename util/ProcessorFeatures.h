// The processor feature words that choose the vectorised kernels.
//
// CPUID leaf 1 (EAX, EBX, ECX, EDX) as the processor answers, plus the words
// that tell of AVX2 and AVX-512 (leaf 7 EBX and the register state the
// operating system saves, XCR0). The words are read when registration starts
// and changed afterwards only by ZEPSetUseSIMD, on the script thread; kernels
// read them on every call and take a vectorised path only when its feature
// is present. Results are the same on every path.
#pragma once

#include <cstdint>

namespace zep {

struct ProcessorFeatureWords {
    std::uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;  // CPUID leaf 1
    std::uint32_t leaf7Ebx = 0;                        // CPUID leaf 7, sub-leaf 0
    std::uint64_t xcr0 = 0;                            // register state saved by the OS
};

// The words in force.
const ProcessorFeatureWords& FeatureWords();

// Reads the processor again (zeros on processors without CPUID).
void ReadProcessorFeatures();

// Clears the words the vectorised paths test: ECX, EDX and the extended
// words; every test below then answers no.
void ClearProcessorFeatures();

bool HasSSE2();
bool HasAVX2();     // AVX2 and FMA, with the YMM state saved by the OS
bool HasAVX512F();  // AVX-512 Foundation, with the ZMM state saved by the OS

// Script function "SetUseSIMD(long isUseSIMD)": 0 switches the vectorised
// paths off, anything else reads the processor again.
void SetUseSIMDHandler(std::int32_t isUseSIMD);

}  // namespace zep
