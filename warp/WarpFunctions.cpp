// The warp block of script functions, in registration order: the affine
// warp, the five linear warps without an offset, then the five with one.
#include "AffineWarp.h"
#include "LinearWarp.h"
#include "Registration.h"

namespace zep {

ZEP_SCRIPT_FUNCTION_BLOCK(WarpFunctions, kWarp,
    {"ImageRef ", "AffineWarp(ImageRef imgSrc, ImageRef imgCoefs, ImageRef imgDst, long     fMean)",
     HandlerAddress(&AffineWarpDM)},
    {"ImageRef ", "LinearWarp(ImageRef imgSrc, ImageRef imgCoef, ImageRef imgDst)", HandlerAddress(&LinearWarpDM)},
    {"ImageRef ", "LinearWarpX(ImageRef imgSrc, double   fCoef, ImageRef imgDst)", HandlerAddress(&LinearWarpXDM)},
    {"ImageRef ", "LinearWarpY(ImageRef imgSrc, double   fCoef, ImageRef imgDst)", HandlerAddress(&LinearWarpYDM)},
    {"ImageRef ", "LinearWarpZ(ImageRef imgSrc, double   fCoef, ImageRef imgDst)", HandlerAddress(&LinearWarpZDM)},
    {"ImageRef ", "LinearWarpXY(ImageRef imgSrc, ImageRef imgCoef, ImageRef imgDst)",
     HandlerAddress(&LinearWarpXYDM)},
    {"ImageRef ", "LinearWarp(ImageRef imgSrc, ImageRef imgCoef, float    fOffset, ImageRef imgDst)",
     HandlerAddress(&LinearWarpOffsetDM)},
    {"ImageRef ", "LinearWarpX(ImageRef imgSrc, double   fCoef, float    fOffset, ImageRef imgDst)",
     HandlerAddress(&LinearWarpXOffsetDM)},
    {"ImageRef ", "LinearWarpY(ImageRef imgSrc, double   fCoef, float    fOffset, ImageRef imgDst)",
     HandlerAddress(&LinearWarpYOffsetDM)},
    {"ImageRef ", "LinearWarpZ(ImageRef imgSrc, double   fCoef, float    fOffset, ImageRef imgDst)",
     HandlerAddress(&LinearWarpZOffsetDM)},
    {"ImageRef ", "LinearWarpXY(ImageRef imgSrc, ImageRef imgCoef, float    fOffset, ImageRef imgDst)",
     HandlerAddress(&LinearWarpXYOffsetDM)})

}  // namespace zep
