#include "ufunc_loops.h"

#include <omp.h>
#include <xmmintrin.h>

#include <algorithm>
#include <cfenv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

#include "threads.h"

namespace lumadex::arrays {
namespace {

// Elements per gathered block: small enough that the gather of one block
// overlaps the routine's work on the last (x[::2] sqrt ran 1.4 times
// faster in blocks of 128 than of 1024; exp and floor 1.1 to 1.2 times).
constexpr npy_intp kBlock = 128;
constexpr npy_intp kPiece = npy_intp{1} << 30;  // elements per routine call (MKL_INT counts them)
// Runs from this length on are worth the face's threads: the layer's own
// threshold for computed functions (platform/vml's kComputeBound). Inside
// the scope the routines still apply their own, higher for memory-bound ones.
constexpr npy_intp kThreadedFrom = npy_intp{1} << 14;

// One operand of a run: its first element and the bytes from one element to the next.
struct Strided {
    char* base;
    npy_intp step;

    template <class T>
    T* At(npy_intp i) const
    {
        return reinterpret_cast<T*>(base + i * step);
    }
    template <class T>
    bool Dense() const
    {
        return step == static_cast<npy_intp>(sizeof(T));
    }
};

// True when the output of one element can be an input of a later one: the
// output lies on a step of 0 (numpy's reduce), or overlaps the input
// without being the very same elements (numpy's accumulate). An output that
// is its input, element for element (in-place operations), is not: each
// block is read before it is written.
template <class In, class Out>
bool Entangled(const Strided& in, const Strided& out, npy_intp n)
{
    if (out.step == 0) return n > 1;
    if (sizeof(In) == sizeof(Out) && in.base == out.base && in.step == out.step) return false;
    const auto extent = [n](const Strided& s, std::size_t size) {
        const auto first = reinterpret_cast<std::intptr_t>(s.base);
        const std::intptr_t last = first + (n - 1) * s.step;
        return std::pair{std::min(first, last), std::max(first, last) + static_cast<std::intptr_t>(size)};
    };
    const auto [inLow, inHigh] = extent(in, sizeof(In));
    const auto [outLow, outHigh] = extent(out, sizeof(Out));
    return inLow < outHigh && outLow < inHigh;
}

// Clears the floating-point exception flags that the routine raised in the
// calling thread (flags raised before it stay): the vector kernels raise
// flags in intermediate steps (an overflow in erf's discarded lanes, an
// underflow in sinh's...) that numpy would report as warnings about the
// caller's data. Only the flags numpy reports, and only in MXCSR, where the
// routines (SSE and AVX code, no x87) raise them: clearing them through
// feclearexcept rewrote the whole floating-point environment, and inexact,
// which nearly every routine raises, made that happen after every call, a
// cost that rows of three elements paid a million times.
class ExceptionFlagsKept {
public:
    ExceptionFlagsKept() : before_(_mm_getcsr() & kReported) {}
    ~ExceptionFlagsKept()
    {
        const unsigned csr = _mm_getcsr();
        if (const unsigned raised = csr & kReported & ~before_) _mm_setcsr(csr & ~raised);
    }
    ExceptionFlagsKept(const ExceptionFlagsKept&) = delete;
    ExceptionFlagsKept& operator=(const ExceptionFlagsKept&) = delete;

private:
    // MXCSR's invalid, divide-by-zero, overflow and underflow flags.
    static constexpr unsigned kReported = 0x01 | 0x04 | 0x08 | 0x10;
    unsigned before_;
};

// A dense run: call(begin, count) over pieces the routines can count, in the
// face's thread count when the run is long.
template <class Call>
void InPieces(npy_intp n, Call&& call)
{
    std::optional<ThreadScope> scope;
    if (n >= kThreadedFrom) scope.emplace(ThreadCount());
    for (npy_intp begin = 0; begin < n; begin += kPiece)
        call(begin, static_cast<MKL_INT>(std::min(kPiece, n - begin)));
}

// Elements a gather or a scatter prefetches ahead: the hardware prefetcher
// left the strided loads of x[::2] waiting on memory (a scalar loop that ran
// at less than half of numpy's speed).
constexpr npy_intp kAheadElements = 256;

// out[i] = from[2 i] for i < count: every other element (x[::2], the real or
// imaginary parts of a complex array) by vector loads and shuffles, a few
// uops per vector where the scalar loop spends some per element, so that
// the gather hides under the routine's work on the last block; the block's
// source lines 512 elements ahead prefetched first (without, the loads
// waited on memory: exp of x[::2] ran at 0.7 of numpy's speed; 256 and 1024
// elements ahead measured slower).
constexpr npy_intp kAheadEveryOther = 512;
template <class T>
__attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default"))) void GatherEveryOther(
    const T* from, npy_intp count, T* out)
{
    const char* ahead = reinterpret_cast<const char*>(from + 2 * kAheadEveryOther);
    for (npy_intp byte = 0; byte < 2 * count * static_cast<npy_intp>(sizeof(T)); byte += 64)
        __builtin_prefetch(ahead + byte);
#pragma omp simd
    for (npy_intp i = 0; i < count; ++i) out[i] = from[2 * i];
}

// out[i] = the i-th element from `from`, `step` bytes apart, for i < count.
template <class T>
void Gather(const T* from, npy_intp step, npy_intp count, T* out)
{
    if (step == static_cast<npy_intp>(2 * sizeof(T))) return GatherEveryOther(from, count, out);
    const char* p = reinterpret_cast<const char*>(from);
    for (npy_intp i = 0; i < count; ++i) {
        __builtin_prefetch(p + (i + kAheadElements) * step);
        out[i] = *reinterpret_cast<const T*>(p + i * step);
    }
}

// The i-th element `step` bytes apart from `to` = in[i], for i < count.
template <class T>
void Scatter(const T* in, npy_intp count, T* to, npy_intp step)
{
    char* p = reinterpret_cast<char*>(to);
    for (npy_intp i = 0; i < count; ++i) {
        __builtin_prefetch(p + (i + kAheadElements) * step, 1);
        *reinterpret_cast<T*>(p + i * step) = in[i];
    }
}

// Reads an input block by block: where it lies when dense, else copied into
// an aligned buffer (a broadcast operand, step 0, is copied once).
template <class T>
class Reader {
public:
    explicit Reader(const Strided& s) : s_(s) {}

