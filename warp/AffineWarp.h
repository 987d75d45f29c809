// The affine warp: destination pixel (x, y) of plane 0 takes the source's
// bilinear value at u = a0*x + a1*y + a2, v = b0*x + b1*y + b2, where
// coefficient row 0 holds (a0, a1, a2) and row 1 (b0, b1, b2). A position
// whose 2 x 2 neighbourhood is not wholly inside the source (the last column
// and row included) gets `fill`. The destination's own width and height are
// written; source and destination may be the same image.
#pragma once

#include "Export.h"
#include "ImageUtility.h"

template <class T>
ZEP_EXPORT tarn::dm::image<T>& AffineWarp(const tarn::dm::image<T>& src, const tarn::dm::image<double>& coefs,
                                          tarn::dm::image<T>& dst, T fill);

// Script function "AffineWarp(ImageRef imgSrc, ImageRef imgCoefs, ImageRef imgDst, long     fMean)".
dm_object* AffineWarpDM(dm_object* imgSrc, dm_object* imgCoefs, dm_object* imgDst, std::int32_t fMean);
