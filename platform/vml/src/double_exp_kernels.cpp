// AVX-512F kernels for the double exponential family: exp, expm1, cosh, sinh
// and tanh, each within 1 ulp of the correctly rounded result.
//
// One reduction serves all four: x = k ln2/16 + r with k = round(16 x/ln2),
// |r| <= ln2/32, so e^x = 2^m * 2^(j/16) * e^r with m = floor(k/16) and
// j = k mod 16. 2^(j/16) is read as hi + lo (hi correctly rounded, lo the
// rest, about 2^-106 relative) from two tables of sixteen doubles, each held
// in two registers (permutex2var), and powers of two are applied by scalef.
// Every sum that can cancel is carried as an unevaluated double-double
// (hi + lo) and rounded once at the end: the results err by the final
// rounding (0.5 ulp) plus at most about 0.13 ulp (sinh just above its
// series range; expm1, cosh and tanh a few hundredths).
#include <immintrin.h>

#include "avx512_loops.hpp"
#include "common.hpp"
#include "double_cores.hpp"

namespace lumadex::vml {
namespace {

using namespace dcore;

// e^x = 2^m (Thi + (Thi p + Tlo (1 + p))) with T = 2^(j/16) = Thi + Tlo and
// p = e^(r + rlo) - 1 = r + (r^2 q(r) + rlo); the tail is below 0.023 of
// Thi, so its roundings stay below 2^-58 of the result, and the sum rounds
// once (0.51 ulp measured). The argument is clamped to [-746, 710], where
// e^x is 0 and inf after rounding (max and min ordered so that a NaN passes
// through); 2^m is applied last, by scalef, so that the result is finite up
// to ln(DBL_MAX) = 709.782712893384 and overflows, or falls to subnormals
// and 0, only where the rounded e^x does.
LUMADEX_AVX512 inline __m512d Exp(__m512d x)
{
    const __m512d xc = _mm512_min_pd(Set(710.0), _mm512_max_pd(Set(-746.0), x));
    const ExpReduced e = ExpReduce(xc);
    const Dd t = Lookup(kPow2Sixteenth, e.j);
    const __m512d r2 = _mm512_mul_pd(e.r, e.r);
    const __m512d p = _mm512_add_pd(e.r, _mm512_fmadd_pd(r2, ExpQ(e.r, r2), e.rlo));
    const __m512d y = _mm512_add_pd(t.hi, _mm512_fmadd_pd(t.hi, p, _mm512_fmadd_pd(t.lo, p, t.lo)));
    return _mm512_scalef_pd(y, e.k16);
}

// The magnitude of m with the sign of x (a bitwise select, one instruction).
LUMADEX_AVX512 inline __m512d WithSignOf(__m512d x, __m512d m)
{
    const __m512i sign = _mm512_set1_epi64(INT64_MIN);
    return _mm512_castsi512_pd(_mm512_ternarylogic_epi64(sign, _mm512_castpd_si512(x), _mm512_castpd_si512(m), 0xca));
}

constexpr Table16 Scaled(Table16 t, double s)
{
    for (double& v : t.hi) v *= s;
    for (double& v : t.lo) v *= s;
    return t;
}

// 2^(ceil(j/8) - j/16): 2^(-j/16) times the power of two that floor(-k/8)
// leaves over (see ExpPlusMinus); rounded like kPow2Sixteenth.
constexpr Table16 kPow2MinusSixteenth = {
    {0x1.0000000000000p+0, 0x1.ea4afa2a490dap+0, 0x1.d5818dcfba487p+0, 0x1.c199bdd85529cp+0, 0x1.ae89f995ad3adp+0,
     0x1.9c49182a3f090p+0, 0x1.8ace5422aa0dbp+0, 0x1.7a11473eb0187p+0, 0x1.6a09e667f3bcdp+0, 0x1.5ab07dd485429p+1,
     0x1.4bfdad5362a27p+1, 0x1.3dea64c123422p+1, 0x1.306fe0a31b715p+1, 0x1.2387a6e756238p+1, 0x1.172b83c7d517bp+1,
     0x1.0b5586cf9890fp+1},
    {0.0, -0x1.e9c23179c2893p-54, 0x1.2ed02d75b3707p-55, 0x1.11065895048ddp-55, 0x1.7a1cd345dcc81p-54,
     0x1.c7c46b071f2bep-56, 0x1.6e9f156864b27p-54, -0x1.41577ee04992fp-55, -0x1.bdd3413b26456p-54,
     0x1.6324c054647adp-53, 0x1.d4397afec42e2p-55, 0x1.ada0911f09ebcp-54, 0x1.6f46ad23182e4p-54,
     0x1.9b07eb6c70573p-53, -0x1.19041b9d78a76p-54, 0x1.8a62e4adc610bp-53}};

// The same halved, for cosh and sinh.
constexpr Table16 kHalfPow2Sixteenth = Scaled(kPow2Sixteenth, 0.5);
constexpr Table16 kHalfPow2MinusSixteenth = Scaled(kPow2MinusSixteenth, 0.5);

// Thi - c exactly as hi + lo for Thi in [1, 2) and c = 2^-m: a fast
// two-sum with the operands in order of magnitude, c first when m < 0
// (e = Thi - (hi + c)), Thi first otherwise (e = (Thi - hi) - c; zero for
// m <= 52, where the difference is exact).
LUMADEX_AVX512 inline Dd TableMinusPowerOfTwo(__m512d t, __m512d c, __m512d k16)
{
    const __mmask8 negative = _mm512_cmp_pd_mask(k16, _mm512_setzero_pd(), _CMP_LT_OQ);
    const __mmask8 nonnegative = _mm512_cmp_pd_mask(k16, _mm512_setzero_pd(), _CMP_NLT_UQ);
    const __m512d hi = _mm512_sub_pd(t, c);
    const __m512d v = _mm512_sub_pd(t, _mm512_mask_add_pd(hi, negative, hi, c));
    return {hi, _mm512_mask_sub_pd(v, nonnegative, v, c)};
}

// e^x - 1 = 2^m (hi + lo) for -40 <= x <= 710, with c = 2^-m, m = floor(k/16).
//
// With T = 2^(j/16) = Thi + Tlo and p = e^r - 1:
//   2^-m (e^x - 1) = (Thi - c) + Thi r + Thi (p - r) + Tlo (1 + p).
// Thi - c is exact as a two-sum; Thi r as a product and its fma error;
// the first two are joined by a fast two-sum (the exponent of Thi - c is at
// least that of Thi r whenever k != 0). Near 0 (k = 0) this is
// r + r^2 q(r) alone. q(r) = (e^r - 1 - r)/r^2 is a degree-5 Chebyshev
// interpolant on |r| <= ln2/32 (mpmath); r + r^2 q errs by 2^-58.7
// relative. Before the final rounding the error is below 2^-57 of the
// result.
struct Expm1Parts {
    __m512d hi, lo;  // 2^-m (e^x - 1) = hi + lo
    __m512d c;       // 2^-m
    __m512d k16;     // k/16, m = floor(k/16)
};

// forTanh: for x >= 0 (m >= 0) only, and without the error of Thi - c, which
// is zero up to m = 52 and beyond below 2^-53 of the result, where
// tanh = 1 - 2/(u + 2) weighs a relative error of u by 2/(u + 2) < 2^-52.
template <bool forTanh = false>
LUMADEX_AVX512 inline Expm1Parts Expm1Unscaled(__m512d x)
{
    const ExpReduced x0 = ExpReduce(x);
    const __m512d r = x0.r;
    const Dd t = Lookup(kPow2Sixteenth, x0.j);
    // 2^-m = 2^floor((15 - k)/16); scalef floors its exponent.
    const __m512d c = _mm512_scalef_pd(Set(1.0), _mm512_sub_pd(Set(15.0 / 16), x0.k16));
    // q by Estrin's scheme (pairs in r, then in r^2), a shorter dependency
    // chain than Horner's.
    const __m512d r2 = _mm512_mul_pd(r, r);
    const __m512d q = dcore::ExpQ(r, r2);
    const Dd d = forTanh ? Dd{_mm512_sub_pd(t.hi, c), _mm512_setzero_pd()} : TableMinusPowerOfTwo(t.hi, c, x0.k16);
    const __m512d ph = _mm512_mul_pd(t.hi, r);
    const __m512d pl = _mm512_fmsub_pd(t.hi, r, ph);
    const Dd s = FastTwoSum(d.hi, ph);
    const __m512d w = _mm512_fmadd_pd(r2, q, x0.rlo);  // p - r
    const __m512d tail = _mm512_add_pd(_mm512_fmadd_pd(t.hi, w, _mm512_fmadd_pd(t.lo, r, t.lo)),
                                       _mm512_add_pd(forTanh ? pl : _mm512_add_pd(pl, d.lo), s.lo));
    return {s.hi, tail, c, x0.k16};
}

// expm1 x: the argument clamped to [-40, 710] (e^-40 < 2^-57 rounds away
// against -1; above 709.79 the result overflows in the final scalef), max
// and min ordered so that a NaN passes through. expm1 x has the sign of x,
// which also gives expm1(-0) = -0.
LUMADEX_AVX512 inline __m512d Expm1(__m512d x)
{
    const __m512d xc = _mm512_min_pd(Set(710.0), _mm512_max_pd(Set(-40.0), x));
    const Expm1Parts e = Expm1Unscaled(xc);
    return WithSignOf(x, _mm512_scalef_pd(_mm512_add_pd(e.hi, e.lo), e.k16));
}

// e^y/2 and e^-y/2 for 0 <= y <= 711 relative to 2^m (m = floor(k/16)),
// in parts that cosh and sinh combine:
//   2^-m e^y/2  = (plus.hi + plus.lo) (1 + odd + even),
//   2^-m e^-y/2 = (minus.hi + minus.lo) (1 - odd + even),
// where odd and even are the odd and even parts of e^(r + rlo) - 1.
//
// One reduction gives both. sinh r - r = r^3 s(r^2) and cosh r - 1 =
// r^2 c(r^2), s and c of degree 2 (the odd and the even coefficients of
// dcore::kExpQ, which serve as interpolants on r^2 <= (ln2/32)^2, mpmath;
// absolute errors 2^-72 and 2^-64); rlo enters
// to first order, e^(r + rlo) = e^r (1 + rlo), as part of odd, when
// withLow (for sinh; cosh, which does not cancel, can do without: 2^-59).
// plus = 2^(j/16)/2 from the table; 2^-m e^-y = 2^(-2m - j/16) e^-r, and
// with F = floor(-k/8) = -2m - ceil(j/8) that is
// 2^F 2^(ceil(j/8) - j/16) e^-r: one scalef by F (which floors -2 k/16
// itself) and a second table. For large y the minus side falls to
// subnormals or zero, with no effect on e^y +- e^-y.
struct ExpParts {
    Dd plus, minus;
    __m512d odd, even;
    __m512d k16;
};

template <bool withLow>
LUMADEX_AVX512 inline ExpParts ExpPlusMinus(__m512d y)
{
    const ExpReduced y0 = ExpReduce(y);
    const __m512d r = y0.r, z = _mm512_mul_pd(r, r);
    const Dd tp = Lookup(kHalfPow2Sixteenth, y0.j);
    const Dd tm = Lookup(kHalfPow2MinusSixteenth, y0.j);
    const __m512d s = Horner(z, kExpQ[1], kExpQ[3], kExpQ[5]);
    const __m512d rz = _mm512_mul_pd(r, z);
    const __m512d odd = _mm512_add_pd(r, withLow ? _mm512_fmadd_pd(rz, s, y0.rlo) : _mm512_mul_pd(rz, s));
    const __m512d even = _mm512_mul_pd(z, Horner(z, kExpQ[0], kExpQ[2], kExpQ[4]));
    const __m512d f = _mm512_mul_pd(y0.k16, Set(-2.0));
    return {tp, {_mm512_scalef_pd(tm.hi, f), _mm512_scalef_pd(tm.lo, f)}, odd, even, y0.k16};
}

// a + sign b.
template <int sign>
LUMADEX_AVX512 inline __m512d AddSigned(__m512d a, __m512d b)
{
    return sign > 0 ? _mm512_add_pd(a, b) : _mm512_sub_pd(a, b);
}

// 2^-m (e^y + sign e^-y)/2, sign = +-1, from the parts above:
//   (P + sign M)(1 + even) + (P - sign M) odd
// with P = plus.hi, M = minus.hi; P + sign M is exact as a fast two-sum
// (P >= 1/2 >= M), the rest is small against it. The low parts' products
// with odd and even (2^-58 of the result) are left out. Scaled by 2^m last,
// so that 709.79 < y < 710.47 stays finite and beyond overflows there.
template <int sign>
LUMADEX_AVX512 inline __m512d HalfSumScaled(const ExpParts& e)
{
    const __m512d hi = AddSigned<sign>(e.plus.hi, e.minus.hi);
    const __m512d lo = AddSigned<sign>(_mm512_sub_pd(e.plus.hi, hi), e.minus.hi);  // fast two-sum
    const __m512d rest = _mm512_fmadd_pd(hi, e.even, _mm512_fmadd_pd(AddSigned<-sign>(e.plus.hi, e.minus.hi), e.odd,
                                                                      AddSigned<sign>(e.plus.lo, e.minus.lo)));
    return _mm512_scalef_pd(_mm512_add_pd(hi, _mm512_add_pd(lo, rest)), e.k16);
}

// cosh x = (e^y + e^-y)/2 with y = |x| clamped to 711 (NaN passes: min
// returns its second operand then).
LUMADEX_AVX512 inline __m512d Cosh(__m512d x)
{
    return HalfSumScaled<1>(ExpPlusMinus<false>(_mm512_min_pd(Set(711.0), _mm512_abs_pd(x))));
}

// sinh y for 0 <= y < 0.35 as y + y^3 s(y^2), s of degree 4 (Chebyshev
// interpolant on y^2 <= 0.35^2, mpmath; relative error 2^-58.8).
LUMADEX_AVX512 inline __m512d SinhSmall(__m512d y)
{
    const __m512d z = _mm512_mul_pd(y, y);
    const __m512d s = Horner(z, 0x1.5555555555556p-3, 0x1.111111111091ap-7, 0x1.a01a01a83a3a3p-13,
                             0x1.71de0be80e7e8p-19, 0x1.af3cd7b3560d9p-26);
    return _mm512_fmadd_pd(y, _mm512_mul_pd(z, s), y);
}

// sinh x = sign(x) (e^y - e^-y)/2, y = |x| clamped to 711. From y >= 0.35
// the difference cancels by at most coth(0.35) < 3, which with the exact
// high difference costs at most about 0.13 ulp; below, the odd series.
LUMADEX_AVX512 inline __m512d Sinh(__m512d x)
{
    const __m512d y = _mm512_min_pd(Set(711.0), _mm512_abs_pd(x));
    __m512d h = HalfSumScaled<-1>(ExpPlusMinus<true>(y));
    h = _mm512_mask_mov_pd(h, _mm512_cmp_pd_mask(y, Set(0.35), _CMP_LT_OQ), SinhSmall(y));
    return WithSignOf(x, h);
}

// tanh x = sign(x) u/(u + 2), u = expm1(2y), y = |x| clamped to 20 (from
// 19.06 the quotient rounds to 1). With u = 2^m (hi + lo) and c = 2^-m the
// quotient is (hi + lo)/(hi + lo + 2c), no scaling needed. Numerator and
// denominator are normalised double-doubles (fast two-sums); the
// rounded quotient q0 = n/d of the high parts is corrected by the residual
// (n + nlo - q0 (d + dlo))/d, whose leading part n - q0 d one fma gives
// exactly; the residual is a few ulps of q0, so rcp14 (2^-14) divides it.
LUMADEX_AVX512 inline __m512d Tanh(__m512d x)
{
    const __m512d y = _mm512_min_pd(Set(20.0), _mm512_abs_pd(x));
    const Expm1Parts e = Expm1Unscaled<true>(_mm512_add_pd(y, y));
    const Dd n = FastTwoSum(e.hi, e.lo);
    // Both terms are positive: the larger first makes the fast two-sum exact.
    const __m512d c2 = _mm512_add_pd(e.c, e.c);
    Dd d = FastTwoSum(_mm512_max_pd(n.hi, c2), _mm512_min_pd(n.hi, c2));
    d.lo = _mm512_add_pd(d.lo, n.lo);
    const __m512d q0 = _mm512_div_pd(n.hi, d.hi);
    const __m512d residual = _mm512_fnmadd_pd(q0, d.lo, _mm512_add_pd(_mm512_fnmadd_pd(q0, d.hi, n.hi), n.lo));
    return WithSignOf(x, _mm512_fmadd_pd(residual, _mm512_rcp14_pd(d.hi), q0));
}

}  // namespace

LUMADEX_AVX512 [[gnu::flatten]] void DoubleExpAvx512(MKL_INT n, const double* a, double* r) { avx512::Map<double, Exp>(n, a, r); }
LUMADEX_AVX512 [[gnu::flatten]] void DoubleExpm1Avx512(MKL_INT n, const double* a, double* r) { avx512::Map<double, Expm1>(n, a, r); }
LUMADEX_AVX512 [[gnu::flatten]] void DoubleCoshAvx512(MKL_INT n, const double* a, double* r) { avx512::Map<double, Cosh>(n, a, r); }
LUMADEX_AVX512 [[gnu::flatten]] void DoubleSinhAvx512(MKL_INT n, const double* a, double* r) { avx512::Map<double, Sinh>(n, a, r); }
LUMADEX_AVX512 [[gnu::flatten]] void DoubleTanhAvx512(MKL_INT n, const double* a, double* r) { avx512::Map<double, Tanh>(n, a, r); }

}  // namespace lumadex::vml
