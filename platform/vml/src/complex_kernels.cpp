// The complex routines.
//
// Arithmetic and conjugation are our own vectorised loops over the
// interleaved (real, imaginary) pairs. The elementary functions run in
// blocks over our real kernels (Exp, Ln, Log10; Sin, Cos, Tan and their
// hyperbolic and inverse relatives) by formulas that hold where the parts
// stay in range, and the C library's complex functions, as numpy calls them,
// take the other elements (huge, tiny, infinite and NaN parts), so that
// branch cuts, signed zeros and infinities follow C99 Annex G. Sqrt and Pow
// call the C library per element. The modulus is a loop of ours; CIS runs in
// blocks over SLEEF's sincos.
#include <immintrin.h>

// GCC's own AVX-512 intrinsics start from an undefined vector they then fill.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <type_traits>

#include "common.hpp"

namespace lumadex::vml {
namespace {

// (x + iy) op (u + iv) over n pairs as 2n reals.
template <class T>
LUMADEX_VML_CLONES void AddPairs(MKL_INT n, const T* a, const T* b, T* r)
{
#pragma omp simd
    for (std::int64_t i = 0; i < 2 * std::int64_t{n}; ++i) r[i] = a[i] + b[i];
}
template <class T>
LUMADEX_VML_CLONES void SubPairs(MKL_INT n, const T* a, const T* b, T* r)
{
#pragma omp simd
    for (std::int64_t i = 0; i < 2 * std::int64_t{n}; ++i) r[i] = a[i] - b[i];
}
template <class T>
LUMADEX_VML_CLONES void ConjPairs(MKL_INT n, const T* a, T* r)
{
    // A cache line of parts at a time as one vector of bits, loaded whole
    // before it is stored (r may be a): the odd (imaginary) parts' sign bits
    // flipped, which negates NaN as -x does.
    using Bits = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
    using Line [[gnu::vector_size(64)]] = Bits;
    constexpr MKL_INT kParts = 64 / sizeof(T);
    Line flip{};
    for (MKL_INT k = 1; k < kParts; k += 2) flip[k] = Bits{1} << (8 * sizeof(T) - 1);
    const std::int64_t parts = 2 * std::int64_t{n};
    std::int64_t i = 0;
    for (; i + kParts <= parts; i += kParts) {
        Ahead(a + i);
        Ahead(r + i);
        Line line;
        std::memcpy(&line, a + i, sizeof line);
        line ^= flip;
        std::memcpy(r + i, &line, sizeof line);
    }
    for (; i < parts; ++i) r[i] = i % 2 ? -a[i] : a[i];
}
// a * b, or a * conj(b), by the schoolbook formula (no
// Annex G recovery of infinities from NaN, as VML does).
template <class T>
LUMADEX_VML_CLONES void MulPairs(MKL_INT n, const T* a, const T* b, T* r, bool conjugate)
{
    const T sign = conjugate ? T(-1) : T(1);
    // Each part as one fused multiply-add, named: the vector loop and its
    // scalar tail then round alike, so an element's result does not depend
    // on where the call (or a thread's share of it) starts.
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const T x = a[2 * i], y = a[2 * i + 1], u = b[2 * i], v = sign * b[2 * i + 1];
        r[2 * i] = std::fma(x, u, -(y * v));
        r[2 * i + 1] = std::fma(x, v, y * u);
    }
}

// |x + iy| of a complex float: exact squares in double, one rounding each
// for the sum, the root and the result.
LUMADEX_VML_CLONES void AbsFloatPairs(MKL_INT n, const float* a, float* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const double x = a[2 * i], y = a[2 * i + 1];
        r[i] = float(std::sqrt(x * x + y * y));
    }
}

// The same on AVX-512 without a square-root instruction (its throughput held
// the loop to 2.4 ms per 4 M elements, against 2.0 without it): s = x^2 + y^2
// in double (one rounding), the processor's 14-bit estimate of 1/sqrt(s) and
// one Newton step for sqrt(s) in double (relative error about 2^-27), then
// one rounding to float: within 0.57 ulp. Lanes where s is 0, infinite or
// NaN take the square root; an infinite part gives infinity beside a NaN.
// The tail is loaded masked, so no result depends on where a call starts.
LUMADEX_AVX512 inline __m512d ModulusInDouble(__m256 x, __m256 y)
{
    const __m512d u = _mm512_cvtps_pd(x), v = _mm512_cvtps_pd(y);
    const __m512d s = _mm512_fmadd_pd(u, u, _mm512_mul_pd(v, v));
    const __m512d estimate = _mm512_rsqrt14_pd(s), root = _mm512_mul_pd(s, estimate);
    const __m512d refined =
        _mm512_fmadd_pd(_mm512_mul_pd(estimate, _mm512_set1_pd(0.5)), _mm512_fnmadd_pd(root, root, s), root);
    const __mmask8 exceptional = _mm512_cmp_pd_mask(_mm512_abs_pd(_mm512_sub_pd(s, s)), s, _CMP_NLT_UQ);
    if (!exceptional) return refined;
    const __mmask8 infinite = _mm512_cmp_pd_mask(_mm512_abs_pd(u), _mm512_set1_pd(HUGE_VAL), _CMP_EQ_OQ) |
                              _mm512_cmp_pd_mask(_mm512_abs_pd(v), _mm512_set1_pd(HUGE_VAL), _CMP_EQ_OQ);
    const __m512d direct = _mm512_mask_blend_pd(infinite, _mm512_sqrt_pd(s), _mm512_set1_pd(HUGE_VAL));
    return _mm512_mask_blend_pd(exceptional, refined, direct);
}

