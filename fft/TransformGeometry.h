// The geometry of a whole-image transform, in the DFTI layout.
//
// The transform runs over every dimension whose size exceeds 1, slowest
// first (so the x length comes last, as DFTI's row-major lengths expect);
// with no such dimension it is one-dimensional of length 1. Stride arrays
// are {offset, stride of length 1, ..., stride of length rank} in elements,
// taken from each view where it lies, so sub-areas are transformed in place
// with their parent's pitches.
#pragma once

#include <cstdint>

#include "ImageUtility.h"
#include "mkl_dfti.h"

namespace zep {

struct TransformAxes {
    int rank = 1;
    int dimensions[4] = {0, 0, 0, 0};  // the image dimension behind each length
    MKL_LONG lengths[4] = {1, 1, 1, 1};
};

using StrideArray = MKL_LONG[5];

template <class T>
TransformAxes AxesOf(const tarn::dm::image<T>& view)
{
    TransformAxes axes;
    int count = 0;
    for (int d = 3; d >= 0; --d) {
        if (view.size(d) > 1) {
            axes.dimensions[count] = d;
            axes.lengths[count] = view.size(d);
            ++count;
        }
    }
    axes.rank = count >= 2 ? count : 1;
    return axes;
}

// Strides of `view` along the transform's axes, counted in units of
// 1 / `unitsPerElement` element: 1 for elements themselves, 2 to count a
// complex image in reals (reading only the real parts).
template <class T>
void FillStrides(const tarn::dm::image<T>& view, const TransformAxes& axes, StrideArray& strides,
                 MKL_LONG unitsPerElement = 1)
{
    strides[0] = 0;
    for (int j = 0; j < 4; ++j) strides[j + 1] = 1;
    for (int j = 0; j < axes.rank; ++j) {
        const int d = axes.dimensions[j];
        strides[j + 1] = (d == 0 ? 1 : view.pitch(d)) * unitsPerElement;
    }
}

// The axes of a transform between a real image of `sizes` (x first) and its
// half-pure spectrum: every dimension above x whose size exceeds 1, slowest
// first, then x always, since x is the axis whose spectrum is halved (a
// 1 x H image keeps all H rows of its one-column spectrum).
inline TransformAxes RealAxesOf(const std::int32_t (&sizes)[4])
{
    TransformAxes axes;
    int count = 0;
    for (int d = 3; d >= 1; --d) {
        if (sizes[d] > 1) {
            axes.dimensions[count] = d;
            axes.lengths[count] = sizes[d];
            ++count;
        }
    }
    axes.dimensions[count] = 0;
    axes.lengths[count] = sizes[0];
    axes.rank = count + 1;
    return axes;
}

// Strides along the transform's axes of a dense block of `sizes`.
inline void FillDenseStrides(const std::int32_t (&sizes)[4], const TransformAxes& axes, StrideArray& strides)
{
    strides[0] = 0;
    for (int j = 0; j < 4; ++j) strides[j + 1] = 1;
    for (int j = 0; j < axes.rank; ++j) {
        MKL_LONG pitch = 1;
        for (int d = 0; d < axes.dimensions[j]; ++d) pitch *= sizes[d];
        strides[j + 1] = pitch;
    }
}

}  // namespace zep