    const T* Read(npy_intp begin, npy_intp count)
    {
        if (s_.Dense<T>()) return s_.At<T>(begin);
        if (s_.step == 0) {
            if (!filled_) std::fill_n(buffer_, kBlock, *s_.At<T>(0));
            filled_ = true;
            return buffer_;
        }
        Gather(s_.At<T>(begin), s_.step, count, buffer_);
        return buffer_;
    }

private:
    Strided s_;
    bool filled_ = false;
    alignas(64) T buffer_[kBlock];
};

// Writes an output block by block: in place when dense, else through an
// aligned buffer scattered afterwards.
template <class T>
class Writer {
public:
    explicit Writer(const Strided& s) : s_(s) {}

    T* Target(npy_intp begin) { return s_.Dense<T>() ? s_.At<T>(begin) : buffer_; }
    void Commit(npy_intp begin, npy_intp count)
    {
        if (s_.Dense<T>()) return;
        Scatter(buffer_, count, s_.At<T>(begin), s_.step);
    }

private:
    Strided s_;
    alignas(64) T buffer_[kBlock];
};

template <class In, class Out>
struct UnaryBlocks {
    UnaryRoutine<In, Out> f;
    Reader<In> a;
    Writer<Out> r;

    UnaryBlocks(UnaryRoutine<In, Out> f, const Strided& a, const Strided& r) : f(f), a(a), r(r) {}
    void operator()(npy_intp begin, npy_intp count)
    {
        Out* out = r.Target(begin);
        f(static_cast<MKL_INT>(count), a.Read(begin, count), out);
        r.Commit(begin, count);
    }
};

template <class T>
struct BinaryBlocks {
    BinaryRoutine<T> f;
    Reader<T> a, b;
    Writer<T> r;

