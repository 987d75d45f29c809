// Summary numbers of real and integer blocks: extremes with their ranks,
// one-pass sums, and the sums of two images and of their difference.
//
// T is one of the pixel types int8_t, uint8_t, int16_t, uint16_t, int32_t,
// uint32_t, float, double. Values are compared in T and summed in double
// (8- and 16-bit integers exactly, in 64-bit integers per chunk). NaN pixels
// are never taken as extremes and make the sums NaN. The vectorised variants
// compute exactly what the base variant computes, lane for lane.
#pragma once

#include <cstdint>

#include "lumadex/kernels/Block.h"

namespace lumadex::kernels {

// The smallest and largest value with the rank (scan-order index) of their
// first occurrence. An image without pixels other than NaN reports its first
// pixel for both, at rank 0.
struct Extremes {
    double min = 0, max = 0;
    std::int64_t minRank = 0, maxRank = 0;
};

// Extremes and sums of all pixels. Without pixels, or with NaN pixels only,
// min and max are the largest finite double and its negative.
struct SurveyNumbers {
    double min = 0, max = 0, sum = 0, sumSquares = 0, sumAbs = 0;
};

// Sums of a, of a squared, of b, of b squared, and of e = a - b, e squared
// and |e|, a and b being the pixels of equal rank.
struct DifferenceSums {
    double sum1 = 0, sqSum1 = 0, sum2 = 0, sqSum2 = 0, sumDiff = 0, sumSqDiff = 0, sumAbsDiff = 0;
};

template <class T>
Extremes FindExtremes(const Block<const T>& block);

// The extremes as numpy's argmin and argmax report them: the smallest and
// largest value with the rank of their first occurrence, or, when the block
// holds NaN, NaN for both at the rank of the first NaN. One pass takes each
// chunk's extremes (vector minima and maxima, no positions) and whether it
// holds NaN; the first occurrences are then looked for in the first chunk
// that holds them. The x stride is 1. A block without pixels gives zeros.
template <class T>
Extremes FindArgExtremes(const Block<const T>& block);

template <class T>
SurveyNumbers Survey(const Block<const T>& block);

// The blocks have one shape (strides may differ); images of different shapes
// but equal pixel counts pair in scan order as the flattened blocks of their
// dense pixels.
template <class T>
DifferenceSums SurveyDifference(const Block<const T>& a, const Block<const T>& b);

// The 2x reduction of a block of `dims` (1 to 3) dimensions into `out`, of
// half its sizes: each pixel the average of a 2, 2x2 or 2x2x2 block, its
// pixels added left to right (x fastest, then y, then z), in the pixel type
// for real and complex T, in 64-bit integers for integer T with the average
// rounded to nearest, ties to even. T as above, or std::complex of float or
// double.
template <class T>
void Reduce2x(const Block<const T>& in, const Block<T>& out, int dims);

// The 2x2 reduction of every plane into real pixels of type R: x and y are
// halved (an odd last column or row is left out), z and the fourth
// dimension are kept. Each pixel is the average of a 2x2 block, its pixels
// added left to right as Reduce2x adds them (x fastest, then y), exactly in
// integers for integer T and in double for real T, multiplied by 0.25 in
// double and rounded to R. The x stride of both blocks is 1.
// T as above; R: float, double.
template <class T, class R>
void Reduce2x2To(const Block<const T>& in, const Block<R>& out);

}  // namespace lumadex::kernels
