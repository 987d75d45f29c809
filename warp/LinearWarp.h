// Linear warps: resampling by an independent scale factor per axis, with
// linear, bilinear or trilinear interpolation and edge clamping.
//
// Along a warped axis with factor c, destination index d samples the source
// at s = d / c - fOffset; the neighbours floor(s) and floor(s) + 1 are
// clamped to the source, so positions outside repeat the edge pixel. The
// destination's own size along a warped axis sets how many samples are
// taken; along the other axes it has the source's size. Source and
// destination may be the same image (or overlap): the result is the one an
// untouched copy of the source would give. Sub-areas are read and written
// with their own pitches.
//
//   LinearWarpX/Y/Z   along one axis, every line of every plane
//   LinearWarpXY      bilinear in every plane, coefs = {cx, cy}
//   LinearWarp        over the source's axes longer than one pixel, each with
//                     its own factor from coefs = {cx, cy, cz}: linear for
//                     one such axis (x when there is none), bilinear for two,
//                     trilinear for three; the destination's line or plane at
//                     index 0 of the other axes is written.
#pragma once

#include <complex>
#include <cstdint>

#include "Export.h"
#include "ImageUtility.h"

template <class T>
using LinearWarpComplexView = tarn::dm::image<std::complex<T>>;

ZEP_EXPORT tarn::dm::image<float>& LinearWarpX(const tarn::dm::image<float>& src, double fCoef, float fOffset,
                                               tarn::dm::image<float>& dst);
ZEP_EXPORT tarn::dm::image<float>& LinearWarpY(const tarn::dm::image<float>& src, double fCoef, float fOffset,
                                               tarn::dm::image<float>& dst);
ZEP_EXPORT tarn::dm::image<float>& LinearWarpZ(const tarn::dm::image<float>& src, double fCoef, float fOffset,
                                               tarn::dm::image<float>& dst);
ZEP_EXPORT tarn::dm::image<float>& LinearWarpXY(const tarn::dm::image<float>& src, const double* coefs, float fOffset,
                                                tarn::dm::image<float>& dst);
ZEP_EXPORT tarn::dm::image<float>& LinearWarp(const tarn::dm::image<float>& src, const double* coefs, float fOffset,
                                              tarn::dm::image<float>& dst);

template <class T>
ZEP_EXPORT LinearWarpComplexView<T>& LinearWarpXComplex(const LinearWarpComplexView<T>& src, double fCoef,
                                                        float fOffset, LinearWarpComplexView<T>& dst);
template <class T>
ZEP_EXPORT LinearWarpComplexView<T>& LinearWarpYComplex(const LinearWarpComplexView<T>& src, double fCoef,
                                                        float fOffset, LinearWarpComplexView<T>& dst);
template <class T>
ZEP_EXPORT LinearWarpComplexView<T>& LinearWarpZComplex(const LinearWarpComplexView<T>& src, double fCoef,
                                                        float fOffset, LinearWarpComplexView<T>& dst);
template <class T>
ZEP_EXPORT LinearWarpComplexView<T>& LinearWarpXYComplex(const LinearWarpComplexView<T>& src, const double* coefs,
                                                         float fOffset, LinearWarpComplexView<T>& dst);
template <class T>
ZEP_EXPORT LinearWarpComplexView<T>& LinearWarpComplex(const LinearWarpComplexView<T>& src, const double* coefs,
                                                       float fOffset, LinearWarpComplexView<T>& dst);

// Script functions "LinearWarpX(...)" and the rest, without and with fOffset.
dm_object* LinearWarpXDM(dm_object* imgSrc, double fCoef, dm_object* imgDst);
dm_object* LinearWarpXOffsetDM(dm_object* imgSrc, double fCoef, float fOffset, dm_object* imgDst);
dm_object* LinearWarpYDM(dm_object* imgSrc, double fCoef, dm_object* imgDst);
dm_object* LinearWarpYOffsetDM(dm_object* imgSrc, double fCoef, float fOffset, dm_object* imgDst);
dm_object* LinearWarpZDM(dm_object* imgSrc, double fCoef, dm_object* imgDst);
dm_object* LinearWarpZOffsetDM(dm_object* imgSrc, double fCoef, float fOffset, dm_object* imgDst);
dm_object* LinearWarpXYDM(dm_object* imgSrc, dm_object* imgCoef, dm_object* imgDst);
dm_object* LinearWarpXYOffsetDM(dm_object* imgSrc, dm_object* imgCoef, float fOffset, dm_object* imgDst);
dm_object* LinearWarpDM(dm_object* imgSrc, dm_object* imgCoef, dm_object* imgDst);
dm_object* LinearWarpOffsetDM(dm_object* imgSrc, dm_object* imgCoef, float fOffset, dm_object* imgDst);
