// The cube roots and their kin, x^(1/3), x^(-1/3) and x^(2/3): float loops
// in double on every instruction set, kernels of our own in the arguments'
// precision on AVX-512, and for double elsewhere SLEEF's cbrt (of a scaled
// argument for the inverse and the square).
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iterator>

#include "avx512_loops.hpp"
#include "common.hpp"

namespace lumadex::vml {
namespace {

using namespace avx512;

// Float cube roots and their kin, in double without a division: r = |x|^(-1/3)
// from an estimate on the float's bits (about 5 % off) and four Newton
// steps r <- r (4 - x r^3) / 3, each squaring the error (to 1e-11); then
// cbrt = x r^2, one rounding to float. Subnormals are scaled by 2^24 first;
// zeros, infinities and NaN give what x^(1/3) gives.
struct CubeRoots {
    double root, inverse;
};

inline CubeRoots CubeRootsOf(float x)
{
    float ax = std::fabs(x);
    const bool tiny = ax < 1.17549435e-38f;
    if (tiny) ax *= 16777216.0f;  // 2^24, whose cube root is 2^8
    const double v = ax;
    double r = std::bit_cast<float>(0x54A21D2Au - std::bit_cast<std::uint32_t>(ax) / 3u);
    for (int step = 0; step < 4; ++step) r = r * (4 - v * r * r * r) * (1.0 / 3);
    double root = v * r * r;
    if (tiny) {
        root *= 1.0 / 256;
        r *= 256;
    }
    const bool exceptional = !(ax > 0) || std::isinf(ax);
    const double sign = x < 0 ? -1.0 : 1.0;
    const double exceptionalInverse = ax == 0 ? sign * HUGE_VAL : (std::isinf(ax) ? sign * 0.0 : double(x));
    return {exceptional ? double(x) : sign * root, exceptional ? exceptionalInverse : sign * r};
}

LUMADEX_VML_CLONES void CbrtF(MKL_INT n, const float* a, float* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) r[i] = float(CubeRootsOf(a[i]).root);
}
LUMADEX_VML_CLONES void InvCbrtF(MKL_INT n, const float* a, float* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) r[i] = float(CubeRootsOf(a[i]).inverse);
}
LUMADEX_VML_CLONES void Pow2o3F(MKL_INT n, const float* a, float* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const double c = CubeRootsOf(a[i]).root;
        r[i] = float(c * c);
    }
}

// The roots on AVX-512 (AVX-512F instructions only), in the arguments' own
// precision, written once for float (16 lanes) and double (8 lanes) with
// the lane helpers of avx512_loops.hpp; the other instruction sets keep the
// loops above and SLEEF's double cbrt.
// x^(1/3), x^(-1/3) and x^(2/3) (the root of x^2, never negative).
//
// Split x = m 2^e (m in [1, 2)) and e s/3 = k + j/3 (s = -1 for the
// inverse root, else 1; j in 0..2, k = floor(e s/3)): then x^(s/3) is
// M^(s/3) 2^k, with M = m 2^(s j) formed exactly.
//   k and j: t = e s/3 + 1.5 2^(p-3) rounds e s/3 to quarters (p the
//   precision), 1/3 going to 1/4 and 2/3 to 3/4, so the low two bits of t
//   give j (0, 1, 3 for j = 0, 1, 2), the bits above them k, and t less the
//   constant has floor k, which the final scaling takes.
//   Estimate: r0 ~ M^(-1/3) = m^(-1/3) 2^(-s j/3), a minimax polynomial in m
//   (degree 2 for float, 5 for double) times a register table by j, then
//   cut to h significant bits (h = 8 for float, 17 for double; 3h is within
//   the precision). The cut loses up to 2^(1-h) relative, which the
//   polynomial's factor 1 + 2^-h centres: r0 is within 2^-h plus the
//   polynomial's error of the root (float 2^-8 + 2^-9.1, double
//   2^-17 + 2^-17.4).
//   Exact residual: with h bits, r0^2 and r0^3 are exact, so
//   d = 1 - M r0^3 has one rounding, of a number below 3.1 2^-h.
//   Correction: M^(-1/3) = r0 (1 - d)^(-1/3), M^(2/3) = M r0 (1 - d)^(-1/3)
//   and M^(1/3) = M r0^2 (1 - d)^(-2/3); the factors are 1 + d P(d) with P
//   of degree 2 (minimax for float, Taylor for double; off by 2^-27 and
//   2^-59.5 at most). The products
//   M r0 and M r0^2 are kept as a rounded product and its error from a fused
//   multiply-add, so the result is hi + (lo + hi d P(d)) with one rounding
//   of an almost exact sum: float within 0.65 ulp, double 0.51 ulp. The
//   root and its inverse then take the sign of x.
// The edge values need no test: for +-0, e = -inf and m = 0, for +-inf,
// e = +inf and m = 1, and the final scaling by 2^(+-inf) of a finite number
// (of 0 for the root and x^(2/3) of zero) gives cbrt(+-0) = +-0,
// cbrt(+-inf) = +-inf, InvCbrt(+-0) = +-inf, InvCbrt(+-inf) = +-0,
// Pow2o3(+-0) = +0 and Pow2o3(+-inf) = +inf; NaN stays NaN.
enum class CubeRootPower { Root, Inverse, TwoThirds };

