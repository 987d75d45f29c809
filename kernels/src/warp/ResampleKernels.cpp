// Resampling with edge modes (lumadex/kernels/Warp.h): per-axis taps (where
// a position's neighbours lie, their weights, whether the fill value stands
// in), a fast row for the pixels whose neighbours all lie inside the source,
// and the general sum for the pixels at the edges.
//
// Every path computes the same sum in the same order, so the interior rows,
// the edge pixels and the three instruction-set variants agree to the last
// bit; contraction into fused multiply-adds is off in this file for that
// reason.
#pragma GCC optimize("fp-contract=off")

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <vector>

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

// --- rows --------------------------------------------------------------------------

// A destination row's place: its source lines' base (the planes that are
// not resampled) and its indices along y and z.
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
void StoreRow(const double* values, D* out, std::int64_t width, std::int64_t stride)
{
    for (std::int64_t x = 0; x < width; ++x) out[x * stride] = static_cast<D>(values[x]);
}

// The x taps of a separable warp, and the longest run of plain ones with
// their offsets and weights side by side for the interior rows. In a
// uniform run (a shift) the offsets step by one pixel of a source whose x
// stride is 1 and the weights are constant.
struct XTable {
    std::vector<Tap> taps;
    std::int64_t begin = 0, end = 0;
    std::vector<std::int64_t> at0, at1;
    std::vector<double> w0, w1;
    bool uniform = false;
};

// The interior of one row of a separable warp: `lines` are the source rows
// of the corners along z and y (y fastest), wz and wy their weights.
template <int Dims, int Order, bool Uniform, class S>
[[gnu::always_inline]] inline void InteriorAxesRow(const S* const (&lines)[4], const double (&wz)[2],
                                                   const double (&wy)[2], const XTable& xs, double* out)
{
    const std::int64_t n = xs.end - xs.begin;
    const std::int64_t* __restrict at0 = xs.at0.data();
    const std::int64_t* __restrict at1 = xs.at1.data();
    const double* __restrict w0 = xs.w0.data();
    const double* __restrict w1 = xs.w1.data();
    double* __restrict o = out + xs.begin;
    const S* const l[4] = {lines[0], lines[1], lines[2], lines[3]};
    const std::int64_t first0 = at0[0], first1 = at1[0];
    for (std::int64_t x = 0; x < n; ++x) {
        const std::int64_t a = Uniform ? first0 + x : at0[x];
        if constexpr (Order == 0) {
            o[x] = 0.0 + static_cast<double>(l[0][a]);
        } else {
            const std::int64_t b = Uniform ? first1 + x : at1[x];
            const double u = Uniform ? w0[0] : w0[x], v = Uniform ? w1[0] : w1[x];
            double t = 0.0;
            if constexpr (Dims == 1) {
                t += static_cast<double>(l[0][a]) * u;
                t += static_cast<double>(l[0][b]) * v;
            } else if constexpr (Dims == 2) {
                for (int j = 0; j < 2; ++j) {
                    t += (static_cast<double>(l[j][a]) * wy[j]) * u;
                    t += (static_cast<double>(l[j][b]) * wy[j]) * v;
                }
            } else {
                for (int k = 0; k < 2; ++k)
                    for (int j = 0; j < 2; ++j) {
                        const S* line = l[2 * k + j];
                        t += ((static_cast<double>(line[a]) * wz[k]) * wy[j]) * u;
                        t += ((static_cast<double>(line[b]) * wz[k]) * wy[j]) * v;
                    }
            }
            o[x] = t;
        }
    }
}

template <int Dims, int Order, class S>
[[gnu::always_inline]] inline void InteriorAxesRow(const S* const (&lines)[4], const double (&wz)[2],
                                                   const double (&wy)[2], const XTable& xs, double* out)
{
    if (xs.uniform)
        InteriorAxesRow<Dims, Order, true>(lines, wz, wy, xs, out);
    else
        InteriorAxesRow<Dims, Order, false>(lines, wz, wy, xs, out);
}

template <class S>
struct AxesJob {
    Block<const S> src;
    int dims = 1;
    WarpRule rule;
    XTable xs;
    std::vector<Tap> taps[3];  // along y and z (slot 0 unused)
};

