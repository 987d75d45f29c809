// The Fourier kernels alone: descriptor failures reach the caller with the
// library's own text, and transforms of volumes and their sub-areas along
// any axes (whose batches the descriptor cannot make one call of, so that
// their calls run side by side on the threads) match a naive DFT.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <ostream>
#include <random>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "lumadex/kernels/Fourier.h"
#include "mkl_dfti.h"

namespace {

using lumadex::kernels::Block;
using lumadex::kernels::Exponent;
using lumadex::kernels::FourierAxes;

TEST(FourierKernels, DescriptorFailuresCarryTheLibrarysText)
{
    std::complex<float> pixel{};
    const Block<std::complex<float>> empty{&pixel, {0, 1, 1, 1}, {1, 0, 0, 0}};
    try {
        lumadex::kernels::ComplexFourier<float>(empty, empty, {0}, lumadex::kernels::Exponent::Positive, 1.0f);
        FAIL() << "a length of 0 was accepted";
    } catch (const std::runtime_error& e) {
        const MKL_LONG zero = 0;
        DFTI_DESCRIPTOR_HANDLE handle = nullptr;
        const MKL_LONG status = DftiCreateDescriptor(&handle, DFTI_SINGLE, DFTI_COMPLEX, MKL_LONG{1}, zero);
        EXPECT_NE(status, 0);
        EXPECT_STREQ(e.what(), DftiErrorMessage(status));
    }
}

using Volume = std::vector<std::complex<double>>;

// The DFT along dimension d of a dense volume of `size`, term by term.
Volume NaiveDft(const Volume& in, const std::int64_t (&size)[3], int d, double sign)
{
    const std::int64_t n = size[d], step = d == 0 ? 1 : d == 1 ? size[0] : size[0] * size[1];
    Volume out(in.size());
    for (std::int64_t i = 0; i < static_cast<std::int64_t>(in.size()); ++i) {
        const std::int64_t k = i / step % n, first = i - k * step;
        std::complex<double> sum = 0;
        for (std::int64_t j = 0; j < n; ++j)
            sum += in[first + j * step] * std::polar(1.0, sign * 2 * std::numbers::pi * double(k * j % n) / double(n));
        out[i] = sum;
    }
    return out;
}

// Sub-areas of a parent volume, or the whole of one, transformed along
// `axes`, in place or into another volume: every element of the sub-area as
// the naive DFT has it, and nothing else changed. Large enough (2^17
// elements) for the calls to run side by side on two threads.
struct Case {
    const char* name;
    std::int64_t size[3];
    std::int64_t parent[3];
    std::int64_t origin[3];
    FourierAxes axes;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class VolumeTransforms : public testing::TestWithParam<std::tuple<Case, bool, bool>> {};

template <class T>
void CheckVolume(const Case& c, bool inPlace)
{
    using C = std::complex<T>;
    const std::int64_t parentCount = c.parent[0] * c.parent[1] * c.parent[2];
    std::vector<C> source(static_cast<std::size_t>(parentCount)), target(source.size());
    std::mt19937 random(7);
    std::normal_distribution<T> normal;
    for (C& v : source) v = C(normal(random), normal(random));
    for (C& v : target) v = C(normal(random), normal(random));
    const std::vector<C> sourceBefore = source, targetBefore = target;

    const std::int64_t stride[4] = {1, c.parent[0], c.parent[0] * c.parent[1], parentCount};
    const std::int64_t start = c.origin[0] + c.origin[1] * stride[1] + c.origin[2] * stride[2];
    auto block = [&](std::vector<C>& memory) {
        return Block<C>{memory.data() + start, {c.size[0], c.size[1], c.size[2], 1},
                        {stride[0], stride[1], stride[2], stride[3]}};
    };
    std::vector<C>& written = inPlace ? source : target;
    const int savedThreads = omp_get_max_threads();
    omp_set_num_threads(2);
    lumadex::kernels::ComplexFourier<T>(block(source), block(written), c.axes, Exponent::Negative, T(0.5));
    omp_set_num_threads(savedThreads);

    // The expected sub-area, dense.
    auto at = [&](std::int64_t x, std::int64_t y, std::int64_t z) {
        return start + x + y * stride[1] + z * stride[2];
    };
    Volume expected;
    for (std::int64_t z = 0; z < c.size[2]; ++z)
        for (std::int64_t y = 0; y < c.size[1]; ++y)
            for (std::int64_t x = 0; x < c.size[0]; ++x) expected.push_back(sourceBefore[at(x, y, z)]);
    const std::int64_t size[3] = {c.size[0], c.size[1], c.size[2]};
    for (int j = 0; j < c.axes.count; ++j) expected = NaiveDft(expected, size, c.axes.dims[j], -1.0);

    double largest = 0, worst = 0;
    std::vector<bool> inside(written.size());
    std::size_t i = 0;
    for (std::int64_t z = 0; z < c.size[2]; ++z)
        for (std::int64_t y = 0; y < c.size[1]; ++y)
            for (std::int64_t x = 0; x < c.size[0]; ++x, ++i) {
                const auto a = static_cast<std::size_t>(at(x, y, z));
                inside[a] = true;
                const std::complex<double> got(written[a].real(), written[a].imag());
                largest = std::max(largest, std::abs(expected[i]) * 0.5);
                worst = std::max(worst, std::abs(got - expected[i] * 0.5));
            }
    EXPECT_LE(worst, largest * (sizeof(T) == 4 ? 2e-6 : 1e-13));

    const std::vector<C>& writtenBefore = inPlace ? sourceBefore : targetBefore;
    std::size_t changedOutside = 0;
    for (std::size_t a = 0; a < written.size(); ++a) changedOutside += !inside[a] && written[a] != writtenBefore[a];
    EXPECT_EQ(changedOutside, 0u) << "elements outside the sub-area changed";
    if (!inPlace) {
        EXPECT_EQ(source, sourceBefore) << "the input changed";
    }
}

TEST_P(VolumeTransforms, MatchTheNaiveDft)
{
    const auto& [c, inPlace, single] = GetParam();
    if (single) CheckVolume<float>(c, inPlace);
    else CheckVolume<double>(c, inPlace);
}

const Case kCases[] = {
    {"y_of_a_volume", {64, 32, 64}, {64, 32, 64}, {0, 0, 0}, {1}},
    {"y_of_a_sub_area", {64, 32, 64}, {70, 40, 67}, {3, 5, 2}, {1}},
    {"x_of_a_sub_area", {32, 64, 64}, {40, 70, 67}, {5, 3, 2}, {0}},
    {"z_of_a_sub_area", {64, 64, 32}, {70, 67, 36}, {3, 2, 1}, {2}},
    {"yx_of_a_sub_area", {32, 32, 128}, {40, 36, 130}, {4, 1, 2}, {1, 0}},
};

INSTANTIATE_TEST_SUITE_P(FourierKernels, VolumeTransforms,
                         testing::Combine(testing::ValuesIn(kCases), testing::Bool(), testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_in_place" : "_out_of_place") +
                                    (std::get<2>(info.param) ? "_f32" : "_f64");
                         });

}  // namespace
