// The real routines that are our own loops: arithmetic, roots and powers,
// rounding, Modf and Powx, and the inverse error function.
//
// The loops are plain element-wise code that the compiler vectorises for
// each instruction set (LUMADEX_VML_CLONES); the layer is compiled without
// errno and without trapping math so that square roots and roundings become
// single vector instructions. Float roots are computed in double and rounded
// once; on AVX-512 the roots have kernels of their own in the arguments'
// precision.
#include <immintrin.h>

// GCC's own AVX-512 intrinsics start from an undefined vector they then fill.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iterator>

#include "common.hpp"

namespace lumadex::vml {
namespace {

// One loop per precision for an expression of x (float: FEXPR, double: DEXPR).
#define OWN_UNARY(OP, THRESHOLD, FEXPR, DEXPR)                        \
    LUMADEX_VML_CLONES void OP##F(MKL_INT n, const float* a, float* r) \
    {                                                                 \
        _Pragma("omp simd") for (MKL_INT i = 0; i < n; ++i)          \
        {                                                             \
            const float x = a[i];                                     \
            r[i] = FEXPR;                                             \
        }                                                             \
    }                                                                 \
    LUMADEX_VML_CLONES void OP##D(MKL_INT n, const double* a, double* r) \
    {                                                                 \
        _Pragma("omp simd") for (MKL_INT i = 0; i < n; ++i)          \
        {                                                             \
            const double x = a[i];                                    \
            r[i] = DEXPR;                                             \
        }                                                             \
    }

// The same for an expression of x and y.
#define OWN_BINARY(OP, EXPR)                                                                \
    LUMADEX_VML_CLONES void OP##F(MKL_INT n, const float* a, const float* b, float* r)     \
    {                                                                                     \
        _Pragma("omp simd") for (MKL_INT i = 0; i < n; ++i)                              \
        {                                                                                 \
            const float x = a[i], y = b[i];                                               \
            r[i] = EXPR;                                                                  \
        }                                                                                 \
    }                                                                                     \
    LUMADEX_VML_CLONES void OP##D(MKL_INT n, const double* a, const double* b, double* r)  \
    {                                                                                     \
        _Pragma("omp simd") for (MKL_INT i = 0; i < n; ++i)                              \
        {                                                                                 \
            const double x = a[i], y = b[i];                                              \
            r[i] = EXPR;                                                                  \
        }                                                                                 \
    }

// Rounding to nearest with halves away from zero; x - trunc(x) is exact.
template <class T>
inline T RoundHalfAway(T x)
{
    const T t = std::trunc(x);
    return std::fabs(x - t) >= T(0.5) ? t + std::copysign(T(1), x) : t;
}

// Scale factors 2^-600, 1, 2^600 that bring |x| into [2^-474, 2^424], so
// that squares and reciprocals of the scaled value stay normal and finite.
inline double ScaleOf(double x)
{
    const double a = std::fabs(x);
    return a > 0x1p400 ? 0x1p-600 : (a < 0x1p-400 ? 0x1p600 : 1.0);
}

// 1/sqrt(x) = sqrt(1/(x s)) sqrt(s): one rounding of the reciprocal, halved
// by the root, and the root's own: within 0.75 ulp (1/sqrt(x) has two full
// roundings, up to 1.5 ulp).
inline double InvSqrtD(double x)
{
    const double s = ScaleOf(x);
    const double r = std::sqrt(1 / (x * s)) * (s == 1 ? 1.0 : (s > 1 ? 0x1p300 : 0x1p-300));
    return x == 0 ? 1 / x : r;  // -0 gives -inf
}

// x^(3/2) = x (y + e), y = sqrt(x) and e its remainder (x - y^2) / 2y from
// a fused multiply-add, the product's error kept the same way: within
// about 0.5 ulp (x * sqrt(x) alone reaches 1.3 ulp).
inline double Pow3o2D(double x)
{
    const double y = std::sqrt(x);
    const double e = std::fma(-y, y, x) / (2 * y);
    const double p = x * y;
    const double r = p + (std::fma(x, y, -p) + x * e);
    return (x > 0 && std::isfinite(r)) ? r : p;
}

#define OWN_UNARY_FUNCTIONS(X)                                                                   \
    X(Sqr, kMemoryBound, x * x, x * x)                                                           \
    X(Abs, kMemoryBound, std::fabs(x), std::fabs(x))                                             \
    X(Inv, kMemoryBound, 1 / x, 1 / x)                                                           \
    X(Sqrt, kMemoryBound, std::sqrt(x), std::sqrt(x))                                            \
    X(Pow3o2, kMemoryBound, float(double(x) * std::sqrt(double(x))), Pow3o2D(x))                 \
    X(Floor, kMemoryBound, std::floor(x), std::floor(x))                                         \
    X(Ceil, kMemoryBound, std::ceil(x), std::ceil(x))                                            \
    X(Trunc, kMemoryBound, std::trunc(x), std::trunc(x))                                         \
    X(Round, kMemoryBound, RoundHalfAway(x), RoundHalfAway(x))                                   \
    /* both round in the current mode without raising the inexact flag */                       \
    X(NearbyInt, kMemoryBound, std::nearbyint(x), std::nearbyint(x))                             \
    X(Rint, kMemoryBound, std::nearbyint(x), std::nearbyint(x))
#define OWN_BINARY_FUNCTIONS(X) X(Add, x + y) X(Sub, x - y) X(Mul, x * y) X(Div, x / y)

OWN_UNARY_FUNCTIONS(OWN_UNARY)
OWN_BINARY_FUNCTIONS(OWN_BINARY)
OWN_UNARY(InvSqrt, kMemoryBound, float(1 / std::sqrt(double(x))), InvSqrtD(x))

// Float 1/sqrt(x) on AVX-512 without a square root or a division: the
// processor's estimate (relative error below 2^-14) and one Newton step in
// double, y + y (1/2 - x y^2 / 2), leave an error below 2^-27 before the one
// rounding to float: within 0.6 ulp. Zero, negative, subnormal, infinite and
// NaN arguments take the quotient 1 / sqrt(double(x)) that the other
// instruction sets compute for every element. The tail runs through a padded
// vector, so that no element's result depends on where a call starts.
[[gnu::target("avx512f")]] inline __m256 NewtonStepInDouble(__m256 x, __m256 estimate)
{
    const __m512d xd = _mm512_cvtps_pd(x), y = _mm512_cvtps_pd(estimate);
    const __m512d halfXy = _mm512_mul_pd(_mm512_mul_pd(xd, _mm512_set1_pd(0.5)), y);
    const __m512d correction = _mm512_fnmadd_pd(halfXy, y, _mm512_set1_pd(0.5));
    return _mm512_cvtpd_ps(_mm512_fmadd_pd(y, correction, y));
}
[[gnu::target("avx512f")]] inline __m256 QuotientInDouble(__m256 x)
{
    return _mm512_cvtpd_ps(_mm512_div_pd(_mm512_set1_pd(1.0), _mm512_sqrt_pd(_mm512_cvtps_pd(x))));
}
[[gnu::target("avx512f")]] inline __m256 Low(__m512 v) { return _mm512_castps512_ps256(v); }
[[gnu::target("avx512f")]] inline __m256 High(__m512 v)
{
    return _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1));
}
[[gnu::target("avx512f")]] inline __m512 Join(__m256 low, __m256 high)
{
    return _mm512_castpd_ps(_mm512_insertf64x4(_mm512_castps_pd(_mm512_castps256_ps512(low)), _mm256_castps_pd(high), 1));
}
[[gnu::target("avx512f")]] inline __m512 InvSqrt16(__m512 x)
{
    const __mmask16 ordinary = _mm512_cmp_ps_mask(x, _mm512_set1_ps(0x1p-126f), _CMP_GE_OQ) &
                               _mm512_cmp_ps_mask(x, _mm512_set1_ps(0x1.fffffep127f), _CMP_LE_OQ);
    const __m512 estimate = _mm512_rsqrt14_ps(x);
    __m512 r = Join(NewtonStepInDouble(Low(x), Low(estimate)), NewtonStepInDouble(High(x), High(estimate)));
    if (ordinary != 0xFFFF)
        r = _mm512_mask_blend_ps(ordinary, Join(QuotientInDouble(Low(x)), QuotientInDouble(High(x))), r);
    return r;
}
[[gnu::target("avx512f")]] void InvSqrtF512(MKL_INT n, const float* a, float* r)
{
    MKL_INT i = 0;
    for (; i + 16 <= n; i += 16) _mm512_storeu_ps(r + i, InvSqrt16(_mm512_loadu_ps(a + i)));
    if (i < n) {
        float in[16], out[16];
        std::fill(in, in + 16, 1.0f);
        std::copy(a + i, a + n, in);
        _mm512_storeu_ps(out, InvSqrt16(_mm512_loadu_ps(in)));
        std::copy(out, out + (n - i), r + i);
    }
}