// Moduli of 16 pairs from two vectors of interleaved parts.
LUMADEX_AVX512 inline __m512 Moduli16(__m512 first, __m512 second)
{
    const __m512i evens = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    const __m512i odds = _mm512_add_epi32(evens, _mm512_set1_epi32(1));
    const __m512 re = _mm512_permutex2var_ps(first, evens, second), im = _mm512_permutex2var_ps(first, odds, second);
    const __m512d lower = ModulusInDouble(_mm512_castps512_ps256(re), _mm512_castps512_ps256(im));
    const __m512d upper = ModulusInDouble(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(re), 1)),
                                          _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(im), 1)));
    return _mm512_castpd_ps(_mm512_insertf64x4(_mm512_castps_pd(_mm512_castps256_ps512(_mm512_cvtpd_ps(lower))),
                                               _mm256_castps_pd(_mm512_cvtpd_ps(upper)), 1));
}

LUMADEX_AVX512 void AbsFloatPairs512(MKL_INT n, const float* a, float* r)
{
    MKL_INT i = 0;
    for (; i + 16 <= n; i += 16) {
        Ahead(a + 2 * i);
        Ahead(a + 2 * i + 16);
        Ahead(r + i);
        _mm512_storeu_ps(r + i, Moduli16(_mm512_loadu_ps(a + 2 * i), _mm512_loadu_ps(a + 2 * i + 16)));
    }
    if (i == n) return;
    const int left = static_cast<int>(n - i);  // 1 to 15 pairs
    const auto mask = [](int count) { return static_cast<__mmask16>(count >= 16 ? 0xFFFF : (1u << count) - 1); };
    const __m512 first = _mm512_maskz_loadu_ps(mask(2 * left), a + 2 * i);
    const __m512 second = _mm512_maskz_loadu_ps(mask(2 * left - 16 > 0 ? 2 * left - 16 : 0), a + 2 * i + 16);
    _mm512_mask_storeu_ps(r + i, mask(left), Moduli16(first, second));
}

// |x + iy| of a complex double: sqrt(u^2 + v^2) with a fused multiply-add
// on the parts scaled by a power of two into a range where the squares
// neither overflow nor underflow, the smaller square kept exactly (within
// about 0.6 ulp); an infinite part
// gives infinity even beside a NaN.
LUMADEX_VML_CLONES void AbsDoublePairs(MKL_INT n, const double* a, double* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const double x = std::fabs(a[2 * i]), y = std::fabs(a[2 * i + 1]), m = std::max(x, y);
        const double s = m > 0x1p500 ? 0x1p-600 : (m < 0x1p-500 ? 0x1p600 : 1.0);
        const double back = m > 0x1p500 ? 0x1p600 : (m < 0x1p-500 ? 0x1p-600 : 1.0);
        const double u = x * s, v = y * s;
        const double v2 = v * v, v2Error = std::fma(v, v, -v2);  // v^2 = v2 + v2Error exactly
        const double modulus = std::sqrt(std::fma(u, u, v2) + v2Error) * back;
        r[i] = (std::isinf(x) || std::isinf(y)) ? HUGE_VAL : modulus;
    }
}

template <class C, class F>
void PerElement(MKL_INT n, const C* a, C* r, F f)
{
    const auto* x = AsStd(a);
    auto* y = AsStd(r);
    Split(n, kComputeBound, [&](MKL_INT begin, MKL_INT count) {
        for (MKL_INT i = begin; i < begin + count; ++i) y[i] = f(x[i]);
    });
}

// The blocks below read their arguments and write their results in scalar
// loops, which the hardware prefetcher alone left waiting on memory (half
// the time of complex float Exp went to its first load): each element
// prefetches the same element of the next block (a burst of prefetches at
// the start of a block stalled on the fill buffers instead).
template <class C>
[[gnu::always_inline]] inline void AheadOneBlock(const C* p)
{
    _mm_prefetch(reinterpret_cast<const char*>(p + kBlock), _MM_HINT_T0);
}

