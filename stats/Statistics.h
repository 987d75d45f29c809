// The statistics and correlation script functions: extremes with their
// positions, one-pass sums, difference sums, the 2x reduction and the
// cross-correlation mask.
#pragma once

#include <complex>
#include <cstdint>

#include "ImageUtility.h"
#include "Registration.h"
#include "dm/object.h"

namespace zep {

namespace stats {

// Handlers, one per signature (counter names: MinMaxDM for MinMax, Min and
// Max; SurveyDM; SurveyDifferenceDM; CrossCorrelationMaskDM; Reduce counts
// nothing).
void MinMaxDM(dm_object* imgSrc, std::int32_t* nMinX, std::int32_t* nMinY, std::int32_t* nMinZ, double* fMin,
              std::int32_t* nMaxX, std::int32_t* nMaxY, std::int32_t* nMaxZ, double* fMax);
double MinDM(dm_object* imgSrc, std::int32_t* nX, std::int32_t* nY, std::int32_t* nZ);
double MaxDM(dm_object* imgSrc, std::int32_t* nX, std::int32_t* nY, std::int32_t* nZ);
void SurveyDM(dm_object* imgSrc, double* fMin, double* fMax, double* fSum, double* fSqsum, double* fSumAbs);
void SurveyDifferenceDM(dm_object* imgSrc1, dm_object* imgSrc2, double* fSum1, double* fSqSum1, double* fSum2,
                        double* fSqSum2, double* fSumDiff, double* fSumSqDiff, double* fSumAbsDiff);
dm_object* ReduceDM(dm_object* imgSrc);
dm_object* CrossCorrelationMaskDM(dm_object* cimTarg, dm_object* cimRef, std::int32_t nCX, std::int32_t nCY,
                                  std::int32_t nCZ, float fScaleX, float fScaleY, float fScaleZ, float fRad,
                                  std::int32_t eMode, double* fMean, dm_object* cimDst);

}  // namespace stats
}  // namespace zep