// Float cube roots and their kin, in double without a division: r = |x|^(-1/3)
// from an estimate on the float's bits (about 5 % off) and four Newton
// steps r <- r (4 - x r^3) / 3, each squaring the error (to 1e-11); then
// cbrt = x r^2, one rounding to float. Subnormals are scaled by 2^24 first;
// zeros, infinities and NaN give what x^(1/3) gives.
struct CubeRoots {
    double root, inverse;
};

inline CubeRoots CubeRootsOf(float x)
{
    float ax = std::fabs(x);
    const bool tiny = ax < 1.17549435e-38f;
    if (tiny) ax *= 16777216.0f;  // 2^24, whose cube root is 2^8
    const double v = ax;
    double r = std::bit_cast<float>(0x54A21D2Au - std::bit_cast<std::uint32_t>(ax) / 3u);
    for (int step = 0; step < 4; ++step) r = r * (4 - v * r * r * r) * (1.0 / 3);
    double root = v * r * r;
    if (tiny) {
        root *= 1.0 / 256;
        r *= 256;
    }
    const bool exceptional = !(ax > 0) || std::isinf(ax);
    const double sign = x < 0 ? -1.0 : 1.0;
    const double exceptionalInverse = ax == 0 ? sign * HUGE_VAL : (std::isinf(ax) ? sign * 0.0 : double(x));
    return {exceptional ? double(x) : sign * root, exceptional ? exceptionalInverse : sign * r};
}

LUMADEX_VML_CLONES void CbrtF(MKL_INT n, const float* a, float* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) r[i] = float(CubeRootsOf(a[i]).root);
}
LUMADEX_VML_CLONES void InvCbrtF(MKL_INT n, const float* a, float* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) r[i] = float(CubeRootsOf(a[i]).inverse);
}
LUMADEX_VML_CLONES void Pow2o3F(MKL_INT n, const float* a, float* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const double c = CubeRootsOf(a[i]).root;
        r[i] = float(c * c);
    }
}

