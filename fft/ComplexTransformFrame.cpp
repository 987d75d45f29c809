#include "ComplexTransformFrame.h"

#include <stdexcept>

#include "Messages.h"
#include "ScriptFrame.h"
#include "SubareasOverlap.h"

namespace zep {
namespace {

using Gatan::DM::Image;

void CheckSameSize(const Image& a, const Image& b)
{
    std::int32_t widthA = 0, heightA = 0, widthB = 0, heightB = 0;
    Gatan::DM::GetSize(a, &widthA, &heightA);
    Gatan::DM::GetSize(b, &widthB, &heightB);
    // The transform's lengths come from the source; a fourth dimension must
    // match as well, or the destination would be written past its end.
    if (widthA != widthB || heightA != heightB ||
        Gatan::DM::ImageGetDimensionSize(a, 2) != Gatan::DM::ImageGetDimensionSize(b, 2) ||
        Gatan::DM::ImageGetDimensionSize(a, 3) != Gatan::DM::ImageGetDimensionSize(b, 3))
        throw std::runtime_error(message::kDifferentSizes);
}

template <class T, class Algorithm>
void Transform(const Image& source, T scale, const Image& destination, Algorithm algorithm)
{
    const tarn::dm::image<std::complex<T>> src(source, tarn::dm::kLockInPlace);
    tarn::dm::image<std::complex<T>> dst(destination, tarn::dm::kLockInPlace);
    if (SubareasOverlap(src, dst)) throw std::runtime_error(message::kSubareasOverlap);
    algorithm(src, scale, dst);
}

}  // namespace

dm_object* RunComplexTransform(const char* counterName, const ComplexTransform& transform, dm_object* cimSrc,
                               double fScale, dm_object* cimDst)
{
    return ScriptCall(counterName, [&] {
        const Image source = Image::Borrow(cimSrc);
        const bool created = cimDst == nullptr;
        const Image destination = created ? Gatan::DM::ImageClone(source) : Image::Borrow(cimDst);

        const bool singlePrecision =
            Gatan::DM::IsComplexDataType(source, 8) && Gatan::DM::IsComplexDataType(destination, 8);
        const bool doublePrecision =
            Gatan::DM::IsComplexDataType(source, 16) && Gatan::DM::IsComplexDataType(destination, 16);
        if (!singlePrecision && !doublePrecision) throw std::runtime_error(message::kAllComplex8Or16);
        CheckSameSize(source, destination);

        // A created destination is calibrated before the transform, while it
        // is not yet locked.
        if (created) WriteTransformCalibration(source, destination, source, transform.calibration,
                                               transform.calibratedAxes);
        if (singlePrecision)
            Transform(source, static_cast<float>(fScale), destination, transform.runFloat);
        else
            Transform(source, fScale, destination, transform.runDouble);

        Gatan::DM::ImageDataChanged(destination);
        return destination;
    });
}

}  // namespace zep
