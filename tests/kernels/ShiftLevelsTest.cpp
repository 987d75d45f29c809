// The shift kernels run with feature words the test chooses, so that
// every instruction set this processor has runs: AVX-512, AVX2, SSE2 and the
// scalar forms must give the same bits, on buffers that end at the last
// pixel they may touch.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "FeatureLevels.h"
#include "lumadex/kernels/Shift.h"

namespace {

using lumadex::kernels::AxisShift;
using lumadex::kernels::Evaluation;

struct Case {
    int W, H, D, padY;
    AxisShift x, y, z;
    double sign;
    Evaluation evaluation;
};

template <class R>
std::vector<std::complex<R>> Run(const Case& c, const std::vector<std::complex<R>>& src, int level)
{
    lumadex::kernels::test::UseLevel(level);
    std::vector<std::complex<R>> dst(src.size());
    const std::int64_t strideY = c.W + c.padY, strideZ = strideY * c.H;
    const lumadex::kernels::Block<const std::complex<R>> in{src.data(), {c.W, c.H, c.D, 1}, {1, strideY, strideZ, 0}};
    const lumadex::kernels::Block<std::complex<R>> out{dst.data(), {c.W, c.H, c.D, 1}, {1, strideY, strideZ, 0}};
    const AxisShift axes[3] = {c.x, c.y, c.z};
    lumadex::kernels::ShiftBlock(in, out, axes, c.sign, c.evaluation);
    return dst;
}

template <class R>
void ExpectSameBitsOnEveryLevel(const Case& c)
{
    const std::size_t pixels = std::size_t(c.D - 1) * (c.W + c.padY) * c.H + std::size_t(c.H - 1) * (c.W + c.padY) + c.W;
    std::vector<std::complex<R>> src(pixels);
    for (std::size_t i = 0; i < pixels; ++i) src[i] = {R(std::sin(i * 0.37)), R(std::cos(i * 1.91))};
    const auto scalar = Run(c, src, 0);
    for (int level = 1; level <= 3; ++level)
        EXPECT_EQ(std::memcmp(Run(c, src, level).data(), scalar.data(), pixels * sizeof(scalar[0])), 0) << level;
}

TEST(ShiftKernelLevels, EveryInstructionSetGivesTheScalarBits)
{
    const Evaluation rows = Evaluation::Rows;
    std::vector<Case> cases;
    for (int W : {1, 3, 4, 7, 8, 9, 16, 17, 33, 67}) {
        cases.push_back({W, 3, 2, 0, {W, W, 0, 0.37, true}, {3, 3, 0, -1.6, true}, {2, 2, 0, 0.6, true}, 1.0, rows});
        cases.push_back({W, 3, 2, 5, {W, W + 1, 3, 0.37, false}, {3, 3, 1, 0.0, false}, {}, 0.5, rows});
        cases.push_back({W, 2, 3, 1, {W, W, 0, 0.0, true}, {2, 2, 0, 0.0, true}, {3, 3, 1, 0.4, false}, -1.0,
                         Evaluation::PlaneFactor});
    }
    for (int W : {2, 4, 8, 18, 34})
        cases.push_back({W, 4, 2, 3, {W, W, 0, W / 2.0, true}, {4, 4, 0, 2.0, true}, {2, 2, 0, 1.0, true}, 1.0, rows});
    cases.push_back({1, 40, 1, 0, {}, {40, 40, 0, 20.0, true}, {}, 1.0, rows});  // one contiguous column
    cases.push_back({1, 40, 1, 2, {}, {40, 40, 0, 20.0, true}, {}, 1.0, rows});  // one strided column
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "W " << c.W << " pad " << c.padY << " x shift " << c.x.shift);
        ExpectSameBitsOnEveryLevel<float>(c);
        ExpectSameBitsOnEveryLevel<double>(c);
    }
}

}  // namespace