// The roots on AVX-512 (AVX-512F instructions only), in the arguments' own
// precision. A lane helper below has one name for both precisions, so that
// each kernel is written once for float (16 lanes) and double (8 lanes);
// the other instruction sets keep the loops above and SLEEF's double cbrt.
#define AVX512F_INLINE [[gnu::target("avx512f")]] inline
AVX512F_INLINE float LaneOf(__m512) { return 0; }  // the lane type, for decltype
AVX512F_INLINE double LaneOf(__m512d) { return 0; }
AVX512F_INLINE __m512 Broadcast(float v, __m512) { return _mm512_set1_ps(v); }
AVX512F_INLINE __m512d Broadcast(double v, __m512d) { return _mm512_set1_pd(v); }
AVX512F_INLINE __m512 Mul(__m512 a, __m512 b) { return _mm512_mul_ps(a, b); }
AVX512F_INLINE __m512d Mul(__m512d a, __m512d b) { return _mm512_mul_pd(a, b); }
AVX512F_INLINE __m512 Add(__m512 a, __m512 b) { return _mm512_add_ps(a, b); }
AVX512F_INLINE __m512d Add(__m512d a, __m512d b) { return _mm512_add_pd(a, b); }
AVX512F_INLINE __m512 Sub(__m512 a, __m512 b) { return _mm512_sub_ps(a, b); }
AVX512F_INLINE __m512d Sub(__m512d a, __m512d b) { return _mm512_sub_pd(a, b); }
// a b + c, a b - c and c - a b, each rounded once.
AVX512F_INLINE __m512 Fma(__m512 a, __m512 b, __m512 c) { return _mm512_fmadd_ps(a, b, c); }
AVX512F_INLINE __m512d Fma(__m512d a, __m512d b, __m512d c) { return _mm512_fmadd_pd(a, b, c); }
AVX512F_INLINE __m512 Fms(__m512 a, __m512 b, __m512 c) { return _mm512_fmsub_ps(a, b, c); }
AVX512F_INLINE __m512d Fms(__m512d a, __m512d b, __m512d c) { return _mm512_fmsub_pd(a, b, c); }
AVX512F_INLINE __m512 Fnma(__m512 a, __m512 b, __m512 c) { return _mm512_fnmadd_ps(a, b, c); }
AVX512F_INLINE __m512d Fnma(__m512d a, __m512d b, __m512d c) { return _mm512_fnmadd_pd(a, b, c); }
// x = m 2^e with m in [1, 2) and the integer e as a float, subnormals
// included (the instructions normalise them).
AVX512F_INLINE __m512 ExponentOf(__m512 x) { return _mm512_getexp_ps(x); }
AVX512F_INLINE __m512d ExponentOf(__m512d x) { return _mm512_getexp_pd(x); }
AVX512F_INLINE __m512 MantissaOf(__m512 x) { return _mm512_getmant_ps(x, _MM_MANT_NORM_1_2, _MM_MANT_SIGN_zero); }
AVX512F_INLINE __m512d MantissaOf(__m512d x) { return _mm512_getmant_pd(x, _MM_MANT_NORM_1_2, _MM_MANT_SIGN_zero); }
// x 2^floor(k).
AVX512F_INLINE __m512 ScaleBy(__m512 x, __m512 k) { return _mm512_scalef_ps(x, k); }
AVX512F_INLINE __m512d ScaleBy(__m512d x, __m512d k) { return _mm512_scalef_pd(x, k); }
// table[i mod lanes] for the low bits i of each lane of `index`.
AVX512F_INLINE __m512 Lookup(__m512 index, __m512 table)
{
    return _mm512_permutexvar_ps(_mm512_castps_si512(index), table);
}
AVX512F_INLINE __m512d Lookup(__m512d index, __m512d table)
{
    return _mm512_permutexvar_pd(_mm512_castpd_si512(index), table);
}
// The bits of x under `mask`; x with the sign of `from`.
AVX512F_INLINE __m512 KeepBits(__m512 x, std::uint32_t mask)
{
    return _mm512_castsi512_ps(_mm512_and_si512(_mm512_castps_si512(x), _mm512_set1_epi32(static_cast<int>(mask))));
}
AVX512F_INLINE __m512d KeepBits(__m512d x, std::uint64_t mask)
{
    const __m512i bits = _mm512_set1_epi64(static_cast<long long>(mask));
    return _mm512_castsi512_pd(_mm512_and_si512(_mm512_castpd_si512(x), bits));
}
AVX512F_INLINE __m512 SignOf(__m512 from, __m512 x)
{
    return _mm512_castsi512_ps(_mm512_ternarylogic_epi32(_mm512_castps_si512(x), _mm512_castps_si512(from),
                                                         _mm512_set1_epi32(INT32_MIN), 0xD8));
}
AVX512F_INLINE __m512d SignOf(__m512d from, __m512d x)
{
    return _mm512_castsi512_pd(_mm512_ternarylogic_epi64(_mm512_castpd_si512(x), _mm512_castpd_si512(from),
                                                         _mm512_set1_epi64(INT64_MIN), 0xD8));
}
// Results for the exceptional arguments (zeros, infinities, NaN, negative
// numbers where they have no root): `responses` holds four bits per class of
// x, from the lowest: quiet NaN, signalling NaN, +-0, +1, -inf, +inf,
// negative, positive; 0 keeps r, 1 gives x, 2 x as a quiet NaN, 3 the
// default NaN, 5 +inf, 6 inf with the sign of x, 7 -0, 8 +0.
AVX512F_INLINE __m512 Exceptional(__m512 r, __m512 x, std::uint32_t responses)
{
    return _mm512_fixupimm_ps(r, x, _mm512_set1_epi32(static_cast<int>(responses)), 0);
}
AVX512F_INLINE __m512d Exceptional(__m512d r, __m512d x, std::uint32_t responses)
{
    return _mm512_fixupimm_pd(r, x, _mm512_set1_epi64(responses), 0);
}
AVX512F_INLINE __m512 LoadLanes(const float* p) { return _mm512_loadu_ps(p); }
AVX512F_INLINE __m512d LoadLanes(const double* p) { return _mm512_loadu_pd(p); }
AVX512F_INLINE void StoreLanes(float* p, __m512 v) { _mm512_storeu_ps(p, v); }
AVX512F_INLINE void StoreLanes(double* p, __m512d v) { _mm512_storeu_pd(p, v); }

