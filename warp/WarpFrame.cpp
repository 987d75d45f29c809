#include "WarpFrame.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "Messages.h"

namespace zep::warp {
namespace {

constexpr std::int64_t kMaxSize = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kMaxImageBytes = std::int64_t{1} << 40;

}  // namespace

Sizes SizesOf(const Gatan::DM::Image& image)
{
    const std::uint32_t dims = Gatan::DM::ImageGetNumDimensions(image);
    Sizes sizes{1, 1, 1};
    for (std::uint32_t d = 0; d < dims && d < 3; ++d) sizes[d] = Gatan::DM::ImageGetDimensionSize(image, d);
    return sizes;
}

void CheckDestinationType(const Gatan::DM::Image& source, const Gatan::DM::Image& destination)
{
    if (Gatan::DM::ImageGetDataType(destination) != Gatan::DM::ImageGetDataType(source))
        throw std::runtime_error(message::kDifferentTypes);
}

std::int64_t ScaledSize(std::int64_t size, double factor)
{
    const double scaled = std::ceil(static_cast<double>(size) * factor);
    if (!(scaled <= static_cast<double>(kMaxSize))) throw std::runtime_error(message::kWarpTooLarge);
    return std::max<std::int64_t>(static_cast<std::int64_t>(scaled), 1);
}

Gatan::DM::Image CreateDestination(const Gatan::DM::Image& source, const std::string& prefix, const Sizes& sizes)
{
    std::uint32_t dims = std::min<std::uint32_t>(Gatan::DM::ImageGetNumDimensions(source), 3);
    for (std::uint32_t d = 0; d < 3; ++d)
        if (sizes[d] > 1) dims = std::max(dims, d + 1);
    dims = std::max<std::uint32_t>(dims, 1);

    // Every byte stride a lock reports travels in 32 bits; the pixels must
    // fit what the host allocates. Each size is below 2^31, so no product
    // below overflows before it is tested.
    std::int64_t bytes = Gatan::DM::ImageGetDataElementByteSize(source);
    for (std::uint32_t d = 0; d < 3; ++d) {
        if (d < dims && bytes > kMaxSize) throw std::runtime_error(message::kWarpTooLarge);
        if (bytes > kMaxImageBytes / sizes[d]) throw std::runtime_error(message::kWarpTooLarge);
        bytes *= sizes[d];
    }
    const std::uint32_t hostSizes[3] = {static_cast<std::uint32_t>(sizes[0]), static_cast<std::uint32_t>(sizes[1]),
                                        static_cast<std::uint32_t>(sizes[2])};
    return Gatan::DM::NewImage(prefix + Gatan::DM::GetName(source), Gatan::DM::ImageGetDataType(source), dims,
                               hostSizes);
}

}  // namespace zep::warp
