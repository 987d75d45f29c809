// Complex Atanh runs a formula of its own where the squares of the parts
// stay normal and finite, and the C library's catanh elsewhere: arguments on
// both sides of each boundary, against catanhl, within 5 ulps of the larger
// part (the bound the C library's functions meet) and with its special
// values exactly.
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

template <class T, class C, class F>
void ExpectCatanh(F atanh)
{
    const std::vector<std::complex<T>> z = EdgeArguments<T>();
    std::vector<std::complex<T>> got(z.size());
    atanh(static_cast<MKL_INT>(z.size()), reinterpret_cast<const C*>(z.data()), reinterpret_cast<C*>(got.data()));
    for (std::size_t i = 0; i < z.size(); ++i) {
        const std::complex<LD> want = std::atanh(std::complex<LD>(z[i]));
        const LD larger = std::max(std::fabs(want.real()), std::fabs(want.imag()));
        const LD unit = std::ldexp(LD(1), std::max(std::ilogb(T(larger)), std::numeric_limits<T>::min_exponent - 1) -
                                              (std::numeric_limits<T>::digits - 1));
        for (const auto& [g, w] : {std::pair{got[i].real(), want.real()}, std::pair{got[i].imag(), want.imag()}}) {
            if (std::isnan(w) || std::isinf(w) || w == 0) {
                const T rounded = T(w);
                EXPECT_TRUE((std::isnan(g) && std::isnan(rounded)) || (g == rounded && std::signbit(g) == std::signbit(rounded)))
                    << "atanh(" << z[i].real() << ", " << z[i].imag() << "): " << g << " against " << w;
            } else {
                EXPECT_LE(std::fabs(LD(g) - w), 5 * unit) << "atanh(" << z[i].real() << ", " << z[i].imag() << ")";
            }
        }
    }
}

TEST(ComplexAtanh, MeetsTheCLibraryAtEveryBoundary)
{
    ExpectCatanh<double, MKL_Complex16>(vzAtanh);
    ExpectCatanh<float, MKL_Complex8>(vcAtanh);
}

}  // namespace
