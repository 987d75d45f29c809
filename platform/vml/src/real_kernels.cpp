// The real routines that are our own loops: arithmetic, roots and powers,
// rounding, Modf and Powx, and the inverse error function.
//
// The loops are plain element-wise code that the compiler vectorises for
// each instruction set (LUMADEX_VML_CLONES); the layer is compiled without
// errno and without trapping math so that square roots and roundings become
// single vector instructions. Float roots are computed in double and rounded
// once.
#include <bit>
#include <cmath>
#include <cstdint>

#include "common.hpp"

namespace lumadex::vml {
namespace {

// One loop per precision for an expression of x (float: FEXPR, double: DEXPR).
#define OWN_UNARY(OP, THRESHOLD, FEXPR, DEXPR)                        \
    LUMADEX_VML_CLONES void OP##F(MKL_INT n, const float* a, float* r) \
    {                                                                 \
        _Pragma("omp simd") for (MKL_INT i = 0; i < n; ++i)          \
        {                                                             \
            const float x = a[i];                                     \
            r[i] = FEXPR;                                             \
        }                                                             \
    }                                                                 \
    LUMADEX_VML_CLONES void OP##D(MKL_INT n, const double* a, double* r) \
    {                                                                 \
        _Pragma("omp simd") for (MKL_INT i = 0; i < n; ++i)          \
        {                                                             \
            const double x = a[i];                                    \
            r[i] = DEXPR;                                             \
        }                                                             \
    }

// The same for an expression of x and y.
#define OWN_BINARY(OP, EXPR)                                                                \
    LUMADEX_VML_CLONES void OP##F(MKL_INT n, const float* a, const float* b, float* r)     \
    {                                                                                     \
        _Pragma("omp simd") for (MKL_INT i = 0; i < n; ++i)                              \
        {                                                                                 \
            const float x = a[i], y = b[i];                                               \
            r[i] = EXPR;                                                                  \
        }                                                                                 \
    }                                                                                     \
    LUMADEX_VML_CLONES void OP##D(MKL_INT n, const double* a, const double* b, double* r)  \
    {                                                                                     \
        _Pragma("omp simd") for (MKL_INT i = 0; i < n; ++i)                              \
        {                                                                                 \
            const double x = a[i], y = b[i];                                              \
            r[i] = EXPR;                                                                  \
        }                                                                                 \
    }

// Rounding to nearest with halves away from zero; x - trunc(x) is exact.
template <class T>
inline T RoundHalfAway(T x)
{
    const T t = std::trunc(x);
    return std::fabs(x - t) >= T(0.5) ? t + std::copysign(T(1), x) : t;
}

// The cube root of a float, in double: an estimate from the bits (the
// exponent divided by three), two Halley steps, each cubing the relative
// error (5e-2, 1e-4, 1e-12). Zeros, infinities and NaN are returned as they
// are; subnormals are scaled into the normal range first.
inline double CubeRoot(float x)
{
    float ax = std::fabs(x);
    const bool tiny = ax < 1.17549435e-38f;
    if (tiny) ax *= 16777216.0f;  // 2^24, whose cube root is 2^8
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(ax) / 3u + 709958130u;
    const double v = ax;
    double y = std::bit_cast<float>(bits);
    for (int step = 0; step < 2; ++step) {
        const double y3 = y * y * y;
        y = y * (y3 + 2 * v) / (2 * y3 + v);
    }
    if (tiny) y *= 1.0 / 256;
    const bool special = !(ax > 0) || std::isinf(ax);
    return special ? double(x) : std::copysign(y, double(x));
}

#define OWN_UNARY_FUNCTIONS(X)                                                                   \
    X(Sqr, kMemoryBound, x * x, x * x)                                                           \
    X(Abs, kMemoryBound, std::fabs(x), std::fabs(x))                                             \
    X(Inv, kMemoryBound, 1 / x, 1 / x)                                                           \
    X(Sqrt, kMemoryBound, std::sqrt(x), std::sqrt(x))                                            \
    X(InvSqrt, kMemoryBound, float(1 / std::sqrt(double(x))), 1 / std::sqrt(x))                  \
    X(Pow3o2, kMemoryBound, float(double(x) * std::sqrt(double(x))), x * std::sqrt(x))          \
    X(Floor, kMemoryBound, std::floor(x), std::floor(x))                                         \
    X(Ceil, kMemoryBound, std::ceil(x), std::ceil(x))                                            \
    X(Trunc, kMemoryBound, std::trunc(x), std::trunc(x))                                         \
    X(Round, kMemoryBound, RoundHalfAway(x), RoundHalfAway(x))                                   \
    /* both round in the current mode without raising the inexact flag */                       \
    X(NearbyInt, kMemoryBound, std::nearbyint(x), std::nearbyint(x))                             \
    X(Rint, kMemoryBound, std::nearbyint(x), std::nearbyint(x))
#define OWN_BINARY_FUNCTIONS(X) X(Add, x + y) X(Sub, x - y) X(Mul, x * y) X(Div, x / y)

OWN_UNARY_FUNCTIONS(OWN_UNARY)
OWN_BINARY_FUNCTIONS(OWN_BINARY)

// Float cube roots and their kin, one rounding from double.
LUMADEX_VML_CLONES void CbrtF(MKL_INT n, const float* a, float* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) r[i] = float(CubeRoot(a[i]));
}
LUMADEX_VML_CLONES void InvCbrtF(MKL_INT n, const float* a, float* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) r[i] = float(1 / CubeRoot(a[i]));
}
LUMADEX_VML_CLONES void Pow2o3F(MKL_INT n, const float* a, float* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const double c = CubeRoot(a[i]);
        r[i] = float(c * c);
    }
}