// atanh z, z = x + iy, in double over the layer's real kernels, a block at a
// time:
//   Re = sign(x) log1p(4|x| / s) / 4,    s = (1 - |x|)^2 + y^2,
//   Im = atan2(2y, (1 - |x|)(1 + |x|) - y^2) / 2,
// as |1 + z|^2 = |1 - z|^2 + 4x, (1 + z)(1 - conj z) = 1 - |z|^2 + 2iy and
// atanh(-z) = -atanh(z). The argument of log1p is not negative, so that
// log1p does not magnify the few roundings it carries;
// the difference for Im cancels only near |z| = 1, where its absolute error
// (2^-53) moves the angle by 2^-53/(2|y|) at most, against an Im of about
// pi/4 there: within 3 ulps of the larger part, the C library's catanh 4.7.
// Elements where the squares could overflow or underflow (a part beyond
// 2^500, s below 2^-900, x nonzero below 2^-500, infinities and NaNs) take
// the C library's function, for its care and its Annex G special values.
struct AtanhParts {
    double u, num, den;  // 4|x|/s, 2y and the difference
    bool own;
};
inline AtanhParts AtanhArguments(double x, double y)
{
    const double ax = std::fabs(x), omx = 1 - ax, y2 = y * y, s = std::fma(omx, omx, y2);
    const bool own = ax <= 0x1p500 && std::fabs(y) <= 0x1p500 && s >= 0x1p-900 && !(ax < 0x1p-500 && x != 0);
    return {4 * ax / s, 2 * y, std::fma(omx, 1 + ax, -y2), own};
}

// The arguments of m elements for the kernels (cloned per instruction set,
// so that std::fma is the instruction where the processor has it).
// atan z = -i atanh(iz): kAtan takes the parts of iz = -y + ix.
template <bool kAtan, class C>
LUMADEX_VML_CLONES void AtanhPrepare(MKL_INT m, const C* z, double* u, double* num, double* den, bool* own)
{
    for (MKL_INT k = 0; k < m; ++k) {
        AheadOneBlock(z + k);
        const AtanhParts p = kAtan ? AtanhArguments(-z[k].imag(), z[k].real()) : AtanhArguments(z[k].real(), z[k].imag());
        u[k] = p.own ? p.u : 0;
        num[k] = p.own ? p.num : 0;
        den[k] = p.own ? p.den : 1;
        own[k] = p.own;
    }
}

template <bool kAtan, class C>
void AtanhBlocks(MKL_INT n, const C* a, C* r)
{
    using T = typename C::value_type;
    const Unary<double> log1p = DoubleLog1p().Pick();
    const Binary<double> atan2 = DoubleAtan2().Pick();
    ForEachBlock(n, kComputeBound, [&](MKL_INT i, MKL_INT m) {
        alignas(64) double u[kBlock], num[kBlock], den[kBlock];
        bool own[kBlock];
        AtanhPrepare<kAtan>(m, a + i, u, num, den, own);
        log1p(m, u, u);
        atan2(m, num, den, num);
        for (MKL_INT k = 0; k < m; ++k) {
            AheadOneBlock(r + i + k);
            const C z = a[i + k];
            if (!own[k])
                r[i + k] = kAtan ? std::atan(z) : std::atanh(z);
            else if (kAtan)  // atanh(-y + ix) = p + iq gives atan z = q - ip
                r[i + k] = C(T(0.5 * num[k]), T(std::copysign(0.25 * u[k], z.imag())));
            else
                r[i + k] = C(T(std::copysign(0.25 * u[k], z.real())), T(0.5 * num[k]));
        }
    });
}

// asin z, z = x + iy, in double over the layer's Atan2 and Log1p kernels, a
// block at a time, by Hull, Fairgrieve and Tang's formulas (ACM TOMS 23,
// 1997) for x, y >= 0 (asin is odd in x and in y apart). With
// r = |z + 1|, s = |z - 1|, A = (r + s)/2 >= 1 and B = x/A:
//   Re = atan2(x, D):    D = sqrt((A - x)(A + x)) for B <= 0.6417, where
//        A - x does not cancel; beyond, from x <= 1 or x > 1,
//        D = sqrt((A + x)/2 (y^2/(r + x + 1) + s + (1 - x))), or
//        D = y sqrt((A + x)/2 (1/(r + x + 1) + 1/(s + (x - 1))));
//   Im = log1p(W + sqrt(W (A + 1))), W = A - 1: for A <= 1.5 from
//        (y^2/(r + x + 1) + y^2/(s + (1 - x)))/2 or
//        (y^2/(r + x + 1) + s + (x - 1))/2, where A - 1 would cancel.
// Measured within 3.4 ulps of the larger part for complex double, 0.5 for
// complex float (the C library's casin 3.8). Parts beyond 2^500 or nonzero
// below 2^-500, infinities and NaNs take the C library's function.
struct AsinParts {
    double num, den, w;  // Re = atan2(num, den), Im = log1p(w)
    bool own;
};
inline AsinParts AsinArguments(double re, double im)
{
    const double x = std::fabs(re), y = std::fabs(im), y2 = y * y;
    const auto ordinary = [](double v) { return v <= 0x1p500 && !(v < 0x1p-500 && v != 0); };
    if (!(ordinary(x) && ordinary(y))) return {0, 1, 0, false};
    const double xp1 = x + 1, xm1 = x - 1, omx = 1 - x;
    const double r = std::sqrt(std::fma(xp1, xp1, y2)), s = std::sqrt(std::fma(xm1, xm1, y2));
    const double a = 0.5 * (r + s), apx = a + x, rx1 = r + xp1;
    double d;
    if (x <= 0.6417 * a)
        d = std::sqrt((a - x) * apx);
    else if (x <= 1)
        d = std::sqrt(0.5 * apx * (y2 / rx1 + (s + omx)));
    else
        d = y * std::sqrt(0.5 * (apx / rx1 + apx / (s + xm1)));
    double w;
    if (a > 1.5)
        w = a - 1;
    else if (x < 1)
        w = 0.5 * (y2 / rx1 + y2 / (s + omx));
    else
        w = 0.5 * (y2 / rx1 + (s + xm1));
    return {x, d, w + std::sqrt(w * (a + 1)), true};
}

