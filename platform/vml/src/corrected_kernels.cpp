// SLEEF's functions that the layer corrects before publishing them
// (LUMADEX_VML_SLEEF_WRAPPED in common.hpp): Log1p, Acosh, Asinh, Cosh, Sinh,
// Erf and double Exp. Where our own AVX-512 kernel runs, it covers the whole domain
// and needs no correction.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "common.hpp"

namespace lumadex::vml {
namespace {

// Corrections of SLEEF results, per block, from the arguments.
// log1p(x) = x for |x| below 2^-60 (SLEEF gives 0 for the smallest subnormals).
template <class T>
LUMADEX_VML_CLONES void Log1pTiny(MKL_INT n, const T* x, T* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) r[i] = std::fabs(x[i]) < T(0x1p-60) ? x[i] : r[i];
}

// erf(x) = 2x/sqrt(pi) (1 - x^2/3) in double below 2^-12: SLEEF's float erf
// is 1.03 ulp off for tiny arguments (its double one is right, but costs
// ten times as much).
LUMADEX_VML_CLONES void ErfTiny(MKL_INT n, const float* x, float* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const double v = x[i];
        r[i] = std::fabs(x[i]) < 0x1p-12f ? float(v * 1.1283791670955126 * (1 - v * v / 3)) : r[i];
    }
}

// Large arguments where SLEEF overflows inside, beyond `threshold`, in double:
//   Log2x:   acosh(x) = ln(2x), asinh(x) = sign(x) ln(2|x|) where 1/(4x^2) is
//            below the last place (SLEEF: inf beyond 1e154, float 1.8e19);
//   LogX:    log1p(x) = ln(x) (SLEEF: inf beyond 1e307, float 1e38);
//   HalfExp: cosh(x) = e^|x| / 2, sinh(x) = sign(x) e^|x| / 2 as
//            e^(|x| - ln2_hi) (1 - ln2_lo), the subtraction exact (SLEEF:
//            inf from 709.8 instead of 710.5, float 88.7 instead of 89.4).
enum class Tail { Log2x, LogX, HalfExp };

template <class T>
LUMADEX_VML_CLONES int CountBeyond(MKL_INT n, const T* x, double threshold)
{
    int count = 0;
#pragma omp simd reduction(+ : count)
    for (MKL_INT i = 0; i < n; ++i) count += std::fabs(double(x[i])) > threshold;
    return count;
}

template <class T>
void FixLarge(MKL_INT n, const T* x, T* r, double threshold, Tail tail, bool odd)
{
    constexpr double kLn2 = 0.69314718055994530942, kLn2Hi = 6.93147180369123816490e-01,
                     kLn2Lo = 1.90821492927058770002e-10;
    if (CountBeyond(n, x, threshold) == 0) return;
    alignas(64) double t[kBlock];
    for (MKL_INT i = 0; i < n; ++i) {
        const double a = std::fabs(double(x[i]));
        t[i] = tail == Tail::Log2x ? (a < 0x1p1023 ? 2 * a : a) : (tail == Tail::LogX ? a : a - kLn2Hi);
    }
    (tail == Tail::HalfExp ? DoubleExp() : DoubleLn()).Pick()(n, t, t);
    for (MKL_INT i = 0; i < n; ++i) {
        const double a = std::fabs(double(x[i]));
        if (!(a > threshold)) continue;
        double v = t[i];
        if (tail == Tail::Log2x && a >= 0x1p1023) v += kLn2;
        if (tail == Tail::HalfExp) v *= 1 - kLn2Lo;
        r[i] = T(odd ? std::copysign(v, double(x[i])) : v);
    }
}

// e^x just below the overflow: SLEEF's double exp gives inf from
// 709.78271114955743 on, short of ln(DBL_MAX) = 709.782712893384. From
// 709.78271 on, x = 1024 ln2 + d with d > -3e-6: x - 1024 kLn2Hi is exact
// (Sterbenz; kLn2Hi has 42 bits), and for d <= 0 e^d = 1 + (d + d^2/2) to
// 2^-58, rounded once; 2^1024 is applied in two exact steps, so that the
// result overflows exactly where the rounded e^x does (for d > 0 the sum is
// above 1 and overflows).
void ExpNearOverflow(MKL_INT n, const double* x, double* r)
{
    constexpr double kLn2Hi = 0x1.62e42fefa3800p-1, kLn2Lo = 0x1.ef35793c76730p-45;
    for (MKL_INT i = 0; i < n; ++i) {
        if (!(x[i] > 709.78271 && x[i] < 709.79)) continue;
        const double d = (x[i] - 1024 * kLn2Hi) - 1024 * kLn2Lo;
        r[i] = (1 + std::fma(d * d, 0.5, d)) * 0x1p1023 * 2;
    }
}

