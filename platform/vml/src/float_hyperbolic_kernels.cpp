// AVX-512F kernels for the float hyperbolic functions cosh, sinh and tanh,
// each within 1 ulp of the correctly rounded result. cosh and sinh use e^|x|
// in float lanes as a float pair on a 32-entry table, and its reciprocal
// (see HyperbolicOf); sinh has an odd polynomial near 0. tanh is a piecewise
// polynomial in float lanes (see TanhOf16).
#include <immintrin.h>

#include <cstdint>

#include "avx512_loops.hpp"
#include "common.hpp"

namespace lumadex::vml {
namespace {

using namespace avx512;

// Entry `index` mod 32 of a 32-entry table row, in each lane.
LUMADEX_AVX512 inline __m512 TableEntry(const float* row, __m512i index)
{
    return _mm512_permutex2var_ps(_mm512_load_ps(row), index, _mm512_load_ps(row + 16));
}

// cosh and sinh in float lanes, from e^|x| = 2^(k/32) e^s carried as an
// unevaluated float pair:
//  - y = k/32 = |x| / ln 2 rounded to a multiple of 1/32: adding the
//    shifter 1.5 * 2^18 (ulp 2^-5) leaves k in the low mantissa bits of t;
//  - s = |x| - y ln 2, |s| <= ln 2 / 64 (plus 2^-31): ln 2 = C1 + C2 with C1
//    of 9 significant bits, so that y C1 (k < 2^13) and |x| - y C1 are exact
//    and only subtracting y C2 rounds (below 2^-31);
//  - e^|x| = 2^m (H + L): m = floor(y), H = 2^(j/32) (j = k mod 32) rounded
//    to float, L = H v + lo_j with lo_j = 2^(j/32) - H rounded to float and
//    v = s + s^2 (c2 + c3 s) for e^s - 1 (weighted least squares iterated
//    toward minimax for the error relative to e^s, in mpmath: 2^-33.2 with
//    the float coefficients). With the term left out (lo_j v < 2^-30.5) and
//    the roundings of s, v and L, H + L is e^|x| / 2^m within 2^-28.5
//    relative;
//  - 1/(H + L) = r0 (1 + e): r0 = rcp14(H + L) (2^-14 relative) and e =
//    1 - r0 H - r0 L (one Newton step on the pair, error below 2^-27.9).
// Both results are 2^(m-1) (H + L +- 2^(-2m) r0 (1 + e)), summed so that
// only the last two additions round at the result's magnitude, and scaled
// exactly: m << 23 is (t << 18) masked, r0 2^(-2m) subtracts 2m << 23 from
// r0's bits (r0 is in (1/2, 1]) and 2^(m-1) adds (m - 1) << 23 to the sum's
// bits. Both stay normal and finite for m <= 62 (|x| < 43); the other lanes
// (rare: beyond 43, infinite or NaN) go to HyperbolicRare. No clamp is
// needed on this path: what it gives in those lanes is replaced.
struct HyperbolicParts {
    __m512 high, low, r0, e, y;  // H, L, rcp14(H + L), 1 - r0 (H + L), k/32
    __m512i m23;                 // m << 23
};

// 2^(j/32), j = 0..31, as the float nearest (row 0) and the float nearest to
// the rest (row 1).
alignas(64) constexpr float kExp2Table32[2][32] = {
    {
        0x1.000000p+0f, 0x1.059b0ep+0f, 0x1.0b5586p+0f, 0x1.11301ep+0f, 0x1.172b84p+0f, 0x1.1d4874p+0f,
        0x1.2387a6p+0f, 0x1.29e9e0p+0f, 0x1.306fe0p+0f, 0x1.371a74p+0f, 0x1.3dea64p+0f, 0x1.44e086p+0f,
        0x1.4bfdaep+0f, 0x1.5342b6p+0f, 0x1.5ab07ep+0f, 0x1.6247ecp+0f, 0x1.6a09e6p+0f, 0x1.71f75ep+0f,
        0x1.7a1148p+0f, 0x1.82589ap+0f, 0x1.8ace54p+0f, 0x1.93737cp+0f, 0x1.9c4918p+0f, 0x1.a5503cp+0f,
        0x1.ae89fap+0f, 0x1.b7f770p+0f, 0x1.c199bep+0f, 0x1.cb720ep+0f, 0x1.d5818ep+0f, 0x1.dfc974p+0f,
        0x1.ea4afap+0f, 0x1.f50766p+0f,
    },
    {
        0.0f,             -0x1.9d4f52p-25f, 0x1.9f3122p-25f,  -0x1.fdb496p-25f, -0x1.c15742p-27f, -0x1.d2e8cap-25f,
        0x1.ceac48p-25f,  -0x1.5c0424p-25f, 0x1.4636e2p-25f,  -0x1.18aac6p-25f, 0x1.824684p-25f,  0x1.8624b4p-30f,
        -0x1.593abcp-25f, -0x1.2c5610p-25f, -0x1.5bd5ecp-27f, -0x1.f8b550p-25f, 0x1.9fcef4p-26f,  0x1.1d8beep-25f,
        -0x1.829fd0p-25f, -0x1.accc7cp-26f, 0x1.15506ep-27f,  -0x1.e64744p-25f, 0x1.51f848p-27f,  -0x1.b83b54p-25f,
        -0x1.a94b14p-26f, -0x1.a09438p-25f, -0x1.3d56b2p-27f, -0x1.8837ccp-27f, -0x1.822dbcp-27f, -0x1.908c94p-25f,
        0x1.52486cp-27f,  -0x1.246eb0p-26f,
    },
};

LUMADEX_AVX512_INLINE HyperbolicParts HyperbolicOf(__m512 magnitude)
{
    const __m512 shifter = _mm512_set1_ps(0x1.8p+18f);  // ulp 2^-5
    const __m512 t = _mm512_fmadd_ps(magnitude, _mm512_set1_ps(0x1.715476p+0f), shifter);  // 1 / ln 2
    const __m512 y = _mm512_sub_ps(t, shifter);
    const __m512 r = _mm512_fnmadd_ps(y, _mm512_set1_ps(0x1.63p-1f), magnitude);  // C1
    const __m512 s = _mm512_fnmadd_ps(y, _mm512_set1_ps(-0x1.bd0106p-13f), r);    // C2
    const __m512i k = _mm512_castps_si512(t);
    const __m512 q = _mm512_fmadd_ps(s, _mm512_set1_ps(0x1.555594p-3f), _mm512_set1_ps(0x1.000088p-1f));
    const __m512 v = _mm512_fmadd_ps(_mm512_mul_ps(s, s), q, s);
    const __m512 high = TableEntry(kExp2Table32[0], k);
    const __m512 low = _mm512_fmadd_ps(high, v, TableEntry(kExp2Table32[1], k));
    const __m512 r0 = _mm512_rcp14_ps(_mm512_add_ps(high, low));
    const __m512 e = _mm512_fnmadd_ps(r0, low, _mm512_fnmadd_ps(r0, high, _mm512_set1_ps(1.0f)));
    const __m512i m23 = _mm512_and_si512(_mm512_slli_epi32(k, 18), _mm512_set1_epi32(static_cast<int>(0xFF800000u)));
    return {high, low, r0, e, y, m23};
}

// H + (L + 2^(-2m) r0 (1 + e)) for cosh, H + (L - 2^(-2m) r0 (1 + e)) for
// sinh, given the scaled r0.
template <bool Odd>
LUMADEX_AVX512_INLINE __m512 HyperbolicSum(const HyperbolicParts& p, __m512 inverse)
{
    if (Odd) return _mm512_add_ps(p.high, _mm512_sub_ps(_mm512_fnmadd_ps(inverse, p.e, p.low), inverse));
    return _mm512_add_ps(p.high, _mm512_add_ps(_mm512_fmadd_ps(inverse, p.e, p.low), inverse));
}

// 2^(m-1) times the sum, for m <= 62, through the exponent fields.
template <bool Odd>
LUMADEX_AVX512_INLINE __m512 HyperbolicCommon(const HyperbolicParts& p)
{
    const __m512i inverse = _mm512_sub_epi32(_mm512_castps_si512(p.r0), _mm512_add_epi32(p.m23, p.m23));
    const __m512 sum = HyperbolicSum<Odd>(p, _mm512_castsi512_ps(inverse));
    return _mm512_castsi512_ps(
        _mm512_add_epi32(_mm512_castps_si512(sum), _mm512_sub_epi32(p.m23, _mm512_set1_epi32(1 << 23))));
}

// The lanes in `rare` (|x| beyond 43, or NaN) scaled by scalef instead:
// 2^(-2m) as two scalefs by floor(63/64 - y) = -m (j <= 31), 2^(m-1) by
// floor(y - 1) (infinity when the result overflows). The parts are valid up
// to |x| = 90 (k < 2^13); beyond (or NaN) they are redone with |x| clamped
// to 90, where both functions have overflowed (from 89.42; min returns its
// second operand, |x|, when that is NaN).
template <bool Odd>
LUMADEX_AVX512 [[gnu::noinline]] __m512 HyperbolicRare(__m512 x, HyperbolicParts p, __m512 result,
                                                                 __mmask16 rare)
{
    const __m512 magnitude = _mm512_abs_ps(x);
    if (_mm512_cmp_ps_mask(magnitude, _mm512_set1_ps(90.0f), _CMP_NLE_UQ) != 0)
        p = HyperbolicOf(_mm512_min_ps(_mm512_set1_ps(90.0f), magnitude));
    const __m512 minusM = _mm512_sub_ps(_mm512_set1_ps(0.984375f), p.y);
    const __m512 sum = HyperbolicSum<Odd>(p, _mm512_scalef_ps(_mm512_scalef_ps(p.r0, minusM), minusM));
    return _mm512_mask_scalef_ps(result, rare, sum, _mm512_sub_ps(p.y, _mm512_set1_ps(1.0f)));
}

LUMADEX_AVX512_INLINE __mmask16 HyperbolicRareLanes(__m512 magnitude)
{
    return _mm512_cmp_ps_mask(magnitude, _mm512_set1_ps(43.0f), _CMP_NLE_UQ);
}

// cosh x = 2^(m-1) (H + (2^(-2m) r0 + (L + 2^(-2m) r0 e))). The inner sum
// is below the outer one's magnitude (>= 2) and rounds to at most a quarter
// of its ulp, so the result is within 0.75 ulp and a little.
LUMADEX_AVX512_INLINE __m512 CoshOf16(__m512 x)
{
    const __m512 magnitude = _mm512_abs_ps(x);
    const HyperbolicParts p = HyperbolicOf(magnitude);
    const __m512 result = HyperbolicCommon<false>(p);
    const __mmask16 rare = HyperbolicRareLanes(magnitude);
    return rare == 0 ? result : HyperbolicRare<false>(x, p, result, rare);
}

// sinh x: below |x| = 0.6875 an odd polynomial, x + x^3 P(x^2), P of degree
// 2 (least squares on Chebyshev nodes with weights iterated toward minimax
// for the error relative to sinh x, in mpmath; 2^-28.6 with the float
// coefficients), the product x^3 P <= 0.08 sinh x added last. From there on
// (k >= 32, so m >= 1) 2^(m-1) (H + ((L - 2^(-2m) r0 e) - 2^(-2m) r0)),
// where 2^(-2m) r0 <= 1/4 and the outer sum is >= 0.73. Exhaustively over
// all floats the result is within 0.77 ulp (cosh: 0.76).
LUMADEX_AVX512_INLINE __m512 SinhOf16(__m512 x)
{
    const __m512 magnitude = _mm512_abs_ps(x);
    const HyperbolicParts p = HyperbolicOf(magnitude);
    __m512 result = HyperbolicCommon<true>(p);
    const __mmask16 rare = HyperbolicRareLanes(magnitude);
    if (rare != 0) result = HyperbolicRare<true>(x, p, result, rare);
    // x + x^3 P(x^2) has the sign of x (x = -0 included) in every lane.
    const __m512 z = _mm512_mul_ps(x, x);
    __m512 poly = _mm512_fmadd_ps(z, _mm512_set1_ps(0x1.a55b16p-13f), _mm512_set1_ps(0x1.110b56p-7f));
    poly = _mm512_fmadd_ps(poly, z, _mm512_set1_ps(0x1.55555cp-3f));
    const __m512 small = _mm512_fmadd_ps(_mm512_mul_ps(z, x), poly, x);
    // From 0.6875 on: result | (small & sign), the sign of x on the
    // exponential path's (nonnegative) result.
    const __mmask16 above = _mm512_cmp_ps_mask(magnitude, _mm512_set1_ps(0.6875f), _CMP_NLT_UQ);
    return _mm512_castsi512_ps(_mm512_mask_ternarylogic_epi32(_mm512_castps_si512(small), above,
                                                              _mm512_castps_si512(result),
                                                              _mm512_set1_epi32(INT32_MIN), 0xEC));
}

// tanh in float lanes, piecewise polynomial on |x|, from 32 intervals:
//  - interval 0, [0, 2^-12): c = 0 and tanh x - x = -x^3/3 + 2x^5/15 (Taylor;
//    the rest is below 2^-70 relative);
//  - intervals 1 to 30, the halves [1, 1.5) 2^e and [1.5, 2) 2^e of the
//    binades from 2^-12 to 8;
//  - interval 31, [8, 9.5]; |x| is clamped to 9.5 (tanh rounds to 1 from
//    9.01; NaN passes the clamp).
// On each, t = |x| - c with c a float inside the interval, so that |x| and
// c lie within a factor of 2 and t is exact; a degree-7 polynomial in t
// gives tanh |x| - |x| below 0.5 (intervals 0 to 22, where that difference
// is at most 8% of the result and adding |x| last rounds once) or tanh |x|
// itself above (there c is picked among the floats near the middle so that
// tanh c is within 2e-4 ulp of the float a0). Coefficients: weighted least
// squares on Chebyshev nodes against mpmath, weight 1/ulp(tanh), reweighted
// toward minimax, each rounded to float in turn and the higher ones refitted;
// the fitted polynomials are within 0.1 ulp (most below 0.01), and Horner's
// rounding adds under 0.07 ulp besides the final 0.5. Exhaustively over all
// floats the result is within 0.63 ulp.
// The interval index is bits 22 and up of max(|x|, 0x1.7fffffp-13) (exponent
// and first fraction bit), 229 to 260; the permutes use its low five bits, so
// interval i sits at entry (i + 5) mod 32 of each row.
alignas(64) constexpr float kTanhTable[9][32] = {
    {  // c
        0x1.3ff6bcp+1f, 0x1.bffdcp+1f, 0x1.3ffc3cp+2f, 0x1.bfe32cp+2f,
        0x1.154316p+3f, 0.0f, 0x1.4p-12f, 0x1.cp-12f,
        0x1.4p-11f, 0x1.cp-11f, 0x1.4p-10f, 0x1.cp-10f,
        0x1.4p-9f, 0x1.cp-9f, 0x1.4p-8f, 0x1.cp-8f,
        0x1.4p-7f, 0x1.cp-7f, 0x1.4p-6f, 0x1.cp-6f,
        0x1.4p-5f, 0x1.cp-5f, 0x1.4p-4f, 0x1.cp-4f,
        0x1.4p-3f, 0x1.cp-3f, 0x1.4p-2f, 0x1.cp-2f,
        0x1.4003d8p-1f, 0x1.c0129cp-1f, 0x1.3ff0e4p+0f, 0x1.bff164p+0f,
    },
    {  // a0
        0x1.f92486p-1f, 0x1.ff1124p-1f, 0x1.fff418p-1f, 0x1.ffffc8p-1f,
        0x1.fffffep-1f, 0.0f, -0x1.4d5554p-37f, -0x1.c95554p-36f,
        -0x1.4d5552p-34f, -0x1.c9554cp-33f, -0x1.4d5548p-31f, -0x1.c95532p-30f,
        -0x1.4d5522p-28f, -0x1.c954cap-27f, -0x1.4d5486p-25f, -0x1.c95326p-24f,
        -0x1.4d5214p-22f, -0x1.c94c94p-21f, -0x1.4d485p-19f, -0x1.c93254p-18f,
        -0x1.4d2148p-16f, -0x1.c8c972p-15f, -0x1.4c8584p-13f, -0x1.c727ccp-12f,
        -0x1.4a1c28p-10f, -0x1.c0befap-9f, -0x1.40cebep-7f, -0x1.a8d612p-6f,
        0x1.1bf728p-1f, 0x1.686fb4p-1f, 0x1.b249c2p-1f, 0x1.e1f8a6p-1f,
    },
    {  // a1
        0x1.b3ee28p-6f, 0x1.dd488ep-9f, 0x1.7cf838p-13f, 0x1.bffb7cp-19f,
        0x1.ffe5eep-24f, 0.0f, -0x1.8ffffep-24f, -0x1.87fffcp-23f,
        -0x1.8ffffap-22f, -0x1.87fff4p-21f, -0x1.8fffe6p-20f, -0x1.87ffcep-19f,
        -0x1.8fff98p-18f, -0x1.87ff38p-17f, -0x1.8ffe6p-16f, -0x1.87fcep-15f,
        -0x1.8ff97ep-14f, -0x1.87f38p-13f, -0x1.8fe5f6p-12f, -0x1.87cep-11f,
        -0x1.8f97ecp-10f, -0x1.873842p-9f, -0x1.8e60c6p-8f, -0x1.84e50ep-7f,
        -0x1.89941ap-6f, -0x1.7bd35cp-5f, -0x1.77545ap-4f, -0x1.5ae918p-3f,
        0x1.6281dp-1f, 0x1.0242d2p-1f, 0x1.1f41d4p-2f, 0x1.d25ebap-4f,
    },
    {  // a2
        -0x1.ae16eep-6f, -0x1.dc6ac2p-9f, -0x1.7d302p-13f, -0x1.c044ap-19f,
        -0x1.fe2aa6p-24f, 0.0f, -0x1.40001ap-12f, -0x1.bfff94p-12f,
        -0x1.3ffffap-11f, -0x1.c0002cp-11f, -0x1.3fffeap-10f, -0x1.bfffb6p-10f,
        -0x1.3fff2cp-9f, -0x1.bffddcp-9f, -0x1.3ffd28p-8f, -0x1.bff86cp-8f,
        -0x1.3ff598p-7f, -0x1.bfe406p-7f, -0x1.3fd69cp-6f, -0x1.bf8e14p-6f,
        -0x1.3f59acp-5f, -0x1.be378cp-5f, -0x1.3d6878p-4f, -0x1.b8ede6p-4f,
        -0x1.35cb78p-3f, -0x1.a48b0ep-3f, -0x1.199236p-2f, -0x1.5e0eb8p-2f,
        -0x1.893bc2p-2f, -0x1.6b9ea8p-2f, -0x1.e7506p-3f, -0x1.b70476p-4f,
    },
    {  // a3
        0x1.17042cp-6f, 0x1.3c73f8p-9f, 0x1.fc2e1ap-14f, 0x1.2adad8p-19f,
        0x1.54ccbep-24f, -0x1.555556p-2f, -0x1.5555aep-2f, -0x1.555696p-2f,
        -0x1.55548cp-2f, -0x1.5550c4p-2f, -0x1.5553a4p-2f, -0x1.555428p-2f,
        -0x1.5550c6p-2f, -0x1.554e5cp-2f, -0x1.5549a2p-2f, -0x1.553ed4p-2f,
        -0x1.5532cp-2f, -0x1.5510e4p-2f, -0x1.54d158p-2f, -0x1.54509p-2f,
        -0x1.5341c2p-2f, -0x1.514252p-2f, -0x1.4d10d6p-2f, -0x1.45491ep-2f,
        -0x1.352014p-2f, -0x1.183b2ep-2f, -0x1.c1a67p-3f, -0x1.16e80ap-3f,
        -0x1.23fe8p-6f, 0x1.4f4154p-4f, 0x1.bbb204p-4f, 0x1.01d03ap-4f,
    },
    {  // a4
        -0x1.07f136p-7f, -0x1.39fa02p-10f, -0x1.f5e44ep-15f, -0x1.274892p-20f,
        -0x1.671e48p-25f, 0.0f, 0x1.702fa8p-4f, -0x1.5f0592p-2f,
        0x1.28455ep-8f, 0x1.427be6p-3f, 0x1.90dcfap-6f, 0x1.58a6cp-5f,
        -0x1.820e8ep-6f, -0x1.7227d6p-5f, -0x1.b9cae6p-7f, -0x1.aeb6fep-6f,
        0x1.dcf038p-8f, 0x1.e0c9d6p-5f, 0x1.82c80cp-6f, 0x1.07d166p-5f,
        0x1.d1c536p-6f, 0x1.f0954cp-6f, 0x1.897a02p-5f, 0x1.4213fcp-4f,
        0x1.885b54p-4f, 0x1.08d1b2p-3f, 0x1.444722p-3f, 0x1.5a716cp-3f,
        0x1.1a610cp-3f, 0x1.f1a982p-5f, -0x1.9bae7p-7f, -0x1.81757cp-6f,
    },
    {  // a5
        0x1.773466p-9f, 0x1.ef0db6p-12f, 0x1.915656p-16f, 0x1.d8b0f4p-22f,
        0x1.23fb72p-26f, 0x1.111112p-3f, 0x1.b15e5ep+8f, 0x1.e3cf82p+9f,
        -0x1.14e52cp+8f, -0x1.634988p+11f, -0x1.ba978ep+7f, -0x1.942c3cp+4f,
        -0x1.b66e78p+6f, -0x1.0b9874p+7f, -0x1.12b07ap+5f, -0x1.15168cp+6f,
        -0x1.2cc4b6p+1f, -0x1.478af6p+2f, 0x1.701a3cp-1f, 0x1.03204cp-2f,
        0x1.9c0af8p-3f, -0x1.73dc34p-4f, 0x1.54cf7ap-4f, 0x1.9b660ep-3f,
        0x1.ae67ep-4f, 0x1.616322p-4f, 0x1.8258eap-5f, -0x1.14398ep-10f,
        -0x1.bdd51ep-5f, -0x1.e9dd6ep-5f, -0x1.3bb70ap-6f, 0x1.e38cbp-9f,
    },
    {  // a6
        -0x1.6e7f06p-11f, -0x1.49636ep-13f, -0x1.3524eep-17f, -0x1.6cc086p-23f,
        -0x1.70efaap-29f, 0.0f, 0x1.191b8p+22f, -0x1.92c0e8p+23f,
        0x1.231fcep+18f, -0x1.0467c2p+20f, -0x1.51a84cp+16f, -0x1.e0a018p+14f,
        0x1.0085dep+14f, 0x1.cc4aaep+13f, 0x1.301498p+11f, 0x1.056d42p+12f,
        -0x1.19f4c8p+7f, -0x1.0d663ap+13f, -0x1.c5286cp+8f, -0x1.311fcap+9f,
        -0x1.ad56d2p+4f, 0x1.fed8d8p+5f, 0x1.0ec626p+3f, -0x1.641cf6p+4f,
        0x1.cd53acp-1f, -0x1.61c928p+0f, -0x1.bf04b2p-4f, 0x1.4c124ep-4f,
        -0x1.82932ep-6f, 0x1.b067d6p-7f, 0x1.ef33c4p-7f, 0x1.105866p-9f,
    },
    {  // a7
        0x1.f34946p-15f, 0x1.5f4358p-15f, 0x1.5f0ea8p-19f, 0x1.9ed20ap-25f,
        -0x1.410c92p-31f, 0.0f, -0x1.35d308p+34f, -0x1.0b41b6p+34f,
        0x1.21c9fep+33f, 0x1.c2cc8cp+36f, 0x1.2b04d6p+31f, 0x1.00ec2cp+28f,
        0x1.15601ep+28f, 0x1.615816p+28f, 0x1.52d81cp+24f, 0x1.6ac146p+25f,
        0x1.5e74ep+18f, 0x1.4f8daep+19f, -0x1.52b9d4p+14f, -0x1.ee5cb4p+11f,
        -0x1.410b12p+9f, 0x1.c4562ap+10f, 0x1.912c3cp+6f, -0x1.4a7908p+7f,
        0x1.c20db8p+0f, -0x1.5f4ebep-1f, -0x1.f148c4p-3f, -0x1.40e4ccp-1f,
        0x1.9009fap-8f, 0x1.75ca26p-5f, -0x1.0b1a34p-8f, -0x1.f93686p-10f,
    },
};

LUMADEX_AVX512 inline __m512 TanhOf16(__m512 x)
{
    constexpr int kDegree = sizeof(kTanhTable) / sizeof(kTanhTable[0]) - 2;
    // min returns its second operand, |x|, when that is NaN.
    const __m512 clamped = _mm512_min_ps(_mm512_set1_ps(9.5f), _mm512_abs_ps(x));
    const __m512 floor = _mm512_max_ps(clamped, _mm512_set1_ps(0x1.7fffffp-13f));
    const __m512i index = _mm512_srli_epi32(_mm512_castps_si512(floor), 22);
    const __m512 t = _mm512_sub_ps(clamped, TableEntry(kTanhTable[0], index));
    __m512 p = TableEntry(kTanhTable[kDegree + 1], index);
#pragma GCC unroll 16
    for (int j = kDegree; j >= 1; --j) p = _mm512_fmadd_ps(p, t, TableEntry(kTanhTable[j], index));
    const __mmask16 small = _mm512_cmp_ps_mask(clamped, _mm512_set1_ps(0.5f), _CMP_LT_OQ);
    p = _mm512_mask_add_ps(p, small, p, clamped);
    return WithSignOf(x, p);  // tanh(-0) = -0
}

}  // namespace

LUMADEX_AVX512 [[gnu::flatten]] void FloatCoshAvx512(MKL_INT n, const float* a, float* r) { avx512::Map<float, CoshOf16>(n, a, r); }
LUMADEX_AVX512 [[gnu::flatten]] void FloatSinhAvx512(MKL_INT n, const float* a, float* r) { avx512::Map<float, SinhOf16>(n, a, r); }
LUMADEX_AVX512 [[gnu::flatten]] void FloatTanhAvx512(MKL_INT n, const float* a, float* r) { avx512::Map<float, TanhOf16>(n, a, r); }

}  // namespace lumadex::vml
