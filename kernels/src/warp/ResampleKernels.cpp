// Resampling with edge modes (lumadex/kernels/Warp.h): per-axis taps (where
// a position's neighbours lie, their weights, whether the fill value stands
// in), fast rows for the pixels whose neighbours all lie inside the source,
// and the general sum for the pixels at the edges.
//
// Every path computes the same sum in the same order, so the interior rows,
// the edge pixels and the instruction-set variants agree to the last bit;
// contraction into fused multiply-adds is off in this file for that reason.
// The AVX-512 rows are written with intrinsics because the compiler does not
// turn the rows' gathers into vector gathers.
#pragma GCC optimize("fp-contract=off")

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <vector>

#include <immintrin.h>

#include "WarpSampling.h"
#include "lumadex/kernels/Dispatch.h"
#include "lumadex/kernels/Warp.h"

namespace lumadex::kernels {
namespace {

// --- one axis --------------------------------------------------------------------

// A position outside [0, n - 1] brought back onto the source by the edge
// mode, with scipy's folding arithmetic (truncating quotients), so that the
// folded positions agree to the bit. Constant never gets here; Nearest and
// GridConstant are left as they are: their neighbours are clamped or taken
// as the fill value, which interpolates as scipy does.
double FoldPosition(double p, std::int64_t n, WarpEdge edge)
{
    if (edge == WarpEdge::Nearest || edge == WarpEdge::GridConstant || edge == WarpEdge::Constant) return p;
    if (n <= 1) return 0.0;
    const double size = static_cast<double>(n);
    if (p < 0) {
        switch (edge) {
        case WarpEdge::Mirror: {
            const double period = 2 * size - 2;
            p = period * std::trunc(-p / period) + p;
            return p <= 1 - size ? p + period : -p;
        }
        case WarpEdge::Reflect: {
            const double period = 2 * size;
            if (p < -period) p = period * std::trunc(-p / period) + p;
            return p < -size ? p + period : -p - 1;
        }
        case WarpEdge::Wrap: {
            const double period = size - 1;
            return p + period * (std::trunc(-p / period) + 1);
        }
        default:  // GridWrap
            return p + size * (std::trunc((-1 - p) / size) + 1);
        }
    }
    switch (edge) {
    case WarpEdge::Mirror: {
        const double period = 2 * size - 2;
        p -= period * std::trunc(p / period);
        return p >= size ? period - p : p;
    }
    case WarpEdge::Reflect: {
        const double period = 2 * size;
        p -= period * std::trunc(p / period);
        return p >= size ? period - p - 1 : p;
    }
    case WarpEdge::Wrap: {
        const double period = size - 1;
        return p - period * std::trunc(p / period);
    }
    default:  // GridWrap
        return p - size * std::trunc(p / size);
    }
}

std::int64_t Modulo(std::int64_t i, std::int64_t period)
{
    const std::int64_t m = i % period;
    return m < 0 ? m + period : m;
}

// A neighbour's index brought onto the source by the edge mode; -1 where
// the neighbour counts as the fill value (GridConstant). Under Constant and
// Wrap the folded position lies inside, so only a neighbour of weight 0
// (position size - 1 exactly) gets here; scipy mirrors it, which matters
// when that pixel is not finite (0 * inf is NaN).
std::int64_t FoldIndex(std::int64_t i, std::int64_t n, WarpEdge edge)
{
    if (i >= 0 && i < n) return i;
    switch (edge) {
    case WarpEdge::GridConstant: return -1;
    case WarpEdge::Nearest: return std::clamp<std::int64_t>(i, 0, n - 1);
    case WarpEdge::Reflect: {
        const std::int64_t m = Modulo(i, 2 * n);
        return m >= n ? 2 * n - 1 - m : m;
    }
    case WarpEdge::GridWrap: return Modulo(i, n);
    default: {  // Mirror, Constant, Wrap
        if (n == 1) return 0;
        const std::int64_t m = Modulo(i, 2 * n - 2);
        return m >= n ? 2 * n - 2 - m : m;
    }
    }
}

// Where one axis of a sample reads: the neighbours' element offsets (0 where
// they count as the fill value), their weights, and whether the whole pixel
// is the fill value. Order 0 has one neighbour, repeated in slot 1.
struct Tap {
    std::int64_t at[2] = {0, 0};
    double weight[2] = {1, 0};
    bool inside[2] = {true, true};
    bool fill = false;

