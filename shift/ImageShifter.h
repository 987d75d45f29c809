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

template <class T>
ZEP_EXPORT tarn::dm::image<T>& PureImageShifterX(const tarn::dm::image<T>& src, int nOrigW, double fShiftX,
                                                 double fSign, tarn::dm::image<T>& dst);
template <class T>
ZEP_EXPORT tarn::dm::image<T>& ImageShifterX(const tarn::dm::image<T>& src, int nOrigW, int nCX, double fShiftX,
                                             double fSign, tarn::dm::image<T>& dst);
template <class T>
ZEP_EXPORT tarn::dm::image<T>& PureImageShifterY(const tarn::dm::image<T>& src, int nOrigH, double fShiftY,
                                                 double fSign, tarn::dm::image<T>& dst);
template <class T>
ZEP_EXPORT tarn::dm::image<T>& ImageShifterY(const tarn::dm::image<T>& src, int nOrigH, int nCY, double fShiftY,
                                             double fSign, tarn::dm::image<T>& dst);
template <class T>
ZEP_EXPORT tarn::dm::image<T>& PureImageShifterZ(const tarn::dm::image<T>& src, int nOrigD, double fShiftZ,
                                                 double fSign, tarn::dm::image<T>& dst);
template <class T>
ZEP_EXPORT tarn::dm::image<T>& ImageShifterZ(const tarn::dm::image<T>& src, int nOrigD, int nCZ, double fShiftZ,
                                             double fSign, tarn::dm::image<T>& dst);

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

// Script functions "ImageShifter(...)" ... "PureImageShifterZ(...)".
dm_object* ImageShifterDM(dm_object* cimSrc, std::int32_t nOrigW, std::int32_t nOrigH, std::int32_t nOrigD,
                          std::int32_t nCX, std::int32_t nCY, std::int32_t nCZ, double fShiftX, double fShiftY,
                          double fShiftZ, double fSign, dm_object* cimDst);
dm_object* PureImageShifterDM(dm_object* cimSrc, std::int32_t nOrigW, std::int32_t nOrigH, std::int32_t nOrigD,
                              double fShiftX, double fShiftY, double fShiftZ, double fSign, dm_object* cimDst);
dm_object* ImageShifterXYDM(dm_object* cimSrc, std::int32_t nOrigW, std::int32_t nOrigH, std::int32_t nCX,
                            std::int32_t nCY, double fShiftX, double fShiftY, double fSign, dm_object* cimDst);
dm_object* PureImageShifterXYDM(dm_object* cimSrc, std::int32_t nOrigW, std::int32_t nOrigH, double fShiftX,
                                double fShiftY, double fSign, dm_object* cimDst);
dm_object* ImageShifterXDM(dm_object* cimSrc, std::int32_t nOrigW, std::int32_t nCX, double fShiftX, double fSign,
                           dm_object* cimDst);
dm_object* PureImageShifterXDM(dm_object* cimSrc, std::int32_t nOrigW, double fShiftX, double fSign,
                               dm_object* cimDst);
dm_object* ImageShifterYDM(dm_object* cimSrc, std::int32_t nOrigH, std::int32_t nCY, double fShiftY, double fSign,
                           dm_object* cimDst);
dm_object* PureImageShifterYDM(dm_object* cimSrc, std::int32_t nOrigH, double fShiftY, double fSign,
                               dm_object* cimDst);
dm_object* ImageShifterZDM(dm_object* cimSrc, std::int32_t nOrigD, std::int32_t nCZ, double fShiftZ, double fSign,
                           dm_object* cimDst);
dm_object* PureImageShifterZDM(dm_object* cimSrc, std::int32_t nOrigD, double fShiftZ, double fSign,
                               dm_object* cimDst);

}  // namespace zep