// Double cube roots from SLEEF, then one operation per element.
LUMADEX_VML_CLONES void InvInPlace(MKL_INT n, double* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) r[i] = 1 / r[i];
}
LUMADEX_VML_CLONES void SquareInPlace(MKL_INT n, double* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) r[i] = r[i] * r[i];
}

template <class T>
LUMADEX_VML_CLONES void ModfLoop(MKL_INT n, const T* a, T* integral, T* fraction)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const T x = a[i], t = std::trunc(x);
        integral[i] = t;
        // The fraction keeps the sign of x (-0 for -2.0) and is 0 for infinities.
        fraction[i] = std::copysign(std::isinf(x) ? T(0) : x - t, x);
    }
}

// The inverse error function over a block, in double.
//
// Start: Giles' single-precision approximation (w = -ln(1 - y^2), two
// polynomial branches), about 4e-7 relative. Then Halley steps on
// F(x) = erf(x) - y, whose residual is taken from erfc where |y| > 1/2 so
// that it keeps its digits near +-1:  F = sign(y) ((1 - |y|) - erfc(|x|)),
// F' = 2/sqrt(pi) exp(-x^2), x -= d / (1 + x d) with d = F / F'. One step
// leaves about 1e-19 relative before the rounding of erf.
LUMADEX_VML_CLONES void ErfInvStart(MKL_INT n, const double* y, const double* lnOneMinusY2, double* x)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const double w = -lnOneMinusY2[i];
        const double u = w - 2.5, v = std::sqrt(w) - 3;
        double p = 2.81022636e-08;
        p = 3.43273939e-07 + p * u;
        p = -3.5233877e-06 + p * u;
        p = -4.39150654e-06 + p * u;
        p = 0.00021858087 + p * u;
        p = -0.00125372503 + p * u;
        p = -0.00417768164 + p * u;
        p = 0.246640727 + p * u;
        p = 1.50140941 + p * u;
        double q = -0.000200214257;
        q = 0.000100950558 + q * v;
        q = 0.00134934322 + q * v;
        q = -0.00367342844 + q * v;
        q = 0.00573950773 + q * v;
        q = -0.0076224613 + q * v;
        q = 0.00943887047 + q * v;
        q = 1.00167406 + q * v;
        q = 2.83297682 + q * v;
        x[i] = (w < 5 ? p : q) * y[i];
    }
}

LUMADEX_VML_CLONES void ErfInvHalley(MKL_INT n, const double* y, const double* erfX, const double* erfcAbsX,
                                     const double* expMinusX2, double* x)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const double ay = std::fabs(y[i]);
        const double f = ay <= 0.5 ? erfX[i] - y[i] : ((1 - ay) - erfcAbsX[i]) * (y[i] < 0 ? -1.0 : 1.0);
        const double d = f / (1.1283791670955126 * expMinusX2[i]);
        const double next = x[i] - d / (1 + x[i] * d);
        // |y| = 1 and beyond, zeros and NaN keep what the start gave (inf, NaN, +-0).
        x[i] = (ay < 1 && ay > 0) ? next : x[i];
    }
}

void ErfInvBlock(MKL_INT n, const double* y, double* x, int steps)
{
    alignas(64) double t[kBlock], e[kBlock], c[kBlock], g[kBlock];
    const Unary<double> ln = DoubleLn().Pick(), erf = DoubleErf().Pick(), erfc = DoubleErfc().Pick(),
                        exp = DoubleExp().Pick();
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) t[i] = (1 - y[i]) * (1 + y[i]);
    ln(n, t, t);
    ErfInvStart(n, y, t, x);
    for (int step = 0; step < steps; ++step) {
        erf(n, x, e);
#pragma omp simd
        for (MKL_INT i = 0; i < n; ++i) {
            t[i] = std::fabs(x[i]);
            g[i] = -x[i] * x[i];
        }
        erfc(n, t, c);
        exp(n, g, g);
        ErfInvHalley(n, y, e, c, g, x);
    }
    // Exactly +-1 gives +-infinity, beyond it NaN (the start gave NaN or inf).
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const double ay = std::fabs(y[i]);
        x[i] = ay == 1 ? std::copysign(HUGE_VAL, y[i]) : (ay > 1 ? NAN : x[i]);
    }
}

}  // namespace
}  // namespace lumadex::vml

using namespace lumadex::vml;