    bool plain() const { return !fill && inside[0] && inside[1]; }
};

Tap MakeTap(double p, std::int64_t n, std::int64_t stride, const WarpRule& rule)
{
    Tap tap;
    const bool outside = p < 0 || p > static_cast<double>(n - 1);
    if (n < 1 || !std::isfinite(p) || (outside && rule.edge == WarpEdge::Constant)) {
        tap.fill = true;
        return tap;
    }
    const double c = outside ? FoldPosition(p, n, rule.edge) : p;
    const double start = std::floor(rule.order == 0 ? c + 0.5 : c);
    if (rule.order == 1) {
        tap.weight[0] = 1.0 - (c - start);
        tap.weight[1] = 1.0 - tap.weight[0];
    }
    // Far outside (Nearest and GridConstant) every neighbour is the edge
    // pixel or fill; bounding the start keeps its integer in range.
    const auto i = static_cast<std::int64_t>(std::clamp(start, -2.0, static_cast<double>(n)));
    for (int k = 0; k <= rule.order; ++k) {
        const std::int64_t j = FoldIndex(i + k, n, rule.edge);
        tap.inside[k] = j >= 0;
        tap.at[k] = j >= 0 ? j * stride : 0;
    }
    if (rule.order == 0) tap.at[1] = tap.at[0], tap.inside[1] = tap.inside[0];
    return tap;
}

// The general sum of one destination pixel; taps[a] is the tap along axis a
// (x first). Corners run with x fastest; each corner's value is multiplied
// by its weights from the last axis given (z) down to x.
template <class S>
double GeneralPixel(const S* base, const Tap* const* taps, int dims, const WarpRule& rule)
{
    for (int a = 0; a < dims; ++a)
        if (taps[a]->fill) return rule.fill;
    const int corners = rule.order == 0 ? 1 : 1 << dims;
    double t = 0.0;
    for (int k = 0; k < corners; ++k) {
        bool inside = true;
        std::int64_t at = 0;
        for (int a = 0; a < dims; ++a) {
            const int side = (k >> a) & 1;
            inside = inside && taps[a]->inside[side];
            at += taps[a]->at[side];
        }
        double coeff = inside ? static_cast<double>(base[at]) : rule.fill;
        if (rule.order > 0)
            for (int a = dims - 1; a >= 0; --a) coeff *= taps[a]->weight[(k >> a) & 1];
        t += coeff;
    }
    return t;
}

// --- tables -----------------------------------------------------------------------

double MappedPosition(std::int64_t d, const WarpAxisMap& map)
{
    const double shifted = static_cast<double>(d) + map.shift;
    return map.grid ? (shifted + 0.5) * map.scale - 0.5 : shifted * map.scale + map.offset;
}

// The x taps of a separable warp. [begin, end) is the longest run of plain
// taps, whose offsets and weights also lie side by side for the interior
// rows; within it, [stepBegin, stepEnd) is the longest stretch whose offsets
// step by one pixel of a source with x stride 1 (a shift), which the rows
// read without gathers (the weights still vary in their last bits along
// the row, as scipy's do).
struct XTable {
    std::vector<Tap> taps;
    std::int64_t begin = 0, end = 0, stepBegin = 0, stepEnd = 0;
    std::vector<std::int64_t> at0, at1;
    std::vector<double> w0, w1;
};

XTable MakeXTable(std::int64_t width, std::int64_t sourceWidth, std::int64_t stride, const WarpAxisMap& map,
                  const WarpRule& rule)
{
    XTable xs;
    xs.taps.resize(static_cast<std::size_t>(width));
    for (std::int64_t x = 0; x < width; ++x) xs.taps[x] = MakeTap(MappedPosition(x, map), sourceWidth, stride, rule);
    for (std::int64_t x = 0; x < width;) {
        std::int64_t e = x;
        while (e < width && xs.taps[e].plain()) ++e;
        if (e - x > xs.end - xs.begin) xs.begin = x, xs.end = e;
        x = e + 1;
    }
    if (stride == 1) {
        for (std::int64_t x = xs.begin; x < xs.end;) {
            std::int64_t e = x + 1;
            while (e < xs.end && xs.taps[e].at[0] == xs.taps[e - 1].at[0] + 1 &&
                   xs.taps[e].at[1] == xs.taps[e - 1].at[1] + 1)
                ++e;
            if (e - x > xs.stepEnd - xs.stepBegin) xs.stepBegin = x, xs.stepEnd = e;
            x = e;
        }
    }
    const auto n = static_cast<std::size_t>(xs.end - xs.begin);
    xs.at0.resize(n), xs.at1.resize(n), xs.w0.resize(n), xs.w1.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        const Tap& tap = xs.taps[static_cast<std::size_t>(xs.begin) + k];
        xs.at0[k] = tap.at[0], xs.at1[k] = tap.at[1], xs.w0[k] = tap.weight[0], xs.w1[k] = tap.weight[1];
    }
    return xs;
}

// --- jobs --------------------------------------------------------------------------

template <class S>
struct AxesJob {
    Block<const S> src;
    int dims = 1;
    WarpRule rule;
    XTable xs;
    std::vector<Tap> taps[3];  // along y and z (slot 0 unused)
};

template <class S>
struct AffineJob {
    Block<const S> src;
    int dims = 1;
    WarpRule rule;
    double matrix[3][3] = {};
    double offset[3] = {};
};

// A destination row's place: its source lines' base (the planes that are
// not resampled), its indices along y and z and its own offset.
struct RowPlace {
    std::int64_t y, z, srcBase, dstOffset;
};

template <class S, class D>
RowPlace PlaceOf(const Block<const S>& src, const Block<D>& dst, int dims, std::int64_t r)
{
    const std::int64_t y = r % dst.size[1], rest = r / dst.size[1];
    const std::int64_t z = rest % dst.size[2], w = rest / dst.size[2];
    std::int64_t base = w * src.stride[3];
    if (dims < 3) base += z * src.stride[2];
    if (dims < 2) base += y * src.stride[1];
    return {y, z, base, y * dst.stride[1] + z * dst.stride[2] + w * dst.stride[3]};
}

template <class D>
[[gnu::always_inline]] inline void StoreRow(const double* values, D* out, std::int64_t width, std::int64_t stride)
{
    if (stride == 1) {
#pragma omp simd
        for (std::int64_t x = 0; x < width; ++x) out[x] = static_cast<D>(values[x]);
    } else {
        for (std::int64_t x = 0; x < width; ++x) out[x * stride] = static_cast<D>(values[x]);
    }
}

// --- interior rows ------------------------------------------------------------------
// Each pixel's sum is its own, so vectorising across pixels changes no
// rounding.

// Pixels [from, to) of the interior of a separable row. `lines` are the
// source rows of the corners along z and y (y fastest), wz and wy their
// weights; with Step the offsets step by one pixel from those at `from`.
template <int Dims, int Order, bool Step, class S>
[[gnu::always_inline]] inline void InteriorAxesRow(const S* const (&lines)[4], const double (&wz)[2],
                                                   const double (&wy)[2], const XTable& xs, double* out,
                                                   std::int64_t from, std::int64_t to)
{
    const std::int64_t k0 = from - xs.begin, n = to - from;
    const std::int64_t* at0 = xs.at0.data() + k0;
    const std::int64_t* at1 = xs.at1.data() + k0;
    const double* w0 = xs.w0.data() + k0;
    const double* w1 = xs.w1.data() + k0;
    double* o = out + from;
    const S* const l0 = lines[0];
    const S* const l1 = lines[1];
    const S* const l2 = lines[2];
    const S* const l3 = lines[3];
    const std::int64_t first0 = n > 0 ? at0[0] : 0, first1 = n > 0 ? at1[0] : 0;
#pragma omp simd
    for (std::int64_t x = 0; x < n; ++x) {
        const std::int64_t a = Step ? first0 + x : at0[x];
        if constexpr (Order == 0) {
            o[x] = 0.0 + static_cast<double>(l0[a]);
        } else {
            const std::int64_t b = Step ? first1 + x : at1[x];
            const double u = w0[x], v = w1[x];
            double t = 0.0;
            if constexpr (Dims == 1) {
                t += static_cast<double>(l0[a]) * u;
                t += static_cast<double>(l0[b]) * v;
            } else if constexpr (Dims == 2) {
                t += (static_cast<double>(l0[a]) * wy[0]) * u;
                t += (static_cast<double>(l0[b]) * wy[0]) * v;
                t += (static_cast<double>(l1[a]) * wy[1]) * u;
                t += (static_cast<double>(l1[b]) * wy[1]) * v;
            } else {
                t += ((static_cast<double>(l0[a]) * wz[0]) * wy[0]) * u;
                t += ((static_cast<double>(l0[b]) * wz[0]) * wy[0]) * v;
                t += ((static_cast<double>(l1[a]) * wz[0]) * wy[1]) * u;
                t += ((static_cast<double>(l1[b]) * wz[0]) * wy[1]) * v;
                t += ((static_cast<double>(l2[a]) * wz[1]) * wy[0]) * u;
                t += ((static_cast<double>(l2[b]) * wz[1]) * wy[0]) * v;
                t += ((static_cast<double>(l3[a]) * wz[1]) * wy[1]) * u;
                t += ((static_cast<double>(l3[b]) * wz[1]) * wy[1]) * v;
            }
            o[x] = t;
        }
    }
}

// Columns [x0, x1) of an affine row (into out[x - x0]), those whose
// neighbours all lie inside the source: positions, weights and the corner
// sum without branches, each pixel flagged as interior or not. Positions outside are
// replaced by 0 before they become indices, so every read stays inside (the
// caller makes sure that every axis holds the neighbours); those pixels are
// done again by the general sum.
template <int Dims, int Order, class S>
[[gnu::always_inline]] inline void InteriorAffineRow(const AffineJob<S>& job, const S* base, const double (&rowPart)[3],
                                                     double* out, unsigned char* interior, std::int64_t x0,
                                                     std::int64_t x1)
{
    double part[Dims], last[Dims], m0[Dims], offset[Dims];
    std::int64_t stride[Dims];
    for (int a = 0; a < Dims; ++a) {
        part[a] = rowPart[a];
        last[a] = static_cast<double>(job.src.size[a] - 1);
        m0[a] = job.matrix[a][0];
        offset[a] = job.offset[a];
        stride[a] = job.src.stride[a];
    }
    for (std::int64_t x = x0; x < x1; ++x) {
        bool inside = true;
        std::int64_t at[Dims];
        double w0[Dims], w1[Dims];
        for (int a = 0; a < Dims; ++a) {
            const double p = (part[a] + static_cast<double>(x) * m0[a]) + offset[a];
            // Order 1 reads floor(p) + 1: its interior ends before the last pixel.
            const bool in = (p >= 0.0) & (Order == 1 ? p < last[a] : p <= last[a]);
            const double q = in ? p : 0.0;
            const double start = Order == 1 ? std::floor(q) : std::floor(q + 0.5);
            at[a] = static_cast<std::int64_t>(start) * stride[a];
            w0[a] = 1.0 - (q - start);
            w1[a] = 1.0 - w0[a];
            inside &= in;
        }
        double t = 0.0;
        if constexpr (Order == 0) {
            std::int64_t o = 0;
            for (int a = 0; a < Dims; ++a) o += at[a];
            t += static_cast<double>(base[o]);
        } else {
            for (int k = 0; k < (1 << Dims); ++k) {
                std::int64_t o = 0;
                for (int a = 0; a < Dims; ++a) o += at[a] + (((k >> a) & 1) ? stride[a] : 0);
                double coeff = static_cast<double>(base[o]);
                for (int a = Dims - 1; a >= 0; --a) coeff *= ((k >> a) & 1) ? w1[a] : w0[a];
                t += coeff;
            }
        }
        out[x - x0] = t;
        interior[x - x0] = inside;
    }
}

// Rows ahead whose source the affine rows prefetch.
constexpr double kPrefetchRows = 4;

// --- AVX-512 interior rows ----------------------------------------------------------------
// The same sums as the rows above, eight pixels at a time with gathers. Each
// returns the first pixel it left for the rows above (none).

#define LUMADEX_AVX512_INLINE [[gnu::always_inline, LUMADEX_TARGET_AVX512]] inline

// GCC 12's AVX-512 headers start some results from an undefined register.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Eight source pixels at element offsets `at`, as doubles.
template <class S>
LUMADEX_AVX512_INLINE __m512d Gather(const S* base, __m512i at)
{
    if constexpr (std::is_same_v<S, float>)
        return _mm512_cvtps_pd(_mm512_i64gather_ps(at, base, 4));
    else
        return _mm512_i64gather_pd(at, base, 8);
}

// The pixels at `at` and `at` + 1 of float rows, where `valid` (the fill
// value elsewhere), from one gather of 64-bit pairs: half the gathers.
// Lanes that are not valid must still point at a pair of pixels.
LUMADEX_AVX512_INLINE void GatherPairs(const float* base, __m512i at, __mmask8 valid, __m512d fill, __m512d& first,
                                       __m512d& second)
{
    // Lanes that are not valid are not read.
    const __m512i both = valid == 0xFF ? _mm512_i64gather_epi64(at, base, 4)
                                       : _mm512_mask_i64gather_epi64(_mm512_setzero_si512(), valid, at, base, 4);
    first = _mm512_cvtps_pd(_mm256_castsi256_ps(_mm512_cvtepi64_epi32(both)));
    second = _mm512_cvtps_pd(_mm256_castsi256_ps(_mm512_cvtepi64_epi32(_mm512_srli_epi64(both, 32))));
    if (valid != 0xFF) {
        first = _mm512_mask_blend_pd(valid, fill, first);
        second = _mm512_mask_blend_pd(valid, fill, second);
    }
}

// True when every lane's second neighbour is the pixel after its first.
LUMADEX_AVX512_INLINE bool Adjacent(__m512i first, __m512i second, __mmask8 lanes)
{
    return _mm512_mask_cmpneq_epi64_mask(lanes, _mm512_sub_epi64(second, first), _mm512_set1_epi64(1)) == 0;
}

// t + ((g * wz) * wy) * wx, with the weights the corner has.
template <int Dims>
LUMADEX_AVX512_INLINE __m512d AddCorner(__m512d t, __m512d g, __m512d wz, __m512d wy, __m512d wx)
{
    if constexpr (Dims == 3) g = _mm512_mul_pd(g, wz);
    if constexpr (Dims >= 2) g = _mm512_mul_pd(g, wy);
    return _mm512_add_pd(t, _mm512_mul_pd(g, wx));
}

template <int Dims, int Order, class S>
[[LUMADEX_TARGET_AVX512]] std::int64_t GatherAxesRowAvx512(const S* const (&lines)[4], const double (&wz)[2],
                                                           const double (&wy)[2], const XTable& xs, double* out,
                                                           std::int64_t from, std::int64_t to)
{
    constexpr int kLines = Dims == 1 ? 1 : Dims == 2 ? 2 : 4;
    for (std::int64_t x = from; x < to; x += 8) {
        // Lanes past the run gather pixel 0 and are not stored.
        const __mmask8 run = to - x >= 8 ? 0xFF : static_cast<__mmask8>((1u << (to - x)) - 1);
        const std::int64_t k = x - xs.begin;
        const __m512i a = _mm512_maskz_loadu_epi64(run, xs.at0.data() + k);
        if constexpr (Order == 0) {
            _mm512_mask_storeu_pd(out + x, run, _mm512_add_pd(_mm512_setzero_pd(), Gather(lines[0], a)));
        } else {
            const __m512i b = _mm512_maskz_loadu_epi64(run, xs.at1.data() + k);
            const __m512d u = _mm512_maskz_loadu_pd(run, xs.w0.data() + k);
            const __m512d v = _mm512_maskz_loadu_pd(run, xs.w1.data() + k);
            bool pairs = false;
            if constexpr (std::is_same_v<S, float>) pairs = Adjacent(a, b, run);
            __m512d t = _mm512_setzero_pd();
            for (int j = 0; j < kLines; ++j) {
                const __m512d zj = _mm512_set1_pd(wz[j >> 1]), yj = _mm512_set1_pd(wy[j & 1]);
                __m512d first, second;
                if constexpr (std::is_same_v<S, float>)
                    if (pairs) GatherPairs(lines[j], a, 0xFF, _mm512_setzero_pd(), first, second);
                if (!pairs) first = Gather(lines[j], a), second = Gather(lines[j], b);
                t = AddCorner<Dims>(t, first, zj, yj, u);
                t = AddCorner<Dims>(t, second, zj, yj, v);
            }
            _mm512_mask_storeu_pd(out + x, run, t);
        }
    }
    return to;
}

// One axis of eight samples, as MakeTap makes it, with FoldPosition's
// arithmetic operation for operation. Indices and offsets are whole numbers
// held in doubles (exact below 2^53), which spares the 64-bit integer
// multiplications. Lanes whose folded position would need more than one
// step of index folding (positions beyond 2^52 or so) are left to the
// general sum.
struct LaneTaps {
    __m512d at0, at1;         // element offsets of the neighbours (0 where not valid)
    __m512d w0, w1;
    __mmask8 valid0, valid1;  // the neighbour is a pixel (GridConstant: else fill)
    __mmask8 fill;            // the sample is the fill value
    __mmask8 general;         // left to the general sum
};

// An axis's numbers for LaneTapsOf, made once per row.
struct LaneAxis {
    __m512d last, size, stride, period;
    __m512d below, above;  // the indices that neighbours -1 and n fold to
    WarpEdge edge;
    bool single;  // one pixel: the folding modes fold every position to 0

