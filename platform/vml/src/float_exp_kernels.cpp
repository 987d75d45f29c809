// AVX-512F kernels for the float exponential family: expm1 and pow, each
// within 1 ulp of the correctly rounded result (cosh, sinh and tanh are in
// float_hyperbolic_kernels.cpp).
//
// Two forms of one exponential, both on 2^(k/16) from a register table of
// sixteen entries (j = k mod 16 picked by a permute, 2^floor(k/16) applied
// by scalef) times a short polynomial for the reduced argument:
//  - in double lanes (eight per vector), where the intermediates carry
//    errors near 2^-30 and the result is rounded to float once at the end:
//    expm1 above 16.5;
//  - in float lanes, with the table's rounding error kept as a separate
//    remainder: expm1 up to 16.5 (reduced by a truncated k so that nothing
//    cancels), and the exponential of pow, whose logarithm log2 x and
//    product y log2 x are computed in double lanes.
#include <immintrin.h>

#include <cmath>
#include <cstdint>

#include "avx512_loops.hpp"
#include "common.hpp"

namespace lumadex::vml {
namespace {

using namespace avx512;

// 2^t = scale (1 + p): scale = 2^(k/16) rounded to double, p = 2^f - 1.
struct Exp2Parts {
    __m512d scale, p;
};

// a*b = k/16 + f with k an integer and |f| <= 1/32, for |a*b| < 2^40
// (callers keep their arguments well inside). The product is rounded once
// (2^-53 relative); adding the shifter keeps 4 bits after the binary point
// (k/16 rounded to nearest), and f = a*b - k/16 is then exact. The low bits
// of `shifted` hold k.
struct ExponentSplit {
    __m512d shifted, kOver16, f;
};

LUMADEX_AVX512 inline ExponentSplit SplitExponent(__m512d a, __m512d b)
{
    const __m512d shifter = _mm512_set1_pd(0x1.8p+48);  // ulp 2^-4
    const __m512d t = _mm512_mul_pd(a, b);
    const __m512d shifted = _mm512_add_pd(t, shifter);
    const __m512d kOver16 = _mm512_sub_pd(shifted, shifter);
    return {shifted, kOver16, _mm512_sub_pd(t, kOver16)};
}

// 2^(a*b) in double lanes. 2^f - 1 = f (c1 + c2 f + c3 f^2 + c4 f^3) on
// |f| <= 1/32 is a minimax fit for the relative error (Remez exchange in
// mpmath), error 2.3e-10 = 2^-32.0.
LUMADEX_AVX512 inline Exp2Parts Exp2Of(__m512d a, __m512d b)
{
    // 2^(j/16), j = 0..15, correctly rounded.
    const __m512d low = _mm512_set_pd(0x1.5ab07dd485429p+0, 0x1.4bfdad5362a27p+0, 0x1.3dea64c123422p+0,
                                      0x1.306fe0a31b715p+0, 0x1.2387a6e756238p+0, 0x1.172b83c7d517bp+0,
                                      0x1.0b5586cf9890fp+0, 0x1.0000000000000p+0);
    const __m512d high = _mm512_set_pd(0x1.ea4afa2a490dap+0, 0x1.d5818dcfba487p+0, 0x1.c199bdd85529cp+0,
                                       0x1.ae89f995ad3adp+0, 0x1.9c49182a3f090p+0, 0x1.8ace5422aa0dbp+0,
                                       0x1.7a11473eb0187p+0, 0x1.6a09e667f3bcdp+0);
    const ExponentSplit s = SplitExponent(a, b);
    const __m512d kOver16 = s.kOver16, f = s.f;
    // The low four bits of the shifted sum's mantissa are j = k mod 16.
    const __m512d entry = _mm512_permutex2var_pd(low, _mm512_castpd_si512(s.shifted), high);
    __m512d p = _mm512_fmadd_pd(f, _mm512_set1_pd(0.009618129102619612), _mm512_set1_pd(0.055505410767734124));
    p = _mm512_fmadd_pd(p, f, _mm512_set1_pd(0.24022650705091741));
    p = _mm512_fmadd_pd(p, f, _mm512_set1_pd(0.69314718040100254));
    p = _mm512_mul_pd(p, f);
    // scalef multiplies by 2^floor(k/16).
    return {_mm512_scalef_pd(entry, kOver16), p};
}

constexpr double kLog2e = 0x1.71547652b82fep+0;

// e^x - 1 = scale (1 + p) - 1 = scale p + (scale - 1); scale - 1 is exact
// to 2^-53 relative to scale, so near x = 0 (scale = 1, p = 2^f - 1 with
// f = x log2 e) nothing cancels.
LUMADEX_AVX512 inline __m512d Expm1InDouble(__m512d x)
{
    const Exp2Parts e = Exp2Of(x, _mm512_set1_pd(kLog2e));
    return _mm512_fmadd_pd(e.scale, e.p, _mm512_sub_pd(e.scale, _mm512_set1_pd(1.0)));
}

// e^x in float lanes as scale (1 + r + u), unevaluated: scale = 2^(k/16)
// rounded to float, k = trunc(16 x / ln 2), r = x - k C1 exactly, and u
// (|u| < 2^-9) gathers the rest: e^s - 1 - r for the reduced argument
// s = r - k C2 (C1 + C2 = ln 2 / 16) and the table's rounding error
// rho_j = 2^(j/16) / hi_j - 1. Because k is truncated, r has the sign of x,
// so in e^x - 1 = (scale - 1) + scale (r + u) the two parts never cancel.
// Valid for |k| < 2^9 (|x| < 22): C1 carries 15 bits, so k C1 is exact and
// so is x - k C1 (Sterbenz: x and k C1 lie within a factor of 2).
struct ExpParts {
    __m512 scale, r, u;
};

// 2^(j/16), j = 0..15, in float lanes: hi_j rounded to float and the
// relative remainder rho_j = 2^(j/16) / hi_j - 1 (|rho_j| < 2^-24).
struct Exp2TableFloat {
    __m512 hi, rho;
};

LUMADEX_AVX512 inline Exp2TableFloat Exp2Table()
{
    const __m512 hi = _mm512_set_ps(0x1.ea4afap+0f, 0x1.d5818ep+0f, 0x1.c199bep+0f, 0x1.ae89fap+0f, 0x1.9c4918p+0f,
                                    0x1.8ace54p+0f, 0x1.7a1148p+0f, 0x1.6a09e6p+0f, 0x1.5ab07ep+0f, 0x1.4bfdaep+0f,
                                    0x1.3dea64p+0f, 0x1.306fe0p+0f, 0x1.2387a6p+0f, 0x1.172b84p+0f, 0x1.0b5586p+0f,
                                    1.0f);
    const __m512 rho = _mm512_set_ps(0x1.61428ep-28f, -0x1.a5217cp-28f, -0x1.6961b4p-28f, -0x1.f9c304p-27f,
                                     0x1.a3b5e4p-28f, 0x1.67a1cap-28f, -0x1.05cb44p-25f, 0x1.26055cp-26f,
                                     -0x1.00d8acp-27f, -0x1.0a3550p-25f, 0x1.370be4p-25f, 0x1.125002p-25f,
                                     0x1.964904p-25f, -0x1.9c0c22p-27f, 0x1.8d96d4p-25f, 0.0f);
    return {hi, rho};
}

LUMADEX_AVX512 inline ExpParts ExpTruncated(__m512 x)
{
    const Exp2TableFloat table = Exp2Table();
    const __m512i k = _mm512_cvttps_epi32(_mm512_mul_ps(x, _mm512_set1_ps(0x1.715476p+4f)));  // 16 / ln 2
    const __m512 kf = _mm512_cvtepi32_ps(k);
    const __m512 r = _mm512_fnmadd_ps(kf, _mm512_set1_ps(0x1.62e4p-5f), x);  // C1 ~ ln 2 / 16
    const __m512 minusKC2 = _mm512_mul_ps(kf, _mm512_set1_ps(-0x1.7f7d1cp-24f));
    const __m512 s = _mm512_add_ps(r, minusKC2);
    // e^s - 1 = s + s^2 (c2 + c3 s + c4 s^2 + c5 s^3) on |s| < ln 2 / 16:
    // minimax for the error relative to e^s - 1 (Remez exchange in mpmath),
    // 1.3e-11 = 2^-36.1 with the coefficients below rounded to float.
    __m512 q = _mm512_fmadd_ps(s, _mm512_set1_ps(0x1.1111ccp-7f), _mm512_set1_ps(0x1.555c2cp-5f));
    q = _mm512_fmadd_ps(q, s, _mm512_set1_ps(0x1.555556p-3f));
    q = _mm512_fmadd_ps(q, s, _mm512_set1_ps(0.5f));
    // (1 + rho) e^s - 1 - r = -k C2 + s^2 q + rho (1 + s)
    const __m512 rho = _mm512_permutexvar_ps(k, table.rho);
    const __m512 u = _mm512_fmadd_ps(_mm512_mul_ps(s, s), q, _mm512_add_ps(minusKC2, _mm512_fmadd_ps(rho, s, rho)));
    // scalef multiplies by 2^floor(k/16).
    const __m512 power = _mm512_mul_ps(kf, _mm512_set1_ps(0.0625f));
    const __m512 scale = _mm512_scalef_ps(_mm512_permutexvar_ps(k, table.hi), power);
    return {scale, r, u};
}

// e^x - 1 = a + scale (r + u) with a = scale - 1. a is exact while scale >=
// 1/2 (x > -0.73, Sterbenz) and up to scale < 2^24 (x <= 16.5: 1 is then a
// multiple of scale's ulp); below 1/2 its rounding error, a_err = scale -
// (a + 1) (both steps exact), joins the small part. The small part is below
// half the result's binade whenever a != 0, so the result is within 0.5 ulp
// plus 1/4 ulp of the exact value (and within 0.5 ulp at k = 0, where a = 0).
LUMADEX_AVX512 inline __m512 Expm1Float(__m512 x)
{
    const ExpParts e = ExpTruncated(x);
    const __m512 one = _mm512_set1_ps(1.0f);
    const __m512 a = _mm512_sub_ps(e.scale, one);
    const __m512 aErr = _mm512_sub_ps(e.scale, _mm512_add_ps(a, one));
    const __m512 small = _mm512_fmadd_ps(e.scale, e.r, _mm512_fmadd_ps(e.scale, e.u, aErr));
    return _mm512_add_ps(a, small);
}

// The double path covers every argument: x is clamped to [-20, 100] (expm1
// rounds to -1 below -17.4 and overflows above 88.8, where the double result
// converts to infinity; min and max return their second operand, x, when x
// is NaN). The float path covers [-20, 16.5]; the lanes above it (or NaN),
// rare, take the double path's result.
LUMADEX_AVX512 inline __m512 Expm1Of16(__m512 x)
{
    const __m512 clamped = _mm512_max_ps(_mm512_set1_ps(-20.0f), _mm512_min_ps(_mm512_set1_ps(100.0f), x));
    __m512 result = Expm1Float(clamped);
    const __mmask16 outside = _mm512_cmp_ps_mask(x, _mm512_set1_ps(16.5f), _CMP_NLE_UQ);
    if (outside != 0) {
        const Wide w = Widen(clamped);
        result = _mm512_mask_mov_ps(result, outside, Narrow(Expm1InDouble(w.low), Expm1InDouble(w.high)));
    }
    return WithSignOf(x, result);  // expm1(-0) = -0
}

// log2 x for x > 0 (a widened float, so a float subnormal is normal here):
// x = 2^e m with m in [0.75, 1.5) (getexp gives e for m in [1, 1.5) and
// e - 1 below), j = the top four fraction bits of m's double, c_j = 1 /
// (the middle of j's interval) rounded to float, so that r = m c_j - 1 is
// exact and |r| < 1/33; log2 x = e + l_j + log2(1 + r) with l_j = -log2 c_j
// (plus 1 for m < 1, where getexp's e is one too low). log2(1 + r) =
// r (d0 + d1 r + ... + d4 r^4) is a minimax fit for the relative error on
// |r| <= 1/31 (Remez exchange in mpmath), 3.6e-10 = 2^-31.4.
LUMADEX_AVX512 inline __m512d Log2InDouble(__m512d x)
{
    const __m512d cLow = _mm512_set_pd(0x1.5c9882p-1, 0x1.6c16c2p-1, 0x1.7d05f4p-1, 0x1.8f9c18p-1, 0x1.a41a42p-1,
                                       0x1.bacf92p-1, 0x1.d41d42p-1, 0x1.f07c20p-1);
    const __m512d cHigh = _mm512_set_pd(0x1.041042p+0, 0x1.0c9714p+0, 0x1.15b1e6p+0, 0x1.1f7048p+0, 0x1.29e412p+0,
                                        0x1.3521d0p+0, 0x1.414142p+0, 0x1.4e5e0ap+0);
    const __m512d lLow = _mm512_set_pd(0x1.1bf31371c6bf0p-1, 0x1.f7a85434872d2p-2, 0x1.b47ebfcfdd47ap-2,
                                       0x1.6e22207523f6dp-2, 0x1.2440796db68c3p-2, 0x1.acf5de2afc49ap-3,
                                       0x1.08c587b8a8459p-3, 0x1.6bad2043a8791p-5);
    const __m512d lHigh = _mm512_set_pd(0x1.f45e05f15cc17p-1, 0x1.dc899d687db5ep-1, 0x1.c3e9ca1704bdfp-1,
                                        0x1.aa708efbac2fbp-1, 0x1.900e62e869eafp-1, 0x1.74b1fcac363a3p-1,
                                        0x1.584820b2f5874p-1, 0x1.3abb40a7ec27fp-1);
    const __m512d m = _mm512_getmant_pd(x, _MM_MANT_NORM_p75_1p5, _MM_MANT_SIGN_src);
    const __m512i j = _mm512_srli_epi64(_mm512_castpd_si512(m), 48);
    const __m512d lead = _mm512_add_pd(_mm512_getexp_pd(x), _mm512_permutex2var_pd(lLow, j, lHigh));
    const __m512d r = _mm512_fmsub_pd(m, _mm512_permutex2var_pd(cLow, j, cHigh), _mm512_set1_pd(1.0));
    __m512d q = _mm512_fmadd_pd(r, _mm512_set1_pd(0.2888520608763116), _mm512_set1_pd(-0.36098677506014282));
    q = _mm512_fmadd_pd(q, r, _mm512_set1_pd(0.48089823058273135));
    q = _mm512_fmadd_pd(q, r, _mm512_set1_pd(-0.72134743899317133));
    q = _mm512_fmadd_pd(q, r, _mm512_set1_pd(1.4426950408950199));
    return _mm512_fmadd_pd(r, q, lead);
}

// 2^(k/16 + f) in float lanes for |f| <= 1/32: 2^f - 1 = f (c1 + c2 f +
// c3 f^2) is a minimax fit for the relative error (Remez exchange in
// mpmath), 1.1e-7 = 2^-23.2 of |2^f - 1| < 0.022, so below 2^-28.7 of the
// result; with the table's remainder the float before scaling is within
// 0.5 ulp + 2^-4.5 ulp. scalef rounds once more only into the subnormal
// range (where the first rounding is at most a quarter of the second's ulp).
LUMADEX_AVX512 inline __m512 Exp2Float(__m512i k, __m512 f)
{
    const Exp2TableFloat table = Exp2Table();
    __m512 p = _mm512_fmadd_ps(f, _mm512_set1_ps(0x1.c6b08ep-5f), _mm512_set1_ps(0x1.ebff92p-3f));
    p = _mm512_fmadd_ps(p, f, _mm512_set1_ps(0x1.62e430p-1f));
    p = _mm512_fmadd_ps(p, f, _mm512_permutexvar_ps(k, table.rho));  // 2^f - 1 + rho_j
    const __m512 hi = _mm512_permutexvar_ps(k, table.hi);
    return _mm512_scalef_ps(_mm512_fmadd_ps(hi, p, hi), _mm512_cvtepi32_ps(_mm512_srai_epi32(k, 4)));
}

// x^y = 2^(y log2 x) for x > 0. log2 x carries an absolute error below
// 2^-35.8 (2^-31.4 relative to |log2(1 + r)| < 2^-4.4, and the sum with e),
// so for |y| <= 32 the exponent is off by less than 2^-30.8. The exponent
// is split in double (exactly), its fraction f rounded to float (2^-29
// absolute) and 2^(k/16 + f) evaluated in float lanes.
LUMADEX_AVX512 inline __m512 PowOfWide(Wide x, Wide y)
{
    const ExponentSplit low = SplitExponent(y.low, Log2InDouble(x.low));
    const ExponentSplit high = SplitExponent(y.high, Log2InDouble(x.high));
    // k sits in the low half of each 64-bit lane of `shifted`.
    const __m512i evenHalves = _mm512_set_epi32(30, 28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0);
    const __m512i k = _mm512_permutex2var_epi32(_mm512_castpd_si512(low.shifted), evenHalves,
                                                _mm512_castpd_si512(high.shifted));
    return Exp2Float(k, Narrow(low.f, high.f));
}

// The lanes the main path covers: x positive and finite (float subnormals
// included) and |y| <= 32 (not NaN). The others are the rare ones: zero,
// negative or infinite bases, NaN, and large exponents.
LUMADEX_AVX512 inline __mmask16 PowRegular(__m512 x, __m512 y)
{
    const __m512i below = _mm512_sub_epi32(_mm512_castps_si512(x), _mm512_set1_epi32(1));
    const __mmask16 positive = _mm512_cmp_epu32_mask(below, _mm512_set1_epi32(0x7f7fffff), _MM_CMPINT_LT);
    return _mm512_mask_cmp_ps_mask(positive, _mm512_abs_ps(y), _mm512_set1_ps(32.0f), _CMP_LE_OQ);
}

// The lanes outside the main path. Zero and negative bases with |y| <= 32,
// y = 0 and x = 1 (the ones an image meets: black pixels, signed data) are
// done in vector form from |x|^y: 0^y is 0 for y > 0 and infinity for
// y < 0; a negative sign bit on x carries over for odd integers y; a
// negative finite x with y not an integer gives NaN; x^0 = 1^y = 1 (NaN
// included). The rest (infinite or NaN operands, |y| > 32) goes to the C
// library's pow in double, exact to well under an ulp of float once rounded.
LUMADEX_AVX512 [[gnu::noinline]] __m512 PowRareLanes(__m512 x, __m512 y, __m512 result, __mmask16 rare)
{
    const __m512 zero = _mm512_setzero_ps(), one = _mm512_set1_ps(1.0f);
    const __m512 magnitudeX = _mm512_abs_ps(x);
    const __mmask16 zeroBase = _mm512_cmp_ps_mask(magnitudeX, zero, _CMP_EQ_OQ);
    __m512 value = PowOfWide(Widen(_mm512_mask_mov_ps(magnitudeX, zeroBase, one)), Widen(y));
    const __m512 infinity = _mm512_set1_ps(__builtin_inff());
    value = _mm512_mask_mov_ps(value, zeroBase,
                               _mm512_mask_mov_ps(zero, _mm512_cmp_ps_mask(y, zero, _CMP_LT_OQ), infinity));
    const __mmask16 integer = _mm512_cmp_ps_mask(_mm512_roundscale_ps(y, _MM_FROUND_TO_NEAREST_INT), y, _CMP_EQ_OQ);
    // For |y| <= 32 the conversion is exact; its low bit tells odd integers.
    const __mmask16 odd = _mm512_mask_test_epi32_mask(integer, _mm512_cvtps_epi32(y), _mm512_set1_epi32(1));
    const __m512i sign = _mm512_set1_epi32(INT32_MIN);
    const __mmask16 signBit = _mm512_test_epi32_mask(_mm512_castps_si512(x), sign);
    value = _mm512_castsi512_ps(
        _mm512_mask_xor_epi32(_mm512_castps_si512(value), signBit & odd, _mm512_castps_si512(value), sign));
    const __mmask16 negativeFinite = _mm512_cmp_ps_mask(x, zero, _CMP_LT_OQ) &
                                     _mm512_cmp_ps_mask(magnitudeX, infinity, _CMP_LT_OQ);
    value = _mm512_mask_mov_ps(value, negativeFinite & ~integer, _mm512_set1_ps(__builtin_nanf("")));
    const __mmask16 unit = _mm512_cmp_ps_mask(y, zero, _CMP_EQ_OQ) | _mm512_cmp_ps_mask(x, one, _CMP_EQ_OQ);
    value = _mm512_mask_mov_ps(value, unit, one);
    const __mmask16 done = unit | (_mm512_cmp_ps_mask(magnitudeX, infinity, _CMP_LT_OQ) &
                                   _mm512_cmp_ps_mask(_mm512_abs_ps(y), _mm512_set1_ps(32.0f), _CMP_LE_OQ));
    result = _mm512_mask_mov_ps(result, rare & done, value);
    const unsigned scalar = rare & ~done & 0xFFFFu;
    if (scalar == 0) return result;
    alignas(64) float xs[16], ys[16], rs[16];
    _mm512_store_ps(xs, x);
    _mm512_store_ps(ys, y);
    _mm512_store_ps(rs, result);
    for (int l = 0; l < 16; ++l)
        if (scalar >> l & 1) rs[l] = static_cast<float>(std::pow(double{xs[l]}, double{ys[l]}));
    return _mm512_load_ps(rs);
}

LUMADEX_AVX512 inline __m512 Pow16(__m512 x, __m512 y)
{
    const __m512 result = PowOfWide(Widen(x), Widen(y));
    const __mmask16 regular = PowRegular(x, y);
    return regular == 0xFFFF ? result : PowRareLanes(x, y, result, static_cast<__mmask16>(~regular));
}

}  // namespace

LUMADEX_AVX512 [[gnu::flatten]] void FloatExpm1Avx512(MKL_INT n, const float* a, float* r) { avx512::Map<float, Expm1Of16>(n, a, r); }

LUMADEX_AVX512 void FloatPowAvx512(MKL_INT n, const float* a, const float* b, float* r)
{
    MKL_INT i = 0;
    for (; i + 16 <= n; i += 16) {
        Ahead(a + i);
        Ahead(b + i);
        Ahead(r + i);
        _mm512_storeu_ps(r + i, Pow16(_mm512_loadu_ps(a + i), _mm512_loadu_ps(b + i)));
    }
    if (i < n) {
        // The lanes past the end read as 1^1, which the main path covers.
        const __mmask16 m = static_cast<__mmask16>((1u << (n - i)) - 1);
        const __m512 one = _mm512_set1_ps(1.0f);
        const __m512 x = _mm512_mask_loadu_ps(one, m, a + i), y = _mm512_mask_loadu_ps(one, m, b + i);
        _mm512_mask_storeu_ps(r + i, m, Pow16(x, y));
    }
}

}  // namespace lumadex::vml