// A SLEEF kernel per block, then `fix` from the block's arguments (kept, as
// r may be a).
template <class T, class Fix>
void Corrected(MKL_INT n, const T* a, T* r, Unary<T> kernel, Fix fix)
{
    ForEachBlock(n, kComputeBound, [&](MKL_INT i, MKL_INT m) {
        alignas(64) T x[kBlock];
        std::copy(a + i, a + i + m, x);
        kernel(m, x, r + i);
        fix(m, x, r + i);
    });
}

// Our own AVX-512 kernel where the operation has one (`own`): it covers the
// whole domain and needs no correction; elsewhere SLEEF's, corrected by `fix`.
template <class T, class Fix>
void OwnOrCorrected(MKL_INT n, const T* a, T* r, bool own, const Variants<Unary<T>>& kernel, Fix fix)
{
    if (own && DetectedIsa() == Isa::Avx512)
        RunUnary(n, kComputeBound, a, r, kernel);
    else
        Corrected(n, a, r, kernel.Pick(), fix);
}
}  // namespace
}  // namespace lumadex::vml

using namespace lumadex::vml;

extern "C" {
#define PUBLISH_CORRECTED(OP, FIX_FLOAT, FIX_DOUBLE)                               \
    void vs##OP(const MKL_INT n, const float a[], float r[])                       \
    {                                                                              \
        OwnOrCorrected(n, a, r, kOwnFloat##OP, Float##OP(),                        \
                       [](MKL_INT m, const float* x, float* y) { FIX_FLOAT; });    \
    }                                                                              \
    void vd##OP(const MKL_INT n, const double a[], double r[])                     \
    {                                                                              \
        OwnOrCorrected(n, a, r, kOwnDouble##OP, Double##OP(),                      \
                       [](MKL_INT m, const double* x, double* y) { FIX_DOUBLE; }); \
    }
void vsErf(const MKL_INT n, const float a[], float r[])
{
    OwnOrCorrected(n, a, r, kOwnFloatErf, FloatErf(), [](MKL_INT m, const float* x, float* y) { ErfTiny(m, x, y); });
}
void vdErf(const MKL_INT n, const double a[], double r[]) { RunUnary(n, kComputeBound, a, r, DoubleErf()); }
// Float exp needs no correction (SLEEF's thresholds are those of float).
void vsExp(const MKL_INT n, const float a[], float r[]) { RunUnary(n, kComputeBound, a, r, FloatExp()); }
void vdExp(const MKL_INT n, const double a[], double r[])
{
    OwnOrCorrected(n, a, r, kOwnDoubleExp, DoubleExp(), ExpNearOverflow);
}

PUBLISH_CORRECTED(Log1p, (Log1pTiny(m, x, y), FixLarge(m, x, y, 0x1p30, Tail::LogX, false)),
                  (Log1pTiny(m, x, y), FixLarge(m, x, y, 0x1p60, Tail::LogX, false)))
PUBLISH_CORRECTED(Acosh, FixLarge(m, x, y, 0x1p13, Tail::Log2x, false), FixLarge(m, x, y, 0x1p27, Tail::Log2x, false))
PUBLISH_CORRECTED(Asinh, FixLarge(m, x, y, 0x1p13, Tail::Log2x, true), FixLarge(m, x, y, 0x1p27, Tail::Log2x, true))
PUBLISH_CORRECTED(Cosh, FixLarge(m, x, y, 88, Tail::HalfExp, false), FixLarge(m, x, y, 709, Tail::HalfExp, false))
PUBLISH_CORRECTED(Sinh, FixLarge(m, x, y, 88, Tail::HalfExp, true), FixLarge(m, x, y, 709, Tail::HalfExp, true))
}
