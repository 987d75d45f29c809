// Pieces shared by the double-precision AVX-512 kernels of the logarithm,
// exponential and power families: double-double helpers, reads of small
// tables held in registers (permutex2var), the constants of ln 2, and the
// exponential's reduction x = k ln2/16 + r with its table 2^(j/16) and its
// polynomial for e^r.
#pragma once

#include <immintrin.h>

#include <array>
#include <cstdint>

#include "avx512_loops.hpp"
#include "common.hpp"

namespace lumadex::vml::dcore {

LUMADEX_AVX512_INLINE __m512d Set(double v) { return _mm512_set1_pd(v); }
LUMADEX_AVX512_INLINE __m512i Bits(__m512d x) { return _mm512_castpd_si512(x); }
LUMADEX_AVX512_INLINE __m512d Double(__m512i x) { return _mm512_castsi512_pd(x); }

// An unevaluated sum hi + lo.
struct Dd {
    __m512d hi, lo;
};

// a + b = hi + lo exactly when a = 0 or the exponent of a is at least that
// of b (Dekker).
LUMADEX_AVX512_INLINE Dd FastTwoSum(__m512d a, __m512d b)
{
    const __m512d s = _mm512_add_pd(a, b);
    return {s, _mm512_add_pd(_mm512_sub_pd(a, s), b)};
}

// c0 + x (c1 + x (c2 + ...)).
LUMADEX_AVX512_INLINE __m512d Horner(__m512d, double c0) { return Set(c0); }
template <class... C>
LUMADEX_AVX512_INLINE __m512d Horner(__m512d x, double c0, C... c)
{
    return _mm512_fmadd_pd(Horner(x, c...), x, Set(c0));
}

// Register tables: t[j] for 16 entries (two registers, permutex2var reads
// the low four bits of each index lane), and for 32 entries (two such
// reads, the upper half chosen where bit 4 of the index is set).
LUMADEX_AVX512_INLINE __m512d Read16(const double* t, __m512i j)
{
    return _mm512_permutex2var_pd(_mm512_loadu_pd(t), j, _mm512_loadu_pd(t + 8));
}
LUMADEX_AVX512_INLINE __m512i Read16(const std::uint64_t* t, __m512i j)
{
    return _mm512_permutex2var_epi64(_mm512_loadu_si512(t), j, _mm512_loadu_si512(t + 8));
}
LUMADEX_AVX512_INLINE __m512d Read32(const double* t, __m512i j, __mmask8 upper)
{
    return _mm512_mask_mov_pd(Read16(t, j), upper, Read16(t + 16, j));
}
LUMADEX_AVX512_INLINE __m512i Read32(const std::uint64_t* t, __m512i j, __mmask8 upper)
{
    return _mm512_mask_mov_epi64(Read16(t, j), upper, Read16(t + 16, j));
}

// ln 2 = kLn2Hi + kLn2Lo, kLn2Hi with 42 significant bits so that k kLn2Hi is
// exact for every exponent |k| <= 1100 (and sums with table values that are
// multiples of 2^-42 stay exact).
inline constexpr double kLn2Hi = 0x1.62e42fefa3800p-1;
inline constexpr double kLn2Lo = 0x1.ef35793c76730p-45;

// The exponential: x = k ln2/16 + r + rlo with k = round(16 x/ln2), so that
// e^x = 2^floor(k/16) 2^(j/16) e^(r + rlo), j = k mod 16.
//
// SplitExp rounds k/16 to a multiple of 1/16 by adding 1.5 * 2^48 to x/ln2
// (valid for |x/ln2| < 2^47): k/16 is then exact, the very argument scalef
// needs for 2^floor(k/16), and the low bits of the sum's encoding kd are k,
// its low four bits j, the table index. ln2 = kExpLn2Hi + kExpLn2Lo (the
// rest is below 2^-110). r1 = x - (k/16) kExpLn2Hi is exact in one fma (its
// value is a multiple of the smaller ulp of the two and below 2^-5.5 in
// magnitude).
inline constexpr double kExpShifter = 0x1.8p48;
inline constexpr double kExpInvLn2 = 0x1.71547652b82fep+0;
inline constexpr double kExpLn2Hi = 0x1.62e42fefa39efp-1;
inline constexpr double kExpLn2Lo = 0x1.abc9e3b39803fp-56;

struct ExpSplit {
    __m512d kd;   // k/16 + 1.5 * 2^48, k in the low bits of its encoding
    __m512d k16;  // k/16
    __m512d r1;   // x - (k/16) kExpLn2Hi, |r1| <= ln2/32 (1 + 2^-40)
};

LUMADEX_AVX512_INLINE ExpSplit SplitExp(__m512d x)
{
    const __m512d kd = _mm512_fmadd_pd(x, Set(kExpInvLn2), Set(kExpShifter));
    const __m512d k16 = _mm512_sub_pd(kd, Set(kExpShifter));
    return {kd, k16, _mm512_fnmadd_pd(k16, Set(kExpLn2Hi), x)};
}

// ExpReduce: r = r1 - (k/16) kExpLn2Lo rounded and rlo its rounding error
// (below 2^-59), from one more fma, since r1 - r is exact. r + rlo carries
// x - k ln2/16 to about 2^-100 for |k/16| up to 2^10.
struct ExpReduced {
    __m512d k16;  // k/16
    __m512i j;    // k mod 16 in the low four bits
    __m512d r;    // |r| <= ln2/32 (1 + 2^-40)
    __m512d rlo;  // |rlo| <= 2^-59
};

LUMADEX_AVX512_INLINE ExpReduced ExpReduce(__m512d x)
{
    const ExpSplit s = SplitExp(x);
    const __m512d r = _mm512_fnmadd_pd(s.k16, Set(kExpLn2Lo), s.r1);
    const __m512d rlo = _mm512_fnmadd_pd(s.k16, Set(kExpLn2Lo), _mm512_sub_pd(s.r1, r));
    return {s.k16, Bits(s.kd), r, rlo};
}

// Sixteen values as hi + lo, read by index j in two registers each.
struct Table16 {
    std::array<double, 16> hi, lo;
};

LUMADEX_AVX512_INLINE Dd Lookup(const Table16& t, __m512i j) { return {Read16(t.hi.data(), j), Read16(t.lo.data(), j)}; }

// 2^(j/16): hi correctly rounded, lo the correctly rounded rest (mpmath, 50
// digits).
inline constexpr Table16 kPow2Sixteenth = {
    {0x1.0000000000000p+0, 0x1.0b5586cf9890fp+0, 0x1.172b83c7d517bp+0, 0x1.2387a6e756238p+0, 0x1.306fe0a31b715p+0,
     0x1.3dea64c123422p+0, 0x1.4bfdad5362a27p+0, 0x1.5ab07dd485429p+0, 0x1.6a09e667f3bcdp+0, 0x1.7a11473eb0187p+0,
     0x1.8ace5422aa0dbp+0, 0x1.9c49182a3f090p+0, 0x1.ae89f995ad3adp+0, 0x1.c199bdd85529cp+0, 0x1.d5818dcfba487p+0,
     0x1.ea4afa2a490dap+0},
    {0.0, 0x1.8a62e4adc610bp-54, -0x1.19041b9d78a76p-55, 0x1.9b07eb6c70573p-54, 0x1.6f46ad23182e4p-55,
     0x1.ada0911f09ebcp-55, 0x1.d4397afec42e2p-56, 0x1.6324c054647adp-54, -0x1.bdd3413b26456p-54,
     -0x1.41577ee04992fp-55, 0x1.6e9f156864b27p-54, 0x1.c7c46b071f2bep-56, 0x1.7a1cd345dcc81p-54,
     0x1.11065895048ddp-55, 0x1.2ed02d75b3707p-55, -0x1.e9c23179c2893p-54}};

// e^r - 1 = r + r^2 q(r) on |r| <= ln2/32: q of degree 5, a Chebyshev
// interpolant (mpmath); r + r^2 q errs by 2^-58.7 relative (so e^r by
// 2^-64). ExpQ evaluates q by Estrin's scheme (pairs in r, then in r^2), a
// shorter dependency chain than Horner's; r2 = r^2.
inline constexpr double kExpQ[6] = {0x1.0000000000001p-1,  0x1.5555555555556p-3,  0x1.55555554e9468p-5,
                                    0x1.11111110e10a8p-7,  0x1.6c17ed4cc48cap-10, 0x1.a01b0c2edac01p-13};

LUMADEX_AVX512_INLINE __m512d ExpQ(__m512d r, __m512d r2)
{
    const __m512d q01 = Horner(r, kExpQ[0], kExpQ[1]);
    const __m512d q23 = Horner(r, kExpQ[2], kExpQ[3]);
    const __m512d q45 = Horner(r, kExpQ[4], kExpQ[5]);
    return _mm512_fmadd_pd(_mm512_fmadd_pd(q45, r2, q23), r2, q01);
}

}  // namespace lumadex::vml::dcore
