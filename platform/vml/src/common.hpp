// What every routine of the vector-math layer shares: the instruction set in
// use, the split of a call over the OpenMP threads, and the kernels' shapes.
#pragma once

#include <emmintrin.h>
#include <xmmintrin.h>
#include <omp.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>

#include "mkl_vml.h"

// The AVX-512 target of the layer's own kernels (AVX-512F instructions),
// spelled here once in each form the code needs:
//   LUMADEX_AVX512          a function compiled for it;
//   LUMADEX_AVX512_INLINE   a helper inlined into the loops that call it,
//                           which keeps its constants in registers;
//   LUMADEX_AVX512_LAMBDA   the same for a lambda (which takes the GNU
//                           attribute form only);
//   LUMADEX_AVX512_BEGIN/END  a region of a file compiled for it.
#define LUMADEX_AVX512_ISA "avx512f"
#define LUMADEX_AVX512 [[gnu::target(LUMADEX_AVX512_ISA)]]
#define LUMADEX_AVX512_INLINE [[gnu::target(LUMADEX_AVX512_ISA), gnu::always_inline]] inline
#define LUMADEX_AVX512_LAMBDA __attribute__((target(LUMADEX_AVX512_ISA), always_inline))
#define LUMADEX_AVX512_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx512f\")")
#define LUMADEX_AVX512_END _Pragma("GCC pop_options")
// The AVX2 target of SLEEF's AVX2 loops (AVX2 counts only with FMA, as in
// DetectedIsa).
#define LUMADEX_AVX2 [[gnu::target("avx2,fma")]]

