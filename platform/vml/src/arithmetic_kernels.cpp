// The real routines that are plain loops of our own: arithmetic, square
// roots and their inverse, x^(3/2), rounding, Modf and Powx.
//
// The loops are plain element-wise code that the compiler vectorises for
// each instruction set (LUMADEX_VML_CLONES); the layer is compiled without
// errno and without trapping math so that square roots and roundings become
// single vector instructions. Float roots are computed in double and rounded
// once; on AVX-512 the inverse square roots have kernels of their own in the
// arguments' precision.
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "avx512_loops.hpp"
#include "common.hpp"

namespace lumadex::vml {
namespace {

using namespace avx512;

// The loop r[i] = EXPR in precision T, of x = a[i] (OWN_LOOP) or of x = a[i]
// and y = b[i] (OWN_LOOP2).
#define OWN_LOOP(NAME, T, EXPR) OWN_LOOP_FOR(LUMADEX_VML_CLONES, NAME, T, EXPR)
#define OWN_LOOP_FOR(CLONES, NAME, T, EXPR)                                                          \
    CLONES void NAME(MKL_INT n, const T* a, T* r)                                                    \
    {                                                                                                \
        ByLinesAhead<64 / sizeof(T)>(n, [&](MKL_INT k) { const T x = a[k]; r[k] = EXPR; }, a, r);    \
    }
#define OWN_LOOP2(NAME, T, EXPR)                                                                     \
    LUMADEX_VML_CLONES void NAME(MKL_INT n, const T* a, const T* b, T* r)                            \
    {                                                                                                \
        ByLinesAhead<64 / sizeof(T)>(n, [&](MKL_INT k) { const T x = a[k], y = b[k]; r[k] = EXPR; }, \
                                     a, b, r);                                                       \
    }

// One loop per precision for an expression of x (float: FEXPR, double:
// DEXPR), and for an expression of x and y.
#define OWN_UNARY(OP, FEXPR, DEXPR) OWN_LOOP(OP##F, float, FEXPR) OWN_LOOP(OP##D, double, DEXPR)
#define OWN_BINARY(OP, EXPR) OWN_LOOP2(OP##F, float, EXPR) OWN_LOOP2(OP##D, double, EXPR)

// Rounding to nearest with halves away from zero; x - trunc(x) is exact.
template <class T>
inline T RoundHalfAway(T x)
{
    const T t = std::trunc(x);
    return std::fabs(x - t) >= T(0.5) ? t + std::copysign(T(1), x) : t;
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

#define OWN_UNARY_FUNCTIONS(X)                                            \
    X(Sqr, x * x, x * x)                                                  \
    X(Abs, std::fabs(x), std::fabs(x))                                    \
    X(Inv, 1 / x, 1 / x)                                                  \
    X(Pow3o2, float(double(x) * std::sqrt(double(x))), Pow3o2D(x))        \
    X(Floor, std::floor(x), std::floor(x))                                \
    X(Ceil, std::ceil(x), std::ceil(x))                                   \
    X(Trunc, std::trunc(x), std::trunc(x))                                \
    X(Round, RoundHalfAway(x), RoundHalfAway(x))                          \
    /* both round in the current mode without raising the inexact flag */ \
    X(NearbyInt, std::nearbyint(x), std::nearbyint(x))                    \
    X(Rint, std::nearbyint(x), std::nearbyint(x))
#define OWN_BINARY_FUNCTIONS(X) X(Add, x + y) X(Sub, x - y) X(Mul, x * y) X(Div, x / y)

OWN_UNARY_FUNCTIONS(OWN_UNARY)
OWN_BINARY_FUNCTIONS(OWN_BINARY)
// The double square root in vectors of 256 bits at most: on the Xeon
// (AVX-512) of this machine kind vsqrtpd on 512 bits delivers 6 % fewer
// roots per second than on 256 (numpy's 128-bit loop beat the 512-bit one).
OWN_LOOP(SqrtF, float, std::sqrt(x))
OWN_LOOP_FOR(__attribute__((target_clones("arch=x86-64-v3", "default"))), SqrtD, double, std::sqrt(x))
OWN_UNARY(InvSqrt, float(1 / std::sqrt(double(x))), InvSqrtD(x))

// Float 1/sqrt(x) on AVX-512 without a square root or a division: the
// processor's estimate (relative error below 2^-14) and one Newton step in
// double, y + y (1/2 - x y^2 / 2), leave an error below 2^-27 before the one
// rounding to float: within 0.6 ulp. Zero, negative, subnormal, infinite and
// NaN arguments take the quotient 1 / sqrt(double(x)) that the other
// instruction sets compute for every element. The tail runs through a padded
// vector, so that no element's result depends on where a call starts.
LUMADEX_AVX512 inline __m256 NewtonStepInDouble(__m256 x, __m256 estimate)
{
    const __m512d xd = _mm512_cvtps_pd(x), y = _mm512_cvtps_pd(estimate);
    const __m512d halfXy = _mm512_mul_pd(_mm512_mul_pd(xd, _mm512_set1_pd(0.5)), y);
    const __m512d correction = _mm512_fnmadd_pd(halfXy, y, _mm512_set1_pd(0.5));
    return _mm512_cvtpd_ps(_mm512_fmadd_pd(y, correction, y));
}
LUMADEX_AVX512 inline __m256 QuotientInDouble(__m256 x)
{
    return _mm512_cvtpd_ps(_mm512_div_pd(_mm512_set1_pd(1.0), _mm512_sqrt_pd(_mm512_cvtps_pd(x))));
}
LUMADEX_AVX512 inline __m256 Low(__m512 v) { return _mm512_castps512_ps256(v); }
LUMADEX_AVX512 inline __m256 High(__m512 v)
{
    return _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1));
}
LUMADEX_AVX512 inline __m512 Join(__m256 low, __m256 high)
{
    return _mm512_castpd_ps(_mm512_insertf64x4(_mm512_castps_pd(_mm512_castps256_ps512(low)), _mm256_castps_pd(high), 1));
}
LUMADEX_AVX512 inline __m512 InvSqrt16(__m512 x)
{
    const __mmask16 ordinary = _mm512_cmp_ps_mask(x, _mm512_set1_ps(0x1p-126f), _CMP_GE_OQ) &
                               _mm512_cmp_ps_mask(x, _mm512_set1_ps(0x1.fffffep127f), _CMP_LE_OQ);
    const __m512 estimate = _mm512_rsqrt14_ps(x);
    __m512 r = Join(NewtonStepInDouble(Low(x), Low(estimate)), NewtonStepInDouble(High(x), High(estimate)));
    if (ordinary != 0xFFFF)
        r = _mm512_mask_blend_ps(ordinary, Join(QuotientInDouble(Low(x)), QuotientInDouble(High(x))), r);
    return r;
}
LUMADEX_AVX512 void InvSqrtF512(MKL_INT n, const float* a, float* r)
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

// Double 1/sqrt(x): the processor's estimate y (relative error below
// 2^-14), the residual d = 1 - x y^2 from x y = v + ve split exactly by a
// fused multiply-add (d = (1 - v y) - ve y, below 2^-13 and correct to
// 2^-66; v near sqrt(x) keeps every term normal from the least subnormal to
// the largest double), then y (1 - d)^(-1/2) = y + y d P(d) with the
// Taylor polynomial of degree 4 (off by 2^-67) and one rounding: within
// 0.501 ulp. 1/sqrt(+-0) = +-inf, 1/sqrt(inf) = +0, negative arguments and
// -inf give NaN.
LUMADEX_AVX512 inline __m512d InvSqrt8(__m512d x)
{
    const __m512d y = _mm512_rsqrt14_pd(x);
    const __m512d v = Mul(x, y), ve = Fms(x, y, v);
    const __m512d d = Fnma(ve, y, Fnma(v, y, Broadcast(1.0, x)));
    __m512d p = Fma(Broadcast(35.0 / 128, x), d, Broadcast(5.0 / 16, x));
    p = Fma(p, d, Broadcast(3.0 / 8, x));
    p = Fma(p, d, Broadcast(0.5, x));
    return Exceptional(Fma(y, Mul(p, d), y), x, 0x03830622);
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
template <class T>
void Modf(MKL_INT n, const T* a, T* integral, T* fraction)
{
    Split(n, kMemoryBound, [&](MKL_INT b, MKL_INT c) { ModfLoop(c, a + b, integral + b, fraction + b); });
}

// a^b for one exponent b: the pow kernel over a block of copies of b.
template <class T>
void Powx(MKL_INT n, const T* a, T b, T* r, const Variants<Binary<T>>& kernel)
{
    const Binary<T> pow = kernel.Pick();
    Split(n, kComputeBound, [&](MKL_INT begin, MKL_INT count) {
        T exponent[kBlock];
        std::fill(exponent, exponent + kBlock, b);
        for (MKL_INT i = 0; i < count; i += kBlock)
            pow(std::min(kBlock, count - i), a + begin + i, exponent, r + begin + i);
    });
}
}  // namespace
}  // namespace lumadex::vml

