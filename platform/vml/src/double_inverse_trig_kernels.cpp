// AVX-512F kernels for the double inverse trigonometric functions atan,
// atan2, asin and acos, each within 1 ulp of the correctly rounded result.
//
// Two cores are written once and shared:
//  - AtanQuotient: atan(c) + atan(t) from a table reduction, t a corrected
//    quotient, for atan (reduced by half octaves of |x|) and atan2 (by x/y);
//  - AsinParts: asin |x| on [0, 1/2] and, through a corrected square root,
//    on [1/2, 1], for asin and acos.
// Each function ends as q + (+-)(sum of a few parts), q a multiple of pi/2
// as a double-double, the leading parts added by Fast2Sum so that the result
// carries one final rounding plus a few hundredths of an ulp.
//
// The coefficients come from /usr/bin/python3 with mpmath at 60 digits:
// Chebyshev-node interpolation (near-minimax) rounded to double, the error
// then measured on a dense grid; each bound quoted below is of the rounded
// coefficients.
#include <immintrin.h>

#include <array>
#include <cstdint>

#include "avx512_loops.hpp"
#include "common.hpp"
#include "double_trig_lanes.hpp"

LUMADEX_AVX512_BEGIN

namespace lumadex::vml {
namespace {

using namespace dtrig;

// ---------------------------------------------------------------------------
// atan, shared by atan and atan2: a reduction picks c from a table and
// writes atan(u) = atan(c) + atan(t), t = (u - c) / (1 + u c) = n / d, with
// |t| <= 0.125; then
// AtanQuotient: t = nh / dh rounded, corrected once from the exact residual
// (n = nh + nl and d = dh + dl as double-doubles), so t + tl carries about
// 2^-100 relative error; atan t = t + t^3 P(t^2), P degree 5, relative error
// 2^-57.0 on |t| <= 0.1251 (at most 0.13 ulp, where |t| nears 1/8; 2^-62
// below 0.0665). The value is hi + t + rest, |t| <= hi or hi = 0.
struct AtanValue {
    V hi, t, rest;
};

constexpr double kAtanP[] = {-0.33333333333333287, 0.1999999999978881,   -0.14285714128121016,
                             0.11111068058212172,  -0.09085582783658513, 0.07387243265088524};

LUMADEX_AVX512_INLINE V Table(const double* tab, __m512i j)
{
    return _mm512_permutex2var_pd(_mm512_load_pd(tab), j, _mm512_load_pd(tab + 8));
}
LUMADEX_AVX512_INLINE V Table(const std::array<double, 16>& tab, __m512i j) { return Table(tab.data(), j); }

template <bool kExactNumerator>
LUMADEX_AVX512_INLINE AtanValue AtanQuotient(V hi, V lo, V nh, V nl, V dh, V dl)
{
    const V inv = Set(1.0) / dh;
    const V t = Mul(nh, inv);
    V rem = _mm512_fnmadd_pd(t, dh, nh);
    if constexpr (!kExactNumerator) rem += nl;
    rem = _mm512_fnmadd_pd(t, dl, rem);
    const V z = Mul(t, t);
    return {hi, t, Fma(Mul(t, z), Poly(z, kAtanP), Fma(rem, inv, lo))};
}

// atan u, u = |a|: the table covers u by half octaves from 1/8 to 16
// (j = 1..14), c at the middle of each one's angle range, so |t| <= 0.0991;
// j = 0 (u < 1/8) has c = 0, t = u; j = 15 (u >= 16) has c = infinity,
// t = -1/u, written as n = u a - c, d = u c + a with (a, c) = (0, 1). In a
// half octave u/c lies in [2/3, 3/2], so n = u - c is exact (Sterbenz);
// d = 1 + u c <= 257 (or u), so 1 - d is exact and fma recovers d's rounding
// error. u is capped at 2^1000 (atan is pi/2 there already), which keeps
// infinity out of d.
// j is read from the exponent and first mantissa bit of u clamped to
// [0.12, 16], bits 51 and up: 2039 (u = 0.12) to 2054 (u = 16). The permute
// reads the low 4 bits only, so each table is stored rotated by 2039 mod 16.
constexpr std::array<double, 16> AtanHalfOctaves(std::array<double, 16> byJ)
{
    std::array<double, 16> rotated{};
    for (int j = 0; j < 16; j++) rotated[(j + 2039) % 16] = byJ[j];
    return rotated;
}

alignas(64) constexpr auto kAtanUA = AtanHalfOctaves({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0});
alignas(64) constexpr auto kAtanUC = AtanHalfOctaves({
    0.0,               0.1561011871016718, 0.2185463135071192, 0.3113914953808537, 0.4360695124673429,
    0.6180339887498949, 0.8672954016950679, 1.219803902718557,  1.7231796783283642, 2.414213562373095,
    3.4340578300578994, 4.807987240796891,  6.860057095782636,  9.604121959736899,  13.715765940248147,
    1.0});
alignas(64) constexpr auto kAtanUHi = AtanHalfOctaves({
    0.0,                0.15485147227122809, 0.21516330656127947, 0.30187466669871815, 0.41120913963568917,
    0.5535743588970453, 0.7144496360953664,  0.8840959433223887,  1.0449712205207098,  1.1780972450961724,
    1.2874317180331434, 1.3657326565241512,  1.4260444908142025,  1.4670482135772953,  1.4980163058526974,
    1.5707963267948966});
alignas(64) constexpr auto kAtanULo = AtanHalfOctaves({
    0.0,                     1.0912423778350865e-17, -1.162529301392705e-17, 2.467994593191151e-17,
    6.717223915532891e-18,   -2.4692790719227026e-17, -2.003188292325058e-17, -2.4756945095918142e-17,
    -2.0282993489313522e-17, 2.7563998718653792e-17, 5.0801952814698895e-17, -8.200088840802228e-17,
    -5.008093825679454e-18,  -3.3864908226719837e-17, -7.931866953021259e-17, 6.123233995736766e-17});

LUMADEX_AVX512_INLINE V Atan(V a)
{
    const V u = _mm512_min_pd(Set(0x1p1000), Abs(a));  // NaN stays NaN
    const V clamped = _mm512_max_pd(_mm512_min_pd(u, Set(16.0)), Set(0.12));
    const __m512i j = _mm512_srli_epi64(_mm512_castpd_si512(clamped), 51);
    const V one = Table(kAtanUA, j), c = Table(kAtanUC, j);
    const V dh = Fma(u, c, one);
    const AtanValue v = AtanQuotient<true>(Table(kAtanUHi, j), Table(kAtanULo, j), _mm512_fmsub_pd(u, one, c),
                                           V{}, dh, Fma(u, c, one - dh));
    return XorSign(SumTo(v.hi, v.t, v.rest), a);
}

// atan(x / y) for 2^-900 <= x <= y <= 2^1000 (see InCoreRange): u = x/y to
// 14 bits (through rcp14) picks c_j near j/8, j = round(8u), so |t| <= 0.0661
// (c_1 is 0.12 rather than 1/8 so that x - c_1 y stays exact by Sterbenz; the
// others sit at the middle of their angle range), and
//   t = (x - c_j y) / (y + c_j x),
// the numerator exact as (x - p) - pl with p + pl = c y, the denominator
// y + c x <= 2y, whose rounding error fma recovers.
alignas(64) constexpr double kAtanC[16] = {0.0, 0.12, 0.2490974780779793, 0.373731076071908, 0.4984505500222523,
                                           0.6232546156447976, 0.7481322787238359, 0.8730686158790374,
                                           0.998048782463};
alignas(64) constexpr double kAtanHi[16] = {0.0, 0.11942892601833845, 0.24412905051193337, 0.35765772517891425,
                                            0.4624072809237355, 0.5573432228204782, 0.6423046951546192,
                                            0.7177350707798301, 0.7844216021974154};
alignas(64) constexpr double kAtanLo[16] = {0.0, 8.603137515581325e-19, 5.985338878551676e-18, 1.5231775985414068e-17,
                                            -1.57572896634263e-17, 3.55043076929508e-17, -5.178741581412935e-17,
                                            -4.5458024896985324e-18, 3.433277577293987e-17};

// x/y to 14 bits.
LUMADEX_AVX512_INLINE V RoughRatio(V x, V y) { return Mul(x, _mm512_rcp14_pd(y)); }

LUMADEX_AVX512_INLINE AtanValue AtanOfRatio(V x, V y)
{
    const __m512i j = _mm512_castpd_si512(Fma(RoughRatio(x, y), Set(8.0), Set(kRoundMagic)));
    const V c = Table(kAtanC, j);
    const V p = Mul(c, y);
    const V dh = Fma(c, x, y);
    return AtanQuotient<false>(Table(kAtanHi, j), Table(kAtanLo, j), x - p, -_mm512_fmsub_pd(c, y, p), dh,
                               Fma(c, x, y - dh));
}

// atan2(a, b) from x = min(|a|, |b|), y = max(|a|, |b|) in the core's range:
//   atan2 = sign(a) (q + s atan(x/y)),  q = pi/2 if |a| > |b|, else pi if
//   b has its sign bit, else 0;  s = -1 exactly when one of those holds.
LUMADEX_AVX512_INLINE V Atan2From(V a, V b, V x, V y)
{
    const M swap = Gt(Abs(a), Abs(b)), negB = SignBit(b);
    const AtanValue v = AtanOfRatio(x, y);
    const M flip = swap ^ negB;
    const V qh = Select(swap, Set(kPio2Hi), _mm512_maskz_mov_pd(negB, Set(kPiHi)));
    const V ql = Select(swap, Set(kPio2Lo), _mm512_maskz_mov_pd(negB, Set(kPiLo)));
    const V hi = Neg(flip, v.hi);
    const V s1 = qh + hi;
    const V e1 = (qh - s1) + hi;
    return XorSign(SumTo(s1, Neg(flip, v.t), (e1 + ql) + Neg(flip, v.rest)), a);
}

// x = min(|a|, |b|) and y = max(|a|, |b|), each NaN when the operand it
// takes from is NaN (min and max return their second operand then).
LUMADEX_AVX512_INLINE V MinAbs(V a, V b) { return _mm512_min_pd(Abs(a), Abs(b)); }
LUMADEX_AVX512_INLINE V MaxAbs(V a, V b) { return _mm512_max_pd(Abs(b), Abs(a)); }

// The core's range: 2^-900 <= x <= y <= 2^1000 and x/y >= 2^-899 (roughly),
// where no product underflows or overflows and no residual or low part falls
// below the normal range.
LUMADEX_AVX512_INLINE M InCoreRange(V x, V y)
{
    return _mm512_cmp_pd_mask(x, Set(0x1p-900), _CMP_GE_OQ) & _mm512_cmp_pd_mask(y, Set(0x1p1000), _CMP_LE_OQ) &
           _mm512_cmp_pd_mask(RoughRatio(x, y), Set(0x1p-899), _CMP_GE_OQ);
}

// Vectors with a lane outside the core's range (zeros, infinities, NaN,
// tiny x or x/y, y beyond 2^1000): those lanes have x and y scaled by the
// power of two that puts y in [2^900, 2^901), and zeros and infinities mapped
// to the pair that gives the limit: (0, 1) for y = 0 or for a finite x over
// y = inf, (1, 1) for x = y = inf. Where q = 0 and x/y < 2^-899, atan(x/y)
// rounds as x/y itself, so the quotient is returned, rounded once (also when
// it falls among the subnormals). Lanes in range compute exactly as on the
// fast path.
[[gnu::noinline]] V Atan2Wide(V a, V b)
{
    V x = MinAbs(a, b), y = MaxAbs(a, b);
    const V inf = Set(__builtin_inf());
    const M tiny = Lt(RoughRatio(x, y), Set(0x1p-899)) & static_cast<M>(~(Gt(Abs(a), Abs(b)) | SignBit(b)));
    const V quotient = x / y;
    const M scaled = Gt(y, Set(0.0)) & Lt(y, inf) & static_cast<M>(~InCoreRange(x, y));
    const V shift = _mm512_maskz_sub_pd(scaled, Set(900.0), _mm512_getexp_pd(y));
    x = _mm512_scalef_pd(x, shift);
    y = _mm512_scalef_pd(y, shift);
    const M nan = _mm512_cmp_pd_mask(a, b, _CMP_UNORD_Q);
    const M yInf = Eq(y, inf), yZero = Eq(y, Set(0.0));
    x = Select(yInf, _mm512_maskz_mov_pd(Eq(x, inf), Set(1.0)), x);
    y = Select(yInf | yZero | nan, Set(1.0), y);
    const V r = Select(tiny, XorSign(quotient, a), Atan2From(a, b, x, y));
    return Select(nan, a + b, r);
}

LUMADEX_AVX512_INLINE V Atan2(V a, V b)
{
    const V x = MinAbs(a, b), y = MaxAbs(a, b);
    if (InCoreRange(x, y) != 0xff) [[unlikely]]
        return Atan2Wide(a, b);
    return Atan2From(a, b, x, y);
}

// ---------------------------------------------------------------------------
// asin |x| = v + w:
//   |x| <= 1/2: v = |x|, w = v z P(z), z = x^2;
//   |x| >  1/2: asin |x| = pi/2 - (v + w), v = 2s, w = 2 sl + v z P(z),
//               z = (1 - |x|)/2 (exact), s + sl = sqrt(z), sl = (z - s^2)/(2s)
//               through rsqrt14 (sl only needs a few bits).
// asin s = s + s^3 P(s^2) on [0, 1/2], P degree 12, relative error 2^-57.4;
// the tail v z P is at most 0.045 of the result, so its rounding adds little.
constexpr double kAsinP[] = {0.16666666666666669, 0.07499999999998433, 0.04464285714635543,
                             0.030381944138531247, 0.02237217294214989, 0.017352392720869973,
                             0.013971212973552933, 0.011479177415184906, 0.01032281435018578,
                             0.005457506718640358, 0.01740087944269402, -0.014851887071247204,
                             0.028757851367421566};

struct AsinValue {
    V v, w;
    M big;  // |x| > 1/2
};

LUMADEX_AVX512_INLINE AsinValue AsinParts(V x)
{
    const V ax = Abs(x);
    const M big = Gt(ax, Set(0.5));
    const V z = Select(big, Mul(Set(1.0) - ax, Set(0.5)), Mul(x, x));
    const V s = _mm512_sqrt_pd(z);
    const V sl = Mul(_mm512_fnmadd_pd(s, s, z), _mm512_rsqrt14_pd(z + Set(0x1p-1000)));  // 2 sl
    const V v = Select(big, s + s, ax);
    const V w = Fma(Mul(v, z), Poly(z, kAsinP), _mm512_maskz_mov_pd(big, sl));
    return {v, w, big};
}

LUMADEX_AVX512_INLINE V Asin(V x)
{
    const AsinValue a = AsinParts(x);
    const V qh = _mm512_maskz_mov_pd(a.big, Set(kPio2Hi)), ql = _mm512_maskz_mov_pd(a.big, Set(kPio2Lo));
    return XorSign(SumTo(qh, Neg(a.big, a.v), ql + Neg(a.big, a.w)), x);
}

// acos x = q + s (v + w): q = pi/2 for |x| <= 1/2, else pi for x < 0, else 0;
// s = -1 for |x| <= 1/2 with x >= 0 and for x < -1/2.
LUMADEX_AVX512_INLINE V Acos(V x)
{
    const AsinValue a = AsinParts(x);
    const M neg = SignBit(x), small = static_cast<M>(~a.big);
    const M flip = small ^ neg;
    const V qh = Select(small, Set(kPio2Hi), _mm512_maskz_mov_pd(neg, Set(kPiHi)));
    const V ql = Select(small, Set(kPio2Lo), _mm512_maskz_mov_pd(neg, Set(kPiLo)));
    return SumTo(qh, Neg(flip, a.v), ql + Neg(flip, a.w));
}

}  // namespace

LUMADEX_AVX512 void DoubleAtanAvx512(MKL_INT n, const double* a, double* r)
{
    avx512::Map<double, Atan>(n, a, r);
}

LUMADEX_AVX512 void DoubleAtan2Avx512(MKL_INT n, const double* a, const double* b, double* r)
{
    avx512::Map<double, Atan2>(n, a, b, r);
}

LUMADEX_AVX512 void DoubleAsinAvx512(MKL_INT n, const double* a, double* r) { avx512::Map<double, Asin>(n, a, r); }

LUMADEX_AVX512 void DoubleAcosAvx512(MKL_INT n, const double* a, double* r) { avx512::Map<double, Acos>(n, a, r); }

}  // namespace lumadex::vml

LUMADEX_AVX512_END
