// Element-wise passes over strided layouts: the scale pass after a
// transform, and the copy that stages an input FFTW would otherwise destroy.
// Both run on `threads` OpenMP threads, row by row along the axis of
// smallest stride so that the inner loop is a plain (vectorisable) stride.
#pragma once

#include <cstddef>

#include "shape.hpp"

namespace lumadex::dfti {

// Multiplies every element of the layout at base by scale. An element has
// `components` reals (2 for complex) of the given precision.
void scale_elements(void* base, const Layout& layout, Precision precision, int components,
                    double scale, int threads);

// Copies the elements of src (layout `from`) into dst (layout `to`, same
// lengths); elements are element_bytes wide (4, 8 or 16).
void copy_elements(const void* src, const Layout& from, void* dst, const Layout& to,
                   size_t element_bytes, int threads);

}  // namespace lumadex::dfti
