// The strided block: overlap of sub-areas, flattening and the row walk.
#include <gtest/gtest.h>

#include <complex>
#include <vector>

#include "lumadex/kernels/Block.h"

namespace {

using lumadex::kernels::Block;
using lumadex::kernels::Overlap;

// A w x h sub-area at (x, y) of a 16 x 8 image.
Block<float> Sub(std::vector<float>& image, std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h)
{
    return Block<float>{image.data() + y * 16 + x, {w, h, 1, 1}, {1, 16, 0, 0}};
}

TEST(Block, OverlapOfSubareas)
{
    std::vector<float> image(16 * 8);
    EXPECT_FALSE(Overlap(Sub(image, 0, 0, 4, 4), Sub(image, 0, 0, 8, 8)));  // same pointer: in place
    EXPECT_TRUE(Overlap(Sub(image, 0, 0, 4, 4), Sub(image, 3, 3, 4, 4)));
    EXPECT_FALSE(Overlap(Sub(image, 0, 0, 4, 4), Sub(image, 4, 0, 4, 4)));  // side by side, rows interleave
    EXPECT_FALSE(Overlap(Sub(image, 2, 0, 4, 2), Sub(image, 0, 2, 8, 2)));  // one above the other
    EXPECT_TRUE(Overlap(Sub(image, 12, 0, 4, 2), Sub(image, 14, 1, 2, 2)));
    // The real parts of a complex image against a sub-area of it.
    std::vector<std::complex<float>> complex(16 * 8);
    const Block<std::complex<float>> all{complex.data(), {16, 8, 1, 1}, {1, 16, 0, 0}};
    const Block<float> reals{reinterpret_cast<float*>(complex.data() + 20), {4, 4, 1, 1}, {2, 32, 0, 0}};
    EXPECT_TRUE(Overlap(all, reals));
    EXPECT_FALSE(Overlap(Block<float>{image.data(), {4, 1, 1, 1}, {1, 0, 0, 0}}, reals));
}

TEST(Block, FlattensADenseBlock)
{
    std::vector<int> pixels(6 * 4 * 3);
    const Block<int> dense{pixels.data(), {6, 4, 3, 1}, {1, 6, 24, 0}};
    ASSERT_TRUE(dense.dense());
    const Block<const int> flat = dense.Flattened();
    EXPECT_EQ(flat.size[0], 72);
    EXPECT_EQ(flat.rows(), 1);
    EXPECT_FALSE((Block<int>{pixels.data(), {5, 4, 3, 1}, {1, 6, 24, 0}}.dense()));
}

TEST(Block, WalksRowsYFastest)
{
    std::vector<int> pixels(8 * 5 * 2 * 2);
    const Block<int> block{pixels.data() + 1, {3, 2, 2, 2}, {1, 8, 40, 80}};
    EXPECT_EQ(block.count(), 24);
    ASSERT_EQ(block.rows(), 8);
    const std::int64_t expected[8] = {0, 8, 40, 48, 80, 88, 120, 128};
    for (std::int64_t r = 0; r < 8; ++r) {
        EXPECT_EQ(block.RowOffset(r), expected[r]);
        EXPECT_EQ(block.Row(r), pixels.data() + 1 + expected[r]);
    }
}

}  // namespace
