// The affine warp's rows: the scalar row for every pixel type, and for
// float pixels an AVX2 row of eight columns at a time.
#include <immintrin.h>

#include <type_traits>

#include "WarpSampling.h"
#include "lumadex/kernels/Warp.h"

namespace lumadex::kernels {
namespace {

using namespace warp;

// n as the nearest P not above it, or not below it.
template <class P>
P PositionNotAbove(std::int64_t n)
{
    const P p = static_cast<P>(n);
    return static_cast<double>(p) > static_cast<double>(n) ? std::nextafter(p, P(0)) : p;
}
template <class P>
P PositionNotBelow(std::int64_t n)
{
    const P p = static_cast<P>(n);
    return static_cast<double>(p) < static_cast<double>(n) ? std::nextafter(p, P(INFINITY)) : p;
}

template <class T>
LUMADEX_WARP_INLINE void AffineRow(const Block<const T>& src, const double (&a)[3], const double (&b)[3],
                                   std::int64_t y, T fill, T* out, std::int64_t width, std::int64_t start = 0)
{
    using P = Position<T>;
    const double ya = static_cast<double>(y) * a[1], yb = static_cast<double>(y) * b[1];
    const double lastX = static_cast<double>(src.size[0] - 1), lastY = static_cast<double>(src.size[1] - 1);
    if (src.size[0] < 2 || src.size[1] < 2) {  // no 2 x 2 neighbourhood anywhere
        std::fill(out + start, out + width, fill);
        return;
    }
    const T* pixels = src.data;
    const std::int64_t pitch = src.stride[1];
    for (std::int64_t x = start; x < width; ++x) {
        const double xd = static_cast<double>(x);
        const P u = static_cast<P>(xd * a[0] + ya + a[2]);
        const P v = static_cast<P>(xd * b[0] + yb + b[2]);
        // floor(u) >= 0 and floor(u) + 1 < width, and so for v; false for NaN.
        const bool inside = (u >= P(0)) & (static_cast<double>(u) < lastX) & (v >= P(0)) &
                            (static_cast<double>(v) < lastY);
        if (!inside) {
            out[x] = fill;
            continue;
        }
        // Inside, u and v are not negative, so truncation is their floor.
        const std::int64_t i = static_cast<std::int64_t>(u), j = static_cast<std::int64_t>(v);
        const T* g = pixels + j * pitch + i;
        out[x] = static_cast<T>(Bilinear(g[0], g[1], g[pitch], g[pitch + 1], u - P(i), v - P(j)));
    }
}

#define LUMADEX_AVX2 [[gnu::always_inline, LUMADEX_TARGET_AVX2]] inline

// x*c0 + cy + c2 in double for the eight columns x0, x1, rounded to float.
LUMADEX_AVX2 __m256 Map(__m256d x0, __m256d x1, double c0, double cy, double c2)
{
    const __m256d e0 = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(x0, _mm256_set1_pd(c0)), _mm256_set1_pd(cy)),
                                     _mm256_set1_pd(c2));
    const __m256d e1 = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(x1, _mm256_set1_pd(c0)), _mm256_set1_pd(cy)),
                                     _mm256_set1_pd(c2));
    return _mm256_set_m128(_mm256_cvtpd_ps(e1), _mm256_cvtpd_ps(e0));
}

// 0 <= w < end, false for NaN.
LUMADEX_AVX2 __m256 InRange(__m256 w, __m256 end)
{
    return _mm256_and_ps(_mm256_cmp_ps(w, _mm256_setzero_ps(), _CMP_GE_OQ), _mm256_cmp_ps(w, end, _CMP_LT_OQ));
}

// The lower or the upper four of w in double.
LUMADEX_AVX2 __m256d ToDouble(__m256 w, int half)
{
    return _mm256_cvtps_pd(half ? _mm256_extractf128_ps(w, 1) : _mm256_castps256_ps128(w));
}

