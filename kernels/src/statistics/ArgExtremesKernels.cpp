// The extremes as numpy's argmin and argmax report them (lumadex/kernels/
// Statistics.h): a pass of vector minima and maxima per chunk, then a search
// for the first occurrence in one chunk. Finding the extremes without their
// positions takes two vector operations per register, so the pass runs at
// the memory's pace; the positions cost one chunk's scan afterwards.
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "lumadex/kernels/ChunkPlan.h"
#include "lumadex/kernels/Dispatch.h"
#include "lumadex/kernels/Statistics.h"

namespace lumadex::kernels {
namespace {

template <class T>
constexpr T Highest()
{
    if constexpr (std::is_floating_point_v<T>) return std::numeric_limits<T>::infinity();
    else return std::numeric_limits<T>::max();
}

template <class T>
constexpr T Lowest()
{
    if constexpr (std::is_floating_point_v<T>) return -std::numeric_limits<T>::infinity();
    else return std::numeric_limits<T>::lowest();
}

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

// Folds a chunk's pixels into `span`: four registers of running extremes
// (one chain of compare-and-select would hold the loop to its latency) and,
// for real pixels, an or of the self-inequality that marks NaN, kept across
// the chunk's rows and folded into the span once.
template <int VectorBytes, class T>
[[gnu::always_inline]] inline void ScanBody(const Block<const T>& block, const Chunk& chunk, Span<T>& span)
{
    constexpr int K = VectorBytes / sizeof(T), kSets = 4;
    using V = typename VectorOf<T, K>::type;
    using Mask = decltype(V{} != V{});
    V mn[kSets], mx[kSets];
    Mask nan[kSets];
    for (int k = 0; k < kSets; ++k) mn[k] = V{} + span.min, mx[k] = V{} + span.max, nan[k] = Mask{};
    const std::int64_t n = chunk.x1 - chunk.x0;
    for (std::int64_t r = chunk.row; r < chunk.rowEnd; ++r) {
        const T* p = block.Row(r) + chunk.x0;
        std::int64_t i = 0;
        for (; i + kSets * K <= n; i += kSets * K)
            for (int k = 0; k < kSets; ++k) {
                V v;
                std::memcpy(&v, p + i + k * K, sizeof v);
                mn[k] = v < mn[k] ? v : mn[k];  // false for NaN: it is left out
                mx[k] = v > mx[k] ? v : mx[k];
                if constexpr (std::is_floating_point_v<T>) nan[k] |= v != v;
            }
        for (; i < n; ++i) {
            const T v = p[i];
            span.min = v < span.min ? v : span.min;
            span.max = v > span.max ? v : span.max;
            span.nan = span.nan || v != v;
        }
    }
    for (int k = 0; k < kSets; ++k)
        for (int j = 0; j < K; ++j) {
            span.min = mn[k][j] < span.min ? mn[k][j] : span.min;
            span.max = mx[k][j] > span.max ? mx[k][j] : span.max;
            span.nan = span.nan || nan[k][j] != 0;
        }
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

// The rank of the first pixel of chunk c that `matches`, or -1.
template <class T, class Match>
std::int64_t FirstInChunk(const Block<const T>& block, const Chunk& chunk, Match&& matches)
{
    for (std::int64_t r = chunk.row; r < chunk.rowEnd; ++r) {
        const T* row = block.Row(r);
        for (std::int64_t x = chunk.x0; x < chunk.x1; ++x)
            if (matches(row[x])) return r * block.size[0] + x;
    }
    return -1;
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
    for (std::size_t c = 0; c < spans.size(); ++c)
        if (spans[c].nan) {
            const Chunk chunk = plan[static_cast<std::int64_t>(c)];
            const std::int64_t rank = FirstInChunk(block, chunk, [](T v) { return v != v; });
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
            result.minRank = FirstInChunk(block, plan[static_cast<std::int64_t>(c)], [&](T v) { return v == all.min; });
            if (result.minRank >= 0) break;
        }
    for (std::size_t c = 0; c < spans.size(); ++c)
        if (spans[c].max == all.max) {
            result.maxRank = FirstInChunk(block, plan[static_cast<std::int64_t>(c)], [&](T v) { return v == all.max; });
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
