// The compute step of a committed descriptor.
#pragma once

#include "descriptor.hpp"
#include "status.hpp"

namespace lumadex::dfti {

// Runs the committed forward or backward transform of the descriptor from
// `in` to `out` (equal pointers for DFTI_INPLACE; `out` may be null only
// when the descriptor is in place). Nothing is written on failure. The
// descriptor is only read: threads may share a committed descriptor.
Status compute(const DFTI_DESCRIPTOR& descriptor, bool forward, void* in, void* out);

}  // namespace lumadex::dfti
