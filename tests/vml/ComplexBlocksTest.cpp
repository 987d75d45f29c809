// The complex functions but Sqrt and Pow run formulas of their own where the
// squares of the parts stay normal and finite (for Exp and the circular and
// hyperbolic functions: where e^x and cosh x do), and the C library's functions elsewhere:
// arguments on both sides of each boundary (and of the formulas'
// crossovers), against the long double functions, within 5 ulps of the
// larger part (the bound the C library's functions meet) and with their
// special values exactly.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <vector>

#include "mkl_vml.h"

namespace {

using LD = long double;

template <class T>
std::vector<std::complex<T>> EdgeArguments()
{
    std::vector<std::complex<T>> z;
    const T inf = std::numeric_limits<T>::infinity(), nan = std::numeric_limits<T>::quiet_NaN();
    const LD big = std::ldexp(LD(1), 500), tiny = std::ldexp(LD(1), -500);
    for (LD part : {big, std::nextafter(big, LD(0)), big * 2, LD(1e-310), LD(1e-300), tiny, tiny / 2, LD(1e-30),
                    LD(0.5), LD(1), LD(2), LD(1e300)}) {
        for (int sign : {1, -1}) {
            const T p = T(sign * part);
            for (T other : {T(0), T(-0.0), T(0.25), T(-1), T(3), T(1e-200)}) {
                z.emplace_back(p, other);
                z.emplace_back(other, p);
            }
        }
    }
    // Tanh's bound of 20 on x (Tan's on y).
    for (T x : {T(20), std::nextafter(T(20), T(21)), T(-20), std::nextafter(T(-20), T(-21))})
        for (T y : {T(0), T(1), T(1.5707963), T(-2.5)}) {
            z.emplace_back(x, y);
            z.emplace_back(y, x);
        }
    // Exp's (and the hyperbolic part's) bound of 700, Ln's |z|^2 = 1/2 and its
    // cancellation near |z| = 1.
    for (T x : {T(700), std::nextafter(T(700), T(701)), T(-700), std::nextafter(T(-700), T(-701))})
        for (T y : {T(0), T(1), T(-2.5)}) {
            z.emplace_back(x, y);
            z.emplace_back(y, x);
        }
    for (T x : {T(0.5), T(0.6), T(0.70710678), T(0.8), T(0.99999)})
        for (T y : {T(0.5), T(0.70710678), T(0.6), T(0.0001)}) z.emplace_back(x, y);
    // Asin's crossovers: x = 0.6417 (|z + 1| + |z - 1|)/2 and that sum = 3.
    for (T x : {T(0.3), T(0.6), T(0.64), T(0.7), T(0.99), T(1.2), T(1.4)})
        for (T y : {T(0.1), T(0.2), T(0.4), T(0.6), T(0.9), T(1.1)}) z.emplace_back(x, y);
    // Near +-1, where |1 - |z||^2 falls to the 2^-900 boundary and below.
    for (int e = -600; e <= -1; e += 7)
        for (T x : {T(1), T(-1), std::nextafter(T(1), T(2)), std::nextafter(T(-1), T(0))}) {
            z.emplace_back(x, T(std::ldexp(LD(1), e)));
            z.emplace_back(x, T(-std::ldexp(LD(1), e)));
        }
    for (T a : {inf, -inf, nan, T(0), T(-0.0), T(1), T(-1)})
        for (T b : {inf, -inf, nan, T(0), T(-0.0), T(1), T(-1)}) z.emplace_back(a, b);
    return z;
}

template <class T, class C, class F, class Oracle>
void ExpectOracle(F routine, Oracle oracle)
{
    const std::vector<std::complex<T>> z = EdgeArguments<T>();
    std::vector<std::complex<T>> got(z.size());
    routine(static_cast<MKL_INT>(z.size()), reinterpret_cast<const C*>(z.data()), reinterpret_cast<C*>(got.data()));
    for (std::size_t i = 0; i < z.size(); ++i) {
        const std::complex<LD> want = oracle(std::complex<LD>(z[i]));
        const LD larger = std::fmax(std::fabs(want.real()), std::fabs(want.imag()));  // a NaN part left out
        const LD unit = std::ldexp(LD(1), std::max(std::ilogb(T(larger)), std::numeric_limits<T>::min_exponent - 1) -
                                              (std::numeric_limits<T>::digits - 1));
        for (const auto& [g, w] : {std::pair{got[i].real(), want.real()}, std::pair{got[i].imag(), want.imag()}}) {
            if (std::isnan(w) || std::isinf(w) || w == 0) {
                const T rounded = T(w);
                EXPECT_TRUE((std::isnan(g) && std::isnan(rounded)) || (g == rounded && std::signbit(g) == std::signbit(rounded)))
                    << "(" << z[i].real() << ", " << z[i].imag() << "): " << g << " against " << w;
            } else {
                EXPECT_LE(std::fabs(LD(g) - w), 5 * unit) << "(" << z[i].real() << ", " << z[i].imag() << ")";
            }
        }
    }
}

TEST(ComplexBlocks, MeetTheCLibraryAtEveryBoundary)
{
    const auto exp = [](std::complex<LD> z) { return std::exp(z); };
    const auto ln = [](std::complex<LD> z) { return std::log(z); };
    const auto log10 = [](std::complex<LD> z) { return std::log10(z); };
    const auto sin = [](std::complex<LD> z) { return std::sin(z); };
    const auto cos = [](std::complex<LD> z) { return std::cos(z); };
    const auto sinh = [](std::complex<LD> z) { return std::sinh(z); };
    const auto cosh = [](std::complex<LD> z) { return std::cosh(z); };
    const auto tan = [](std::complex<LD> z) { return std::tan(z); };
    const auto tanh = [](std::complex<LD> z) { return std::tanh(z); };
    const auto atan = [](std::complex<LD> z) { return std::atan(z); };
    const auto asin = [](std::complex<LD> z) { return std::asin(z); };
    const auto acos = [](std::complex<LD> z) { return std::acos(z); };
    const auto acosh = [](std::complex<LD> z) { return std::acosh(z); };
    const auto asinh = [](std::complex<LD> z) { return std::asinh(z); };
    const auto atanh = [](std::complex<LD> z) { return std::atanh(z); };
    ExpectOracle<double, MKL_Complex16>(vzExp, exp);
    ExpectOracle<float, MKL_Complex8>(vcExp, exp);
    ExpectOracle<double, MKL_Complex16>(vzLn, ln);
    ExpectOracle<float, MKL_Complex8>(vcLn, ln);
    ExpectOracle<double, MKL_Complex16>(vzLog10, log10);
    ExpectOracle<float, MKL_Complex8>(vcLog10, log10);
    ExpectOracle<double, MKL_Complex16>(vzSin, sin);
    ExpectOracle<float, MKL_Complex8>(vcSin, sin);
    ExpectOracle<double, MKL_Complex16>(vzCos, cos);
    ExpectOracle<float, MKL_Complex8>(vcCos, cos);
    ExpectOracle<double, MKL_Complex16>(vzSinh, sinh);
    ExpectOracle<float, MKL_Complex8>(vcSinh, sinh);
    ExpectOracle<double, MKL_Complex16>(vzCosh, cosh);
    ExpectOracle<float, MKL_Complex8>(vcCosh, cosh);
    ExpectOracle<double, MKL_Complex16>(vzTan, tan);
    ExpectOracle<float, MKL_Complex8>(vcTan, tan);
    ExpectOracle<double, MKL_Complex16>(vzTanh, tanh);
    ExpectOracle<float, MKL_Complex8>(vcTanh, tanh);
    ExpectOracle<double, MKL_Complex16>(vzAtan, atan);
    ExpectOracle<float, MKL_Complex8>(vcAtan, atan);
    ExpectOracle<double, MKL_Complex16>(vzAsin, asin);
    ExpectOracle<float, MKL_Complex8>(vcAsin, asin);
    ExpectOracle<double, MKL_Complex16>(vzAcos, acos);
    ExpectOracle<float, MKL_Complex8>(vcAcos, acos);
    ExpectOracle<double, MKL_Complex16>(vzAcosh, acosh);
    ExpectOracle<float, MKL_Complex8>(vcAcosh, acosh);
    ExpectOracle<double, MKL_Complex16>(vzAsinh, asinh);
    ExpectOracle<float, MKL_Complex8>(vcAsinh, asinh);
    ExpectOracle<double, MKL_Complex16>(vzAtanh, atanh);
    ExpectOracle<float, MKL_Complex8>(vcAtanh, atanh);
}

}  // namespace
