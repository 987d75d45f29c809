// The published DFTI functions over the descriptor, the plan cache and FFTW.
#include <fftw3.h>
#include <omp.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <utility>

#include "descriptor.hpp"
#include "mkl_dfti.h"
#include "status.hpp"
#include "compute.hpp"

namespace lumadex::dfti {
namespace {

constexpr int64_t max_length = int64_t{1} << 40;

// ---- Configuration ------------------------------------------------------

// Tight row-major strides {0, ...} of lengths n, with the last one halved
// (n / 2 + 1) on the complex side of a real transform.
Strides dense_strides(const DFTI_DESCRIPTOR& d, bool halved_last) {
    Strides s{};
    int64_t stride = 1;
    for (int i = d.rank - 1; i >= 0; --i) {
        s[i + 1] = stride;
        const int64_t n = (halved_last && i == d.rank - 1) ? d.lengths[i] / 2 + 1 : d.lengths[i];
        stride *= n;
    }
    return s;
}

bool equal_strides(const Strides& a, const Strides& b, int rank) {
    for (int i = 0; i <= rank; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// Input and output layout of one direction. For a real domain the forward
// input and the backward output are real, the other sides conjugate-even
// complex; DFTI_INPUT_* always describe the input of the call being made.
Status direction_from(const DFTI_DESCRIPTOR& d, bool forward, Direction& dir) {
    const bool in_halved = d.real_domain && !forward;
    const bool out_halved = d.real_domain && forward;

    Strides in = d.input_strides.value_or(dense_strides(d, in_halved));
    Strides out = d.output_strides.value_or(dense_strides(d, out_halved));
    int64_t in_distance = d.input_distance.value_or(0);
    int64_t out_distance = d.output_distance.value_or(0);
    if (d.in_place && !d.real_domain) {
        // One array: the output layout is the input layout.
        if (d.output_strides && !equal_strides(*d.output_strides, in, d.rank)) return in_place_layout_mismatch;
        if (d.output_distance && d.input_distance && *d.output_distance != *d.input_distance)
            return in_place_layout_mismatch;
        out = in;
        out_distance = in_distance;
    }
    if (d.count > 1) {
        const bool out_known = d.output_distance || (d.in_place && !d.real_domain);
        if (!d.input_distance || !out_known) return distance_missing;
    } else {
        in_distance = out_distance = 0;  // unused: keeps equal problems equal
    }

    Shape& s = dir.shape;
    s.precision = d.precision;
    s.kind = !d.real_domain ? Kind::complex_to_complex
                            : (forward ? Kind::real_to_complex : Kind::complex_to_real);
    s.sign = forward ? -1 : +1;
    s.rank = d.rank;
    for (int i = 0; i < d.rank; ++i) s.axes[i] = {d.lengths[i], in[i + 1], out[i + 1]};
    s.batch = {d.count, in_distance, out_distance};
    dir.in_offset = in[0];
    dir.out_offset = out[0];
    dir.scale = forward ? d.forward_scale : d.backward_scale;

    for (const Layout& l : {input_layout(s, dir.in_offset), output_layout(s, dir.out_offset)}) {
        if (!layout_addressable(l)) return size_too_large;
        for (int i = 0; i < l.rank; ++i)
            if (l.n[i] > 1 && l.stride[i] == 0) return zero_stride;
    }
    return ok;
}

Status commit(DFTI_DESCRIPTOR& d) {
    d.committed = false;
    Direction forward, backward;
    if (Status s = direction_from(d, true, forward); s != ok) return s;
    if (Status s = direction_from(d, false, backward); s != ok) return s;
    d.forward = std::move(forward);
    d.backward = std::move(backward);
    d.threads = std::max(1, omp_get_max_threads());
    if (d.thread_limit > 0) d.threads = static_cast<int>(std::min<int64_t>(d.threads, d.thread_limit));
    d.committed = true;
    return ok;
}

Status read_named_value(va_list ap, std::initializer_list<int> supported, std::initializer_list<int> known,
                        int& value) {
    value = va_arg(ap, int);
    for (int v : supported)
        if (v == value) return ok;
    for (int v : known)
        if (v == value) return unsupported_value;
    return bad_value;
}

Status set_value(DFTI_DESCRIPTOR& d, DFTI_CONFIG_PARAM param, va_list ap) {
    int named = 0;
    switch (param) {
        case DFTI_FORWARD_SCALE:
            d.forward_scale = va_arg(ap, double);
            return ok;
        case DFTI_BACKWARD_SCALE:
            d.backward_scale = va_arg(ap, double);
            return ok;
        case DFTI_PLACEMENT:
            if (Status s = read_named_value(ap, {DFTI_INPLACE, DFTI_NOT_INPLACE}, {}, named); s != ok) return s;
            d.in_place = named == DFTI_INPLACE;
            return ok;
        case DFTI_CONJUGATE_EVEN_STORAGE:
            return read_named_value(ap, {DFTI_COMPLEX_COMPLEX}, {DFTI_COMPLEX_REAL}, named);
        case DFTI_COMPLEX_STORAGE:
            return read_named_value(ap, {DFTI_COMPLEX_COMPLEX}, {DFTI_REAL_REAL}, named);
        case DFTI_REAL_STORAGE:
            return read_named_value(ap, {DFTI_REAL_REAL}, {DFTI_REAL_COMPLEX}, named);
        case DFTI_PACKED_FORMAT:
            return read_named_value(ap, {DFTI_CCE_FORMAT}, {DFTI_CCS_FORMAT, DFTI_PACK_FORMAT, DFTI_PERM_FORMAT},
                                    named);
        case DFTI_ORDERING:
            return read_named_value(ap, {DFTI_ORDERED}, {DFTI_BACKWARD_SCRAMBLED}, named);
        case DFTI_TRANSPOSE:
            return read_named_value(ap, {DFTI_NONE}, {DFTI_ALLOW}, named);
        case DFTI_WORKSPACE:
            return read_named_value(ap, {DFTI_ALLOW, DFTI_AVOID}, {DFTI_NONE}, named);
        case DFTI_DESTROY_INPUT:
            return read_named_value(ap, {DFTI_AVOID, DFTI_ALLOW}, {}, named);
        case DFTI_NUMBER_OF_TRANSFORMS: {
            const MKL_LONG n = va_arg(ap, MKL_LONG);
            if (n < 1) return count_below_one;
            if (n > max_length) return size_too_large;
            d.count = n;
            return ok;
        }
        case DFTI_INPUT_DISTANCE:
            d.input_distance = va_arg(ap, MKL_LONG);
            return ok;
        case DFTI_OUTPUT_DISTANCE:
            d.output_distance = va_arg(ap, MKL_LONG);
            return ok;
        case DFTI_THREAD_LIMIT: {
            const MKL_LONG limit = va_arg(ap, MKL_LONG);
            if (limit < 0) return bad_value;
            d.thread_limit = limit;
            return ok;
        }
        case DFTI_INPUT_STRIDES:
        case DFTI_OUTPUT_STRIDES: {
            const MKL_LONG* p = va_arg(ap, const MKL_LONG*);
            if (!p) return null_strides;
            Strides s{};
            for (int i = 0; i <= d.rank; ++i) s[i] = p[i];
            (param == DFTI_INPUT_STRIDES ? d.input_strides : d.output_strides) = s;
            return ok;
        }
        case DFTI_FORWARD_DOMAIN:
        case DFTI_DIMENSION:
        case DFTI_LENGTHS:
        case DFTI_PRECISION:
        case DFTI_COMMIT_STATUS:
        case DFTI_VERSION:
            return read_only_parameter;
        case DFTI_DESCRIPTOR_NAME:
        case DFTI_NUMBER_OF_USER_THREADS:
        case DFTI_FWD_DISTANCE:
        case DFTI_BWD_DISTANCE:
            return unsupported_parameter;
    }
    return unknown_parameter;
}

template <typename T>
Status put(va_list ap, T value) {
    T* p = va_arg(ap, T*);
    if (!p) return null_value_pointer;
    *p = value;
    return ok;
}

Status put_strides(va_list ap, const Strides& s, int rank) {
    MKL_LONG* p = va_arg(ap, MKL_LONG*);
    if (!p) return null_value_pointer;
    for (int i = 0; i <= rank; ++i) p[i] = s[i];
    return ok;
}

Status get_value(const DFTI_DESCRIPTOR& d, DFTI_CONFIG_PARAM param, va_list ap) {
    using V = DFTI_CONFIG_VALUE;
    switch (param) {
        case DFTI_FORWARD_DOMAIN: return put<V>(ap, d.real_domain ? DFTI_REAL : DFTI_COMPLEX);
        case DFTI_PRECISION: return put<V>(ap, d.precision == Precision::single ? DFTI_SINGLE : DFTI_DOUBLE);
        case DFTI_DIMENSION: return put<MKL_LONG>(ap, d.rank);
        case DFTI_LENGTHS: {
            MKL_LONG* p = va_arg(ap, MKL_LONG*);
            if (!p) return null_value_pointer;
            for (int i = 0; i < d.rank; ++i) p[i] = d.lengths[i];
            return ok;
        }
        case DFTI_FORWARD_SCALE:
        case DFTI_BACKWARD_SCALE: {
            const double s = param == DFTI_FORWARD_SCALE ? d.forward_scale : d.backward_scale;
            return d.precision == Precision::single ? put<float>(ap, static_cast<float>(s)) : put<double>(ap, s);
        }
        case DFTI_NUMBER_OF_TRANSFORMS: return put<MKL_LONG>(ap, d.count);
        case DFTI_INPUT_DISTANCE: return put<MKL_LONG>(ap, d.input_distance.value_or(0));
        case DFTI_OUTPUT_DISTANCE: return put<MKL_LONG>(ap, d.output_distance.value_or(0));
        case DFTI_THREAD_LIMIT: return put<MKL_LONG>(ap, d.thread_limit);
        case DFTI_INPUT_STRIDES:
            return put_strides(ap, d.input_strides.value_or(dense_strides(d, false)), d.rank);
        case DFTI_OUTPUT_STRIDES:
            return put_strides(ap, d.output_strides.value_or(dense_strides(d, d.real_domain)), d.rank);
        case DFTI_PLACEMENT: return put<V>(ap, d.in_place ? DFTI_INPLACE : DFTI_NOT_INPLACE);
        case DFTI_COMPLEX_STORAGE:
        case DFTI_CONJUGATE_EVEN_STORAGE: return put<V>(ap, DFTI_COMPLEX_COMPLEX);
        case DFTI_REAL_STORAGE: return put<V>(ap, DFTI_REAL_REAL);
        case DFTI_PACKED_FORMAT: return put<V>(ap, DFTI_CCE_FORMAT);
        case DFTI_ORDERING: return put<V>(ap, DFTI_ORDERED);
        case DFTI_TRANSPOSE: return put<V>(ap, DFTI_NONE);
        case DFTI_COMMIT_STATUS: return put<V>(ap, d.committed ? DFTI_COMMITTED : DFTI_UNCOMMITTED);
        case DFTI_VERSION: {
            char* p = va_arg(ap, char*);
            if (!p) return null_value_pointer;
            std::snprintf(p, DFTI_VERSION_LENGTH, "Lumadex DFTI layer over %s", fftw_version);
            return ok;
        }
        case DFTI_WORKSPACE:
        case DFTI_DESTROY_INPUT:
        case DFTI_DESCRIPTOR_NAME:
        case DFTI_NUMBER_OF_USER_THREADS:
        case DFTI_FWD_DISTANCE:
        case DFTI_BWD_DISTANCE:
            return unsupported_parameter;
    }
    return unknown_parameter;
}

Status create(DFTI_DESCRIPTOR_HANDLE* handle, DFTI_CONFIG_VALUE precision, DFTI_CONFIG_VALUE domain,
              MKL_LONG dimension, va_list ap) {
    if (precision != DFTI_SINGLE && precision != DFTI_DOUBLE) return bad_precision;
    if (domain != DFTI_COMPLEX && domain != DFTI_REAL) return bad_domain;
    if (dimension < 1 || dimension > max_rank) return rank_out_of_range;
    std::array<int64_t, max_rank> lengths{};
    if (dimension == 1) {
        lengths[0] = va_arg(ap, MKL_LONG);
    } else {
        const MKL_LONG* p = va_arg(ap, const MKL_LONG*);
        if (!p) return null_lengths;
        for (int i = 0; i < dimension; ++i) lengths[i] = p[i];
    }
    for (int i = 0; i < dimension; ++i) {
        if (lengths[i] < 1) return length_below_one;
        if (lengths[i] > max_length) return size_too_large;
    }
    auto* d = new (std::nothrow) DFTI_DESCRIPTOR;
    if (!d) return out_of_memory;
    d->precision = precision == DFTI_SINGLE ? Precision::single : Precision::double_;
    d->real_domain = domain == DFTI_REAL;
    d->rank = static_cast<int>(dimension);
    d->lengths = lengths;
    *handle = d;
    return ok;
}

}  // namespace
}  // namespace lumadex::dfti

using namespace lumadex::dfti;

extern "C" {

MKL_LONG DftiCreateDescriptor(DFTI_DESCRIPTOR_HANDLE* handle, enum DFTI_CONFIG_VALUE precision,
                              enum DFTI_CONFIG_VALUE domain, MKL_LONG dimension, ...) {
    if (!handle) return null_handle;
    *handle = nullptr;
    va_list ap;
    va_start(ap, dimension);
    const Status s = create(handle, precision, domain, dimension, ap);
    va_end(ap);
    return s;
}

MKL_LONG DftiSetValue(DFTI_DESCRIPTOR_HANDLE handle, enum DFTI_CONFIG_PARAM param, ...) {
    if (!handle) return null_handle;
    // Work on a copy so that a rejected value leaves the descriptor as it was.
    DFTI_DESCRIPTOR changed = *handle;
    va_list ap;
    va_start(ap, param);
    const Status s = set_value(changed, param, ap);
    va_end(ap);
    if (s != ok) return s;
    changed.committed = false;  // a changed descriptor must be committed again
    *handle = std::move(changed);
    return ok;
}

MKL_LONG DftiGetValue(DFTI_DESCRIPTOR_HANDLE handle, enum DFTI_CONFIG_PARAM param, ...) {
    if (!handle) return null_handle;
    va_list ap;
    va_start(ap, param);
    const Status s = get_value(*handle, param, ap);
    va_end(ap);
    return s;
}

MKL_LONG DftiCommitDescriptor(DFTI_DESCRIPTOR_HANDLE handle) {
    if (!handle) return null_handle;
    return commit(*handle);
}

MKL_LONG DftiComputeForward(DFTI_DESCRIPTOR_HANDLE handle, void* in, ...) {
    if (!handle) return null_handle;
    va_list ap;
    va_start(ap, in);
    void* out = handle->in_place ? in : va_arg(ap, void*);  // out of place: a second pointer
    va_end(ap);
    return compute(*handle, true, in, out);
}

MKL_LONG DftiComputeBackward(DFTI_DESCRIPTOR_HANDLE handle, void* in, ...) {
    if (!handle) return null_handle;
    va_list ap;
    va_start(ap, in);
    void* out = handle->in_place ? in : va_arg(ap, void*);
    va_end(ap);
    return compute(*handle, false, in, out);
}

MKL_LONG DftiFreeDescriptor(DFTI_DESCRIPTOR_HANDLE* handle) {
    if (!handle || !*handle) return null_handle;
    delete *handle;
    *handle = nullptr;
    return ok;
}

}  // extern "C"
