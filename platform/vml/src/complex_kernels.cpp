// The complex routines.
//
// Arithmetic and conjugation are our own vectorised loops over the
// interleaved (real, imaginary) pairs. The elementary functions call the C
// library's complex functions per element, as numpy does, so that branch
// cuts, signed zeros and infinities follow C99 Annex G. The modulus is a
// loop of ours; CIS runs in blocks over SLEEF's sincos.
#include <algorithm>
#include <cmath>
#include <complex>

#include "common.hpp"

namespace lumadex::vml {
namespace {

// (x + iy) op (u + iv) over n pairs as 2n reals.
template <class T>
LUMADEX_VML_CLONES void AddPairs(MKL_INT n, const T* a, const T* b, T* r)
{
#pragma omp simd
    for (std::int64_t i = 0; i < 2 * std::int64_t{n}; ++i) r[i] = a[i] + b[i];
}
template <class T>
LUMADEX_VML_CLONES void SubPairs(MKL_INT n, const T* a, const T* b, T* r)
{
#pragma omp simd
    for (std::int64_t i = 0; i < 2 * std::int64_t{n}; ++i) r[i] = a[i] - b[i];
}
template <class T>
LUMADEX_VML_CLONES void ConjPairs(MKL_INT n, const T* a, T* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        r[2 * i] = a[2 * i];
        r[2 * i + 1] = -a[2 * i + 1];
    }
}
// a * b, or a * conj(b), by the schoolbook formula (no
// Annex G recovery of infinities from NaN, as VML does).
template <class T>
LUMADEX_VML_CLONES void MulPairs(MKL_INT n, const T* a, const T* b, T* r, bool conjugate)
{
    const T sign = conjugate ? T(-1) : T(1);
    // Each part as one fused multiply-add, named: the vector loop and its
    // scalar tail then round alike, so an element's result does not depend
    // on where the call (or a thread's share of it) starts.
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const T x = a[2 * i], y = a[2 * i + 1], u = b[2 * i], v = sign * b[2 * i + 1];
        r[2 * i] = std::fma(x, u, -(y * v));
        r[2 * i + 1] = std::fma(x, v, y * u);
    }
}

// |x + iy| of a complex float: exact squares in double, one rounding each
// for the sum, the root and the result.
LUMADEX_VML_CLONES void AbsFloatPairs(MKL_INT n, const float* a, float* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const double x = a[2 * i], y = a[2 * i + 1];
        r[i] = float(std::sqrt(x * x + y * y));
    }
}

// |x + iy| of a complex double: sqrt(u^2 + v^2) with a fused multiply-add
// on the parts scaled by a power of two into a range where the squares
// neither overflow nor underflow, the smaller square kept exactly (within
// about 0.6 ulp); an infinite part
// gives infinity even beside a NaN.
LUMADEX_VML_CLONES void AbsDoublePairs(MKL_INT n, const double* a, double* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const double x = std::fabs(a[2 * i]), y = std::fabs(a[2 * i + 1]), m = std::max(x, y);
        const double s = m > 0x1p500 ? 0x1p-600 : (m < 0x1p-500 ? 0x1p600 : 1.0);
        const double back = m > 0x1p500 ? 0x1p600 : (m < 0x1p-500 ? 0x1p-600 : 1.0);
        const double u = x * s, v = y * s;
        const double v2 = v * v, v2Error = std::fma(v, v, -v2);  // v^2 = v2 + v2Error exactly
        const double modulus = std::sqrt(std::fma(u, u, v2) + v2Error) * back;
        r[i] = (std::isinf(x) || std::isinf(y)) ? HUGE_VAL : modulus;
    }
}

template <class C, class F>
void PerElement(MKL_INT n, const C* a, C* r, F f)
{
    const auto* x = AsStd(a);
    auto* y = AsStd(r);
    Split(n, kComputeBound, [&](MKL_INT begin, MKL_INT count) {
        for (MKL_INT i = begin; i < begin + count; ++i) y[i] = f(x[i]);
    });
}

template <class T>
void Cis(MKL_INT n, const T* a, T* pairs, const TwoResults<T> sincos)
{
    Split(n, kComputeBound, [&](MKL_INT begin, MKL_INT count) {
        alignas(64) T s[kBlock], c[kBlock];
        for (MKL_INT i = begin; i < begin + count; i += kBlock) {
            const MKL_INT m = std::min(kBlock, begin + count - i);
            sincos(m, a + i, s, c);
            for (MKL_INT k = 0; k < m; ++k) {
                pairs[2 * (i + k)] = c[k];
                pairs[2 * (i + k) + 1] = s[k];
            }
        }
    });
}

}  // namespace
}  // namespace lumadex::vml

using namespace lumadex::vml;

// The C library's function per element.
#define PUBLISH_COMPLEX_UNARY(OP, EXPR)                                             \
    void vc##OP(const MKL_INT n, const MKL_Complex8 a[], MKL_Complex8 r[])           \
    {                                                                               \
        PerElement(n, a, r, [](std::complex<float> z) { return EXPR; });           \
    }                                                                               \
    void vz##OP(const MKL_INT n, const MKL_Complex16 a[], MKL_Complex16 r[])         \
    {                                                                               \
        PerElement(n, a, r, [](std::complex<double> z) { return EXPR; });          \
    }

