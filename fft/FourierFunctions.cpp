// The Fourier block of script functions, in registration order.
#include "AxisTransforms.h"
#include "CentredFFT.h"
#include "ImageShifter.h"
#include "PureFFT.h"
#include "RealTransforms.h"
#include "Registration.h"
#include "HalfFullLayouts.h"

namespace zep {

ZEP_SCRIPT_FUNCTION_BLOCK(FourierFunctions, kFourier,
    {"ComplexImagePtr ",
     "ImageShifter(ComplexImagePtr cimSrc, long nOrigW, long nOrigH, long nOrigD, long nCX, long nCY, long nCZ, "
     "double fShiftX, double fShiftY, double fShiftZ, double fSign, ComplexImagePtr cimDst)",
     HandlerAddress(&ImageShifterDM)},
    {"ComplexImagePtr ",
     "PureImageShifter(ComplexImagePtr cimSrc, long nOrigW, long nOrigH, long nOrigD, double fShiftX, "
     "double fShiftY, double fShiftZ, double fSign, ComplexImagePtr cimDst)",
     HandlerAddress(&PureImageShifterDM)},
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
    {"ComplexImagePtr ", "FFT(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
     HandlerAddress(&FFTDM)},
    {"ComplexImagePtr ", "IFFT(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
     HandlerAddress(&IFFTDM)},
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
    {"ComplexImagePtr ",
     "ImageShifterXY(ComplexImagePtr cimSrc, long nOrigW, long nOrigH, long nCX, long nCY, double fShiftX, "
     "double fShiftY, double fSign, ComplexImagePtr cimDst)",
     HandlerAddress(&ImageShifterXYDM)},
    {"ComplexImagePtr ",
     "PureImageShifterXY(ComplexImagePtr cimSrc, long nOrigW, long nOrigH, double fShiftX, double fShiftY, "
     "double fSign, ComplexImagePtr cimDst)",
     HandlerAddress(&PureImageShifterXYDM)},
    {"ComplexImagePtr ", "PureFFTXY(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
     HandlerAddress(&PureFFTXYDM)},
    {"ComplexImagePtr ", "PureIFFTXY(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
     HandlerAddress(&PureIFFTXYDM)},
    {"ComplexImagePtr ",
     "ImageShifterX(ComplexImagePtr cimSrc, long nOrigW, long nCX, double fShiftX, double fSign, "
     "ComplexImagePtr cimDst)",
     HandlerAddress(&ImageShifterXDM)},
    {"ComplexImagePtr ",
     "PureImageShifterX(ComplexImagePtr cimSrc, long nOrigW, double fShiftX, double fSign, ComplexImagePtr cimDst)",
     HandlerAddress(&PureImageShifterXDM)},
    {"ComplexImagePtr ", "PureFFTX(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
     HandlerAddress(&PureFFTXDM)},
    {"ComplexImagePtr ", "PureIFFTX(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
     HandlerAddress(&PureIFFTXDM)},
    {"ComplexImagePtr ", "HalfPureFFTX(ImageRef imgSrc, double fScale, ComplexImagePtr cimDst)",
     HandlerAddress(&HalfPureFFTXDM)},
    {"ImageRef ", "HalfPureIFFTX(ComplexImagePtr cimSrc, double fScale, ImageRef imgDst)",
     HandlerAddress(&HalfPureIFFTXDM)},
    {"ComplexImagePtr ",
     "ImageShifterY(ComplexImagePtr cimSrc, long nOrigH, long nCY, double fShiftY, double fSign, "
     "ComplexImagePtr cimDst)",
     HandlerAddress(&ImageShifterYDM)},
    {"ComplexImagePtr ",
     "PureImageShifterY(ComplexImagePtr cimSrc, long nOrigH, double fShiftY, double fSign, ComplexImagePtr cimDst)",
     HandlerAddress(&PureImageShifterYDM)},
    {"ComplexImagePtr ", "PureFFTY(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
     HandlerAddress(&PureFFTYDM)},
    {"ComplexImagePtr ", "PureIFFTY(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
     HandlerAddress(&PureIFFTYDM)},
    {"ComplexImagePtr ",
     "ImageShifterZ(ComplexImagePtr cimSrc, long nOrigD, long nCZ, double fShiftZ, double fSign, "
     "ComplexImagePtr cimDst)",
     HandlerAddress(&ImageShifterZDM)},
    {"ComplexImagePtr ",
     "PureImageShifterZ(ComplexImagePtr cimSrc, long nOrigD, double fShiftZ, double fSign, ComplexImagePtr cimDst)",
     HandlerAddress(&PureImageShifterZDM)},
    {"ComplexImagePtr ", "PureFFTZ(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
     HandlerAddress(&PureFFTZDM)},
    {"ComplexImagePtr ", "PureIFFTZ(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
     HandlerAddress(&PureIFFTZDM)},
    {"ComplexImagePtr ", "HalfPureFFTZ(ImageRef imgSrc, double fScale, ComplexImagePtr cimDst)",
     HandlerAddress(&HalfPureFFTZDM)},
    {"ImageRef ", "HalfPureIFFTZ(ComplexImagePtr cimSrc, double fScale, ImageRef imgDst)",
     HandlerAddress(&HalfPureIFFTZDM)})

}  // namespace zep