template <class T>
struct CubeRootConstants;
template <>
struct CubeRootConstants<float> {
    static constexpr float kQuarters = 0x1.8p21f;  // 1.5 2^21, spacing 1/4
    static constexpr std::uint32_t kEstimateBits = 0xFFFF0000u;  // sign, exponent, 7 + 1 mantissa bits
    static constexpr float kEstimate[] = {1.3935775756835938f, -0.48520785570144653f, 0.09376183152198792f};
    // (1 - d)^(-1/3) - 1 and (1 - d)^(-2/3) - 1 over d P(d), |d| <= 0.0175.
    static constexpr float kThird[] = {0.3333333432674408f, 0.2222587764263153f, 0.17289358377456665f};
    static constexpr float kTwoThirds[] = {0.6666666269302368f, 0.555670440196991f, 0.49401021003723145f};
};
template <>
struct CubeRootConstants<double> {
    static constexpr double kQuarters = 0x1.8p50;
    static constexpr std::uint64_t kEstimateBits = 0xFFFFFFF000000000u;  // sign, exponent, 16 + 1 mantissa bits
    static constexpr double kEstimate[] = {1.7810708819421108, -1.5660391726898293, 1.2437928291881313,
                                           -0.5978757406596686, 0.15607216020098263, -0.017019077258549654};
    static constexpr double kThird[] = {1.0 / 3, 2.0 / 9, 14.0 / 81};
    static constexpr double kTwoThirds[] = {2.0 / 3, 5.0 / 9, 40.0 / 81};
};

// {a, b, -, c} repeated over the lanes: entries for j = 0, 1, 2 at the
// low two bits 0, 1, 3 of t.
LUMADEX_AVX512 inline __m512 ByThirds(float a, float b, float c, __m512)
{
    return _mm512_setr_ps(a, b, a, c, a, b, a, c, a, b, a, c, a, b, a, c);
}
LUMADEX_AVX512 inline __m512d ByThirds(double a, double b, double c, __m512d)
{
    return _mm512_setr_pd(a, b, a, c, a, b, a, c);
}