    BinaryBlocks(BinaryRoutine<T> f, const Strided& a, const Strided& b, const Strided& r) : f(f), a(a), b(b), r(r) {}
    void operator()(npy_intp begin, npy_intp count)
    {
        T* out = r.Target(begin);
        f(static_cast<MKL_INT>(count), a.Read(begin, count), b.Read(begin, count), out);
        r.Commit(begin, count);
    }
};

// A strided run in blocks: each thread makes its own Blocks (its buffers)
// from `args` and takes a static share of the blocks. The workers run in
// the caller's rounding mode, which Rint follows.
template <class Blocks, class... Args>
void InBlocks(npy_intp n, const Args&... args)
{
    const npy_intp blocks = (n + kBlock - 1) / kBlock;
    const auto run = [&](Blocks& work, npy_intp block) { work(block * kBlock, std::min(kBlock, n - block * kBlock)); };
    const int threads =
        n < kThreadedFrom || omp_in_parallel() ? 1 : static_cast<int>(std::min<npy_intp>(ThreadCount(), blocks / 4));
    if (threads <= 1) {
        Blocks work(args...);
        for (npy_intp block = 0; block < blocks; ++block) run(work, block);
        return;
    }
    const int mode = std::fegetround();
#pragma omp parallel num_threads(threads)
    {
        const int own = std::fegetround();
        if (own != mode) std::fesetround(mode);
        Blocks work(args...);
#pragma omp for schedule(static)
        for (npy_intp block = 0; block < blocks; ++block) run(work, block);
        if (own != mode) std::fesetround(own);
    }
}

}  // namespace

template <class In, class Out>
void UnaryLoop(char** args, const npy_intp* dimensions, const npy_intp* steps, void* data)
{
    const npy_intp n = dimensions[0];
    if (n <= 0) return;
    const auto& loop = *static_cast<const LoopData*>(data);
    const auto f = reinterpret_cast<UnaryRoutine<In, Out>>(loop.routine);
    const Strided a{args[0], steps[0]}, r{args[1], steps[1]};
    const bool entangled = Entangled<In, Out>(a, r, n);
    if (entangled && loop.numpyLoop) return loop.numpyLoop(args, dimensions, steps, loop.numpyData);
    const ExceptionFlagsKept flags;
    if (entangled) {
        for (npy_intp i = 0; i < n; ++i) f(1, a.At<In>(i), r.At<Out>(i));
    } else if (a.Dense<In>() && r.Dense<Out>()) {
        InPieces(n, [&](npy_intp begin, MKL_INT count) { f(count, a.At<In>(begin), r.At<Out>(begin)); });
    } else {
        InBlocks<UnaryBlocks<In, Out>>(n, f, a, r);
    }
}

template <class T>
void BinaryLoop(char** args, const npy_intp* dimensions, const npy_intp* steps, void* data)
{
    const npy_intp n = dimensions[0];
    if (n <= 0) return;
    const auto& loop = *static_cast<const LoopData*>(data);
    const auto f = reinterpret_cast<BinaryRoutine<T>>(loop.routine);
    const Strided a{args[0], steps[0]}, b{args[1], steps[1]}, r{args[2], steps[2]};
    const bool entangled = Entangled<T, T>(a, r, n) || Entangled<T, T>(b, r, n);
    if (entangled && loop.numpyLoop) return loop.numpyLoop(args, dimensions, steps, loop.numpyData);
    const ExceptionFlagsKept flags;
    if (entangled) {
        for (npy_intp i = 0; i < n; ++i) f(1, a.At<T>(i), b.At<T>(i), r.At<T>(i));
    } else if (a.Dense<T>() && b.Dense<T>() && r.Dense<T>()) {
        InPieces(n, [&](npy_intp begin, MKL_INT count) { f(count, a.At<T>(begin), b.At<T>(begin), r.At<T>(begin)); });
    } else {
        InBlocks<BinaryBlocks<T>>(n, f, a, b, r);
    }
}

#define LUMADEX_UFUNC_DEFINE_UNARY(In, Out) \
    template void UnaryLoop<In, Out>(char**, const npy_intp*, const npy_intp*, void*);
#define LUMADEX_UFUNC_DEFINE_BINARY(T) template void BinaryLoop<T>(char**, const npy_intp*, const npy_intp*, void*);
LUMADEX_UFUNC_UNARY_TYPES(LUMADEX_UFUNC_DEFINE_UNARY)
LUMADEX_UFUNC_BINARY_TYPES(LUMADEX_UFUNC_DEFINE_BINARY)

}  // namespace lumadex::arrays
