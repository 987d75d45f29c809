// The centred complex transforms: zero frequency at index N / 2 (integer
// division) along every axis, as a spectrum is looked at.
//
//   FFT:  dst[k] = scale * sum_x src[x] * exp(+2 pi i sum_d (k_d - c_d) x_d / N_d),  c = N / 2
//   IFFT: the inverse of FFT, up to the two scales and the number of pixels.
//
// The centring is a phase ramp on the real-space side (the image shifter,
// an exact sign alternation for even sizes) combined with the pure
// transforms: the result is the pure spectrum cyclically shifted by c.
#pragma once

#include "PureFFT.h"

namespace zep {

template <class T>
ComplexView<T>& FFT(const ComplexView<T>& src, T scale, ComplexView<T>& dst);

template <class T>
ComplexView<T>& IFFT(const ComplexView<T>& src, T scale, ComplexView<T>& dst);

// Script functions "FFT(...)" and "IFFT(...)".
TransformHandler FFTDM, IFFTDM;

}  // namespace zep
