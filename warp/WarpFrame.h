// Frame pieces the warp handlers share: the host's sizes of an image, the
// type test of a given destination, and the creation of a destination whose
// sizes the warp computes.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "HostImageFunctions.h"

namespace zep::warp {

using Sizes = std::array<std::int64_t, 3>;  // x, y, z; 1 along axes the image lacks

Sizes SizesOf(const Gatan::DM::Image& image);

// message::kDifferentTypes unless a given destination has the source's type.
void CheckDestinationType(const Gatan::DM::Image& source, const Gatan::DM::Image& destination);

// ceil(size * factor), or message::kWarpTooLarge when the
// result exceeds a host image's size along one axis.
std::int64_t ScaledSize(std::int64_t size, double factor);

// A new image of the source's data type named `prefix` + the source's name,
// with as many dimensions as the source (or as needed for `sizes`, at most
// three). Refused with message::kWarpTooLarge before the host
// is asked when its planes could not be locked as one piece or its pixels
// would pass what a host image can hold.
Gatan::DM::Image CreateDestination(const Gatan::DM::Image& source, const std::string& prefix, const Sizes& sizes);

}  // namespace zep::warp
