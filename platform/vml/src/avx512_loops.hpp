// The loops of our AVX-512 kernels. A lane function goes over whole vectors
// and then over the tail through masked loads and stores, so that each
// result depends on its own argument alone, never on where a call or a
// thread's share of it starts. Each vector is loaded before its result is
// stored, so r may be an operand.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "common.hpp"

#define LUMADEX_VML_LAMBDA __attribute__((target("avx512f"), always_inline))

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
    LUMADEX_AVX512_INLINE static void Stream(float* p, V v) { _mm512_stream_ps(p, v); }
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
    LUMADEX_AVX512_INLINE static void Stream(double* p, V v) { _mm512_stream_pd(p, v); }
};

template <class T>
LUMADEX_AVX512_INLINE typename Lanes<T>::M TailMask(MKL_INT count)
{
    return static_cast<typename Lanes<T>::M>((1u << count) - 1);
}

// r = f(a); lanes past the end compute f(0). A destination of kStreamBytes
// or more is written with non-temporal stores from its first cache-line
// boundary on: so large a result leaves the caches before anyone reads it,
// and plain stores would first read every line they write.
template <class T, class F>
LUMADEX_AVX512_INLINE void MapWith(MKL_INT n, const T* a, T* r, F f)
{
    using L = Lanes<T>;
    MKL_INT i = 0;
    const auto part = [&](MKL_INT count) LUMADEX_VML_LAMBDA {
        const auto m = TailMask<T>(count);
        L::Store(m, r + i, f(L::Load(m, a + i, T(0))));
        i += count;
    };
    const auto address = reinterpret_cast<std::uintptr_t>(r);
    if (static_cast<std::size_t>(n) * sizeof(T) >= kStreamBytes && address % sizeof(T) == 0) {
        const auto head = static_cast<MKL_INT>((64 - address % 64) % 64 / sizeof(T));
        if (head > 0) part(head);
        for (; i + L::kWidth <= n; i += L::kWidth) L::Stream(r + i, f(L::Load(a + i)));
        _mm_sfence();
    }
    for (; i + L::kWidth <= n; i += L::kWidth) L::Store(r + i, f(L::Load(a + i)));
    if (i < n) part(n - i);
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
    for (; i + L::kWidth <= n; i += L::kWidth) L::Store(r + i, F(L::Load(a + i), L::Load(b + i)));
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
[[gnu::target("avx512f"), gnu::noinline, gnu::cold]] void Redo(T* r, typename Lanes<T>::M lanes, V... x)
{
    Lanes<T>::Store(lanes, r, Exact(x...));
}

template <class T, auto F, auto Exact>
LUMADEX_AVX512_INLINE void MapRedo(MKL_INT n, const T* a, T* r)
{
    using L = Lanes<T>;
    MKL_INT i = 0;
    for (; i + L::kWidth <= n; i += L::kWidth) {
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

}  // namespace lumadex::vml::avx512