// The family over the same parts, with L = log1p(w) >= 0 and, for x >= 0,
// the angle atan2(|x|, D) (Re asin) or atan2(D, x) (Re acos, which atan2
// carries to negative x):
//   asin z  = sign(x) atan2(|x|, D) + i sign(y) L,
//   acos z  = atan2(D, x) - i sign(y) L,
//   acosh z = L + i sign(y) atan2(D, x),
//   asinh z = -i asin(iz), asin taken at iz = -y + ix.
enum class InverseKind { Asin, Acos, Acosh, Asinh };

template <InverseKind kKind, class C>
LUMADEX_VML_CLONES void InversePrepare(MKL_INT m, const C* z, double* num, double* den, double* w, bool* own)
{
    for (MKL_INT k = 0; k < m; ++k) {
        AheadOneBlock(z + k);
        const double x = z[k].real(), y = z[k].imag();
        const AsinParts p = kKind == InverseKind::Asinh ? AsinArguments(-y, x) : AsinArguments(x, y);
        const bool angle = kKind == InverseKind::Acos || kKind == InverseKind::Acosh;
        num[k] = angle ? p.den : p.num;
        den[k] = angle ? (p.own ? x : 1) : p.den;
        w[k] = p.w;
        own[k] = p.own;
    }
}

template <InverseKind kKind, class C>
C InverseOf(C z, double angle, double l)
{
    using T = typename C::value_type;
    const double x = z.real(), y = z.imag();
    switch (kKind) {
    case InverseKind::Asin: return C(T(std::copysign(angle, x)), T(std::copysign(l, y)));
    case InverseKind::Acos: return C(T(angle), T(-std::copysign(l, y)));
    case InverseKind::Acosh: return C(T(l), T(std::copysign(angle, y)));
    default: return C(T(std::copysign(l, x)), T(std::copysign(angle, y)));  // asin(-y + ix) = a + ib -> (b, -a)
    }
}

template <InverseKind kKind, class C>
C InverseByCLibrary(C z)
{
    switch (kKind) {
    case InverseKind::Asin: return std::asin(z);
    case InverseKind::Acos: return std::acos(z);
    case InverseKind::Acosh: return std::acosh(z);
    default: return std::asinh(z);
    }
}

template <InverseKind kKind, class C>
void InverseBlocks(MKL_INT n, const C* a, C* r)
{
    const Unary<double> log1p = DoubleLog1p().Pick();
    const Binary<double> atan2 = DoubleAtan2().Pick();
    ForEachBlock(n, kComputeBound, [&](MKL_INT i, MKL_INT m) {
        alignas(64) double num[kBlock], den[kBlock], w[kBlock];
        bool own[kBlock];
        InversePrepare<kKind>(m, a + i, num, den, w, own);
        atan2(m, num, den, num);
        log1p(m, w, w);
        for (MKL_INT k = 0; k < m; ++k) {
            AheadOneBlock(r + i + k);
            const C z = a[i + k];
            r[i + k] = own[k] ? InverseOf<kKind>(z, num[k], w[k]) : InverseByCLibrary<kKind>(z);
        }
    });
}

// sin, cos, sinh and cosh of z = x + iy in double over the layer's SinCos
// and our Cosh and Sinh, a block at a time, from the real functions of one
// part (c, s) and the hyperbolic ones of the other (ch, sh):
//   sin z  = sin x cosh y + i cos x sinh y,   cos z  = cos x cosh y - i sin x sinh y,
//   sinh z = sinh x cos y + i cosh x sin y,   cosh z = cosh x cos y + i sinh x sin y;
// each part a product of two results within 1 ulp (1.5 ulps of itself).
// Hyperbolic arguments beyond +-700, where cosh and sinh alone would
// overflow, and infinities and NaNs take the C library's functions.
enum class TrigKind { Sin, Cos, Sinh, Cosh };