// One destination row of a separable warp, as doubles.
template <class S, class D>
[[gnu::always_inline]] inline void AxesRow(const AxesJob<S>& job, const RowPlace& place, double* out,
                                           std::int64_t width)
{
    const Tap none;
    const Tap& ty = job.dims >= 2 ? job.taps[1][place.y] : none;
    const Tap& tz = job.dims >= 3 ? job.taps[2][place.z] : none;
    if (ty.fill || tz.fill) {
        std::fill(out, out + width, job.rule.fill);
        return;
    }
    const S* base = job.src.data + place.srcBase;
    std::int64_t begin = 0, end = 0;  // the interior run done by the fast row
    if (ty.plain() && tz.plain() && job.xs.end > job.xs.begin) {
        const S* lines[4];
        for (int k = 0; k < 2; ++k)
            for (int j = 0; j < 2; ++j) lines[2 * k + j] = base + tz.at[k] + ty.at[j];
        const double wz[2] = {tz.weight[0], tz.weight[1]}, wy[2] = {ty.weight[0], ty.weight[1]};
        const int order = job.rule.order;
        switch (job.dims * 2 + order) {
        case 2: InteriorAxesRow<1, 0>(lines, wz, wy, job.xs, out); break;
        case 3: InteriorAxesRow<1, 1>(lines, wz, wy, job.xs, out); break;
        case 4: InteriorAxesRow<2, 0>(lines, wz, wy, job.xs, out); break;
        case 5: InteriorAxesRow<2, 1>(lines, wz, wy, job.xs, out); break;
        case 6: InteriorAxesRow<3, 0>(lines, wz, wy, job.xs, out); break;
        default: InteriorAxesRow<3, 1>(lines, wz, wy, job.xs, out); break;
        }
        begin = job.xs.begin, end = job.xs.end;
    }
    const Tap* taps[3] = {nullptr, &ty, &tz};
    for (std::int64_t x = 0; x < width; ++x) {
        if (x == begin && end > begin) {
            x = end - 1;
            continue;
        }
        taps[0] = &job.xs.taps[x];
        out[x] = GeneralPixel(base, taps, job.dims, job.rule);
    }
}

// One destination row of an affine warp, as doubles: positions from the
// row's part of the sums, then the interior pixels at once and the others
// by the general sum.
template <class S>
struct AffineJob {
    Block<const S> src;
    int dims = 1;
    WarpRule rule;
    double matrix[3][3] = {};
    double offset[3] = {};
};

template <int Dims, int Order, class S>
[[gnu::always_inline]] inline bool InteriorAffinePixel(const AffineJob<S>& job, const S* base, const double* p,
                                                       double& value)
{
    std::int64_t at[Dims], step[Dims];
    double w[Dims][2];
    for (int a = 0; a < Dims; ++a) {
        const double last = static_cast<double>(job.src.size[a] - 1);
        if (Order == 1 ? !(p[a] >= 0 && p[a] < last) : !(p[a] >= 0 && p[a] <= last)) return false;
        const double start = Order == 1 ? std::floor(p[a]) : std::floor(p[a] + 0.5);
        at[a] = static_cast<std::int64_t>(start) * job.src.stride[a];
        step[a] = job.src.stride[a];
        w[a][0] = 1.0 - (p[a] - start);
        w[a][1] = 1.0 - w[a][0];
    }
    if constexpr (Order == 0) {
        std::int64_t o = 0;
        for (int a = 0; a < Dims; ++a) o += at[a];
        value = 0.0 + static_cast<double>(base[o]);
    } else {
        double t = 0.0;
        for (int k = 0; k < (1 << Dims); ++k) {
            std::int64_t o = 0;
            for (int a = 0; a < Dims; ++a) o += at[a] + ((k >> a) & 1) * step[a];
            double coeff = static_cast<double>(base[o]);
            for (int a = Dims - 1; a >= 0; --a) coeff *= w[a][(k >> a) & 1];
            t += coeff;
        }
        value = t;
    }
    return true;
}

template <int Dims, int Order, class S>
[[gnu::always_inline]] inline void AffineRowOf(const AffineJob<S>& job, const RowPlace& place, double* out,
                                               std::int64_t width)
{
    const S* base = job.src.data + place.srcBase;
    double rowPart[Dims];
    const double d[3] = {0.0, static_cast<double>(place.y), static_cast<double>(place.z)};
    for (int a = 0; a < Dims; ++a) {
        rowPart[a] = 0.0;
        for (int b = Dims - 1; b >= 1; --b) rowPart[a] += d[b] * job.matrix[a][b];
    }
    for (std::int64_t x = 0; x < width; ++x) {
        double p[Dims];
        for (int a = 0; a < Dims; ++a)
            p[a] = (rowPart[a] + static_cast<double>(x) * job.matrix[a][0]) + job.offset[a];
        if (InteriorAffinePixel<Dims, Order>(job, base, p, out[x])) continue;
        Tap taps[Dims];
        const Tap* pointers[Dims];
        for (int a = 0; a < Dims; ++a) {
            taps[a] = MakeTap(p[a], job.src.size[a], job.src.stride[a], job.rule);
            pointers[a] = &taps[a];
        }
        out[x] = GeneralPixel(base, pointers, Dims, job.rule);
    }
}

