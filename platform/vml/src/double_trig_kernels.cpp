// AVX-512F kernels for the double trigonometric functions sin, cos and
// tan, each within 1 ulp of the correctly rounded result (the inverse
// functions are in double_inverse_trig_kernels.cpp, the lane helpers both
// use in double_trig_lanes.hpp).
//
// Each reduces x = k pi/2 + r with r as a double-double: tan through
// ReduceHalfPi (a normalized pair: its quotient takes 1/r), sin and cos
// through the cheaper ReduceHalfPiUnnormalized (they take the low part to
// first order only). sin and cos end as one polynomial in r^2 with
// coefficients chosen per lane; tan as a quotient of double-doubles
// corrected once.
//
// The coefficients come from /usr/bin/python3 with mpmath at 60 digits:
// Chebyshev-node interpolation (near-minimax), rounded to double (for sin
// and cos a least-maximum fit, described there), the error then measured on
// a dense grid; each bound quoted below is of the rounded coefficients.
#include <immintrin.h>

#include "avx512_loops.hpp"
#include "common.hpp"
#include "double_trig_lanes.hpp"
#include "sleef_declarations.hpp"

LUMADEX_AVX512_BEGIN

namespace lumadex::vml {
namespace {

using namespace dtrig;

// ---------------------------------------------------------------------------
// Reduction by pi/2 (Cody-Waite with fma): x = k pi/2 + hi + lo.
// pi/2 = C1 + C2 + C3, each part the next 53 bits (C3 leaves 5.6e-50 out).
// x - k C1 is exact (a multiple of 2^-53 below 1 in magnitude), k C2 is split
// exactly by fma, and the subtraction of its high part is exact by Fast2Sum
// (x - k C1 is a multiple of the product's ulp). The pair (hi, lo) then has
// an error of about 2^-100 |hi| for |x| <= kTrigFastMax, and |hi| <= pi/4 + tiny.
constexpr double kC1 = 0x1.921fb54442d18p+0, kC2 = 0x1.1a62633145c07p-54, kC3 = -0x1.f1976b7ed8fbcp-110;
constexpr double kTrigFastMax = 0x1p24;

struct Reduced {
    V hi, lo;
    __m512i k;  // the quadrant in the low bits
};

LUMADEX_AVX512_INLINE Reduced ReduceHalfPi(V x)
{
    const V kMagic = Fma(x, Set(0x1.45f306dc9c883p-1), Set(kRoundMagic));  // x 2/pi
    const V k = kMagic - Set(kRoundMagic);
    const V a = _mm512_fnmadd_pd(k, Set(kC1), x);
    const V bh = Mul(k, Set(kC2));
    const V bl = _mm512_fmsub_pd(k, Set(kC2), bh);
    const V hi = a - bh;
    const V lo = _mm512_fnmadd_pd(k, Set(kC3), ((a - hi) - bh) - bl);
    return {hi, lo, _mm512_castpd_si512(kMagic)};
}

// The same reduction in two operations fewer, for |x| <= kSinCosFastMax:
// pi/2 = D1 + D2 + D3 with D1 = C1, D2 the next 33 bits and D3 the next 53
// (D3 leaves 2e-43 out). k < 2^20, so k D2 is exact; hi = (x - k D1) - k D2
// rounded, whose error (a - hi) - b is exact (Fast2Sum where |a| >= |b|;
// elsewhere a - b is a multiple of 2^-86 below 2^-33.5, so hi is exact), and
// lo = that error - k D3. |lo| <= ulp(hi)/2 + 2^-68.6: where r is below
// about 2^-15 the pair is not normalized (lo may exceed hi's ulp), which a
// kernel taking lo to first order with bounded derivatives (sin, cos) does
// not notice, but 1/r (tan) would. Error of the pair: below
// 2^-120 + 2^-106 |hi|.
constexpr double kD1 = kC1, kD2 = 0x1.1a626331p-54, kD3 = 0x1.1701b839a2520p-88;
constexpr double kSinCosFastMax = 0x1p20;

LUMADEX_AVX512_INLINE Reduced ReduceHalfPiUnnormalized(V x)
{
    const V kMagic = Fma(x, Set(0x1.45f306dc9c883p-1), Set(kRoundMagic));  // x 2/pi
    const V k = kMagic - Set(kRoundMagic);
    const V a = _mm512_fnmadd_pd(k, Set(kD1), x);
    const V b = Mul(k, Set(kD2));
    const V hi = a - b;
    const V lo = _mm512_fnmadd_pd(k, Set(kD3), (a - hi) - b);
    return {hi, lo, _mm512_castpd_si512(kMagic)};
}

// ---------------------------------------------------------------------------
// tan on |r| <= pi/4 + tiny as a rational function:
//   tan r = r (1 + z P(z)) / (1 + q0 z + z^2 Q(z)),  z = r^2,
// P degree 3, Q degree 1, relative error 2^-57.3 (rational interpolation at
// Chebyshev nodes, coefficients rounded to double). Both N and D are carried
// as double-doubles: D's term z (q0 + z Q) reaches 0.29, so its rounding and
// that of its factor are recovered by fma, and the rounding of z = r^2 (zl)
// enters it to first order. The odd quadrants give tan x = -cot r = -D/N.
// The quotient is corrected once with fma, and the low part of r enters
// through the derivative 1 + tan^2 (the same for -cot). Measured over 2e8
// arguments: at most 0.77 ulp.
constexpr double kTanP[] = {-0.13098981362102827, 0.0031178652095653256, -1.1150544698886181e-05,
                            -1.7861825418111045e-08};
constexpr double kTanQ0 = -0.4643231469543616;
constexpr double kTanQ[] = {0.024558914194352546, -0.00025595631715588906};

LUMADEX_AVX512_INLINE V TanFast(V x)
{
    const V ax = Abs(x);
    const Reduced r = ReduceHalfPi(ax);
    const V z = Mul(r.hi, r.hi);
    const V zl = _mm512_fmsub_pd(r.hi, r.hi, z);
    // N = r + r f with f = z P(z) in [-0.081, 0]: nh is it rounded once and
    // nl that rounding's error (r - nh is exact, nh lying within 9 % of r).
    // The rounding of z enters f only (0.081 of N), so zl is left out here.
    const V f = Mul(z, Poly(z, kTanP));
    const V nh = Fma(r.hi, f, r.hi);
    const V nl = Fma(r.hi, f, r.hi - nh);
    // D = 1 + z W with W = q0 + z Q(z) in [-0.465, -0.449]: w is W rounded
    // and wl its rounding error (q0 - w is exact); dh = 1 + z w rounded and
    // dl the rest, z w + (1 - dh) (1 - dh exact), z wl and zl w, each by one
    // fma.
    const V w = Fma(z, Poly(z, kTanQ), Set(kTanQ0));
    const V wl = Fma(z, Poly(z, kTanQ), Set(kTanQ0) - w);
    const V dh = Fma(z, w, Set(1.0));
    const V dl = Fma(zl, w, Fma(z, wl, Fma(z, w, Set(1.0) - dh)));
    // odd quadrant: -D / N
    const M odd = _mm512_test_epi64_mask(r.k, _mm512_set1_epi64(1));
    const V numh = _mm512_mask_sub_pd(nh, odd, _mm512_setzero_pd(), dh);
    const V numl = _mm512_mask_sub_pd(nl, odd, _mm512_setzero_pd(), dl);
    const V denh = Select(odd, nh, dh), denl = Select(odd, nl, dl);
    const V inv = Set(1.0) / denh;
    const V q = Mul(numh, inv);
    const V rem = _mm512_fnmadd_pd(q, denl, _mm512_fnmadd_pd(q, denh, numh) + numl);
    const V corr = Fma(rem, inv, Mul(r.lo, Fma(q, q, Set(1.0))));
    return XorSign(q + corr, x);  // tan is odd
}

// Beyond 2^24 (and for infinities) SLEEF's 1-ulp tan, with its exact
// reduction, takes the lanes that need it.
[[gnu::noinline]] V TanSlow(V x) { return Sleef_tand8_u10avx512f(x); }

LUMADEX_AVX512_INLINE V Tan(V x)
{
    const M slow = _mm512_cmp_pd_mask(Abs(x), Set(kTrigFastMax), _CMP_GT_OQ);
    V y = TanFast(x);
    if (slow) [[unlikely]]
        y = Select(slow, TanSlow(x), y);
    return y;
}

// ---------------------------------------------------------------------------
// sin and cos on ReduceHalfPiUnnormalized, applied to x itself (k signed;
// the reduction is symmetric in x): x = k pi/2 + r, r = hi + lo,
// |hi| <= pi/4 + tiny. With
// n = k for sin and n = k + 1 for cos (cos x = sin(x + pi/2)), the result is
// sin r for even n and cos r for odd n, negated where n & 2 is set.
//
// With z = hi^2 rounded, both are evaluated in one form, y = H + (Z p + L):
//   sin r: H = hi, Z = z hi, p = S(z), L = lo w;
//   cos r: H = w,  Z = z^2,  p = C(z), L = e - lo hi;
// where
//   S(t^2) = (sin t - t) / t^3 and C(t^2) = (cos t - 1 + t^2/2) / t^4, each a
//     polynomial of degree 5 (6 coefficients, sin and cos of degree 13 and 14
//     in t); relative error of the whole on |t| <= 0.7854: sin 2^-57.4,
//     cos 2^-63. One Horner evaluation serves both, each coefficient picked
//     per lane by n's parity;
//   w = 1 - hi (hi/2) rounded and e its rounding error: 1 - w is exact (w lies
//     in [0.69, 1]) and the fma gives e, so the rounding of z never enters cos;
//   lo enters through the derivatives: cos hi ~ w for sin, -sin hi ~ -hi for
//     cos (|lo| <= 2^-54; the terms left out, lo hi^4/24 and lo hi^3/6, are
//     below 0.01 and 0.04 ulp).
// The tail Z p + L is below 0.09 |y| for sin and 0.017 for cos, so its
// roundings (z, Z, the Horner steps, the fma) add at most about 0.25 ulp to
// the final rounding; measured over 10^8 arguments per function (and
// confirmed with mpmath): sin 0.742 ulp, cos 0.745 ulp on the fast path.
//
// The coefficients: a least-maximum fit of the weighted error (the term's
// share of the result) by linear programming on 1200 Chebyshev points of z,
// starting from the leading coefficient -1/6 (1/24) rounded to double, each
// next coefficient rounded before the higher ones are refitted.
constexpr double kSinP[] = {-0.16666666666666666,   0.008333333333328733,    -0.0001984126983392482,
                            2.755731490758001e-06,  -2.5050924941285085e-08, 1.590544795032396e-10};
constexpr double kCosP[] = {0.041666666666666664,   -0.0013888888888883586,  2.480158729461773e-05,
                            -2.755731567066531e-07, 2.0875885141907046e-09,  -1.1367314244071426e-11};

// The fast path's result and the lanes it leaves to the exact kernel
// (|x| > 2^20 and the infinities; NaN stays on the fast path, which
// propagates it).
struct Redone {
    V y;
    M redo;
};

// Horner's rule on the polynomial each lane takes: s for even n, c for odd n.
template <size_t N>
LUMADEX_AVX512_INLINE V PolyOf(M odd, V z, const double (&s)[N], const double (&c)[N])
{
    V p = Select(odd, Set(c[N - 1]), Set(s[N - 1]));
    for (size_t i = N - 1; i-- > 0;) p = Fma(p, z, Select(odd, Set(c[i]), Set(s[i])));
    return p;
}

template <int kShift>
LUMADEX_AVX512_INLINE Redone SinCos(V x)
{
    const M redo = Gt(Abs(x), Set(kSinCosFastMax));
    const Reduced r = ReduceHalfPiUnnormalized(x);
    // n = k + kShift: for cos, n is odd where k is even, and n & 2 is set
    // where k mod 4 is 1 or 2 (bit 0 xor bit 1 of k).
    const M k0 = _mm512_test_epi64_mask(r.k, _mm512_set1_epi64(1));
    const M k1 = _mm512_test_epi64_mask(r.k, _mm512_set1_epi64(2));
    const M odd = kShift ? static_cast<M>(~k0) : k0;
    const M neg = kShift ? static_cast<M>(k0 ^ k1) : k1;
    const V z = Mul(r.hi, r.hi);
    const V p = PolyOf(odd, z, kSinP, kCosP);
    // w = 1 - hi^2/2 as w + e
    const V half = Mul(r.hi, Set(0.5));
    const V w = _mm512_fnmadd_pd(r.hi, half, Set(1.0));
    const V e = _mm512_fnmadd_pd(r.hi, half, Set(1.0) - w);
    // y = H + (Z p + L), the parts chosen per lane as described above
    const V zp = Mul(z, Select(odd, z, r.hi));
    const V l = Fma(r.lo, Select(odd, XorSign(r.hi, Set(-0.0)), w), _mm512_maskz_mov_pd(odd, e));
    V y = Select(odd, w, r.hi) + Fma(zp, p, l);
    // sin(+-0) = +-0: the sum above gives +0 for x = -0 (hi S(0) is +0), so
    // fixupimm returns x itself where x is a zero (token 1 for the zero class,
    // all other classes keep y).
    if constexpr (kShift == 0) y = _mm512_fixupimm_pd(y, x, _mm512_set1_epi64(0x100), 0);
    const __m512i yi = _mm512_castpd_si512(y);
    return {_mm512_castsi512_pd(_mm512_mask_xor_epi64(yi, neg, yi, _mm512_set1_epi64(INT64_MIN))), redo};
}

LUMADEX_AVX512_INLINE Redone Sin(V x) { return SinCos<0>(x); }
LUMADEX_AVX512_INLINE Redone Cos(V x) { return SinCos<1>(x); }

// Beyond 2^20 (and for the infinities) SLEEF's 1-ulp functions, with their
// exact reduction.
LUMADEX_AVX512_INLINE V SinExact(V x) { return Sleef_sind8_u10avx512f(x); }
LUMADEX_AVX512_INLINE V CosExact(V x) { return Sleef_cosd8_u10avx512f(x); }

}  // namespace

LUMADEX_AVX512 void DoubleSinAvx512(MKL_INT n, const double* a, double* r)
{
    avx512::MapRedo<double, Sin, SinExact>(n, a, r);
}

LUMADEX_AVX512 void DoubleCosAvx512(MKL_INT n, const double* a, double* r)
{
    avx512::MapRedo<double, Cos, CosExact>(n, a, r);
}

LUMADEX_AVX512 void DoubleTanAvx512(MKL_INT n, const double* a, double* r) { avx512::Map<double, Tan>(n, a, r); }

}  // namespace lumadex::vml

LUMADEX_AVX512_END