    LUMADEX_AVX512_INLINE LaneAxis(std::int64_t n, std::int64_t step, WarpEdge mode)
        : last(_mm512_set1_pd(static_cast<double>(n - 1))),
          size(_mm512_set1_pd(static_cast<double>(n))),
          stride(_mm512_set1_pd(static_cast<double>(step))),
          edge(mode),
          single(n <= 1)
    {
        const double d = static_cast<double>(n);
        double p = 0, b = 0, a = 0;  // FoldPosition's period; FoldIndex of -1 and of n
        switch (mode) {
        case WarpEdge::Reflect: p = 2 * d, b = 0, a = d - 1; break;
        case WarpEdge::GridWrap: p = d, b = d - 1, a = 0; break;
        case WarpEdge::Wrap: p = d - 1, b = n == 1 ? 0 : 1, a = n == 1 ? 0 : d - 2; break;
        case WarpEdge::Nearest: b = 0, a = d - 1; break;
        default: p = 2 * d - 2, b = n == 1 ? 0 : 1, a = n == 1 ? 0 : d - 2;  // Mirror, Constant
        }
        period = _mm512_set1_pd(p), below = _mm512_set1_pd(b), above = _mm512_set1_pd(a);
    }
};

LUMADEX_AVX512_INLINE __m512d Truncate(__m512d x)
{
    return _mm512_roundscale_pd(x, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
}

// FoldPosition for the lanes of p (outside [0, n - 1], finite) under the
// modes that fold.
LUMADEX_AVX512_INLINE __m512d FoldLanes(__m512d p, const LaneAxis& axis)
{
    const __m512d zero = _mm512_setzero_pd(), one = _mm512_set1_pd(1.0), P = axis.period;
    const __mmask8 negative = _mm512_cmp_pd_mask(p, zero, _CMP_LT_OQ);
    const __m512d minusP = _mm512_sub_pd(zero, p);
    __m512d low, high;  // the folds of negative and of too large positions
    switch (axis.edge) {
    case WarpEdge::Mirror: {
        const __m512d t = _mm512_add_pd(_mm512_mul_pd(P, Truncate(_mm512_div_pd(minusP, P))), p);
        low = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(t, _mm512_sub_pd(one, axis.size), _CMP_LE_OQ),
                                   _mm512_sub_pd(zero, t), _mm512_add_pd(t, P));
        const __m512d u = _mm512_sub_pd(p, _mm512_mul_pd(P, Truncate(_mm512_div_pd(p, P))));
        high = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(u, axis.size, _CMP_GE_OQ), u, _mm512_sub_pd(P, u));
        break;
    }
    case WarpEdge::Reflect: {
        const __m512d wide = _mm512_add_pd(_mm512_mul_pd(P, Truncate(_mm512_div_pd(minusP, P))), p);
        const __m512d t = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(p, _mm512_sub_pd(zero, P), _CMP_LT_OQ), p, wide);
        low = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(t, _mm512_sub_pd(zero, axis.size), _CMP_LT_OQ),
                                   _mm512_sub_pd(_mm512_sub_pd(zero, t), one), _mm512_add_pd(t, P));
        const __m512d u = _mm512_sub_pd(p, _mm512_mul_pd(P, Truncate(_mm512_div_pd(p, P))));
        high = _mm512_mask_blend_pd(_mm512_cmp_pd_mask(u, axis.size, _CMP_GE_OQ), u,
                                    _mm512_sub_pd(_mm512_sub_pd(P, u), one));
        break;
    }
    case WarpEdge::Wrap:
        low = _mm512_add_pd(p, _mm512_mul_pd(P, _mm512_add_pd(Truncate(_mm512_div_pd(minusP, P)), one)));
        high = _mm512_sub_pd(p, _mm512_mul_pd(P, Truncate(_mm512_div_pd(p, P))));
        break;
    default:  // GridWrap
        const __m512d quotient = Truncate(_mm512_div_pd(_mm512_sub_pd(_mm512_set1_pd(-1.0), p), P));
        low = _mm512_add_pd(p, _mm512_mul_pd(P, _mm512_add_pd(quotient, one)));
        high = _mm512_sub_pd(p, _mm512_mul_pd(P, Truncate(_mm512_div_pd(p, P))));
    }
    return _mm512_mask_blend_pd(negative, high, low);
}

