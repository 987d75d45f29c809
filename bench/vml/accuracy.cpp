// Accuracy of the vector-math layer: the largest error of every routine, in
// units in the last place of the correctly rounded result, against long
// double references (64-bit significands: 11 bits beyond double, so the
// reference's own error is below 0.001 ulp of a double result).
//
// Usage: vml_accuracy [arguments per function, default 1000000]
// Arguments per function: the domain's edges and special points, half drawn
// uniformly over the function's main interval, half with log-uniform
// magnitudes over its whole domain. Complex functions: the error of each
// component in ulps of the larger component (well conditioned measure),
// arguments with both parts uniform in [-4, 4] and log-uniform magnitudes.
// NaN against NaN and equal infinities count as exact; any other mismatch of
// special values is counted apart.
#include <boost/math/special_functions/erf.hpp>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <vector>

#include "mkl_vml.h"

namespace {

using LD = long double;

template <class T>
LD UlpOf(LD reference)
{
    const LD a = std::fabs(reference);
    if (a < std::numeric_limits<T>::min()) return std::numeric_limits<T>::denorm_min();
    return std::ldexp(LD(1), std::ilogb(a) - (std::numeric_limits<T>::digits - 1));
}

struct Tally {
    double worst = 0;
    LD where = 0;
    long mismatches = 0;

    template <class T>
    void Add(T got, LD reference, LD argument, LD scale)
    {
        if (std::isnan(reference) || std::isinf(reference) || std::isnan(got) || std::isinf(got)) {
            const bool same = (std::isnan(reference) && std::isnan(got)) || LD(got) == reference;
            // A finite result at the edge of overflow is fine when the reference rounds to infinity.
            if (!same && !(std::isinf(got) && std::fabs(reference) > std::numeric_limits<T>::max() * 0.999L))
                ++mismatches;
            return;
        }
        const double error = static_cast<double>(std::fabs(LD(got) - reference) / UlpOf<T>(scale));
        if (error > worst) {
            worst = error;
            where = argument;
        }
    }
};

// Arguments inside [low, high]: edges, a uniform half over [mainLow, mainHigh]
// and a log-uniform half over the whole domain.
template <class T>
std::vector<T> Arguments(std::size_t n, LD low, LD high, LD mainLow, LD mainHigh, std::mt19937_64& rng)
{
    std::vector<T> x;
    const LD edges[] = {low, high, 0, -0.0L, 1, -1, 0.5, -0.5, std::numeric_limits<T>::min(),
                        std::numeric_limits<T>::denorm_min(), -std::numeric_limits<T>::denorm_min(),
                        std::nextafter(T(1), T(0)), std::nextafter(T(-1), T(0))};
    for (LD e : edges)
        if (e >= low && e <= high) x.push_back(T(e));
    std::uniform_real_distribution<double> unit(0, 1);
    const LD top = std::max(std::fabs(low), std::fabs(high));
    const double lowExp = std::log2(double(std::numeric_limits<T>::denorm_min())), highExp = std::log2(double(top));
    while (x.size() < n) {
        LD v;
        if (x.size() % 2)
            v = mainLow + (mainHigh - mainLow) * LD(unit(rng));
        else
            v = (unit(rng) < 0.5 ? -1 : 1) * std::exp2(LD(lowExp + (highExp - lowExp) * unit(rng)));
        const T t = T(v);
        if (t >= low && t <= high && std::isfinite(t)) x.push_back(t);
    }
    return x;
}

template <class T>
using Routine = void (*)(MKL_INT, const T*, T*);

struct RealCase {
    const char* name;
    Routine<float> s;
    Routine<double> d;
    LD (*reference)(LD);
    LD low, high, mainLow, mainHigh;
};

LD Sqr(LD x) { return x * x; }
LD Inv(LD x) { return 1 / x; }
LD InvSqrt(LD x) { return 1 / std::sqrt(x); }
LD InvCbrt(LD x) { return 1 / std::cbrt(x); }
LD Pow2o3(LD x) { return std::cbrt(x * x); }
LD Pow3o2(LD x) { return x * std::sqrt(x); }
LD ErfInv(LD x) { return std::fabs(x) >= 1 ? (std::fabs(x) == 1 ? std::copysign(INFINITY, x) : NAN) : boost::math::erf_inv(x); }
LD RoundHalfAway(LD x) { return std::round(x); }
LD Abs(LD x) { return std::fabs(x); }

constexpr LD kBig = 1e300L, kHuge = 3e38L;

template <class T>
Tally MeasureReal(const RealCase& c, Routine<T> routine, std::size_t n, std::mt19937_64& rng)
{
    const LD limit = std::is_same_v<T, float> ? kHuge : kBig;
    const auto x = Arguments<T>(n, std::max(c.low, -limit), std::min(c.high, limit), c.mainLow, c.mainHigh, rng);
    std::vector<T> r(x.size());
    routine(static_cast<MKL_INT>(x.size()), x.data(), r.data());
    Tally tally;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const LD reference = c.reference(x[i]);
        tally.Add(r[i], reference, x[i], reference);
    }
    return tally;
}

