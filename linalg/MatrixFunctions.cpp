// The matrix block of script functions, in registration order.
#include "MatrixOperations.h"
#include "Registration.h"

namespace zep {

ZEP_SCRIPT_FUNCTION_BLOCK(MatrixFunctions, kMatrix,
    {"ImageRef ",
     "MatrixMultiply(bool isColMajor, bool eTransA, bool eTransB, double fAlpha, ImageRef imgA, ImageRef imgB, "
     "double fBeta, ImageRef imgC)",
     HandlerAddress(&MatrixMultiplyDM)},
    {"long ", "MatrixInverse(ImageRef imgA, ImageRef imgDst)", HandlerAddress(&MatrixInverseDM)},
    {"long ", "LUDecompositionF(ImageRef imgA, ImageRef imgB, ImageRef imgDst)",
     HandlerAddress(&LUDecompositionWithStatusFDM)},
    {"ImageRef ", "LUDecompositionF(ImageRef imgA, ImageRef imgB)", HandlerAddress(&LUDecompositionFDM)},
    {"ImageRef ", "BandedCholDecompositionF(ImageRef imgA, ImageRef imgB, char uplo, long kd)",
     HandlerAddress(&BandedCholDecompositionFDM)})

}  // namespace zep
