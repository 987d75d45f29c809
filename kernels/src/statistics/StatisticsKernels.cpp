// The statistics kernels.
//
// Each kernel's inner loop is written once, over lanes that the compiler
// turns into vector registers, and compiled three times: for AVX-512, for
// AVX2 and for the base instruction set. The sums use a fixed number of
// lanes (lane j takes the pixels j, j + kLanes, ... of a row piece) with the
// same arithmetic on every variant, so all three give the same bits;
// floating-point contraction is off in this file for that reason (an AVX-512
// fused multiply-add would round differently from the base variant's
// multiply and add). The extremes use lanes of one register's width, as
// their values and first positions do not depend on the lanes.
#pragma GCC optimize("fp-contract=off")

#include "ExtremeStarts.h"
#include "lumadex/kernels/Statistics.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <type_traits>
#include <vector>

#include "lumadex/kernels/ChunkPlan.h"
#include "lumadex/kernels/Dispatch.h"

namespace lumadex::kernels {

namespace {

constexpr int kLanes = 16;

// The chunks' partial results of a row-piece kernel (one variant picked for
// the pass): on every row piece of a chunk, scan(pointer, length, lanes)
// fills the kernel's lanes and fold(lanes, partial, rank) merges them into
// the chunk's partial, rank being the piece's first pixel in scan order.
template <class Lanes, class T, class Partial, class Scan, class Fold>
std::vector<Partial> PiecePartials(const Block<const T>& block, const Partial& start, Scan scan, Fold&& fold)
{
    return ForEachChunk(block, start, [&](const Chunk& chunk, Partial& partial) {
        Lanes lanes;
        for (std::int64_t r = chunk.row; r < chunk.rowEnd; ++r) {
            scan(block.Row(r) + chunk.x0, static_cast<std::int32_t>(chunk.x1 - chunk.x0), lanes);
            fold(lanes, partial, r * block.size[0] + chunk.x0);
        }
    });
}

// --- extremes -------------------------------------------------------------------

// Per lane the extremes of a row piece and the index of their first
// occurrence; -1 where the lane took no pixel (none smaller than Highest, or
// larger than Lowest, or only NaN). The lanes are one vector register of the
// instruction set (the extremes and their first positions do not depend on
// how the pixels are dealt to lanes); indices have the width of the values
// so that one comparison mask selects both: 16-bit for pieces of at most
// kChunkPixels pixels of 8- and 16-bit types, 8-bit values being compared
// as 16-bit ones.
template <class T>
struct ExtremeLanes {
    using Value = std::conditional_t<sizeof(T) == 1, std::int16_t, T>;
    using Index = std::conditional_t<sizeof(Value) == 2, std::int16_t,
                                     std::conditional_t<sizeof(Value) == 4, std::int32_t, std::int64_t>>;
    static constexpr int kMost = 64 / sizeof(Value);
    int count;
    Value min[kMost], max[kMost];
    Index minAt[kMost], maxAt[kMost];
};
static_assert(kChunkPixels <= 32768, "16-bit lane indices");

// N values of T as one vector of the compiler's.
template <class T, int N>
struct VectorOf {
    typedef T type __attribute__((vector_size(N * sizeof(T))));
};

template <int VectorBytes, class T>
[[gnu::always_inline]] inline void ScanExtremesBody(const T* p, std::int32_t n, ExtremeLanes<T>& out)
{
    using Value = typename ExtremeLanes<T>::Value;
    using Index = typename ExtremeLanes<T>::Index;
    constexpr int kCount = VectorBytes / sizeof(Value);
    // Four independent sets of running extremes: one set's compare-and-blend
    // chain would hold the loop to its latency, below the memory's pace.
    constexpr int kSets = 4;
    using Values = typename VectorOf<Value, kCount>::type;
    using Indices = typename VectorOf<Index, kCount>::type;
    Values mn[kSets], mx[kSets];
    Indices mi[kSets], xi[kSets], iota;
    for (int j = 0; j < kCount; ++j) iota[j] = static_cast<Index>(j);
    for (int k = 0; k < kSets; ++k) {
        mn[k] = Values{} + static_cast<Value>(Highest<T>()), mx[k] = Values{} + static_cast<Value>(Lowest<T>());
        mi[k] = Indices{} - 1, xi[k] = Indices{} - 1;
    }
    std::int32_t i = 0;
    for (; i + kSets * kCount <= n; i += kSets * kCount) {
        for (int k = 0; k < kSets; ++k) {
            typename VectorOf<T, kCount>::type raw;
            std::memcpy(&raw, p + i + k * kCount, sizeof raw);
            const Values v = __builtin_convertvector(raw, Values);
            const Indices at = iota + static_cast<Index>(i + k * kCount);
            const Indices lower = v < mn[k], higher = v > mx[k];  // false for NaN
            mn[k] = lower ? v : mn[k];
            mx[k] = higher ? v : mx[k];
            mi[k] = lower ? at : mi[k];
            xi[k] = higher ? at : xi[k];
        }
    }
    // Per lane, the best of the sets: the extreme value, the earlier pixel
    // on a tie (each set keeps its own first occurrence).
    out.count = kCount;
    for (int j = 0; j < kCount; ++j) {
        out.min[j] = mn[0][j], out.max[j] = mx[0][j], out.minAt[j] = mi[0][j], out.maxAt[j] = xi[0][j];
        for (int k = 1; k < kSets; ++k) {
            if (mi[k][j] >= 0 && (out.minAt[j] < 0 || mn[k][j] < out.min[j] ||
                                  (mn[k][j] == out.min[j] && mi[k][j] < out.minAt[j])))
                out.min[j] = mn[k][j], out.minAt[j] = mi[k][j];
            if (xi[k][j] >= 0 && (out.maxAt[j] < 0 || mx[k][j] > out.max[j] ||
                                  (mx[k][j] == out.max[j] && xi[k][j] < out.maxAt[j])))
                out.max[j] = mx[k][j], out.maxAt[j] = xi[k][j];
        }
    }
    for (int j = 0; i < n; ++i, j = (j + 1) % kCount) {
        const Value v = p[i];
        if (v < out.min[j]) out.min[j] = v, out.minAt[j] = static_cast<Index>(i);
        if (v > out.max[j]) out.max[j] = v, out.maxAt[j] = static_cast<Index>(i);
    }
}

template <class T>
[[LUMADEX_TARGET_AVX512]] void ScanExtremesAvx512(const T* p, std::int32_t n, ExtremeLanes<T>& out)
{
    ScanExtremesBody<64>(p, n, out);
}
template <class T>
[[LUMADEX_TARGET_AVX2]] void ScanExtremesAvx2(const T* p, std::int32_t n, ExtremeLanes<T>& out)
{
    ScanExtremesBody<32>(p, n, out);
}
template <class T>
void ScanExtremesBase(const T* p, std::int32_t n, ExtremeLanes<T>& out)
{
    ScanExtremesBody<16>(p, n, out);
}

// A running extreme: value and rank, rank -1 while nothing was taken.
template <class T>
struct Extreme {
    T value;
    std::int64_t rank = -1;
};

// Takes (value, rank) when it beats `e` (`Better` is the strict order), or
// equals it at an earlier rank.
template <class T, class Better>
void Offer(Extreme<T>& e, T value, std::int64_t rank, Better better)
{
    if (rank < 0) return;
    if (e.rank < 0 || better(value, e.value) || (value == e.value && rank < e.rank)) e.value = value, e.rank = rank;
}

template <class T>
struct ExtremePair {
    Extreme<T> min{Highest<T>()}, max{Lowest<T>()};
};

// The first pixel in scan order equal to `value`, or -1.
template <class T>
std::int64_t FirstRankOf(const Block<const T>& block, T value)
{
    for (std::int64_t r = 0; r < block.rows(); ++r) {
        const T* row = block.Row(r);
        for (std::int64_t x = 0; x < block.size[0]; ++x)
            if (row[x] == value) return r * block.size[0] + x;
    }
    return -1;
}

}  // namespace

template <class T>
Extremes FindExtremes(const Block<const T>& block)
{
    const auto partials = PiecePartials<ExtremeLanes<T>>(
        block, ExtremePair<T>{}, Pick(&ScanExtremesAvx512<T>, &ScanExtremesAvx2<T>, &ScanExtremesBase<T>),
        [](const ExtremeLanes<T>& lanes, ExtremePair<T>& pair, std::int64_t rank) {
            for (int j = 0; j < lanes.count; ++j) {
                Offer(pair.min, static_cast<T>(lanes.min[j]), lanes.minAt[j] < 0 ? -1 : rank + lanes.minAt[j],
                      std::less<T>());
                Offer(pair.max, static_cast<T>(lanes.max[j]), lanes.maxAt[j] < 0 ? -1 : rank + lanes.maxAt[j],
                      std::greater<T>());
            }
        });
    ExtremePair<T> all;
    for (const ExtremePair<T>& pair : partials) {
        Offer(all.min, pair.min.value, pair.min.rank, std::less<T>());
        Offer(all.max, pair.max.value, pair.max.rank, std::greater<T>());
    }
    // No lane takes a pixel equal to its start value; where nothing else was
    // found, look for one. With NaN pixels only, the first pixel stands.
    if (all.min.rank < 0) all.min.rank = FirstRankOf(block, Highest<T>());
    if (all.max.rank < 0) all.max.rank = FirstRankOf(block, Lowest<T>());
    Extremes result;
    const double first = block.count() > 0 ? static_cast<double>(block.data[0]) : 0.0;
    result.min = all.min.rank < 0 ? first : static_cast<double>(all.min.value);
    result.max = all.max.rank < 0 ? first : static_cast<double>(all.max.value);
    result.minRank = std::max<std::int64_t>(all.min.rank, 0);
    result.maxRank = std::max<std::int64_t>(all.max.rank, 0);
    return result;
}

// --- survey ---------------------------------------------------------------------

namespace {

// 8- and 16-bit pixels are summed exactly: a row piece (at most kChunkPixels
// pixels) in 32-bit lanes, squares in 64-bit lanes. Wider pixels in double.
template <class T>
inline constexpr bool kSumsExactly = std::is_integral_v<T> && sizeof(T) <= 2;

template <class T>
struct SurveyLanes {
    using Sum = std::conditional_t<kSumsExactly<T>, std::int32_t, double>;
    using Square = std::conditional_t<kSumsExactly<T>, std::uint64_t, double>;
    T min[kLanes], max[kLanes];
    Sum sum[kLanes], sumAbs[kLanes];
    Square sumSquares[kLanes];
};

template <class T>
[[gnu::always_inline]] inline void SurveyBody(const T* p, std::int32_t n, SurveyLanes<T>& out)
{
    using Sum = typename SurveyLanes<T>::Sum;
    using Square = typename SurveyLanes<T>::Square;
    T mn[kLanes], mx[kLanes];
    Sum s[kLanes], a[kLanes];
    Square q[kLanes];
    for (int j = 0; j < kLanes; ++j) mn[j] = Highest<T>(), mx[j] = Lowest<T>(), s[j] = a[j] = 0, q[j] = 0;
    const auto take = [&](T v, int j) {
        mn[j] = v < mn[j] ? v : mn[j];
        mx[j] = v > mx[j] ? v : mx[j];
        const Sum w = static_cast<Sum>(v);
        s[j] += w;
        a[j] += w < 0 ? -w : w;
        if constexpr (kSumsExactly<T>) {
            const auto u = static_cast<std::uint32_t>(w);  // v * v < 2^32, so the square is exact modulo 2^32
            q[j] += static_cast<Square>(u * u);
        } else {
            q[j] += w * w;
        }
    };
    std::int32_t i = 0;
    for (; i + kLanes <= n; i += kLanes)
        for (int j = 0; j < kLanes; ++j) take(p[i + j], j);
    for (int j = 0; i < n; ++i, ++j) take(p[i], j);
    for (int j = 0; j < kLanes; ++j)
        out.min[j] = mn[j], out.max[j] = mx[j], out.sum[j] = s[j], out.sumAbs[j] = a[j], out.sumSquares[j] = q[j];
}

template <class T>
[[LUMADEX_TARGET_AVX512]] void SurveyAvx512(const T* p, std::int32_t n, SurveyLanes<T>& out)
{
    SurveyBody(p, n, out);
}
template <class T>
[[LUMADEX_TARGET_AVX2]] void SurveyAvx2(const T* p, std::int32_t n, SurveyLanes<T>& out)
{
    SurveyBody(p, n, out);
}
template <class T>
void SurveyBase(const T* p, std::int32_t n, SurveyLanes<T>& out)
{
    SurveyBody(p, n, out);
}

template <class T>
struct SurveyPartial {
    using Sum = std::conditional_t<kSumsExactly<T>, std::int64_t, double>;
    using Square = std::conditional_t<kSumsExactly<T>, std::uint64_t, double>;
    T min = Highest<T>(), max = Lowest<T>();
    Sum sum = 0, sumAbs = 0;
    Square sumSquares = 0;
};

// True when some pixel equals `value`.
template <class T>
bool Holds(const Block<const T>& block, T value)
{
    return FirstRankOf(block, value) >= 0;
}

}  // namespace

template <class T>
SurveyNumbers Survey(const Block<const T>& block)
{
    const auto partials = PiecePartials<SurveyLanes<T>>(
        block, SurveyPartial<T>{}, Pick(&SurveyAvx512<T>, &SurveyAvx2<T>, &SurveyBase<T>),
        [](const SurveyLanes<T>& lanes, SurveyPartial<T>& partial, std::int64_t) {
            for (int j = 0; j < kLanes; ++j) {
                partial.min = lanes.min[j] < partial.min ? lanes.min[j] : partial.min;
                partial.max = lanes.max[j] > partial.max ? lanes.max[j] : partial.max;
                partial.sum += lanes.sum[j];
                partial.sumAbs += lanes.sumAbs[j];
                partial.sumSquares += lanes.sumSquares[j];
            }
        });
    SurveyPartial<T> all;
    SurveyNumbers result;
    for (const SurveyPartial<T>& partial : partials) {
        all.min = partial.min < all.min ? partial.min : all.min;
        all.max = partial.max > all.max ? partial.max : all.max;
        result.sum += static_cast<double>(partial.sum);
        result.sumSquares += static_cast<double>(partial.sumSquares);
        result.sumAbs += static_cast<double>(partial.sumAbs);
    }
    // The lanes start at the type's extremes; an image that never went
    // beyond them either holds such a pixel or none to take (no pixels, or
    // NaN only), and then reports the largest finite double and its negative.
    constexpr double kLargest = std::numeric_limits<double>::max();
    const bool minTaken = all.min != Highest<T>() || Holds(block, Highest<T>());
    const bool maxTaken = all.max != Lowest<T>() || Holds(block, Lowest<T>());
    result.min = minTaken ? static_cast<double>(all.min) : kLargest;
    result.max = maxTaken ? static_cast<double>(all.max) : -kLargest;
    return result;
}

// --- difference -------------------------------------------------------------------

namespace {

// Sums of a, b, e and |e| (slots 0 to 3) and of a^2, b^2 and e^2 (0 to 2),
// exactly for 8- and 16-bit pixels (as in the survey: |e| < 2^16, so e^2
// fits 32 bits unsigned), in double otherwise.
template <class T>
struct DifferenceLanes {
    static constexpr int kCount = 8;
    using Sum = std::conditional_t<kSumsExactly<T>, std::int32_t, double>;
    using Square = std::conditional_t<kSumsExactly<T>, std::uint64_t, double>;
    Sum sums[4][kCount];
    Square squares[3][kCount];
};

template <class T>
[[gnu::always_inline]] inline void DifferenceBody(const T* pa, const T* pb, std::int32_t n, DifferenceLanes<T>& out)
{
    using Lanes = DifferenceLanes<T>;
    using Sum = typename Lanes::Sum;
    using Square = typename Lanes::Square;
    constexpr int K = Lanes::kCount;
    using Sums = typename VectorOf<Sum, K>::type;
    using Squares = typename VectorOf<Square, K>::type;
    using Unsigned = typename VectorOf<std::uint32_t, K>::type;
    Sums s[4] = {};
    Squares q[3] = {};
    std::int32_t i = 0;
    for (; i + K <= n; i += K) {
        typename VectorOf<T, K>::type ra, rb;
        std::memcpy(&ra, pa + i, sizeof ra);
        std::memcpy(&rb, pb + i, sizeof rb);
        const Sums a = __builtin_convertvector(ra, Sums), b = __builtin_convertvector(rb, Sums), e = a - b;
        s[0] += a;
        s[1] += b;
        s[2] += e;
        s[3] += e < Sums{} ? -e : e;
        if constexpr (kSumsExactly<T>) {
            const Unsigned ua = (Unsigned)a, ub = (Unsigned)b, ue = (Unsigned)e;  // squares < 2^32
            q[0] += __builtin_convertvector(ua * ua, Squares);
            q[1] += __builtin_convertvector(ub * ub, Squares);
            q[2] += __builtin_convertvector(ue * ue, Squares);
        } else {
            q[0] += a * a;
            q[1] += b * b;
            q[2] += e * e;
        }
    }
    std::memcpy(out.sums, s, sizeof s);
    std::memcpy(out.squares, q, sizeof q);
    for (int j = 0; i < n; ++i, ++j) {
        const Sum a = static_cast<Sum>(pa[i]), b = static_cast<Sum>(pb[i]), e = a - b;
        out.sums[0][j] += a, out.sums[1][j] += b, out.sums[2][j] += e, out.sums[3][j] += e < 0 ? -e : e;
        if constexpr (kSumsExactly<T>) {
            const auto ua = static_cast<std::uint32_t>(a), ub = static_cast<std::uint32_t>(b),
                       ue = static_cast<std::uint32_t>(e);
            out.squares[0][j] += ua * ua, out.squares[1][j] += ub * ub, out.squares[2][j] += ue * ue;
        } else {
            out.squares[0][j] += a * a, out.squares[1][j] += b * b, out.squares[2][j] += e * e;
        }
    }
}

template <class T>
[[LUMADEX_TARGET_AVX512]] void DifferenceAvx512(const T* a, const T* b, std::int32_t n, DifferenceLanes<T>& out)
{
    DifferenceBody(a, b, n, out);
}
template <class T>
[[LUMADEX_TARGET_AVX2]] void DifferenceAvx2(const T* a, const T* b, std::int32_t n, DifferenceLanes<T>& out)
{
    DifferenceBody(a, b, n, out);
}
template <class T>
void DifferenceBase(const T* a, const T* b, std::int32_t n, DifferenceLanes<T>& out)
{
    DifferenceBody(a, b, n, out);
}

template <class T>
struct DifferencePartial {
    std::conditional_t<kSumsExactly<T>, std::int64_t, double> sums[4] = {};
    std::conditional_t<kSumsExactly<T>, std::uint64_t, double> squares[3] = {};
};

}  // namespace

template <class T>
DifferenceSums SurveyDifference(const Block<const T>& a, const Block<const T>& b)
{
    using Lanes = DifferenceLanes<T>;
    const auto difference = Pick(&DifferenceAvx512<T>, &DifferenceAvx2<T>, &DifferenceBase<T>);
    const auto partials =
        ForEachChunk(a, DifferencePartial<T>{}, [&](const Chunk& chunk, DifferencePartial<T>& partial) {
            Lanes lanes;
            for (std::int64_t r = chunk.row; r < chunk.rowEnd; ++r) {
                difference(a.Row(r) + chunk.x0, b.Row(r) + chunk.x0,
                           static_cast<std::int32_t>(chunk.x1 - chunk.x0), lanes);
                for (int j = 0; j < Lanes::kCount; ++j) {
                    for (int k = 0; k < 4; ++k) partial.sums[k] += lanes.sums[k][j];
                    for (int k = 0; k < 3; ++k) partial.squares[k] += lanes.squares[k][j];
                }
            }
        });
    double sums[4] = {}, squares[3] = {};
    for (const DifferencePartial<T>& partial : partials) {
        for (int k = 0; k < 4; ++k) sums[k] += static_cast<double>(partial.sums[k]);
        for (int k = 0; k < 3; ++k) squares[k] += static_cast<double>(partial.squares[k]);
    }
    return {sums[0], squares[0], sums[1], squares[1], sums[2], squares[2], sums[3]};
}

#define LUMADEX_STATISTICS_INSTANTIATE(T)                           \
    template Extremes FindExtremes(const Block<const T>&);           \
    template SurveyNumbers Survey(const Block<const T>&);            \
    template DifferenceSums SurveyDifference(const Block<const T>&, const Block<const T>&);
LUMADEX_STATISTICS_INSTANTIATE(std::int8_t)
LUMADEX_STATISTICS_INSTANTIATE(std::uint8_t)
LUMADEX_STATISTICS_INSTANTIATE(std::int16_t)
LUMADEX_STATISTICS_INSTANTIATE(std::uint16_t)
LUMADEX_STATISTICS_INSTANTIATE(std::int32_t)
LUMADEX_STATISTICS_INSTANTIATE(std::uint32_t)
LUMADEX_STATISTICS_INSTANTIATE(float)
LUMADEX_STATISTICS_INSTANTIATE(double)
#undef LUMADEX_STATISTICS_INSTANTIATE

}  // namespace lumadex::kernels