template <int Order>
LUMADEX_AVX512_INLINE LaneTaps LaneTapsOf(__m512d p, const LaneAxis& axis)
{
    constexpr int kBelow = _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC;
    const __m512d zero = _mm512_setzero_pd(), one = _mm512_set1_pd(1.0);
    const __mmask8 inRange = _mm512_cmp_pd_mask(p, zero, _CMP_GE_OQ) & _mm512_cmp_pd_mask(p, axis.last, _CMP_LE_OQ);
    const __mmask8 nonFinite = _mm512_fpclass_pd_mask(p, 0x99);  // NaN or infinite
    LaneTaps t;
    t.valid0 = t.valid1 = 0xFF;
    t.general = 0;
    // Positions that give no pixel are replaced by 0 before they become indices.
    __m512d c;
    switch (axis.edge) {
    case WarpEdge::Constant:
        t.fill = static_cast<__mmask8>(~inRange);
        c = _mm512_maskz_mov_pd(inRange, p);
        break;
    case WarpEdge::GridConstant:
    case WarpEdge::Nearest:
        t.fill = nonFinite;
        c = _mm512_mask_mov_pd(p, nonFinite, zero);
        break;
    default: {
        t.fill = nonFinite;
        const __mmask8 outside = static_cast<__mmask8>(~inRange & ~nonFinite);
        c = _mm512_maskz_mov_pd(static_cast<__mmask8>(~nonFinite), p);
        if (outside) c = _mm512_mask_mov_pd(c, outside, axis.single ? zero : FoldLanes(c, axis));
        // A fold lands in [-1, n): its neighbours need at most one step more.
        t.general = static_cast<__mmask8>(~(_mm512_cmp_pd_mask(c, _mm512_set1_pd(-1.0), _CMP_GE_OQ) &
                                            _mm512_cmp_pd_mask(c, axis.size, _CMP_LT_OQ)));
        c = _mm512_maskz_mov_pd(static_cast<__mmask8>(~t.general), c);
    }
    }
    const __m512d start = _mm512_roundscale_pd(Order == 1 ? c : _mm512_add_pd(c, _mm512_set1_pd(0.5)), kBelow);
    t.w0 = _mm512_sub_pd(one, _mm512_sub_pd(c, start));
    t.w1 = _mm512_sub_pd(one, t.w0);
    __m512d j0 = start, j1 = _mm512_add_pd(start, one);
    if (axis.edge == WarpEdge::GridConstant) {
        // Far outside, the start is bounded first, as MakeTap bounds it.
        const __m512d low = _mm512_set1_pd(-2.0);
        j0 = _mm512_min_pd(_mm512_max_pd(j0, low), axis.size);
        j1 = _mm512_min_pd(_mm512_max_pd(j1, low), axis.size);
        t.valid0 = _mm512_cmp_pd_mask(j0, zero, _CMP_GE_OQ) & _mm512_cmp_pd_mask(j0, axis.size, _CMP_LT_OQ);
        t.valid1 = _mm512_cmp_pd_mask(j1, zero, _CMP_GE_OQ) & _mm512_cmp_pd_mask(j1, axis.size, _CMP_LT_OQ);
        j0 = _mm512_maskz_mov_pd(t.valid0, j0);
        j1 = _mm512_maskz_mov_pd(t.valid1, j1);
    } else if (axis.edge == WarpEdge::Nearest) {
        j0 = _mm512_min_pd(_mm512_max_pd(j0, zero), axis.last);
        j1 = _mm512_min_pd(_mm512_max_pd(j1, zero), axis.last);
    } else {
        // FoldIndex one step beyond each edge: -1 and n.
        const __m512d minusOne = _mm512_set1_pd(-1.0);
        j0 = _mm512_mask_mov_pd(j0, _mm512_cmp_pd_mask(j0, minusOne, _CMP_EQ_OQ), axis.below);
        j0 = _mm512_mask_mov_pd(j0, _mm512_cmp_pd_mask(j0, axis.size, _CMP_EQ_OQ), axis.above);
        j1 = _mm512_mask_mov_pd(j1, _mm512_cmp_pd_mask(j1, minusOne, _CMP_EQ_OQ), axis.below);
        j1 = _mm512_mask_mov_pd(j1, _mm512_cmp_pd_mask(j1, axis.size, _CMP_EQ_OQ), axis.above);
    }
    t.at0 = _mm512_mul_pd(j0, axis.stride);
    t.at1 = Order == 1 ? _mm512_mul_pd(j1, axis.stride) : t.at0;
    if (Order == 0) t.valid1 = t.valid0;
    return t;
}