template <TrigKind kKind, class C>
void TrigBlocks(MKL_INT n, const C* a, C* r)
{
    using T = typename C::value_type;
    constexpr bool kHyperbolic = kKind == TrigKind::Sinh || kKind == TrigKind::Cosh;
    const TwoResults<double> sincos = DoubleSinCos().Pick();
    const Unary<double> cosh = DoubleCosh().Pick(), sinh = DoubleSinh().Pick();
    ForEachBlock(n, kComputeBound, [&](MKL_INT i, MKL_INT m) {
        alignas(64) double t[kBlock], h[kBlock], sn[kBlock], cs[kBlock], ch[kBlock], sh[kBlock];
        bool own[kBlock];
        for (MKL_INT k = 0; k < m; ++k) {
            AheadOneBlock(a + i + k);
            const double x = a[i + k].real(), y = a[i + k].imag();
            const double circular = kHyperbolic ? y : x, hyperbolic = kHyperbolic ? x : y;
            own[k] = std::isfinite(circular) && std::fabs(hyperbolic) <= 700;
            t[k] = own[k] ? circular : 0;
            h[k] = own[k] ? hyperbolic : 0;
        }
        sincos(m, t, sn, cs);
        cosh(m, h, ch);
        sinh(m, h, sh);
        for (MKL_INT k = 0; k < m; ++k) {
            AheadOneBlock(r + i + k);
            const C z = a[i + k];
            if (!own[k]) {
                r[i + k] = kKind == TrigKind::Sin ? std::sin(z) : kKind == TrigKind::Cos ? std::cos(z)
                         : kKind == TrigKind::Sinh ? std::sinh(z) : std::cosh(z);
                continue;
            }
            switch (kKind) {
            case TrigKind::Sin: r[i + k] = C(T(sn[k] * ch[k]), T(cs[k] * sh[k])); break;
            case TrigKind::Cos: r[i + k] = C(T(cs[k] * ch[k]), T(-(sn[k] * sh[k]))); break;
            case TrigKind::Sinh: r[i + k] = C(T(sh[k] * cs[k]), T(ch[k] * sn[k])); break;
            case TrigKind::Cosh: r[i + k] = C(T(ch[k] * cs[k]), T(sh[k] * sn[k])); break;
            }
        }
    });
}

// tanh z, z = x + iy, in double over our Tan and Sinh, a block at a time, by
// Kahan's formula: with t = tan y, b = 1 + t^2, s = sinh x and
// c = sqrt(1 + s^2) = cosh x,
//   tanh z = (b c s + i t) / (1 + b s^2),
// whose denominator has no cancellation (cosh 2x + cos 2y has, near
// z = i pi/2): each part within a few roundings of itself. tan z =
// -i tanh(iz). |x| beyond 20, where tanh x rounds to +-1 and b s^2 could
// overflow, and infinities and NaNs take the C library's functions.
template <bool kTan, class C>
void TanhBlocks(MKL_INT n, const C* a, C* r)
{
    using T = typename C::value_type;
    const Unary<double> tan = DoubleTan().Pick(), sinh = DoubleSinh().Pick();
    ForEachBlock(n, kComputeBound, [&](MKL_INT i, MKL_INT m) {
        alignas(64) double t[kBlock], s[kBlock];
        bool own[kBlock];
        for (MKL_INT k = 0; k < m; ++k) {
            AheadOneBlock(a + i + k);
            const double x = kTan ? -a[i + k].imag() : a[i + k].real(), y = kTan ? a[i + k].real() : a[i + k].imag();
            own[k] = std::fabs(x) <= 20 && std::isfinite(y);
            t[k] = own[k] ? y : 0;
            s[k] = own[k] ? x : 0;
        }
        tan(m, t, t);
        sinh(m, s, s);
        for (MKL_INT k = 0; k < m; ++k) {
            AheadOneBlock(r + i + k);
            const C z = a[i + k];
            if (!own[k]) {
                r[i + k] = kTan ? std::tan(z) : std::tanh(z);
                continue;
            }
            const double b = 1 + t[k] * t[k], d = 1 + b * s[k] * s[k];
            const double re = b * std::sqrt(1 + s[k] * s[k]) * s[k] / d, im = t[k] / d;
            r[i + k] = kTan ? C(T(im), T(-re)) : C(T(re), T(im));  // tanh(-y + ix) = p + iq gives tan z = q - ip
        }
    });
}