// kKernel over whole vectors, then over the tail with masked loads and
// stores (the masked-off lanes read as zero and are not written back), so
// that every element's result is the same wherever a call starts.
template <auto kKernel, class T>
[[gnu::target("avx512f")]] void EachVector(MKL_INT n, const T* a, T* r)
{
    constexpr MKL_INT kLanes = 64 / sizeof(T);
    MKL_INT i = 0;
    for (; i + kLanes <= n; i += kLanes) StoreLanes(r + i, kKernel(LoadLanes(a + i)));
    if (i == n) return;
    const unsigned mask = (1u << (n - i)) - 1;
    if constexpr (kLanes == 16)
        _mm512_mask_storeu_ps(r + i, mask, kKernel(_mm512_maskz_loadu_ps(mask, a + i)));
    else
        _mm512_mask_storeu_pd(r + i, mask, kKernel(_mm512_maskz_loadu_pd(mask, a + i)));
}

// A root kernel over [0, n), split over the threads from `threshold`
// elements, each thread storing straight into r: the streamed stores of
// ComputeInto, through a block buffer, measured 10-20 % slower for these
// kernels (16 M elements, one thread: float cube root 6.0 ms against 5.0).
template <class T>
void StoreDirect(MKL_INT n, MKL_INT threshold, const T* a, T* r, Unary<T> kernel)
{
    Split(n, threshold, [&](MKL_INT begin, MKL_INT count) { kernel(count, a + begin, r + begin); });
}

// x^(1/3), x^(-1/3) and x^(2/3) (the root of x^2, never negative).
//
// Split x = m 2^e (m in [1, 2)) and e s/3 = k + j/3 (s = -1 for the
// inverse root, else 1; j in 0..2, k = floor(e s/3)): then x^(s/3) is
// M^(s/3) 2^k, with M = m 2^(s j) formed exactly.
//   k and j: t = e s/3 + 1.5 2^(p-3) rounds e s/3 to quarters (p the
//   precision), 1/3 going to 1/4 and 2/3 to 3/4, so the low two bits of t
//   give j (0, 1, 3 for j = 0, 1, 2), the bits above them k, and t less the
//   constant has floor k, which the final scaling takes.
//   Estimate: r0 ~ M^(-1/3) = m^(-1/3) 2^(-s j/3), a minimax polynomial in m
//   (degree 2 for float, 5 for double) times a register table by j, then
//   cut to h significant bits (h = 8 for float, 17 for double; 3h is within
//   the precision). The cut loses up to 2^(1-h) relative, which the
//   polynomial's factor 1 + 2^-h centres: r0 is within 2^-h plus the
//   polynomial's error of the root (float 2^-8 + 2^-9.1, double
//   2^-17 + 2^-17.4).
//   Exact residual: with h bits, r0^2 and r0^3 are exact, so
//   d = 1 - M r0^3 has one rounding, of a number below 3.1 2^-h.
//   Correction: M^(-1/3) = r0 (1 - d)^(-1/3), M^(2/3) = M r0 (1 - d)^(-1/3)
//   and M^(1/3) = M r0^2 (1 - d)^(-2/3); the factors are 1 + d P(d) with P
//   of degree 2 (minimax for float, Taylor for double; off by 2^-27 and
//   2^-59.5 at most). The products
//   M r0 and M r0^2 are kept as a rounded product and its error from a fused
//   multiply-add, so the result is hi + (lo + hi d P(d)) with one rounding
//   of an almost exact sum: float within 0.65 ulp, double 0.51 ulp. The
//   root and its inverse then take the sign of x.
// The edge values need no test: for +-0, e = -inf and m = 0, for +-inf,
// e = +inf and m = 1, and the final scaling by 2^(+-inf) of a finite number
// (of 0 for the root and x^(2/3) of zero) gives cbrt(+-0) = +-0,
// cbrt(+-inf) = +-inf, InvCbrt(+-0) = +-inf, InvCbrt(+-inf) = +-0,
// Pow2o3(+-0) = +0 and Pow2o3(+-inf) = +inf; NaN stays NaN.
enum class CubeRootPower { Root, Inverse, TwoThirds };

template <class T>
struct CubeRootConstants;
template <>
struct CubeRootConstants<float> {
    static constexpr float kQuarters = 0x1.8p21f;  // 1.5 2^21, spacing 1/4
    static constexpr std::uint32_t kEstimateBits = 0xFFFF0000u;  // sign, exponent, 7 + 1 mantissa bits
    static constexpr float kEstimate[] = {1.3935775756835938f, -0.48520785570144653f, 0.09376183152198792f};
    // (1 - d)^(-1/3) - 1 and (1 - d)^(-2/3) - 1 over d P(d), |d| <= 0.0175.
    static constexpr float kThird[] = {0.3333333432674408f, 0.2222587764263153f, 0.17289358377456665f};
    static constexpr float kTwoThirds[] = {0.6666666269302368f, 0.555670440196991f, 0.49401021003723145f};
};
template <>
struct CubeRootConstants<double> {
    static constexpr double kQuarters = 0x1.8p50;
    static constexpr std::uint64_t kEstimateBits = 0xFFFFFFF000000000u;  // sign, exponent, 16 + 1 mantissa bits
    static constexpr double kEstimate[] = {1.7810708819421108, -1.5660391726898293, 1.2437928291881313,
                                           -0.5978757406596686, 0.15607216020098263, -0.017019077258549654};
    static constexpr double kThird[] = {1.0 / 3, 2.0 / 9, 14.0 / 81};
    static constexpr double kTwoThirds[] = {2.0 / 3, 5.0 / 9, 40.0 / 81};
};

// {a, b, -, c} repeated over the lanes: entries for j = 0, 1, 2 at the
// low two bits 0, 1, 3 of t.
AVX512F_INLINE __m512 ByThirds(float a, float b, float c, __m512)
{
    return _mm512_setr_ps(a, b, a, c, a, b, a, c, a, b, a, c, a, b, a, c);
}
AVX512F_INLINE __m512d ByThirds(double a, double b, double c, __m512d)
{
    return _mm512_setr_pd(a, b, a, c, a, b, a, c);
}