#define PUBLISH_UNARY(OP, THRESHOLD, FEXPR, DEXPR)                                          \
    void vs##OP(const MKL_INT n, const float a[], float r[])                                \
    {                                                                                       \
        Split(n, THRESHOLD, [&](MKL_INT b, MKL_INT c) { OP##F(c, a + b, r + b); });         \
    }                                                                                       \
    void vd##OP(const MKL_INT n, const double a[], double r[])                              \
    {                                                                                       \
        Split(n, THRESHOLD, [&](MKL_INT b, MKL_INT c) { OP##D(c, a + b, r + b); });         \
    }
#define PUBLISH_BINARY(OP, EXPR)                                                            \
    void vs##OP(const MKL_INT n, const float a[], const float b[], float r[])               \
    {                                                                                       \
        Split(n, kMemoryBound, [&](MKL_INT o, MKL_INT c) { OP##F(c, a + o, b + o, r + o); }); \
    }                                                                                       \
    void vd##OP(const MKL_INT n, const double a[], const double b[], double r[])            \
    {                                                                                       \
        Split(n, kMemoryBound, [&](MKL_INT o, MKL_INT c) { OP##D(c, a + o, b + o, r + o); }); \
    }

extern "C" {
OWN_UNARY_FUNCTIONS(PUBLISH_UNARY)
OWN_BINARY_FUNCTIONS(PUBLISH_BINARY)

void vsCbrt(const MKL_INT n, const float a[], float r[])
{
    Split(n, kComputeBound, [&](MKL_INT b, MKL_INT c) { CbrtF(c, a + b, r + b); });
}
void vsInvCbrt(const MKL_INT n, const float a[], float r[])
{
    Split(n, kComputeBound, [&](MKL_INT b, MKL_INT c) { InvCbrtF(c, a + b, r + b); });
}
void vsPow2o3(const MKL_INT n, const float a[], float r[])
{
    Split(n, kComputeBound, [&](MKL_INT b, MKL_INT c) { Pow2o3F(c, a + b, r + b); });
}
void vdCbrt(const MKL_INT n, const double a[], double r[])
{
    RunUnary(n, kComputeBound, a, r, DoubleCbrt());
}
void vdInvCbrt(const MKL_INT n, const double a[], double r[])
{
    const Unary<double> cbrt = DoubleCbrt().Pick();
    Split(n, kComputeBound, [&](MKL_INT b, MKL_INT c) {
        cbrt(c, a + b, r + b);
        InvInPlace(c, r + b);
    });
}
void vdPow2o3(const MKL_INT n, const double a[], double r[])
{
    const Unary<double> cbrt = DoubleCbrt().Pick();
    Split(n, kComputeBound, [&](MKL_INT b, MKL_INT c) {
        cbrt(c, a + b, r + b);
        SquareInPlace(c, r + b);
    });
}

void vsModf(const MKL_INT n, const float a[], float r1[], float r2[])
{
    Split(n, kMemoryBound, [&](MKL_INT b, MKL_INT c) { ModfLoop(c, a + b, r1 + b, r2 + b); });
}
void vdModf(const MKL_INT n, const double a[], double r1[], double r2[])
{
    Split(n, kMemoryBound, [&](MKL_INT b, MKL_INT c) { ModfLoop(c, a + b, r1 + b, r2 + b); });
}

void vsPowx(const MKL_INT n, const float a[], const float b, float r[])
{
    const Binary<float> pow = FloatPow().Pick();
    Split(n, kComputeBound, [&](MKL_INT begin, MKL_INT count) {
        float exponent[kBlock];
        std::fill(exponent, exponent + kBlock, b);
        for (MKL_INT i = 0; i < count; i += kBlock)
            pow(std::min(kBlock, count - i), a + begin + i, exponent, r + begin + i);
    });
}
void vdPowx(const MKL_INT n, const double a[], const double b, double r[])
{
    const Binary<double> pow = DoublePow().Pick();
    Split(n, kComputeBound, [&](MKL_INT begin, MKL_INT count) {
        double exponent[kBlock];
        std::fill(exponent, exponent + kBlock, b);
        for (MKL_INT i = 0; i < count; i += kBlock)
            pow(std::min(kBlock, count - i), a + begin + i, exponent, r + begin + i);
    });
}

// Float: the double kernel with one Halley step, rounded once.
void vsErfInv(const MKL_INT n, const float a[], float r[])
{
    Split(n, kComputeBound, [&](MKL_INT begin, MKL_INT count) {
        alignas(64) double y[kBlock], x[kBlock];
        for (MKL_INT i = 0; i < count; i += kBlock) {
            const MKL_INT m = std::min(kBlock, count - i);
            std::copy(a + begin + i, a + begin + i + m, y);
            ErfInvBlock(m, y, x, 1);
            std::copy(x, x + m, r + begin + i);
        }
    });
}
void vdErfInv(const MKL_INT n, const double a[], double r[])
{
    Split(n, kComputeBound, [&](MKL_INT begin, MKL_INT count) {
        alignas(64) double y[kBlock];
        for (MKL_INT i = 0; i < count; i += kBlock) {
            const MKL_INT m = std::min(kBlock, count - i);
            std::copy(a + begin + i, a + begin + i + m, y);  // r may be a
            ErfInvBlock(m, y, r + begin + i, 2);
        }
    });
}
}
