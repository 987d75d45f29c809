// AVX-512F kernel for the double-precision power x^y, within 1 ulp of the
// correctly rounded result (measured: 0.62 ulp at most; bound about 0.7).
//
// x^y = e^(y log x). The result's relative error is y times the absolute
// error of log x, and |y log x| reaches 745 before the result under- or
// overflows, so log x is computed as a double-double to about 2^-65.5 of
// itself, y log x as a double-double (an fma product), and the exponential
// takes the low part into its reduced argument:
//
//  - log: x = 2^e m, rc = 1/m rounded to 6 bits (rcp14, roundscale), so that
//    r = m rc - 1 is exact and |r| < 2^-6 + 2^-13; log x = k ln2 -
//    log(1 + j/32) + log1p(r), the table of log(1 + j/32) as hi + lo in
//    registers; log1p(r) = r - r^2/2 + r^3 q(r), r^2/2 exact by fma, both
//    added by fast two-sums, q of degree 7. The errors stay below 2^-65.5
//    of log x (at most where |r| and |log x| are both near 2^-6).
//  - exp: y log x = z + zl, z = k ln2/16 + r1, e^(z + zl) =
//    2^floor(k/16) 2^(j/16) e^r1 (1 + zl - (k/16) ln2lo), the table 2^(j/16)
//    as hi and a relative tail in registers, e^r1 - 1 = r1 + r1^2 q(r1) with
//    q of degree 5 (2^-64), the tails to first order; 2^(j/16) (1 + p) is
//    rounded once by an fma, p rounded before (2^-57.5 of the result).
//
// Total before the final rounding: below 2^-55.5 of the result where
// |y log x| is near 745 (0.7 ulp with the final rounding), about 2^-57.5
// where it is small.
//
// The fast path takes every lane with |y log x| <= 708, which leaves the
// result a normal number and excludes x <= 0, infinite and NaN arguments
// (their logarithms or products are NaN or infinite); subnormal x take it
// too. A vector with any other lane runs the general path, which computes
// the same formulas (bit for bit in the common lanes) on |x| with zeros,
// infinities and NaN replaced by 1, clamps the exponent, scales by scalef
// (rounding once into overflow), rounds subnormal results once, and sets
// the exceptional lanes as C's pow does: x^+-0 = 1 and 1^y = 1
// even for NaN, (-1)^+-inf = 1, a negative finite x with a non-integer y
// gives NaN, an odd integer y keeps the sign of x (zeros and infinities
// included), zeros, infinities and infinite y give 0 or +inf by whether
// |x| > 1 and the sign of y, and NaN otherwise.
#include <immintrin.h>

#include <cstdint>
#include <limits>

#include "common.hpp"
#include "double_cores.hpp"

