// The statistics block of script functions, in registration order.
#include "Registration.h"
#include "Statistics.h"

namespace zep {

ZEP_SCRIPT_FUNCTION_BLOCK(StatisticsFunctions, kStatistics,
    {"ComplexImagePtr ",
     "CrossCorrelationMask(ComplexImagePtr cimTarg, ComplexImagePtr cimRef, long nCX, long nCY, long nCZ, "
     "float fScaleX, float fScaleY, float fScaleZ, float fRad, long eMode, double * fMean, "
     "ComplexImagePtr cimDst)",
     HandlerAddress(&stats::CrossCorrelationMaskDM)},
    {"void ", "Survey(ImageRef imgSrc, double * fMin, double * fMax, double * fSum, double * fSqsum, double * fSumAbs)",
     HandlerAddress(&stats::SurveyDM)},
    {"void ",
     "SurveyDifference(ImageRef imgSrc1, ImageRef imgSrc2, double * fSum1, double * fSqSum1, double * fSum2, "
     "double * fSqSum2, double * fSumDiff, double * fSumSqDiff, double * fSumAbsDiff)",
     HandlerAddress(&stats::SurveyDifferenceDM)},
    {"ImageRef ", "Reduce(ImageRef imgSrc)", HandlerAddress(&stats::ReduceDM)},
    {"void ",
     "MinMax(ImageRef imgSrc, long * nMinX, long * nMinY, long * nMinZ, double * fMin, long * nMaxX, "
     "long * nMaxY, long * nMaxZ, double * fMax)",
     HandlerAddress(&stats::MinMaxDM)},
    {"double ", "Min(ImageRef imgSrc, long * nX, long * nY, long * nZ)", HandlerAddress(&stats::MinDM)},
    {"double ", "Max(ImageRef imgSrc, long * nX, long * nY, long * nZ)", HandlerAddress(&stats::MaxDM)})

}  // namespace zep
