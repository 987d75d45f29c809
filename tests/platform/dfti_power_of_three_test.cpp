// Complex lines of length 3^k run on the layer's own kernel: the kernel on
// its own (every mix of its radix-9 and radix-3 stages, both signs, both
// precisions, partial groups, lines as neighbouring columns, scattered
// columns and rows, the values off the lines left alone), and whole
// transforms through the descriptor whose passes use it. The reference is
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
    for (long n : {27, 81, 243, 729, 2187, 59049}) EXPECT_TRUE(PowerOfThreeLines<float>::suits(n)) << n;
    for (long n : {1, 3, 9, 18, 54, 243 * 2, 1000, 625}) EXPECT_FALSE(PowerOfThreeLines<float>::suits(n)) << n;
}

// Lines of a buffer: line c's point i at at[c] + i * stride, arranged as
// neighbouring columns, every other column, or rows; transformed in place or
// into another buffer. Every other value stays as it was.
struct LinesCase {
    long n, count;
    int sign;
    bool in_place, single;
    enum Arrangement { columns, every_other_column, rows } arrangement;
};

void PrintTo(const LinesCase& c, std::ostream* os) {
    *os << "n " << c.n << " count " << c.count << " sign " << c.sign << (c.in_place ? " in place" : "")
        << (c.single ? " float" : " double") << " arrangement " << c.arrangement;
}

template <typename R>
void check_lines(const LinesCase& c) {
    using C = std::complex<R>;
    std::vector<int64_t> at(static_cast<size_t>(c.count));
    int64_t stride = 1;
    for (long k = 0; k < c.count; ++k)
        at[k] = c.arrangement == LinesCase::rows ? 1 + k * (c.n + 2) : 1 + k * (c.arrangement == LinesCase::columns ? 1 : 2);
    if (c.arrangement != LinesCase::rows) stride = 2 * c.count + 3;
    const long size = at.back() + (c.n - 1) * stride + 2;
    const auto values = random_values(static_cast<size_t>(size), static_cast<unsigned>(c.n + c.count));
    std::vector<C> in(values.size()), out(values.size(), C(7, 7));
    for (size_t i = 0; i < values.size(); ++i) in[i] = C(R(values[i].real()), R(values[i].imag()));
    const std::vector<C> original = in;

    const PowerOfThreeLines<R> lines(c.n, c.sign);
    std::vector<R> x(static_cast<size_t>(lines.work_values())), y(x.size());
    std::vector<C>& target = c.in_place ? in : out;
    lines.transform(in.data(), at.data(), stride, target.data(), at.data(), stride, c.count, R(0.5), x.data(), y.data());

    if (!c.in_place) EXPECT_EQ(in, original);
    std::vector<bool> on_a_line(values.size(), false);
    for (long k = 0; k < c.count; ++k) {
        std::vector<dft_test::Complex> line(static_cast<size_t>(c.n));
        std::vector<C> got(line.size());
        for (long i = 0; i < c.n; ++i) {
            line[i] = dft_test::Complex(original[at[k] + i * stride]);
            got[i] = target[at[k] + i * stride];
            on_a_line[at[k] + i * stride] = true;
        }
        auto expected = dft_test::naive_dft(line, {c.n}, c.sign);
        for (auto& e : expected) e *= 0.5L;
        EXPECT_LE(relative_error(got, expected), c.single ? 2e-6L : 1e-14L) << "line " << k;
    }
    for (size_t i = 0; i < values.size(); ++i)
        if (!on_a_line[i]) ASSERT_EQ(target[i], c.in_place ? original[i] : C(7, 7)) << "value " << i << " off the lines";
}

class PowerOfThreeKernel : public testing::TestWithParam<LinesCase> {};

TEST_P(PowerOfThreeKernel, MatchesTheNaiveDft) {
    if (GetParam().single) check_lines<float>(GetParam());
    else check_lines<double>(GetParam());
}