// Two-operand routines: a on its domain, b uniform on its main interval.
struct BinaryCase {
    const char* name;
    void (*s)(MKL_INT, const float*, const float*, float*);
    void (*d)(MKL_INT, const double*, const double*, double*);
    LD (*reference)(LD, LD);
    LD aLow, aHigh, bLow, bHigh;
};
LD PowRef(LD a, LD b) { return std::pow(a, b); }
LD HypotRef(LD a, LD b) { return std::hypot(a, b); }
LD Atan2Ref(LD a, LD b) { return std::atan2(a, b); }
LD DivRef(LD a, LD b) { return a / b; }

template <class T, class F>
Tally MeasureBinary(const BinaryCase& c, F routine, std::size_t n, std::mt19937_64& rng)
{
    const auto a = Arguments<T>(n, c.aLow, c.aHigh, c.aLow, c.aHigh, rng);
    const auto b = Arguments<T>(n, c.bLow, c.bHigh, c.bLow, c.bHigh, rng);
    std::vector<T> r(a.size());
    routine(static_cast<MKL_INT>(a.size()), a.data(), b.data(), r.data());
    Tally tally;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const LD reference = c.reference(a[i], b[i]);
        tally.Add(r[i], reference, a[i], reference);
    }
    return tally;
}

template <class T, class C>
using ComplexRoutine = void (*)(MKL_INT, const C*, C*);

struct ComplexCase {
    const char* name;
    ComplexRoutine<float, MKL_Complex8> c;
    ComplexRoutine<double, MKL_Complex16> z;
    std::complex<LD> (*reference)(std::complex<LD>);
};

