// The Fourier block of script functions, in registration order.
#include "AxisTransforms.h"
#include "PureFFT.h"
#include "RealTransforms.h"
#include "Registration.h"
#include "SpectrumLayouts.h"

namespace zep {

std::span<const ScriptFunctionEntry> FourierFunctions()
{
    static const ScriptFunctionEntry kFunctions[] = {
        {"ComplexImagePtr ", "HalfPureToFull(ComplexImagePtr cimSrc, ComplexImagePtr cimDst)",
         HandlerAddress(&HalfPureToFullDM)},
        {"ComplexImagePtr ", "HalfPureToHalf(ComplexImagePtr cimSrc, ComplexImagePtr cimDst)",
         HandlerAddress(&HalfPureToHalfDM)},
        {"ComplexImagePtr ", "FullToHalfPure(ComplexImagePtr cimSrc, ComplexImagePtr cimDst)",
         HandlerAddress(&FullToHalfPureDM)},
        {"ComplexImagePtr ", "HalfToHalfPure(ComplexImagePtr cimSrc, ComplexImagePtr cimDst)",
         HandlerAddress(&HalfToHalfPureDM)},
        {"ComplexImagePtr ", "PureFFT(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&PureFFTDM)},
        {"ComplexImagePtr ", "PureIFFT(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&PureIFFTDM)},
        {"ComplexImagePtr ", "HalfPureFFT(ImageRef imgSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&HalfPureFFTDM)},
        {"ImageRef ", "HalfPureIFFT(ComplexImagePtr cimSrc, double fScale, ImageRef imgDst)",
         HandlerAddress(&HalfPureIFFTDM)},
        {"ComplexImagePtr ", "HalfFFT(ImageRef imgSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&HalfFFTDM)},
        {"ImageRef ", "HalfIFFT(ComplexImagePtr cimSrc, double fScale, ImageRef imgDst)", HandlerAddress(&HalfIFFTDM)},
        {"ComplexImagePtr ", "RealFFT(ImageRef imgSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&RealFFTDM)},
        {"ImageRef ", "RealIFFT(ComplexImagePtr cimSrc, double fScale, ImageRef imgDst)", HandlerAddress(&RealIFFTDM)},
        {"float ", "IsHermitian(ImageRef imgSrc)", HandlerAddress(&IsHermitianDM)},
        {"ComplexImagePtr ", "PureFFTXY(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&PureFFTXYDM)},
        {"ComplexImagePtr ", "PureIFFTXY(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&PureIFFTXYDM)},
        {"ComplexImagePtr ", "PureFFTX(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&PureFFTXDM)},
        {"ComplexImagePtr ", "PureIFFTX(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&PureIFFTXDM)},
        {"ComplexImagePtr ", "HalfPureFFTX(ImageRef imgSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&HalfPureFFTXDM)},
        {"ImageRef ", "HalfPureIFFTX(ComplexImagePtr cimSrc, double fScale, ImageRef imgDst)",
         HandlerAddress(&HalfPureIFFTXDM)},
        {"ComplexImagePtr ", "PureFFTY(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&PureFFTYDM)},
        {"ComplexImagePtr ", "PureIFFTY(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&PureIFFTYDM)},
        {"ComplexImagePtr ", "PureFFTZ(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&PureFFTZDM)},
        {"ComplexImagePtr ", "PureIFFTZ(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&PureIFFTZDM)},
        {"ComplexImagePtr ", "HalfPureFFTZ(ImageRef imgSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&HalfPureFFTZDM)},
        {"ImageRef ", "HalfPureIFFTZ(ComplexImagePtr cimSrc, double fScale, ImageRef imgDst)",
         HandlerAddress(&HalfPureIFFTZDM)},
    };
    return kFunctions;
}

}  // namespace zep
