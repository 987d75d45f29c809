// AVX-512F kernels for the complementary error function: float within
// 0.505 ulp over every float (0.5046 at x = 8.96697235, exhaustive against
// the long double erfc), double within 0.6 ulp (0.59 at worst over 1.3e9
// random arguments; see the double kernel below).
//
// Float: each half of a vector is widened to double lanes, where erfc(|x|) is the
// product e^(-x^2) R(|x|) with R(x) = e^(x^2) erfc(x), smooth and without
// cancellation from 0 up: erfc of any argument is at least 0.157 in [0, 1]
// and drops with e^(-x^2) beyond. The result is rounded to float once:
//  - x^2 is exact in double (24-bit x), and e^(-x^2) is the shared double
//    exponential core (2^(k/16) from its register table, e^r by its
//    polynomial) with the reduction's low part left out (below 2^-48
//    relative here);
//  - R is a polynomial of degree 7 in t = |x| - c_j on sixteen intervals j
//    read from register tables. j is the biased exponent (mod 4) and the
//    two leading fraction bits of |x| + 0.75: intervals of width 1/8 near
//    0 growing to 2 near 10, from [0, 1/8) to [9.25, 10.0625]. The
//    coefficients fit each interval for the error relative to R (weighted
//    least squares iterated toward minimax, against mpmath), 2^-31.7 at
//    worst with the coefficients rounded to double;
//  - erfc(-|x|) = 2 - erfc(|x|), at least 1, so its error stays absolute.
// With the double's relative error near 2^-31.5, the float is within 0.5
// ulp plus 2^-7.5 ulp; results in the subnormal range (|x| > 9.2) are
// rounded once from the double as well.
//
// |x| is clamped to 10.0625, where erfc is 0.85 * 2^-150 and rounds to +0
// (as for every larger argument, +inf included); -inf gives 2; NaN passes
// the clamp and stays NaN through the arithmetic.
#include <immintrin.h>

#include "avx512_loops.hpp"
#include "common.hpp"
#include "double_cores.hpp"

