// The loops of our AVX-512 kernels, and lane helpers with one name for both
// precisions. A lane function goes over whole vectors
// and then over the tail through masked loads and stores, so that each
// result depends on its own argument alone, never on where a call or a
// thread's share of it starts. Each vector is loaded before its result is
// stored, so r may be an operand.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "common.hpp"

// GCC's own AVX-512 intrinsics start from undefined vectors they then fill,
// which it reports as uninitialized in the files that use them.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

namespace lumadex::vml::avx512 {

// A float vector as its low and high halves widened to double, for kernels
// that compute float results in double lanes and round them once.
struct Wide {
    __m512d low, high;
};

LUMADEX_AVX512_INLINE Wide Widen(__m512 x)
{
    const __m256 high = _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(x), 1));
    return {_mm512_cvtps_pd(_mm512_castps512_ps256(x)), _mm512_cvtps_pd(high)};
}

LUMADEX_AVX512_INLINE __m512 Narrow(__m512d low, __m512d high)
{
    const __m512d joined = _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(_mm512_cvtpd_ps(low))),
                                              _mm256_castps_pd(_mm512_cvtpd_ps(high)), 1);
    return _mm512_castpd_ps(joined);
}

// Loads and stores of one vector of T.
template <class T>
struct Lanes;

template <>
struct Lanes<float> {
    using V = __m512;
    using M = __mmask16;
    static constexpr MKL_INT kWidth = 16;
    LUMADEX_AVX512_INLINE static V Load(const float* p) { return _mm512_loadu_ps(p); }
    LUMADEX_AVX512_INLINE static V Load(M m, const float* p, float fill) { return _mm512_mask_loadu_ps(_mm512_set1_ps(fill), m, p); }
    LUMADEX_AVX512_INLINE static void Store(float* p, V v) { _mm512_storeu_ps(p, v); }
    LUMADEX_AVX512_INLINE static void Store(M m, float* p, V v) { _mm512_mask_storeu_ps(p, m, v); }
};

template <>
struct Lanes<double> {
    using V = __m512d;
    using M = __mmask8;
    static constexpr MKL_INT kWidth = 8;
    LUMADEX_AVX512_INLINE static V Load(const double* p) { return _mm512_loadu_pd(p); }
    LUMADEX_AVX512_INLINE static V Load(M m, const double* p, double fill) { return _mm512_mask_loadu_pd(_mm512_set1_pd(fill), m, p); }
    LUMADEX_AVX512_INLINE static void Store(double* p, V v) { _mm512_storeu_pd(p, v); }
    LUMADEX_AVX512_INLINE static void Store(M m, double* p, V v) { _mm512_mask_storeu_pd(p, m, v); }
};

template <class T>
LUMADEX_AVX512_INLINE typename Lanes<T>::M TailMask(MKL_INT count)
{
    return static_cast<typename Lanes<T>::M>((1u << count) - 1);
}

// The loops below prefetch their operands and destination (Ahead, common.hpp).
// r = f(a); lanes past the end compute f(0). Plain stores whatever the size
// of r: these kernels compute for longer than memory takes to move their
// operands, and streaming stores measured 1.5 to 3 times slower for them
// (Xeon, AVX-512: the lines in flight to memory hold the fill buffers that
// the loads need); the memory-bound routines stream instead (ComputeInto).
template <class T, class F>
LUMADEX_AVX512_INLINE void MapWith(MKL_INT n, const T* a, T* r, F f)
{
    using L = Lanes<T>;
    MKL_INT i = 0;
    for (; i + L::kWidth <= n; i += L::kWidth) {
        Ahead(a + i);
        Ahead(r + i);
        L::Store(r + i, f(L::Load(a + i)));
    }
    if (i < n) {
        const auto m = TailMask<T>(n - i);
        L::Store(m, r + i, f(L::Load(m, a + i, T(0))));
    }
}

template <class T, auto F>
LUMADEX_AVX512_INLINE void Map(MKL_INT n, const T* a, T* r)
{
    MapWith(n, a, r, F);
}

// r = F(a, b); lanes past the end compute F(0, 1).
template <class T, auto F>
LUMADEX_AVX512_INLINE void Map(MKL_INT n, const T* a, const T* b, T* r)
{
    using L = Lanes<T>;
    MKL_INT i = 0;
    for (; i + L::kWidth <= n; i += L::kWidth) {
        Ahead(a + i);
        Ahead(b + i);
        Ahead(r + i);
        L::Store(r + i, F(L::Load(a + i), L::Load(b + i)));
    }
    if (i < n) {
        const auto m = TailMask<T>(n - i);
        L::Store(m, r + i, F(L::Load(m, a + i, T(0)), L::Load(m, b + i, T(1))));
    }
}