// The same for float pixels, eight at a time with AVX2, to the last bit:
// positions in double rounded to float, a, b, c in float, the sum in double
// (no fused multiply-add). Every position is bounded before it becomes an
// integer (NaN becomes 0), so the gathers read pixels inside the source even
// where the fill is taken; inside, the bounds cut nothing and truncation is
// the floor.
[[LUMADEX_TARGET_AVX2]] void AffineRowFloatAvx2(const Block<const float>& src, const double (&a)[3],
                                                        const double (&b)[3], std::int64_t y, float fill, float* out,
                                                        std::int64_t width)
{
    std::int64_t x = 0;
    if (src.size[0] >= 2 && src.size[1] >= 2 && src.stride[1] <= INT32_MAX) {
        const double ya = static_cast<double>(y) * a[1], yb = static_cast<double>(y) * b[1];
        // w < size - 1 holds for a float w exactly when w < the least float
        // not below size - 1.
        const __m256 endU = _mm256_set1_ps(PositionNotBelow<float>(src.size[0] - 1));
        const __m256 endV = _mm256_set1_ps(PositionNotBelow<float>(src.size[1] - 1));
        const __m256 maxU = _mm256_set1_ps(PositionNotAbove<float>(src.size[0] - 2));
        const __m256 maxV = _mm256_set1_ps(PositionNotAbove<float>(src.size[1] - 2));
        const __m256 zero = _mm256_setzero_ps();
        const __m256i pitch = _mm256_set1_epi64x(src.stride[1]);
        const float* p = src.data;
        for (; x + 8 <= width; x += 8) {
            const __m256d x0 = _mm256_add_pd(_mm256_set1_pd(static_cast<double>(x)), _mm256_set_pd(3, 2, 1, 0));
            const __m256d x1 = _mm256_add_pd(x0, _mm256_set1_pd(4));
            const __m256 u = Map(x0, x1, a[0], ya, a[2]), v = Map(x0, x1, b[0], yb, b[2]);
            const __m256 inside = _mm256_and_ps(InRange(u, endU), InRange(v, endV));
            const __m256i i = _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(u, zero), maxU));
            const __m256i j = _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(v, zero), maxV));
            const __m256 fx = _mm256_sub_ps(u, _mm256_cvtepi32_ps(i)), fy = _mm256_sub_ps(v, _mm256_cvtepi32_ps(j));
            __m128 g[4][2];
            for (int h = 0; h < 2; ++h) {
                const __m128i ih = h ? _mm256_extracti128_si256(i, 1) : _mm256_castsi256_si128(i);
                const __m128i jh = h ? _mm256_extracti128_si256(j, 1) : _mm256_castsi256_si128(j);
                const __m256i k = _mm256_add_epi64(_mm256_mul_epi32(_mm256_cvtepi32_epi64(jh), pitch),
                                                   _mm256_cvtepi32_epi64(ih));
                g[0][h] = _mm256_i64gather_ps(p, k, 4);
                g[1][h] = _mm256_i64gather_ps(p + 1, k, 4);
                g[2][h] = _mm256_i64gather_ps(p + src.stride[1], k, 4);
                g[3][h] = _mm256_i64gather_ps(p + src.stride[1] + 1, k, 4);
            }
            const __m256 g00 = _mm256_set_m128(g[0][1], g[0][0]), g10 = _mm256_set_m128(g[1][1], g[1][0]);
            const __m256 g01 = _mm256_set_m128(g[2][1], g[2][0]), g11 = _mm256_set_m128(g[3][1], g[3][0]);
            const __m256 da = _mm256_sub_ps(g10, g00), db = _mm256_sub_ps(g01, g00);
            const __m256 dc = _mm256_sub_ps(g11, _mm256_add_ps(_mm256_add_ps(db, da), g00));
            __m128 half[2];
            for (int h = 0; h < 2; ++h) {
                const __m256d wx = ToDouble(fx, h), wy = ToDouble(fy, h);
                __m256d value = _mm256_add_pd(ToDouble(g00, h), _mm256_mul_pd(wx, ToDouble(da, h)));
                value = _mm256_add_pd(value, _mm256_mul_pd(wy, ToDouble(db, h)));
                value = _mm256_add_pd(value, _mm256_mul_pd(_mm256_mul_pd(wx, wy), ToDouble(dc, h)));
                half[h] = _mm256_cvtpd_ps(value);
            }
            const __m256 value = _mm256_set_m128(half[1], half[0]);
            _mm256_storeu_ps(out + x, _mm256_blendv_ps(_mm256_set1_ps(fill), value, inside));
        }
    }
    AffineRow(src, a, b, y, fill, out, width, x);
}

template <class T>
struct AffineJob {
    Block<const T> src;
    Block<T> dst;
    double a[3], b[3];
    T fill;
};

template <class T>
LUMADEX_WARP_INLINE void AffineRows(const AffineJob<T>& job, std::int64_t begin, std::int64_t end)
{
    for (std::int64_t y = begin; y < end; ++y)
        AffineRow(job.src, job.a, job.b, y, job.fill, job.dst.data + y * job.dst.stride[1], job.dst.size[0]);
}

template <class T>
void AffineRowsBaseline(const AffineJob<T>& job, std::int64_t begin, std::int64_t end)
{
    AffineRows(job, begin, end);
}

template <class T>
[[LUMADEX_TARGET_AVX2]] void AffineRowsAvx2(const AffineJob<T>& job, std::int64_t begin, std::int64_t end)
{
    if constexpr (std::is_same_v<T, float>) {
        for (std::int64_t y = begin; y < end; ++y)
            AffineRowFloatAvx2(job.src, job.a, job.b, y, job.fill, job.dst.data + y * job.dst.stride[1],
                               job.dst.size[0]);
    } else {
        AffineRows(job, begin, end);
    }
}

}  // namespace

template <class T>
void AffineWarpBlock(const Block<const T>& src, const Block<T>& dst, const double (&a)[3], const double (&b)[3],
                     T fill)
{
    AffineJob<T> job{{}, dst, {a[0], a[1], a[2]}, {b[0], b[1], b[2]}, fill};
    const SourcePixels<T> pixels(src, dst, 1);
    job.src = pixels.block();
    ForEachRowBlock(job.dst.size[1], job.dst.size[0], [&](std::int64_t begin, std::int64_t end, bool avx2) {
        if (avx2)
            AffineRowsAvx2(job, begin, end);
        else
            AffineRowsBaseline(job, begin, end);
    });
}

template void AffineWarpBlock(const Block<const float>&, const Block<float>&, const double (&)[3],
                              const double (&)[3], float);
template void AffineWarpBlock(const Block<const double>&, const Block<double>&, const double (&)[3],
                              const double (&)[3], double);

}  // namespace lumadex::kernels
