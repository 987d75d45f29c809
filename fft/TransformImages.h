// Small pieces the frames of the real-image spectra share: the sizes of a
// host image, and new real or complex images of given sizes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "HostImageFunctions.h"
#include "HostObjects.h"

namespace zep {

struct Extent {
    std::int32_t size[4] = {1, 1, 1, 1};  // x, y, z and a fourth dimension
    std::int32_t operator[](int d) const { return size[d]; }
};

inline Extent ExtentOf(const Gatan::DM::Image& image)
{
    Extent extent;
    Gatan::DM::GetSize(image, &extent.size[0], &extent.size[1]);
    const std::uint32_t dims = Gatan::DM::ImageGetNumDimensions(image);
    for (std::uint32_t d = 2; d < std::min<std::uint32_t>(dims, 4); ++d)
        extent.size[d] = static_cast<std::int32_t>(Gatan::DM::ImageGetDimensionSize(image, d));
    return extent;
}

// True for the double-precision types (Real 8, Complex 16).
inline bool IsDouble(const Gatan::DM::Image& image)
{
    return Gatan::DM::IsRealDataType(image, 8) || Gatan::DM::IsComplexDataType(image, 16);
}

// The width of the real line behind W/2+1 stored coefficients: 2 (W/2+1) - 2,
// or 1 for a single coefficient (a line of one pixel).
inline std::int32_t RealLengthOf(std::int32_t halfLength) { return std::max(1, 2 * halfLength - 2); }

// A new image, one-dimensional when height and depth are 1, two-dimensional
// when the depth is 1, three-dimensional otherwise.
inline Gatan::DM::Image NewComplexImage(std::string_view name, std::int32_t bytes, std::int32_t width,
                                        std::int32_t height, std::int32_t depth)
{
    if (depth > 1) return Gatan::DM::ComplexImage(name, bytes, width, height, depth);
    if (height > 1) return Gatan::DM::ComplexImage(name, bytes, width, height);
    return Gatan::DM::ComplexImage(name, bytes, width);
}

inline Gatan::DM::Image NewRealImage(std::string_view name, std::int32_t bytes, std::int32_t width,
                                     std::int32_t height, std::int32_t depth)
{
    const auto b = static_cast<std::uint32_t>(bytes);
    const auto w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(height);
    if (depth > 1) return Gatan::DM::RealImage(name, b, w, h, static_cast<std::uint32_t>(depth));
    if (height > 1) return Gatan::DM::RealImage(name, b, w, h);
    return Gatan::DM::RealImage(name, b, w);
}

}  // namespace zep
