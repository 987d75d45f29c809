// AVX-512F kernels for the inverse error function, float and double.
//
// Both start from one approximation in double lanes, a = |y|:
// w = -ln(1 - a^2) (1 - a^2 by one fma, the logarithm below), then
// x/a = P(w - 3.125) for w <= 6.25 (|y| up to 0.9981), and beyond it
// x/a = Q(s - 3.25) for s = sqrt(w) in [2.5, 4] (down to 1 - |y| = 2^-24, the
// whole float range) or R(s - 5.025) for s in [4, 6.05] (down to
// 1 - |y| = 2^-53). P has degree 13 and Q and R degree 10, Chebyshev
// interpolants of erfinv (mpmath, 40 digits) with relative errors of
// 2.1e-10, 0.9e-10 and 1.3e-11 after rounding the coefficients to double.
//
// Float: that approximation rounded once to float (the float argument's
// 1 - a^2 is exact, and the rest errs by about 3e-10 relative, 0.005 ulp).
// Measured over every float in [-1, 1]: at most 0.504 ulp.
//
// Double: one Halley step on F(x) = erf(x) - a, whose cubic convergence
// takes the start's 2e-10 below 1e-27:  x -= d (1 - x d), d = F / F' with
// 1/F' = (sqrt(pi)/2) e^(x^2). Up to a = 0.6, F comes from our own
// polynomial for erf, as erf(x) - a = (x c0hi - a) + x (c0lo + x^2 E(x^2)),
// the first difference exact by fma, so that F keeps its digits. Beyond,
// from our double erfc kernel (erfc_kernels.cpp, 0.6 ulp), F = (1 - a) -
// erfc(x), exact in 1 - a and relative to erfc, so that it keeps them near 1
// (called only for vectors holding such lanes). e^(x^2) is needed to about
// 1e-10 only; it is the layer's double exponential core (double_cores.hpp).
// Below 2^-27, erfinv(y) = y sqrt(pi)/2, the constant in two parts. Measured
// over 2e7 arguments (uniform, and log-uniform toward 0 and toward 1): at
// most 0.93 ulp, near 0.75, where erfc's own rounding weighs half an ulp in
// x; up to 0.79 below 0.6.
//
// Edge values: +-0 -> +-0, +-1 -> +-inf, |y| > 1 -> NaN, NaN -> NaN.
#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "avx512_loops.hpp"
#include "common.hpp"
#include "double_cores.hpp"