// Eight source pixels where `valid`, the fill value elsewhere (the offsets
// of lanes that are not valid are 0).
template <class S>
LUMADEX_AVX512_INLINE __m512d GatherOrFill(const S* base, __m512i at, __mmask8 valid, __m512d fill)
{
    if (valid == 0xFF) return Gather(base, at);
    if constexpr (std::is_same_v<S, float>)
        return _mm512_mask_blend_pd(valid, fill,
                                    _mm512_cvtps_pd(_mm512_mask_i64gather_ps(_mm256_setzero_ps(), valid, at, base, 4)));
    else
        return _mm512_mask_i64gather_pd(fill, valid, at, base, 8);
}

template <int Dims, int Order, class S>
[[LUMADEX_TARGET_AVX512]] std::int64_t InteriorAffineRowAvx512(const AffineJob<S>& job, const S* base,
                                                               const double (&rowPart)[3], double* out,
                                                               unsigned char* interior, std::int64_t x0,
                                                               std::int64_t x1)
{
    __m512d part[Dims], m0[Dims], offset[Dims];
    const LaneAxis axes[3] = {LaneAxis(job.src.size[0], job.src.stride[0], job.rule.edge),
                              LaneAxis(job.src.size[1], job.src.stride[1], job.rule.edge),
                              LaneAxis(job.src.size[2], job.src.stride[2], job.rule.edge)};
    for (int a = 0; a < Dims; ++a) {
        part[a] = _mm512_set1_pd(rowPart[a]);
        m0[a] = _mm512_set1_pd(job.matrix[a][0]);
        offset[a] = _mm512_set1_pd(job.offset[a]);
    }
    const __m512d fill = _mm512_set1_pd(job.rule.fill), one = _mm512_set1_pd(1.0);
    const __m512d lanes = _mm512_set_pd(7, 6, 5, 4, 3, 2, 1, 0);
    // Where the rows kPrefetchRows further down read, about: a rotated row
    // reads a slanted band of the source that the hardware prefetchers do
    // not foresee.
    double rowStep = 0;
    for (int a = 0; a < Dims; ++a) rowStep += job.matrix[a][1] * static_cast<double>(job.src.stride[a]);
    const auto ahead = static_cast<std::int64_t>(rowStep * kPrefetchRows);
    const std::int64_t nextLine = Dims > 1 ? job.src.stride[1] : 0;
    // The two neighbours along x are fetched together where they are
    // adjacent float pixels.
    const bool pairable = std::is_same_v<S, float> && Order == 1 && job.src.stride[0] == 1;
    for (std::int64_t x = x0; x < x1; x += 8) {
        // The last eight may run past the columns: their lanes compute
        // (reading inside the source) but are not stored.
        const __mmask8 row = x1 - x >= 8 ? 0xFF : static_cast<__mmask8>((1u << (x1 - x)) - 1);
        const __m512d column = _mm512_add_pd(_mm512_set1_pd(static_cast<double>(x)), lanes);
        LaneTaps taps[Dims];
        __mmask8 filled = 0, general = 0;
        for (int a = 0; a < Dims; ++a) {
            const __m512d p = _mm512_add_pd(_mm512_add_pd(part[a], _mm512_mul_pd(column, m0[a])), offset[a]);
            taps[a] = LaneTapsOf<Order>(p, axes[a]);
            filled |= taps[a].fill;
            general |= taps[a].general;
        }
        const __mmask8 live = static_cast<__mmask8>(~(filled | general));
        // Lanes that are not live have offsets 0 and 1 along x.
        const bool pairs = pairable && (taps[0].valid0 & taps[0].valid1) == 0xFF &&
                           _mm512_cmp_pd_mask(_mm512_sub_pd(taps[0].at1, taps[0].at0), one, _CMP_NEQ_UQ) == 0;
        __m512d t = _mm512_setzero_pd();
        // Corners with x fastest (lines along z and y outside it); weights
        // from the last axis down to x. Eight lanes of fill or of the
        // general sum read nothing.
        for (int line = 0; live != 0 && line < (Order == 0 ? 1 : 1 << (Dims - 1)); ++line) {
            __m512d at = _mm512_setzero_pd();
            __mmask8 valid = live;
            for (int a = 1; a < Dims; ++a) {
                const bool second = (line >> (a - 1)) & 1;
                at = _mm512_add_pd(at, second ? taps[a].at1 : taps[a].at0);
                valid &= second ? taps[a].valid1 : taps[a].valid0;
            }
            __m512d g[2];
            const __m512i first = _mm512_cvttpd_epi64(_mm512_add_pd(at, taps[0].at0));
            if (line == 0 && Dims > 1) {
                const std::int64_t soon = _mm_cvtsi128_si64(_mm512_castsi512_si128(first)) + ahead;
                _mm_prefetch(reinterpret_cast<const char*>(base + soon), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(base + soon + nextLine), _MM_HINT_T0);
            }
            if constexpr (std::is_same_v<S, float> && Order == 1)
                if (pairs) GatherPairs(base, first, valid, fill, g[0], g[1]);
            if (!pairs) {
                g[0] = GatherOrFill(base, first, valid & taps[0].valid0, fill);
                if (Order == 1)
                    g[1] = GatherOrFill(base, _mm512_cvttpd_epi64(_mm512_add_pd(at, taps[0].at1)),
                                        valid & taps[0].valid1, fill);
            }
            for (int side = 0; side <= Order; ++side) {
                __m512d coeff = g[side];
                if constexpr (Order == 1) {
                    for (int a = Dims - 1; a >= 1; --a)
                        coeff = _mm512_mul_pd(coeff, ((line >> (a - 1)) & 1) ? taps[a].w1 : taps[a].w0);
                    coeff = _mm512_mul_pd(coeff, side ? taps[0].w1 : taps[0].w0);
                }
                t = _mm512_add_pd(t, coeff);
            }
        }
        _mm512_mask_storeu_pd(out + (x - x0), row, _mm512_mask_blend_pd(filled, t, fill));
        _mm_mask_storeu_epi8(interior + (x - x0), row, _mm_maskz_set1_epi8(static_cast<__mmask8>(~general), 1));
    }
    return x1;
}
#pragma GCC diagnostic pop

