#include "MatrixImages.h"

#include <omp.h>

#include <cstring>
#include <stdexcept>

#include <lapack.h>
#include <openblas-openmp/cblas.h>

#include "Messages.h"

namespace zep::linalg {

MatrixSize MatrixSizeOf(const Image& image)
{
    const std::uint32_t dims = Gatan::DM::ImageGetNumDimensions(image);
    std::uint32_t size[2] = {1, 1};
    for (std::uint32_t d = 0; d < dims; ++d) {
        const std::uint32_t n = Gatan::DM::ImageGetDimensionSize(image, d);
        if (d < 2)
            size[d] = n;
        else
            RequireSize(n == 1);  // a stack is not a matrix
    }
    RequireSize(size[0] >= 1 && size[1] >= 1 && size[0] <= INT32_MAX && size[1] <= INT32_MAX);
    return {static_cast<std::int32_t>(size[0]), static_cast<std::int32_t>(size[1])};
}

bool IsReal(const Image& image)
{
    return Gatan::DM::IsRealDataType(image, 4) || Gatan::DM::IsRealDataType(image, 8);
}

bool IsReal8(const Image& image) { return Gatan::DM::IsRealDataType(image, 8); }

void RequireSize(bool holds)
{
    if (!holds) throw std::runtime_error(message::kInvalidImageSize);
}

template <class T>
void CopyMatrix(const Matrix<const T>& from, const Matrix<T>& to)
{
    const std::size_t rowBytes = sizeof(T) * static_cast<std::size_t>(from.width);
    if (from.pitch == from.width && to.pitch == to.width) {
        std::memcpy(to.data, from.data, rowBytes * static_cast<std::size_t>(from.height));
        return;
    }
    for (std::int32_t y = 0; y < from.height; ++y) std::memcpy(to.row(y), from.row(y), rowBytes);
}

template void CopyMatrix(const Matrix<const float>&, const Matrix<float>&);
template void CopyMatrix(const Matrix<const double>&, const Matrix<double>&);

void UseBlasThreads()
{
    const int threads = omp_get_max_threads();
    if (openblas_get_num_threads() != threads) openblas_set_num_threads(threads);
}

void ThrowStatus(const char* source, int line, int info)
{
    throw std::runtime_error(message::SolverStatus(source, line, info));
}

void gesv(int n, int nrhs, float* a, int lda, int* ipiv, float* b, int ldb, int* info)
{
    LAPACK_sgesv(&n, &nrhs, a, &lda, ipiv, b, &ldb, info);
}

void gesv(int n, int nrhs, double* a, int lda, int* ipiv, double* b, int ldb, int* info)
{
    LAPACK_dgesv(&n, &nrhs, a, &lda, ipiv, b, &ldb, info);
}

void getrf(int m, int n, float* a, int lda, int* ipiv, int* info) { LAPACK_sgetrf(&m, &n, a, &lda, ipiv, info); }

void getrf(int m, int n, double* a, int lda, int* ipiv, int* info) { LAPACK_dgetrf(&m, &n, a, &lda, ipiv, info); }

void getri(int n, float* a, int lda, const int* ipiv, float* work, int lwork, int* info)
{
    LAPACK_sgetri(&n, a, &lda, ipiv, work, &lwork, info);
}

void getri(int n, double* a, int lda, const int* ipiv, double* work, int lwork, int* info)
{
    LAPACK_dgetri(&n, a, &lda, ipiv, work, &lwork, info);
}

void pbsv(char uplo, int n, int kd, int nrhs, float* ab, int ldab, float* b, int ldb, int* info)
{
    LAPACK_spbsv(&uplo, &n, &kd, &nrhs, ab, &ldab, b, &ldb, info);
}

void pbsv(char uplo, int n, int kd, int nrhs, double* ab, int ldab, double* b, int ldb, int* info)
{
    LAPACK_dpbsv(&uplo, &n, &kd, &nrhs, ab, &ldab, b, &ldb, info);
}

}  // namespace zep::linalg