using namespace lumadex::vml;

// The element-wise loops above are all memory-bound.
#define PUBLISH_UNARY(OP, FEXPR, DEXPR)                                              \
    void vs##OP(const MKL_INT n, const float a[], float r[])                                    \
    {                                                                                           \
        ComputeInto(n, kMemoryBound, r, [&](MKL_INT c, MKL_INT o, float* out) { OP##F(c, a + o, out); }, a);  \
    }                                                                                           \
    void vd##OP(const MKL_INT n, const double a[], double r[])                                  \
    {                                                                                           \
        ComputeInto(n, kMemoryBound, r, [&](MKL_INT c, MKL_INT o, double* out) { OP##D(c, a + o, out); }, a); \
    }
#define PUBLISH_BINARY(OP, EXPR)                                                                        \
    void vs##OP(const MKL_INT n, const float a[], const float b[], float r[])                           \
    {                                                                                                   \
        ComputeInto(n, kMemoryBound, r, [&](MKL_INT c, MKL_INT o, float* out) { OP##F(c, a + o, b + o, out); }, a, b);   \
    }                                                                                                   \
    void vd##OP(const MKL_INT n, const double a[], const double b[], double r[])                        \
    {                                                                                                   \
        ComputeInto(n, kMemoryBound, r, [&](MKL_INT c, MKL_INT o, double* out) { OP##D(c, a + o, b + o, out); }, a, b); \
    }

extern "C" {
OWN_UNARY_FUNCTIONS(PUBLISH_UNARY)
PUBLISH_UNARY(Sqrt, , )
OWN_BINARY_FUNCTIONS(PUBLISH_BINARY)

void vsInvSqrt(const MKL_INT n, const float a[], float r[])
{
    const Unary<float> kernel = DetectedIsa() == Isa::Avx512 ? &InvSqrtF512 : &InvSqrtF;
    ComputeInto(n, kMemoryBound, r, [&](MKL_INT c, MKL_INT o, float* out) { kernel(c, a + o, out); }, a);
}
void vdInvSqrt(const MKL_INT n, const double a[], double r[])
{
    if (DetectedIsa() == Isa::Avx512) return RunUnary(n, kMemoryBound, a, r, &MapStored<double, InvSqrt8>);
    ComputeInto(n, kMemoryBound, r, [&](MKL_INT c, MKL_INT o, double* out) { InvSqrtD(c, a + o, out); }, a);
}

void vsModf(const MKL_INT n, const float a[], float r1[], float r2[]) { Modf(n, a, r1, r2); }
void vdModf(const MKL_INT n, const double a[], double r1[], double r2[]) { Modf(n, a, r1, r2); }

void vsPowx(const MKL_INT n, const float a[], const float b, float r[]) { Powx(n, a, b, r, FloatPow()); }
void vdPowx(const MKL_INT n, const double a[], const double b, double r[]) { Powx(n, a, b, r, DoublePow()); }

}
