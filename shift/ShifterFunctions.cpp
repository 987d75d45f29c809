// The script functions of the image shifter family: one frame for all ten.
#include <stdexcept>

#include "ImageShifter.h"
#include "Messages.h"
#include "ScriptFrame.h"
#include "SubareasOverlap.h"

namespace zep {
namespace {

using Gatan::DM::Image;

struct Sizes {
    std::int32_t width = 0, height = 0;
    std::uint32_t depth = 0, fourth = 0;
    bool operator==(const Sizes&) const = default;
};

Sizes SizesOf(const Image& image)
{
    Sizes sizes;
    Gatan::DM::GetSize(image, &sizes.width, &sizes.height);
    sizes.depth = Gatan::DM::ImageGetDimensionSize(image, 2);
    // A fourth dimension must match too, or the shift would run past the
    // destination's end.
    sizes.fourth = Gatan::DM::ImageGetDimensionSize(image, 3);
    return sizes;
}

template <class R, class Call>
void ShiftViews(const Image& source, const Image& destination, Call& call)
{
    const tarn::dm::image<std::complex<R>> src(source, tarn::dm::kLockInPlace);
    tarn::dm::image<std::complex<R>> dst(destination, tarn::dm::kLockInPlace);
    if (SubareasOverlap(src, dst)) throw std::runtime_error(message::kSubareasOverlap);
    call(src, dst);
}

// Checks the images, makes the destination when none is given, and runs
// `call(src, dst)` on the views of the matching precision.
template <class Call>
dm_object* RunShifter(const char* counterName, dm_object* cimSrc, dm_object* cimDst, Call call)
{
    return ScriptCall(counterName, [&] {
        const Image source = Image::Borrow(cimSrc);
        const std::int16_t sourceType = Gatan::DM::GetDataType(source);
        const Sizes sourceSizes = SizesOf(source);
        const Image destination = cimDst ? Image::Borrow(cimDst) : Gatan::DM::ImageClone(source);
        const std::int16_t destinationType = Gatan::DM::GetDataType(destination);
        const Sizes destinationSizes = SizesOf(destination);

        const bool complex = sourceType == tarn::dm::kComplex8 || sourceType == tarn::dm::kComplex16;
        if (!complex || destinationType != sourceType) throw std::runtime_error(message::kAllSameComplex);
        if (sourceSizes != destinationSizes)
            throw std::runtime_error(message::kDifferentSizes);

        if (sourceType == tarn::dm::kComplex8)
            ShiftViews<float>(source, destination, call);
        else
            ShiftViews<double>(source, destination, call);
        Gatan::DM::ImageDataChanged(destination);
        return destination;
    });
}

}  // namespace

dm_object* ImageShifterDM(dm_object* cimSrc, std::int32_t nOrigW, std::int32_t nOrigH, std::int32_t nOrigD,
                          std::int32_t nCX, std::int32_t nCY, std::int32_t nCZ, double fShiftX, double fShiftY,
                          double fShiftZ, double fSign, dm_object* cimDst)
{
    return RunShifter("zep::ImageShifterDM", cimSrc, cimDst, [&](const auto& src, auto& dst) {
        ImageShifter(src, nOrigW, nOrigH, nOrigD, nCX, nCY, nCZ, fShiftX, fShiftY, fShiftZ, fSign, dst);
    });
}

dm_object* PureImageShifterDM(dm_object* cimSrc, std::int32_t nOrigW, std::int32_t nOrigH, std::int32_t nOrigD,
                              double fShiftX, double fShiftY, double fShiftZ, double fSign, dm_object* cimDst)
{
    return RunShifter("zep::PureImageShifterDM", cimSrc, cimDst, [&](const auto& src, auto& dst) {
        PureImageShifter(src, nOrigW, nOrigH, nOrigD, fShiftX, fShiftY, fShiftZ, fSign, dst);
    });
}

dm_object* ImageShifterXYDM(dm_object* cimSrc, std::int32_t nOrigW, std::int32_t nOrigH, std::int32_t nCX,
                            std::int32_t nCY, double fShiftX, double fShiftY, double fSign, dm_object* cimDst)
{
    return RunShifter("zep::ImageShifterXYDM", cimSrc, cimDst, [&](const auto& src, auto& dst) {
        ImageShifterXY(src, nOrigW, nOrigH, nCX, nCY, fShiftX, fShiftY, fSign, dst);
    });
}

dm_object* PureImageShifterXYDM(dm_object* cimSrc, std::int32_t nOrigW, std::int32_t nOrigH, double fShiftX,
                                double fShiftY, double fSign, dm_object* cimDst)
{
    return RunShifter("zep::PureImageShifterXYDM", cimSrc, cimDst, [&](const auto& src, auto& dst) {
        PureImageShifterXY(src, nOrigW, nOrigH, fShiftX, fShiftY, fSign, dst);
    });
}

// The script functions of one axis's shifters (X, Y or Z), counted as
// "zep::ImageShifter<Axis>DM" and "zep::PureImageShifter<Axis>DM".
#define ZEP_SINGLE_AXIS_SHIFTER_HANDLERS(Axis)                                                                  \
    dm_object* ImageShifter##Axis##DM(dm_object* cimSrc, std::int32_t nOrig, std::int32_t nC, double fShift,     \
                                      double fSign, dm_object* cimDst)                                         \
    {                                                                                                           \
        return RunShifter("zep::ImageShifter" #Axis "DM", cimSrc, cimDst, [&](const auto& src, auto& dst) {     \
            ImageShifter##Axis(src, nOrig, nC, fShift, fSign, dst);                                             \
        });                                                                                                     \
    }                                                                                                           \
    dm_object* PureImageShifter##Axis##DM(dm_object* cimSrc, std::int32_t nOrig, double fShift, double fSign,    \
                                          dm_object* cimDst)                                                    \
    {                                                                                                           \
        return RunShifter("zep::PureImageShifter" #Axis "DM", cimSrc, cimDst, [&](const auto& src, auto& dst) { \
            PureImageShifter##Axis(src, nOrig, fShift, fSign, dst);                                             \
        });                                                                                                     \
    }
ZEP_SINGLE_AXIS_SHIFTER_HANDLERS(X)
ZEP_SINGLE_AXIS_SHIFTER_HANDLERS(Y)
ZEP_SINGLE_AXIS_SHIFTER_HANDLERS(Z)
#undef ZEP_SINGLE_AXIS_SHIFTER_HANDLERS

}  // namespace zep
