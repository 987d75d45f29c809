// AVX-512F kernels for the float trigonometric family: sin, cos, tan, asin,
// acos, atan and atan2, each within 1 ulp of the correctly rounded result.
//
// Three cores serve the seven functions:
// - ReduceHalfPi: x = q pi/2 + (r - d), r the rounded reduced argument and d
//   the part of it that rounding lost (so that sin, cos and tan see the
//   reduced argument to 2^-27 of itself), for |x| up to about 6434; lanes
//   beyond take SLEEF's exact reduction. Then sin or cos of r - d by
//   polynomials on [-pi/4, pi/4], picked and signed by q mod 4, and tan by its
//   own polynomial, inverted in odd quadrants.
// - AtanSum: k + atan(n/d) for |n/d| <= 1/2, the quotient carried as t + tl;
//   atan and atan2 fold their arguments into it in three ranges.
// - AsinSum: k + m asin(z) with z = |x| or sqrt((1 - |x|)/2), the root carried
//   as s + sl; asin and acos differ only in k and m.
// Every sum that could round twice is split exactly (Fast2Sum) and the
// result is rounded once at the end: the errors are the final rounding plus a
// few tenths of an ulp. Measured maxima over all 2^32 arguments: sin 0.89,
// cos 0.88 (0.875 on the fast path), tan 0.94 (0.84 on the fast path; the
// rest is SLEEF's), asin 0.75, acos 0.71, atan 0.75 ulp; atan2 0.87 ulp over
// 6.7e7 sampled pairs.
// The polynomial coefficients are near-minimax fits for relative error
// (Lawson's reweighted least squares on a Chebyshev grid, coefficients
// rounded to float lowest order first, the others refitted after each
// rounding).
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstdint>

#include "avx512_loops.hpp"
#include "common.hpp"
#include "sleef_declarations.hpp"

