// Single-precision logarithm family for AVX-512F: ln, log10, log1p, acosh,
// asinh and atanh, each within 1 ulp of the correctly rounded result over the
// whole float domain, without branches.
//
// All six reduce to one core, the natural logarithm of a positive float u
// plus a small correction. The core splits u = 2^e * m with m in [0.75, 1.5)
// (getexp/getmant), picks one of 32 cells of m from its top mantissa bits,
// and writes
//     log(u) = e*ln2 + log(c) + log1p(r),   r = m/c - 1,   |r| < 1/32,
// where 1/c is a table entry with 6 significant bits (so that r is exact) and
// log(c) is held as hi + lo, hi on a 2^-17 grid so that e*ln2hi + hi is exact. The cells next to 1 use c = 1, so
// near u = 1 the result is r plus a polynomial term, exact to the last bit.
// The three 32-entry tables live in register pairs read by permutex2var.
// Exceptional inputs (zero, negative, infinite, NaN) are set at the end by
// one fixupimm per input class.
#include <immintrin.h>

#include "avx512_loops.hpp"
#include "common.hpp"

// Everything below is built for AVX-512F; the helpers are forced inline so
// that the tables stay in registers across the loop.
LUMADEX_AVX512_BEGIN

namespace lumadex::vml {
namespace {

// Tables of the cells, indexed by bits 18..22 of m's encoding: entries 0..15
// cover m in [1, 1.5) in steps of 1/32, entries 16..31 cover m in [0.75, 1)
// in steps of 1/64. kInvC is 1/c with 6 significant bits (multiples of 1/64
// below 1, of 1/32 above), chosen per cell to make max |r| least, and 1 for
// the two cells touching 1: m*kInvC is then a multiple of 2^-29 below 2^-5
// away from 1, so r = m*kInvC - 1 is exact in float. kLogCHi + kLogCLo =
// -log(kInvC) to 2^-41, plus ln2 for entries 16..31, whose m < 1 makes
// getexp(u) one less than e. Generated with mpmath at 200 bits.
alignas(64) constexpr float kInvC[32] = {
    0x1p+0f, 0x1.e8p-1f, 0x1.d8p-1f, 0x1.dp-1f,
    0x1.cp-1f, 0x1.b8p-1f, 0x1.a8p-1f, 0x1.ap-1f,
    0x1.98p-1f, 0x1.88p-1f, 0x1.8p-1f, 0x1.78p-1f,
    0x1.7p-1f, 0x1.68p-1f, 0x1.6p-1f, 0x1.58p-1f,
    0x1.5p+0f, 0x1.48p+0f, 0x1.48p+0f, 0x1.4p+0f,
    0x1.38p+0f, 0x1.3p+0f, 0x1.3p+0f, 0x1.28p+0f,
    0x1.2p+0f, 0x1.2p+0f, 0x1.18p+0f, 0x1.1p+0f,
    0x1.1p+0f, 0x1.08p+0f, 0x1.08p+0f, 0x1p+0f,
};
alignas(64) constexpr float kLogCHi[32] = {
    0x0p+0f, 0x1.895p-5f, 0x1.4d3p-4f, 0x1.9338p-4f,
    0x1.1178p-3f, 0x1.366p-3f, 0x1.823cp-3f, 0x1.a94p-3f,
    0x1.d104p-3f, 0x1.1178p-2f, 0x1.2696p-2f, 0x1.3c26p-2f,
    0x1.522ap-2f, 0x1.68acp-2f, 0x1.7fbp-2f, 0x1.973ap-2f,
    0x1.af52p-2f, 0x1.c8p-2f, 0x1.c8p-2f, 0x1.e148p-2f,
    0x1.fb36p-2f, 0x1.0ae7p-1f, 0x1.0ae7p-1f, 0x1.188fp-1f,
    0x1.2696p-1f, 0x1.2696p-1f, 0x1.3503p-1f, 0x1.43dap-1f,
    0x1.43dap-1f, 0x1.5323p-1f, 0x1.5323p-1f, 0x1.62e4p-1f,
};
alignas(64) constexpr float kLogCLo[32] = {
    0x0p+0f, -0x1.57ad82p-19f, 0x1.15d208p-20f, -0x1.0d1536p-19f,
    0x1.d044fcp-20f, -0x1.a7f538p-22f, 0x1.6551a4p-23f, -0x1.2c3752p-19f,
    -0x1.01b354p-20f, 0x1.d044fcp-19f, 0x1.089a6ep-21f, -0x1.b1199ap-19f,
    0x1.c0e714p-19f, 0x1.07d38ep-19f, -0x1.7109fap-20f, 0x1.a189acp-21f,
    0x1.2a491ap-19f, -0x1.8e2eaap-20f, -0x1.8e2eaap-20f, 0x1.4344e4p-19f,
    -0x1.d4216ep-20f, 0x1.b8b416p-19f, 0x1.b8b416p-19f, -0x1.bf0dc4p-21f,
    0x1.089a6ep-20f, 0x1.089a6ep-20f, -0x1.d4989cp-19f, -0x1.a0db88p-26f,
    -0x1.a0db88p-26f, -0x1.d97988p-21f, -0x1.d97988p-21f, 0x1.7f7d1cp-20f,
};

// log1p(r) = r + r^2 * (P0 + P1 r + P2 r^2 + P3 r^3) on r in [-0.0206, 1/32]:
// discrete minimax for the error relative to log1p(r) (scipy linprog on 4000
// points, P0 held at -1/2), float coefficients, relative error below
// 0.013 * 2^-24.
constexpr float kP[4] = {-0x1p-1f, 0x1.55555ap-2f, -0x1.001cc8p-2f, 0x1.96073ep-3f};
constexpr float kLn2Hi = 0x1.62e4p-1f, kLn2Lo = 0x1.7f7d1cp-20f;  // hi on the 2^-17 grid
constexpr float kLn2 = 0x1.62e43p-1f;
constexpr float kInvLn10Hi = 0x1.bcb7b2p-2f, kInvLn10Lo = -0x1.5b235ep-27f;

using V = __m512;

LUMADEX_AVX512_INLINE V Set(float x) { return _mm512_set1_ps(x); }

// a + b = hi + lo exactly, for |a| >= |b| or a = 0 (Fast2Sum).
struct Pair {
    V hi, lo;
};
LUMADEX_AVX512_INLINE Pair FastTwoSum(V a, V b)
{
    V s = _mm512_add_ps(a, b);
    return {s, _mm512_sub_ps(b, _mm512_sub_ps(s, a))};
}

// 1/x within about 2^-23: the 14-bit estimate and one Newton step.
LUMADEX_AVX512_INLINE V Recip(V x)
{
    V r = _mm512_rcp14_ps(x);
    return _mm512_fmadd_ps(r, _mm512_fnmadd_ps(x, r, Set(1)), r);
}

// x with the sign of s.
LUMADEX_AVX512_INLINE V CopySign(V x, V s)
{
    __m512i sign = _mm512_set1_epi32(INT32_MIN);
    return _mm512_castsi512_ps(_mm512_ternarylogic_epi32(sign, _mm512_castps_si512(s), _mm512_castps_si512(x), 0xCA));
}

// fixupimm replaces a result by a constant chosen by the class of an input:
// one 4-bit response per class, in the order QNaN, SNaN, zero, +1, -inf,
// +inf, negative, positive. Responses used: 0 the result, 1 the input,
// 2 the input's NaN made quiet, 3 the default NaN, 4 -inf, 5 +inf, 8 +0.
constexpr int Responses(int qnan, int snan, int zero, int one, int ninf, int pinf, int neg, int pos)
{
    return qnan | snan << 4 | zero << 8 | one << 12 | ninf << 16 | pinf << 20 | neg << 24 | pos << 28;
}
template <int kTable>
LUMADEX_AVX512_INLINE V Fixup(V result, V input)
{
    return _mm512_fixupimm_ps(result, input, _mm512_set1_epi32(kTable), 0);
}

// The core: the tables in registers, loaded once per call.
class LogCore {
public:
    LogCore()
        : invc0_(_mm512_load_ps(kInvC)), invc1_(_mm512_load_ps(kInvC + 16)),
          hi0_(_mm512_load_ps(kLogCHi)), hi1_(_mm512_load_ps(kLogCHi + 16)),
          lo0_(_mm512_load_ps(kLogCLo)), lo1_(_mm512_load_ps(kLogCLo + 16))
    {
    }

