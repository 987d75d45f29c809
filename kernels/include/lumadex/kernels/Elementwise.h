// Element-wise mathematics on strided blocks: the vector-math routines
// (mkl_vml.h) applied to every element of a block, or to every pair of
// corresponding elements of two blocks, written to a destination block.
//
// The blocks are visited in step in scan order (x fastest; the x stride of
// every block is 1); element i of one block is paired with element i of the
// others whatever their shapes.
// The element count is that of the first source; a block holding fewer is
// refused (Refusal, Reason::TooFewElements) before anything is written.
// Dense blocks go to a routine as one run each (the routine splits a long
// run over the threads itself); a block that is not dense is visited row by
// row, and a long walk is split over the OpenMP threads here
// (kElementwiseParallelPixels), the workers rounding as the calling thread
// does. A source sharing memory with a destination without being the same
// elements is first copied, so that no element is read after it was
// written. The routines count in 32 bits: a run holds at most 2^30 elements.
//
// Pixel types: float, double, std::complex<float> and std::complex<double>;
// the routines take the layer's element types (MKL_Complex8 and
// MKL_Complex16 for the complex ones).
#pragma once

#include <complex>

#include "lumadex/kernels/Block.h"
#include "mkl_vml.h"

namespace lumadex::kernels {

template <class T>
struct VmlElementOf {
    using type = T;
};
template <>
struct VmlElementOf<std::complex<float>> {
    using type = MKL_Complex8;
};
template <>
struct VmlElementOf<std::complex<double>> {
    using type = MKL_Complex16;
};
// The routines' element type for a pixel type.
template <class T>
using VmlElement = typename VmlElementOf<T>::type;

template <class T>
using UnaryRoutine = void (*)(MKL_INT, const VmlElement<T>*, VmlElement<T>*);
template <class T>
using BinaryRoutine = void (*)(MKL_INT, const VmlElement<T>*, const VmlElement<T>*, VmlElement<T>*);

// dst = routine(src), element by element.
template <class T>
void Map(UnaryRoutine<T> routine, const Block<const T>& src, const Block<T>& dst);

// dst = routine(a, b), element by element.
template <class T>
void Map(BinaryRoutine<T> routine, const Block<const T>& a, const Block<const T>& b, const Block<T>& dst);

// The operations outside the tables of routines (R float or double).

// dst = |src| of complex pixels.
template <class R>
void ComplexAbs(const Block<const std::complex<R>>& src, const Block<R>& dst);
// dst = cos(src) + i sin(src).
template <class R>
void CIS(const Block<const R>& src, const Block<std::complex<R>>& dst);
// dst = a^b for one exponent b.
template <class R>
void Powx(const Block<const R>& a, R b, const Block<R>& dst);
// sin(src) to `sin`, cos(src) to `cos`.
template <class R>
void SinCos(const Block<const R>& src, const Block<R>& sin, const Block<R>& cos);
// The integral part (toward zero) to `val`, the fractional part to `rem`.
template <class R>
void Modf(const Block<const R>& src, const Block<R>& val, const Block<R>& rem);

}  // namespace lumadex::kernels
