// The warps on edge geometries, for the sanitizers: one-pixel axes, sub-areas,
// destinations of other sizes, in place, positions far outside or not finite,
// on the vectorised and the baseline rows. Every pixel read or written must
// lie inside its image, and every call give back its references.
#include <cmath>
#include <limits>

#include "PluginTestSupport.h"

namespace lumadex::test {
namespace {

Image Filled(host::Host& h, DataType type, std::vector<std::int64_t> sizes)
{
    Image image = h.new_image("edge", type, sizes);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(image.element_count()) * image.element_size());
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 37 % 61);  // finite
    image.write_pixels(bytes.data(), bytes.size());
    return image;
}

Image Coefficients(host::Host& h, std::vector<double> values, std::vector<std::int64_t> sizes)
{
    Image image = h.new_image("coefs", DataType::Real8, sizes);
    image.write_pixels(values.data(), values.size() * sizeof(double));
    return image;
}

TEST(WarpBounds, EdgeGeometriesStayInside)
{
    host::Host h;
    h.load_plugin(ZEP32_PATH);
    const std::int64_t baseline = h.live_objects().total;
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const std::vector<std::vector<std::int64_t>> shapes = {{1}, {2}, {1, 9}, {9, 1}, {3, 1, 4}, {17, 2}, {2, 17, 3},
                                                           {33, 5}};
    for (std::int64_t simd : {1, 0}) {
        Call(h, "ZEPSetUseSIMD", {Arg(simd)});
        for (const auto& shape : shapes) {
            for (DataType type : {DataType::Real4, DataType::Complex8, DataType::Complex16}) {
                Image src = Filled(h, type, shape);
                for (const char* f : {"ZEPLinearWarpX", "ZEPLinearWarpY", "ZEPLinearWarpZ"})
                    for (double coef : {0.3, 2.7})
                        for (double offset : {-5.5, 1e30}) {
                            Call(h, f, {Arg(src), Arg(coef), Arg(offset), Null()});
                            Call(h, f, {Arg(src), Arg(coef), Arg(offset), Arg(src)});  // in place
                        }
                for (const char* f : {"ZEPLinearWarpXY", "ZEPLinearWarp"}) {
                    Image coefs = Coefficients(h, {1e-300, 1.5, 3.0}, {3});
                    Call(h, f, {Arg(src), Arg(coefs), Arg(0.25), Arg(Filled(h, type, {4, 3, src.size(2)}))});
                    Call(h, f, {Arg(src), Arg(Coefficients(h, {0.4, 2.5, 1.7}, {3})), Arg(src)});
                }
            }
            for (DataType type : {DataType::Real4, DataType::Real8}) {
                Image src = Filled(h, type, shape);
                for (const std::vector<double>& c : std::vector<std::vector<double>>{
                         {nan, 0, 0, 0, 1, 0}, {1, 0, inf, 0, 1, 0}, {1e30, 0, 0, 0, -1e30, 0},
                         {0.99, -0.12, 3.5, 0.12, 0.99, -2.5}, {1, 0, 0, 0, 1, 0}}) {
                    Image coefs = Coefficients(h, c, {3, 2});
                    Call(h, "ZEPAffineWarp", {Arg(src), Arg(coefs), Arg(Filled(h, type, {37, 5})), Arg(std::int64_t{7})});
                    Call(h, "ZEPAffineWarp", {Arg(src), Arg(coefs), Arg(src), Arg(std::int64_t{-2})});
                }
            }
        }
        // Sub-areas of one image, overlapping, as source and destination.
        Image parent = Filled(h, DataType::Real4, {40, 12});
        const std::int64_t a0[] = {1, 2}, a1[] = {30, 9}, b0[] = {5, 0}, b1[] = {39, 7};
        Image a = parent.subarea(a0, a1), b = parent.subarea(b0, b1);
        Call(h, "ZEPLinearWarpX", {Arg(a), Arg(1.3), Arg(b)});
        Call(h, "ZEPAffineWarp", {Arg(a), Arg(Coefficients(h, {0.9, 0.1, 0.5, -0.1, 0.9, 1.5}, {3, 2})), Arg(b),
                                  Arg(std::int64_t{0})});
    }
    EXPECT_EQ(CallError(h, "ZEPLinearWarpY", {Arg(Filled(h, DataType::Real4, {5, 4})), Arg(2.0),
                                              Arg(Filled(h, DataType::Real4, {4, 8}))}),
              "Images of different size cannot appear in this function.");
    EXPECT_EQ(h.live_objects().total, baseline);
}

}  // namespace
}  // namespace lumadex::test