// For a fast kernel F that returns its values (.y) and the lanes it leaves
// to an exact one (.redo): every vector is stored as F computed it, and the
// rare vectors with lanes beyond F's range have those lanes overwritten at
// once from Exact, called out of line on the inputs still in registers, on
// a path the loop seldom takes, so that the loop keeps its constants in
// registers.
template <class T, auto Exact, class... V>
LUMADEX_AVX512 [[gnu::noinline, gnu::cold]] void Redo(T* r, typename Lanes<T>::M lanes, V... x)
{
    Lanes<T>::Store(lanes, r, Exact(x...));
}

template <class T, auto F, auto Exact>
LUMADEX_AVX512_INLINE void MapRedo(MKL_INT n, const T* a, T* r)
{
    using L = Lanes<T>;
    MKL_INT i = 0;
    for (; i + L::kWidth <= n; i += L::kWidth) {
        Ahead(a + i);
        Ahead(r + i);
        const auto x = L::Load(a + i);
        const auto result = F(x);
        L::Store(r + i, result.y);
        if (__builtin_expect(result.redo != 0, 0)) Redo<T, Exact>(r + i, result.redo, x);
    }
    if (i < n) {
        const auto m = TailMask<T>(n - i);
        const auto x = L::Load(m, a + i, T(0));
        const auto result = F(x);
        L::Store(m, r + i, result.y);
        if (result.redo & m) Redo<T, Exact>(r + i, result.redo & m, x);
    }
}

template <class T, auto F, auto Exact>
LUMADEX_AVX512_INLINE void MapRedo(MKL_INT n, const T* a, const T* b, T* r)
{
    using L = Lanes<T>;
    MKL_INT i = 0;
    for (; i + L::kWidth <= n; i += L::kWidth) {
        Ahead(a + i);
        Ahead(b + i);
        Ahead(r + i);
        const auto x = L::Load(a + i), y = L::Load(b + i);
        const auto result = F(x, y);
        L::Store(r + i, result.y);
        if (__builtin_expect(result.redo != 0, 0)) Redo<T, Exact>(r + i, result.redo, x, y);
    }
    if (i < n) {
        const auto m = TailMask<T>(n - i);
        const auto x = L::Load(m, a + i, T(0)), y = L::Load(m, b + i, T(1));
        const auto result = F(x, y);
        L::Store(m, r + i, result.y);
        if (result.redo & m) Redo<T, Exact>(r + i, result.redo & m, x, y);
    }
}


// r = F(a) as a function whose address a routine takes and runs through
// RunUnary (common.hpp), each thread storing straight into its share.
template <class T, auto F>
LUMADEX_AVX512 void MapStored(MKL_INT n, const T* a, T* r)
{
    MapWith(n, a, r, F);
}

