// Phase correlation of real images on their half spectra: the kernels of
// image registration.
//
// The spectra are half-pure (the real transform's layout): for a real image
// of W x H x D pixels, (W/2+1) x H x D complex values, the zero frequency at
// index 0 and the negative frequencies of y and z in the upper half. The
// correlation is the real image of the same W x H x D; the displacement
// between two images is the position of its peak, index 0 being none.
//
//   cross(k) = weight(k) P(k) n(|P(k)|),  P = T conj(R)
//   weight(k) = exp(-(|s|^2 / radius^2)^2),  s = k / N per axis (cycles per pixel);
//               1 when radius is 0; 0 at the zero frequency
//   n(a) = 1, 1/sqrt(a) or 1/a (plain, half or phase normalisation); 0 where a = 0
//
// With T the spectrum of t(x) = r(x - d), the inverse transform of the cross
// power spectrum peaks at d (modulo the sizes).
#pragma once

#include <array>
#include <complex>
#include <cstdint>

#include "lumadex/kernels/Block.h"

namespace lumadex::kernels {

enum class Normalization { Plain = 1, Half = 2, Phase = 3 };

// The mask's weights for the half spectrum of a real image of `size` (x
// first), into `weights` of (W/2+1) x H x D.
void CorrelationWeights(const std::int64_t (&size)[4], double radius, const Block<float>& weights);

// cross = weights * P * n(|P|), element by element over blocks of one shape;
// `cross` may be the memory of `target`.
template <class T>
void MaskedCrossPower(const Block<const std::complex<T>>& target, const Block<const std::complex<T>>& reference,
                      const Block<const float>& weights, Normalization normalization,
                      const Block<std::complex<T>>& cross);

// The displacement at the highest value of a correlation (the first in scan
// order among equals), per axis x first, refined per axis by the vertex of
// the parabola through the peak and its two neighbours (cyclically), by at
// most half a pixel; each in [-N/2, N - N/2).
template <class T>
std::array<double, 3> CorrelationPeak(const Block<const T>& correlation);

// Moves the real image behind a half spectrum (of a real image of `size`)
// by `shift` pixels per axis, x first: the shift theorem's ramp, and on the
// Nyquist plane of an even axis, where the waves running either way are one
// value, their mean (a factor cos(pi shift) there): the real part of the
// shifted complex image, as shifting the full spectrum would give it.
template <class T>
void ShiftHalfSpectrum(const Block<std::complex<T>>& spectrum, const std::int64_t (&size)[4],
                       const double (&shift)[3]);

// sum += spectrum, element by element over blocks of one shape, in double:
// by the transform's linearity, the inverse transform of the running sum of
// shifted spectra is the sum of the shifted images, one transform for a
// whole series.
void AddSpectrum(const Block<const std::complex<float>>& spectrum, const Block<std::complex<double>>& sum);

}  // namespace lumadex::kernels
