// The real transcendental routines, over SLEEF's vector functions.
//
// Each SLEEF function is wrapped in a loop per instruction set (AVX-512F,
// AVX2 with FMA, SSE2), the loop runs whole vectors and then the tail through
// a padded buffer; the processor's widest set is picked once per process.
// SLEEF's 1-ulp variants (u10) are used throughout; erfc exists only as a
// 1.5-ulp variant, so the float erfc runs through the double one on AVX2
// and SSE2 (on AVX-512 both are our own kernels).
#include <immintrin.h>

// GCC's own _mm512_cvtps_pd starts from an undefined vector it then fills.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <unistd.h>

#include <algorithm>

#include "common.hpp"
#include "sleef_declarations.hpp"

namespace lumadex::vml {

Isa DetectedIsa()
{
    static const Isa isa = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f")) return Isa::Avx512;
        if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return Isa::Avx2;
        return Isa::Sse2;
    }();
    return isa;
}

std::size_t StreamFromBytes()
{
    // Measured with floor out of place, one thread (float32 and float64,
    // 16 to 256 MB touched): plain stores win up to 64 MB touched, the two
    // tie at 96 MB, streaming wins by 1.4 times from 128 MB; this virtual
    // machine reports a last-level cache of 480 MB, the whole host's share
    // of which one guest core sees only a part. So: the reported size, kept
    // between 4 MB and the measured crossover, and the crossover when none
    // is reported.
    static const std::size_t bytes = [] {
        constexpr std::size_t kMeasured = std::size_t{96} << 20, kLeast = std::size_t{4} << 20;
        long cache = sysconf(_SC_LEVEL3_CACHE_SIZE);
        if (cache <= 0) cache = sysconf(_SC_LEVEL2_CACHE_SIZE);
        return cache > 0 ? std::clamp(static_cast<std::size_t>(cache), kLeast, kMeasured) : kMeasured;
    }();
    return bytes;
}

// VML name, SLEEF name, SLEEF accuracy variant, then whose AVX-512 kernel the
// float and the double routine run: SLEEF's, or our own where it measured
// faster at the same accuracy (mkl_vml.h lists which and why).
#define SLEEF_UNARY_FUNCTIONS(X)                                                                 \
    X(Expm1, expm1, u10, OWN, OWN) X(Ln, log, u10, OWN, OWN) \
    X(Log10, log10, u10, OWN, OWN) X(Cos, cos, u10, OWN, OWN) X(Sin, sin, u10, OWN, OWN) \
    X(Tan, tan, u10, OWN, OWN) X(Tanh, tanh, u10, OWN, OWN) X(Acos, acos, u10, OWN, OWN) \
    X(Asin, asin, u10, OWN, OWN) X(Atan, atan, u10, OWN, OWN) X(Atanh, atanh, u10, OWN, OWN)
#define SLEEF_BINARY_FUNCTIONS(X) \
    X(Pow, pow, u10, OWN, OWN) X(Atan2, atan2, u10, OWN, OWN) X(Hypot, hypot, u05, SLEEF, SLEEF)

// Our own AVX-512 kernels (the float_* and double_* kernel files).
#define DECLARE_SLEEF(NAME, PARAMETERS)
#define DECLARE_OWN(NAME, PARAMETERS) LUMADEX_AVX512 void NAME PARAMETERS;
#define DECLARE_OWN_UNARY(OP, FN, U, FWHO, DWHO)                            \
    DECLARE_##FWHO(Float##OP##Avx512, (MKL_INT, const float*, float*)) \
    DECLARE_##DWHO(Double##OP##Avx512, (MKL_INT, const double*, double*))
#define DECLARE_OWN_BINARY(OP, FN, U, FWHO, DWHO)                                         \
    DECLARE_##FWHO(Float##OP##Avx512, (MKL_INT, const float*, const float*, float*)) \
    DECLARE_##DWHO(Double##OP##Avx512, (MKL_INT, const double*, const double*, double*))