    // log(u) as hi + lo, hi carrying the leading bits; meaningful for finite
    // u > 0 (subnormals included: getexp/getmant normalise them).
    LUMADEX_AVX512_INLINE Pair Split(V u) const
    {
        V m = _mm512_getmant_ps(u, _MM_MANT_NORM_p75_1p5, _MM_MANT_SIGN_nan);
        V e = _mm512_getexp_ps(u);
        __m512i cell = _mm512_srli_epi32(_mm512_castps_si512(m), 18);
        V invc = _mm512_permutex2var_ps(invc0_, cell, invc1_);
        V log_c_hi = _mm512_permutex2var_ps(hi0_, cell, hi1_);
        V log_c_lo = _mm512_permutex2var_ps(lo0_, cell, lo1_);
        // r = m/c - 1, exact (see kInvC).
        V r = _mm512_fmsub_ps(m, invc, Set(1));
        V poly = _mm512_fmadd_ps(_mm512_fmadd_ps(_mm512_fmadd_ps(Set(kP[3]), r, Set(kP[2])), r, Set(kP[1])), r, Set(kP[0]));
        V hi = _mm512_fmadd_ps(e, Set(kLn2Hi), log_c_hi);  // exact: both on the 2^-17 grid, |hi| < 2^7
        V lo = _mm512_fmadd_ps(e, Set(kLn2Lo), log_c_lo);
        lo = _mm512_fmadd_ps(_mm512_mul_ps(r, r), poly, lo);
        // hi + r exactly as a pair (|hi| >= |r| unless hi = 0), so that only
        // the final addition rounds at the result's scale.
        Pair s = FastTwoSum(hi, r);
        return {s.hi, _mm512_add_ps(s.lo, lo)};
    }

