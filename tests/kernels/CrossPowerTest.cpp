// The masked cross power of single-precision spectra with the half
// normalisation has a vector form of its own (reciprocal square roots
// refined by Newton steps): at every instruction set it must give the
// scalar formula's values to single precision, over the whole range of
// magnitudes a float spectrum can hold, and zeros and NaN where it does.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include "FeatureLevels.h"
#include "lumadex/kernels/Registration.h"

namespace {

using Complex = std::complex<float>;
using lumadex::kernels::Block;
using lumadex::kernels::Normalization;

// Width 37: whole vectors and a tail.
constexpr std::int64_t kWidth = 37, kHeight = 5;

std::vector<Complex> CrossPower(const std::vector<Complex>& t, const std::vector<Complex>& r,
                                const std::vector<float>& w, int level)
{
    lumadex::kernels::test::UseLevel(level);
    std::vector<Complex> out(t.size());
    const auto block = [](auto* data) {
        return Block<std::remove_pointer_t<decltype(data)>>{data, {kWidth, kHeight, 1, 1}, {1, kWidth, 0, 0}};
    };
    lumadex::kernels::MaskedCrossPower<float>(block(t.data()), block(r.data()), block(w.data()), Normalization::Half,
                                              block(out.data()));
    return out;
}

// The formula itself, in long double.
Complex Expected(Complex t, Complex r, float w)
{
    const std::complex<long double> p = std::complex<long double>(t) * std::conj(std::complex<long double>(r));
    const long double a = std::abs(p);
    return a > 0 ? Complex(p * (static_cast<long double>(w) / std::sqrt(a))) : Complex(p * 0.0L);
}

TEST(CrossPower, HalfNormalisationMatchesTheFormulaAtEveryLevel)
{
    std::mt19937 random(3);
    std::uniform_real_distribution<float> unit(-1, 1), decades(-19, 19);
    const auto value = [&] { return unit(random) * std::pow(10.0f, decades(random)); };
    std::vector<Complex> t(kWidth * kHeight), r(t.size());
    std::vector<float> w(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) {
        t[i] = {value(), value()};
        r[i] = {value(), value()};
        w[i] = std::abs(unit(random));
    }
    t[3] = 0;                                           // no cross power
    r[40] = {0, 0};                                     // nor here
    t[41] = {std::numeric_limits<float>::max(), -std::numeric_limits<float>::max()};
    t[42] = {1e-45f, 0};                                // the smallest subnormal
    t[43] = {std::nanf(""), 1};                         // NaN stays NaN
    for (int level = 0; level <= 3; ++level) {
        const std::vector<Complex> out = CrossPower(t, r, w, level);
        for (std::size_t i = 0; i < t.size(); ++i) {
            const Complex want = Expected(t[i], r[i], w[i]);
            if (std::isnan(want.real())) {
                EXPECT_TRUE(std::isnan(out[i].real())) << "level " << level << " element " << i;
                continue;
            }
            EXPECT_LE(std::abs(out[i] - want), 4e-7f * std::abs(want) + 1e-38f)
                << "level " << level << " element " << i << ": " << out[i] << " against " << want;
        }
    }
}

}  // namespace