// --- lane helpers for both precisions -------------------------------------------
//
// One name for the float (16 lanes) and the double (8 lanes) form, so that a
// kernel is written once for both. Inline, not forced: the compiler decides
// as for any small function.
LUMADEX_AVX512 inline float LaneOf(__m512) { return 0; }  // the lane type, for decltype
LUMADEX_AVX512 inline double LaneOf(__m512d) { return 0; }
LUMADEX_AVX512 inline __m512 Broadcast(float v, __m512) { return _mm512_set1_ps(v); }
LUMADEX_AVX512 inline __m512d Broadcast(double v, __m512d) { return _mm512_set1_pd(v); }
LUMADEX_AVX512 inline __m512 Mul(__m512 a, __m512 b) { return _mm512_mul_ps(a, b); }
LUMADEX_AVX512 inline __m512d Mul(__m512d a, __m512d b) { return _mm512_mul_pd(a, b); }
LUMADEX_AVX512 inline __m512 Add(__m512 a, __m512 b) { return _mm512_add_ps(a, b); }
LUMADEX_AVX512 inline __m512d Add(__m512d a, __m512d b) { return _mm512_add_pd(a, b); }
LUMADEX_AVX512 inline __m512 Sub(__m512 a, __m512 b) { return _mm512_sub_ps(a, b); }
LUMADEX_AVX512 inline __m512d Sub(__m512d a, __m512d b) { return _mm512_sub_pd(a, b); }
// a b + c, a b - c and c - a b, each rounded once.
LUMADEX_AVX512 inline __m512 Fma(__m512 a, __m512 b, __m512 c) { return _mm512_fmadd_ps(a, b, c); }
LUMADEX_AVX512 inline __m512d Fma(__m512d a, __m512d b, __m512d c) { return _mm512_fmadd_pd(a, b, c); }
LUMADEX_AVX512 inline __m512 Fms(__m512 a, __m512 b, __m512 c) { return _mm512_fmsub_ps(a, b, c); }
LUMADEX_AVX512 inline __m512d Fms(__m512d a, __m512d b, __m512d c) { return _mm512_fmsub_pd(a, b, c); }
LUMADEX_AVX512 inline __m512 Fnma(__m512 a, __m512 b, __m512 c) { return _mm512_fnmadd_ps(a, b, c); }
LUMADEX_AVX512 inline __m512d Fnma(__m512d a, __m512d b, __m512d c) { return _mm512_fnmadd_pd(a, b, c); }
// x = m 2^e with m in [1, 2) and the integer e as a float, subnormals
// included (the instructions normalise them).
LUMADEX_AVX512 inline __m512 ExponentOf(__m512 x) { return _mm512_getexp_ps(x); }
LUMADEX_AVX512 inline __m512d ExponentOf(__m512d x) { return _mm512_getexp_pd(x); }
LUMADEX_AVX512 inline __m512 MantissaOf(__m512 x) { return _mm512_getmant_ps(x, _MM_MANT_NORM_1_2, _MM_MANT_SIGN_zero); }
LUMADEX_AVX512 inline __m512d MantissaOf(__m512d x) { return _mm512_getmant_pd(x, _MM_MANT_NORM_1_2, _MM_MANT_SIGN_zero); }
// x 2^floor(k).
LUMADEX_AVX512 inline __m512 ScaleBy(__m512 x, __m512 k) { return _mm512_scalef_ps(x, k); }
LUMADEX_AVX512 inline __m512d ScaleBy(__m512d x, __m512d k) { return _mm512_scalef_pd(x, k); }
// table[i mod lanes] for the low bits i of each lane of `index`.
LUMADEX_AVX512 inline __m512 Lookup(__m512 index, __m512 table)
{
    return _mm512_permutexvar_ps(_mm512_castps_si512(index), table);
}
LUMADEX_AVX512 inline __m512d Lookup(__m512d index, __m512d table)
{
    return _mm512_permutexvar_pd(_mm512_castpd_si512(index), table);
}
// The bits of x under `mask`; x with the sign of `from`.
LUMADEX_AVX512 inline __m512 KeepBits(__m512 x, std::uint32_t mask)
{
    return _mm512_castsi512_ps(_mm512_and_si512(_mm512_castps_si512(x), _mm512_set1_epi32(static_cast<int>(mask))));
}
LUMADEX_AVX512 inline __m512d KeepBits(__m512d x, std::uint64_t mask)
{
    const __m512i bits = _mm512_set1_epi64(static_cast<long long>(mask));
    return _mm512_castsi512_pd(_mm512_and_si512(_mm512_castpd_si512(x), bits));
}
LUMADEX_AVX512 inline __m512 SignOf(__m512 from, __m512 x)
{
    return _mm512_castsi512_ps(_mm512_ternarylogic_epi32(_mm512_castps_si512(x), _mm512_castps_si512(from),
                                                         _mm512_set1_epi32(INT32_MIN), 0xD8));
}
LUMADEX_AVX512 inline __m512d SignOf(__m512d from, __m512d x)
{
    return _mm512_castsi512_pd(_mm512_ternarylogic_epi64(_mm512_castpd_si512(x), _mm512_castpd_si512(from),
                                                         _mm512_set1_epi64(INT64_MIN), 0xD8));
}
// Float: the sign bit of x kept on a result that has the sign of x (for
// x = -0: expm1(-0) = tanh(-0) = -0).
LUMADEX_AVX512 inline __m512 WithSignOf(__m512 x, __m512 result)
{
    const __m512i sign = _mm512_set1_epi32(INT32_MIN);
    // bitwise result | (x & sign)
    return _mm512_castsi512_ps(
        _mm512_ternarylogic_epi32(_mm512_castps_si512(result), _mm512_castps_si512(x), sign, 0xF8));
}

// Results for the exceptional arguments (zeros, infinities, NaN, negative
// numbers where they have no root): `responses` holds four bits per class of
// x, from the lowest: quiet NaN, signalling NaN, +-0, +1, -inf, +inf,
// negative, positive; 0 keeps r, 1 gives x, 2 x as a quiet NaN, 3 the
// default NaN, 5 +inf, 6 inf with the sign of x, 7 -0, 8 +0.
LUMADEX_AVX512 inline __m512 Exceptional(__m512 r, __m512 x, std::uint32_t responses)
{
    return _mm512_fixupimm_ps(r, x, _mm512_set1_epi32(static_cast<int>(responses)), 0);
}
LUMADEX_AVX512 inline __m512d Exceptional(__m512d r, __m512d x, std::uint32_t responses)
{
    return _mm512_fixupimm_pd(r, x, _mm512_set1_epi64(responses), 0);
}

}  // namespace lumadex::vml::avx512