template <CubeRootPower kPower, class V>
AVX512F_INLINE V CubeRoots(V x)
{
    using T = decltype(LaneOf(x));
    using C = CubeRootConstants<T>;
    constexpr bool kInverse = kPower == CubeRootPower::Inverse;
    constexpr T kCbrt2 = T(1.2599210498948732), kCbrt4 = T(1.5874010519681994);
    const V m = MantissaOf(x), quarters = Broadcast(C::kQuarters, x);
    const V t = Fma(ExponentOf(x), Broadcast(kInverse ? T(-1) / 3 : T(1) / 3, x), quarters);
    const V M = Mul(m, Lookup(t, kInverse ? ByThirds(T(1), T(0.5), T(0.25), x) : ByThirds(T(1), T(2), T(4), x)));

    constexpr int kDegree = std::size(C::kEstimate) - 1;
    V p = Broadcast(C::kEstimate[kDegree], x);
    for (int i = kDegree - 1; i >= 0; --i) p = Fma(p, m, Broadcast(C::kEstimate[i], x));
    const V perThird = kInverse ? ByThirds(T(1), kCbrt2, kCbrt4, x) : ByThirds(T(1), 1 / kCbrt2, 1 / kCbrt4, x);
    const V r0 = KeepBits(Mul(p, Lookup(t, perThird)), C::kEstimateBits);
    const V r0Squared = Mul(r0, r0);
    const V d = Fnma(M, Mul(r0Squared, r0), Broadcast(T(1), x));

    const T* q = kPower == CubeRootPower::Root ? C::kTwoThirds : C::kThird;
    const V dP = Mul(Fma(Fma(Broadcast(q[2], x), d, Broadcast(q[1], x)), d, Broadcast(q[0], x)), d);
    const V k = Sub(t, quarters);
    if constexpr (kInverse) return SignOf(x, ScaleBy(Fma(r0, dP, r0), k));
    const V base = kPower == CubeRootPower::Root ? r0Squared : r0;
    const V hi = Mul(M, base), lo = Fms(M, base, hi);
    const V r = ScaleBy(Add(hi, Fma(hi, dP, lo)), k);
    if constexpr (kPower == CubeRootPower::Root) return SignOf(x, r);
    return ScaleBy(r, k);  // 2^(2k), in two exact steps
}

// Double 1/sqrt(x): the processor's estimate y (relative error below
// 2^-14), the residual d = 1 - x y^2 from x y = v + ve split exactly by a
// fused multiply-add (d = (1 - v y) - ve y, below 2^-13 and correct to
// 2^-66; v near sqrt(x) keeps every term normal from the least subnormal to
// the largest double), then y (1 - d)^(-1/2) = y + y d P(d) with the
// Taylor polynomial of degree 4 (off by 2^-67) and one rounding: within
// 0.501 ulp. 1/sqrt(+-0) = +-inf, 1/sqrt(inf) = +0, negative arguments and
// -inf give NaN.
AVX512F_INLINE __m512d InvSqrt8(__m512d x)
{
    const __m512d y = _mm512_rsqrt14_pd(x);
    const __m512d v = Mul(x, y), ve = Fms(x, y, v);
    const __m512d d = Fnma(ve, y, Fnma(v, y, Broadcast(1.0, x)));
    __m512d p = Fma(Broadcast(35.0 / 128, x), d, Broadcast(5.0 / 16, x));
    p = Fma(p, d, Broadcast(3.0 / 8, x));
    p = Fma(p, d, Broadcast(0.5, x));
    return Exceptional(Fma(y, Mul(p, d), y), x, 0x03830622);
}

// Double x^(-1/3) and x^(2/3) as cube roots of 1/(x s) and (x s)^2, whose
// one rounding the root divides by three: within 0.7 ulp (1/cbrt(x) and
// cbrt(x)^2 reach 1.5 and 1.9 ulp). `power` is -1 or 2.
LUMADEX_VML_CLONES void CbrtArgument(MKL_INT n, const double* x, double* t, double* factor, int power)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const double s = ScaleOf(x[i]), v = x[i] * s;
        t[i] = power == 2 ? v * v : 1 / v;
        // s^(1/3) for the reciprocal, s^(-2/3) for the square.
        const double up = power == 2 ? 0x1p-400 : 0x1p200, down = power == 2 ? 0x1p400 : 0x1p-200;
        factor[i] = s == 1 ? 1.0 : (s > 1 ? up : down);
    }
}
LUMADEX_VML_CLONES void MultiplyInPlace(MKL_INT n, const double* factor, double* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) r[i] *= factor[i];
}

void CbrtOfScaled(MKL_INT n, const double* a, double* r, int power)
{
    const Unary<double> cbrt = DoubleCbrt().Pick();
    Split(n, kComputeBound, [&](MKL_INT begin, MKL_INT count) {
        alignas(64) double t[kBlock], factor[kBlock];
        for (MKL_INT i = begin; i < begin + count; i += kBlock) {
            const MKL_INT m = std::min(kBlock, begin + count - i);
            CbrtArgument(m, a + i, t, factor, power);
            cbrt(m, t, r + i);
            MultiplyInPlace(m, factor, r + i);
        }
    });
}

// Corrections of SLEEF results, per block, from the arguments.
// log1p(x) = x for |x| below 2^-60 (SLEEF gives 0 for the smallest subnormals).
template <class T>
LUMADEX_VML_CLONES void Log1pTiny(MKL_INT n, const T* x, T* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) r[i] = std::fabs(x[i]) < T(0x1p-60) ? x[i] : r[i];
}

// erf(x) = 2x/sqrt(pi) (1 - x^2/3) in double below 2^-12: SLEEF's float erf
// is 1.03 ulp off for tiny arguments (its double one is right, but costs
// ten times as much).
LUMADEX_VML_CLONES void ErfTiny(MKL_INT n, const float* x, float* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const double v = x[i];
        r[i] = std::fabs(x[i]) < 0x1p-12f ? float(v * 1.1283791670955126 * (1 - v * v / 3)) : r[i];
    }
}

