// The Fourier block of script functions, in registration order.
#include "CentredFFT.h"
#include "ImageShifter.h"
#include "PureFFT.h"
#include "Registration.h"

namespace zep {

std::span<const ScriptFunctionEntry> FourierFunctions()
{
    static const ScriptFunctionEntry kFunctions[] = {
        {"ComplexImagePtr ",
         "ImageShifter(ComplexImagePtr cimSrc, long nOrigW, long nOrigH, long nOrigD, long nCX, long nCY, long nCZ, "
         "double fShiftX, double fShiftY, double fShiftZ, double fSign, ComplexImagePtr cimDst)",
         HandlerAddress(&ImageShifterDM)},
        {"ComplexImagePtr ",
         "PureImageShifter(ComplexImagePtr cimSrc, long nOrigW, long nOrigH, long nOrigD, double fShiftX, "
         "double fShiftY, double fShiftZ, double fSign, ComplexImagePtr cimDst)",
         HandlerAddress(&PureImageShifterDM)},
        {"ComplexImagePtr ", "PureFFT(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&PureFFTDM)},
        {"ComplexImagePtr ", "PureIFFT(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&PureIFFTDM)},
        {"ComplexImagePtr ", "FFT(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&FFTDM)},
        {"ComplexImagePtr ", "IFFT(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&IFFTDM)},
        {"ComplexImagePtr ",
         "ImageShifterXY(ComplexImagePtr cimSrc, long nOrigW, long nOrigH, long nCX, long nCY, double fShiftX, "
         "double fShiftY, double fSign, ComplexImagePtr cimDst)",
         HandlerAddress(&ImageShifterXYDM)},
        {"ComplexImagePtr ",
         "PureImageShifterXY(ComplexImagePtr cimSrc, long nOrigW, long nOrigH, double fShiftX, double fShiftY, "
         "double fSign, ComplexImagePtr cimDst)",
         HandlerAddress(&PureImageShifterXYDM)},
        {"ComplexImagePtr ",
         "ImageShifterX(ComplexImagePtr cimSrc, long nOrigW, long nCX, double fShiftX, double fSign, "
         "ComplexImagePtr cimDst)",
         HandlerAddress(&ImageShifterXDM)},
        {"ComplexImagePtr ",
         "PureImageShifterX(ComplexImagePtr cimSrc, long nOrigW, double fShiftX, double fSign, ComplexImagePtr cimDst)",
         HandlerAddress(&PureImageShifterXDM)},
        {"ComplexImagePtr ",
         "ImageShifterY(ComplexImagePtr cimSrc, long nOrigH, long nCY, double fShiftY, double fSign, "
         "ComplexImagePtr cimDst)",
         HandlerAddress(&ImageShifterYDM)},
        {"ComplexImagePtr ",
         "PureImageShifterY(ComplexImagePtr cimSrc, long nOrigH, double fShiftY, double fSign, ComplexImagePtr cimDst)",
         HandlerAddress(&PureImageShifterYDM)},
        {"ComplexImagePtr ",
         "ImageShifterZ(ComplexImagePtr cimSrc, long nOrigD, long nCZ, double fShiftZ, double fSign, "
         "ComplexImagePtr cimDst)",
         HandlerAddress(&ImageShifterZDM)},
        {"ComplexImagePtr ",
         "PureImageShifterZ(ComplexImagePtr cimSrc, long nOrigD, double fShiftZ, double fSign, ComplexImagePtr cimDst)",
         HandlerAddress(&PureImageShifterZDM)},
    };
    return kFunctions;
}

}  // namespace zep
