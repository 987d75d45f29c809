// Double-precision logarithm family for AVX-512: Ln, Log10, Log1p, Acosh,
// Asinh and Atanh, each within 1 ulp of the correctly rounded result
// (measured: 0.67 ulp at most).
//
// One core computes log h: Reduce() splits h = C (1 + r), C = 2^k c with c
// from a 16-entry table (register tables read with permutes), r small; then
// Finish() adds k ln2 + log c + log1p(r) as a double-double, log1p(r) by a
// polynomial. Each function hands the core its argument of the logarithm
// as an exact numerator n = h - C plus a tail: log1p and atanh (through
// log1p(2|x| / (1 - |x|))) form 1 + z - C exactly, asinh and acosh build
// |x| + sqrt(x^2 +- 1) as a double-double with error-free transformations
// (two-sum, fma products, a corrected square root). Thus the argument's
// rounding costs nothing, the core's errors stay near 2^-56 of the result,
// and the final rounding of hi + lo gives an error a little above half an
// ulp.
//
// Each kernel tests a vector of 8 lanes once: when every lane lies in the
// common range the fast path runs; otherwise the general path computes the
// same formulas (bit for bit in the common lanes) and overrides the
// exceptional lanes (NaN, infinities, zeros, poles, domain errors, tiny
// and huge arguments) per lane.
#include <immintrin.h>

#include <limits>

#include "common.hpp"
#include "double_cores.hpp"

