// The lane helpers and constants of the double trigonometric kernels
// (double_trig_kernels.cpp: sin, cos, tan; double_inverse_trig_kernels.cpp:
// atan, atan2, asin, acos). They inline into each kernel's loop; the rare
// paths stay out of it.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "common.hpp"

namespace lumadex::vml::dtrig {

using V = __m512d;
using M = __mmask8;

LUMADEX_AVX512_INLINE V Set(double v) { return _mm512_set1_pd(v); }
LUMADEX_AVX512_INLINE V Abs(V x)
{
    return _mm512_castsi512_pd(_mm512_and_epi64(_mm512_castpd_si512(x), _mm512_set1_epi64(INT64_MAX)));
}
// x with the sign bit of s flipped in: x xor (s and -0).
LUMADEX_AVX512_INLINE V XorSign(V x, V s)
{
    return _mm512_castsi512_pd(_mm512_ternarylogic_epi64(_mm512_castpd_si512(x), _mm512_castpd_si512(s),
                                                         _mm512_set1_epi64(INT64_MIN), 0x78));
}
LUMADEX_AVX512_INLINE V Fma(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }
// A rounded product, kept apart from the additions that follow it: the
// compiler may not contract it into an fma, which would break the exact
// splittings (Fast2Sum, Sterbenz differences) the error bounds rest on.
LUMADEX_AVX512_INLINE V Mul(V a, V b)
{
    V p = a * b;
    asm("" : "+v"(p));
    return p;
}
LUMADEX_AVX512_INLINE V Neg(M m, V x) { return _mm512_mask_sub_pd(x, m, _mm512_setzero_pd(), x); }
LUMADEX_AVX512_INLINE M SignBit(V x)
{
    return _mm512_test_epi64_mask(_mm512_castpd_si512(x), _mm512_set1_epi64(INT64_MIN));
}
LUMADEX_AVX512_INLINE M Lt(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
LUMADEX_AVX512_INLINE M Gt(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ); }
LUMADEX_AVX512_INLINE M Eq(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
LUMADEX_AVX512_INLINE V Select(M m, V yes, V no) { return _mm512_mask_mov_pd(no, m, yes); }

// Horner's rule, highest coefficient last.
template <std::size_t N>
LUMADEX_AVX512_INLINE V Poly(V z, const double (&c)[N])
{
    V p = Set(c[N - 1]);
    for (std::size_t i = N - 1; i-- > 0;) p = Fma(p, z, Set(c[i]));
    return p;
}

// pi/2 and pi as double-doubles.
inline constexpr double kPio2Hi = 0x1.921fb54442d18p+0, kPio2Lo = 0x1.1a62633145c07p-54;
inline constexpr double kPiHi = 0x1.921fb54442d18p+1, kPiLo = 0x1.1a62633145c07p-53;

// Adding 1.5 * 2^52 rounds a double below 2^51 to an integer and leaves that
// integer in the low mantissa bits (read as int64 lanes by permutes and tests).
inline constexpr double kRoundMagic = 0x1.8p52;

// h + p + rest with |h| >= |p| (or h = 0): Fast2Sum of the leading pair, so
// that only the final addition rounds at the result's scale.
LUMADEX_AVX512_INLINE V SumTo(V h, V p, V rest)
{
    const V s = h + p;
    const V e = (h - s) + p;
    return s + (e + rest);
}

}  // namespace lumadex::vml::dtrig
