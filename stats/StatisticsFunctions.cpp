// The statistics block of script functions, in registration order.
#include <iterator>

#include "Statistics.h"

namespace zep {

std::span<const ScriptFunctionEntry> StatisticsFunctions()
{
    using namespace stats;
    static const ScriptFunctionEntry kFunctions[] = {
        {"ComplexImagePtr ",
         "CrossCorrelationMask(ComplexImagePtr cimTarg, ComplexImagePtr cimRef, long nCX, long nCY, long nCZ, "
         "float fScaleX, float fScaleY, float fScaleZ, float fRad, long eMode, double * fMean, "
         "ComplexImagePtr cimDst)",
         HandlerAddress(&CrossCorrelationMaskDM)},
        {"void ", "Survey(ImageRef imgSrc, double * fMin, double * fMax, double * fSum, double * fSqsum, double * fSumAbs)",
         HandlerAddress(&SurveyDM)},
        {"void ",
         "SurveyDifference(ImageRef imgSrc1, ImageRef imgSrc2, double * fSum1, double * fSqSum1, double * fSum2, "
         "double * fSqSum2, double * fSumDiff, double * fSumSqDiff, double * fSumAbsDiff)",
         HandlerAddress(&SurveyDifferenceDM)},
        {"ImageRef ", "Reduce(ImageRef imgSrc)", HandlerAddress(&ReduceDM)},
        {"void ",
         "MinMax(ImageRef imgSrc, long * nMinX, long * nMinY, long * nMinZ, double * fMin, long * nMaxX, "
         "long * nMaxY, long * nMaxZ, double * fMax)",
         HandlerAddress(&MinMaxDM)},
        {"double ", "Min(ImageRef imgSrc, long * nX, long * nY, long * nZ)", HandlerAddress(&MinDM)},
        {"double ", "Max(ImageRef imgSrc, long * nX, long * nY, long * nZ)", HandlerAddress(&MaxDM)},
    };
    static_assert(std::size(kFunctions) == block_size::kStatistics);
    return kFunctions;
}

}  // namespace zep