// Large arguments where SLEEF overflows inside, beyond `threshold`, in double:
//   Log2x:   acosh(x) = ln(2x), asinh(x) = sign(x) ln(2|x|) where 1/(4x^2) is
//            below the last place (SLEEF: inf beyond 1e154, float 1.8e19);
//   LogX:    log1p(x) = ln(x) (SLEEF: inf beyond 1e307, float 1e38);
//   HalfExp: cosh(x) = e^|x| / 2, sinh(x) = sign(x) e^|x| / 2 as
//            e^(|x| - ln2_hi) (1 - ln2_lo), the subtraction exact (SLEEF:
//            inf from 709.8 instead of 710.5, float 88.7 instead of 89.4).
enum class Tail { Log2x, LogX, HalfExp };

template <class T>
LUMADEX_VML_CLONES int CountBeyond(MKL_INT n, const T* x, double threshold)
{
    int count = 0;
#pragma omp simd reduction(+ : count)
    for (MKL_INT i = 0; i < n; ++i) count += std::fabs(double(x[i])) > threshold;
    return count;
}

template <class T>
void FixLarge(MKL_INT n, const T* x, T* r, double threshold, Tail tail, bool odd)
{
    constexpr double kLn2 = 0.69314718055994530942, kLn2Hi = 6.93147180369123816490e-01,
                     kLn2Lo = 1.90821492927058770002e-10;
    if (CountBeyond(n, x, threshold) == 0) return;
    alignas(64) double t[kBlock];
    for (MKL_INT i = 0; i < n; ++i) {
        const double a = std::fabs(double(x[i]));
        t[i] = tail == Tail::Log2x ? (a < 0x1p1023 ? 2 * a : a) : (tail == Tail::LogX ? a : a - kLn2Hi);
    }
    (tail == Tail::HalfExp ? DoubleExp() : DoubleLn()).Pick()(n, t, t);
    for (MKL_INT i = 0; i < n; ++i) {
        const double a = std::fabs(double(x[i]));
        if (!(a > threshold)) continue;
        double v = t[i];
        if (tail == Tail::Log2x && a >= 0x1p1023) v += kLn2;
        if (tail == Tail::HalfExp) v *= 1 - kLn2Lo;
        r[i] = T(odd ? std::copysign(v, double(x[i])) : v);
    }
}

// A SLEEF kernel per block, then `fix` from the block's arguments (kept, as
// r may be a).
template <class T, class Fix>
void Corrected(MKL_INT n, const T* a, T* r, Unary<T> kernel, Fix fix)
{
    Split(n, kComputeBound, [&](MKL_INT begin, MKL_INT count) {
        alignas(64) T x[kBlock];
        for (MKL_INT i = begin; i < begin + count; i += kBlock) {
            const MKL_INT m = std::min(kBlock, begin + count - i);
            std::copy(a + i, a + i + m, x);
            kernel(m, x, r + i);
            fix(m, x, r + i);
        }
    });
}

template <class T>
LUMADEX_VML_CLONES void ModfLoop(MKL_INT n, const T* a, T* integral, T* fraction)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const T x = a[i], t = std::trunc(x);
        integral[i] = t;
        // The fraction keeps the sign of x (-0 for -2.0) and is 0 for infinities.
        fraction[i] = std::copysign(std::isinf(x) ? T(0) : x - t, x);
    }
}

// The inverse error function over a block, in double.
//
// Start: Giles' single-precision approximation (w = -ln(1 - y^2), two
// polynomial branches), about 4e-7 relative. Then Halley steps on
// F(x) = erf(x) - y, whose residual is taken from erfc where |y| > 1/2 so
// that it keeps its digits near +-1:  F = sign(y) ((1 - |y|) - erfc(|x|)),
// F' = 2/sqrt(pi) exp(-x^2), x -= d / (1 + x d) with d = F / F'. One step
// leaves about 1e-19 relative before the rounding of erf.
LUMADEX_VML_CLONES void ErfInvStart(MKL_INT n, const double* y, const double* lnOneMinusY2, double* x)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const double w = -lnOneMinusY2[i];
        const double u = w - 2.5, v = std::sqrt(w) - 3;
        double p = 2.81022636e-08;
        p = 3.43273939e-07 + p * u;
        p = -3.5233877e-06 + p * u;
        p = -4.39150654e-06 + p * u;
        p = 0.00021858087 + p * u;
        p = -0.00125372503 + p * u;
        p = -0.00417768164 + p * u;
        p = 0.246640727 + p * u;
        p = 1.50140941 + p * u;
        double q = -0.000200214257;
        q = 0.000100950558 + q * v;
        q = 0.00134934322 + q * v;
        q = -0.00367342844 + q * v;
        q = 0.00573950773 + q * v;
        q = -0.0076224613 + q * v;
        q = 0.00943887047 + q * v;
        q = 1.00167406 + q * v;
        q = 2.83297682 + q * v;
        // Beyond the fit (|y| > 1 - 1e-7, only double arguments): the tail's
        // asymptote x^2 = t - ln(pi t) / 2 with t = -ln(1 - |y|) ~ w + ln 2
        // in [16, 38], ln t taken from its tangent at 27: about 1e-3 off,
        // which the Halley steps mend.
        const double t = w + 0.69314718055994531;
        const double lnT = 3.2958368660043291 + (t - 27) / 27;
        const double tail = std::sqrt(t - 0.5 * (1.1447298858494002 + lnT)) * (y[i] < 0 ? -1.0 : 1.0);
        x[i] = w < 5 ? p * y[i] : (w < 16 ? q * y[i] : tail);
    }
}