namespace lumadex::vml {
namespace {

using namespace avx512;
using namespace dcore;

// Per interval j (see the index in ErfcOfMagnitude): the center c_j, and
// R(c_j + t) = sum_k kErfcPoly[k][j] t^k.
alignas(64) constexpr double kErfcCenter[16] = {
    0x1.8000000000000p+0, 0x1.0000000000000p+1, 0x1.4000000000000p+1, 0x1.8000000000000p+1,
    0x1.e000000000000p+1, 0x1.3000000000000p+2, 0x1.7000000000000p+2, 0x1.b000000000000p+2,
    0x1.0800000000000p+3, 0x1.3500000000000p+3, 0x1.0000000000000p-4, 0x1.8000000000000p-3,
    0x1.8000000000000p-2, 0x1.4000000000000p-1, 0x1.c000000000000p-1, 0x1.2000000000000p+0};
alignas(64) constexpr double kErfcPoly[8][16] = {
    {
        0x1.494daff9b4947p-2, 0x1.058671b50efaep-2, 0x1.afbb3f3b626fdp-3, 0x1.6e9827d22460ep-3,
        0x1.2a2af19add121p-3, 0x1.dc603a3e0aa4ep-4, 0x1.8c14049cbcb30p-4, 0x1.52b80d46358d9p-4,
        0x1.1618fbc6149f6p-4, 0x1.dc1c6267999dap-5, 0x1.ddcd359cbe10ep-1, 0x1.a36bbb7f366f6p-1,
        0x1.5f28ade3c094ap-1, 0x1.1d16b5809acf5p-1, 0x1.db747ee406639p-2, 0x1.9531e09b132b4p-2},
    {
        -0x1.4f1988448b1f4p-3, -0x1.b57034efcf0f7p-4, -0x1.3086d7f0137bap-4, -0x1.bd6ae4d144b6bp-5,
        -0x1.2aa6503902e95p-5, -0x1.81149bc3f76ddp-6, -0x1.0bc46cdbf3e58p-6, -0x1.8914e8735b0b8p-7,
        -0x1.09d8af44582afp-7, -0x1.8653a0a369c8ep-8, -0x1.0300a1aa5e34ep+0, -0x1.a47283b89f54ep-1,
        -0x1.3a5c679d8f649p-1, -0x1.babd0e4f2572ap-2, -0x1.4369f6019911ep-2, -0x1.e78b35677276fp-3},
    {
        0x1.37ea2ace95211p-4, 0x1.5672bbc1d42b7p-5, 0x1.98958b8864a4cp-6, 0x1.043fe2006de6ep-6,
        0x1.22f070098bb8ep-7, 0x1.317c17b919818p-8, 0x1.65350597d06f7p-9, 0x1.c39a4a0d18e01p-10,
        0x1.f8c3976c3e762p-11, 0x1.3e5c609cc5127p-11, 0x1.bd6d216ba5599p-1, 0x1.549642cf2bbd2p-1,
        0x1.d28c0ead108a6p-2, 0x1.2577424df2bb4p-2, 0x1.80ef8f79902a3p-3, 0x1.05e72538d86fbp-3},
    {
        -0x1.0dc51e79f6102p-5, -0x1.fa9d3c7a3dfa5p-7, -0x1.063207efffbf7p-7, -0x1.25906212d3bcbp-8,
        -0x1.1434b7b5e40bap-9, -0x1.dc1afecdab39dp-11, -0x1.d663003a645cbp-12, -0x1.00e4e473fcfd3p-12,
        -0x1.dbf563b008395p-14, -0x1.025aacefd1937p-14, -0x1.46c6f62761e96p-1, -0x1.db731eea4348bp-2,
        -0x1.2e82dbdab37e9p-2, -0x1.59c35bfec7202p-3, -0x1.9d5868e34b628p-4, -0x1.01343a32a3a71p-4},
    {
        0x1.b65006bccca9ep-7, 0x1.648bd73d2601ap-8, 0x1.43596297d6046p-9, 0x1.409b10af3c7b9p-10,
        0x1.ffd7eca201c45p-12, 0x1.6cb88745e45d8p-13, 0x1.31da04caf41c7p-14, 0x1.217e72ada318ep-15,
        0x1.bdb83d19e7b02p-17, 0x1.a13b1bd7add86p-18, 0x1.a900885e61b4bp-2, 0x1.28035e861d847p-2,
        0x1.6119765514295p-3, 0x1.72d333bfdfaadp-4, 0x1.9830bd6732cbbp-5, 0x1.d4e62b17bc6d7p-6},
    {
        -0x1.5139ebd13242ep-8, -0x1.e023fd7153c4fp-10, -0x1.809a2dafcf72bp-11, -0x1.53dd1f3ef298cp-12,
        -0x1.cfb80de98a703p-14, -0x1.12eaae0195f89p-15, -0x1.88fb78ce2c629p-17, -0x1.433b8a40259ffp-18,
        -0x1.9ec4266379906p-20, -0x1.4f41813f1d7e5p-21, -0x1.f597d7a2192fdp-3, -0x1.4ff52db05b519p-3,
        -0x1.7a158b74861bep-4, -0x1.6fcdda5999fe0p-5, -0x1.779d526d3af99p-6, -0x1.9109e37d74c3cp-7},
    {
        0x1.f5d14b1200535p-10, 0x1.3a4d53cc3e0b9p-11, 0x1.bebf98fea6a4dp-13, 0x1.61297d9680a7bp-14,
        0x1.a4fb28e49734dp-16, 0x1.9ee3ad80c3ff3p-18, 0x1.f93b5a588d402p-20, 0x1.69073d30c521ep-21,
        0x1.89d96e03558fdp-23, 0x1.0cf5be515ec00p-24, 0x1.1167449cceb43p-3, 0x1.6151bb7be174bp-4,
        0x1.7ab7bb7a5cb88p-5, 0x1.572113bb82ceap-6, 0x1.46c849e83a538p-7, 0x1.45dd023f39d4dp-8},
    {
        -0x1.5f877d6490944p-11, -0x1.87aca230125ddp-13, -0x1.f23e1a3852d78p-15, -0x1.62c4349c468fdp-16,
        -0x1.6dc6b47d98890p-18, -0x1.2f6aef8d1341fp-20, -0x1.3d52370579a5cp-22, -0x1.8c20e864193cap-24,
        -0x1.6a5d735886a5ep-26, -0x1.ac1b312a5f5f6p-28, -0x1.1549418f9a718p-4, -0x1.5a825b080ea9ap-5,
        -0x1.611591fbdd560p-6, -0x1.2bc7bd740c1aep-7, -0x1.0bc5dd577cfc7p-8, -0x1.f5670dbf2d7eap-10},
};

// erfc(a) for 0 <= a <= 10.0625 (or NaN) in double lanes, within 2^-31.5
// relative.
LUMADEX_AVX512_INLINE __m512d ErfcOfMagnitude(__m512d a)
{
    // The low four bits of the bits of a + 0.75 shifted right by 50 are its
    // biased exponent mod 4 and its two leading fraction bits, j (the
    // permutes read only those four bits).
    const __m512i j = _mm512_srli_epi64(Bits(_mm512_add_pd(a, Set(0.75))), 50);
    const __m512d t = _mm512_sub_pd(a, Read16(kErfcCenter, j));
    __m512d r = Read16(kErfcPoly[7], j);
    for (int k = 6; k >= 0; --k) r = _mm512_fmadd_pd(r, t, Read16(kErfcPoly[k], j));
    // e^(-a^2) = 2^floor(k/16) 2^(j'/16) e^r1, |r1| <= ln2/32.
    const ExpSplit s = SplitExp(_mm512_fnmadd_pd(a, a, _mm512_setzero_pd()));
    const __m512d r2 = _mm512_mul_pd(s.r1, s.r1);
    const __m512d expm1 = _mm512_fmadd_pd(r2, ExpQ(s.r1, r2), s.r1);
    const __m512d scale = Read16(kPow2Sixteenth.hi.data(), Bits(s.kd));
    return _mm512_scalef_pd(_mm512_mul_pd(_mm512_fmadd_pd(scale, expm1, scale), r), s.k16);
}

// The float erf in double lanes, rounded once: below 1/2 the Taylor series
// x (c0 + x^2 Q(x^2)) with c_n = 2/sqrt(pi) (-1)^n / (n! (2n + 1)) up to
// n = 8 (the rest below 2^-35 relative); above, 1 - erfc(|x|) from the
// double value above (F < 1/2 within 2^-31.5 relative, so erf >= 0.52 is
// within 2^-31.5 too). The result takes the sign of x.
LUMADEX_AVX512_INLINE __m512d ErfOfMagnitude(__m512d a)
{
    const __m512d x2 = _mm512_mul_pd(a, a);
    __m512d q = Set(0x1.b9e6c9dc651a3p-20);
    for (const double c : {-0x1.f4d25c3e0c2ebp-17, 0x1.f9a326f9b89b7p-14, -0x1.c02db40040b86p-11, 0x1.565bcd0e6a53fp-8,
                           -0x1.b82ce31288b51p-6, 0x1.ce2f21a042be2p-4, -0x1.812746b0379e7p-2, 0x1.20dd750429b6dp+0})
        q = _mm512_fmadd_pd(q, x2, Set(c));
    __m512d result = _mm512_mul_pd(a, q);
    const __mmask8 series = _mm512_cmp_pd_mask(a, Set(0.5), _CMP_LT_OQ);
    if (series != 0xFF) result = _mm512_mask_sub_pd(result, ~series, Set(1.0), ErfcOfMagnitude(a));
    return result;
}
LUMADEX_AVX512 inline __m512 Erf16(__m512 x)
{
    // min returns its second operand, |x|, when that is NaN.
    const Wide a = Widen(_mm512_min_ps(_mm512_set1_ps(10.0625f), _mm512_abs_ps(x)));
    return SignOf(x, Narrow(ErfOfMagnitude(a.low), ErfOfMagnitude(a.high)));
}

LUMADEX_AVX512 inline __m512 Erfc16(__m512 x)
{
    // min returns its second operand, |x|, when that is NaN.
    const Wide a = Widen(_mm512_min_ps(_mm512_set1_ps(10.0625f), _mm512_abs_ps(x)));
    const __mmask16 negative = _mm512_cmp_ps_mask(x, _mm512_setzero_ps(), _CMP_LT_OQ);
    const __m512d two = _mm512_set1_pd(2.0);
    __m512d low = ErfcOfMagnitude(a.low), high = ErfcOfMagnitude(a.high);
    low = _mm512_mask_sub_pd(low, static_cast<__mmask8>(negative), two, low);
    high = _mm512_mask_sub_pd(high, static_cast<__mmask8>(negative >> 8), two, high);
    return Narrow(low, high);
}

// The double erfc: as above, erfc(a) = e^(-a^2) R(a) for a = |x| clamped to
// 27.25 (erfc rounds to +0 from 27.23 on), to about 2^-56 relative before
// the last addition, which rounds once:
//  - R is a polynomial of degree 15 in t = a - c_j on sixteen intervals
//    from register tables: j is the biased exponent (mod 4) and the two
//    leading fraction bits of a + 2.25, intervals of width 1/4 at 0, then
//    1/2 up to 1.75, 1 up to 5.75, 2 up to 13.75 and 4 beyond, from
//    [0, 1/4) to [25.75, 27.25]. The coefficients interpolate R at the
//    Chebyshev nodes (mpmath, 50 digits): 2^-58.6 at worst with c0 and c1
//    kept as pairs of doubles. c_j is each interval's middle, so that
//    a - c_j is exact (Sterbenz) but below 1/16, where its rounding error
//    joins as c1 tErr; c0 + c1 t is a pair (the product exact by an fma),
//    the rest of the polynomial joins its low part, and the sum is
//    renormalized;
//  - a^2 = x2 + x2Err exactly (fma), and e^(-a^2) = 2^(k/16) e^(r + u) with
//    the shared reduction of -x2 (r + rlo) and u = rlo - x2Err (|u| <
//    2^-43.9): e^(r + u) = 1 + r + m, m = w - r + u (1 + w) for w = e^r - 1
//    from the shared polynomial, and 2^(j/16) a pair from its table;
//  - F = 2^(j/16) (1 + r + m) R is ah + (ah (r + m) + al + ...) with ah + al
//    the exact product of the two leading parts; the terms left out are
//    below 2^-57.5 relative;
//  - erfc(-a) = 2 - F, with F as a pair (F <= 1, 2 - F in [1, 2]).
// Results below 2^-1022 (a > 26.5) are rounded once more, from the pair,
// onto the subnormal grid (see SubnormalErfc).
alignas(64) constexpr double kErfcDouble[19][16] = {
    {
        0x1.0000000000000p-3, 0x1.0000000000000p-1, 0x1.0000000000000p+0, 0x1.8000000000000p+0,
        0x1.2000000000000p+1, 0x1.a000000000000p+1, 0x1.1000000000000p+2, 0x1.5000000000000p+2,
        0x1.b000000000000p+2, 0x1.1800000000000p+3, 0x1.5800000000000p+3, 0x1.9800000000000p+3,
        0x1.f800000000000p+3, 0x1.3c00000000000p+4, 0x1.7c00000000000p+4, 0x1.a800000000000p+4},
    {
        0x1.bf16ef058facfp-1, 0x1.3b3bc3c98b0f3p-1, 0x1.b5d8780f956b2p-2, 0x1.494daffa2ad68p-2,
        0x1.d94446d627932p-3, 0x1.54a7a08d4bb45p-3, 0x1.08e62ce8c89adp-3, 0x1.b096face146fep-4,
        0x1.52b80d463c470p-4, 0x1.0669c59166c17p-4, 0x1.ac1a2600f9687p-5, 0x1.69647c7510299p-5,
        0x1.24dcbe974e1ebp-5, 0x1.d36fd78ee69a7p-6, 0x1.84dd1377e3a8ap-6, 0x1.5c92036f02bcep-6},
    {
        -0x1.07c49a46ba2e3p-55, -0x1.aabbb25d3b8f9p-56, 0x1.824306bab927ap-58, 0x1.39bd854591a62p-56,
        -0x1.bb4535ebd8a5cp-58, -0x1.6df3730c43678p-61, -0x1.dc950dc77b84dp-57, 0x1.97ce723b7ea1cp-59,
        -0x1.f595cfd44bfcap-58, 0x1.a95d79078fec4p-59, -0x1.19367838502a8p-59, -0x1.ee744b4b01eb0p-59,
        0x1.d7e5f7c53ed09p-60, 0x1.62bd78e266da4p-60, 0x1.e7051a8ce2a1cp-60, 0x1.5d03c5b11c3f3p-66},
    {
        -0x1.d1f52e46ef826p-1, -0x1.067f263ec85e7p-1, -0x1.17c4e3f17c050p-2, -0x1.4f1988444caf7p-3,
        -0x1.6a70d2bb37411p-4, -0x1.82a8522b868a1p-5, -0x1.da39533524970p-6, -0x1.3e981b3b13590p-6,
        -0x1.8914e8736d77dp-7, -0x1.d9c4ed21533b0p-8, -0x1.3be37b8224a8dp-8, -0x1.c2c3adc1ab710p-9,
        -0x1.2852ce71a1307p-9, -0x1.79b7e7dd8df24p-10, -0x1.058244bafe92dp-10, -0x1.a45161db933c4p-11},
    {
        -0x1.cf62faa4a8579p-55, -0x1.62ac20ae00a7fp-55, -0x1.66e12a29d92f0p-58, 0x1.24ac8bee13789p-57,
        0x1.23849373d5c26p-61, 0x1.b97ca92c989e2p-60, -0x1.146d899e2ac7fp-62, -0x1.d1e781e29871cp-63,
        -0x1.db348a497dda3p-61, 0x1.f4eca72d196dbp-62, 0x1.5ccfd59df0edfp-64, -0x1.7b10868825adap-63,
        0x1.d2622818c5781p-66, 0x1.e2653110ea8a3p-65, -0x1.0b9292961ee0ep-64, -0x1.a66e33276e0edp-65},
    {
        0x1.84d8493cb1bcap-1, 0x1.6ff861544dbffp-2, 0x1.3c27283c32cc4p-3, 0x1.37ea271bc54bdp-4,
        0x1.0615670e25a8ep-5, 0x1.a7eddc9ee6427p-7, 0x1.9ef71691a5520p-8, 0x1.cdeae21161624p-9,
        0x1.c39a4935fa77ep-10, 0x1.a909f1969e99ep-11, 0x1.d03c050c12cb0p-12, 0x1.1846ff5dc5bbcp-12,
        0x1.2b3b5f737306ap-13, 0x1.30d5596b63733p-14, 0x1.5f6ae4a38d695p-15, 0x1.fa7994b33bd68p-16},
    {
        -0x1.163c18bf90dc9p-1, -0x1.c6ad7a6f37d15p-3, -0x1.44837f8906fd0p-4, -0x1.0dc51d2941e6dp-5,
        -0x1.6883f9919a18bp-7, -0x1.c24b49c47a2c5p-9, -0x1.6373226edf541p-10, -0x1.49d492a39eb5fp-11,
        -0x1.00e4e3d2d8512p-12, -0x1.7b022618f5caap-14, -0x1.53b80a02ad7abp-15, -0x1.5b82416819eafp-16,
        -0x1.2d92fd52a4225p-17, -0x1.eb675154400e4p-19, -0x1.d7d2c449a71f5p-20, -0x1.30ee4987938cbp-20},
    {
        0x1.6210c624bfa11p-2, 0x1.fc9a0570ff738p-4, 0x1.33cad0ef5e95dp-5, 0x1.b65944f34f78ap-7,
        0x1.da595561f189ep-9, 0x1.d085857a174f8p-11, 0x1.2a660fdec0378p-12, 0x1.d03e19aa11341p-14,
        0x1.21808c22d380dp-15, 0x1.4ff2fd6a38401p-17, 0x1.ef2de61e6b7bep-19, 0x1.ad999f688a45bp-20,
        0x1.2f570b0cb8e75p-21, 0x1.8b953963ea46bp-23, 0x1.3c76f4e3600d0p-24, 0x1.6eeaeaaf756fap-25},
    {
        -0x1.99c4e0953b03fp-3, -0x1.0605940f2cb16p-4, -0x1.10fcf1b559153p-6, -0x1.513ed7600d1aep-8,
        -0x1.2bd251bb2c182p-10, -0x1.d25ebba1c40ecp-13, -0x1.eb88e0e8f3a50p-15, -0x1.4230e3ccf876dp-16,
        -0x1.433e288b7bcacp-18, -0x1.2809b1473226ap-20, -0x1.6770ae0c3f2a9p-22, -0x1.08c479c258743p-23,
        -0x1.3085c73ea4019p-25, -0x1.3e0c31f77a5a7p-27, -0x1.a82706839f41ap-29, -0x1.b931e3a3ad317p-30},
    {
        0x1.b5f0a024900d8p-4, 0x1.f7744f377e26dp-6, 0x1.c8cb958c9c201p-8, 0x1.ee705e736d38ap-10,
        0x1.6d7743d9fa2ccp-12, 0x1.c882f024c84ecp-15, 0x1.8d8e59757fc59p-17, 0x1.b93f4735d9bfdp-19,
        0x1.65acd3c9cc589p-21, 0x1.035da05d555b0p-23, 0x1.03dfafd4a32f5p-25, 0x1.456a39cce7d87p-27,
        0x1.311e4e5d8d618p-29, 0x1.fec7cef5664f3p-32, 0x1.1bfeb3ca9ece1p-33, 0x1.0911729c01ce8p-34},
    {
        -0x1.b506ac15a6f7cp-5, -0x1.c7101737a7408p-7, -0x1.6af2654e431dfp-9, -0x1.5b0abfe65ed3ap-11,
        -0x1.aed7ebcf719e8p-14, -0x1.b45d0260a6d46p-17, -0x1.3c0776388e005p-19, -0x1.2a4352eab4521p-21,
        -0x1.884f46d007bfdp-24, -0x1.c3e5fbad42d7ep-27, -0x1.764cd33bce190p-29, -0x1.8ecec57389658p-31,
        -0x1.31209abdfd3abp-33, -0x1.99a4b4c8f1cb7p-36, -0x1.7bf8ef642b2d5p-38, -0x1.3e47e54ef8daap-39},
    {
        0x1.9aa03562b0e41p-6, 0x1.85b049237af4ap-8, 0x1.135262cf337e1p-10, 0x1.d4509cfbece4fp-13,
        0x1.ec7736a0e2b8ap-16, 0x1.97dd77966c623p-19, 0x1.ee335e5e5077dp-22, 0x1.8e3752f2bfb7fp-24,
        0x1.aa9ef9e15e85fp-27, 0x1.877b563daeb74p-30, 0x1.0c823ce2c5ac2p-32, 0x1.e75d1d1ef5111p-35,
        0x1.308d7f9e764b4p-37, 0x1.481ff2c7d7de3p-40, 0x1.fbf21e12a73cfp-43, 0x1.7de8b69bb7d6bp-44},
    {
        -0x1.6da7b270f28c2p-7, -0x1.3de720994305fp-9, -0x1.908223340705bp-12, -0x1.30c0ec6b25ab6p-14,
        -0x1.117a638933681p-17, -0x1.753caa58a74dcp-21, -0x1.7c568cf29f538p-24, -0x1.06a3ad8695aa3p-26,
        -0x1.cc0fe0f8981dbp-30, -0x1.51483a6fc4d74p-33, -0x1.7fc1e8b07d6f3p-36, -0x1.28f3cc0b1a29bp-38,
        -0x1.2f66b1134f97bp-41, -0x1.0680fab3e3231p-44, -0x1.53378514cd156p-47, -0x1.c9f013911f827p-49},
    {
        0x1.3637c94ae1aebp-8, 0x1.f0577f9463d9ep-11, 0x1.184fdafbb5137p-13, 0x1.7f998b9b6f73ap-16,
        0x1.27b0e5b362ca3p-19, 0x1.4ec13cb9184f7p-23, 0x1.204b227eb685ep-26, 0x1.5669b1f74bdfap-29,
        0x1.ec17d0056ea40p-33, 0x1.2104e4c0333edp-36, 0x1.11323cc702099p-39, 0x1.68db49798db31p-42,
        0x1.2db045588e31cp-45, 0x1.a37f864327565p-49, 0x1.c4aed44ffdd0fp-52, 0x1.125c297694c21p-53},
    {
        -0x1.f7a90a1681d80p-10, -0x1.74293cde93773p-12, -0x1.7ab1eed245a47p-15, -0x1.d41584e6d079ep-18,
        -0x1.37bb2a995006dp-21, -0x1.268cc43ef3849p-25, -0x1.aeb4729a7bdfdp-29, -0x1.b961c76184047p-32,
        -0x1.051233b53451fp-35, -0x1.ecaf9c6349af7p-40, -0x1.8383ada451e8ep-43, -0x1.b54be01befdaep-46,
        -0x1.2b6a4b4c9f0a1p-49, -0x1.4ec7a8a6cc6cap-53, -0x1.2dca916b4b597p-56, -0x1.488571e5c9e50p-58},
    {
        0x1.88a0b941df4f4p-11, 0x1.0cc8053e759c1p-13, 0x1.eeece4ff5515bp-17, 0x1.1561adf7afacep-19,
        0x1.406c54ecfa1d3p-23, 0x1.fc942c9ca2007p-28, 0x1.3d19c00d7d0b8p-31, 0x1.194c09887c72cp-34,
        0x1.12529232721fbp-38, 0x1.a1659113b50a8p-43, 0x1.11b4b3ef986d4p-46, 0x1.082df79f56968p-49,
        0x1.28216e45d3c0ep-53, 0x1.0aab326168801p-57, 0x1.91eb4915542efp-61, 0x1.8919b0f5c2260p-63},
    {
        -0x1.26d62aa4c7f5ap-12, -0x1.77357d06e138dp-15, -0x1.39b48ca84624bp-18, -0x1.3ff9829f569d2p-21,
        -0x1.428c29f6d9279p-25, -0x1.afd36c3894941p-30, -0x1.ccd3ec9455502p-34, -0x1.62d2f0eaca479p-37,
        -0x1.1e9d6f634d865p-41, -0x1.60144ed03c7b8p-46, -0x1.8160453eab6cfp-50, -0x1.3e6391edca9ecp-53,
        -0x1.24ceadb596b5cp-57, -0x1.a897f14208c28p-62, -0x1.0b7d8150368b2p-65, -0x1.d60cfdc484297p-68},
    {
        0x1.aee04b5063dd2p-14, 0x1.046176445727fp-16, 0x1.8b04215142489p-20, 0x1.6e7e567667692p-23,
        0x1.50fb29ab6d541p-27, 0x1.782aa65953167p-32, 0x1.5506e814e7c48p-36, 0x1.c5a6f1824b45ep-40,
        0x1.3e17d276bc7a7p-44, 0x1.34da51805ce12p-49, 0x1.16cb5e3612742p-53, 0x1.87722b373155fp-57,
        0x1.3399bbb755657p-61, 0x1.5f725374d4975p-66, 0x1.6dd3a49a5032cp-70, 0x1.19b865f412980p-72},
    {
        -0x1.2e5d96fa36b95p-15, -0x1.55078619a4ea6p-18, -0x1.d903b084d5436p-22, -0x1.91dea8a05f50fp-25,
        -0x1.449c8c134c410p-29, -0x1.34b2f4a319dfep-34, -0x1.e29adcc19bf56p-39, -0x1.182da3f72c000p-42,
        -0x1.471e7c924c275p-47, -0x1.01c7f1cd23063p-52, -0x1.859e8ab4fe0a8p-57, -0x1.d52bf718470acp-61,
        -0x1.2ef4c54f53b07p-65, -0x1.1715ab7eb5123p-70, -0x1.e61642d3ec263p-75, -0x1.5066eeee18758p-77},
};

// The rows of kErfcDouble: the center, c0 and c1 as pairs, then c2 .. c15.
enum ErfcRow { kCenterRow = 0, kC0Row = 1, kC1Row = 3, kC2Row = 5, kErfcRows = 19 };

// F 2^floor(k16) rounded once where it is below 2^-1022, F = hi + lo
// (hi >= 0): with e = floor(k16), the subnormal grid is G = 2^(-1074 - e)
// in F's units, and S + hi for S = 2^52 G (above hi there) rounds to it;
// that sum's rounding error and lo then settle the last step, and the sum
// minus S, a multiple of G, scales exactly.
LUMADEX_AVX512 [[gnu::noinline, gnu::cold]] __m512d SubnormalErfc(__m512d hi, __m512d lo, __m512d k16,
                                                                          __m512d result, __mmask8 lanes)
{
    const __m512d e = _mm512_roundscale_pd(k16, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    const __m512d shifter = _mm512_scalef_pd(Set(1.0), _mm512_sub_pd(Set(-1022.0), e));
    const Dd s = FastTwoSum(shifter, hi);
    const __m512d rounded = _mm512_add_pd(s.hi, _mm512_add_pd(s.lo, lo));
    return _mm512_mask_mov_pd(result, lanes, _mm512_scalef_pd(_mm512_sub_pd(rounded, shifter), e));
}

// erfc(|x|) = F 2^floor(k16) with F = hi + lo (hi >= 0, |lo| below an ulp of
// hi), for the double erfc and erf.
struct ScaledErfc {
    Dd f;
    __m512d k16;
};
LUMADEX_AVX512_INLINE ScaledErfc ErfcOfMagnitudeDouble(__m512d x)
{
    // min returns its second operand, |x|, when that is NaN.
    const __m512d a = _mm512_min_pd(Set(27.25), _mm512_abs_pd(x));
    // The permutes read the low four bits: biased exponent mod 4, then the
    // two leading fraction bits of a + 2.25.
    const __m512i j = _mm512_srli_epi64(Bits(_mm512_add_pd(a, Set(2.25))), 50);
    const auto row = [&](int k) LUMADEX_AVX512_LAMBDA { return Read16(kErfcDouble[k], j); };
    // t + tErr = a - c exactly (tErr = 0 but below 1/16, on the first interval).
    const __m512d center = row(kCenterRow), t = _mm512_sub_pd(a, center);
    const __m512d tErr = _mm512_add_pd(_mm512_sub_pd(_mm512_sub_pd(_mm512_setzero_pd(), center), t), a);
    __m512d q = row(kErfcRows - 1);
    for (int k = kErfcRows - 2; k >= kC2Row; --k) q = _mm512_fmadd_pd(q, t, row(k));
    const __m512d c1 = row(kC1Row), p1 = _mm512_mul_pd(c1, t);
    const Dd s = FastTwoSum(row(kC0Row), p1);
    const __m512d rest = _mm512_fmadd_pd(c1, tErr, _mm512_add_pd(_mm512_add_pd(row(kC0Row + 1), s.lo),
                                                                 _mm512_fmsub_pd(c1, t, p1)));
    const Dd r = FastTwoSum(s.hi, _mm512_fmadd_pd(_mm512_mul_pd(t, t), q, _mm512_fmadd_pd(row(kC1Row + 1), t, rest)));
    // e^(-a^2) = 2^(k/16) (1 + r + m), |r| <= ln2/32.
    const __m512d x2 = _mm512_mul_pd(a, a), x2Err = _mm512_fmsub_pd(a, a, x2);
    const ExpReduced e = ExpReduce(_mm512_sub_pd(_mm512_setzero_pd(), x2));
    const __m512d u = _mm512_sub_pd(e.rlo, x2Err);
    const __m512d r2 = _mm512_mul_pd(e.r, e.r), r2q = _mm512_mul_pd(r2, ExpQ(e.r, r2));
    const __m512d m = _mm512_add_pd(r2q, _mm512_fmadd_pd(u, _mm512_add_pd(e.r, r2q), u));
    const Dd power = Lookup(kPow2Sixteenth, e.j);
    const __m512d ah = _mm512_mul_pd(power.hi, r.hi), al = _mm512_fmsub_pd(power.hi, r.hi, ah);
    const __m512d tails = _mm512_add_pd(al, _mm512_fmadd_pd(power.hi, r.lo, _mm512_mul_pd(power.lo, r.hi)));
    const __m512d small = _mm512_fmadd_pd(ah, e.r, _mm512_fmadd_pd(ah, m, tails));
    const Dd f = FastTwoSum(ah, small);
    return {f, e.k16};
}

LUMADEX_AVX512 inline __m512d ErfcDouble8(__m512d x)
{
    const auto [f, k16] = ErfcOfMagnitudeDouble(x);
    const __m512d high = _mm512_scalef_pd(f.hi, k16);
    // 2 - F for negative x: 2 - high exactly as a pair, then the low parts.
    const Dd g = FastTwoSum(Set(2.0), _mm512_sub_pd(_mm512_setzero_pd(), high));
    const __m512d reflected = _mm512_add_pd(g.hi, _mm512_sub_pd(g.lo, _mm512_scalef_pd(f.lo, k16)));
    const __mmask8 negative = _mm512_cmp_pd_mask(x, _mm512_setzero_pd(), _CMP_LT_OQ);
    __m512d result = _mm512_mask_mov_pd(high, negative, reflected);
    // high rounded F a second time where it is subnormal (a > 26.5).
    const __mmask8 subnormal = _mm512_mask_cmp_pd_mask(~negative, high, Set(0x1p-1022), _CMP_LT_OQ);
    if (__builtin_expect(subnormal != 0, 0)) result = SubnormalErfc(f.hi, f.lo, k16, result, subnormal);
    return result;
}

// The double erf, within 0.75 ulp by the bounds below (0.68 at worst over
// 9e4 sampled arguments with normal results, against mpmath):
//  - |x| >= 1/2: 1 - erfc(|x|) from the pair F above (F <= erfc(1/2) <
//    1/2, so 1 - F's high part is exact and F's error, 2^-56 absolute, is
//    below an eighth of an ulp of erf >= 0.52), rounded once;
//  - |x| < 1/2: the Taylor series x (c0 + x^2 Q(x^2)), c_n = 2/sqrt(pi)
//    (-1)^n / (n! (2n + 1)) up to n = 12 (the rest below 2^-63 relative),
//    with x c0 an exact pair (c0 as hi + lo): x^3 Q is at most a twelfth of
//    the result, so its roundings cost a few hundredths of an ulp, and the
//    sum rounds once.
// The result takes the sign of x (erf is odd; -0 gives -0); infinities give
// +-1 (erfc clamps |x|) and NaN stays NaN.
constexpr double kTwoOverSqrtPiHi = 0x1.20dd750429b6dp+0, kTwoOverSqrtPiLo = 0x1.1ae3a914fed80p-56;
LUMADEX_AVX512_INLINE __m512d ErfSeries(__m512d a)
{
    const __m512d x2 = _mm512_mul_pd(a, a);
    __m512d q = Set(0x1.9e6ad5e55a730p-34);
    for (const double c : {-0x1.51d7181c5d36dp-30, 0x1.fcc5720624c1cp-27, -0x1.5f742ec43e71ap-23, 0x1.b9e6c9dc651a3p-20,
                           -0x1.f4d25c3e0c2ebp-17, 0x1.f9a326f9b89b7p-14, -0x1.c02db40040b86p-11, 0x1.565bcd0e6a53fp-8,
                           -0x1.b82ce31288b51p-6, 0x1.ce2f21a042be2p-4, -0x1.812746b0379e7p-2})
        q = _mm512_fmadd_pd(q, x2, Set(c));
    const __m512d hi = _mm512_mul_pd(a, Set(kTwoOverSqrtPiHi));
    const __m512d lo = _mm512_fmadd_pd(a, Set(kTwoOverSqrtPiLo), _mm512_fmsub_pd(a, Set(kTwoOverSqrtPiHi), hi));
    return _mm512_add_pd(hi, _mm512_fmadd_pd(_mm512_mul_pd(a, x2), q, lo));
}
LUMADEX_AVX512 inline __m512d ErfDouble8(__m512d x)
{
    const __m512d a = _mm512_abs_pd(x);
    const __mmask8 series = _mm512_cmp_pd_mask(a, Set(0.5), _CMP_LT_OQ);
    __m512d result = ErfSeries(a);
    // Below 2^-960 the remainder of x c0hi falls under the subnormal grid:
    // there the series runs on x 2^64 and its sum scales back, exactly for
    // normal results; subnormal ones round a second time, onto their grid
    // (0.25 ulp of it at most from the first rounding: within 0.75).
    const __mmask8 tiny = _mm512_cmp_pd_mask(a, Set(0x1p-960), _CMP_LT_OQ);
    if (__builtin_expect(tiny != 0, 0))
        result = _mm512_mask_mul_pd(result, tiny, ErfSeries(_mm512_mul_pd(a, Set(0x1p64))), Set(0x1p-64));
    if (series != 0xFF) {
        const auto [f, k16] = ErfcOfMagnitudeDouble(a);
        const Dd g = FastTwoSum(Set(1.0), _mm512_sub_pd(_mm512_setzero_pd(), _mm512_scalef_pd(f.hi, k16)));
        const __m512d reflected = _mm512_add_pd(g.hi, _mm512_sub_pd(g.lo, _mm512_scalef_pd(f.lo, k16)));
        result = _mm512_mask_mov_pd(reflected, series, result);
    }
    return SignOf(x, result);
}

}  // namespace

// One vector, for the residual of the inverse error function.
LUMADEX_AVX512 __m512d DoubleErfcOf8(__m512d x) { return ErfcDouble8(x); }

LUMADEX_AVX512 [[gnu::flatten]] void FloatErfcAvx512(MKL_INT n, const float* a, float* r) { Map<float, Erfc16>(n, a, r); }
LUMADEX_AVX512 [[gnu::flatten]] void DoubleErfcAvx512(MKL_INT n, const double* a, double* r) { Map<double, ErfcDouble8>(n, a, r); }
LUMADEX_AVX512 [[gnu::flatten]] void FloatErfAvx512(MKL_INT n, const float* a, float* r) { Map<float, Erf16>(n, a, r); }
LUMADEX_AVX512 [[gnu::flatten]] void DoubleErfAvx512(MKL_INT n, const double* a, double* r) { Map<double, ErfDouble8>(n, a, r); }

}  // namespace lumadex::vml
