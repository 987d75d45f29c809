// The inverse of a square matrix: LU factorisation and inversion in LAPACK.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "MatrixImages.h"
#include "MatrixOperations.h"
#include "ScriptFrame.h"

namespace zep {
namespace {

using namespace linalg;

template <class T>
void FactorAndInvert(int m, int n, T* a, int lda, int* ipiv, T* work, int lwork, int* info)
{
    UseBlasThreads();
    linalg::getrf(m, n, a, lda, ipiv, info);
    if (*info == 0) linalg::getri(n, a, lda, ipiv, work, lwork, info);
}

template <class T>
int Invert(const Image& imgA, const Image& imgDst)
{
    const tarn::dm::image<T> destination(imgDst, tarn::dm::kLockDense);
    const Matrix<T> dst = MatrixOf(destination);
    {
        const tarn::dm::image<T> source(imgA, tarn::dm::kLockDense);
        const Matrix<const T> src = MatrixOf(source);
        if (src.data != dst.data) CopyMatrix(src, dst);  // else the same image: inverted in place
    }

    // LAPACK inverts the transposed view, which stores back as the inverse.
    const int n = dst.height;
    std::vector<int> ipiv(static_cast<std::size_t>(n));
    int info = 0;
    UseBlasThreads();
    linalg::getrf(n, n, dst.data, dst.pitch, ipiv.data(), &info);
    if (info != 0) return info;
    // getri runs blocked, with level-3 BLAS, only with the workspace it asks
    // for; with n elements it would sweep column by column, several times
    // slower.
    T query = 0;
    linalg::getri(n, dst.data, dst.pitch, ipiv.data(), &query, -1, &info);
    const double asked = std::ceil(static_cast<double>(query));
    const int lwork = std::max(n, asked < INT32_MAX ? static_cast<int>(asked) : n);
    std::vector<T> work(static_cast<std::size_t>(lwork));
    linalg::getri(n, dst.data, dst.pitch, ipiv.data(), work.data(), lwork, &info);
    return info;
}

}  // namespace

void getri(int m, int n, float* a, int lda, int* ipiv, float* work, int /*lwork*/, int* info)
{
    FactorAndInvert(m, n, a, lda, ipiv, work, n, info);
}

void getri(int m, int n, double* a, int lda, int* ipiv, double* work, int /*lwork*/, int* info)
{
    FactorAndInvert(m, n, a, lda, ipiv, work, n, info);
}

int MatrixInverse(Gatan::DM::Image imgA, Gatan::DM::Image imgDst)
{
    const bool single = Gatan::DM::IsRealDataType(imgA, 4) && Gatan::DM::IsRealDataType(imgDst, 4);
    const bool dual = IsReal8(imgA) && IsReal8(imgDst);
    if (!single && !dual) throw std::runtime_error("All data type should be Real 4 or Real 8.");
    const MatrixSize size = MatrixSizeOf(imgA);
    // LAPACK would read a non-square matrix's rows past the image's end.
    RequireSize(MatrixSizeOf(imgDst) == size && size.width == size.height);
    return dual ? Invert<double>(imgA, imgDst) : Invert<float>(imgA, imgDst);
}

std::int32_t MatrixInverseDM(dm_object* imgA, dm_object* imgDst)
{
    return ScriptCall("zep::MatrixInverseDM",
                      [&] { return MatrixInverse(Image::Borrow(imgA), Image::Borrow(imgDst)); });
}

}  // namespace zep