    // log(u + d) given tail = d/u, |d| small against u; edge values of u
    // (zero, negative, infinite, NaN) as C99 log.
    LUMADEX_AVX512_INLINE V Log(V u, V tail) const
    {
        Pair p = Split(u);
        return FixLog(_mm512_add_ps(p.hi, _mm512_add_ps(p.lo, tail)), u);
    }
    LUMADEX_AVX512_INLINE V Log(V u) const
    {
        Pair p = Split(u);
        return FixLog(_mm512_add_ps(p.hi, p.lo), u);
    }

    // Sets the results of a logarithm of u for u zero, negative, infinite or NaN.
    LUMADEX_AVX512_INLINE static V FixLog(V result, V u) { return Fixup<Responses(2, 2, 4, 0, 3, 5, 3, 0)>(result, u); }

private:
    V invc0_, invc1_, hi0_, hi1_, lo0_, lo1_;
};

// The part d/u of log(u + d) = log(u) + d/u - ..., for |d| <= 2^-22 u.
LUMADEX_AVX512_INLINE V Ratio(V d, V u) { return _mm512_div_ps(d, u); }

// ln x.
LUMADEX_AVX512_INLINE V Ln(const LogCore& core, V x) { return core.Log(x); }

// log10 x = (s + t) / ln 10 for ln x = s + t: s * (1/ln10)hi enters the last
// fma unrounded, the rest is small.
LUMADEX_AVX512_INLINE V Log10(const LogCore& core, V x)
{
    Pair ln = core.Split(x);
    V rest = _mm512_fmadd_ps(ln.hi, Set(kInvLn10Lo), _mm512_mul_ps(ln.lo, Set(kInvLn10Hi)));
    return LogCore::FixLog(_mm512_fmadd_ps(ln.hi, Set(kInvLn10Hi), rest), x);
}

// log1p x = log(u + d) with u + d = 1 + x exactly.
LUMADEX_AVX512_INLINE V Log1p(const LogCore& core, V x)
{
    Pair w = FastTwoSum(_mm512_max_ps(x, Set(1)), _mm512_min_ps(x, Set(1)));
    V result = core.Log(w.hi, Ratio(w.lo, w.hi));
    return Fixup<Responses(2, 2, 1, 0, 0, 0, 0, 0)>(result, x);  // NaN, and -0 kept
}

// Below |x| = 2^-12 an odd function f(x) = x + c3 x^3 + O(x^5) (asinh, atanh)
// is its two-term series to 2^-50 |x|, where the logarithm's leading part and
// its correction would cancel: the series replaces the result there.
LUMADEX_AVX512_INLINE V SmallOdd(V result, V x, float c3)
{
    V x2 = _mm512_mul_ps(x, x);
    V series = _mm512_fmadd_ps(x, _mm512_mul_ps(x2, Set(c3)), x);
    return _mm512_mask_mov_ps(result, _mm512_cmp_ps_mask(x2, Set(0x1p-24f), _CMP_LT_OQ), series);
}

// Beyond this, acosh x = log 2x and asinh x = log 2x to within 2^-26, and
// the square roots below would lose x^2 to overflow.
constexpr float kLarge = 0x1p12f;

// log(a + r + rl) for a square root r + rl beside a >= 0, the sum split
// again as u + d with Fast2Sum on `larger` and `smaller` (a and r in the
// order of their sizes); beyond kLarge log(a) + ln 2, as log 2a.
LUMADEX_AVX512_INLINE V LogOfSumWithRoot(const LogCore& core, V a, V larger, V smaller, V rl)
{
    Pair w = FastTwoSum(larger, smaller);
    __mmask16 large = _mm512_cmp_ps_mask(a, Set(kLarge), _CMP_GT_OQ);
    V u = _mm512_mask_mov_ps(w.hi, large, a);
    V tail = _mm512_mask_mov_ps(Ratio(_mm512_add_ps(w.lo, rl), u), large, Set(kLn2));
    return core.Log(u, tail);
}

// acosh x = log(x + s), s = sqrt(x^2 - 1) carried as s + sl: with e = x - 1
// (exact), x^2 - 1 = e(2 + e) = p + pl exactly to 2^-48 for x <= 3, and
// sl = (p + pl - s^2) / 2s.
LUMADEX_AVX512_INLINE V Acosh(const LogCore& core, V x)
{
    V e = _mm512_sub_ps(x, Set(1));
    V e2 = _mm512_add_ps(e, e);
    V p = _mm512_fmadd_ps(e, e, e2);
    V pl = _mm512_fmadd_ps(e, e, _mm512_sub_ps(e2, p));
    V s = _mm512_sqrt_ps(p);
    V sl = _mm512_mul_ps(_mm512_add_ps(_mm512_fnmadd_ps(s, s, p), pl), _mm512_rcp14_ps(_mm512_add_ps(s, s)));
    // acosh 1 = +0, x < 1 -> NaN
    return Fixup<Responses(0, 0, 3, 8, 3, 0, 3, 0)>(LogOfSumWithRoot(core, x, x, s, sl), x);
}

// asinh x = sign(x) log(y + t), y = |x|, t = sqrt(y^2 + 1) carried as t + tl:
// y^2 + 1 = q + ql exactly to 2^-48 for y <= 1, tl = (q + ql - t^2) / 2t;
// the series y - y^3/6 below y = 2^-12.
LUMADEX_AVX512_INLINE V Asinh(const LogCore& core, V x)
{
    V y = _mm512_abs_ps(x);
    V q = _mm512_fmadd_ps(y, y, Set(1));
    V ql = _mm512_fmadd_ps(y, y, _mm512_sub_ps(Set(1), q));
    V t = _mm512_sqrt_ps(q);
    V tl = _mm512_mul_ps(_mm512_add_ps(_mm512_fnmadd_ps(t, t, q), ql), Recip(_mm512_add_ps(t, t)));
    return CopySign(SmallOdd(LogOfSumWithRoot(core, y, t, y, tl), y, -1.0f / 6), x);
}

// atanh x = log(q) / 2, q = (1 + x) / (1 - x): with 1 + x = n + nl and
// 1 - x = v + vl exactly, u = n/v rounded and the exact residual
// n + nl - u (v + vl) = d (v + vl) give q = u + d, d/u = residual / n
// to 2^-23; the series x + x^3/3 below |x| = 2^-12.
LUMADEX_AVX512_INLINE V Atanh(const LogCore& core, V x)
{
    Pair n = FastTwoSum(Set(1), x);
    Pair v = FastTwoSum(Set(1), _mm512_sub_ps(_mm512_setzero_ps(), x));
    V u = _mm512_div_ps(n.hi, v.hi);
    V residual = _mm512_add_ps(_mm512_fnmadd_ps(u, v.lo, _mm512_fnmadd_ps(u, v.hi, n.hi)), n.lo);
    V result = _mm512_mul_ps(Set(0.5f), core.Log(u, _mm512_div_ps(residual, n.hi)));
    return SmallOdd(result, x, 1.0f / 3);
}

}  // namespace

#define LUMADEX_FLOAT_LOG_KERNEL(OP)                                                   \
    LUMADEX_AVX512 void Float##OP##Avx512(MKL_INT n, const float* a, float* r) \
    {                                                                                  \
        const LogCore core;                                                            \
        avx512::MapWith(n, a, r, [&core](V x) LUMADEX_AVX512_LAMBDA { return OP(core, x); });                            \
    }

LUMADEX_FLOAT_LOG_KERNEL(Ln)
LUMADEX_FLOAT_LOG_KERNEL(Log10)
LUMADEX_FLOAT_LOG_KERNEL(Log1p)
LUMADEX_FLOAT_LOG_KERNEL(Acosh)
LUMADEX_FLOAT_LOG_KERNEL(Asinh)
LUMADEX_FLOAT_LOG_KERNEL(Atanh)

#undef LUMADEX_FLOAT_LOG_KERNEL

}  // namespace lumadex::vml

LUMADEX_AVX512_END