LUMADEX_VML_CLONES void ErfInvHalley(MKL_INT n, const double* y, const double* erfX, const double* erfcAbsX,
                                     const double* expMinusX2, double* x)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const double ay = std::fabs(y[i]);
        const double f = ay <= 0.5 ? erfX[i] - y[i] : ((1 - ay) - erfcAbsX[i]) * (y[i] < 0 ? -1.0 : 1.0);
        const double d = f / (1.1283791670955126 * expMinusX2[i]);
        const double next = x[i] - d / (1 + x[i] * d);
        // |y| = 1 and beyond, zeros and NaN keep what the start gave (inf, NaN, +-0).
        x[i] = (ay < 1 && ay > 0) ? next : x[i];
    }
}

void ErfInvBlock(MKL_INT n, const double* y, double* x, int steps)
{
    alignas(64) double t[kBlock], e[kBlock], c[kBlock], g[kBlock];
    const Unary<double> ln = DoubleLn().Pick(), erf = DoubleErf().Pick(), erfc = DoubleErfc().Pick(),
                        exp = DoubleExp().Pick();
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) t[i] = (1 - y[i]) * (1 + y[i]);
    ln(n, t, t);
    ErfInvStart(n, y, t, x);
    for (int step = 0; step < steps; ++step) {
        erf(n, x, e);
#pragma omp simd
        for (MKL_INT i = 0; i < n; ++i) {
            t[i] = std::fabs(x[i]);
            g[i] = -x[i] * x[i];
        }
        erfc(n, t, c);
        exp(n, g, g);
        ErfInvHalley(n, y, e, c, g, x);
    }
    // Exactly +-1 gives +-infinity, beyond it NaN (the start gave NaN or
    // inf); below 2^-27, erfinv(y) = y sqrt(pi)/2 with the constant in two
    // parts (SLEEF's erf loses its last bit on subnormals).
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const double ay = std::fabs(y[i]);
        const double tiny = std::fma(0.88622692545275801, y[i], -3.8332932499128993e-17 * y[i]);
        x[i] = ay == 1 ? std::copysign(HUGE_VAL, y[i]) : (ay > 1 ? NAN : (ay < 0x1p-27 ? tiny : x[i]));
    }
}

}  // namespace

// The inverse error function's AVX-512 kernels (erfinv_kernels.cpp).
[[gnu::target("avx512f")]] void FloatErfInvAvx512(MKL_INT n, const float* a, float* r);
[[gnu::target("avx512f")]] void DoubleErfInvAvx512(MKL_INT n, const double* a, double* r);

}  // namespace lumadex::vml

using namespace lumadex::vml;

