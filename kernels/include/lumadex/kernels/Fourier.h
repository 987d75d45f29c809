// The Fourier kernels: complex, real and centred transforms of strided
// blocks, and the storage layouts of a real image's spectrum.
//
// One entry per transform kind takes its blocks, the axes it transforms,
// the direction (the sign of the exponent) and a scale used as given:
//
//   ComplexFourier   out[k] = scale * sum_n in[n] exp(+-2 pi i sum_a k_a n_a / N_a)
//                    along `axes`, once for every position along the others
//   RealForward      a real block to its half-pure spectrum along `axes`
//                    (exponent negative; the last axis is halved to N/2+1)
//   RealInverse      the real block rebuilt from its half-pure spectrum
//                    (exponent positive)
//   CentredComplex   every axis of size above 1 with the zero frequency at
//                    index N / 2: a phase ramp on the real-space side (the
//                    shift kernels) around ComplexFourier
//
// The transform's lengths are those of the complex input, or of the real
// side. Blocks keep their own strides, so sub-areas are transformed where
// they lie; a complex block transformed into itself (same data) runs in
// place. The work is done by DFTI descriptors (FFTW underneath): every
// descriptor failure throws std::runtime_error with the library's own text.
#pragma once

#include <complex>
#include <cstdint>
#include <initializer_list>

#include "lumadex/kernels/Block.h"

namespace lumadex::kernels {

// The sign of the exponent: DFTI's forward transform's is negative, its
// backward transform's positive.
enum class Exponent { Negative, Positive };

// Up to four dimension numbers (0 is x), slowest first.
struct FourierAxes {
    int count = 0;
    int dims[4] = {0, 0, 0, 0};

    FourierAxes() = default;
    FourierAxes(std::initializer_list<int> list)
    {
        for (const int d : list) dims[count++] = d;
    }
};

// Every dimension whose size exceeds 1, slowest first; x alone when none does.
FourierAxes EveryAxis(const std::int64_t (&size)[4]);

// The axes of a real transform of a block of `size`: every dimension above
// x whose size exceeds 1, slowest first, then x always (the halved axis).
FourierAxes RealAxes(const std::int64_t (&size)[4]);

template <class T>
void ComplexFourier(const Block<const std::complex<T>>& in, const Block<std::complex<T>>& out,
                    const FourierAxes& axes, Exponent exponent, T scale);

// `in` is real (it may be the real parts of a complex block: strides in
// reals); `out` holds at least N/2+1 positions along the last axis.
template <class T>
void RealForward(const Block<const T>& in, const Block<std::complex<T>>& out, const FourierAxes& axes, T scale);

template <class T>
void RealInverse(const Block<const std::complex<T>>& in, const Block<T>& out, const FourierAxes& axes, T scale);

// Exponent positive: out = ComplexFourier(ramp(in)); negative: the inverse,
// out = ramp(ComplexFourier(in)). `in` and `out` have one shape.
template <class T>
void CentredComplex(const Block<const std::complex<T>>& in, const Block<std::complex<T>>& out, Exponent exponent,
                    T scale);

// --- composite real transforms ---------------------------------------------------------------
//
// Half-pure forward from a real block (S = T), or from the real parts of a
// complex one (S = std::complex<T>), which may be the destination itself:
// then the pixels are read from a dense copy first.
template <class T, class S>
void HalfPureForward(const Block<const S>& in, const Block<std::complex<T>>& out, T scale);

// Half-pure inverse into a real block (or the real parts of a complex one,
// strides counted in reals) whose sizes are the real image's; when `out` is
// the spectrum's own memory the spectrum is copied first.
template <class T>
void HalfPureInverse(const Block<const std::complex<T>>& in, const Block<T>& out, T scale);

// Half layout (rows centred) forward and inverse, at most two dimensions.
template <class T>
void HalfForward(const Block<const T>& in, const Block<std::complex<T>>& out, T scale);
template <class T>
void HalfInverse(const Block<const std::complex<T>>& in, const Block<T>& out, T scale);

// Full layout forward and inverse (the real image's sizes), at most three
// dimensions.
template <class T>
void FullForward(const Block<const T>& in, const Block<std::complex<T>>& out, T scale);
template <class T>
void FullInverse(const Block<const std::complex<T>>& in, const Block<T>& out, T scale);

// --- spectrum layouts -------------------------------------------------------------------------
//
// F is the forward spectrum of a real W x H x D image; with hw = W / 2,
// hh = H / 2, dh = D / 2:
//   half-pure  (W/2+1) x H x D   conj(F(c, r, p))          natural order
//   half       (W/2+1) x H       F(c, r - hh)              rows centred
//   full       W x H x D         F(c - hw, r - hh, p - dh) zero frequency at (hw, hh, dh)
// Each conversion works in place (same data) or between two blocks; only
// the blocks' row and plane strides are used.

// Half-pure to full of a W x H x D image.
template <class T>
void HalfPureToFull(const Block<const std::complex<T>>& in, const Block<std::complex<T>>& out, int width, int height,
                    int depth);
// Full to half-pure (reads columns 0 ... W/2 only).
template <class T>
void FullToHalfPure(const Block<const std::complex<T>>& in, const Block<std::complex<T>>& out, int width,
                    int height, int depth);
// out[(r + shift) mod height] = conj(in[r]) over `columns` columns.
template <class T>
void ShiftRowsConjugated(const Block<const std::complex<T>>& in, const Block<std::complex<T>>& out, int columns,
                         int height, int shift);

// True when the block equals the conjugate of its point reflection (index
// i against (2 (N/2) - i) mod N along each axis) within 1e-5 of its largest
// component, but for at most `allowance` pairs; false for more than three
// dimensions above 1.
template <class T>
bool IsHermitian(const Block<const std::complex<T>>& spectrum, int allowance);

}  // namespace lumadex::kernels
