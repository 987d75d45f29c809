#include "TransformCalibration.h"

#include <algorithm>

#include "HostImageFunctions.h"

namespace zep {

std::string ReciprocalUnits(const std::string& units, bool forward)
{
    if (forward) return units.empty() ? units : "1/" + units;
    return units.starts_with("1/") ? units.substr(2) : units;
}

void WriteDimensionCalibration(const Gatan::DM::Image& source, const Gatan::DM::Image& destination,
                               std::int32_t dimension, std::int64_t length, CalibrationRule rule)
{
    const Gatan::DM::DimensionCalibration from = Gatan::DM::ImageGetDimensionCalibration(source, dimension);
    Gatan::DM::DimensionCalibration to;
    to.scale = 1.0f / (static_cast<float>(length) * from.scale);
    to.origin = rule == CalibrationRule::ForwardCentred ? static_cast<float>(length / 2) + 0.5f : 0.0f;
    to.units = ReciprocalUnits(from.units, rule != CalibrationRule::Inverse);
    Gatan::DM::ImageSetDimensionCalibration(destination, dimension, to);
}

void CopyTags(const Gatan::DM::Image& source, const Gatan::DM::Image& destination)
{
    Gatan::DM::TagGroupCopyTagsFrom(Gatan::DM::ImageGetTagGroup(destination), Gatan::DM::ImageGetTagGroup(source));
}

void WriteTransformCalibration(const Gatan::DM::Image& source, const Gatan::DM::Image& destination,
                               const Gatan::DM::Image& sizeImage, CalibrationRule rule, unsigned axes)
{
    const std::uint32_t shared =
        std::min(Gatan::DM::ImageGetNumDimensions(source), Gatan::DM::ImageGetNumDimensions(destination));
    for (std::uint32_t d = 0; d < shared; ++d)
        if ((axes >> d) & 1u)
            WriteDimensionCalibration(source, destination, static_cast<std::int32_t>(d),
                                      Gatan::DM::ImageGetDimensionSize(sizeImage, d), rule);
    CopyTags(source, destination);
}

}  // namespace zep
