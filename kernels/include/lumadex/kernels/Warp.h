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

// --- resampling with edge modes --------------------------------------------------
// The warps of scipy.ndimage (shift, zoom, affine_transform, rotate) at
// spline orders 0 and 1, to the last bit of its results.
//
// Positions are in source pixels, pixel i centred at i. Along each axis a
// position p is sampled as follows:
//   - a position that is not finite gives `fill` (whatever the mode);
//   - WarpEdge::Constant: a position outside [0, size - 1] gives `fill`;
//   - a position outside [0, size - 1] is folded back by the edge mode
//     (scipy's rules, listed at WarpEdge); Nearest and GridConstant leave
//     it as it is;
//   - order 0 takes the pixel floor(p + 0.5); order 1 the pixels
//     i = floor(p) and i + 1 with the weights w0 = 1 - (p - i) and
//     w1 = 1 - w0;
//   - a neighbour beyond the edge is brought in by the mode (reflected,
//     wrapped or clamped: under Nearest a position far outside interpolates
//     between two copies of the edge pixel); under GridConstant it counts
//     as `fill`.
// A destination pixel sums its corners, the last axis (x) fastest, each
// corner's value times its weights taken from the first axis (z) to x;
// the sum starts from 0.0 and is computed in double, then rounded to the
// destination type. Integer outputs are the caller's business.
enum class WarpEdge {
    Constant,      // fill outside [0, size - 1]; no interpolation beyond the edge
    GridConstant,  // the source extended by fill: edge pixels interpolate towards it
    Nearest,       // neighbours clamp to the edge pixels:       a a | a b c d | d d
    Reflect,       // symmetric about the pixels' outer edges:    b a | a b c d | d c
    Mirror,        // symmetric about the edge pixels' centres:  c b | a b c d | c b
    Wrap,          // periodic with period size - 1 (scipy's "wrap")
    GridWrap,      // periodic with period size:                  c d | a b c d | a b
};

struct WarpRule {
    int order = 1;  // 0 or 1
    WarpEdge edge = WarpEdge::Constant;
    double fill = 0;
};

// One axis of a separable warp: destination index d samples position
//   (d + shift) * scale + offset             (grid false)
//   ((d + shift) + 0.5) * scale - 0.5        (grid true: the pixels' full extent is scaled)
// The neutral values leave scipy's forms as they are: d + shift, d * scale,
// d * scale + offset.
struct WarpAxisMap {
    double shift = 0, scale = 1, offset = 0;
    bool grid = false;
};

// Resamples the first `dims` axes (1 to 3) of `src` into `dst`, axis a by
// maps[a] (x first). The other axes of the blocks are planes resampled one
// by one, plane k of the source into plane k of the destination (their
// sizes must agree). Strides are free (any sign, any x stride); a source
// that shares memory with the destination is copied first. Rows of the
// destination are shared among the threads when the work pays for them.
// S, D: float, double.
template <class S, class D>
void ResampleAxesBlock(const Block<const S>& src, const Block<D>& dst, int dims, const WarpAxisMap* maps,
                       const WarpRule& rule);

// As ResampleAxesBlock, with the position along source axis a
//   ((... + d[dims-1] * matrix[a][dims-1]) + ... + d[0] * matrix[a][0]) + offset[a],
// summed from 0.0 in that order (the last axis, x, last), d being the
// destination index along each axis.
template <class S, class D>
void ResampleAffineBlock(const Block<const S>& src, const Block<D>& dst, int dims, const double (&matrix)[3][3],
                         const double (&offset)[3], const WarpRule& rule);

}  // namespace lumadex::kernels
