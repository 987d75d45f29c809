#include "status.hpp"

namespace lumadex::dfti {
namespace {

struct Message {
    MKL_LONG status;
    const char* text;
};

// Each text stays below DFTI_MAX_MESSAGE_LENGTH characters.
constexpr Message messages[] = {
    {ok, "DFTI: no error"},
    {out_of_memory, "DFTI error: out of memory"},
    {bad_precision, "DFTI error: precision must be DFTI_SINGLE or DFTI_DOUBLE"},
    {bad_domain, "DFTI error: forward domain must be DFTI_COMPLEX or DFTI_REAL"},
    {rank_out_of_range, "DFTI error: dimension (rank) must be 1 to 7"},
    {length_below_one, "DFTI error: a transform length is below 1"},
    {null_lengths, "DFTI error: the lengths pointer is null"},
    {unknown_parameter, "DFTI error: unknown configuration parameter"},
    {bad_value, "DFTI error: invalid value for this configuration parameter"},
    {read_only_parameter, "DFTI error: this parameter cannot be set after creation"},
    {null_strides, "DFTI error: the strides pointer is null"},
    {count_below_one, "DFTI error: the number of transforms is below 1"},
    {null_value_pointer, "DFTI error: the value pointer is null"},
    {size_too_large, "DFTI error: lengths, strides or distances reach too far"},
    {not_committed, "DFTI error: the descriptor is not committed"},
    {zero_stride, "DFTI error: a stride or distance is 0 where the length is above 1"},
    {distance_missing, "DFTI error: several transforms need input and output distances"},
    {in_place_layout_mismatch, "DFTI error: in place needs equal input and output layouts"},
    {output_overlaps_input, "DFTI error: out-of-place output overlaps its input"},
    {null_data, "DFTI error: a data pointer is null"},
    {missing_output_pointer, "DFTI error: out-of-place compute needs an output pointer"},
    {null_handle, "DFTI error: the descriptor handle is null"},
    {unsupported_parameter, "DFTI error: this configuration parameter is not supported"},
    {unsupported_value, "DFTI error: this configuration value is not supported"},
    {planner_failed, "DFTI error: the FFT engine could not plan this transform"},
};

// Texts for bare class codes, as other DFTI implementations return them.
constexpr Message class_messages[] = {
    {DFTI_MEMORY_ERROR, "DFTI error: out of memory"},
    {DFTI_INVALID_CONFIGURATION, "DFTI error: invalid configuration"},
    {DFTI_INCONSISTENT_CONFIGURATION, "DFTI error: inconsistent configuration"},
    {DFTI_MULTITHREADED_ERROR, "DFTI error: multithreading failure"},
    {DFTI_BAD_DESCRIPTOR, "DFTI error: bad descriptor"},
    {DFTI_UNIMPLEMENTED, "DFTI error: not implemented"},
    {DFTI_MKL_INTERNAL_ERROR, "DFTI error: internal error"},
    {DFTI_NUMBER_OF_THREADS_ERROR, "DFTI error: bad number of threads"},
    {DFTI_1D_LENGTH_EXCEEDS_INT32, "DFTI error: length exceeds 32 bits"},
};

}  // namespace
}  // namespace lumadex::dfti

using namespace lumadex::dfti;

extern "C" char* DftiErrorMessage(MKL_LONG status) {
    for (const Message& m : messages)
        if (m.status == status) return const_cast<char*>(m.text);
    for (const Message& m : class_messages)
        if (m.status == status) return const_cast<char*>(m.text);
    return const_cast<char*>("DFTI error: unknown status");
}

extern "C" MKL_LONG DftiErrorClass(MKL_LONG status, MKL_LONG error_class) {
    if (status < 0 || error_class < 0) return 0;
    if (error_class == DFTI_NO_ERROR) return status == DFTI_NO_ERROR;
    return status % 100 == error_class;
}