template <class T, class C>
Tally MeasureComplex(const ComplexCase& c, ComplexRoutine<T, C> routine, std::size_t n, std::mt19937_64& rng)
{
    std::uniform_real_distribution<double> unit(-4, 4), logMagnitude(-20, 6);
    std::vector<std::complex<T>> x(n), r(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = i % 2 ? std::complex<T>(T(unit(rng)), T(unit(rng)))
                     : std::polar(T(std::exp2(logMagnitude(rng))), T(unit(rng)));
    routine(static_cast<MKL_INT>(n), reinterpret_cast<const C*>(x.data()), reinterpret_cast<C*>(r.data()));
    Tally tally;
    for (std::size_t i = 0; i < n; ++i) {
        const std::complex<LD> reference = c.reference(std::complex<LD>(x[i].real(), x[i].imag()));
        const LD scale = std::max(std::fabs(reference.real()), std::fabs(reference.imag()));
        tally.Add(r[i].real(), reference.real(), std::abs(std::complex<LD>(x[i])), scale);
        tally.Add(r[i].imag(), reference.imag(), std::abs(std::complex<LD>(x[i])), scale);
    }
    return tally;
}

void Print(const char* name, const Tally& floats, const Tally& doubles)
{
    std::printf("%-10s %10.3f %10.3f %9ld   at %.9Lg / %.17Lg\n", name, floats.worst, doubles.worst,
                floats.mismatches + doubles.mismatches, floats.where, doubles.where);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
    std::mt19937_64 rng(12);
    const LD inf = INFINITY;
    const RealCase reals[] = {
        {"Sqr", vsSqr, vdSqr, Sqr, -1e150L, 1e150L, -10, 10},
        {"Abs", vsAbs, vdAbs, Abs, -inf, inf, -10, 10},
        {"Inv", vsInv, vdInv, Inv, -inf, inf, -10, 10},
        {"Sqrt", vsSqrt, vdSqrt, [](LD x) { return std::sqrt(x); }, 0, inf, 0, 100},
        {"InvSqrt", vsInvSqrt, vdInvSqrt, InvSqrt, 0, inf, 0, 100},
        {"Cbrt", vsCbrt, vdCbrt, [](LD x) { return std::cbrt(x); }, -inf, inf, -100, 100},
        {"InvCbrt", vsInvCbrt, vdInvCbrt, InvCbrt, -inf, inf, -100, 100},
        {"Pow2o3", vsPow2o3, vdPow2o3, Pow2o3, -inf, inf, -100, 100},
        {"Pow3o2", vsPow3o2, vdPow3o2, Pow3o2, 0, 1e200L, 0, 100},
        {"Exp", vsExp, vdExp, [](LD x) { return std::exp(x); }, -750, 710, -20, 20},
        {"Expm1", vsExpm1, vdExpm1, [](LD x) { return std::expm1(x); }, -750, 710, -1, 1},
        {"Ln", vsLn, vdLn, [](LD x) { return std::log(x); }, 0, inf, 0, 10},
        {"Log10", vsLog10, vdLog10, [](LD x) { return std::log10(x); }, 0, inf, 0, 10},
        {"Log1p", vsLog1p, vdLog1p, [](LD x) { return std::log1p(x); }, -1, inf, -1, 10},
        {"Cos", vsCos, vdCos, [](LD x) { return std::cos(x); }, -1e5L, 1e5L, -10, 10},
        {"Sin", vsSin, vdSin, [](LD x) { return std::sin(x); }, -1e5L, 1e5L, -10, 10},
        {"Tan", vsTan, vdTan, [](LD x) { return std::tan(x); }, -1e5L, 1e5L, -10, 10},
        {"Cosh", vsCosh, vdCosh, [](LD x) { return std::cosh(x); }, -710, 710, -10, 10},
        {"Sinh", vsSinh, vdSinh, [](LD x) { return std::sinh(x); }, -710, 710, -10, 10},
        {"Tanh", vsTanh, vdTanh, [](LD x) { return std::tanh(x); }, -inf, inf, -5, 5},
        {"Acos", vsAcos, vdAcos, [](LD x) { return std::acos(x); }, -1, 1, -1, 1},
        {"Asin", vsAsin, vdAsin, [](LD x) { return std::asin(x); }, -1, 1, -1, 1},
        {"Atan", vsAtan, vdAtan, [](LD x) { return std::atan(x); }, -inf, inf, -10, 10},
        {"Acosh", vsAcosh, vdAcosh, [](LD x) { return std::acosh(x); }, 1, inf, 1, 10},
        {"Asinh", vsAsinh, vdAsinh, [](LD x) { return std::asinh(x); }, -inf, inf, -10, 10},
        {"Atanh", vsAtanh, vdAtanh, [](LD x) { return std::atanh(x); }, -1, 1, -1, 1},
        {"Erf", vsErf, vdErf, [](LD x) { return std::erf(x); }, -inf, inf, -4, 4},
        {"Erfc", vsErfc, vdErfc, [](LD x) { return std::erfc(x); }, -inf, 27, -4, 10},
        {"ErfInv", vsErfInv, vdErfInv, ErfInv, -1, 1, -1, 1},
        {"Floor", vsFloor, vdFloor, [](LD x) { return std::floor(x); }, -inf, inf, -100, 100},
        {"Ceil", vsCeil, vdCeil, [](LD x) { return std::ceil(x); }, -inf, inf, -100, 100},
        {"Trunc", vsTrunc, vdTrunc, [](LD x) { return std::trunc(x); }, -inf, inf, -100, 100},
        {"Round", vsRound, vdRound, RoundHalfAway, -inf, inf, -100, 100},
        {"NearbyInt", vsNearbyInt, vdNearbyInt, [](LD x) { return std::nearbyint(x); }, -inf, inf, -100, 100},
        {"Rint", vsRint, vdRint, [](LD x) { return std::rint(x); }, -inf, inf, -100, 100},
    };
    std::printf("largest error in ulps (%zu arguments per function and precision)\n", n);
    std::printf("%-10s %10s %10s %9s   %s\n", "function", "float", "double", "specials", "worst argument (float / double)");
    for (const RealCase& c : reals)
        Print(c.name, MeasureReal<float>(c, c.s, n, rng), MeasureReal<double>(c, c.d, n, rng));

    const BinaryCase binaries[] = {
        {"Div", vsDiv, vdDiv, DivRef, -1e30L, 1e30L, 0.5, 10},
        {"Pow", vsPow, vdPow, PowRef, 0, 1e4L, -30, 30},
        {"Hypot", vsHypot, vdHypot, HypotRef, -1e30L, 1e30L, -1e30L, 1e30L},
        {"Atan2", vsAtan2, vdAtan2, Atan2Ref, -1e30L, 1e30L, -1e30L, 1e30L},
    };
    for (const BinaryCase& c : binaries)
        Print(c.name, MeasureBinary<float>(c, c.s, n, rng), MeasureBinary<double>(c, c.d, n, rng));

    std::printf("complex (error per component in ulps of the larger component)\n");
    using CL = std::complex<LD>;
    const ComplexCase complexes[] = {
        {"Sqrt", vcSqrt, vzSqrt, [](CL z) { return std::sqrt(z); }},
        {"Exp", vcExp, vzExp, [](CL z) { return std::exp(z); }},
        {"Ln", vcLn, vzLn, [](CL z) { return std::log(z); }},
        {"Log10", vcLog10, vzLog10, [](CL z) { return std::log10(z); }},
        {"Cos", vcCos, vzCos, [](CL z) { return std::cos(z); }},
        {"Sin", vcSin, vzSin, [](CL z) { return std::sin(z); }},
        {"Tan", vcTan, vzTan, [](CL z) { return std::tan(z); }},
        {"Cosh", vcCosh, vzCosh, [](CL z) { return std::cosh(z); }},
        {"Sinh", vcSinh, vzSinh, [](CL z) { return std::sinh(z); }},
        {"Tanh", vcTanh, vzTanh, [](CL z) { return std::tanh(z); }},
        {"Acos", vcAcos, vzAcos, [](CL z) { return std::acos(z); }},
        {"Asin", vcAsin, vzAsin, [](CL z) { return std::asin(z); }},
        {"Atan", vcAtan, vzAtan, [](CL z) { return std::atan(z); }},
        {"Acosh", vcAcosh, vzAcosh, [](CL z) { return std::acosh(z); }},
        {"Asinh", vcAsinh, vzAsinh, [](CL z) { return std::asinh(z); }},
        {"Atanh", vcAtanh, vzAtanh, [](CL z) { return std::atanh(z); }},
    };
    const std::size_t complexCount = std::max<std::size_t>(n / 4, 1);
    for (const ComplexCase& c : complexes)
        Print(c.name, MeasureComplex<float, MKL_Complex8>(c, c.c, complexCount, rng),
              MeasureComplex<double, MKL_Complex16>(c, c.z, complexCount, rng));
    return 0;
}