namespace lumadex::vml {
namespace {

using V = __m512;
using I = __m512i;
using M = __mmask16;

LUMADEX_AVX512_INLINE V Set(float v) { return _mm512_set1_ps(v); }
LUMADEX_AVX512_INLINE I Bits(V x) { return _mm512_castps_si512(x); }
LUMADEX_AVX512_INLINE V Float(I x) { return _mm512_castsi512_ps(x); }
LUMADEX_AVX512_INLINE V Abs(V x) { return Float(_mm512_and_si512(Bits(x), _mm512_set1_epi32(0x7fffffff))); }
// x with its sign flipped where s has its sign bit set (one ternary logic).
LUMADEX_AVX512_INLINE V FlipSign(V x, V s)
{
    return Float(_mm512_ternarylogic_epi32(Bits(x), Bits(s), _mm512_set1_epi32(INT32_MIN), 0x78));  // a ^ (b & c)
}
// A fast kernel's values and the lanes it leaves to an exact one.
struct Result {
    V y;
    M redo;
};
// Lanes whose sign bit is set (-0 included).
LUMADEX_AVX512_INLINE M SignBit(V x) { return _mm512_test_epi32_mask(Bits(x), _mm512_set1_epi32(INT32_MIN)); }

// c0 + u (c1 + u (c2 + ...)).
LUMADEX_AVX512_INLINE V Horner(V, float c0) { return Set(c0); }
template <class... C>
LUMADEX_AVX512_INLINE V Horner(V u, float c0, C... c)
{
    return _mm512_fmadd_ps(Horner(u, c...), u, Set(c0));
}

// x^3 as hi + lo (to about 2^-47), and x^2 rounded: for tan, whose cubic term
// is a fifth of the result near pi/4, where rounding x^2 and x^3 would cost a
// fifth of an ulp.
struct Cube {
    V x2, hi, lo;
};
LUMADEX_AVX512_INLINE Cube CubeOf(V x)
{
    const V x2 = _mm512_mul_ps(x, x);
    const V x2l = _mm512_fmsub_ps(x, x, x2);
    const V hi = _mm512_mul_ps(x, x2);
    return {x2, hi, _mm512_fmadd_ps(x, x2l, _mm512_fmsub_ps(x, x2, hi))};
}

// ---------------------------------------------------------------- sin, cos, tan

// pi/2 = kPio2 + kPio2Mid + kPio2Low + O(2^-63): kPio2 is pi/2 rounded down
// to float, kPio2Mid the rest rounded to 11 bits (so q kPio2Mid is exact for
// |q| < 2^13), kPio2Low the rest of that rounded to float. (Rounding down
// makes kPio2Mid positive, so that x = -0 reduces to r = -0.)
constexpr float kPio2 = 0x1.921fb4p+0f;
constexpr float kPio2Mid = 0x1.444p-24f;
constexpr float kPio2Low = 0x1.68c234p-39f;
// Adding 1.5 * 2^23 rounds a float below 2^22 to an integer, which is then
// the low bits of the sum.
constexpr float kRoundMagic = 0x1.8p+23f;
// The fast path holds for |q| <= kMaxQuadrant, |x| up to about 6434; other
// lanes (and infinities and NaNs) take SLEEF's exact reduction.
constexpr int kMaxQuadrant = 4096;

// x = q pi/2 + (r - d), with quad holding q in its low bits.
struct Reduced {
    V r, d;
    I quad;
    M slow;  // lanes the fast reduction does not cover
};

// Cody-Waite with an exact tail:
//   b = x - q kPio2 is exact (x and q kPio2 are multiples of 2^-24 below
//       |x| = 2^24 and |b| <= pi/4 + 2^-11);
//   p = q kPio2Mid is exact (11 bits times 13);
//   r = b - p rounds, and its error e is recovered exactly: either |b| >= |p|
//       (Fast2Sum) or r is itself exact (a multiple of 2^-34 below 2^-10.7);
//   d = -(e - q kPio2Low) in one rounding.
// The error left in r - d is below 2^-48 |r| + |q| 2^-62.5. Over all floats of
// the fast path |r| >= |q| 2^-35.2 (the closest, x = 252.898209, has
// |r| = 2^-27.8), so r - d is within 2^-27.3 of the reduced argument.
LUMADEX_AVX512_INLINE Reduced ReduceHalfPi(V x)
{
    const V shifted = _mm512_fmadd_ps(x, Set(0x1.45f306p-1f), Set(kRoundMagic));  // x 2/pi + magic
    const V q = _mm512_sub_ps(shifted, Set(kRoundMagic));
    const V b = _mm512_fnmadd_ps(q, Set(kPio2), x);
    const V p = _mm512_mul_ps(q, Set(kPio2Mid));  // exact
    const V r = _mm512_sub_ps(b, p);
    const V negErr = _mm512_add_ps(_mm512_sub_ps(r, b), p);  // -(b - p - r)
    const V d = _mm512_fmadd_ps(q, Set(kPio2Low), negErr);
    // The sum's bits are those of the magic number plus q: |q| > kMaxQuadrant
    // (or an infinity or a NaN) leaves them outside magic +- kMaxQuadrant.
    const I quad = Bits(shifted);
    const I lowest = _mm512_set1_epi32(static_cast<int>(std::bit_cast<std::uint32_t>(kRoundMagic)) - kMaxQuadrant);
    const M slow = _mm512_cmpgt_epu32_mask(_mm512_sub_epi32(quad, lowest), _mm512_set1_epi32(2 * kMaxQuadrant));
    return {r, d, quad, slow};
}

// sin(r - d) where `odd` is clear, cos(r - d) where it is set, for
// |r| <= pi/4 + 2^-12 and d tiny against r:
//   sin(r) = r + r^3 S(r^2)             degree 7, relative error 2^-27.9
//   cos(r) = 1 - r^2/2 + r^4 C(r^2)     degree 8, relative error 2^-33
// with the first-order terms of d: sin(r - d) ~ sin r - d (cos r taken as 1,
// an error below d r^2/2, a tenth of an ulp), cos(r - d) ~ cos r + d r.
// 1 - r^2/2 is up to 30% below 1, so it is split
// into h + hl (h rounded by one fma from the exact product (r/2) r, hl its
// remainder to 2^-48). Both have the shape base - (x P(r^2) + low), so one
// Horner pass serves both with its coefficients picked per lane, and only the
// last subtraction rounds at the size of the result (a subtraction, so that
// r = -0 stays -0).
LUMADEX_AVX512_INLINE V SinOrCos(V r, V d, M odd)
{
    const V r2 = _mm512_mul_ps(r, r);
    const V halfR = _mm512_mul_ps(r, Set(0.5f));
    const V h = _mm512_fnmadd_ps(halfR, r, Set(1.0f));
    const V negHl = _mm512_fmsub_ps(halfR, r, _mm512_sub_ps(Set(1.0f), h));
    // -S and -C, so that the Horner pass gives -P.
    auto coef = [odd](float sinC, float cosC) LUMADEX_AVX512_LAMBDA { return _mm512_mask_blend_ps(odd, Set(-sinC), Set(-cosC)); };
    V negPoly = coef(-1.951790618e-04f, 2.443232734e-05f);
    negPoly = _mm512_fmadd_ps(negPoly, r2, coef(8.332187310e-03f, -1.388730947e-03f));
    negPoly = _mm512_fmadd_ps(negPoly, r2, coef(-1.666665524e-01f, 4.166664556e-02f));
    const V base = _mm512_mask_blend_ps(odd, r, h);
    const V x = _mm512_mul_ps(r2, _mm512_mask_blend_ps(odd, r, r2));  // r^3 or r^4
    // -low: sin d, cos -(d r + hl)
    const V negLow = _mm512_fnmadd_ps(d, _mm512_mask_blend_ps(odd, Set(-1.0f), r), _mm512_maskz_mov_ps(odd, negHl));
    return _mm512_sub_ps(base, _mm512_fmadd_ps(x, negPoly, negLow));
}

// sin(x + k pi/2) from the reduction: quadrant q + k picks sin or cos and the
// sign.
template <int k>
LUMADEX_AVX512_INLINE Result SinOfQuadrant(V x)
{
    const Reduced red = ReduceHalfPi(x);
    const I quad = k ? _mm512_add_epi32(red.quad, _mm512_set1_epi32(k)) : red.quad;
    const V v = SinOrCos(red.r, red.d, _mm512_test_epi32_mask(quad, _mm512_set1_epi32(1)));
    return {FlipSign(v, Float(_mm512_slli_epi32(quad, 30))), red.slow};  // bit 1 of the quadrant to the sign
}

LUMADEX_AVX512 V ExactSin(V x) { return Sleef_sinf16_u10avx512f(x); }
LUMADEX_AVX512 V ExactCos(V x) { return Sleef_cosf16_u10avx512f(x); }

LUMADEX_AVX512_INLINE Result Sin(V x) { return SinOfQuadrant<0>(x); }
LUMADEX_AVX512_INLINE Result Cos(V x) { return SinOfQuadrant<1>(x); }

// tan(q pi/2 + r - d) = tan(r - d) for even q, -1/tan(r - d) for odd q.
// tan(r) = r + r^3 T(r^2) on [-pi/4, pi/4], degree 15, relative error 2^-29.5,
// and tan(r - d) ~ tan r - d (1 + tan^2 r). Even quadrants round r + tail
// once; odd ones take -1/(t + tl), t the rounded tan and tl the part that
// rounding dropped, by a Newton step from the reciprocal estimate of t.
LUMADEX_AVX512 V ExactTan(V x) { return Sleef_tanf16_u10avx512f(x); }
LUMADEX_AVX512_INLINE Result Tan(V x)
{
    const Reduced red = ReduceHalfPi(x);
    const V r = red.r;
    const Cube r3 = CubeOf(r);
    const V p = Horner(r3.x2, 3.333334923e-01f, 1.333267242e-01f, 5.405943468e-02f, 2.128290571e-02f, 1.083714049e-02f,
                       8.483010606e-05f, 4.379772115e-03f);
    const V rough = _mm512_fmadd_ps(r3.hi, p, r);
    const V dd = _mm512_fmadd_ps(_mm512_mul_ps(red.d, rough), rough, red.d);  // d (1 + tan^2 r)
    const V negTail = _mm512_fnmadd_ps(r3.hi, p, _mm512_fnmadd_ps(r3.lo, p, dd));
    const V t = _mm512_sub_ps(r, negTail);  // a subtraction, so that r = -0 stays -0
    const V tl = _mm512_sub_ps(_mm512_sub_ps(r, t), negTail);  // Fast2Sum: t + tl = r - negTail
    // -1/(t + tl) by one Newton step from the processor's estimate y of 1/t
    // (relative error below 2^-14): -(y + y e) with e = 1 - y (t + tl), within
    // e^2 < 2^-28 relative; cheaper than a division and its correction.
    const V y = _mm512_rcp14_ps(t);
    const V e = _mm512_fnmadd_ps(y, tl, _mm512_fnmadd_ps(y, t, Set(1.0f)));
    const V cot = _mm512_fnmsub_ps(y, e, y);
    const V v = _mm512_mask_mov_ps(t, _mm512_test_epi32_mask(red.quad, _mm512_set1_epi32(1)), cot);
    return {v, red.slow};
}

// ---------------------------------------------------------------- atan, atan2

// k + atan(n/(d + dLo)) for |n| <= |d|/2, k = kHi + kLo, dLo tiny against d.
// atan(t) = t + t^3 A(t^2) on [-1/2, 1/2], degree 11, relative error 2^-27.5;
// t^3 A is at most a twelfth of the result, so its roundings cost little.
// The quotient is t + tl with tl = (n - t (d + dLo))/d (the exact remainder
// over d, to 14 bits), and kHi + t is split exactly (Fast2Sum, |kHi| > |t|
// where kHi is not 0), so only the last addition rounds at the result's size.
LUMADEX_AVX512_INLINE V AtanSum(V n, V d, V dLo, V kHi, V kLo)
{
    const V t = _mm512_div_ps(n, d);
    const V rem = _mm512_fnmadd_ps(t, dLo, _mm512_fnmadd_ps(t, d, n));
    const V tl = _mm512_mul_ps(rem, _mm512_rcp14_ps(d));
    const V t2 = _mm512_mul_ps(t, t);
    const V a = Horner(t2, -3.333323300e-01f, 1.999416798e-01f, -1.417421103e-01f, 1.015579924e-01f, -5.125049874e-02f);
    const V head = _mm512_add_ps(kHi, t);
    const V headErr = _mm512_add_ps(_mm512_sub_ps(kHi, head), t);
    const V small = _mm512_add_ps(_mm512_add_ps(headErr, tl), kLo);  // each below an ulp of the result
    return _mm512_add_ps(head, _mm512_fmadd_ps(_mm512_mul_ps(t, t2), a, small));
}

// pi/4, pi/2, 3pi/4 and pi as float + float.
constexpr float kPio4Hi = 0x1.921fb6p-1f, kPio4Lo = -0x1.777a5cp-26f;
constexpr float kPio2Hi = 0x1.921fb6p+0f, kPio2Lo = -0x1.777a5cp-25f;
constexpr float k3Pio4Hi = 0x1.2d97c8p+1f, k3Pio4Lo = -0x1.99bc5cp-28f;
constexpr float kPiHi = 0x1.921fb6p+1f, kPiLo = -0x1.777a5cp-24f;

// atan x = sign(x) atan |x|, with
//   |x| <  1/2:       atan |x|
//   1/2 <= |x| <= 2:  pi/4 + atan((|x| - 1)/(|x| + 1))
//   |x| >  2:         pi/2 + atan(-1/|x|)
// |x| - 1 is exact; |x| + 1 = d + dLo with dLo = |x| - (d - 1), both steps
// exact. |x| is capped at 2^100 so that infinity leaves a finite remainder.
LUMADEX_AVX512_INLINE V Atan(V x)
{
    const V ax = Abs(x), one = Set(1.0f);
    const M mid = _mm512_cmp_ps_mask(ax, Set(0.5f), _CMP_GE_OQ);
    const M high = _mm512_cmp_ps_mask(ax, Set(2.0f), _CMP_GT_OQ);
    const V n = _mm512_mask_mov_ps(_mm512_mask_sub_ps(ax, mid, ax, one), high, Set(-1.0f));
    const V sum = _mm512_mask_add_ps(one, mid, ax, one);
    const V dLo = _mm512_maskz_sub_ps(mid & ~high, ax, _mm512_sub_ps(sum, one));
    const V d = _mm512_mask_min_ps(sum, high, Set(0x1p100f), ax);
    const V kHi = _mm512_mask_mov_ps(_mm512_maskz_mov_ps(mid, Set(kPio4Hi)), high, Set(kPio2Hi));
    const V kLo = _mm512_mask_mov_ps(_mm512_maskz_mov_ps(mid, Set(kPio4Lo)), high, Set(kPio2Lo));
    return FlipSign(AtanSum(n, d, dLo, kHi, kLo), x);
}

// atan2(a, b) = sign(a) * angle of (b, |a|) in [0, pi], from the ratio |a|/|b|:
//   below 1/2:   atan(|a|/|b|)
//   1/2 to 2:    pi/4 + atan((|a| - |b|)/(|a| + |b|))
//   above 2:     pi/2 + atan(-|b|/|a|)
// and for negative b (-0 included) pi minus that: k -> pi - k, n -> -n.
// |a| - |b| is exact there, |a| + |b| = d + dLo by Fast2Sum. Lanes whose
// larger magnitude is outside [2^-60, 2^100] (zeros, infinities, NaNs, and
// operands where |a| + |b| could overflow or the remainder underflow) are
// left to Atan2Exceptional.
LUMADEX_AVX512_INLINE Result Atan2Angle(V a, V b)
{
    const V aa = Abs(a), ab = Abs(b);
    const M negB = SignBit(b);
    const M high = _mm512_cmp_ps_mask(aa, _mm512_add_ps(ab, ab), _CMP_GT_OQ);
    const M low = _mm512_cmp_ps_mask(_mm512_add_ps(aa, aa), ab, _CMP_LT_OQ);
    const M mid = static_cast<M>(~(high | low));
    const V n = _mm512_mask_sub_ps(_mm512_mask_sub_ps(aa, mid, aa, ab), high, Set(0.0f), ab);
    const V d = _mm512_mask_mov_ps(_mm512_mask_add_ps(ab, mid, aa, ab), high, aa);
    const V big = _mm512_max_ps(aa, ab);
    const V dLo = _mm512_maskz_add_ps(mid, _mm512_sub_ps(big, d), _mm512_min_ps(aa, ab));
    const V midHi = _mm512_mask_blend_ps(negB, Set(kPio4Hi), Set(k3Pio4Hi));
    const V midLo = _mm512_mask_blend_ps(negB, Set(kPio4Lo), Set(k3Pio4Lo));
    const V kHi = _mm512_mask_mov_ps(_mm512_mask_mov_ps(_mm512_maskz_mov_ps(negB, Set(kPiHi)), mid, midHi), high, Set(kPio2Hi));
    const V kLo = _mm512_mask_mov_ps(_mm512_mask_mov_ps(_mm512_maskz_mov_ps(negB, Set(kPiLo)), mid, midLo), high, Set(kPio2Lo));
    const M redo = _mm512_cmp_ps_mask(big, Set(0x1p-60f), _CMP_NGE_UQ) | _mm512_cmp_ps_mask(big, Set(0x1p100f), _CMP_NLE_UQ);
    return {FlipSign(AtanSum(FlipSign(n, b), d, dLo, kHi, kLo), a), redo};
}

// atan2 for the lanes Atan2Angle leaves to it, through operands of the same
// angle that it handles: both infinite -> (+-1, +-1); one infinite ->
// (+-1, +-0) or (+-0, +-1); both zero -> (+-0, +-1); both below 2^-50 ->
// scaled by 2^100; either above 2^100 -> scaled by 2^-64. A NaN operand gives NaN.
LUMADEX_AVX512 V Atan2Exceptional(V a, V b)
{
    const V inf = Set(__builtin_inff()), one = Set(1.0f), zero = Set(0.0f);
    const V aa = Abs(a), ab = Abs(b), big = _mm512_max_ps(aa, ab);
    const M aInf = _mm512_cmp_ps_mask(aa, inf, _CMP_EQ_OQ), bInf = _mm512_cmp_ps_mask(ab, inf, _CMP_EQ_OQ);
    const M aZero = _mm512_cmp_ps_mask(aa, zero, _CMP_EQ_OQ), bZero = _mm512_cmp_ps_mask(ab, zero, _CMP_EQ_OQ);
    const V scale = _mm512_mask_mov_ps(_mm512_mask_mov_ps(one, _mm512_cmp_ps_mask(big, Set(0x1p-50f), _CMP_LT_OQ), Set(0x1p100f)),
                                       _mm512_cmp_ps_mask(big, Set(0x1p100f), _CMP_GT_OQ), Set(0x1p-64f));
    V a2 = _mm512_mul_ps(a, scale), b2 = _mm512_mul_ps(b, scale);
    a2 = _mm512_mask_mov_ps(a2, aInf, FlipSign(one, a));
    b2 = _mm512_mask_mov_ps(b2, bInf, FlipSign(one, b));
    a2 = _mm512_mask_mov_ps(a2, bInf & ~aInf, FlipSign(zero, a));
    b2 = _mm512_mask_mov_ps(b2, (aInf & ~bInf) | (aZero & bZero), FlipSign(_mm512_mask_mov_ps(zero, aZero, one), b));
    return _mm512_mask_add_ps(Atan2Angle(a2, b2).y, _mm512_cmp_ps_mask(a, b, _CMP_UNORD_Q), a, b);
}

LUMADEX_AVX512_INLINE Result Atan2(V a, V b) { return Atan2Angle(a, b); }

// ---------------------------------------------------------------- asin, acos

// k + m asin(z), where z = |x| for |x| <= 1/2 and z = sqrt((1 - |x|)/2) above
// (asin |x| = pi/2 - 2 asin z, acos |x| = 2 asin z), k = kHi + kLo, m a power of
// two times +-1 (so m z is exact).
// asin(z) = z + z^3 B(z^2) on [0, 1/2], degree 11, relative error 2^-27.6.
// The root is carried as s + sl, sl = (w - s^2)/(2s) to 14 bits, and kHi + m z
// is split exactly (Fast2Sum), so only the last addition rounds.
struct AsinArg {
    V z, zl;
    M big;  // |x| > 1/2
};
LUMADEX_AVX512_INLINE AsinArg AsinReduce(V ax)
{
    const M big = _mm512_cmp_ps_mask(ax, Set(0.5f), _CMP_GT_OQ);
    const V w = _mm512_fnmadd_ps(ax, Set(0.5f), Set(0.5f));  // (1 - |x|)/2, exact
    const V s = _mm512_sqrt_ps(w);
    // 2s + 2^-100 keeps the reciprocal finite at s = 0 (|x| = 1).
    const V inv2s = _mm512_rcp14_ps(_mm512_fmadd_ps(s, Set(2.0f), Set(0x1p-100f)));
    const V sl = _mm512_maskz_mul_ps(big, _mm512_fnmadd_ps(s, s, w), inv2s);
    return {_mm512_mask_mov_ps(ax, big, s), sl, big};
}
LUMADEX_AVX512_INLINE V AsinSum(AsinArg arg, V m, V kHi, V kLo)
{
    const V z = arg.z;
    const V z2 = _mm512_mul_ps(z, z);
    const V p = Horner(z2, 1.666675210e-01f, 7.495309412e-02f, 4.546914995e-02f, 2.418477833e-02f, 4.215830564e-02f);
    const V tail = _mm512_fmadd_ps(_mm512_mul_ps(z, z2), p, arg.zl);  // asin(z + zl) - z
    const V head = _mm512_fmadd_ps(m, z, kHi);
    const V headErr = _mm512_fmadd_ps(m, z, _mm512_sub_ps(kHi, head));
    return _mm512_add_ps(head, _mm512_add_ps(headErr, _mm512_fmadd_ps(m, tail, kLo)));
}

// asin x = sign(x) * (|x| <= 1/2 ? asin |x| : pi/2 - 2 asin z).
LUMADEX_AVX512_INLINE V Asin(V x)
{
    const AsinArg arg = AsinReduce(Abs(x));
    const V m = _mm512_mask_mov_ps(Set(1.0f), arg.big, Set(-2.0f));
    const V y = AsinSum(arg, m, _mm512_maskz_mov_ps(arg.big, Set(kPio2Hi)), _mm512_maskz_mov_ps(arg.big, Set(kPio2Lo)));
    return FlipSign(y, x);
}

// acos x = |x| <= 1/2 ? pi/2 - sign(x) asin |x| : (x > 0 ? 2 asin z : pi - 2 asin z).
LUMADEX_AVX512_INLINE V Acos(V x)
{
    const AsinArg arg = AsinReduce(Abs(x));
    const M neg = SignBit(x);
    const V m = FlipSign(_mm512_mask_mov_ps(Set(-1.0f), arg.big, Set(2.0f)), x);
    const V kHi = _mm512_mask_mov_ps(Set(kPio2Hi), arg.big, _mm512_maskz_mov_ps(neg, Set(kPiHi)));
    const V kLo = _mm512_mask_mov_ps(Set(kPio2Lo), arg.big, _mm512_maskz_mov_ps(neg, Set(kPiLo)));
    return AsinSum(arg, m, kHi, kLo);
}

}  // namespace

LUMADEX_AVX512 void FloatSinAvx512(MKL_INT n, const float* a, float* r) { avx512::MapRedo<float, Sin, ExactSin>(n, a, r); }
LUMADEX_AVX512 void FloatCosAvx512(MKL_INT n, const float* a, float* r) { avx512::MapRedo<float, Cos, ExactCos>(n, a, r); }
LUMADEX_AVX512 void FloatTanAvx512(MKL_INT n, const float* a, float* r) { avx512::MapRedo<float, Tan, ExactTan>(n, a, r); }
LUMADEX_AVX512 void FloatAsinAvx512(MKL_INT n, const float* a, float* r) { avx512::Map<float, Asin>(n, a, r); }
LUMADEX_AVX512 void FloatAcosAvx512(MKL_INT n, const float* a, float* r) { avx512::Map<float, Acos>(n, a, r); }
LUMADEX_AVX512 void FloatAtanAvx512(MKL_INT n, const float* a, float* r) { avx512::Map<float, Atan>(n, a, r); }
LUMADEX_AVX512 void FloatAtan2Avx512(MKL_INT n, const float* a, const float* b, float* r) { avx512::MapRedo<float, Atan2, Atan2Exceptional>(n, a, b, r); }

}  // namespace lumadex::vml
