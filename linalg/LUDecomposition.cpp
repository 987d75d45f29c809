// The general linear system X·A = B, solved by LU factorisation (gesv).
#include <stdexcept>

#include "KernelMessages.h"
#include "MatrixImages.h"
#include "MatrixOperations.h"
#include "Messages.h"
#include "ScriptFrame.h"

namespace zep {
namespace {

using namespace linalg;

// Data types first, then sizes; returns whether the work is in double.
bool CheckSystem(const Image& imgA, const Image& imgB, const Image* imgDst)
{
    if (!IsReal(imgA) || !IsReal(imgB) ||
        (imgDst && Gatan::DM::GetDataType(*imgDst) != Gatan::DM::GetDataType(imgA)))
        throw std::runtime_error(message::kAllReal4Or8);
    const Block<const void> a = MatrixShapeOf(imgA), b = MatrixShapeOf(imgB);
    // A must be square and each row of B as long as A is high, or LAPACK
    // would read and write past the images' ends.
    RequireSize(Columns(a) == Rows(a) && Columns(b) == Rows(a));
    if (imgDst) RequireSize(SameShape(MatrixShapeOf(*imgDst), b));
    return IsReal8(imgA);
}

template <class T>
int Solve(const Image& copyOfA, const Image& imgDst)
{
    const tarn::dm::image<T> factors(copyOfA, tarn::dm::kLockDense), destination(imgDst, tarn::dm::kLockDense);
    return WithKernelMessages(
        [&] { return lumadex::kernels::SolveLinearSystem(MatrixOf(factors), MatrixOf(destination)); });
}

// The three-image form once checked.
int SolveInto(const Image& imgA, const Image& imgB, const Image& imgDst, bool doublePrecision)
{
    const Block<const void> shape = MatrixShapeOf(imgA);
    // The copy of A first: imgDst may be imgA itself.
    const Image copyOfA = Gatan::DM::RealImage("", doublePrecision ? 8 : 4,
                                                  static_cast<std::uint32_t>(Columns(shape)),
                                                  static_cast<std::uint32_t>(Rows(shape)));
    Gatan::DM::ConvertImageData(imgA, copyOfA);
    Gatan::DM::ConvertImageData(imgB, imgDst);
    return doublePrecision ? Solve<double>(copyOfA, imgDst) : Solve<float>(copyOfA, imgDst);
}

}  // namespace

int LUDecompositionF(Gatan::DM::Image imgA, Gatan::DM::Image imgB, Gatan::DM::Image imgDst)
{
    const bool doublePrecision = CheckSystem(imgA, imgB, &imgDst);
    return SolveInto(imgA, imgB, imgDst, doublePrecision);
}

Gatan::DM::Image LUDecompositionF(Gatan::DM::Image imgA, Gatan::DM::Image imgB)
{
    const bool doublePrecision = CheckSystem(imgA, imgB, nullptr);
    const Block<const void> shape = MatrixShapeOf(imgB);
    const std::uint32_t sizes[2] = {static_cast<std::uint32_t>(Columns(shape)), static_cast<std::uint32_t>(Rows(shape))};
    Image destination = Gatan::DM::NewImage("", Gatan::DM::ImageGetDataType(imgA), 2, sizes);
    if (const int info = SolveInto(imgA, imgB, destination, doublePrecision); info != 0)
        ThrowStatus(".\\LUDecomposition", 126, info);
    return destination;
}

std::int32_t LUDecompositionWithStatusFDM(dm_object* imgA, dm_object* imgB, dm_object* imgDst)
{
    return ScriptCall("zep::LUDecompositionWithStatusFDM", [&] {
        return LUDecompositionF(Image::Borrow(imgA), Image::Borrow(imgB), Image::Borrow(imgDst));
    });
}

dm_object* LUDecompositionFDM(dm_object* imgA, dm_object* imgB)
{
    return ScriptCall("zep::LUDecompositionFDM",
                      [&] { return LUDecompositionF(Image::Borrow(imgA), Image::Borrow(imgB)); });
}

}  // namespace zep