namespace lumadex::vml {
namespace {

using namespace dcore;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

// The reduction points c = 1 + j/16, j = 0..15, indexed by j:
// kInvCBits[j] = bits(1/c rounded to double) + (1023 << 52) + (j << 48), from
// which 1/C = 1/(2^e c) = bits kInvCBits[j] - bits(C) (exact: integer
// exponent arithmetic); log c = hi + lo with hi a multiple of 2^-42 (so that
// k kLn2Hi + hi is exact) and |lo| < 2^-43. Generated with mpmath at 300 bits.
alignas(64) constexpr std::uint64_t kInvCBits[16] = {
    0x7fe0000000000000, 0x7fdf1e1e1e1e1e1e, 0x7fde71c71c71c71c, 0x7fddf286bca1af28,
    0x7fdd99999999999a, 0x7fdd618618618618, 0x7fdd45d1745d1746, 0x7fdd42c8590b2164,
    0x7fdd555555555555, 0x7fdd7ae147ae147b, 0x7fddb13b13b13b14, 0x7fddf684bda12f68,
    0x7fde492492492492, 0x7fdea7b9611a7b96, 0x7fdf111111111111, 0x7fdf842108421084};
alignas(64) constexpr double kLogCHi[16] = {
    0x0.0p+0,             0x1.f0a30c0118000p-5, 0x1.e27076e2b0000p-4, 0x1.5ff3070a7a000p-3,
    0x1.c8ff7c79aa000p-3, 0x1.1675cababa000p-2, 0x1.4618bc21c6000p-2, 0x1.739d7f6bbd000p-2,
    0x1.9f323ecbfa000p-2, 0x1.c8ff7c79aa000p-2, 0x1.f128f5faf0000p-2, 0x1.0be72e4252800p-1,
    0x1.1e85f5e704000p-1, 0x1.307d7334f1000p-1, 0x1.41d8fe8467000p-1, 0x1.52a2d265bc800p-1};
alignas(64) constexpr double kLogCLo[16] = {
    0x0.0p+0,               -0x1.d599e83368e91p-45, -0x1.a342c2af0003cp-45, -0x1.8586f183bebf2p-44,
    -0x1.7794f689f8434p-45, 0x1.8380e731f55c4p-44,  -0x1.3d82f484c84ccp-46, 0x1.a7389314feb50p-52,
    -0x1.ed03525ca2643p-44, -0x1.7794f689f8434p-44, 0x1.bb2cd720ec44cp-44,  0x1.415b4c4bdd99fp-44,
    0x1.a07bd8b34be7cp-46,  0x1.7c3f6b2143eadp-46,  0x1.5732325e617a3p-44,  -0x1.2a88c41ba8752p-44};

// log1p(r) = r + r^2 q(r) on r in [-1/34, 1/32] (the reduced range below):
// q of degree 7, a Remez fit of the relative error of q (mpmath, 160 bits),
// coefficients rounded to double: max relative error of q 2^-49.6, so that
// r^2 q errs by at most 2^-55.6 of the result (r^2/2 <= 2^-6 |result|
// away from C = 1, and r^2/2 <= |r|/64 at C = 1), under 0.17 ulp.
constexpr double kQ[8] = {-0x1.ffffffffffff6p-2, 0x1.55555555557c0p-2,  -0x1.0000000054137p-2,
                          0x1.9999998d25562p-3,  -0x1.55554759a95fep-3, 0x1.2492c1c5d3a91p-3,
                          -0x1.005f970f42b40p-3, 0x1.c4d542d5ecb8fp-4};

// 1/ln 10 = hi + lo.
constexpr double kInvLn10Hi = 0x1.bcb7b1526e50ep-2;
constexpr double kInvLn10Lo = 0x1.95355baaafad3p-57;

LUMADEX_AVX512_INLINE __m512d Abs(__m512d x) { return Double(_mm512_andnot_si512(Bits(Set(-0.0)), Bits(x))); }

// r with the sign bit of x added: for results that have the sign of their
// argument (log1p, asinh, atanh), which also keeps f(-0) = -0.
LUMADEX_AVX512_INLINE __m512d OrSign(__m512d r, __m512d x)
{
    return Double(_mm512_ternarylogic_epi64(Bits(r), Bits(x), Bits(Set(-0.0)), 0xF8));  // r | (x & sign)
}

// sqrt(h + l) = hi + lo for h > 0 (l up to 2^-25 h): the correction
// (h - hi^2 + l) / (2 hi), the residual exact by fma, divided through a
// reciprocal of 14 bits refined by one cubically converging step to ~42
// bits (the correction may reach 2^-26 of hi: acosh near 1, where x^2 - 1
// has a tail far beyond its last bit; and for asinh of small x it carries
// the leading bits of the result).
LUMADEX_AVX512_INLINE Dd SqrtDd(__m512d h, __m512d l)
{
    const __m512d s = _mm512_sqrt_pd(h);
    const __m512d y0 = _mm512_rcp14_pd(s);
    const __m512d e = _mm512_fnmadd_pd(s, y0, Set(1.0));
    const __m512d y = _mm512_fmadd_pd(_mm512_fmadd_pd(e, e, e), y0, y0);  // y0 (1 + e + e^2)
    const __m512d res = _mm512_add_pd(_mm512_fnmadd_pd(s, s, h), l);
    return {s, _mm512_mul_pd(_mm512_mul_pd(res, Set(0.5)), y)};
}

// The reduction of a positive normal h (up to 2^1000 either way):
// C = 2^k c, h rounded to 5 significant bits, c = 1 + j/16, so that
// r = (h - C)/C lies in [-1/34, 1/32] (C = 2^k takes h in
// [2^k (1 - 1/64), 2^k (1 + 1/32))); h - C is exact (Sterbenz).
struct Reduction {
    __m512d k, c, invC, logcHi, logcLo;
};

LUMADEX_AVX512_INLINE Reduction Reduce(__m512d h)
{
    // Rounding the mantissa to 4 bits in the integer bits: a carry out of
    // it moves to the next power of two, as it should.
    const __m512i cBits = _mm512_and_si512(_mm512_add_epi64(Bits(h), _mm512_set1_epi64(std::int64_t{1} << 47)),
                                           _mm512_set1_epi64(-(std::int64_t{1} << 48)));
    const __m512i j = _mm512_srli_epi64(cBits, 48);  // permutes read its low 4 bits
    const __m512i invCBits = _mm512_sub_epi64(dcore::Read16(kInvCBits, j), cBits);
    return {_mm512_getexp_pd(Double(cBits)), Double(cBits), Double(invCBits), dcore::Read16(kLogCHi, j),
            dcore::Read16(kLogCLo, j)};
}

// a + b r
LUMADEX_AVX512_INLINE __m512d Pair(__m512d r, double a, double b) { return _mm512_fmadd_pd(Set(b), r, Set(a)); }

// log(2^k c) + log1p(rh) + rl = hi + lo (not normalized; |lo| < 2^-5 |hi|
// or hi = 0) for |rl| <= 2^-40, and |rl| <= 2^-20 |rh| where C = 1:
// k ln2hi + log c hi is exact and is either 0 (C = 1) or larger than |rh|,
// so a fast two-sum adds rh exactly; the rest is below 2^-5 of the result.
LUMADEX_AVX512_INLINE Dd Finish(const Reduction& c, __m512d rh, __m512d rl)
{
    // q by Estrin's scheme, for a short dependency chain.
    const __m512d r2 = _mm512_mul_pd(rh, rh);
    const __m512d q03 = _mm512_fmadd_pd(Pair(rh, kQ[2], kQ[3]), r2, Pair(rh, kQ[0], kQ[1]));
    const __m512d q47 = _mm512_fmadd_pd(Pair(rh, kQ[6], kQ[7]), r2, Pair(rh, kQ[4], kQ[5]));
    const __m512d q = _mm512_fmadd_pd(q47, _mm512_mul_pd(r2, r2), q03);
    const Dd s = FastTwoSum(_mm512_fmadd_pd(c.k, Set(kLn2Hi), c.logcHi), rh);
    const __m512d lo = _mm512_add_pd(_mm512_fmadd_pd(c.k, Set(kLn2Lo), c.logcLo), _mm512_add_pd(rl, s.lo));
    return {s.hi, _mm512_fmadd_pd(r2, q, lo)};
}

// log(C + n) = hi + lo for the exact numerator n = h - C: rh = n (1/C), and
// rl from the residual n - rh C, exact by fma (C has 5 bits).
LUMADEX_AVX512_INLINE Dd LogRatio(const Reduction& c, __m512d n)
{
    const __m512d rh = _mm512_mul_pd(n, c.invC);
    return Finish(c, rh, _mm512_mul_pd(_mm512_fnmadd_pd(rh, c.c, n), c.invC));
}

// log(C + n + t) = hi + lo for the exact numerator n and a tail t with
// |t| <= 2^-40 C, and |t| <= 2^-20 |n| where C = 1: as above, t/C joining
// rl, and log1p(rh + rl) = log1p(rh) + rl (1 - rh + rh^2) to O(rl rh^3 +
// rl^2), below 2^-60 of the result.
LUMADEX_AVX512_INLINE Dd LogRatio(const Reduction& c, __m512d n, __m512d t)
{
    const __m512d rh = _mm512_mul_pd(n, c.invC);
    const __m512d rl = _mm512_mul_pd(_mm512_add_pd(_mm512_fnmadd_pd(rh, c.c, n), t), c.invC);
    return Finish(c, rh, _mm512_fmadd_pd(rl, _mm512_fmsub_pd(rh, rh, rh), rl));
}

// Reduce() for the fast path (h within 2^+-1000), and with kGeneral for any
// positive normal or subnormal h: lanes outside [2^-1000, 2^1000] are scaled
// by 2^+-64 into it, and the reduction is that of 2^k h.
template <bool kGeneral>
LUMADEX_AVX512_INLINE Reduction ReduceAny(__m512d& h, __m512d k)
{
    if constexpr (!kGeneral) {
        return Reduce(h);
    } else {
        const __mmask8 small = _mm512_cmp_pd_mask(h, Set(0x1p-1000), _CMP_LT_OQ);
        const __mmask8 large = _mm512_cmp_pd_mask(h, Set(0x1p1000), _CMP_GT_OQ);
        k = _mm512_mask_add_pd(_mm512_mask_sub_pd(k, small, k, Set(64.0)), large, k, Set(64.0));
        h = _mm512_mask_mul_pd(_mm512_mask_mul_pd(h, small, h, Set(0x1p64)), large, h, Set(0x1p-64));
        Reduction c = Reduce(h);
        c.k = _mm512_add_pd(c.k, k);
        return c;
    }
}

// log h = hi + lo.
template <bool kGeneral>
LUMADEX_AVX512_INLINE Dd Log(__m512d h)
{
    const Reduction c = ReduceAny<kGeneral>(h, Set(0.0));
    return LogRatio(c, _mm512_sub_pd(h, c.c));
}

// log(2^k (h + l)) = hi + lo for a tail |l| <= 2^-40 h, and |l| <= 2^-20
// |h - 1| near 1 (l = 0 outside 2^+-1000).
template <bool kGeneral>
LUMADEX_AVX512_INLINE Dd LogDd(__m512d h, __m512d l, __m512d k = __m512d{})
{
    const Reduction c = ReduceAny<kGeneral>(h, k);
    return LogRatio(c, _mm512_sub_pd(h, c.c), l);
}

// The reduction of h = 1 + z rounded for log1p z, and the exact numerator
// n = 1 + z - C. For -1 + 2^-40 < z < 2^52 that is (1 - C) + z: 1 - C is
// exact (C has 5 bits, 2^-41 <= C < 2^53), and so is the sum, being
// 1 + z - C, below C/32, on the grid of z's and C's last bits. In the
// general path the lanes z <= -1/2 (where h is exact) and z >= 2^52 (where
// 1 + z = h to 2^-53) take h - C, and beyond 2^1000, log1p z = log z.
template <bool kGeneral>
LUMADEX_AVX512_INLINE Reduction ReduceOnePlus(__m512d z, __m512d& n)
{
    const __m512d one = Set(1.0);
    __m512d h = _mm512_add_pd(one, z);
    const Reduction c = ReduceAny<kGeneral>(h, Set(0.0));
    n = _mm512_add_pd(_mm512_sub_pd(one, c.c), z);
    if constexpr (kGeneral) {
        const __mmask8 other =
            _mm512_cmp_pd_mask(z, Set(-0.5), _CMP_LE_OQ) | _mm512_cmp_pd_mask(z, Set(0x1p52), _CMP_GE_OQ);
        n = _mm512_mask_sub_pd(n, other, h, c.c);
    }
    return c;
}

LUMADEX_AVX512_INLINE __m512d Round(Dd x) { return _mm512_add_pd(x.hi, x.lo); }

// Lanes where x compares true with both bounds.
template <int lowCmp, int highCmp>
LUMADEX_AVX512_INLINE __mmask8 Within(__m512d x, double low, double high)
{
    return _mm512_mask_cmp_pd_mask(_mm512_cmp_pd_mask(x, Set(low), lowCmp), x, Set(high), highCmp);
}

LUMADEX_AVX512_INLINE __m512d Override(__m512d r, __mmask8 lanes, double v)
{
    return _mm512_mask_mov_pd(r, lanes, Set(v));
}

// NaN lanes of x become x + x (a quiet NaN from the argument).
LUMADEX_AVX512_INLINE __m512d KeepNan(__m512d r, __m512d x)
{
    return _mm512_mask_add_pd(r, _mm512_cmp_pd_mask(x, x, _CMP_UNORD_Q), x, x);
}

// Results at x = 0, x < 0, +inf and NaN of ln and log10.
LUMADEX_AVX512_INLINE __m512d LogEdges(__m512d r, __m512d x)
{
    r = Override(r, _mm512_cmp_pd_mask(x, Set(0.0), _CMP_EQ_OQ), -kInf);
    r = Override(r, _mm512_cmp_pd_mask(x, Set(0.0), _CMP_LT_OQ), kNan);
    r = Override(r, _mm512_cmp_pd_mask(x, Set(kInf), _CMP_EQ_OQ), kInf);
    return KeepNan(r, x);
}

// Beyond this |x|, asinh and acosh are log(2|x|) to within 2^-58 relative.
constexpr double kHuge = 0x1p26;
// Below this |x|, asinh x is x to within 2^-56 relative (its argument of
// the logarithm, near 1, carries only ~2^-106 absolute).
constexpr double kTiny = 0x1p-28;

// ln x: fast for x in [2^-1000, 2^1000].
struct LnOp {
    static constexpr double kFill = 1.0;
    LUMADEX_AVX512_INLINE static __mmask8 Fast(__m512d x)
    {
        return Within<_CMP_GE_OQ, _CMP_LE_OQ>(x, 0x1p-1000, 0x1p1000);
    }
    template <bool kGeneral>
    LUMADEX_AVX512_INLINE static __m512d Lanes(__m512d x)
    {
        const __m512d r = Round(Log<kGeneral>(x));
        return kGeneral ? LogEdges(r, x) : r;
    }
};

// log10 x = ln x (1/ln 10), the product of two double-doubles.
struct Log10Op {
    static constexpr double kFill = 1.0;
    LUMADEX_AVX512_INLINE static __mmask8 Fast(__m512d x) { return LnOp::Fast(x); }
    template <bool kGeneral>
    LUMADEX_AVX512_INLINE static __m512d Lanes(__m512d x)
    {
        const Dd v = Log<kGeneral>(x);
        const __m512d p = _mm512_mul_pd(v.hi, Set(kInvLn10Hi));
        const __m512d pe = _mm512_fmsub_pd(v.hi, Set(kInvLn10Hi), p);
        const __m512d tail = _mm512_fmadd_pd(v.hi, Set(kInvLn10Lo), _mm512_fmadd_pd(v.lo, Set(kInvLn10Hi), pe));
        const __m512d r = _mm512_add_pd(p, tail);
        return kGeneral ? LogEdges(r, x) : r;
    }
};

// log1p x = log(C) + log1p((1 + x - C)/C), C from 1 + x. Fast for
// -1 + 2^-40 < x < 2^52.
struct Log1pOp {
    static constexpr double kFill = 0.0;
    LUMADEX_AVX512_INLINE static __mmask8 Fast(__m512d x)
    {
        return Within<_CMP_GT_OQ, _CMP_LT_OQ>(x, -1.0 + 0x1p-40, 0x1p52);
    }
    template <bool kGeneral>
    LUMADEX_AVX512_INLINE static __m512d Lanes(__m512d x)
    {
        __m512d n;
        const Reduction c = ReduceOnePlus<kGeneral>(x, n);
        __m512d r = OrSign(Round(LogRatio(c, n)), x);
        if constexpr (kGeneral) {
            r = Override(r, _mm512_cmp_pd_mask(x, Set(-1.0), _CMP_EQ_OQ), -kInf);
            r = Override(r, _mm512_cmp_pd_mask(x, Set(-1.0), _CMP_LT_OQ), kNan);
            r = Override(r, _mm512_cmp_pd_mask(x, Set(kInf), _CMP_EQ_OQ), kInf);
            r = KeepNan(r, x);
        }
        return r;
    }
};

// asinh x = sign(x) log(|x| + sqrt(x^2 + 1)), the argument as a
// double-double: x^2 = p + pe by fma, 1 + p by a fast two-sum (exact for
// p < 2^53 even when p > 1: 1 - (1 + p) is exact, and adding p is
// Sterbenz's case), the corrected square root, and |x| + sqrt by two-sum.
// Beyond 2^26, log(2|x|); below 2^-28, x. Fast for 2^-28 <= |x| < 2^26.
struct AsinhOp {
    static constexpr double kFill = 0.5;
    LUMADEX_AVX512_INLINE static __mmask8 Fast(__m512d x) { return Within<_CMP_GE_OQ, _CMP_LT_OQ>(Abs(x), kTiny, kHuge); }
    template <bool kGeneral>
    LUMADEX_AVX512_INLINE static __m512d Lanes(__m512d x)
    {
        const __m512d a = Abs(x);
        const __m512d p = _mm512_mul_pd(a, a);
        const Dd q = FastTwoSum(Set(1.0), p);
        const Dd s = SqrtDd(q.hi, _mm512_add_pd(q.lo, _mm512_fmsub_pd(a, a, p)));
        Dd arg = FastTwoSum(s.hi, a);
        arg.lo = _mm512_add_pd(arg.lo, s.lo);
        if constexpr (!kGeneral) return OrSign(Round(LogDd<false>(arg.hi, arg.lo)), x);
        const __mmask8 huge = _mm512_cmp_pd_mask(a, Set(kHuge), _CMP_GE_OQ);
        arg = {_mm512_mask_mov_pd(arg.hi, huge, a), _mm512_maskz_mov_pd(~huge, arg.lo)};
        __m512d r = Round(LogDd<true>(arg.hi, arg.lo, _mm512_maskz_mov_pd(huge, Set(1.0))));
        r = Override(r, _mm512_cmp_pd_mask(a, Set(kInf), _CMP_EQ_OQ), kInf);
        r = KeepNan(r, x);
        r = _mm512_mask_mov_pd(r, _mm512_cmp_pd_mask(a, Set(kTiny), _CMP_LT_OQ), a);
        return OrSign(r, x);
    }
};

// acosh x = log(x + sqrt(x^2 - 1)), x^2 - 1 as a double-double (fma product,
// then a fast two-sum with -1, as x^2 >= 1): near 1 the argument is
// 1 + sqrt(2(x - 1)) to full double-double accuracy. Beyond 2^26, log(2x).
// Fast for 1 < x < 2^26.
struct AcoshOp {
    static constexpr double kFill = 2.0;
    LUMADEX_AVX512_INLINE static __mmask8 Fast(__m512d x) { return Within<_CMP_GT_OQ, _CMP_LT_OQ>(x, 1.0, kHuge); }
    template <bool kGeneral>
    LUMADEX_AVX512_INLINE static __m512d Lanes(__m512d x)
    {
        const __m512d p = _mm512_mul_pd(x, x);
        Dd q = FastTwoSum(p, Set(-1.0));
        q.lo = _mm512_add_pd(q.lo, _mm512_fmsub_pd(x, x, p));
        const Dd s = SqrtDd(q.hi, q.lo);
        Dd arg = FastTwoSum(x, s.hi);
        arg.lo = _mm512_add_pd(arg.lo, s.lo);
        if constexpr (!kGeneral) return Round(LogDd<false>(arg.hi, arg.lo));
        const __mmask8 huge = _mm512_cmp_pd_mask(x, Set(kHuge), _CMP_GE_OQ);
        arg = {_mm512_mask_mov_pd(arg.hi, huge, x), _mm512_maskz_mov_pd(~huge, arg.lo)};
        __m512d r = Round(LogDd<true>(arg.hi, arg.lo, _mm512_maskz_mov_pd(huge, Set(1.0))));
        r = Override(r, _mm512_cmp_pd_mask(x, Set(1.0), _CMP_EQ_OQ), 0.0);
        r = Override(r, _mm512_cmp_pd_mask(x, Set(1.0), _CMP_LT_OQ), kNan);
        r = Override(r, _mm512_cmp_pd_mask(x, Set(kInf), _CMP_EQ_OQ), kInf);
        return KeepNan(r, x);
    }
};

// atanh x = sign(x) log1p(z) / 2, z = 2|x| / (1 - |x|) as a double-double:
// 1 - |x| = dh + dl exactly (fast two-sum), zh = 2|x| / dh rounded, and zl
// = (2|x| - zh dh - zh dl) / dh, the first residual exact by fma, the
// division by a 14-bit reciprocal (zl is below an ulp of zh). Then
// log1p(zh + zl) as for log1p, zl joining the tail: all relative to z, so
// that tiny and subnormal x come out right too. Fast for |x| <= 1 - 2^-50
// (where z < 2^52).
struct AtanhOp {
    static constexpr double kFill = 0.0;
    LUMADEX_AVX512_INLINE static __mmask8 Fast(__m512d x)
    {
        return _mm512_cmp_pd_mask(Abs(x), Set(1.0 - 0x1p-50), _CMP_LE_OQ);
    }
    template <bool kGeneral>
    LUMADEX_AVX512_INLINE static __m512d Lanes(__m512d x)
    {
        const __m512d a = Abs(x), a2 = _mm512_add_pd(a, a);
        const __m512d dh = _mm512_sub_pd(Set(1.0), a);
        const __m512d dl = _mm512_sub_pd(_mm512_sub_pd(Set(1.0), dh), a);
        const __m512d zh = _mm512_div_pd(a2, dh);
        const __m512d zl = _mm512_mul_pd(_mm512_fnmadd_pd(zh, dl, _mm512_fnmadd_pd(zh, dh, a2)), _mm512_rcp14_pd(dh));
        __m512d n;
        const Reduction c = ReduceOnePlus<kGeneral>(zh, n);
        __m512d r = _mm512_mul_pd(Round(LogRatio(c, n, zl)), Set(0.5));
        if constexpr (kGeneral) {
            r = Override(r, _mm512_cmp_pd_mask(a, Set(1.0), _CMP_EQ_OQ), kInf);
            r = Override(r, _mm512_cmp_pd_mask(a, Set(1.0), _CMP_GT_OQ), kNan);
            r = KeepNan(r, x);
        }
        return OrSign(r, x);
    }
};

template <class Op>
LUMADEX_AVX512_INLINE __m512d Eval(__m512d x)
{
    return Op::Fast(x) == 0xFF ? Op::template Lanes<false>(x) : Op::template Lanes<true>(x);
}

// Up to 8 elements through masked loads and stores (the unused lanes hold
// Op::kFill, a value of the fast path).
template <class Op>
LUMADEX_AVX512_INLINE void Partial(MKL_INT n, const double* a, double* r)
{
    const __mmask8 lanes = static_cast<__mmask8>((1u << n) - 1);
    _mm512_mask_storeu_pd(r, lanes, Eval<Op>(_mm512_mask_loadu_pd(Set(Op::kFill), lanes, a)));
}

// Two vectors per step (one test for both, and two independent chains for
// the scheduler), then the rest.
template <class Op>
LUMADEX_AVX512_INLINE void Run(MKL_INT n, const double* a, double* r)
{
    MKL_INT i = 0;
    for (; n - i >= 16; i += 16) {
        for (const MKL_INT line : {0, 8}) {
            Ahead(a + i + line);
            Ahead(r + i + line);
        }
        const __m512d x0 = _mm512_loadu_pd(a + i), x1 = _mm512_loadu_pd(a + i + 8);
        if ((Op::Fast(x0) & Op::Fast(x1)) == 0xFF) {
            _mm512_storeu_pd(r + i, Op::template Lanes<false>(x0));
            _mm512_storeu_pd(r + i + 8, Op::template Lanes<false>(x1));
        } else {
            _mm512_storeu_pd(r + i, Op::template Lanes<true>(x0));
            _mm512_storeu_pd(r + i + 8, Op::template Lanes<true>(x1));
        }
    }
    if (n - i >= 8) {
        _mm512_storeu_pd(r + i, Eval<Op>(_mm512_loadu_pd(a + i)));
        i += 8;
    }
    if (i < n) Partial<Op>(n - i, a + i, r + i);
}

}  // namespace

LUMADEX_AVX512 void DoubleLnAvx512(MKL_INT n, const double* a, double* r) { Run<LnOp>(n, a, r); }
LUMADEX_AVX512 void DoubleLog10Avx512(MKL_INT n, const double* a, double* r) { Run<Log10Op>(n, a, r); }
LUMADEX_AVX512 void DoubleLog1pAvx512(MKL_INT n, const double* a, double* r) { Run<Log1pOp>(n, a, r); }
LUMADEX_AVX512 void DoubleAsinhAvx512(MKL_INT n, const double* a, double* r) { Run<AsinhOp>(n, a, r); }
LUMADEX_AVX512 void DoubleAcoshAvx512(MKL_INT n, const double* a, double* r) { Run<AcoshOp>(n, a, r); }
LUMADEX_AVX512 void DoubleAtanhAvx512(MKL_INT n, const double* a, double* r) { Run<AtanhOp>(n, a, r); }

}  // namespace lumadex::vml
