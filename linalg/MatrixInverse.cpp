// The inverse of a square matrix: LU factorisation and inversion in LAPACK.
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "MatrixImages.h"
#include "MatrixOperations.h"
#include "Messages.h"
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

// One thread: getrf, then getri in place. getri runs blocked, with level-3
// BLAS, only with the workspace it asks for; with n elements it would sweep
// column by column, several times slower.
template <class T>
int InvertInPlace(const Matrix<T>& dst, int* ipiv)
{
    const int n = dst.height;
    int info = 0;
    linalg::getrf(n, n, dst.data, dst.pitch, ipiv, &info);
    if (info != 0) return info;
    T query = 0;
    linalg::getri(n, dst.data, dst.pitch, ipiv, &query, -1, &info);
    const double asked = std::ceil(static_cast<double>(query));
    const int lwork = std::max(n, asked < INT32_MAX ? static_cast<int>(asked) : n);
    std::vector<T> work(static_cast<std::size_t>(lwork));
    linalg::getri(n, dst.data, dst.pitch, ipiv, work.data(), lwork, &info);
    return info;
}

// Several threads: gesv against the identity. getri's many mid-sized steps
// share out badly among threads (measured: 1.5 to 3 times slower than this
// with two threads, though a third faster with one); gesv's few large ones
// share out well. The status is getrf's in both ways.
template <class T>
int SolveForInverse(const Matrix<const T>& a, const Matrix<T>& dst, int* ipiv)
{
    const int n = dst.height;
    std::vector<T> factors(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
    CopyMatrix(a, Matrix<T>{factors.data(), n, n, n});
    for (int y = 0; y < n; ++y) {
        std::fill(dst.row(y), dst.row(y) + n, T(0));
        dst.row(y)[y] = T(1);
    }
    int info = 0;
    linalg::gesv(n, n, factors.data(), n, ipiv, dst.data, dst.pitch, &info);
    return info;
}

// LAPACK inverts the transposed view, which stores back as the inverse.
template <class T>
int Invert(const Image& imgA, const Image& imgDst)
{
    const tarn::dm::image<T> destination(imgDst, tarn::dm::kLockDense);
    const Matrix<T> dst = MatrixOf(destination);
    std::vector<int> ipiv(static_cast<std::size_t>(dst.height));
    UseBlasThreads();
    const tarn::dm::image<T> source(imgA, tarn::dm::kLockDense);
    const Matrix<const T> src = MatrixOf(source);
    if (omp_get_max_threads() > 1) return SolveForInverse(src, dst, ipiv.data());
    if (src.data != dst.data) CopyMatrix(src, dst);  // else the same image: inverted in place
    return InvertInPlace(dst, ipiv.data());
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
    const bool singlePrecision = Gatan::DM::IsRealDataType(imgA, 4) && Gatan::DM::IsRealDataType(imgDst, 4);
    const bool doublePrecision = IsReal8(imgA) && IsReal8(imgDst);
    if (!singlePrecision && !doublePrecision) throw std::runtime_error(message::kAllReal4Or8);
    const MatrixSize size = MatrixSizeOf(imgA);
    // LAPACK would read a non-square matrix's rows past the image's end.
    RequireSize(MatrixSizeOf(imgDst) == size && size.width == size.height);
    return doublePrecision ? Invert<double>(imgA, imgDst) : Invert<float>(imgA, imgDst);
}

std::int32_t MatrixInverseDM(dm_object* imgA, dm_object* imgDst)
{
    return ScriptCall("zep::MatrixInverseDM",
                      [&] { return MatrixInverse(Image::Borrow(imgA), Image::Borrow(imgDst)); });
}

}  // namespace zep
