// The inverse of a square matrix: LU factorisation and inversion in LAPACK,
// through the inverse kernel.
#include <stdexcept>

#include "KernelMessages.h"
#include "MatrixImages.h"
#include "MatrixOperations.h"
#include "Messages.h"
#include "ScriptFrame.h"

namespace zep {
namespace {

using namespace linalg;

// LAPACK inverts the transposed view, which stores back as the inverse.
template <class T>
int Invert(const Image& imgA, const Image& imgDst)
{
    const tarn::dm::image<T> destination(imgDst, tarn::dm::kLockDense);
    const tarn::dm::image<T> source(imgA, tarn::dm::kLockDense);
    return WithKernelMessages(
        [&] { return lumadex::kernels::InvertMatrix<T>(MatrixOf(source), MatrixOf(destination)); });
}

}  // namespace

void getri(int m, int n, float* a, int lda, int* ipiv, float* work, int lwork, int* info)
{
    lumadex::kernels::FactorAndInvert(m, n, a, lda, ipiv, work, lwork, info);
}

void getri(int m, int n, double* a, int lda, int* ipiv, double* work, int lwork, int* info)
{
    lumadex::kernels::FactorAndInvert(m, n, a, lda, ipiv, work, lwork, info);
}

int MatrixInverse(Gatan::DM::Image imgA, Gatan::DM::Image imgDst)
{
    const bool singlePrecision = Gatan::DM::IsRealDataType(imgA, 4) && Gatan::DM::IsRealDataType(imgDst, 4);
    const bool doublePrecision = IsReal8(imgA) && IsReal8(imgDst);
    if (!singlePrecision && !doublePrecision) throw std::runtime_error(message::kAllReal4Or8);
    const Block<const void> shape = MatrixShapeOf(imgA);
    // LAPACK would read a non-square matrix's rows past the image's end.
    RequireSize(SameShape(MatrixShapeOf(imgDst), shape) && Rows(shape) == Columns(shape));
    return doublePrecision ? Invert<double>(imgA, imgDst) : Invert<float>(imgA, imgDst);
}

std::int32_t MatrixInverseDM(dm_object* imgA, dm_object* imgDst)
{
    return ScriptCall("zep::MatrixInverseDM",
                      [&] { return MatrixInverse(Image::Borrow(imgA), Image::Borrow(imgDst)); });
}

}  // namespace zep
