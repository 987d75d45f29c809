// The three storage layouts of the spectrum of a real image, the conversions
// between them, and the test for Hermitian symmetry: adapters over the
// layout kernels of lumadex/kernels/Fourier.h.
//
// F is the forward spectrum of a real W x H x D image in PureFFT's sign
// convention; F(-k) = conj(F(k)). With hw = W / 2, hh = H / 2, dh = D / 2:
//
//   half-pure  (W/2+1) x H x D   conj(F(c, r, p))          natural order, what a
//                                                         real transform stores
//   half       (W/2+1) x H       F(c, r - hh)              rows centred
//   full       W x H x D         F(c - hw, r - hh, p - dh) zero frequency at
//                                                         (hw, hh, dh), as FFT
//
// Rows are addressed through each view's own pitches, so a half-pure spectrum
// may sit in the first W/2+1 columns of a wider image. Every conversion works
// in place (source and destination the same view) and checks its sizes
// before it writes anything.
#pragma once

#include <complex>
#include <cstdint>

#include "Export.h"
#include "PureFFT.h"

namespace zep {

// Half-pure to half: Half[(r + hh) mod H][c] = conj(HalfPure[r][c]) over all
// the source's columns; at most two dimensions. A one-dimensional spectrum
// follows the same rule with its own height (a W x 1 line is only conjugated).
template <class T>
ZEP_EXPORT ComplexView<T>& HalfPureToHalf(const ComplexView<T>& src, ComplexView<T>& dst);

// The inverse: HalfPure[(r + H - hh) mod H][c] = conj(Half[r][c]).
template <class T>
ZEP_EXPORT ComplexView<T>& HalfToHalfPure(const ComplexView<T>& src, ComplexView<T>& dst);

// Half-pure to full, the full sizes being the destination's; at most three
// dimensions.
template <class T>
ZEP_EXPORT ComplexView<T>& HalfPureToFull(const ComplexView<T>& src, ComplexView<T>& dst);

// Full to half-pure, the full sizes being the source's; reads only the
// source's columns 0 ... W/2 (kx <= 0).
template <class T>
ZEP_EXPORT ComplexView<T>& FullToHalfPure(const ComplexView<T>& src, ComplexView<T>& dst);

// 1 when the full (centred) spectrum equals the conjugate of its point
// reflection (index i against (2 (N/2) - i) mod N along each axis) within
// 1e-5 of its largest component, allowing `allowance` pairs that do not;
// 0 otherwise, and for more than three dimensions.
template <class T>
ZEP_EXPORT float IsHermitian(const ComplexView<T>& spectrum, int allowance);

// Script functions "HalfToHalfPure", "HalfPureToHalf", "FullToHalfPure",
// "HalfPureToFull" (Complex 8 only) and "IsHermitian".
dm_object* HalfToHalfPureDM(dm_object* cimSrc, dm_object* cimDst);
dm_object* HalfPureToHalfDM(dm_object* cimSrc, dm_object* cimDst);
dm_object* FullToHalfPureDM(dm_object* cimSrc, dm_object* cimDst);
dm_object* HalfPureToFullDM(dm_object* cimSrc, dm_object* cimDst);
float IsHermitianDM(dm_object* imgSrc);

}  // namespace zep