// e^z = e^x (cos y + i sin y), z = x + iy, in double over our Exp and the
// layer's SinCos, a block at a time: each part the product of two results
// within 1 ulp, within 1.5 ulps of itself (the C library's cexp 1.8 of the
// larger part). x beyond +-700, where e^x alone would overflow or lose bits
// to subnormals before the product, and infinities and NaNs take the C
// library's cexp.
template <class C>
void ExpBlocks(MKL_INT n, const C* a, C* r)
{
    using T = typename C::value_type;
    const Unary<double> exp = DoubleExp().Pick();
    const TwoResults<double> sincos = DoubleSinCos().Pick();
    ForEachBlock(n, kComputeBound, [&](MKL_INT i, MKL_INT m) {
        alignas(64) double e[kBlock], y[kBlock], sine[kBlock], cosine[kBlock];
        bool own[kBlock];
        for (MKL_INT k = 0; k < m; ++k) {
            AheadOneBlock(a + i + k);
            const double x = a[i + k].real(), v = a[i + k].imag();
            own[k] = std::fabs(x) <= 700 && std::isfinite(v);
            e[k] = own[k] ? x : 0;
            y[k] = own[k] ? v : 0;
        }
        exp(m, e, e);
        sincos(m, y, sine, cosine);
        for (MKL_INT k = 0; k < m; ++k) {
            AheadOneBlock(r + i + k);
            r[i + k] = own[k] ? C(T(e[k] * cosine[k]), T(e[k] * sine[k])) : C(std::exp(a[i + k]));
        }
    });
}

// ln z = log(x^2 + y^2)/2 + i atan2(y, x), z = x + iy, in double over our
// Ln, Log1p and Atan2 kernels, a block at a time (log10 z the same times
// log10(e)). Where x^2 + y^2 is 1/2 or more, the real part is log1p(s)/2
// with s = x^2 + y^2 - 1, which cancels near |z| = 1 and so is formed from
// the exact squares x^2 = hx + lx and y^2 = hy + ly: the larger of hx and hy
// less 1 is exact where the sum cancels (it lies in [1/2, 2] then), the
// smaller is added by an exact two-sum and the low parts after; s errs by
// 2^-53 of itself plus 2^-104. Below 1/2, log(hx + hy) has no cancellation.
// Both parts stay within about an ulp of the larger one (the C library's
// clog 2.5, clog10 2.9). Parts beyond 2^500, z below 2^-500 in both parts,
// infinities and NaNs take the C library's functions.
template <class C>
LUMADEX_VML_CLONES void LnPrepare(MKL_INT m, const C* zs, double* s, double* q, double* y, double* x, bool* own,
                              bool* near)
{
    for (MKL_INT k = 0; k < m; ++k) {
        AheadOneBlock(zs + k);
        const double u = zs[k].real(), v = zs[k].imag();
        const double big = std::max(std::fabs(u), std::fabs(v));
        own[k] = big <= 0x1p500 && big >= 0x1p-500;
        const double hx = u * u, lx = std::fma(u, u, -hx), hy = v * v, ly = std::fma(v, v, -hy);
        const double large = std::max(hx, hy) - 1, small = std::min(hx, hy);
        const double sum = large + small, z = sum - large;  // two-sum of large and small
        const double error = (large - (sum - z)) + (small - z);
        near[k] = hx + hy >= 0.5;
        s[k] = own[k] && near[k] ? sum + (error + (lx + ly)) : 0;
        q[k] = own[k] && !near[k] ? hx + hy : 1;
        y[k] = own[k] ? v : 0;
        x[k] = own[k] ? u : 1;
    }
}

template <class C, bool kLog10>
void LnBlocks(MKL_INT n, const C* a, C* r)
{
    using T = typename C::value_type;
    const Unary<double> log1p = DoubleLog1p().Pick(), ln = DoubleLn().Pick();
    const Binary<double> atan2 = DoubleAtan2().Pick();
    constexpr double kScale = kLog10 ? 0.43429448190325182765 : 1.0;  // log10(e)
    ForEachBlock(n, kComputeBound, [&](MKL_INT i, MKL_INT m) {
        alignas(64) double s[kBlock], q[kBlock], y[kBlock], x[kBlock];
        bool own[kBlock], near[kBlock];
        LnPrepare(m, a + i, s, q, y, x, own, near);
        log1p(m, s, s);
        ln(m, q, q);
        atan2(m, y, x, y);
        for (MKL_INT k = 0; k < m; ++k) {
            AheadOneBlock(r + i + k);
            if (own[k])
                r[i + k] = C(T(0.5 * kScale * (near[k] ? s[k] : q[k])), T(kScale * y[k]));
            else
                r[i + k] = kLog10 ? C(std::log10(a[i + k])) : C(std::log(a[i + k]));
        }
    });
}

template <class T>
void Cis(MKL_INT n, const T* a, T* pairs, const TwoResults<T> sincos)
{
    Split(n, kComputeBound, [&](MKL_INT begin, MKL_INT count) {
        alignas(64) T s[kBlock], c[kBlock];
        for (MKL_INT i = begin; i < begin + count; i += kBlock) {
            const MKL_INT m = std::min(kBlock, begin + count - i);
            sincos(m, a + i, s, c);
            for (MKL_INT k = 0; k < m; ++k) {
                pairs[2 * (i + k)] = c[k];
                pairs[2 * (i + k) + 1] = s[k];
            }
        }
    });
}

}  // namespace
}  // namespace lumadex::vml

