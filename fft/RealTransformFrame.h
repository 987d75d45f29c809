// The script-call frame shared by the transforms between real images and
// half-pure spectra (whole-image, half, real, and along x or z).
//
// Arguments (source, fScale, destination). A null destination is created as
// "FFT of " (forward) or "IFFT of " (inverse) + the source's name, complex
// for forward and real for inverse transforms, of the source's precision,
// and gets reciprocal calibrations and the source's tags. Types are checked
// (message::kInvalidImageType), then sizes, before anything is written.
#pragma once

#include <cstdint>

#include "HostObjects.h"
#include "Messages.h"
#include "TransformImages.h"
#include "TransformCalibration.h"

namespace zep {

struct RealTransformFrame {
    bool forward;  // real image to spectrum
    Extent (*createdSizes)(const Extent& source);
    bool (*typesFit)(int sourceCode, int destinationCode);
    bool (*sizesFit)(const Extent& source, const Extent& destination);
    const char* sizeMessage;
    // Calibration of a created destination, for x, y and z; a dimension
    // outside `calibrated` (bit d for dimension d) is left as created.
    CalibrationRule rules[3];
    unsigned calibrated;
    // Builds the views and runs the transform (the scale as the source's
    // precision wants it).
    void (*run)(const Gatan::DM::Image& source, const Gatan::DM::Image& destination, double scale);
    // A destination the frame creates has at most three dimensions, so with
    // none given a source with a fourth is refused with this message, the
    // transform's own dimension limit (the half layout's is 2-D).
    const char* dimensionMessage = message::kUpTo3D;
};

// Runs the transform of `frame` as the script call counted under
// `counterName`; returns the destination (a new reference), or null after a
// reported failure.
dm_object* RunRealTransform(const char* counterName, const RealTransformFrame& frame, dm_object* source,
                            double fScale, dm_object* destination);

// Defines the script function Name##DM (counted as "zep::Name##DM") over
// the frame `Frame`.
#define ZEP_REAL_TRANSFORM_HANDLER(Name, Frame)                                    \
    dm_object* Name##DM(dm_object* source, double fScale, dm_object* destination) \
    {                                                                              \
        return RunRealTransform("zep::" #Name "DM", Frame, source, fScale, destination); \
    }

// Type rules: the real type and the complex type of one precision.
bool RealToComplex(int sourceCode, int destinationCode);  // Real 4 -> Complex 8, Real 8 -> Complex 16
bool ComplexToReal(int sourceCode, int destinationCode);  // the reverse

}  // namespace zep
