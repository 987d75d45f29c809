// The warp kernels on edge geometries, for the sanitizers: one-pixel axes,
// overlapping blocks of one buffer, destinations of other sizes, in place,
// positions far outside or not finite, on the AVX2 and the baseline rows.
// Every buffer ends at the last pixel its block spans, so every pixel read
// or written must lie inside its block.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <limits>
#include <vector>

#include "FeatureLevels.h"
#include "lumadex/kernels/Warp.h"

namespace {

using lumadex::kernels::Block;
using lumadex::kernels::kWarpX;
using lumadex::kernels::kWarpY;
using lumadex::kernels::kWarpZ;

using Sizes = std::vector<std::int64_t>;  // x, y, z

// Dense pixels of sizes x, y, z, filled with finite values.
template <class T>
struct Pixels {
    std::int64_t size[3];
    std::vector<T> data;

    explicit Pixels(const Sizes& sizes)
    {
        for (int d = 0; d < 3; ++d) size[d] = d < static_cast<int>(sizes.size()) ? sizes[d] : 1;
        data.resize(static_cast<std::size_t>(size[0] * size[1] * size[2]));
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = T(static_cast<float>(i * 37 % 61));
    }

    Block<T> block() { return {data.data(), {size[0], size[1], size[2], 1}, {1, size[0], size[0] * size[1], 0}}; }
};

// Sizes of a created destination: ceil(size * coef) along the warped axes.
Sizes Scaled(const std::int64_t (&size)[3], unsigned axes, double coef)
{
    Sizes scaled(size, size + 3);
    for (int a = 0; a < 3; ++a)
        if (axes & (1u << a)) scaled[a] = std::max<std::int64_t>(static_cast<std::int64_t>(std::ceil(size[a] * coef)), 1);
    return scaled;
}

template <class T>
void LinearWarps(const Sizes& shape)
{
    Pixels<T> src(shape);
    for (unsigned axes : {kWarpX, kWarpY, kWarpZ})
        for (double coef : {0.3, 2.7})
            for (float offset : {-5.5f, 1e30f}) {
                const double coefs[3] = {coef, coef, coef};
                Pixels<T> dst(Scaled(src.size, axes, coef));
                lumadex::kernels::LinearWarpBlock<T>(src.block(), dst.block(), axes, coefs, offset);
                // In place: the same pixels as into another buffer of the source's sizes.
                Pixels<T> separate(shape), inPlace(shape);
                lumadex::kernels::LinearWarpBlock<T>(src.block(), separate.block(), axes, coefs, offset);
                lumadex::kernels::LinearWarpBlock<T>(inPlace.block(), inPlace.block(), axes, coefs, offset);
                EXPECT_EQ(std::memcmp(separate.data.data(), inPlace.data.data(), sizeof(T) * inPlace.data.size()), 0);
            }
    const double tiny[3] = {1e-300, 1.5, 3.0}, mixed[3] = {0.4, 2.5, 1.7};
    for (unsigned axes : {kWarpX | kWarpY, 0u}) {
        Pixels<T> dst({4, 3, src.size[2]}), inPlace(shape);
        if (axes) {
            lumadex::kernels::LinearWarpBlock<T>(src.block(), dst.block(), axes, tiny, 0.25f);
            lumadex::kernels::LinearWarpBlock<T>(inPlace.block(), inPlace.block(), axes, mixed, 0.0f);
        } else {
            lumadex::kernels::LinearWarpEveryAxisBlock<T>(src.block(), dst.block(), tiny, 0.25f);
            lumadex::kernels::LinearWarpEveryAxisBlock<T>(inPlace.block(), inPlace.block(), mixed, 0.0f);
        }
    }
}

template <class T>
void AffineWarps(const Sizes& shape)
{
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const double coefficients[][6] = {{nan, 0, 0, 0, 1, 0},
                                      {1, 0, inf, 0, 1, 0},
                                      {1e30, 0, 0, 0, -1e30, 0},
                                      {0.99, -0.12, 3.5, 0.12, 0.99, -2.5},
                                      {1, 0, 0, 0, 1, 0}};
    for (const auto& c : coefficients) {
        const double a[3] = {c[0], c[1], c[2]}, b[3] = {c[3], c[4], c[5]};
        Pixels<T> src(shape), dst({37, 5});
        lumadex::kernels::AffineWarpBlock<T>(src.block(), dst.block(), a, b, T(7));
        lumadex::kernels::AffineWarpBlock<T>(src.block(), src.block(), a, b, T(-2));
    }
}

TEST(WarpBounds, EdgeGeometriesStayInside)
{
    const std::vector<Sizes> shapes = {{1}, {2}, {1, 9}, {9, 1}, {3, 1, 4}, {17, 2}, {2, 17, 3}, {33, 5}};
    for (int level : {2, 0}) {  // AVX2, then no vector instructions
        lumadex::kernels::test::UseLevel(level);
        for (const Sizes& shape : shapes) {
            LinearWarps<float>(shape);
            LinearWarps<std::complex<float>>(shape);
            LinearWarps<std::complex<double>>(shape);
            AffineWarps<float>(shape);
            AffineWarps<double>(shape);
        }
        // Overlapping boxes of one buffer of 40 x 12, as source and destination.
        Pixels<float> parent({40, 12});
        const Block<float> whole = parent.block();
        const Block<float> a{whole.data + 2 * 40 + 1, {29, 7, 1, 1}, {1, 40, 0, 0}};
        const Block<float> b{whole.data + 5, {34, 7, 1, 1}, {1, 40, 0, 0}};
        const double coefs[3] = {1.3, 1.3, 1.3};
        lumadex::kernels::LinearWarpBlock<float>(a, b, kWarpX, coefs, 0.0f);
        const double ra[3] = {0.9, 0.1, 0.5}, rb[3] = {-0.1, 0.9, 1.5};
        lumadex::kernels::AffineWarpBlock<float>(a, b, ra, rb, 0.0f);
    }
    lumadex::kernels::ReadProcessorFeatures();
}

}  // namespace