using namespace lumadex::vml;

// The C library's function per element.
#define PUBLISH_COMPLEX_UNARY(OP, EXPR)                                             \
    void vc##OP(const MKL_INT n, const MKL_Complex8 a[], MKL_Complex8 r[])           \
    {                                                                               \
        PerElement(n, a, r, [](std::complex<float> z) { return EXPR; });           \
    }                                                                               \
    void vz##OP(const MKL_INT n, const MKL_Complex16 a[], MKL_Complex16 r[])         \
    {                                                                               \
        PerElement(n, a, r, [](std::complex<double> z) { return EXPR; });          \
    }

extern "C" {
PUBLISH_COMPLEX_UNARY(Sqrt, std::sqrt(z))
void vcExp(const MKL_INT n, const MKL_Complex8 a[], MKL_Complex8 r[]) { ExpBlocks(n, AsStd(a), AsStd(r)); }
void vzExp(const MKL_INT n, const MKL_Complex16 a[], MKL_Complex16 r[]) { ExpBlocks(n, AsStd(a), AsStd(r)); }
void vcLn(const MKL_INT n, const MKL_Complex8 a[], MKL_Complex8 r[]) { LnBlocks<std::complex<float>, false>(n, AsStd(a), AsStd(r)); }
void vzLn(const MKL_INT n, const MKL_Complex16 a[], MKL_Complex16 r[]) { LnBlocks<std::complex<double>, false>(n, AsStd(a), AsStd(r)); }
void vcLog10(const MKL_INT n, const MKL_Complex8 a[], MKL_Complex8 r[]) { LnBlocks<std::complex<float>, true>(n, AsStd(a), AsStd(r)); }
void vzLog10(const MKL_INT n, const MKL_Complex16 a[], MKL_Complex16 r[]) { LnBlocks<std::complex<double>, true>(n, AsStd(a), AsStd(r)); }
void vcCos(const MKL_INT n, const MKL_Complex8 a[], MKL_Complex8 r[]) { TrigBlocks<TrigKind::Cos>(n, AsStd(a), AsStd(r)); }
void vzCos(const MKL_INT n, const MKL_Complex16 a[], MKL_Complex16 r[]) { TrigBlocks<TrigKind::Cos>(n, AsStd(a), AsStd(r)); }
void vcSin(const MKL_INT n, const MKL_Complex8 a[], MKL_Complex8 r[]) { TrigBlocks<TrigKind::Sin>(n, AsStd(a), AsStd(r)); }
void vzSin(const MKL_INT n, const MKL_Complex16 a[], MKL_Complex16 r[]) { TrigBlocks<TrigKind::Sin>(n, AsStd(a), AsStd(r)); }
void vcTan(const MKL_INT n, const MKL_Complex8 a[], MKL_Complex8 r[]) { TanhBlocks<true>(n, AsStd(a), AsStd(r)); }
void vzTan(const MKL_INT n, const MKL_Complex16 a[], MKL_Complex16 r[]) { TanhBlocks<true>(n, AsStd(a), AsStd(r)); }
void vcCosh(const MKL_INT n, const MKL_Complex8 a[], MKL_Complex8 r[]) { TrigBlocks<TrigKind::Cosh>(n, AsStd(a), AsStd(r)); }
void vzCosh(const MKL_INT n, const MKL_Complex16 a[], MKL_Complex16 r[]) { TrigBlocks<TrigKind::Cosh>(n, AsStd(a), AsStd(r)); }
void vcSinh(const MKL_INT n, const MKL_Complex8 a[], MKL_Complex8 r[]) { TrigBlocks<TrigKind::Sinh>(n, AsStd(a), AsStd(r)); }
void vzSinh(const MKL_INT n, const MKL_Complex16 a[], MKL_Complex16 r[]) { TrigBlocks<TrigKind::Sinh>(n, AsStd(a), AsStd(r)); }
void vcTanh(const MKL_INT n, const MKL_Complex8 a[], MKL_Complex8 r[]) { TanhBlocks<false>(n, AsStd(a), AsStd(r)); }
void vzTanh(const MKL_INT n, const MKL_Complex16 a[], MKL_Complex16 r[]) { TanhBlocks<false>(n, AsStd(a), AsStd(r)); }
#define PUBLISH_INVERSE(OP, KIND)                                                   \
    void vc##OP(const MKL_INT n, const MKL_Complex8 a[], MKL_Complex8 r[])           \
    {                                                                               \
        InverseBlocks<InverseKind::KIND>(n, AsStd(a), AsStd(r));                    \
    }                                                                               \
    void vz##OP(const MKL_INT n, const MKL_Complex16 a[], MKL_Complex16 r[])         \
    {                                                                               \
        InverseBlocks<InverseKind::KIND>(n, AsStd(a), AsStd(r));                    \
    }
PUBLISH_INVERSE(Asin, Asin)
PUBLISH_INVERSE(Acos, Acos)
PUBLISH_INVERSE(Acosh, Acosh)
PUBLISH_INVERSE(Asinh, Asinh)
void vcAtanh(const MKL_INT n, const MKL_Complex8 a[], MKL_Complex8 r[]) { AtanhBlocks<false>(n, AsStd(a), AsStd(r)); }
void vzAtanh(const MKL_INT n, const MKL_Complex16 a[], MKL_Complex16 r[]) { AtanhBlocks<false>(n, AsStd(a), AsStd(r)); }
void vcAtan(const MKL_INT n, const MKL_Complex8 a[], MKL_Complex8 r[]) { AtanhBlocks<true>(n, AsStd(a), AsStd(r)); }
void vzAtan(const MKL_INT n, const MKL_Complex16 a[], MKL_Complex16 r[]) { AtanhBlocks<true>(n, AsStd(a), AsStd(r)); }

void vcConj(const MKL_INT n, const MKL_Complex8 a[], MKL_Complex8 r[])
{
    ComputeInto(n, kMemoryBound / 2, r, [&](MKL_INT c, MKL_INT o, MKL_Complex8* out) { ConjPairs(c, &a[o].real, &out[0].real); }, a);
}
void vzConj(const MKL_INT n, const MKL_Complex16 a[], MKL_Complex16 r[])
{
    ComputeInto(n, kMemoryBound / 2, r, [&](MKL_INT c, MKL_INT o, MKL_Complex16* out) { ConjPairs(c, &a[o].real, &out[0].real); }, a);
}

#define PUBLISH_COMPLEX_ARITHMETIC(OP, CALL)                                                             \
    void vc##OP(const MKL_INT n, const MKL_Complex8 a[], const MKL_Complex8 b[], MKL_Complex8 r[])      \
    {                                                                                                    \
        ComputeInto(n, kMemoryBound / 2, r, [&](MKL_INT c, MKL_INT o, MKL_Complex8* out) {            \
            CALL(c, &a[o].real, &b[o].real, &out[0].real);                                               \
        }, a, b);                                                                                        \
    }                                                                                                    \
    void vz##OP(const MKL_INT n, const MKL_Complex16 a[], const MKL_Complex16 b[], MKL_Complex16 r[])   \
    {                                                                                                    \
        ComputeInto(n, kMemoryBound / 2, r, [&](MKL_INT c, MKL_INT o, MKL_Complex16* out) {           \
            CALL(c, &a[o].real, &b[o].real, &out[0].real);                                               \
        }, a, b);                                                                                        \
    }
#define MUL_CALL(c, x, y, z) MulPairs(c, x, y, z, false)
#define MUL_BY_CONJ_CALL(c, x, y, z) MulPairs(c, x, y, z, true)
PUBLISH_COMPLEX_ARITHMETIC(Add, AddPairs)
PUBLISH_COMPLEX_ARITHMETIC(Sub, SubPairs)
PUBLISH_COMPLEX_ARITHMETIC(Mul, MUL_CALL)
PUBLISH_COMPLEX_ARITHMETIC(MulByConj, MUL_BY_CONJ_CALL)

void vcPow(const MKL_INT n, const MKL_Complex8 a[], const MKL_Complex8 b[], MKL_Complex8 r[])
{
    const auto *x = AsStd(a), *y = AsStd(b);
    auto* z = AsStd(r);
    Split(n, kComputeBound, [&](MKL_INT o, MKL_INT c) {
        for (MKL_INT i = o; i < o + c; ++i) z[i] = std::pow(x[i], y[i]);
    });
}
void vzPow(const MKL_INT n, const MKL_Complex16 a[], const MKL_Complex16 b[], MKL_Complex16 r[])
{
    const auto *x = AsStd(a), *y = AsStd(b);
    auto* z = AsStd(r);
    Split(n, kComputeBound, [&](MKL_INT o, MKL_INT c) {
        for (MKL_INT i = o; i < o + c; ++i) z[i] = std::pow(x[i], y[i]);
    });
}

void vcAbs(const MKL_INT n, const MKL_Complex8 a[], float r[])
{
    const auto pairs = DetectedIsa() == Isa::Avx512 ? AbsFloatPairs512 : AbsFloatPairs;
    ComputeInto(n, kMemoryBound / 2, r, [&](MKL_INT c, MKL_INT o, float* out) { pairs(c, &a[o].real, out); }, a);
}
void vzAbs(const MKL_INT n, const MKL_Complex16 a[], double r[])
{
    ComputeInto(n, kMemoryBound / 2, r, [&](MKL_INT c, MKL_INT o, double* out) { AbsDoublePairs(c, &a[o].real, out); }, a);
}

void vcCIS(const MKL_INT n, const float a[], MKL_Complex8 r[]) { Cis(n, a, &r[0].real, FloatSinCos().Pick()); }
void vzCIS(const MKL_INT n, const double a[], MKL_Complex16 r[]) { Cis(n, a, &r[0].real, DoubleSinCos().Pick()); }
}