template <class S>
[[gnu::always_inline]] inline void AffineRow(const AffineJob<S>& job, const RowPlace& place, double* out,
                                             std::int64_t width)
{
    switch (job.dims * 2 + job.rule.order) {
    case 2: AffineRowOf<1, 0>(job, place, out, width); break;
    case 3: AffineRowOf<1, 1>(job, place, out, width); break;
    case 4: AffineRowOf<2, 0>(job, place, out, width); break;
    case 5: AffineRowOf<2, 1>(job, place, out, width); break;
    case 6: AffineRowOf<3, 0>(job, place, out, width); break;
    default: AffineRowOf<3, 1>(job, place, out, width); break;
    }
}

// --- the row loops, for each instruction set -----------------------------------------

template <class Job, class D>
using RowsFunction = void (*)(const Job&, const Block<D>&, std::int64_t, std::int64_t);

template <class S, class D, class Job>
[[gnu::always_inline]] inline void RowsBody(const Job& job, const Block<D>& dst, std::int64_t begin,
                                            std::int64_t end)
{
    std::vector<double> values(static_cast<std::size_t>(dst.size[0]));
    for (std::int64_t r = begin; r < end; ++r) {
        const RowPlace place = PlaceOf(job.src, dst, job.dims, r);
        if constexpr (std::is_same_v<Job, AxesJob<S>>)
            AxesRow<S, D>(job, place, values.data(), dst.size[0]);
        else
            AffineRow(job, place, values.data(), dst.size[0]);
        StoreRow(values.data(), dst.data + place.dstOffset, dst.size[0], dst.stride[0]);
    }
}

template <class S, class D, class Job>
void RowsBase(const Job& job, const Block<D>& dst, std::int64_t begin, std::int64_t end)
{
    RowsBody<S, D>(job, dst, begin, end);
}
template <class S, class D, class Job>
[[LUMADEX_TARGET_AVX2]] void RowsAvx2(const Job& job, const Block<D>& dst, std::int64_t begin, std::int64_t end)
{
    RowsBody<S, D>(job, dst, begin, end);
}
template <class S, class D, class Job>
[[LUMADEX_TARGET_AVX512]] void RowsAvx512(const Job& job, const Block<D>& dst, std::int64_t begin,
                                          std::int64_t end)
{
    RowsBody<S, D>(job, dst, begin, end);
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

double MappedPosition(std::int64_t d, const WarpAxisMap& map)
{
    const double shifted = static_cast<double>(d) + map.shift;
    return map.grid ? (shifted + 0.5) * map.scale - 0.5 : shifted * map.scale + map.offset;
}

XTable MakeXTable(std::int64_t width, std::int64_t sourceWidth, std::int64_t stride, const WarpAxisMap& map,
                  const WarpRule& rule)
{
    XTable xs;
    xs.taps.resize(static_cast<std::size_t>(width));
    for (std::int64_t x = 0; x < width; ++x) xs.taps[x] = MakeTap(MappedPosition(x, map), sourceWidth, stride, rule);
    // The longest run of plain taps.
    for (std::int64_t x = 0; x < width;) {
        if (!xs.taps[x].plain()) {
            ++x;
            continue;
        }
        std::int64_t e = x;
        while (e < width && xs.taps[e].plain()) ++e;
        if (e - x > xs.end - xs.begin) xs.begin = x, xs.end = e;
        x = e;
    }
    const std::int64_t n = xs.end - xs.begin;
    xs.at0.resize(static_cast<std::size_t>(n));
    xs.at1.resize(xs.at0.size());
    xs.w0.resize(xs.at0.size());
    xs.w1.resize(xs.at0.size());
    xs.uniform = n > 0 && stride == 1;
    for (std::int64_t k = 0; k < n; ++k) {
        const Tap& tap = xs.taps[xs.begin + k];
        xs.at0[k] = tap.at[0], xs.at1[k] = tap.at[1], xs.w0[k] = tap.weight[0], xs.w1[k] = tap.weight[1];
        xs.uniform = xs.uniform && tap.at[0] == xs.at0[0] + k && tap.at[1] == xs.at1[0] + k &&
                     tap.weight[0] == xs.w0[0] && tap.weight[1] == xs.w1[0];
    }
    return xs;
}

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
