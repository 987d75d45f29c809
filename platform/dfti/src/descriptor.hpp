// The descriptor behind DFTI_DESCRIPTOR_HANDLE: the configuration as set by
// DftiCreateDescriptor / DftiSetValue, and what DftiCommitDescriptor derived
// from it (the geometry of each direction, the thread count).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "mkl_dfti.h"
#include "shape.hpp"

namespace lumadex::dfti {

using Strides = std::array<int64_t, max_rank + 1>;  // {offset, s1, ..., s_rank}

// One direction of a committed descriptor.
struct Direction {
    Shape shape;
    int64_t in_offset = 0;
    int64_t out_offset = 0;
    double scale = 1.0;
};

}  // namespace lumadex::dfti

struct DFTI_DESCRIPTOR {
    // As configured.
    lumadex::dfti::Precision precision = lumadex::dfti::Precision::double_;
    bool real_domain = false;
    int rank = 1;
    std::array<int64_t, lumadex::dfti::max_rank> lengths{};
    double forward_scale = 1.0;
    double backward_scale = 1.0;
    int64_t count = 1;
    std::optional<int64_t> input_distance, output_distance;
    std::optional<lumadex::dfti::Strides> input_strides, output_strides;
    bool in_place = true;
    int64_t thread_limit = 0;  // the most threads a compute call uses; 0: no limit

    // As committed.
    bool committed = false;
    int threads = 1;
    lumadex::dfti::Direction forward, backward;
};
