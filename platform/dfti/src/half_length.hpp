// A real transform of even length n as a complex one of length m = n / 2.
//
// Read as complex numbers, a real line's even and odd samples make one
// complex line z = e + i o of length m, and its transform Z = E + i O holds
// both halves' transforms, which one pass of butterflies separates and
// joins into the real line's half spectrum:
//     X[k] = E[k] + w^k O[k],   w = exp(-2 pi i / n),   k = 0 .. m,
//     E[k] = (Z[k] + conj Z[m-k]) / 2,   O[k] = (Z[k] - conj Z[m-k]) / 2i.
// Backward, the same butterflies run the other way before the complex
// transform. FFTW's complex plans run much faster than its real ones here
// (2048-point float lines: 2.17 us a line on FFTW_ESTIMATE's real plan, 1.60
// on a measured one; 0.82 on FFTW_ESTIMATE's complex plan of 1024 points,
// plus 0.35 for the butterflies), so the line passes transform real lines
// this way.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

namespace lumadex::dfti {

// Whether a real line of length n is transformed through its half length.
inline bool transforms_by_half_length(int64_t n) { return n % 2 == 0 && n >= 16; }

// The butterflies' factors w^k for k = 0 .. m / 2, for lines of length n:
// their real and imaginary parts apart.
template <typename R>
struct HalfLengthTwiddles {
    std::vector<R> re, im;
};
template <typename R>
HalfLengthTwiddles<R> half_length_twiddles(int64_t n);

// Forward: turns the transform Z of a line's complex reading (m values) into
// the line's half spectrum X (m + 1 values), in place.
template <typename R>
void split_half_spectrum(std::complex<R>* line, int64_t m, const HalfLengthTwiddles<R>& twiddles);

// Backward: turns a half spectrum X (m + 1 values; the imaginary parts of
// X[0] and X[m] are ignored, as a real transform's are) into the spectrum Z
// (m values) whose backward transform, read as reals, is n times the line.
template <typename R>
void join_half_spectrum(std::complex<R>* line, int64_t m, const HalfLengthTwiddles<R>& twiddles);

}  // namespace lumadex::dfti
