// The warp kernels on raw pixels: linear warps (an independent scale factor
// per axis, with linear, bilinear or trilinear interpolation and edge
// clamping) and the affine warp (bilinear, with a fill value outside).
//
// Blocks are read along x, y and z (a fourth dimension is not walked); the x
// stride of every block is 1. Source and destination may be the same pixels
// or overlap: the result is the one an untouched copy of the source would
// give. Rows of the destination are shared among the plug-in's threads when
// the work pays for them (kWarpParallelPixels); the row sampling takes its
// AVX2 form when the processor feature words tell of AVX2, with results
// bit-identical to the baseline form.
//
// Precision, by pixel type:
//   float                 positions single; a, b, c single; weights and sums
//                         double, rounded to single when stored
//   double                everything double (the affine warp only)
//   std::complex<float>   positions, weights, products and sums single
//   std::complex<double>  everything double
#pragma once

#include <cstdint>

#include "lumadex/kernels/Block.h"

namespace lumadex::kernels {

// The axes a linear warp resamples: an or of these bits.
enum WarpAxis : unsigned { kWarpX = 1, kWarpY = 2, kWarpZ = 4 };

// Resamples `src` into `dst` along `axes`, axis a with factor coefs[a] (only
// the warped axes' factors are read). Along a warped axis with factor c,
// destination index d samples the source at s = d / c - offset; the
// neighbours floor(s) and floor(s) + 1 are clamped to the source, so
// positions outside repeat the edge pixel, and every destination index is
// written. Along the other axes the destination takes the source's indices
// that both blocks have.
// T: float, std::complex<float>, std::complex<double>.
template <class T>
void LinearWarpBlock(const Block<const T>& src, const Block<T>& dst, unsigned axes, const double* coefs,
                     float offset);

// Resamples `src` into `dst` along the source's axes longer than one pixel
// (x when there is none), as LinearWarpBlock: linear for one such axis,
// bilinear for two, trilinear for three; of the other axes only index 0 of
// the destination is written.
template <class T>
void LinearWarpEveryAxisBlock(const Block<const T>& src, const Block<T>& dst, const double* coefs, float offset);

// Destination pixel (x, y) of plane 0 takes the source's bilinear value at
// u = a0*x + a1*y + a2, v = b0*x + b1*y + b2. A position whose 2 x 2
// neighbourhood is not wholly inside the source's plane 0 (the last column
// and row included) gets `fill`. The destination's own width and height are
// written.
// T: float, double.
template <class T>
void AffineWarpBlock(const Block<const T>& src, const Block<T>& dst, const double (&a)[3], const double (&b)[3],
                     T fill);

}  // namespace lumadex::kernels