// --- whole rows -----------------------------------------------------------------------------
// Wide: the row runs in the AVX-512 variant and takes its intrinsic rows.

template <int Dims, int Order, bool Wide, class S>
[[gnu::always_inline]] inline void AxesInterior(const S* const (&lines)[4], const double (&wz)[2],
                                                const double (&wy)[2], const XTable& xs, double* out)
{
    // Gathered stretches before and after the stepping one, which reads rows.
    const auto gathered = [&](std::int64_t from, std::int64_t to) {
        if constexpr (Wide) from = GatherAxesRowAvx512<Dims, Order>(lines, wz, wy, xs, out, from, to);
        InteriorAxesRow<Dims, Order, false>(lines, wz, wy, xs, out, from, to);
    };
    if (xs.stepEnd > xs.stepBegin) {
        gathered(xs.begin, xs.stepBegin);
        InteriorAxesRow<Dims, Order, true>(lines, wz, wy, xs, out, xs.stepBegin, xs.stepEnd);
        gathered(xs.stepEnd, xs.end);
    } else {
        gathered(xs.begin, xs.end);
    }
}

// One destination row of a separable warp, as doubles.
template <bool Wide, class S>
[[gnu::always_inline]] inline void AxesRow(const AxesJob<S>& job, const RowPlace& place, double* out,
                                           unsigned char*, std::int64_t width)
{
    const Tap none;
    const Tap& ty = job.dims >= 2 ? job.taps[1][place.y] : none;
    const Tap& tz = job.dims >= 3 ? job.taps[2][place.z] : none;
    if (ty.fill || tz.fill) {
        std::fill(out, out + width, job.rule.fill);
        return;
    }
    const S* base = job.src.data + place.srcBase;
    std::int64_t begin = 0, end = 0;  // the interior run done by the fast rows
    if (ty.plain() && tz.plain() && job.xs.end > job.xs.begin) {
        const S* lines[4];
        for (int k = 0; k < 2; ++k)
            for (int j = 0; j < 2; ++j) lines[2 * k + j] = base + tz.at[k] + ty.at[j];
        const double wz[2] = {tz.weight[0], tz.weight[1]}, wy[2] = {ty.weight[0], ty.weight[1]};
        switch (job.dims * 2 + job.rule.order) {
        case 2: AxesInterior<1, 0, Wide>(lines, wz, wy, job.xs, out); break;
        case 3: AxesInterior<1, 1, Wide>(lines, wz, wy, job.xs, out); break;
        case 4: AxesInterior<2, 0, Wide>(lines, wz, wy, job.xs, out); break;
        case 5: AxesInterior<2, 1, Wide>(lines, wz, wy, job.xs, out); break;
        case 6: AxesInterior<3, 0, Wide>(lines, wz, wy, job.xs, out); break;
        default: AxesInterior<3, 1, Wide>(lines, wz, wy, job.xs, out); break;
        }
        begin = job.xs.begin, end = job.xs.end;
    }
    const Tap* taps[3] = {nullptr, &ty, &tz};
    for (std::int64_t x = 0; x < width; ++x) {
        if (x == begin && end > begin) {
            x = end - 1;
            continue;
        }
        taps[0] = &job.xs.taps[static_cast<std::size_t>(x)];
        out[x] = GeneralPixel(base, taps, job.dims, job.rule);
    }
}

