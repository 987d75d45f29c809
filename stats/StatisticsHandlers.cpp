// The script handlers of MinMax, Min, Max, Survey and SurveyDifference.
//
// MinMax and Survey see the pixels where they lie, so a sub-area is read
// with its parent's pitches; positions are reported within the image the
// script passed. They read dimensions 0 to 2 only: of a 4-D image, the
// first volume (so a reported z always lies inside the image).
// SurveyDifference reads dense pixels and pairs them in scan order.
#include <stdexcept>

#include "Messages.h"
#include "ScriptFrame.h"
#include "Statistics.h"
#include "StatisticsKernels.h"

namespace zep::stats {
namespace {

using Gatan::DM::Image;

// One counter for the three handlers of MinMax, keyed by this literal.
constexpr const char kMinMaxCounter[] = "MinMaxDM";

// Calls run.template operator()<T>() with the pixel type of a statistics
// image, or fails with message::kInvalidDataType.
template <class Run>
auto WithPixelType(std::uint32_t type, Run&& run)
{
    using namespace tarn::dm;
    switch (type) {
    case kReal4: return run.template operator()<float>();
    case kReal8: return run.template operator()<double>();
    case kInt8: return run.template operator()<std::int8_t>();
    case kUInt8: return run.template operator()<std::uint8_t>();
    case kInt16: return run.template operator()<std::int16_t>();
    case kUInt16: return run.template operator()<std::uint16_t>();
    case kInt32: return run.template operator()<std::int32_t>();
    case kUInt32: return run.template operator()<std::uint32_t>();
    default: throw std::runtime_error(message::kInvalidDataType);
    }
}

// The pixels MinMax and Survey read: x, y and z of the first volume.
template <class T>
PixelGrid FirstVolume(const tarn::dm::image<T>& view)
{
    PixelGrid grid = GridOf(view);
    grid.volumes = 1;
    return grid;
}

// The grid a pass scans: one run of pixels where they are contiguous.
PixelGrid ScanGrid(const PixelGrid& grid) { return grid.contiguous() ? grid.Flattened() : grid; }

struct Position {
    std::int32_t x, y, z;
};

Position PositionOf(std::int64_t rank, const PixelGrid& grid)
{
    const std::int64_t x = rank % grid.width, row = rank / grid.width;
    return {static_cast<std::int32_t>(x), static_cast<std::int32_t>(row % grid.height),
            static_cast<std::int32_t>(row / grid.height)};
}

struct Found {
    double min, max;
    Position minAt, maxAt;
};

Found FindMinMax(dm_object* imgSrc)
{
    const Image source = Image::Borrow(imgSrc);
    return WithPixelType(Gatan::DM::ImageGetDataType(source), [&]<class T>() {
        const tarn::dm::image<T> view(source, tarn::dm::kLockInPlace);
        const PixelGrid grid = FirstVolume(view);
        const Extremes e = FindExtremes(view.data(), ScanGrid(grid));
        return Found{e.min, e.max, PositionOf(e.minRank, grid), PositionOf(e.maxRank, grid)};
    });
}

void Write(const Position& at, std::int32_t* x, std::int32_t* y, std::int32_t* z) { *x = at.x, *y = at.y, *z = at.z; }

std::int64_t PixelCount(const Image& image)
{
    std::int64_t count = 1;
    for (std::uint32_t d = 0; d < Gatan::DM::ImageGetNumDimensions(image); ++d)
        count *= Gatan::DM::ImageGetDimensionSize(image, d);
    return count;
}

}  // namespace

void MinMaxDM(dm_object* imgSrc, std::int32_t* nMinX, std::int32_t* nMinY, std::int32_t* nMinZ, double* fMin,
              std::int32_t* nMaxX, std::int32_t* nMaxY, std::int32_t* nMaxZ, double* fMax)
{
    ScriptCall(kMinMaxCounter, [&] {
        const Found found = FindMinMax(imgSrc);
        Write(found.minAt, nMinX, nMinY, nMinZ);
        *fMin = found.min;
        Write(found.maxAt, nMaxX, nMaxY, nMaxZ);
        *fMax = found.max;
    });
}

double MinDM(dm_object* imgSrc, std::int32_t* nX, std::int32_t* nY, std::int32_t* nZ)
{
    return ScriptCallOr(kMinMaxCounter, 0.0, [&] {
        const Found found = FindMinMax(imgSrc);
        Write(found.minAt, nX, nY, nZ);
        return found.min;
    });
}

double MaxDM(dm_object* imgSrc, std::int32_t* nX, std::int32_t* nY, std::int32_t* nZ)
{
    return ScriptCallOr(kMinMaxCounter, 0.0, [&] {
        const Found found = FindMinMax(imgSrc);
        Write(found.maxAt, nX, nY, nZ);
        return found.max;
    });
}

void SurveyDM(dm_object* imgSrc, double* fMin, double* fMax, double* fSum, double* fSqsum, double* fSumAbs)
{
    ScriptCall("SurveyDM", [&] {
        const Image source = Image::Borrow(imgSrc);
        const SurveyNumbers numbers = WithPixelType(Gatan::DM::ImageGetDataType(source), [&]<class T>() {
            const tarn::dm::image<T> view(source, tarn::dm::kLockInPlace);
            return Survey(view.data(), ScanGrid(FirstVolume(view)));
        });
        *fMin = numbers.min, *fMax = numbers.max, *fSum = numbers.sum;
        *fSqsum = numbers.sumSquares, *fSumAbs = numbers.sumAbs;
    });
}

void SurveyDifferenceDM(dm_object* imgSrc1, dm_object* imgSrc2, double* fSum1, double* fSqSum1, double* fSum2,
                        double* fSqSum2, double* fSumDiff, double* fSumSqDiff, double* fSumAbsDiff)
{
    ScriptCall("SurveyDifferenceDM", [&] {
        const Image first = Image::Borrow(imgSrc1);
        const Image second = Image::Borrow(imgSrc2);
        const std::uint32_t type = Gatan::DM::ImageGetDataType(first);
        if (type != Gatan::DM::ImageGetDataType(second))
            throw std::runtime_error(message::kAllStatisticsTypes);
        if (PixelCount(first) != PixelCount(second))
            throw std::runtime_error(message::kDifferentSizes);
        const DifferenceSums sums = WithPixelType(type, [&]<class T>() {
            const tarn::dm::image<T> a(first, tarn::dm::kLockDense), b(second, tarn::dm::kLockDense);
            PixelGrid ga = GridOf(a), gb = GridOf(b);
            // Dense pixels pair in scan order whatever the shapes; pixels
            // with gaps pair only within images of one shape.
            if (ga.contiguous() && gb.contiguous())
                ga = ga.Flattened(), gb = gb.Flattened();
            else if (ga.width != gb.width || ga.height != gb.height || ga.depth != gb.depth)
                throw std::runtime_error(message::kNotDense);
            return SurveyDifference(a.data(), ga, b.data(), gb);
        });
        *fSum1 = sums.sum1, *fSqSum1 = sums.sqSum1, *fSum2 = sums.sum2, *fSqSum2 = sums.sqSum2;
        *fSumDiff = sums.sumDiff, *fSumSqDiff = sums.sumSqDiff, *fSumAbsDiff = sums.sumAbsDiff;
    });
}

}  // namespace zep::stats