namespace lumadex::vml {

enum class Isa { Sse2, Avx2, Avx512 };

// The widest instruction set the processor and the operating system offer
// (AVX2 counts only with FMA); read once per process.
Isa DetectedIsa();

// Elements per call below which a routine stays on the calling thread
// (bench/vml/run.sh --threshold measures where the split starts paying).
inline constexpr MKL_INT kMemoryBound = 1 << 18;  // a few operations per element
inline constexpr MKL_INT kComputeBound = 1 << 14;  // a transcendental function per element

// Runs body(begin, count) over [0, n): on the calling thread below
// `threshold` or inside a parallel region, else in static blocks over the
// OpenMP threads, each worker in the caller's rounding mode.
template <class Body>
void Split(MKL_INT n, MKL_INT threshold, Body&& body)
{
    if (n <= 0) return;
    int threads = 1;
    if (n >= threshold && !omp_in_parallel())
        threads = static_cast<int>(std::min<std::int64_t>(omp_get_max_threads(), n / (threshold / 2)));
    if (threads <= 1) {
        body(MKL_INT{0}, n);
        return;
    }
    const int mode = std::fegetround();
#pragma omp parallel num_threads(threads)
    {
        const std::int64_t count = omp_get_num_threads(), t = omp_get_thread_num();
        // Blocks of whole cache lines, so that no two threads write one line.
        const std::int64_t per = (n / count + 15) / 16 * 16;
        const std::int64_t begin = std::min<std::int64_t>(n, per * t);
        const std::int64_t end = t + 1 == count ? n : std::min<std::int64_t>(n, begin + per);
        const int own = std::fegetround();
        if (own != mode) std::fesetround(mode);
        if (end > begin) body(static_cast<MKL_INT>(begin), static_cast<MKL_INT>(end - begin));
        if (own != mode) std::fesetround(own);
    }
}

// A kernel for one instruction set runs on the calling thread.
template <class T>
using Unary = void (*)(MKL_INT, const T*, T*);
template <class T>
using Binary = void (*)(MKL_INT, const T*, const T*, T*);
template <class T>
using TwoResults = void (*)(MKL_INT, const T*, T*, T*);

// One kernel built for each instruction set.
template <class Kernel>
struct Variants {
    Kernel avx512, avx2, sse2;
    Kernel Pick() const
    {
        switch (DetectedIsa()) {
        case Isa::Avx512: return avx512;
        case Isa::Avx2: return avx2;
        default: return sse2;
        }
    }
};

// SLEEF functions that the layer corrects before publishing them
// (VML name, SLEEF name, accuracy variant, then whose AVX-512 kernel the
// float and the double routine run: SLEEF's or our own); their serial
// kernels are FloatLog1p(), DoubleLog1p() and so on.
#define LUMADEX_VML_SLEEF_WRAPPED(X)                                                                \
    X(Log1p, log1p, u10, OWN, OWN) X(Acosh, acosh, u10, OWN, OWN) X(Asinh, asinh, u10, OWN, OWN) \
    X(Cosh, cosh, u10, OWN, OWN) X(Sinh, sinh, u10, OWN, OWN) X(Erf, erf, u10, OWN, OWN)     \
    X(Exp, exp, u10, SLEEF, OWN)
#define LUMADEX_VML_OWN_SLEEF false
#define LUMADEX_VML_OWN_OWN true
#define LUMADEX_VML_DECLARE_ACCESSORS(OP, FN, U, FWHO, DWHO)           \
    Variants<Unary<float>> Float##OP();                              \
    Variants<Unary<double>> Double##OP();                            \
    inline constexpr bool kOwnFloat##OP = LUMADEX_VML_OWN_##FWHO; \
    inline constexpr bool kOwnDouble##OP = LUMADEX_VML_OWN_##DWHO;
LUMADEX_VML_SLEEF_WRAPPED(LUMADEX_VML_DECLARE_ACCESSORS)

// The serial kernels that other kernels are built from (defined with SLEEF).
Variants<Unary<double>> DoubleLn();
Variants<Unary<double>> DoubleErfc();
Variants<Unary<double>> DoubleCbrt();
Variants<Binary<float>> FloatPow();
Variants<Binary<double>> DoublePow();
Variants<Binary<double>> DoubleAtan2();
Variants<Unary<double>> DoubleTan();
Variants<TwoResults<float>> FloatSinCos();
Variants<TwoResults<double>> DoubleSinCos();

// The kernels' loops prefetch their operands and destination 2 KiB ahead
// (32 lines) at each line: on the Xeon (AVX-512) of this machine kind the
// hardware prefetcher let the loads of large calls wait on memory, in place
// above all (vdSin over 16 M elements in place ran 3 to 4 times slower
// without, out of place 1.2 to 1.4 times). A prefetch past the end of an
// array does not fault.
inline constexpr std::size_t kAheadBytes = 2048;
template <class T>
[[gnu::always_inline]] inline void Ahead(const T* p)
{
    _mm_prefetch(reinterpret_cast<const char*>(p) + kAheadBytes, _MM_HINT_T0);
}

// Runs element(k) over [0, n) a cache line of kPerLine elements at a time,
// each line's loop vectorised, prefetching every array in `streams` (typed
// so that streams + k is element k) 2 KiB ahead at each line: the
// memory-bound loops need it as the kernels do, for arrays beyond the cache
// above all (floor over 64 MB ran 15 % faster, and a little faster in the
// cache too).
template <MKL_INT kPerLine, class Element, class... P>
[[gnu::always_inline]] inline void ByLinesAhead(MKL_INT n, Element&& element, const P*... streams)
{
    MKL_INT i = 0;
    for (; i + kPerLine <= n; i += kPerLine) {
        (Ahead(streams + i), ...);
#pragma omp simd
        for (MKL_INT k = i; k < i + kPerLine; ++k) element(k);
    }
#pragma omp simd
    for (MKL_INT k = i; k < n; ++k) element(k);
}

// Calls that touch at least StreamFromBytes() bytes (operands and
// destination together) and whose destination overlaps no operand are
// written around the caches by the memory-bound routines: each block of 512
// bytes is computed into a buffer in the level-1 cache and stored to memory
// with non-temporal stores. A plain store first reads every destination line
// it writes, a third of a unary operation's memory traffic and a quarter of a
// binary one's; but while operands and destination fit in the last-level
// cache, plain stores hit lines that are already there and streaming would
// send the result out to memory for nothing. In place (r is an operand) the
// loads have already brought each line in, so plain stores cost no extra
// traffic, while streaming would evict the lines just read: there the stores
// stay plain. (Blocks of 512 bytes keep loads and stores interleaved: with
// 8 KiB blocks the streamed loop ran slower than the plain one.)
std::size_t StreamFromBytes();

// True when the n elements at r share no byte with the n elements of any
// operand (each of its own type).
template <class R, class... A>
bool Apart(const R* r, MKL_INT n, const A*... operands)
{
    const auto start = reinterpret_cast<std::uintptr_t>(r);
    const auto end = start + static_cast<std::size_t>(n) * sizeof(R);
    const auto apart = [&](const auto* a) {
        const auto from = reinterpret_cast<std::uintptr_t>(a);
        return end <= from || from + static_cast<std::size_t>(n) * sizeof(*a) <= start;
    };
    return (apart(operands) && ...);
}

// kernel(count, offset, out) computes elements [offset, offset + count) into
// out; ComputeStreamed runs it over [0, n) of r, storing the line-aligned
// blocks with non-temporal stores and the unaligned head and the tail
// directly.
template <class T, class Kernel>
void ComputeStreamed(MKL_INT n, T* r, Kernel&& kernel)
{
    constexpr MKL_INT kBlockElements = 512 / sizeof(T);
    const std::size_t toLine = (64 - reinterpret_cast<std::uintptr_t>(r) % 64) % 64;
    const MKL_INT head = toLine % sizeof(T) == 0 ? std::min<MKL_INT>(n, static_cast<MKL_INT>(toLine / sizeof(T))) : n;
    if (head > 0) kernel(head, 0, r);
    alignas(64) T block[kBlockElements];
    MKL_INT i = head;
    for (; i + kBlockElements <= n; i += kBlockElements) {
        kernel(kBlockElements, i, block);
        for (int k = 0; k < 512; k += 16)
            _mm_stream_si128(reinterpret_cast<__m128i*>(reinterpret_cast<char*>(r + i) + k),
                             _mm_load_si128(reinterpret_cast<const __m128i*>(reinterpret_cast<const char*>(block) + k)));
    }
    if (i < n) kernel(n - i, i, r + i);
    _mm_sfence();  // the streamed stores are seen before the call returns
}

// A memory-bound operation over n elements of the operands into r: split
// over the threads (from `threshold` elements), and streamed when the call
// touches more bytes than the cache holds and r is apart from the operands.
template <class T, class Kernel, class... A>
void ComputeInto(MKL_INT n, MKL_INT threshold, T* r, Kernel&& kernel, const A*... operands)
{
    const std::size_t touched = static_cast<std::size_t>(n) * (sizeof(T) + (sizeof(A) + ... + 0));
    const bool stream = touched >= StreamFromBytes() && Apart(r, n, operands...);
    Split(n, threshold, [&](MKL_INT begin, MKL_INT count) {
        if (stream)
            ComputeStreamed(count, r + begin,
                            [&](MKL_INT m, MKL_INT offset, T* out) { kernel(m, begin + offset, out); });
        else
            kernel(count, begin, r + begin);
    });
}

// A computed function writes straight into r: its kernels compute for
// longer than memory takes to move the operands, and through the 512-byte
// blocks of the streamed path they ran 12 to 17 % slower (each block call
// reloads the kernel's constants and register tables), with streaming
// stores 1.5 to 3 times slower (avx512_loops.hpp).
template <class T>
void RunUnary(MKL_INT n, MKL_INT threshold, const T* a, T* r, Unary<T> f)
{
    Split(n, threshold, [&](MKL_INT begin, MKL_INT count) { f(count, a + begin, r + begin); });
}
template <class T>
void RunUnary(MKL_INT n, MKL_INT threshold, const T* a, T* r, const Variants<Unary<T>>& kernel)
{
    const Unary<T> f = kernel.Pick();
    Split(n, threshold, [&](MKL_INT begin, MKL_INT count) { f(count, a + begin, r + begin); });
}

template <class T>
void RunBinary(MKL_INT n, MKL_INT threshold, const T* a, const T* b, T* r, const Variants<Binary<T>>& kernel)
{
    const Binary<T> f = kernel.Pick();
    Split(n, threshold, [&](MKL_INT begin, MKL_INT count) { f(count, a + begin, b + begin, r + begin); });
}

// Scale factors 2^-600, 1, 2^600 that bring |x| into [2^-474, 2^424], so
// that squares and reciprocals of the scaled value stay normal and finite.
inline double ScaleOf(double x)
{
    const double a = std::fabs(x);
    return a > 0x1p400 ? 0x1p-600 : (a < 0x1p-400 ? 0x1p600 : 1.0);
}

// Elements a block kernel keeps in its stack buffers.
inline constexpr MKL_INT kBlock = 512;

// Runs block(i, m) over [0, n) in pieces [i, i + m) of at most kBlock
// elements, for kernels that stage arguments or factors in buffers of that
// size: the pieces of each thread's share (Split, from `threshold`
// elements) in order.
template <class Block>
void ForEachBlock(MKL_INT n, MKL_INT threshold, Block&& block)
{
    Split(n, threshold, [&](MKL_INT begin, MKL_INT count) {
        for (MKL_INT i = begin; i < begin + count; i += kBlock) block(i, std::min(kBlock, begin + count - i));
    });
}

inline std::complex<float>* AsStd(MKL_Complex8* p) { return reinterpret_cast<std::complex<float>*>(p); }
inline std::complex<double>* AsStd(MKL_Complex16* p) { return reinterpret_cast<std::complex<double>*>(p); }
inline const std::complex<float>* AsStd(const MKL_Complex8* p) { return reinterpret_cast<const std::complex<float>*>(p); }
inline const std::complex<double>* AsStd(const MKL_Complex16* p)
{
    return reinterpret_cast<const std::complex<double>*>(p);
}

}  // namespace lumadex::vml

// Our own loops, compiled for the x86-64 levels v4 (AVX-512), v3 (AVX2, FMA)
// and the baseline, the processor's features choosing at load time (levels,
// not processor models, which would send every AMD processor to the baseline).
#define LUMADEX_VML_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
