// Float lines of length 3^k run on the layer's own kernel: the kernel on
// its own (every mix of its radix-9 and radix-3 stages, both signs, partial
// groups of columns, padding left alone), and whole transforms through the
// descriptor whose passes use it, including a pass whose blocks continue
// into the next row of columns (FFTW's plan takes those). The reference is
// the naive DFT in long double.
#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "dft_oracle.hpp"
#include "mkl_dfti.h"
#include "power_of_three_lines.hpp"

namespace {

using lumadex::dfti::PowerOfThreeLines;
using cf = std::complex<float>;

std::vector<dft_test::Complex> random_values(size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> v(-1, 1);
    std::vector<dft_test::Complex> x(count);
    for (auto& z : x) z = {v(rng), v(rng)};
    return x;
}

// The largest difference over the largest value.
template <typename A, typename B>
long double relative_error(const std::vector<A>& got, const std::vector<B>& expected) {
    long double worst = 0, largest = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        const dft_test::Complex g(got[i].real(), got[i].imag()), e(expected[i].real(), expected[i].imag());
        worst = std::max(worst, std::abs(g - e));
        largest = std::max(largest, std::abs(e));
    }
    return worst / largest;
}

TEST(PowerOfThreeLines, SuitsPowersOfThreeFrom27) {
    for (long n : {27, 81, 243, 729, 2187, 59049}) EXPECT_TRUE(PowerOfThreeLines::suits(n)) << n;
    for (long n : {1, 3, 9, 18, 54, 243 * 2, 1000, 625}) EXPECT_FALSE(PowerOfThreeLines::suits(n)) << n;
}

// Columns of an image `width` wide with `pad` spare values per row: `count`
// of them transformed, in place or into another image; the spare values and
// the other columns stay as they were.
struct ColumnsCase {
    long n, count;
    int sign;
    bool in_place;
};

void PrintTo(const ColumnsCase& c, std::ostream* os) {
    *os << "n " << c.n << " count " << c.count << " sign " << c.sign << (c.in_place ? " in place" : "");
}

class PowerOfThreeColumns : public testing::TestWithParam<ColumnsCase> {};

TEST_P(PowerOfThreeColumns, MatchTheNaiveDft) {
    const ColumnsCase c = GetParam();
    const long width = c.count + 3, stride = width + 2, first = 1;  // columns [first, first + count)
    const auto values = random_values(static_cast<size_t>(c.n * stride), static_cast<unsigned>(c.n + c.count));
    std::vector<cf> in(values.size()), out(values.size(), cf(7, 7));
    for (size_t i = 0; i < values.size(); ++i) in[i] = cf(float(values[i].real()), float(values[i].imag()));
    const std::vector<cf> original = in;

    const PowerOfThreeLines lines(c.n, c.sign);
    std::vector<float> x(static_cast<size_t>(lines.work_floats())), y(x.size());
    std::vector<cf>& target = c.in_place ? in : out;
    lines.transform_columns(in.data() + first, stride, target.data() + first, stride, c.count, 0.5f, x.data(),
                            y.data());

    if (!c.in_place) EXPECT_EQ(in, original);
    for (long col = 0; col < stride; ++col) {
        std::vector<dft_test::Complex> line(static_cast<size_t>(c.n));
        for (long i = 0; i < c.n; ++i) line[i] = values[i * stride + col];
        std::vector<cf> got(static_cast<size_t>(c.n));
        for (long i = 0; i < c.n; ++i) got[i] = target[i * stride + col];
        if (col < first || col >= first + c.count) {
            for (long i = 0; i < c.n; ++i)
                ASSERT_EQ(got[i], c.in_place ? original[i * stride + col] : cf(7, 7)) << "column " << col;
            continue;
        }
        auto expected = dft_test::naive_dft(line, {c.n}, c.sign);
        for (auto& e : expected) e *= 0.5L;
        EXPECT_LE(relative_error(got, expected), 2e-6L) << "column " << col;
    }
}

INSTANTIATE_TEST_SUITE_P(Kernel, PowerOfThreeColumns,
                         testing::Values(ColumnsCase{27, 16, -1, false},   // radix 9, then 3
                                         ColumnsCase{81, 16, +1, true},    // radix 9 twice
                                         ColumnsCase{243, 5, -1, true},    // a partial group
                                         ColumnsCase{729, 16, +1, false},  // radix 9 three times
                                         ColumnsCase{2187, 1, -1, false}),
                         [](const testing::TestParamInfo<ColumnsCase>& info) {
                             return "n" + std::to_string(info.param.n) + "_count" + std::to_string(info.param.count);
                         });

// A complex float transform through the descriptor, in place in rows of
// `row` values (the last length and padding), against the naive DFT of the
// same values.
void check_descriptor_transform(const std::vector<long>& lengths, long row, int sign) {
    long total = 1;
    for (long n : lengths) total *= n;
    const long width = lengths.back(), rows = total / width;
    const auto values = random_values(static_cast<size_t>(total), static_cast<unsigned>(total));
    std::vector<cf> data(static_cast<size_t>(rows * row), cf(7, 7));
    for (long r = 0; r < rows; ++r)
        for (long i = 0; i < width; ++i) {
            const auto& v = values[r * width + i];
            data[r * row + i] = cf(float(v.real()), float(v.imag()));
        }

    DFTI_DESCRIPTOR_HANDLE h = nullptr;
    std::vector<MKL_LONG> n(lengths.begin(), lengths.end());
    std::vector<MKL_LONG> strides(n.size() + 1, 0);
    for (size_t d = n.size(), step = 1; d > 0; --d) {
        strides[d] = static_cast<MKL_LONG>(step);
        step *= d == n.size() ? row : n[d - 1];
    }
    ASSERT_EQ(DftiCreateDescriptor(&h, DFTI_SINGLE, DFTI_COMPLEX, static_cast<MKL_LONG>(n.size()), n.data()), 0);
    ASSERT_EQ(DftiSetValue(h, DFTI_INPUT_STRIDES, strides.data()), 0);
    ASSERT_EQ(DftiSetValue(h, DFTI_OUTPUT_STRIDES, strides.data()), 0);
    ASSERT_EQ(DftiCommitDescriptor(h), 0);
    ASSERT_EQ(sign < 0 ? DftiComputeForward(h, data.data()) : DftiComputeBackward(h, data.data()), 0);
    DftiFreeDescriptor(&h);

    std::vector<cf> got(static_cast<size_t>(total));
    for (long r = 0; r < rows; ++r)
        for (long i = 0; i < row; ++i) {
            if (i < width) got[r * width + i] = data[r * row + i];
            else ASSERT_EQ(data[r * row + i], cf(7, 7)) << "padding of row " << r;
        }
    EXPECT_LE(relative_error(got, dft_test::naive_dft(values, lengths, sign)), 2e-6L);
}

TEST(PowerOfThreeTransforms, AnImageWhoseColumnsAre729Long) { check_descriptor_transform({729, 40}, 40, -1); }

TEST(PowerOfThreeTransforms, AVolumeWithPaddedRows) {
    // Along the slowest axis the lines are the 20 x 30 positions of a frame:
    // blocks of 16 neighbouring columns that reach the padding continue in
    // the next row, and run on FFTW's plan.
    check_descriptor_transform({243, 20, 30}, 32, +1);
}

}  // namespace
