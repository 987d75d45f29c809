// The cross-correlation mask's script function: checks, views and blocks;
// the mathematics is lumadex::kernels::CrossCorrelationMask.
#include <complex>
#include <cstdint>
#include <stdexcept>

#include "ImageBlocks.h"
#include "Messages.h"
#include "ScriptFrame.h"
#include "Statistics.h"
#include "lumadex/kernels/CrossCorrelationMask.h"

namespace zep::stats {
namespace {

using Gatan::DM::Image;
using lumadex::kernels::MaskParameters;

template <class S>
double MaskOf(const Image& target, const Image& reference, const MaskParameters& parameters, const Image& destination)
{
    const tarn::dm::image<std::complex<S>> t(target, tarn::dm::kLockDense), r(reference, tarn::dm::kLockDense);
    tarn::dm::image<std::complex<S>> d(destination, tarn::dm::kLockDense);
    return lumadex::kernels::CrossCorrelationMask<S>(BlockOf(t), BlockOf(r), parameters, BlockOf(d));
}

}  // namespace

dm_object* CrossCorrelationMaskDM(dm_object* cimTarg, dm_object* cimRef, std::int32_t nCX, std::int32_t nCY,
                                  std::int32_t nCZ, float fScaleX, float fScaleY, float fScaleZ, float fRad,
                                  std::int32_t eMode, double* fMean, dm_object* cimDst)
{
    return ScriptCall("CrossCorrelationMaskDM", [&] {
        const Image target = Image::Borrow(cimTarg);
        const Image reference = Image::Borrow(cimRef);
        const Image destination = cimDst ? Image::Borrow(cimDst) : Gatan::DM::ImageClone(target);

        const std::uint32_t type = Gatan::DM::ImageGetDataType(destination);
        if (type != Gatan::DM::ImageGetDataType(target) || type != Gatan::DM::ImageGetDataType(reference) ||
            (type != tarn::dm::kComplex8 && type != tarn::dm::kComplex16))
            throw std::runtime_error(message::kMaskImagesComplex);
        std::uint32_t sizes[4];
        for (std::uint32_t d = 0; d < 4; ++d) {
            sizes[d] = Gatan::DM::ImageGetNumDimensions(destination) > d ? Gatan::DM::ImageGetDimensionSize(destination, d) : 1;
            for (const Image* other : {&target, &reference}) {
                const std::uint32_t size =
                    Gatan::DM::ImageGetNumDimensions(*other) > d ? Gatan::DM::ImageGetDimensionSize(*other, d) : 1;
                if (size != sizes[d]) throw std::runtime_error(message::kDifferentSizes);
            }
        }
        if (eMode >= 1 && eMode <= 3) {
            // The frequencies are three-dimensional, and the centre pixel is
            // written: it must be one of the image's pixels.
            if (sizes[3] != 1) throw std::runtime_error(message::kInvalidImageSize);
            if (nCX < 0 || nCY < 0 || nCZ < 0 || std::uint32_t(nCX) >= sizes[0] || std::uint32_t(nCY) >= sizes[1] ||
                std::uint32_t(nCZ) >= sizes[2])
                throw std::runtime_error(message::kCentreOutside);
            const MaskParameters parameters{{nCX, nCY, nCZ}, {fScaleX, fScaleY, fScaleZ}, fRad, eMode};
            const double mean = type == tarn::dm::kComplex8 ? MaskOf<float>(target, reference, parameters, destination)
                                                             : MaskOf<double>(target, reference, parameters, destination);
            *fMean = mean;
        }
        Gatan::DM::ImageDataChanged(destination);
        return destination;
    });
}

}  // namespace zep::stats