namespace lumadex::vml {

// The double erfc kernel, one vector (erfc_kernels.cpp).
LUMADEX_AVX512 __m512d DoubleErfcOf8(__m512d x);

namespace {

using namespace dcore;

// x/a = P(w - 3.125) on w in [0, 6.25], lowest order first.
constexpr double kCentral[14] = {
    0x1.a755e7c9e4f12p+0,  0x1.ebd80d99dfd30p-3,  -0x1.8b6c35f4e6dc2p-8,  -0x1.84575d3250309p-11,
    0x1.879cbe105bcd2p-13, -0x1.d1d6f068cc954p-17, -0x1.6eb58eebaf8d8p-20, 0x1.c71783a4fe241p-22,
    -0x1.f090161784bb3p-26, -0x1.21ed784b04103p-28, 0x1.1b7ccfda548f9p-30, -0x1.4c863698a0b60p-35,
    -0x1.b42bae93247f9p-37, 0x1.8000901a2e569p-40};
// x/a = Q(s - 3.25) on s = sqrt(w) in [2.5, 4] and R(s - 5.025) on [4, 6.05].
constexpr double kMiddle[11] = {
    0x1.8abcc380d5a48p+1,  0x1.0158a6e6e6166p+0,  0x1.5ffd0ae9289a5p-8,  -0x1.ebb25f1ea0a3ep-9,
    0x1.468b7590fa711p-9,  -0x1.ba30a6ecc944fp-10, 0x1.f4540e9345fdcp-11, -0x1.7afec57f41b35p-12,
    0x1.509ef6aa4b1b0p-16, 0x1.5623ed34b0284p-14,  -0x1.569cb86feae0ep-15};
constexpr double kFar[11] = {
    0x1.3802af1f9b6cap+2,  0x1.02a29211299c8p+0,  -0x1.44252f4259061p-13, -0x1.b3416ef9b5481p-13,
    0x1.3497bed640df7p-14, -0x1.3f918e0504621p-16, 0x1.254a624a36842p-18,  -0x1.d99c81ba0ca7ap-21,
    0x1.8cf98e46e7bbcp-23, -0x1.f9075f5ab7cc1p-24, 0x1.b8995a416581dp-25};
constexpr double kCentralEnd = 6.25, kMiddleEnd = 4.0;

// erf(x)/x = c0 + u E(u), u = x^2 in [0, 0.375] (x up to 0.61), E of
// degree 9, a Chebyshev interpolant (mpmath, 50 digits) erring by 1.1e-19;
// c0 = 2/sqrt(pi) = kC0Hi + kC0Lo.
constexpr double kErfE[10] = {-0x1.812746b0379e7p-2, 0x1.ce2f21a042bddp-4,  -0x1.b82ce31288568p-6,
                              0x1.565bcd0e37d46p-8,  -0x1.c02db3e4d6e48p-11, 0x1.f9a31e6b265dcp-14,
                              -0x1.f4d0bb4749f2cp-17, 0x1.b9b586c899536p-20, -0x1.5beab436f7ab3p-23,
                              0x1.b3c57f18c41aep-27};
constexpr double kC0Hi = 0x1.20dd750429b6dp+0, kC0Lo = 0x1.1ae3a914fed80p-56;
// Where the residual switches from erf to erfc (see the top).
constexpr double kErfEnd = 0.6;
// sqrt(pi)/2 = kHalfRootPiHi + kHalfRootPiLo.
constexpr double kHalfRootPiHi = 0x1.c5bf891b4ef6bp-1, kHalfRootPiLo = -0x1.618f13eb7ca89p-55;

constexpr double kInf = std::numeric_limits<double>::infinity();

LUMADEX_AVX512_INLINE __m512d Abs(__m512d x) { return Double(_mm512_andnot_si512(Bits(Set(-0.0)), Bits(x))); }

// c[0] + u c[1] + ... + u^(N-1) c[N-1], as two Horner chains in u^2 (even
// and odd terms) for half the dependency chain; the coefficient i is
// coefficient(i).
template <int N, class C>
LUMADEX_AVX512_INLINE __m512d Poly(__m512d u, C coefficient)
{
    const __m512d u2 = _mm512_mul_pd(u, u);
    constexpr int kTopEven = (N - 1) / 2 * 2, kTopOdd = N / 2 * 2 - 1;
    __m512d even = coefficient(kTopEven), odd = coefficient(kTopOdd);
#pragma GCC unroll 16
    for (int i = kTopEven - 2; i >= 0; i -= 2) even = _mm512_fmadd_pd(even, u2, coefficient(i));
#pragma GCC unroll 16
    for (int i = kTopOdd - 2; i >= 1; i -= 2) odd = _mm512_fmadd_pd(odd, u2, coefficient(i));
    return _mm512_fmadd_pd(odd, u, even);
}

template <int N>
LUMADEX_AVX512_INLINE __m512d Poly(__m512d u, const double (&c)[N])
{
    return Poly<N>(u, [&](int i) LUMADEX_AVX512_LAMBDA { return Set(c[i]); });
}

// -ln t for t in (0, 1], to about 3e-11 relative: t = 2^k m with m in
// [0.75, 1.5) (getmant), ln m = 2 atanh(z) = 2 z (1 + z^2/3 + ... + z^12/13)
// with z = (m - 1)/(m + 1), |z| <= 1/5 (the series' truncation 1.1e-11).
// Near t = 1, m - 1 = t - 1 is exact, so w keeps its relative accuracy
// however small it is.
LUMADEX_AVX512_INLINE __m512d MinusLn(__m512d t)
{
    const __m512d one = Set(1.0);
    const __m512d m = _mm512_getmant_pd(t, _MM_MANT_NORM_p75_1p5, _MM_MANT_SIGN_zero);
    __m512d k = _mm512_getexp_pd(t);
    k = _mm512_mask_add_pd(k, _mm512_cmp_pd_mask(m, one, _CMP_LT_OQ), k, one);  // m = mantissa / 2
    const __m512d z = _mm512_div_pd(_mm512_sub_pd(m, one), _mm512_add_pd(m, one));
    const __m512d z2 = _mm512_mul_pd(z, z);
    const __m512d s = dcore::Horner(z2, 2.0, 2.0 / 3, 2.0 / 5, 2.0 / 7, 2.0 / 9, 2.0 / 11, 2.0 / 13);
    return _mm512_fnmsub_pd(z, s, _mm512_mul_pd(k, Set(0x1.62e42fefa39efp-1)));  // -(z s) - k ln2
}

// erfinv(a) for a in [0, 1) to about 2e-10 relative (see the top).
LUMADEX_AVX512_INLINE __m512d Start(__m512d a)
{
    const __m512d w = MinusLn(_mm512_fnmadd_pd(a, a, Set(1.0)));
    const __m512d x = _mm512_mul_pd(a, Poly(_mm512_sub_pd(w, Set(3.125)), kCentral));
    const __mmask8 tail = _mm512_cmp_pd_mask(w, Set(kCentralEnd), _CMP_GT_OQ);
    if (__builtin_expect(tail == 0, 1)) return x;
    const __m512d s = _mm512_sqrt_pd(w);
    const __mmask8 far = _mm512_cmp_pd_mask(s, Set(kMiddleEnd), _CMP_GT_OQ);
    const __m512d center = _mm512_mask_mov_pd(Set(3.25), far, Set(5.025));
    const __m512d q = Poly<11>(_mm512_sub_pd(s, center), [&](int i) LUMADEX_AVX512_LAMBDA {
        return _mm512_mask_mov_pd(Set(kMiddle[i]), far, Set(kFar[i]));
    });
    return _mm512_mask_mul_pd(x, tail, a, q);
}

// e^v for v in [0, 40] to 2^-53 relative (the table's rounding), from the
// layer's exponential core: e^v = 2^floor(k/16) 2^(j/16) e^r.
LUMADEX_AVX512_INLINE __m512d Exp(__m512d v)
{
    const dcore::ExpSplit s = dcore::SplitExp(v);
    const __m512d r = _mm512_fnmadd_pd(s.k16, Set(dcore::kExpLn2Lo), s.r1);
    const __m512d r2 = _mm512_mul_pd(r, r);
    const __m512d expm1 = _mm512_fmadd_pd(r2, dcore::ExpQ(r, r2), r);
    const __m512d entry = dcore::Read16(dcore::kPow2Sixteenth.hi.data(), Bits(s.kd));
    return _mm512_scalef_pd(_mm512_fmadd_pd(entry, expm1, entry), s.k16);
}

// |y| with the arguments outside [0, 1) set to 0, which the approximations
// take in stride; Finish() overrides those lanes.
LUMADEX_AVX512_INLINE __m512d Inside(__m512d y)
{
    const __m512d a = Abs(y);
    return _mm512_mask_mov_pd(a, _mm512_cmp_pd_mask(a, Set(1.0), _CMP_NLT_UQ), Set(0.0));  // a >= 1 or NaN
}

// x with the sign of y, and the lanes of y outside (-1, 1): +-1 -> +-inf,
// beyond -> NaN, NaN -> y + y.
LUMADEX_AVX512_INLINE __m512d Finish(__m512d x, __m512d y)
{
    const __m512d a = Abs(y);
    x = _mm512_mask_mov_pd(x, _mm512_cmp_pd_mask(a, Set(1.0), _CMP_EQ_OQ), Set(kInf));
    x = _mm512_mask_mov_pd(x, _mm512_cmp_pd_mask(a, Set(1.0), _CMP_GT_OQ),
                           Set(std::numeric_limits<double>::quiet_NaN()));
    x = _mm512_mask_add_pd(x, _mm512_cmp_pd_mask(y, y, _CMP_UNORD_Q), y, y);
    return Double(_mm512_ternarylogic_epi64(Bits(x), Bits(y), Bits(Set(-0.0)), 0xF8));  // x | (y & sign)
}

LUMADEX_AVX512_INLINE __m512 Finish(__m512 x, __m512 y)
{
    const __m512i signBit = _mm512_set1_epi32(INT32_MIN);
    const __m512 a = _mm512_castsi512_ps(_mm512_andnot_si512(signBit, _mm512_castps_si512(y)));
    const __m512 one = _mm512_set1_ps(1.0f);
    x = _mm512_mask_mov_ps(x, _mm512_cmp_ps_mask(a, one, _CMP_EQ_OQ), _mm512_set1_ps(HUGE_VALF));
    x = _mm512_mask_mov_ps(x, _mm512_cmp_ps_mask(a, one, _CMP_GT_OQ), _mm512_set1_ps(NAN));
    x = _mm512_mask_add_ps(x, _mm512_cmp_ps_mask(y, y, _CMP_UNORD_Q), y, y);
    return _mm512_castsi512_ps(
        _mm512_ternarylogic_epi32(_mm512_castps_si512(x), _mm512_castps_si512(y), signBit, 0xF8));
}

// Sixteen floats: the start in two halves of double lanes, rounded once.
LUMADEX_AVX512 inline __m512 ErfInv16(__m512 y)
{
    const avx512::Wide wide = avx512::Widen(y);
    return Finish(avx512::Narrow(Start(Inside(wide.low)), Start(Inside(wide.high))), y);
}

// Eight doubles: the start, one Halley step (see the top), the tiny lanes.
LUMADEX_AVX512 inline __m512d ErfInv8(__m512d y)
{
    const __m512d a = Inside(y);
    const __m512d x = Start(a);
    const __m512d x2 = _mm512_mul_pd(x, x);
    // erf(x) - a, for a <= kErfEnd.
    const __m512d e = _mm512_fmadd_pd(x2, Poly(x2, kErfE), Set(kC0Lo));
    __m512d f = _mm512_fmadd_pd(x, e, _mm512_fmsub_pd(x, Set(kC0Hi), a));
    // (1 - a) - erfc(x), beyond.
    const __mmask8 upper = _mm512_cmp_pd_mask(a, Set(kErfEnd), _CMP_GT_OQ);
    if (upper != 0) f = _mm512_mask_sub_pd(f, upper, _mm512_sub_pd(Set(1.0), a), DoubleErfcOf8(x));
    const __m512d d = _mm512_mul_pd(f, _mm512_mul_pd(Exp(x2), Set(kHalfRootPiHi)));
    // x - d / (1 + x d) = x - (d - x d^2) to O(d^3).
    __m512d r = _mm512_sub_pd(x, _mm512_fnmadd_pd(_mm512_mul_pd(x, d), d, d));
    const __mmask8 tiny = _mm512_cmp_pd_mask(a, Set(0x1p-27), _CMP_LT_OQ);
    r = _mm512_mask_mov_pd(r, tiny, _mm512_fmadd_pd(a, Set(kHalfRootPiHi), _mm512_mul_pd(a, Set(kHalfRootPiLo))));
    return Finish(r, y);
}

}  // namespace

LUMADEX_AVX512 [[gnu::flatten]] void FloatErfInvAvx512(MKL_INT n, const float* a, float* r)
{
    avx512::Map<float, ErfInv16>(n, a, r);
}
LUMADEX_AVX512 [[gnu::flatten]] void DoubleErfInvAvx512(MKL_INT n, const double* a, double* r)
{
    avx512::Map<double, ErfInv8>(n, a, r);
}

namespace {

// The other instruction sets: a block kernel over SLEEF's double functions.
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
}  // namespace lumadex::vml

using namespace lumadex::vml;

extern "C" {
// On AVX-512 our own kernels (above); elsewhere the block kernel, for float
// with one Halley step, rounded once.
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
