#include "lumadex/kernels/Dispatch.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace lumadex::kernels {
namespace {

ProcessorFeatureWords words;

constexpr std::uint32_t kFmaBit = 1u << 12;         // ECX
constexpr std::uint32_t kOsxsaveBit = 1u << 27;     // ECX
constexpr std::uint32_t kAvxBit = 1u << 28;         // ECX
constexpr std::uint32_t kAvx2Bit = 1u << 5;         // leaf 7 EBX
constexpr std::uint32_t kAvx512FBit = 1u << 16;     // leaf 7 EBX
constexpr std::uint64_t kYmmState = 0x6;            // XMM and YMM halves
constexpr std::uint64_t kZmmState = 0xE6;           // plus opmask and both ZMM halves

std::uint64_t ReadXcr0()
{
#if defined(__x86_64__) || defined(__i386__)
    std::uint32_t low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (std::uint64_t{high} << 32) | low;
#else
    return 0;
#endif
}

}  // namespace

const ProcessorFeatureWords& FeatureWords() { return words; }

void ReadProcessorFeatures()
{
    ProcessorFeatureWords read;
#if defined(__x86_64__) || defined(__i386__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d)) {
        read.eax = a, read.ebx = b, read.ecx = c, read.edx = d;
        if (c & kOsxsaveBit) read.xcr0 = ReadXcr0();
        if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) read.leaf7Ebx = b;
    }
#endif
    words = read;
}

void SetFeatureWords(const ProcessorFeatureWords& w) { words = w; }

void ClearProcessorFeatures()
{
    words.ecx = 0;
    words.edx = 0;
    words.leaf7Ebx = 0;
    words.xcr0 = 0;
}

bool HasAVX2()
{
    return (words.ecx & kAvxBit) && (words.ecx & kFmaBit) && (words.leaf7Ebx & kAvx2Bit) &&
           (words.xcr0 & kYmmState) == kYmmState;
}

bool HasAVX512F() { return HasAVX2() && (words.leaf7Ebx & kAvx512FBit) && (words.xcr0 & kZmmState) == kZmmState; }

Isa SelectedIsa()
{
    // Foundation, doubleword/quadword, byte/word and vector-length extensions.
    constexpr std::uint32_t kAvx512Subsets = (1u << 16) | (1u << 17) | (1u << 30) | (1u << 31);
    if (HasAVX512F() && (FeatureWords().leaf7Ebx & kAvx512Subsets) == kAvx512Subsets) return Isa::Avx512;
    if (HasAVX2()) return Isa::Avx2;
    return Isa::Base;
}

}  // namespace lumadex::kernels
