// The 2x reduction's script function: a new image of half the size in
// every dimension (the averaging itself is lumadex::kernels::Reduce2x).
#include <complex>
#include <cstdint>

#include "ImageBlocks.h"
#include "ScriptFrame.h"
#include "Statistics.h"
#include "lumadex/kernels/Statistics.h"

namespace zep::stats {
namespace {

using Gatan::DM::Image;

template <class T>
void Fill(const Image& source, const Image& result, std::uint32_t dims)
{
    // The source where it lies (a sub-area with its parent's pitches); the
    // new result is dense.
    const tarn::dm::image<T> src(source, tarn::dm::kLockInPlace);
    tarn::dm::image<T> dst(result, tarn::dm::kLockDense);
    lumadex::kernels::Reduce2x<T>(BlockOf(src), BlockOf(dst), static_cast<int>(dims));
}

// Origin halved, scale doubled, units kept; empty units take the units last
// copied for a lower dimension.
void CopyCalibration(const Image& source, const Image& result, std::uint32_t dims)
{
    std::string units;
    for (std::uint32_t d = 0; d < dims; ++d) {
        Gatan::DM::DimensionCalibration calibration =
            Gatan::DM::ImageGetDimensionCalibration(source, static_cast<std::int32_t>(d));
        calibration.origin *= 0.5f;
        calibration.scale *= 2.0f;
        if (calibration.units.empty())
            calibration.units = units;
        else
            units = calibration.units;
        Gatan::DM::ImageSetDimensionCalibration(result, static_cast<std::int32_t>(d), calibration);
    }
}

}  // namespace

dm_object* ReduceDM(dm_object* imgSrc)
{
    // Not timed and not counted; refusals return null without a message.
    return ScriptCall(nullptr, [&]() -> Image {
        const Image source = Image::Borrow(imgSrc);
        const std::uint32_t type = Gatan::DM::ImageGetDataType(source);
        const std::uint32_t dims = Gatan::DM::ImageGetNumDimensions(source);
        if (dims < 1 || dims > 3) return {};
        std::uint32_t halves[3];
        for (std::uint32_t d = 0; d < dims; ++d) {
            halves[d] = Gatan::DM::ImageGetDimensionSize(source, d) / 2;
            if (halves[d] == 0) return {};  // a dimension of one pixel has no block to average
        }

        using namespace tarn::dm;
        void (*fill)(const Image&, const Image&, std::uint32_t) = nullptr;
        switch (type) {
        case kInt8: fill = &Fill<std::int8_t>; break;
        case kUInt8: fill = &Fill<std::uint8_t>; break;
        case kInt16: fill = &Fill<std::int16_t>; break;
        case kUInt16: fill = &Fill<std::uint16_t>; break;
        case kInt32: fill = &Fill<std::int32_t>; break;
        case kUInt32: fill = &Fill<std::uint32_t>; break;
        case kReal4: fill = &Fill<float>; break;
        case kReal8: fill = &Fill<double>; break;
        case kComplex8: fill = &Fill<std::complex<float>>; break;
        case kComplex16: fill = &Fill<std::complex<double>>; break;
        default: return {};
        }
        Image result = Gatan::DM::NewImage("", type, dims, halves);
        fill(source, result, dims);
        CopyCalibration(source, result, dims);
        Gatan::DM::ImageDataChanged(result);
        return result;
    });
}

}  // namespace zep::stats
