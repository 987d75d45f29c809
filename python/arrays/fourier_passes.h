// numpy arrays of any rank and strides as the Fourier kernels' blocks.
//
// A numpy array is a pointer, one size and one stride per dimension; the
// kernels take blocks of at most four dimensions and transform at most four
// axes at once. A transform here runs in passes of at most four axes; in each
// pass the dimensions it does not transform are batches: neighbours that
// tile each other on both sides are merged, the innermost ones that fit go
// into the block (the kernel hands them to one descriptor), and the rest are
// stepped through here, one kernel call per position.
//
// Axes are numpy dimension numbers, distinct. Strides are in elements of
// each side's own type and may be negative; a dimension of more than one
// position never has stride 0. The sign of the exponent and the scale are
// the kernels' (Exponent::Negative is numpy's forward transform); the
// scale is applied once, whatever the number of passes.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "lumadex/kernels/Fourier.h"

namespace lumadex::arrays {

// One side of a transform, in numpy's order of dimensions.
template <class E>
struct Strided {
    E* data = nullptr;
    std::vector<std::int64_t> size;
    std::vector<std::int64_t> stride;  // in elements
};

// out = scale * the DFT of `in` along `axes`, for every position along the
// other dimensions. `in` and `out` have one shape; they may be one array
// (same data and strides: the transform runs in place).
template <class T>
void ComplexTransform(const Strided<const std::complex<T>>& in, const Strided<std::complex<T>>& out,
                      const std::vector<int>& axes, kernels::Exponent exponent, T scale);

// The half spectrum of a real array: the last of `axes` is the halved one
// (out holds N / 2 + 1 positions there); the exponent is negative.
template <class T>
void RealForwardTransform(const Strided<const T>& in, const Strided<std::complex<T>>& out,
                          const std::vector<int>& axes, T scale);

// The real array of `out`'s shape whose half spectrum `in` is (the last of
// `axes` is the halved one); the exponent is positive. As scipy.fft does,
// the axes other than the halved one are transformed first, complex to
// complex, then the halved one, complex to real. `in` is never written.
template <class T>
void RealInverseTransform(const Strided<const std::complex<T>>& in, const Strided<T>& out,
                          const std::vector<int>& axes, T scale);

}  // namespace lumadex::arrays