// Columns [x0, x1) of a destination row of an affine warp, as doubles
// (into out[x - x0]): the interior pixels at once, then the others by the
// general sum.
template <int Dims, int Order, bool Wide, class S>
[[gnu::always_inline]] inline void AffineRowOf(const AffineJob<S>& job, const RowPlace& place, double* out,
                                               unsigned char* interior, std::int64_t x0, std::int64_t x1)
{
    const S* base = job.src.data + place.srcBase;
    // The row's part of the position sums: (0 + z * m[a][2]) + y * m[a][1].
    double rowPart[3] = {};
    const double d[3] = {0.0, static_cast<double>(place.y), static_cast<double>(place.z)};
    for (int a = 0; a < Dims; ++a)
        for (int b = Dims - 1; b >= 1; --b) rowPart[a] += d[b] * job.matrix[a][b];
    bool readable = true;  // every axis holds the neighbours the interior rows read
    for (int a = 0; a < Dims; ++a) readable = readable && job.src.size[a] >= (Order == 1 ? 2 : 1);
    if (!readable)
        std::fill(interior, interior + (x1 - x0), 0);
    else if constexpr (Wide)
        InteriorAffineRowAvx512<Dims, Order>(job, base, rowPart, out, interior, x0, x1);
    else
        InteriorAffineRow<Dims, Order>(job, base, rowPart, out, interior, x0, x1);
    for (std::int64_t x = x0; x < x1; ++x) {
        if (interior[x - x0]) continue;
        double p[Dims];
        bool outside = false;  // under Constant: the fill value, without taps
        for (int a = 0; a < Dims; ++a) {
            p[a] = (rowPart[a] + static_cast<double>(x) * job.matrix[a][0]) + job.offset[a];
            outside = outside || !(p[a] >= 0 && p[a] <= static_cast<double>(job.src.size[a] - 1));
        }
        if (outside && job.rule.edge == WarpEdge::Constant) {
            out[x - x0] = job.rule.fill;
            continue;
        }
        Tap taps[Dims];
        const Tap* pointers[Dims];
        for (int a = 0; a < Dims; ++a) {
            taps[a] = MakeTap(p[a], job.src.size[a], job.src.stride[a], job.rule);
            pointers[a] = &taps[a];
        }
        out[x - x0] = GeneralPixel(base, pointers, Dims, job.rule);
    }
}