SLEEF_UNARY_FUNCTIONS(DECLARE_OWN_UNARY)
LUMADEX_VML_SLEEF_WRAPPED(DECLARE_OWN_UNARY)
SLEEF_BINARY_FUNCTIONS(DECLARE_OWN_BINARY)
DECLARE_OWN_UNARY(Erfc, erfc, u15, OWN, OWN)

namespace {

#define ATTR_128  // the baseline: no target attribute

// Loads and stores per (type, width); the F2D forms widen floats to doubles.
#define LD_F16(p) _mm512_loadu_ps(p)
#define ST_F16(p, v) _mm512_storeu_ps(p, v)
#define LD_F8(p) _mm256_loadu_ps(p)
#define ST_F8(p, v) _mm256_storeu_ps(p, v)
#define LD_F4(p) _mm_loadu_ps(p)
#define ST_F4(p, v) _mm_storeu_ps(p, v)
#define LD_D8(p) _mm512_loadu_pd(p)
#define ST_D8(p, v) _mm512_storeu_pd(p, v)
#define LD_D4(p) _mm256_loadu_pd(p)
#define ST_D4(p, v) _mm256_storeu_pd(p, v)
#define LD_D2(p) _mm_loadu_pd(p)
#define ST_D2(p, v) _mm_storeu_pd(p, v)
#define LD_F2D8(p) _mm512_cvtps_pd(_mm256_loadu_ps(p))
#define ST_F2D8(p, v) _mm256_storeu_ps(p, _mm512_cvtpd_ps(v))
#define LD_F2D4(p) _mm256_cvtps_pd(_mm_loadu_ps(p))
#define ST_F2D4(p, v) _mm_storeu_ps(p, _mm256_cvtpd_ps(v))
#define LD_F2D2(p) _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))))
#define ST_F2D2(p, v) _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(_mm_cvtpd_ps(v)))

// The tail: W elements, the missing ones copies of the first.
#define TAIL_IN(T, W, buf, src, i, n) \
    T buf[W];                         \
    std::fill(buf, buf + W, src[i]);  \
    std::copy(src + i, src + n, buf)

#define UNARY_LOOP(NAME, ATTR, T, W, LD, ST, FN)                 \
    [[maybe_unused]] ATTR void NAME(MKL_INT n, const T* a, T* r)                  \
    {                                                            \
        MKL_INT i = 0;                                           \
        for (; i + W <= n; i += W) {                             \
            Ahead(a + i);                                        \
            Ahead(r + i);                                        \
            ST(r + i, FN(LD(a + i)));                            \
        }                                                        \
        if (i < n) {                                             \
            TAIL_IN(T, W, in, a, i, n);                          \
            T out[W];                                            \
            ST(out, FN(LD(in)));                                 \
            std::copy(out, out + (n - i), r + i);                \
        }                                                        \
    }

#define BINARY_LOOP(NAME, ATTR, T, W, LD, ST, FN)                        \
    [[maybe_unused]] ATTR void NAME(MKL_INT n, const T* a, const T* b, T* r)              \
    {                                                                    \
        MKL_INT i = 0;                                                   \
        for (; i + W <= n; i += W) {                                     \
            Ahead(a + i);                                                \
            Ahead(b + i);                                                \
            Ahead(r + i);                                                \
            ST(r + i, FN(LD(a + i), LD(b + i)));                         \
        }                                                                \
        if (i < n) {                                                     \
            TAIL_IN(T, W, inA, a, i, n);                                 \
            TAIL_IN(T, W, inB, b, i, n);                                 \
            T out[W];                                                    \
            ST(out, FN(LD(inA), LD(inB)));                               \
            std::copy(out, out + (n - i), r + i);                        \
        }                                                                \
    }

#define TWO_RESULTS_LOOP(NAME, ATTR, T, W, LD, ST, FN)  \
    ATTR void NAME(MKL_INT n, const T* a, T* r1, T* r2) \
    {                                                   \
        MKL_INT i = 0;                                  \
        for (; i + W <= n; i += W) {                    \
            Ahead(a + i);                               \
            Ahead(r1 + i);                              \
            Ahead(r2 + i);                              \
            const auto both = FN(LD(a + i));            \
            ST(r1 + i, both.x);                         \
            ST(r2 + i, both.y);                         \
        }                                               \
        if (i < n) {                                    \
            TAIL_IN(T, W, in, a, i, n);                 \
            T out1[W], out2[W];                         \
            const auto both = FN(LD(in));               \
            ST(out1, both.x);                           \
            ST(out2, both.y);                           \
            std::copy(out1, out1 + (n - i), r1 + i);    \
            std::copy(out2, out2 + (n - i), r2 + i);    \
        }                                               \
    }

// One SLEEF function, float and double, for the three instruction sets; the
// AVX-512 entry is SLEEF's loop or our own kernel (WHO: SLEEF or OWN).
#define AVX512_SLEEF(own, loop) loop
#define AVX512_OWN(own, loop) own
#define SLEEF_FLOAT(LOOP, OP, FN, U, KIND, WHO)                                        \
    LOOP(OP##F512, LUMADEX_AVX512, float, 16, LD_F16, ST_F16, Sleef_##FN##f16_##U##avx512f) \
    LOOP(OP##F256, LUMADEX_AVX2, float, 8, LD_F8, ST_F8, Sleef_##FN##f8_##U##avx2)        \
    LOOP(OP##F128, ATTR_128, float, 4, LD_F4, ST_F4, Sleef_##FN##f4_##U)              \
    constexpr Variants<KIND<float>> k##OP##F = {AVX512_##WHO(Float##OP##Avx512, OP##F512), OP##F256, OP##F128};
#define SLEEF_FLOAT_VIA_DOUBLE(LOOP, OP, FN, U, KIND, WHO)                             \
    LOOP(OP##F512, LUMADEX_AVX512, float, 8, LD_F2D8, ST_F2D8, Sleef_##FN##d8_##U##avx512f) \
    LOOP(OP##F256, LUMADEX_AVX2, float, 4, LD_F2D4, ST_F2D4, Sleef_##FN##d4_##U##avx2)    \
    LOOP(OP##F128, ATTR_128, float, 2, LD_F2D2, ST_F2D2, Sleef_##FN##d2_##U)          \
    constexpr Variants<KIND<float>> k##OP##F = {AVX512_##WHO(Float##OP##Avx512, OP##F512), OP##F256, OP##F128};
#define SLEEF_DOUBLE(LOOP, OP, FN, U, KIND, WHO)                                     \
    LOOP(OP##D512, LUMADEX_AVX512, double, 8, LD_D8, ST_D8, Sleef_##FN##d8_##U##avx512f) \
    LOOP(OP##D256, LUMADEX_AVX2, double, 4, LD_D4, ST_D4, Sleef_##FN##d4_##U##avx2)    \
    LOOP(OP##D128, ATTR_128, double, 2, LD_D2, ST_D2, Sleef_##FN##d2_##U)          \
    constexpr Variants<KIND<double>> k##OP##D = {AVX512_##WHO(Double##OP##Avx512, OP##D512), OP##D256, OP##D128};
#define SLEEF_BOTH(LOOP, OP, FN, U, KIND, FWHO, DWHO) \
    SLEEF_FLOAT(LOOP, OP, FN, U, KIND, FWHO) SLEEF_DOUBLE(LOOP, OP, FN, U, KIND, DWHO)

#define DEFINE_UNARY(OP, FN, U, FWHO, DWHO) SLEEF_BOTH(UNARY_LOOP, OP, FN, U, Unary, FWHO, DWHO)
#define DEFINE_BINARY(OP, FN, U, FWHO, DWHO) SLEEF_BOTH(BINARY_LOOP, OP, FN, U, Binary, FWHO, DWHO)
SLEEF_UNARY_FUNCTIONS(DEFINE_UNARY)
LUMADEX_VML_SLEEF_WRAPPED(DEFINE_UNARY)
SLEEF_BINARY_FUNCTIONS(DEFINE_BINARY)
SLEEF_FLOAT_VIA_DOUBLE(UNARY_LOOP, Erfc, erfc, u15, Unary, OWN)
SLEEF_DOUBLE(UNARY_LOOP, Erfc, erfc, u15, Unary, OWN)
SLEEF_DOUBLE(UNARY_LOOP, Cbrt, cbrt, u10, Unary, SLEEF)
SLEEF_BOTH(TWO_RESULTS_LOOP, SinCos, sincos, u10, TwoResults, SLEEF, SLEEF)

}  // namespace

#define DEFINE_ACCESSORS(OP, FN, U, FWHO, DWHO)                      \
    Variants<Unary<float>> Float##OP() { return k##OP##F; } \
    Variants<Unary<double>> Double##OP() { return k##OP##D; }
LUMADEX_VML_SLEEF_WRAPPED(DEFINE_ACCESSORS)
Variants<Unary<double>> DoubleLn() { return kLnD; }
Variants<Unary<double>> DoubleErfc() { return kErfcD; }
Variants<Unary<double>> DoubleCbrt() { return kCbrtD; }
Variants<Binary<float>> FloatPow() { return kPowF; }
Variants<Binary<double>> DoublePow() { return kPowD; }
Variants<Binary<double>> DoubleAtan2() { return kAtan2D; }
Variants<Unary<double>> DoubleTan() { return kTanD; }
Variants<TwoResults<float>> FloatSinCos() { return kSinCosF; }
Variants<TwoResults<double>> DoubleSinCos() { return kSinCosD; }

}  // namespace lumadex::vml

using namespace lumadex::vml;

#define PUBLISH_UNARY(OP, FN, U, FWHO, DWHO)                                                                            \
    void vs##OP(const MKL_INT n, const float a[], float r[]) { RunUnary(n, kComputeBound, a, r, k##OP##F); }  \
    void vd##OP(const MKL_INT n, const double a[], double r[]) { RunUnary(n, kComputeBound, a, r, k##OP##D); }
#define PUBLISH_BINARY(OP, FN, U, FWHO, DWHO)                                                   \
    void vs##OP(const MKL_INT n, const float a[], const float b[], float r[])       \
    {                                                                               \
        RunBinary(n, kComputeBound, a, b, r, k##OP##F);                             \
    }                                                                               \
    void vd##OP(const MKL_INT n, const double a[], const double b[], double r[])    \
    {                                                                               \
        RunBinary(n, kComputeBound, a, b, r, k##OP##D);                             \
    }

extern "C" {
SLEEF_UNARY_FUNCTIONS(PUBLISH_UNARY)
SLEEF_BINARY_FUNCTIONS(PUBLISH_BINARY)
PUBLISH_UNARY(Erfc, erfc, u15, OWN, OWN)

void vsSinCos(const MKL_INT n, const float a[], float r1[], float r2[])
{
    const TwoResults<float> f = kSinCosF.Pick();
    Split(n, kComputeBound, [&](MKL_INT begin, MKL_INT count) { f(count, a + begin, r1 + begin, r2 + begin); });
}

void vdSinCos(const MKL_INT n, const double a[], double r1[], double r2[])
{
    const TwoResults<double> f = kSinCosD.Pick();
    Split(n, kComputeBound, [&](MKL_INT begin, MKL_INT count) { f(count, a + begin, r1 + begin, r2 + begin); });
}

const char* LumadexVmlVersionString(void)
{
#define LUMADEX_VML_TEXT(x) #x
#define LUMADEX_VML_NUMBER(x) LUMADEX_VML_TEXT(x)
    return "Lumadex vector math 1.0 over SLEEF " LUMADEX_VML_NUMBER(SLEEF_VERSION_MAJOR) "." LUMADEX_VML_NUMBER(
        SLEEF_VERSION_MINOR) "." LUMADEX_VML_NUMBER(SLEEF_VERSION_PATCHLEVEL);
}
}
