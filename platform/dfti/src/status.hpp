// Status codes of the descriptor layer.
//
// A status is  detail * 100 + class : the class is one of the published DFTI
// error classes (DFTI_INVALID_CONFIGURATION...), the detail picks the message,
// so DftiErrorClass works as callers expect and DftiErrorMessage can say
// exactly what is wrong.
#pragma once

#include "mkl_dfti.h"

namespace lumadex::dfti {

enum Status : MKL_LONG {
    ok = DFTI_NO_ERROR,

    out_of_memory = 100 + DFTI_MEMORY_ERROR,

    bad_precision = 100 + DFTI_INVALID_CONFIGURATION,
    bad_domain = 200 + DFTI_INVALID_CONFIGURATION,
    rank_out_of_range = 300 + DFTI_INVALID_CONFIGURATION,
    length_below_one = 400 + DFTI_INVALID_CONFIGURATION,
    null_lengths = 500 + DFTI_INVALID_CONFIGURATION,
    unknown_parameter = 600 + DFTI_INVALID_CONFIGURATION,
    bad_value = 700 + DFTI_INVALID_CONFIGURATION,
    read_only_parameter = 800 + DFTI_INVALID_CONFIGURATION,
    null_strides = 900 + DFTI_INVALID_CONFIGURATION,
    count_below_one = 1000 + DFTI_INVALID_CONFIGURATION,
    null_value_pointer = 1100 + DFTI_INVALID_CONFIGURATION,
    size_too_large = 1200 + DFTI_INVALID_CONFIGURATION,

    not_committed = 100 + DFTI_INCONSISTENT_CONFIGURATION,
    zero_stride = 200 + DFTI_INCONSISTENT_CONFIGURATION,
    distance_missing = 300 + DFTI_INCONSISTENT_CONFIGURATION,
    in_place_layout_mismatch = 400 + DFTI_INCONSISTENT_CONFIGURATION,
    output_overlaps_input = 500 + DFTI_INCONSISTENT_CONFIGURATION,
    null_data = 600 + DFTI_INCONSISTENT_CONFIGURATION,
    missing_output_pointer = 700 + DFTI_INCONSISTENT_CONFIGURATION,

    null_handle = 100 + DFTI_BAD_DESCRIPTOR,

    unsupported_parameter = 100 + DFTI_UNIMPLEMENTED,
    unsupported_value = 200 + DFTI_UNIMPLEMENTED,

    planner_failed = 100 + DFTI_MKL_INTERNAL_ERROR,
};

}  // namespace lumadex::dfti