namespace lumadex::vml {
namespace {

using namespace dcore;

constexpr double kInf = std::numeric_limits<double>::infinity();

// log(1 + j/32), j = 0..31, as hi + lo with hi a multiple of 2^-42 (so that
// k kLn2Hi - hi is exact for |k| <= 1100) and |lo| < 2^-43. Generated with
// mpmath at 300 bits.
alignas(64) constexpr double kLogCHi[32] = {
    0x0.0p+0,             0x1.f829b0e780000p-6, 0x1.f0a30c0118000p-5, 0x1.6f0d28ae58000p-4, 0x1.e27076e2b0000p-4,
    0x1.29552f8200000p-3, 0x1.5ff3070a7a000p-3, 0x1.9525a9cf46000p-3, 0x1.c8ff7c79aa000p-3, 0x1.fb9186d5e4000p-3,
    0x1.1675cababa000p-2, 0x1.2e8e2bae12000p-2, 0x1.4618bc21c6000p-2, 0x1.5d1bdbf581000p-2, 0x1.739d7f6bbd000p-2,
    0x1.89a3386c14000p-2, 0x1.9f323ecbfa000p-2, 0x1.b44f77bcc9000p-2, 0x1.c8ff7c79aa000p-2, 0x1.dd46a04c1c000p-2,
    0x1.f128f5faf0000p-2, 0x1.02552a5a5d000p-1, 0x1.0be72e4252800p-1, 0x1.154c3d2f4d800p-1, 0x1.1e85f5e704000p-1,
    0x1.2795e1289b000p-1, 0x1.307d7334f1000p-1, 0x1.393e0d3562800p-1, 0x1.41d8fe8467000p-1, 0x1.4a4f85db04000p-1,
    0x1.52a2d265bc800p-1, 0x1.5ad404c35a000p-1};
alignas(64) constexpr double kLogCLo[32] = {
    0x0.0p+0,               0x1.980267c7e09e4p-45,  -0x1.d599e83368e91p-45, -0x1.4b4641b664613p-44,
    -0x1.a342c2af0003cp-45, -0x1.5b967f4471dfcp-44, -0x1.8586f183bebf2p-44, -0x1.297137d9f158fp-44,
    -0x1.7794f689f8434p-45, -0x1.d572aab993c87p-47, 0x1.8380e731f55c4p-44,  -0x1.67b1e99b72bd8p-45,
    -0x1.3d82f484c84ccp-46, -0x1.8d6bdc9c7c238p-44, 0x1.a7389314feb50p-52,  0x1.2d5ad38c40882p-45,
    -0x1.ed03525ca2643p-44, -0x1.3ae68224aa2cep-47, -0x1.7794f689f8434p-44, 0x1.282fb989a9274p-44,
    0x1.bb2cd720ec44cp-44,  0x1.fd8d38d2bafddp-46,  0x1.415b4c4bdd99fp-44,  -0x1.0b2b38662e34dp-44,
    0x1.a07bd8b34be7cp-46,  0x1.1aeb783f3db97p-45,  0x1.7c3f6b2143eadp-46,  0x1.0cd4e221301b7p-44,
    0x1.5732325e617a3p-44,  -0x1.44fdd840b8591p-45, -0x1.2a88c41ba8752p-44, -0x1.a609acaab41fcp-46};

// log1p(r) = r - r^2/2 + r^3 q(r) on |r| <= 2^-6 + 2^-13 (the reduced range
// below): q of degree 7, a least-squares fit on Chebyshev nodes (mpmath),
// each coefficient rounded to double before the rest were refitted; max
// absolute error of q 2^-55.6 (mostly the rounding of 1/3), so that r^3 q
// errs by at most 2^-73.6 absolute and 2^-67.6 relative to log1p(r). Stored
// times -2, for the factor -r^3/2 at hand.
constexpr double kQ[8] = {-0x1.5555555555555p-1, 0x1.0000000000000p-1,  -0x1.99999999a1236p-2,
                          0x1.5555555558375p-2,  -0x1.249247a6f84ffp-2, 0x1.fffffe2cee8dep-3,
                          -0x1.c755adf697005p-3, 0x1.99c64dc2fa148p-3};

// log x = hi + lo, normalised (|lo| <= ulp(hi)/2), for positive x, normal or
// subnormal (NaN for negative x, infinities or NaN for 0, inf and NaN: getmant
// gives NaN for a set sign bit, getexp -inf for zero).
//
// x = 2^e m, m in [1, 2) (getexp, getmant); rc = 1/m to 14 bits (rcp14)
// rounded to a multiple of 2^-6, so that r = m rc - 1 is exact in one fma
// (m rc lies on the grid 2^-58 and |r| <= 2^-6 + 2^-13 < 2^-5) and
// rc = 2^f (1 + j/32), f in {-1, 0}. Thus
//   log x = (e - f) ln2 - log(1 + j/32) + log1p(r)
//         = t0 + r - r^2/2 + [t0lo + r^3 q(r)],
// t0 = k kLn2Hi - log(1 + j/32) hi exact (k = e - f), t0lo the low parts.
// t0 is 0 (x in about [1 - 2^-6, 1 + 2^-7]) or at least log(64/63) > 2^-6 in
// magnitude (and then |log x| >= 2^-7), so a fast two-sum adds r exactly;
// -r^2/2 = p + pe exactly (r/2 is exact, fma), and a second fast two-sum
// adds p (|t0 + r| >= 2^-7 - 2^-13 > |p| where t0 != 0, |r| > |p| where
// t0 = 0). The bracket (below 2^-19.5) errs by its roundings, mostly those
// of r^3 (two products, 2^-52 of r^3/3): at most 2^-71.5 absolute, 2^-65.5
// of log x where |log x| is near 2^-6 and |r| near its bound.
LUMADEX_AVX512_INLINE Dd LogAccurate(__m512d x)
{
    const __m512d m = _mm512_getmant_pd(x, _MM_MANT_NORM_1_2, _MM_MANT_SIGN_nan);
    const __m512d rc = _mm512_roundscale_pd(_mm512_rcp14_pd(m), (6 << 4) | _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __m512d r = _mm512_fmsub_pd(m, rc, Set(1.0));
    const __m512i j = _mm512_srli_epi64(Bits(rc), 47);  // the permutes read its low 4 bits, the mask bit 4
    const __mmask8 upper = _mm512_test_epi64_mask(j, _mm512_set1_epi64(16));
    const __m512d k = _mm512_sub_pd(_mm512_getexp_pd(x), _mm512_getexp_pd(rc));
    const __m512d t0 = _mm512_fmsub_pd(k, Set(dcore::kLn2Hi), dcore::Read32(kLogCHi, j, upper));
    const __m512d t0lo = _mm512_fmsub_pd(k, Set(dcore::kLn2Lo), dcore::Read32(kLogCLo, j, upper));
    const __m512d hr = _mm512_mul_pd(r, Set(-0.5));
    const __m512d p = _mm512_mul_pd(r, hr);
    const __m512d pe = _mm512_fmsub_pd(r, hr, p);
    const Dd s1 = FastTwoSum(t0, r);
    const Dd s2 = FastTwoSum(s1.hi, p);
    // q by Horner's scheme, as for the exponential below.
    const __m512d q = dcore::Horner(r, kQ[0], kQ[1], kQ[2], kQ[3], kQ[4], kQ[5], kQ[6], kQ[7]);
    const __m512d r3 = _mm512_mul_pd(r, p);  // -r^3/2
    const __m512d lo = _mm512_add_pd(_mm512_add_pd(s1.lo, s2.lo), _mm512_add_pd(t0lo, pe));
    return FastTwoSum(s2.hi, _mm512_fmadd_pd(r3, q, lo));
}

// The exponential of a double-double z + zl (|z| <= 2^11, |zl| <= 2^-42):
// z = k ln2/16 + r1 with k = round(16 z/ln2), r1 exact (dcore::SplitExp),
// t = zl - (k/16) ln2lo (|t| < 2^-41), and e^(z + zl) = 2^floor(k/16) T e^r1
// e^t with T = 2^(j/16) = Thi (1 + tl), j = k mod 16, Thi and tl read from
// register tables. With u = t + tl and p0 = e^r1 - 1 = r1 + r1^2 q(r1),
//   T e^r1 e^t / Thi = 1 + p,  p = p0 + u (1 + p0)
// to 2^-84 (t^2/2 and t tl), q the polynomial of dcore::kExpQ (2^-64). p0
// and p are rounded (2^-58.5 of the result each at most), and the result is
// Thi + Thi p rounded by one fma.
//
// kThiBits[j] = bits(Thi) - (j << 48): adding k << 48 (j in the top four
// mantissa bits, floor(k/16) in the exponent field) gives the encoding of
// Thi 2^floor(k/16), exact while that is normal. tl = (2^(j/16) - Thi)/Thi
// rounded. Generated with mpmath at 200 bits.
alignas(64) constexpr std::uint64_t kThiBits[16] = {
    0x3ff0000000000000, 0x3fefb5586cf9890f, 0x3fef72b83c7d517b, 0x3fef387a6e756238,
    0x3fef06fe0a31b715, 0x3feedea64c123422, 0x3feebfdad5362a27, 0x3feeab07dd485429,
    0x3feea09e667f3bcd, 0x3feea11473eb0187, 0x3feeace5422aa0db, 0x3feec49182a3f090,
    0x3feee89f995ad3ad, 0x3fef199bdd85529c, 0x3fef5818dcfba487, 0x3fefa4afa2a490da};
alignas(64) constexpr double kTl[16] = {
    0x0.0p+0,               0x1.79aa65d837b6dp-54,  -0x1.01b15eaa59348p-55, 0x1.68efde3a8a894p-54,
    0x1.34d754db0abb6p-55,  0x1.59f48a72a4c6dp-55,  0x1.690cebb7aafb0p-56,  0x1.063e1e21c5409p-54,
    -0x1.3b3efbf5e2228p-54, -0x1.b32dcb94da51dp-56, 0x1.db72fc1f0eab4p-55,  0x1.1affc2b91ce27p-56,
    0x1.c1a7792cb3387p-55,  0x1.36eae30af0cb3p-56,  0x1.4a385a63d07a7p-56,  -0x1.ff7128fd391f0p-55};

struct ExpParts {
    __m512d p;        // T e^r1 e^t / Thi - 1
    __m512i kShift;   // k << 48
    __m512i thiBits;  // kThiBits[j]
    __m512d k16;      // k/16
};

LUMADEX_AVX512_INLINE ExpParts ExpDd(__m512d z, __m512d zl)
{
    const dcore::ExpSplit s = dcore::SplitExp(z);
    const __m512d r1 = s.r1;
    const __m512i j = Bits(s.kd);  // the permutes read its low 4 bits
    const __m512d u = _mm512_add_pd(_mm512_fnmadd_pd(s.k16, Set(dcore::kExpLn2Lo), zl), dcore::Read16(kTl, j));
    // q by Horner's scheme: fewer operations than Estrin's, which is what
    // counts here (the loop is bound by throughput, not latency).
    const __m512d q = dcore::Horner(r1, dcore::kExpQ[0], dcore::kExpQ[1], dcore::kExpQ[2], dcore::kExpQ[3],
                                    dcore::kExpQ[4], dcore::kExpQ[5]);
    const __m512d p0 = _mm512_fmadd_pd(_mm512_mul_pd(r1, r1), q, r1);
    return {_mm512_add_pd(p0, _mm512_fmadd_pd(u, p0, u)), _mm512_slli_epi64(j, 48), dcore::Read16(kThiBits, j),
            s.k16};
}

// Thi 2^floor(k/16) (1 + p) for a normal result.
LUMADEX_AVX512_INLINE __m512d ExpNormal(const ExpParts& e)
{
    const __m512d s = Double(_mm512_add_epi64(e.thiBits, e.kShift));
    return _mm512_fmadd_pd(s, e.p, s);
}

// Thi in [1, 2), unscaled.
LUMADEX_AVX512_INLINE __m512d ExpThi(const ExpParts& e)
{
    return Double(_mm512_add_epi64(e.thiBits, _mm512_and_si512(e.kShift, _mm512_set1_epi64(std::int64_t{15} << 48))));
}

// y log x = zh + zl from log x = hi + lo: zh = y hi rounded, zl its error by
// fma plus y lo (|zl| <= 2^-52 |zh| + 2^-100).
LUMADEX_AVX512_INLINE Dd TimesLog(__m512d y, const Dd& l)
{
    const __m512d zh = _mm512_mul_pd(y, l.hi);
    return {zh, _mm512_fmadd_pd(y, l.lo, _mm512_fmsub_pd(y, l.hi, zh))};
}

// The fast path: |y log x| <= 708 (e^-708 > 2^-1022), which also fails for
// x <= 0 (and -0), infinite and NaN x, and infinite and NaN y, whose
// logarithm or product is NaN or infinite.
constexpr double kFastExponent = 708.0;

// x^y for lanes that take the fast path; `fast` tells which do.
LUMADEX_AVX512_INLINE __m512d PowFast(__m512d x, __m512d y, __mmask8& fast)
{
    const Dd z = TimesLog(y, LogAccurate(x));
    fast = _mm512_cmp_pd_mask(_mm512_abs_pd(z.hi), Set(kFastExponent), _CMP_LE_OQ);
    return ExpNormal(ExpDd(z.hi, z.lo));
}

// x^y for any lanes (see the top of the file); the common lanes as PowFast.
LUMADEX_AVX512 [[gnu::noinline]] __m512d PowGeneral(__m512d x, __m512d y)
{
    const __m512d one = Set(1.0);
    const __m512d ax = _mm512_abs_pd(x);
    // |x| if positive and finite, else 1.
    const __mmask8 finite = _mm512_cmp_pd_mask(ax, Set(0.0), _CMP_GT_OQ) & _mm512_cmp_pd_mask(ax, Set(kInf), _CMP_LT_OQ);
    const __m512d h = _mm512_mask_mov_pd(one, finite, ax);
    Dd z = TimesLog(y, LogAccurate(h));

    // Beyond |z| = 1000 the result is 0 or inf: z clamped to +-2000 (its
    // sign kept; NaN lanes are set below) and zl dropped. Zero and infinite
    // x and infinite y: z = +2000 if |x| > 1 and y > 0 or |x| < 1 and y < 0,
    // else -2000 (|x| = 1 is set below).
    const __mmask8 beyond = ~_mm512_cmp_pd_mask(_mm512_abs_pd(z.hi), Set(1000.0), _CMP_LE_OQ);
    const __mmask8 infinite =
        ~finite | _mm512_cmp_pd_mask(_mm512_abs_pd(y), Set(kInf), _CMP_EQ_OQ);
    const __mmask8 up = static_cast<__mmask8>(_mm512_cmp_pd_mask(ax, one, _CMP_GT_OQ) ^ _mm512_cmp_pd_mask(y, Set(0.0), _CMP_LT_OQ));
    z.hi = _mm512_mask_mov_pd(z.hi, beyond, _mm512_min_pd(_mm512_max_pd(z.hi, Set(-2000.0)), Set(2000.0)));
    z.hi = _mm512_mask_mov_pd(z.hi, infinite, _mm512_mask_mov_pd(Set(-2000.0), up, Set(2000.0)));
    z.lo = _mm512_maskz_mov_pd(~(beyond | infinite), z.lo);

    // The result scaled by scalef, the same as ExpNormal() where the result
    // is normal (a power of two commutes with the rounding there), and
    // rounded once into overflow.
    const ExpParts e = ExpDd(z.hi, z.lo);
    const __m512d thi = ExpThi(e);
    __m512d r = _mm512_scalef_pd(_mm512_fmadd_pd(thi, e.p, thi), e.k16);
    // Results below 2^-1022 rounded once to the subnormal grid: with
    // s = 2^(floor(k/16) + 1022), 1 + s Thi + s Thi p is rounded to a
    // multiple of 2^-52 (1 + s Thi by a fast two-sum, exact, as s Thi < 1.01;
    // Thi p rounded costs 2^-53 of the tail), then 1 taken off and the rest
    // scaled by 2^-1022, both exactly.
    const __mmask8 tiny = _mm512_cmp_pd_mask(r, Set(0x1p-1022), _CMP_LT_OQ);
    if (tiny) {
        const __m512d k = _mm512_add_pd(e.k16, Set(1022.0));
        const Dd u = FastTwoSum(one, _mm512_scalef_pd(thi, k));
        const __m512d v = _mm512_add_pd(u.hi, _mm512_add_pd(u.lo, _mm512_scalef_pd(_mm512_mul_pd(thi, e.p), k)));
        r = _mm512_mask_mul_pd(r, tiny, _mm512_sub_pd(v, one), Set(0x1p-1022));
    }

    // Signs, NaN and one.
    const __m512d yInt = _mm512_roundscale_pd(y, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __mmask8 integer = _mm512_cmp_pd_mask(y, yInt, _CMP_EQ_OQ);
    const __m512d half = _mm512_mul_pd(y, Set(0.5));
    const __mmask8 odd = _mm512_mask_cmp_pd_mask(
        _mm512_mask_cmp_pd_mask(integer, _mm512_abs_pd(y), Set(0x1p53), _CMP_LT_OQ), half,
        _mm512_roundscale_pd(half, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC), _CMP_NEQ_OQ);
    r = _mm512_castsi512_pd(_mm512_mask_or_epi64(Bits(r), odd, Bits(r), _mm512_and_si512(Bits(x), Bits(Set(-0.0)))));
    // A negative finite x with a non-integer (or NaN) y.
    const __mmask8 negative = _mm512_cmp_pd_mask(x, Set(0.0), _CMP_LT_OQ) & finite;
    r = _mm512_mask_mov_pd(r, negative & ~integer, Set(std::numeric_limits<double>::quiet_NaN()));
    r = _mm512_mask_add_pd(r, _mm512_cmp_pd_mask(x, y, _CMP_UNORD_Q), x, y);
    const __mmask8 unit = _mm512_cmp_pd_mask(y, Set(0.0), _CMP_EQ_OQ) | _mm512_cmp_pd_mask(x, one, _CMP_EQ_OQ) |
                          (_mm512_cmp_pd_mask(x, Set(-1.0), _CMP_EQ_OQ) & _mm512_cmp_pd_mask(_mm512_abs_pd(y), Set(kInf), _CMP_EQ_OQ));
    return _mm512_mask_mov_pd(r, unit, one);
}

LUMADEX_AVX512_INLINE __m512d Eval(__m512d x, __m512d y)
{
    __mmask8 fast;
    const __m512d r = PowFast(x, y, fast);
    return fast == 0xFF ? r : PowGeneral(x, y);
}

// Up to 8 elements through masked loads and stores (the unused lanes hold
// 1^1, a value of the fast path).
LUMADEX_AVX512_INLINE void Partial(MKL_INT n, const double* a, const double* b, double* r)
{
    const __mmask8 lanes = static_cast<__mmask8>((1u << n) - 1);
    const __m512d x = _mm512_mask_loadu_pd(Set(1.0), lanes, a), y = _mm512_mask_loadu_pd(Set(1.0), lanes, b);
    _mm512_mask_storeu_pd(r, lanes, Eval(x, y));
}

}  // namespace

// Each vector is loaded before its result is stored, so r may be a or b.
LUMADEX_AVX512 void DoublePowAvx512(MKL_INT n, const double* a, const double* b, double* r)
{
    MKL_INT i = 0;
    for (; n - i >= 8; i += 8) {
        Ahead(a + i);
        Ahead(b + i);
        Ahead(r + i);
        _mm512_storeu_pd(r + i, Eval(_mm512_loadu_pd(a + i), _mm512_loadu_pd(b + i)));
    }
    if (i < n) Partial(n - i, a + i, b + i, r + i);
}

}  // namespace lumadex::vml