template <CubeRootPower kPower, class V>
LUMADEX_AVX512 inline V CubeRoots(V x)
{
    using T = decltype(LaneOf(x));
    using C = CubeRootConstants<T>;
    constexpr bool kInverse = kPower == CubeRootPower::Inverse;
    constexpr T kCbrt2 = T(1.2599210498948732), kCbrt4 = T(1.5874010519681994);
    const V m = MantissaOf(x), quarters = Broadcast(C::kQuarters, x);
    const V t = Fma(ExponentOf(x), Broadcast(kInverse ? T(-1) / 3 : T(1) / 3, x), quarters);
    const V M = Mul(m, Lookup(t, kInverse ? ByThirds(T(1), T(0.5), T(0.25), x) : ByThirds(T(1), T(2), T(4), x)));

    constexpr int kDegree = std::size(C::kEstimate) - 1;
    V p = Broadcast(C::kEstimate[kDegree], x);
    for (int i = kDegree - 1; i >= 0; --i) p = Fma(p, m, Broadcast(C::kEstimate[i], x));
    const V perThird = kInverse ? ByThirds(T(1), kCbrt2, kCbrt4, x) : ByThirds(T(1), 1 / kCbrt2, 1 / kCbrt4, x);
    const V r0 = KeepBits(Mul(p, Lookup(t, perThird)), C::kEstimateBits);
    const V r0Squared = Mul(r0, r0);
    const V d = Fnma(M, Mul(r0Squared, r0), Broadcast(T(1), x));

    const T* q = kPower == CubeRootPower::Root ? C::kTwoThirds : C::kThird;
    const V dP = Mul(Fma(Fma(Broadcast(q[2], x), d, Broadcast(q[1], x)), d, Broadcast(q[0], x)), d);
    const V k = Sub(t, quarters);
    if constexpr (kInverse) return SignOf(x, ScaleBy(Fma(r0, dP, r0), k));
    const V base = kPower == CubeRootPower::Root ? r0Squared : r0;
    const V hi = Mul(M, base), lo = Fms(M, base, hi);
    const V r = ScaleBy(Add(hi, Fma(hi, dP, lo)), k);
    if constexpr (kPower == CubeRootPower::Root) return SignOf(x, r);
    return ScaleBy(r, k);  // 2^(2k), in two exact steps
}
// Double x^(-1/3) and x^(2/3) as cube roots of 1/(x s) and (x s)^2, whose
// one rounding the root divides by three: within 0.7 ulp (1/cbrt(x) and
// cbrt(x)^2 reach 1.5 and 1.9 ulp). `power` is -1 or 2.
LUMADEX_VML_CLONES void CbrtArgument(MKL_INT n, const double* x, double* t, double* factor, int power)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) {
        const double s = ScaleOf(x[i]), v = x[i] * s;
        t[i] = power == 2 ? v * v : 1 / v;
        // s^(1/3) for the reciprocal, s^(-2/3) for the square.
        const double up = power == 2 ? 0x1p-400 : 0x1p200, down = power == 2 ? 0x1p400 : 0x1p-200;
        factor[i] = s == 1 ? 1.0 : (s > 1 ? up : down);
    }
}
LUMADEX_VML_CLONES void MultiplyInPlace(MKL_INT n, const double* factor, double* r)
{
#pragma omp simd
    for (MKL_INT i = 0; i < n; ++i) r[i] *= factor[i];
}

void CbrtOfScaled(MKL_INT n, const double* a, double* r, int power)
{
    const Unary<double> cbrt = DoubleCbrt().Pick();
    ForEachBlock(n, kComputeBound, [&](MKL_INT i, MKL_INT m) {
        alignas(64) double t[kBlock], factor[kBlock];
        CbrtArgument(m, a + i, t, factor, power);
        cbrt(m, t, r + i);
        MultiplyInPlace(m, factor, r + i);
    });
}
}  // namespace
}  // namespace lumadex::vml

using namespace lumadex::vml;

extern "C" {
// The AVX-512 cube roots are a few dozen instructions per vector: split over
// the threads like the transcendental functions, each thread storing
// straight into r (the streamed stores of ComputeInto, through a block
// buffer, measured 10-20 % slower for these kernels: 16 M elements, one
// thread, float cube root 6.0 ms against 5.0). Elsewhere the float loops
// above and, for double, SLEEF's cbrt.
#define PUBLISH_CUBE_ROOT(OP, POWER, FLOAT_LOOP, DOUBLE_ELSEWHERE)                                        \
    void vs##OP(const MKL_INT n, const float a[], float r[])                                            \
    {                                                                                                   \
        Unary<float> kernel = &FLOAT_LOOP;                                                              \
        if (DetectedIsa() == Isa::Avx512) kernel = &MapStored<float, CubeRoots<CubeRootPower::POWER, __m512>>; \
        RunUnary(n, kComputeBound, a, r, kernel);                                                    \
    }                                                                                                   \
    void vd##OP(const MKL_INT n, const double a[], double r[])                                          \
    {                                                                                                   \
        if (DetectedIsa() != Isa::Avx512) return DOUBLE_ELSEWHERE;                                      \
        RunUnary(n, kComputeBound, a, r, &MapStored<double, CubeRoots<CubeRootPower::POWER, __m512d>>); \
    }
PUBLISH_CUBE_ROOT(Cbrt, Root, CbrtF, RunUnary(n, kComputeBound, a, r, DoubleCbrt()))
PUBLISH_CUBE_ROOT(InvCbrt, Inverse, InvCbrtF, CbrtOfScaled(n, a, r, -1))
PUBLISH_CUBE_ROOT(Pow2o3, TwoThirds, Pow2o3F, CbrtOfScaled(n, a, r, 2))
}