using LC = LinesCase;
INSTANTIATE_TEST_SUITE_P(
    Lines, PowerOfThreeKernel,
    testing::Values(LC{27, 16, -1, false, true, LC::columns},           // radix 9, then 3
                    LC{81, 16, +1, true, true, LC::rows},               // radix 9 twice
                    LC{243, 5, -1, true, true, LC::every_other_column},  // a partial group
                    LC{729, 16, +1, false, true, LC::columns},          // radix 9 three times
                    LC{2187, 1, -1, false, true, LC::rows},             // one line
                    LC{243, 8, +1, true, false, LC::columns},           // doubles: 8 lanes
                    LC{729, 3, -1, false, false, LC::rows}),
    [](const testing::TestParamInfo<LinesCase>& info) {
        const LinesCase& c = info.param;
        return std::string(c.single ? "float" : "double") + "_n" + std::to_string(c.n) + "_count" +
               std::to_string(c.count) + "_arrangement" + std::to_string(c.arrangement);
    });

// A complex transform through the descriptor, in place in rows of `row`
// values (the last length and padding), against the naive DFT of the same
// values.
template <typename R>
void check_descriptor_transform(const std::vector<long>& lengths, long row, int sign) {
    using C = std::complex<R>;
    long total = 1;
    for (long n : lengths) total *= n;
    const long width = lengths.back(), rows = total / width;
    const auto values = random_values(static_cast<size_t>(total), static_cast<unsigned>(total));
    std::vector<C> data(static_cast<size_t>(rows * row), C(7, 7));
    for (long r = 0; r < rows; ++r)
        for (long i = 0; i < width; ++i) {
            const auto& v = values[r * width + i];
            data[r * row + i] = C(R(v.real()), R(v.imag()));
        }

    DFTI_DESCRIPTOR_HANDLE h = nullptr;
    std::vector<MKL_LONG> n(lengths.begin(), lengths.end());
    std::vector<MKL_LONG> strides(n.size() + 1, 0);
    for (size_t d = n.size(), step = 1; d > 0; --d) {
        strides[d] = static_cast<MKL_LONG>(step);
        step *= d == n.size() ? row : n[d - 1];
    }
    ASSERT_EQ(DftiCreateDescriptor(&h, sizeof(R) == 4 ? DFTI_SINGLE : DFTI_DOUBLE, DFTI_COMPLEX, static_cast<MKL_LONG>(n.size()), n.data()), 0);
    ASSERT_EQ(DftiSetValue(h, DFTI_INPUT_STRIDES, strides.data()), 0);
    ASSERT_EQ(DftiSetValue(h, DFTI_OUTPUT_STRIDES, strides.data()), 0);
    ASSERT_EQ(DftiCommitDescriptor(h), 0);
    ASSERT_EQ(sign < 0 ? DftiComputeForward(h, data.data()) : DftiComputeBackward(h, data.data()), 0);
    DftiFreeDescriptor(&h);

    std::vector<C> got(static_cast<size_t>(total));
    for (long r = 0; r < rows; ++r)
        for (long i = 0; i < row; ++i) {
            if (i < width) got[r * width + i] = data[r * row + i];
            else ASSERT_EQ(data[r * row + i], C(7, 7)) << "padding of row " << r;
        }
    EXPECT_LE(relative_error(got, dft_test::naive_dft(values, lengths, sign)), sizeof(R) == 4 ? 2e-6L : 1e-14L);
}

TEST(PowerOfThreeTransforms, ImagesWhoseColumnsOrRowsAre729Long) {
    check_descriptor_transform<float>({729, 40}, 40, -1);
    check_descriptor_transform<double>({40, 729}, 729, +1);
}

TEST(PowerOfThreeTransforms, AVolumeWithPaddedRows) {
    // Along the slowest axis the lines are the 20 x 30 positions of a frame:
    // blocks of 16 neighbouring columns that reach the padding continue in
    // the next row.
    check_descriptor_transform<float>({243, 20, 30}, 32, +1);
}

}  // namespace
