// Sub-pixel shifts in Fourier space: every coefficient of a spectrum is
// multiplied by a unit phase factor linear in its frequency index,
//
//   dst = src * exp(i * 2 pi * fSign * (kX * fShiftX / nOrigW + kY * fShiftY / nOrigH + kZ * fShiftZ / nOrigD)),
//
// so that the inverse transform of the result is the image translated by
// (fShiftX, fShiftY, fShiftZ) pixels with periodic wrap-around.
//
// Two layouts of the spectrum: "pure" (zero frequency at index 0, the upper
// half of each axis holding the negative frequencies; along X also a half
// spectrum of a real image of width nOrigW) and centred (zero frequency at
// index nCX, nCY, nCZ: k = index - centre, no wrap). The periods nOrigW,
// nOrigH, nOrigD are the sizes of the real-space image, which may differ from
// the spectrum's own sizes. Source and destination have the same sizes and
// may be the same view (in place); a fourth dimension is a series of volumes
// shifted alike.
//
// Every entry point refuses, before writing anything, sources and
// destinations of different sizes, overlapping sub-areas of one image and a
// period below 1 on an axis with a non-zero shift. Each returns `dst`.
#pragma once

#include <complex>
#include <cstdint>

#include "Export.h"
#include "HostObjects.h"
#include "ImageUtility.h"

namespace zep {

template <class T>
ZEP_EXPORT tarn::dm::image<T>& PureImageShifter(const tarn::dm::image<T>& src, int nOrigW, int nOrigH, int nOrigD,
                                                double fShiftX, double fShiftY, double fShiftZ, double fSign,
                                                tarn::dm::image<T>& dst);
template <class T>
ZEP_EXPORT tarn::dm::image<T>& ImageShifter(const tarn::dm::image<T>& src, int nOrigW, int nOrigH, int nOrigD,
                                            int nCX, int nCY, int nCZ, double fShiftX, double fShiftY,
                                            double fShiftZ, double fSign, tarn::dm::image<T>& dst);

template <class T>
ZEP_EXPORT tarn::dm::image<T>& PureImageShifterXY(const tarn::dm::image<T>& src, int nOrigW, int nOrigH,
                                                  double fShiftX, double fShiftY, double fSign,
                                                  tarn::dm::image<T>& dst);
template <class T>
ZEP_EXPORT tarn::dm::image<T>& ImageShifterXY(const tarn::dm::image<T>& src, int nOrigW, int nOrigH, int nCX,
                                              int nCY, double fShiftX, double fShiftY, double fSign,
                                              tarn::dm::image<T>& dst);

// One axis only (X, Y or Z), with that axis's period nOrig, centre nC and
// shift fShift: PureImageShifterX, ImageShifterX, ... ImageShifterZ; the
// script functions "PureImageShifterX(...)" ... "ImageShifterZ(...)" are
// their handlers with the Axis letter, PureImageShifterXDM ... ImageShifterZDM.
#define ZEP_DECLARE_SINGLE_AXIS_SHIFTERS(Axis)                                                                   \
    template <class T>                                                                                           \
    ZEP_EXPORT tarn::dm::image<T>& PureImageShifter##Axis(const tarn::dm::image<T>& src, int nOrig,              \
                                                          double fShift, double fSign, tarn::dm::image<T>& dst); \
    template <class T>                                                                                           \
    ZEP_EXPORT tarn::dm::image<T>& ImageShifter##Axis(const tarn::dm::image<T>& src, int nOrig, int nC,           \
                                                      double fShift, double fSign, tarn::dm::image<T>& dst);     \
    dm_object* PureImageShifter##Axis##DM(dm_object* cimSrc, std::int32_t nOrig, double fShift, double fSign,     \
                                          dm_object* cimDst);                                                     \
    dm_object* ImageShifter##Axis##DM(dm_object* cimSrc, std::int32_t nOrig, std::int32_t nC, double fShift,      \
                                      double fSign, dm_object* cimDst);
ZEP_DECLARE_SINGLE_AXIS_SHIFTERS(X)
ZEP_DECLARE_SINGLE_AXIS_SHIFTERS(Y)
ZEP_DECLARE_SINGLE_AXIS_SHIFTERS(Z)
#undef ZEP_DECLARE_SINGLE_AXIS_SHIFTERS

// The XY shifts on raw pixels: D planes of W x H, plane p at src + p * strideZ
// and dst + p * dstStrideZ, rows strideY / dstStrideY pixels apart (all
// strides in pixels). The caller vouches for the memory; the period check
// above still applies.
template <class R>
ZEP_EXPORT void PureImageShifterXY(int W, int H, int D, int strideY, int strideZ, const std::complex<R>* src,
                                   int nOrigW, int nOrigH, double fShiftX, double fShiftY, double fSign,
                                   int dstStrideY, int dstStrideZ, std::complex<R>* dst);
template <class R>
ZEP_EXPORT void ImageShifterXY(int W, int H, int D, int strideY, int strideZ, const std::complex<R>* src, int nOrigW,
                               int nOrigH, int nCX, int nCY, double fShiftX, double fShiftY, double fSign,
                               int dstStrideY, int dstStrideZ, std::complex<R>* dst);

// Script functions "ImageShifter(...)" ... "PureImageShifterXY(...)".
dm_object* ImageShifterDM(dm_object* cimSrc, std::int32_t nOrigW, std::int32_t nOrigH, std::int32_t nOrigD,
                          std::int32_t nCX, std::int32_t nCY, std::int32_t nCZ, double fShiftX, double fShiftY,
                          double fShiftZ, double fSign, dm_object* cimDst);
dm_object* PureImageShifterDM(dm_object* cimSrc, std::int32_t nOrigW, std::int32_t nOrigH, std::int32_t nOrigD,
                              double fShiftX, double fShiftY, double fShiftZ, double fSign, dm_object* cimDst);
dm_object* ImageShifterXYDM(dm_object* cimSrc, std::int32_t nOrigW, std::int32_t nOrigH, std::int32_t nCX,
                            std::int32_t nCY, double fShiftX, double fShiftY, double fSign, dm_object* cimDst);
dm_object* PureImageShifterXYDM(dm_object* cimSrc, std::int32_t nOrigW, std::int32_t nOrigH, double fShiftX,
                                double fShiftY, double fSign, dm_object* cimDst);

}  // namespace zep
