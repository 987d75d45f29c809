// The Fourier block of script functions, in registration order.
#include "PureFFT.h"
#include "Registration.h"

namespace zep {

std::span<const ScriptFunctionEntry> FourierFunctions()
{
    static const ScriptFunctionEntry kFunctions[] = {
        {"ComplexImagePtr ", "PureFFT(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&PureFFTDM)},
        {"ComplexImagePtr ", "PureIFFT(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)",
         HandlerAddress(&PureIFFTDM)},
    };
    return kFunctions;
}

}  // namespace zep
