// Calibration of a destination a transform creates: reciprocal units.
//
// For each calibrated dimension with source size N, scale s and units u the
// destination gets the scale 1 / (N s); forward transforms prefix "1/" to
// non-empty units, inverse ones take a leading "1/" away. The origin is 0,
// or N / 2 + 0.5 where the spectrum is centred.
#pragma once

#include <cstdint>
#include <string>

#include "HostObjects.h"

namespace zep {

enum class CalibrationRule { Forward, ForwardCentred, Inverse };

// Units of the transformed axis: "1/" + u forward, u without "1/" inverse.
std::string ReciprocalUnits(const std::string& units, bool forward);

// Writes the rule's calibration for every dimension the two images share
// (the smaller dimension count), the sizes N read from `sizeImage` along
// each; then copies all of the source's tags into the destination. Only the
// dimensions in `axes` (bit d for dimension d) are written.
void WriteTransformCalibration(const Gatan::DM::Image& source, const Gatan::DM::Image& destination,
                               const Gatan::DM::Image& sizeImage, CalibrationRule rule, unsigned axes = ~0u);

// One dimension's calibration, by the rule.
void WriteDimensionCalibration(const Gatan::DM::Image& source, const Gatan::DM::Image& destination,
                               std::int32_t dimension, std::int64_t length, CalibrationRule rule);

void CopyTags(const Gatan::DM::Image& source, const Gatan::DM::Image& destination);

}  // namespace zep