// The element-wise loops above are all memory-bound.
#define PUBLISH_UNARY(OP, THRESHOLD, FEXPR, DEXPR)                                              \
    void vs##OP(const MKL_INT n, const float a[], float r[])                                    \
    {                                                                                           \
        ComputeInto(n, kMemoryBound, r, [&](MKL_INT c, MKL_INT o, float* out) { OP##F(c, a + o, out); });  \
    }                                                                                           \
    void vd##OP(const MKL_INT n, const double a[], double r[])                                  \
    {                                                                                           \
        ComputeInto(n, kMemoryBound, r, [&](MKL_INT c, MKL_INT o, double* out) { OP##D(c, a + o, out); }); \
    }
#define PUBLISH_BINARY(OP, EXPR)                                                                        \
    void vs##OP(const MKL_INT n, const float a[], const float b[], float r[])                           \
    {                                                                                                   \
        ComputeInto(n, kMemoryBound, r, [&](MKL_INT c, MKL_INT o, float* out) { OP##F(c, a + o, b + o, out); });   \
    }                                                                                                   \
    void vd##OP(const MKL_INT n, const double a[], const double b[], double r[])                        \
    {                                                                                                   \
        ComputeInto(n, kMemoryBound, r, [&](MKL_INT c, MKL_INT o, double* out) { OP##D(c, a + o, b + o, out); }); \
    }

extern "C" {
OWN_UNARY_FUNCTIONS(PUBLISH_UNARY)
OWN_BINARY_FUNCTIONS(PUBLISH_BINARY)

void vsInvSqrt(const MKL_INT n, const float a[], float r[])
{
    const Unary<float> kernel = DetectedIsa() == Isa::Avx512 ? &InvSqrtF512 : &InvSqrtF;
    ComputeInto(n, kMemoryBound, r, [&](MKL_INT c, MKL_INT o, float* out) { kernel(c, a + o, out); });
}
void vdInvSqrt(const MKL_INT n, const double a[], double r[])
{
    if (DetectedIsa() == Isa::Avx512) return StoreDirect(n, kMemoryBound, a, r, &EachVector<InvSqrt8, double>);
    ComputeInto(n, kMemoryBound, r, [&](MKL_INT c, MKL_INT o, double* out) { InvSqrtD(c, a + o, out); });
}

// The AVX-512 cube roots are a few dozen instructions per vector: split over
// the threads like the transcendental functions. Elsewhere the float loops
// above and, for double, SLEEF's cbrt.
#define PUBLISH_CUBE_ROOT(OP, POWER, FLOAT_LOOP, DOUBLE_ELSEWHERE)                                        \
    void vs##OP(const MKL_INT n, const float a[], float r[])                                            \
    {                                                                                                   \
        Unary<float> kernel = &FLOAT_LOOP;                                                              \
        if (DetectedIsa() == Isa::Avx512) kernel = &EachVector<CubeRoots<CubeRootPower::POWER, __m512>, float>; \
        StoreDirect(n, kComputeBound, a, r, kernel);                                                    \
    }                                                                                                   \
    void vd##OP(const MKL_INT n, const double a[], double r[])                                          \
    {                                                                                                   \
        if (DetectedIsa() != Isa::Avx512) return DOUBLE_ELSEWHERE;                                      \
        StoreDirect(n, kComputeBound, a, r, &EachVector<CubeRoots<CubeRootPower::POWER, __m512d>, double>); \
    }
PUBLISH_CUBE_ROOT(Cbrt, Root, CbrtF, RunUnary(n, kComputeBound, a, r, DoubleCbrt()))
PUBLISH_CUBE_ROOT(InvCbrt, Inverse, InvCbrtF, CbrtOfScaled(n, a, r, -1))
PUBLISH_CUBE_ROOT(Pow2o3, TwoThirds, Pow2o3F, CbrtOfScaled(n, a, r, 2))

// Our own AVX-512 kernels need no correction: they cover the whole domain.
#define PUBLISH_CORRECTED(OP, FIX_FLOAT, FIX_DOUBLE)                                           \
    void vs##OP(const MKL_INT n, const float a[], float r[])                                      \
    {                                                                                             \
        if (kOwnFloat##OP && DetectedIsa() == Isa::Avx512)                                        \
            RunUnary(n, kComputeBound, a, r, Float##OP());                                        \
        else                                                                                      \
            Corrected(n, a, r, Float##OP().Pick(), [](MKL_INT m, const float* x, float* y) { FIX_FLOAT; }); \
    }                                                                                             \
    void vd##OP(const MKL_INT n, const double a[], double r[])                                    \
    {                                                                                             \
        if (kOwnDouble##OP && DetectedIsa() == Isa::Avx512)                                       \
            RunUnary(n, kComputeBound, a, r, Double##OP());                                       \
        else                                                                                      \
            Corrected(n, a, r, Double##OP().Pick(), [](MKL_INT m, const double* x, double* y) { FIX_DOUBLE; }); \
    }
void vsErf(const MKL_INT n, const float a[], float r[])
{
    Corrected(n, a, r, FloatErf().Pick(), [](MKL_INT m, const float* x, float* y) { ErfTiny(m, x, y); });
}
void vdErf(const MKL_INT n, const double a[], double r[]) { RunUnary(n, kComputeBound, a, r, DoubleErf()); }

PUBLISH_CORRECTED(Log1p, (Log1pTiny(m, x, y), FixLarge(m, x, y, 0x1p30, Tail::LogX, false)),
                  (Log1pTiny(m, x, y), FixLarge(m, x, y, 0x1p60, Tail::LogX, false)))
PUBLISH_CORRECTED(Acosh, FixLarge(m, x, y, 0x1p13, Tail::Log2x, false), FixLarge(m, x, y, 0x1p27, Tail::Log2x, false))
PUBLISH_CORRECTED(Asinh, FixLarge(m, x, y, 0x1p13, Tail::Log2x, true), FixLarge(m, x, y, 0x1p27, Tail::Log2x, true))
PUBLISH_CORRECTED(Cosh, FixLarge(m, x, y, 88, Tail::HalfExp, false), FixLarge(m, x, y, 709, Tail::HalfExp, false))
PUBLISH_CORRECTED(Sinh, FixLarge(m, x, y, 88, Tail::HalfExp, true), FixLarge(m, x, y, 709, Tail::HalfExp, true))

void vsModf(const MKL_INT n, const float a[], float r1[], float r2[])
{
    Split(n, kMemoryBound, [&](MKL_INT b, MKL_INT c) { ModfLoop(c, a + b, r1 + b, r2 + b); });
}
void vdModf(const MKL_INT n, const double a[], double r1[], double r2[])
{
    Split(n, kMemoryBound, [&](MKL_INT b, MKL_INT c) { ModfLoop(c, a + b, r1 + b, r2 + b); });
}

void vsPowx(const MKL_INT n, const float a[], const float b, float r[])
{
    const Binary<float> pow = FloatPow().Pick();
    Split(n, kComputeBound, [&](MKL_INT begin, MKL_INT count) {
        float exponent[kBlock];
        std::fill(exponent, exponent + kBlock, b);
        for (MKL_INT i = 0; i < count; i += kBlock)
            pow(std::min(kBlock, count - i), a + begin + i, exponent, r + begin + i);
    });
}
void vdPowx(const MKL_INT n, const double a[], const double b, double r[])
{
    const Binary<double> pow = DoublePow().Pick();
    Split(n, kComputeBound, [&](MKL_INT begin, MKL_INT count) {
        double exponent[kBlock];
        std::fill(exponent, exponent + kBlock, b);
        for (MKL_INT i = 0; i < count; i += kBlock)
            pow(std::min(kBlock, count - i), a + begin + i, exponent, r + begin + i);
    });
}

// On AVX-512 our own kernels (erfinv_kernels.cpp); elsewhere the block kernel
// above, for float with one Halley step, rounded once.
void vsErfInv(const MKL_INT n, const float a[], float r[])
{
    if (DetectedIsa() == Isa::Avx512)
        return Split(n, kComputeBound, [&](MKL_INT b, MKL_INT c) { FloatErfInvAvx512(c, a + b, r + b); });
    Split(n, kComputeBound, [&](MKL_INT begin, MKL_INT count) {
        alignas(64) double y[kBlock], x[kBlock];
        for (MKL_INT i = 0; i < count; i += kBlock) {
            const MKL_INT m = std::min(kBlock, count - i);
            std::copy(a + begin + i, a + begin + i + m, y);
            ErfInvBlock(m, y, x, 1);
            std::copy(x, x + m, r + begin + i);
        }
    });
}
void vdErfInv(const MKL_INT n, const double a[], double r[])
{
    if (DetectedIsa() == Isa::Avx512)
        return Split(n, kComputeBound, [&](MKL_INT b, MKL_INT c) { DoubleErfInvAvx512(c, a + b, r + b); });
    Split(n, kComputeBound, [&](MKL_INT begin, MKL_INT count) {
        alignas(64) double y[kBlock];
        for (MKL_INT i = 0; i < count; i += kBlock) {
            const MKL_INT m = std::min(kBlock, count - i);
            std::copy(a + begin + i, a + begin + i + m, y);  // r may be a
            ErfInvBlock(m, y, r + begin + i, 2);
        }
    });
}
}
