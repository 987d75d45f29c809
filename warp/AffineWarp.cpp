// The exported affine warp, which makes blocks from views and hands them to
// the kernel, and its script handler.
#include "AffineWarp.h"

#include <stdexcept>

#include "ImageBlocks.h"
#include "Messages.h"
#include "ScriptFrame.h"
#include "WarpFrame.h"
#include "lumadex/kernels/Warp.h"

namespace {
namespace message = zep::message;
}  // namespace

template <class T>
tarn::dm::image<T>& AffineWarp(const tarn::dm::image<T>& src, const tarn::dm::image<double>& coefs,
                               tarn::dm::image<T>& dst, T fill)
{
    if (coefs.size(0) < 3 || coefs.size(1) < 2) throw std::runtime_error(message::kAffineCoefficientsSize);
    const double* row0 = coefs.data();
    const double* row1 = coefs.data() + coefs.pitch(1);
    const double a[3] = {row0[0], row0[1], row0[2]}, b[3] = {row1[0], row1[1], row1[2]};
    lumadex::kernels::AffineWarpBlock<T>(zep::BlockOf(src), zep::BlockOf(dst), a, b, fill);
    return dst;
}

template ZEP_EXPORT tarn::dm::image<float>& AffineWarp(const tarn::dm::image<float>&, const tarn::dm::image<double>&,
                                                       tarn::dm::image<float>&, float);
template ZEP_EXPORT tarn::dm::image<double>& AffineWarp(const tarn::dm::image<double>&,
                                                        const tarn::dm::image<double>&, tarn::dm::image<double>&,
                                                        double);

dm_object* AffineWarpDM(dm_object* imgSrc, dm_object* imgCoefs, dm_object* imgDst, std::int32_t fMean)
{
    using Gatan::DM::Image;
    using namespace zep::warp;
    return zep::ScriptCall("AffineWarpDM", [&] {
        const Image source = Image::Borrow(imgSrc);
        const Sizes sizes = SizesOf(source);
        const std::uint32_t type = Gatan::DM::ImageGetDataType(source);
        const Image coefficients = Image::Borrow(imgCoefs);
        Image destination = imgDst ? Image::Borrow(imgDst) : Image();
        if (destination) CheckDestinationType(source, destination);
        if (Gatan::DM::ImageGetDataType(coefficients) != tarn::dm::kReal8)
            throw std::runtime_error(message::kCoefficientsReal8);
        const Sizes coefficientSizes = SizesOf(coefficients);
        if (coefficientSizes[0] < 3 || coefficientSizes[1] < 2)
            throw std::runtime_error(message::kAffineCoefficientsSize);
        if (type != tarn::dm::kReal4 && type != tarn::dm::kReal8)
            throw std::runtime_error(message::kAffineWarpTypes);
        if (!destination) destination = CreateDestination(source, "AffineWarp of ", sizes);

        const tarn::dm::image<double> coefs(coefficients, tarn::dm::kLockDense);
        if (type == tarn::dm::kReal4) {
            const tarn::dm::image<float> src(source, tarn::dm::kLockDense);
            tarn::dm::image<float> dst(destination, tarn::dm::kLockDense);
            AffineWarp<float>(src, coefs, dst, static_cast<float>(fMean));
        } else {
            const tarn::dm::image<double> src(source, tarn::dm::kLockDense);
            tarn::dm::image<double> dst(destination, tarn::dm::kLockDense);
            AffineWarp<double>(src, coefs, dst, static_cast<double>(fMean));
        }
        Gatan::DM::ImageDataChanged(destination);
        return destination;
    });
}