template <bool Wide, class S>
[[gnu::always_inline]] inline void AffineRow(const AffineJob<S>& job, const RowPlace& place, double* out,
                                             unsigned char* interior, std::int64_t x0, std::int64_t x1)
{
    switch (job.dims * 2 + job.rule.order) {
    case 2: AffineRowOf<1, 0, Wide>(job, place, out, interior, x0, x1); break;
    case 3: AffineRowOf<1, 1, Wide>(job, place, out, interior, x0, x1); break;
    case 4: AffineRowOf<2, 0, Wide>(job, place, out, interior, x0, x1); break;
    case 5: AffineRowOf<2, 1, Wide>(job, place, out, interior, x0, x1); break;
    case 6: AffineRowOf<3, 0, Wide>(job, place, out, interior, x0, x1); break;
    default: AffineRowOf<3, 1, Wide>(job, place, out, interior, x0, x1); break;
    }
}

// --- the row loops, for each instruction set -----------------------------------------------

template <class Job, class D>
using RowsFunction = void (*)(const Job&, const Block<D>&, std::int64_t, std::int64_t);

template <bool Wide, class S, class D, class Job>
[[gnu::always_inline]] inline void RowsBody(const Job& job, const Block<D>& dst, std::int64_t begin,
                                            std::int64_t end)
{
    const std::int64_t width = dst.size[0];
    std::vector<double> values(static_cast<std::size_t>(width));
    std::vector<unsigned char> interior(values.size());
    for (std::int64_t r = begin; r < end; ++r) {
        const RowPlace place = PlaceOf(job.src, dst, job.dims, r);
        if constexpr (std::is_same_v<Job, AxesJob<S>>)
            AxesRow<Wide>(job, place, values.data(), interior.data(), width);
        else
            AffineRow<Wide>(job, place, values.data(), interior.data(), 0, width);
        StoreRow(values.data(), dst.data + place.dstOffset, width, dst.stride[0]);
    }
}

template <class S, class D, class Job>
void RowsBase(const Job& job, const Block<D>& dst, std::int64_t begin, std::int64_t end)
{
    RowsBody<false, S>(job, dst, begin, end);
}
template <class S, class D, class Job>
[[LUMADEX_TARGET_AVX2]] void RowsAvx2(const Job& job, const Block<D>& dst, std::int64_t begin, std::int64_t end)
{
    RowsBody<false, S>(job, dst, begin, end);
}
template <class S, class D, class Job>
[[LUMADEX_TARGET_AVX512]] void RowsAvx512(const Job& job, const Block<D>& dst, std::int64_t begin,
                                          std::int64_t end)
{
    RowsBody<true, S>(job, dst, begin, end);
}

template <class S, class D, class Job>
void RunRows(const Job& job, const Block<D>& dst)
{
    const RowsFunction<Job, D> rows = Pick<RowsFunction<Job, D>>(&RowsAvx512<S, D, Job>, &RowsAvx2<S, D, Job>,
                                                                 &RowsBase<S, D, Job>);
    warp::ForEachRowBlock(dst.rows(), dst.size[0],
                          [&](std::int64_t begin, std::int64_t end, bool) { rows(job, dst, begin, end); });
}

// --- the source ------------------------------------------------------------------------

// The source as the rows read it: its own pixels, or a dense copy when the
// destination shares memory with it.
template <class S, class D>
class SourceCopy {
public:
    SourceCopy(const Block<const S>& src, const Block<D>& dst) : block_(src)
    {
        if (static_cast<const void*>(src.data) != static_cast<const void*>(dst.data) && !Overlap(src, dst)) return;
        copy_.resize(static_cast<std::size_t>(src.count()));
        std::size_t k = 0;
        for (std::int64_t r = 0; r < src.rows(); ++r) {
            const S* row = src.Row(r);
            for (std::int64_t x = 0; x < src.size[0]; ++x) copy_[k++] = row[x * src.stride[0]];
        }
        const std::int64_t w = src.size[0], h = src.size[1], d = src.size[2];
        block_ = {copy_.data(), {w, h, d, src.size[3]}, {1, w, w * h, w * h * d}};
    }
    const Block<const S>& block() const { return block_; }

private:
    std::vector<S> copy_;
    Block<const S> block_;
};

}  // namespace

template <class S, class D>
void ResampleAxesBlock(const Block<const S>& src, const Block<D>& dst, int dims, const WarpAxisMap* maps,
                       const WarpRule& rule)
{
    if (dst.count() == 0) return;
    const SourceCopy<S, D> source(src, dst);
    AxesJob<S> job;
    job.src = source.block();
    job.dims = dims;
    job.rule = rule;
    job.xs = MakeXTable(dst.size[0], job.src.size[0], job.src.stride[0], maps[0], rule);
    for (int a = 1; a < dims; ++a) {
        job.taps[a].resize(static_cast<std::size_t>(dst.size[a]));
        for (std::int64_t d = 0; d < dst.size[a]; ++d)
            job.taps[a][d] = MakeTap(MappedPosition(d, maps[a]), job.src.size[a], job.src.stride[a], rule);
    }
    RunRows<S, D>(job, dst);
}

template <class S, class D>
void ResampleAffineBlock(const Block<const S>& src, const Block<D>& dst, int dims, const double (&matrix)[3][3],
                         const double (&offset)[3], const WarpRule& rule)
{
    if (dst.count() == 0) return;
    const SourceCopy<S, D> source(src, dst);
    AffineJob<S> job;
    job.src = source.block();
    job.dims = dims;
    job.rule = rule;
    for (int a = 0; a < 3; ++a) {
        job.offset[a] = offset[a];
        for (int b = 0; b < 3; ++b) job.matrix[a][b] = matrix[a][b];
    }
    RunRows<S, D>(job, dst);
}

#define LUMADEX_RESAMPLE(S, D)                                                                                   \
    template void ResampleAxesBlock(const Block<const S>&, const Block<D>&, int, const WarpAxisMap*,            \
                                    const WarpRule&);                                                            \
    template void ResampleAffineBlock(const Block<const S>&, const Block<D>&, int, const double (&)[3][3],      \
                                      const double (&)[3], const WarpRule&);
LUMADEX_RESAMPLE(float, float)
LUMADEX_RESAMPLE(float, double)
LUMADEX_RESAMPLE(double, float)
LUMADEX_RESAMPLE(double, double)
#undef LUMADEX_RESAMPLE

}  // namespace lumadex::kernels
