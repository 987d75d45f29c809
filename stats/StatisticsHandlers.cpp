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
#include "ImageBlocks.h"
#include "lumadex/kernels/Statistics.h"

namespace zep::stats {
namespace {

using Gatan::DM::Image;
using lumadex::kernels::Block;

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
Block<const T> FirstVolume(const tarn::dm::image<T>& view)
{
    Block<const T> block = BlockOf(view);
    block.size[3] = 1;
    return block;
}

// The block a pass scans: one run of pixels where they are dense.
template <class T>
Block<const T> ScanBlock(const Block<const T>& block)
{
    return block.dense() ? block.Flattened() : block;
}

struct Position {
    std::int32_t x, y, z;
};

template <class T>
Position PositionOf(std::int64_t rank, const Block<T>& block)
{
    const std::int64_t x = rank % block.size[0], row = rank / block.size[0];
    return {static_cast<std::int32_t>(x), static_cast<std::int32_t>(row % block.size[1]),
            static_cast<std::int32_t>(row / block.size[1])};
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
        const Block<const T> block = FirstVolume(view);
        const lumadex::kernels::Extremes e = lumadex::kernels::FindExtremes(ScanBlock(block));
        return Found{e.min, e.max, PositionOf(e.minRank, block), PositionOf(e.maxRank, block)};
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
        const lumadex::kernels::SurveyNumbers numbers = WithPixelType(Gatan::DM::ImageGetDataType(source), [&]<class T>() {
            const tarn::dm::image<T> view(source, tarn::dm::kLockInPlace);
            return lumadex::kernels::Survey(ScanBlock(FirstVolume(view)));
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
        const lumadex::kernels::DifferenceSums sums = WithPixelType(type, [&]<class T>() {
            const tarn::dm::image<T> a(first, tarn::dm::kLockDense), b(second, tarn::dm::kLockDense);
            Block<const T> ba = BlockOf(a), bb = BlockOf(b);
            // Dense pixels pair in scan order whatever the shapes; pixels
            // with gaps pair only within images of one shape.
            if (ba.dense() && bb.dense())
                ba = ba.Flattened(), bb = bb.Flattened();
            else if (ba.size[0] != bb.size[0] || ba.size[1] != bb.size[1] || ba.size[2] != bb.size[2])
                throw std::runtime_error(message::kNotDense);
            return lumadex::kernels::SurveyDifference(ba, bb);
        });
        *fSum1 = sums.sum1, *fSqSum1 = sums.sqSum1, *fSum2 = sums.sum2, *fSqSum2 = sums.sqSum2;
        *fSumDiff = sums.sumDiff, *fSumSqDiff = sums.sumSqDiff, *fSumAbsDiff = sums.sumAbsDiff;
    });
}

}  // namespace zep::stats
