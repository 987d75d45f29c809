// The matrix product, through CBLAS gemm on the images' own pixels.
#include <openblas-openmp/cblas.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "MatrixImages.h"
#include "MatrixOperations.h"
#include "Messages.h"
#include "ScriptFrame.h"

namespace zep {
namespace {

using namespace linalg;

// M x K times K x N, as the reading and the transposition flags make the
// images into matrices.
struct ProductShape {
    std::int32_t m, n, k;
    bool fits;  // op(B) has K rows
};

std::pair<std::int32_t, std::int32_t> RowsAndColumns(MatrixSize size, bool isColMajor, bool transposed)
{
    std::pair<std::int32_t, std::int32_t> shape =
        isColMajor ? std::pair{size.width, size.height} : std::pair{size.height, size.width};
    if (transposed) std::swap(shape.first, shape.second);
    return shape;
}

ProductShape ShapeOf(bool isColMajor, bool eTransA, bool eTransB, MatrixSize a, MatrixSize b)
{
    const auto [aRows, aColumns] = RowsAndColumns(a, isColMajor, eTransA);
    const auto [bRows, bColumns] = RowsAndColumns(b, isColMajor, eTransB);
    return {aRows, bColumns, aColumns, bRows == aColumns};
}

void gemm(CBLAS_ORDER order, CBLAS_TRANSPOSE ta, CBLAS_TRANSPOSE tb, int m, int n, int k, float alpha,
          const float* a, int lda, const float* b, int ldb, float beta, float* c, int ldc)
{
    cblas_sgemm(order, ta, tb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}

void gemm(CBLAS_ORDER order, CBLAS_TRANSPOSE ta, CBLAS_TRANSPOSE tb, int m, int n, int k, double alpha,
          const double* a, int lda, const double* b, int ldb, double beta, double* c, int ldc)
{
    cblas_dgemm(order, ta, tb, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}

// A dense copy of `m`, held by `storage`.
template <class T>
Matrix<const T> DenseCopy(const Matrix<const T>& m, std::vector<T>& storage)
{
    storage.resize(static_cast<std::size_t>(m.width) * static_cast<std::size_t>(m.height));
    const Matrix<T> copy{storage.data(), m.width, m.height, m.width};
    CopyMatrix(m, copy);
    return copy;
}

template <class T>
void Multiply(const ProductShape& shape, bool isColMajor, bool eTransA, bool eTransB, T alpha, const Image& imgA,
              const Image& imgB, T beta, const Image& imgC, bool clearC)
{
    const tarn::dm::image<T> viewA(imgA, tarn::dm::kLockDense), viewB(imgB, tarn::dm::kLockDense);
    const tarn::dm::image<T> viewC(imgC, tarn::dm::kLockDense);
    const Matrix<T> c = MatrixOf(viewC);
    Matrix<const T> a = MatrixOf(viewA), b = MatrixOf(viewB);
    // BLAS reads the factors while it writes the product: a factor that
    // shares memory with the product (the same image given twice) is read
    // from a copy.
    std::vector<T> copyA, copyB;
    if (Overlap(a, c)) a = DenseCopy(a, copyA);
    if (Overlap(b, c)) b = DenseCopy(b, copyB);
    // A new product starts as zeros: with a finite beta, beta·0 = 0 and gemm
    // need not read it at all; else it is cleared so that beta·0 is what
    // IEEE says.
    if (clearC && std::isfinite(beta))
        beta = 0;
    else if (clearC)
        for (std::int32_t y = 0; y < c.height; ++y) std::memset(c.row(y), 0, sizeof(T) * std::size_t(c.width));

    UseBlasThreads();
    gemm(isColMajor ? CblasColMajor : CblasRowMajor, eTransA ? CblasTrans : CblasNoTrans,
         eTransB ? CblasTrans : CblasNoTrans, shape.m, shape.n, shape.k, alpha, a.data, a.pitch, b.data, b.pitch,
         beta, c.data, c.pitch);
}

// The product into imgC; a `fresh` imgC (made by the handler) starts as zeros.
void MultiplyInto(bool isColMajor, bool eTransA, bool eTransB, double fAlpha, const Image& imgA, const Image& imgB,
                  double fBeta, const Image& imgC, bool fresh)
{
    if (!IsReal(imgA) || !IsReal(imgB) || !IsReal(imgC)) throw std::runtime_error(message::kAllReal);
    const std::int16_t type = Gatan::DM::GetDataType(imgA);
    if (Gatan::DM::GetDataType(imgB) != type || Gatan::DM::GetDataType(imgC) != type)
        throw std::runtime_error(message::kAllSameType);

    const ProductShape shape = ShapeOf(isColMajor, eTransA, eTransB, MatrixSizeOf(imgA), MatrixSizeOf(imgB));
    const auto [cRows, cColumns] = RowsAndColumns(MatrixSizeOf(imgC), isColMajor, false);
    if (!shape.fits || cRows != shape.m || cColumns != shape.n)
        throw std::runtime_error(message::kDifferentSizes);

    if (type == tarn::dm::kReal8)
        Multiply<double>(shape, isColMajor, eTransA, eTransB, fAlpha, imgA, imgB, fBeta, imgC, fresh);
    else
        Multiply<float>(shape, isColMajor, eTransA, eTransB, static_cast<float>(fAlpha), imgA, imgB,
                        static_cast<float>(fBeta), imgC, fresh);
}

}  // namespace

Gatan::DM::Image MatrixMultiply(bool isColMajor, bool eTransA, bool eTransB, double fAlpha, Gatan::DM::Image imgA,
                                Gatan::DM::Image imgB, double fBeta, Gatan::DM::Image imgC)
{
    MultiplyInto(isColMajor, eTransA, eTransB, fAlpha, imgA, imgB, fBeta, imgC, false);
    return imgC;
}

dm_object* MatrixMultiplyDM(bool isColMajor, bool eTransA, bool eTransB, double fAlpha, dm_object* imgA,
                            dm_object* imgB, double fBeta, dm_object* imgC)
{
    return ScriptCall("zep::MatrixMultiplyDM", [&] {
        const Image a = Image::Borrow(imgA), b = Image::Borrow(imgB);
        if (imgC) return MatrixMultiply(isColMajor, eTransA, eTransB, fAlpha, a, b, fBeta, Image::Borrow(imgC));

        // No destination: a new image of A's type, M x N in the same reading.
        const ProductShape shape = ShapeOf(isColMajor, eTransA, eTransB, MatrixSizeOf(a), MatrixSizeOf(b));
        const std::uint32_t sizes[2] = {
            static_cast<std::uint32_t>(isColMajor ? shape.m : shape.n),
            static_cast<std::uint32_t>(isColMajor ? shape.n : shape.m)};
        const Image c = Gatan::DM::NewImage("", Gatan::DM::ImageGetDataType(a), 2, sizes);
        MultiplyInto(isColMajor, eTransA, eTransB, fAlpha, a, b, fBeta, c, true);
        return c;
    });
}

}  // namespace zep
