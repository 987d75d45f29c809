// The script-call frame shared by the complex-to-complex transforms.
//
// Arguments (cimSrc, fScale, cimDst). A null destination is a clone of the
// source, calibrated by the transform's rule. Source and destination must
// both be Complex 8 or both Complex 16, of equal x, y and z sizes, and must
// not be different, overlapping sub-areas of one image. The pixels are locked
// where they lie, so sub-areas are transformed with their parent's pitches.
#pragma once

#include <complex>

#include "ImageUtility.h"
#include "TransformCalibration.h"

namespace zep {

struct ComplexTransform {
    CalibrationRule calibration;
    using FloatAlgorithm = tarn::dm::image<std::complex<float>>& (*)(const tarn::dm::image<std::complex<float>>&,
                                                                      float, tarn::dm::image<std::complex<float>>&);
    using DoubleAlgorithm = tarn::dm::image<std::complex<double>>& (*)(
        const tarn::dm::image<std::complex<double>>&, double, tarn::dm::image<std::complex<double>>&);
    FloatAlgorithm runFloat;
    DoubleAlgorithm runDouble;
    // The dimensions (bit d for dimension d) whose calibration a created
    // destination gets by the rule; the others keep the clone's. Transforms
    // along some axes only recalibrate those.
    unsigned calibratedAxes = kAllAxes;
    static constexpr unsigned kAllAxes = ~0u;
};

// Runs `transform` as the script call counted under `counterName`; returns
// the destination (a new reference), or null after a reported failure.
dm_object* RunComplexTransform(const char* counterName, const ComplexTransform& transform, dm_object* cimSrc,
                               double fScale, dm_object* cimDst);

// Defines the script function Name##DM (counted as "zep::Name##DM") over the
// templates Name<float> and Name<double>, with a created destination
// calibrated by CalibrationRule::Rule along `Axes`.
#define ZEP_COMPLEX_TRANSFORM_HANDLER(Name, Rule, Axes)                                                        \
    dm_object* Name##DM(dm_object* cimSrc, double fScale, dm_object* cimDst)                                   \
    {                                                                                                           \
        static constexpr ComplexTransform kTransform = {CalibrationRule::Rule, &Name<float>, &Name<double>, Axes}; \
        return RunComplexTransform("zep::" #Name "DM", kTransform, cimSrc, fScale, cimDst);                     \
    }

}  // namespace zep
