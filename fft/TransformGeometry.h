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

}  // namespace zep