extern "C" {
PUBLISH_COMPLEX_UNARY(Sqrt, std::sqrt(z))
PUBLISH_COMPLEX_UNARY(Exp, std::exp(z))
PUBLISH_COMPLEX_UNARY(Ln, std::log(z))
PUBLISH_COMPLEX_UNARY(Log10, std::log10(z))
PUBLISH_COMPLEX_UNARY(Cos, std::cos(z))
PUBLISH_COMPLEX_UNARY(Sin, std::sin(z))
PUBLISH_COMPLEX_UNARY(Tan, std::tan(z))
PUBLISH_COMPLEX_UNARY(Cosh, std::cosh(z))
PUBLISH_COMPLEX_UNARY(Sinh, std::sinh(z))
PUBLISH_COMPLEX_UNARY(Tanh, std::tanh(z))
PUBLISH_COMPLEX_UNARY(Acos, std::acos(z))
PUBLISH_COMPLEX_UNARY(Asin, std::asin(z))
PUBLISH_COMPLEX_UNARY(Atan, std::atan(z))
PUBLISH_COMPLEX_UNARY(Acosh, std::acosh(z))
PUBLISH_COMPLEX_UNARY(Asinh, std::asinh(z))
PUBLISH_COMPLEX_UNARY(Atanh, std::atanh(z))

void vcConj(const MKL_INT n, const MKL_Complex8 a[], MKL_Complex8 r[])
{
    RunMemoryBound(n, kMemoryBound / 2, r, [&](MKL_INT c, MKL_INT o, MKL_Complex8* out) { ConjPairs(c, &a[o].real, &out[0].real); });
}
void vzConj(const MKL_INT n, const MKL_Complex16 a[], MKL_Complex16 r[])
{
    RunMemoryBound(n, kMemoryBound / 2, r, [&](MKL_INT c, MKL_INT o, MKL_Complex16* out) { ConjPairs(c, &a[o].real, &out[0].real); });
}

#define PUBLISH_COMPLEX_ARITHMETIC(OP, CALL)                                                             \
    void vc##OP(const MKL_INT n, const MKL_Complex8 a[], const MKL_Complex8 b[], MKL_Complex8 r[])      \
    {                                                                                                    \
        RunMemoryBound(n, kMemoryBound / 2, r, [&](MKL_INT c, MKL_INT o, MKL_Complex8* out) {            \
            CALL(c, &a[o].real, &b[o].real, &out[0].real);                                               \
        });                                                                                              \
    }                                                                                                    \
    void vz##OP(const MKL_INT n, const MKL_Complex16 a[], const MKL_Complex16 b[], MKL_Complex16 r[])   \
    {                                                                                                    \
        RunMemoryBound(n, kMemoryBound / 2, r, [&](MKL_INT c, MKL_INT o, MKL_Complex16* out) {           \
            CALL(c, &a[o].real, &b[o].real, &out[0].real);                                               \
        });                                                                                              \
    }
#define MUL_CALL(c, x, y, z) MulPairs(c, x, y, z, false)
#define MUL_BY_CONJ_CALL(c, x, y, z) MulPairs(c, x, y, z, true)
PUBLISH_COMPLEX_ARITHMETIC(Add, AddPairs)
PUBLISH_COMPLEX_ARITHMETIC(Sub, SubPairs)
PUBLISH_COMPLEX_ARITHMETIC(Mul, MUL_CALL)
PUBLISH_COMPLEX_ARITHMETIC(MulByConj, MUL_BY_CONJ_CALL)

void vcPow(const MKL_INT n, const MKL_Complex8 a[], const MKL_Complex8 b[], MKL_Complex8 r[])
{
    const auto *x = AsStd(a), *y = AsStd(b);
    auto* z = AsStd(r);
    Split(n, kComputeBound, [&](MKL_INT o, MKL_INT c) {
        for (MKL_INT i = o; i < o + c; ++i) z[i] = std::pow(x[i], y[i]);
    });
}
void vzPow(const MKL_INT n, const MKL_Complex16 a[], const MKL_Complex16 b[], MKL_Complex16 r[])
{
    const auto *x = AsStd(a), *y = AsStd(b);
    auto* z = AsStd(r);
    Split(n, kComputeBound, [&](MKL_INT o, MKL_INT c) {
        for (MKL_INT i = o; i < o + c; ++i) z[i] = std::pow(x[i], y[i]);
    });
}

void vcAbs(const MKL_INT n, const MKL_Complex8 a[], float r[])
{
    RunMemoryBound(n, kMemoryBound / 2, r, [&](MKL_INT c, MKL_INT o, float* out) { AbsFloatPairs(c, &a[o].real, out); });
}
void vzAbs(const MKL_INT n, const MKL_Complex16 a[], double r[])
{
    RunMemoryBound(n, kMemoryBound / 2, r, [&](MKL_INT c, MKL_INT o, double* out) { AbsDoublePairs(c, &a[o].real, out); });
}

void vcCIS(const MKL_INT n, const float a[], MKL_Complex8 r[]) { Cis(n, a, &r[0].real, FloatSinCos().Pick()); }
void vzCIS(const MKL_INT n, const double a[], MKL_Complex16 r[]) { Cis(n, a, &r[0].real, DoubleSinCos().Pick()); }
}
