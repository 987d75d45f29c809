// The XY pointer forms on buffers that end at the last pixel they may touch,
// with padded rows and planes, widths that leave vector tails, and single
// columns.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "ImageShifter.h"

namespace {

struct Layout {
    int W, H, D, strideY, strideZ;
    double shiftX, shiftY;  // periods W and H
};

template <class R>
void CheckLayout(const Layout& l)
{
    const std::size_t last = std::size_t(l.D - 1) * l.strideZ + std::size_t(l.H - 1) * l.strideY + l.W - 1;
    std::vector<std::complex<R>> src(last + 1);
    for (std::size_t i = 0; i < src.size(); ++i) src[i] = {R(std::sin(i * 0.7)), R(std::cos(i * 1.3))};
    std::vector<std::complex<R>> on(src.size());
    zep::PureImageShifterXY<R>(l.W, l.H, l.D, l.strideY, l.strideZ, src.data(), l.W, l.H, l.shiftX, l.shiftY, 1.0,
                               l.strideY, l.strideZ, on.data());
    const double tolerance = sizeof(R) == 4 ? 2e-6 : 1e-13;
    for (int z = 0; z < l.D; ++z)
        for (int y = 0; y < l.H; ++y)
            for (int x = 0; x < l.W; ++x) {
                const std::size_t i = std::size_t(z) * l.strideZ + std::size_t(y) * l.strideY + x;
                const double kx = x < l.W - l.W / 2 ? x : x - l.W, ky = y < l.H - l.H / 2 ? y : y - l.H;
                const double turns = kx * l.shiftX / l.W + ky * l.shiftY / l.H;
                const std::complex<double> want =
                    std::complex<double>(src[i]) * std::polar(1.0, 6.283185307179586 * turns);
                ASSERT_LT(std::abs(std::complex<double>(on[i]) - want), tolerance) << x << "," << y << "," << z;
            }
}

const Layout kLayouts[] = {
    {37, 5, 2, 41, 41 * 5 + 3, 0.37, -1.6},  // ramp, odd width, padded rows and planes
    {37, 5, 2, 37, 37 * 5, 0.0, 2.5},       // ramp along Y only
    {38, 6, 2, 40, 40 * 7, 19.0, 3.0},      // exact, both axes alternate
    {17, 4, 1, 17, 68, 0.0, 2.0},           // exact, rows alternate, odd width
    {1, 34, 1, 1, 34, 0.0, 17.0},           // a single contiguous column: alternation
    {1, 34, 1, 3, 102, 0.0, 17.0},          // a single strided column: alternation
    {1, 1, 1, 1, 1, 0.0, 0.0},
};

TEST(ShiftKernels, EveryLayoutStaysInsideItsPixels)
{
    for (const Layout& layout : kLayouts) {
        SCOPED_TRACE(layout.W * 1000 + layout.strideY);
        CheckLayout<float>(layout);
        CheckLayout<double>(layout);
    }
}

TEST(ShiftKernels, APeriodBelowOneOnAShiftedAxisIsRefused)
{
    std::vector<std::complex<float>> pixels(4, {1, 2});
    EXPECT_THROW(zep::PureImageShifterXY<float>(4, 1, 1, 4, 4, pixels.data(), 0, 1, 0.5, 0.0, 1.0, 4, 4,
                                                pixels.data()),
                 std::runtime_error);
    EXPECT_EQ(pixels[0], std::complex<float>(1, 2));
}

}  // namespace
