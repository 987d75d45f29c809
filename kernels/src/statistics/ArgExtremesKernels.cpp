// The extremes as numpy's argmin and argmax report them (lumadex/kernels/
// Statistics.h): a pass of vector minima and maxima per chunk, then a search
// for the first occurrence in one chunk. Finding the extremes without their
// positions takes two vector operations per register, so the pass runs at
// the memory's pace; the positions cost one chunk's scan afterwards.
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "ExtremeStarts.h"
#include "lumadex/kernels/ChunkPlan.h"
#include "lumadex/kernels/Dispatch.h"
#include "lumadex/kernels/Statistics.h"

namespace lumadex::kernels {
namespace {

// A chunk's extremes (NaN left out) and whether it holds NaN.
template <class T>
struct Span {
    T min = Highest<T>(), max = Lowest<T>();
    bool nan = false;
};

template <class T, int N>
struct VectorOf {
    typedef T type __attribute__((vector_size(N * sizeof(T))));
};

// One register of pixels folded into a set of running values.
template <bool kReal, class V>
[[gnu::always_inline]] inline void Fold(const V& v, V& mn, V& mx, V& sum)
{
    mn = v < mn ? v : mn;  // false for NaN: it is left out
    mx = v > mx ? v : mx;
    if constexpr (kReal) sum += v;
}

// Folds a chunk's pixels into `partial`: four registers of running extremes
// (one chain of compare-and-select would hold the loop to its latency) and,
// for real pixels, running sums, which turn NaN when the chunk holds NaN (or
// when infinities of both signs meet: `nan` means "may hold NaN", and
// the caller looks). A sum costs one instruction a register where testing
// each register for NaN costs three; with two for the extremes, the pass
// keeps pace with the memory.
constexpr int kPrefetchBytes = 2048;

template <int VectorBytes, class T>
[[gnu::always_inline]] inline void ScanBody(const Block<const T>& block, const Chunk& chunk, Span<T>& partial)
{
    constexpr int K = VectorBytes / sizeof(T), kSets = 4;
    constexpr bool kReal = std::is_floating_point_v<T>;
    using V = typename VectorOf<T, K>::type;
    // The running values in a local, written back once: updating the
    // caller's partial in the row loop measured a few per cent slower at one
    // thread (GCC 12 allots the loop's registers worse).
    Span<T> span = partial;
    V mn[kSets], mx[kSets], sum[kSets], v;
    for (int k = 0; k < kSets; ++k) mn[k] = V{} + span.min, mx[k] = V{} + span.max, sum[k] = V{};
    const std::int64_t n = chunk.x1 - chunk.x0;
    for (std::int64_t r = chunk.row; r < chunk.rowEnd; ++r) {
        const T* p = block.Row(r) + chunk.x0;
        if (n < K) {
            for (std::int64_t i = 0; i < n; ++i) {
                span.min = p[i] < span.min ? p[i] : span.min;
                span.max = p[i] > span.max ? p[i] : span.max;
                span.nan = span.nan || p[i] != p[i];
            }
            continue;
        }
        // A register at the row's start, the body from the first pixel on a
        // register boundary, and a register that ends at the row's end. They
        // overlap, which minima, maxima and the NaN sum allow, and no load
        // of the body straddles two cache lines: numpy places a large array
        // 16 bytes past a line, where straddling loads cost 1 to 2 per cent
        // of the pass at one thread.
        std::memcpy(&v, p, sizeof v);
        Fold<kReal>(v, mn[0], mx[0], sum[0]);
        std::int64_t i = static_cast<std::int64_t>((0 - reinterpret_cast<std::uintptr_t>(p)) % VectorBytes / sizeof(T));
        for (; i + kSets * K <= n; i += kSets * K) {
            // Two kilobytes ahead: the hardware's prefetchers alone leave the
            // pass short of the memory's pace.
            __builtin_prefetch(reinterpret_cast<const char*>(p + i) + kPrefetchBytes);
            for (int k = 0; k < kSets; ++k) {
                std::memcpy(&v, p + i + k * K, sizeof v);
                Fold<kReal>(v, mn[k], mx[k], sum[k]);
            }
        }
        for (; i + K <= n; i += K) {
            std::memcpy(&v, p + i, sizeof v);
            Fold<kReal>(v, mn[1], mx[1], sum[1]);
        }
        std::memcpy(&v, p + n - K, sizeof v);
        Fold<kReal>(v, mn[2], mx[2], sum[2]);
    }
    for (int k = 1; k < kSets; ++k) {  // the sets into the first, a register at a time
        mn[0] = mn[k] < mn[0] ? mn[k] : mn[0];
        mx[0] = mx[k] > mx[0] ? mx[k] : mx[0];
        sum[0] += sum[k];
    }
    for (int j = 0; j < K; ++j) {
        span.min = mn[0][j] < span.min ? mn[0][j] : span.min;
        span.max = mx[0][j] > span.max ? mx[0][j] : span.max;
        span.nan = span.nan || sum[0][j] != sum[0][j];
    }
    partial = span;
}

template <class T>
[[LUMADEX_TARGET_AVX512]] void ScanAvx512(const Block<const T>& block, const Chunk& chunk, Span<T>& span)
{
    ScanBody<64>(block, chunk, span);
}
template <class T>
[[LUMADEX_TARGET_AVX2]] void ScanAvx2(const Block<const T>& block, const Chunk& chunk, Span<T>& span)
{
    ScanBody<32>(block, chunk, span);
}
template <class T>
void ScanBase(const Block<const T>& block, const Chunk& chunk, Span<T>& span)
{
    ScanBody<16>(block, chunk, span);
}

// What a search looks for in the chunk that holds it: the first pixel at or
// below the minimum (so equal to it), at or above the maximum, or the first
// NaN.
enum class Seek { Min, Max, NaN };

// The rank of the first pixel of `chunk` that kSeek looks for, or -1. Eight
// registers are folded into one (their minimum, maximum, or sum: a sum turns
// NaN when they hold NaN, or when infinities of both signs meet) and the fold
// is tested lane by lane; only a group that passes is searched pixel by
// pixel. Folds, not comparison masks: GCC lowers a vector comparison to
// scalar code in a helper compiled without the target's attribute, but
// keeps minima, maxima and sums as vector instructions, so the search runs
// at the pace of the pass.
template <int VectorBytes, Seek kSeek, class T>
[[gnu::always_inline]] inline std::int64_t FirstBody(const Block<const T>& block, const Chunk& chunk, T target)
{
    constexpr int K = VectorBytes / sizeof(T), kGroup = 8;
    using V = typename VectorOf<T, K>::type;
    const auto sought = [target](T v) {
        if constexpr (kSeek == Seek::Min) return v <= target;
        else if constexpr (kSeek == Seek::Max) return v >= target;
        else return v != v;
    };
    for (std::int64_t r = chunk.row; r < chunk.rowEnd; ++r) {
        const T* row = block.Row(r);
        std::int64_t x = chunk.x0;
        for (; x + kGroup * K <= chunk.x1; x += kGroup * K) {
            V fold;
            std::memcpy(&fold, row + x, sizeof fold);
            for (int g = 1; g < kGroup; ++g) {
                V v;
                std::memcpy(&v, row + x + g * K, sizeof v);
                if constexpr (kSeek == Seek::Min) fold = v < fold ? v : fold;
                else if constexpr (kSeek == Seek::Max) fold = v > fold ? v : fold;
                else fold += v;
            }
            bool passes = false;
            for (int j = 0; j < K; ++j) passes |= sought(fold[j]);
            if (!passes) continue;
            for (std::int64_t i = x; i < x + kGroup * K; ++i)
                if (sought(row[i])) return r * block.size[0] + i;
        }
        for (; x < chunk.x1; ++x)
            if (sought(row[x])) return r * block.size[0] + x;
    }
    return -1;
}

template <Seek kSeek, class T>
[[LUMADEX_TARGET_AVX512]] std::int64_t FirstAvx512(const Block<const T>& block, const Chunk& chunk, T target)
{
    return FirstBody<64, kSeek>(block, chunk, target);
}
template <Seek kSeek, class T>
[[LUMADEX_TARGET_AVX2]] std::int64_t FirstAvx2(const Block<const T>& block, const Chunk& chunk, T target)
{
    return FirstBody<32, kSeek>(block, chunk, target);
}
template <Seek kSeek, class T>
std::int64_t FirstBase(const Block<const T>& block, const Chunk& chunk, T target)
{
    return FirstBody<16, kSeek>(block, chunk, target);
}

// The search for kSeek on the selected instruction set.
template <Seek kSeek, class T>
std::int64_t First(const Block<const T>& block, const Chunk& chunk, T target)
{
    using Search = std::int64_t (*)(const Block<const T>&, const Chunk&, T);
    return Pick<Search>(&FirstAvx512<kSeek, T>, &FirstAvx2<kSeek, T>, &FirstBase<kSeek, T>)(block, chunk, target);
}

}  // namespace

template <class T>
Extremes FindArgExtremes(const Block<const T>& block)
{
    using Scan = void (*)(const Block<const T>&, const Chunk&, Span<T>&);
    const Scan scan = Pick<Scan>(&ScanAvx512<T>, &ScanAvx2<T>, &ScanBase<T>);
    const auto spans =
        ForEachChunk(block, Span<T>{}, [&](const Chunk& chunk, Span<T>& span) { scan(block, chunk, span); });
    const ChunkPlan plan(block);
    Extremes result;
    if (spans.empty()) return result;
    for (std::size_t c = 0; c < spans.size(); ++c) {
        if (!spans[c].nan) continue;
        const std::int64_t rank = First<Seek::NaN>(block, plan[static_cast<std::int64_t>(c)], T{});
        if (rank < 0) continue;  // infinities of both signs, no NaN
        result.min = result.max = std::numeric_limits<double>::quiet_NaN();
        result.minRank = result.maxRank = rank;
        return result;
    }
    Span<T> all;
    for (const Span<T>& span : spans) {
        all.min = span.min < all.min ? span.min : all.min;
        all.max = span.max > all.max ? span.max : all.max;
    }
    // The first chunk holding each extreme holds its first occurrence. (A
    // pixel equal to the start value of a span is found all the same: the
    // spans start from the type's extremes, which compare equal to it.)
    for (std::size_t c = 0; c < spans.size(); ++c)
        if (spans[c].min == all.min) {
            result.minRank = First<Seek::Min>(block, plan[static_cast<std::int64_t>(c)], all.min);
            if (result.minRank >= 0) break;
        }
    for (std::size_t c = 0; c < spans.size(); ++c)
        if (spans[c].max == all.max) {
            result.maxRank = First<Seek::Max>(block, plan[static_cast<std::int64_t>(c)], all.max);
            if (result.maxRank >= 0) break;
        }
    result.min = static_cast<double>(all.min);
    result.max = static_cast<double>(all.max);
    return result;
}

#define LUMADEX_ARG_EXTREMES(T) template Extremes FindArgExtremes(const Block<const T>&);
LUMADEX_ARG_EXTREMES(std::int8_t)
LUMADEX_ARG_EXTREMES(std::uint8_t)
LUMADEX_ARG_EXTREMES(std::int16_t)
LUMADEX_ARG_EXTREMES(std::uint16_t)
LUMADEX_ARG_EXTREMES(std::int32_t)
LUMADEX_ARG_EXTREMES(std::uint32_t)
LUMADEX_ARG_EXTREMES(float)
LUMADEX_ARG_EXTREMES(double)
#undef LUMADEX_ARG_EXTREMES

}  // namespace lumadex::kernels
