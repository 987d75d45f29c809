// Matrices on strided blocks: product, inverse, LU solve and banded Cholesky
// solve, over OpenBLAS's BLAS and LAPACK.
//
// A matrix is a 2-D block read row-major: rows = size[1], columns = size[0],
// rows stride[1] elements apart (stride[0] is 1). LAPACK is column-major and
// sees the same memory as the transposed columns x rows matrix with leading
// dimension stride[1]; the solvers therefore solve in the transposed sense,
// X·A = B, each row x of X solving x·A = b for the matching row b of B (for a
// symmetric A that is A·x = b). The inverse is unaffected.
//
// BLAS and LAPACK count in 32-bit integers. A matrix block whose sizes or row
// stride they cannot take, or whose row stride is shorter than its rows, is
// refused (Refusal, Reason::MatrixLayoutNotSupported) before anything is
// written. The sizes the mathematics needs (square factors, matching right-
// hand sides, a fitting product) are the caller's to check: the kernels
// assume them. LAPACK's status is the solvers' result: 0, or k > 0 where the
// factorisation failed at k.
//
// Every routine first hands the calling thread's OpenMP thread count
// (omp_get_max_threads) to OpenBLAS. OpenBLAS's OpenMP build follows OpenMP's
// count only part of the way on its own (a count of 1 makes it run serially
// but is not recorded as its own count), so its count is set whenever the two
// differ; setting it sets OpenMP's to the same value.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "lumadex/kernels/Block.h"

namespace lumadex::kernels {

template <class T>
std::int64_t Rows(const Block<T>& matrix)
{
    return matrix.size[1];
}

template <class T>
std::int64_t Columns(const Block<T>& matrix)
{
    return matrix.size[0];
}

// True when the two matrices have the same rows and columns.
template <class A, class B>
bool SameShape(const Block<A>& a, const Block<B>& b)
{
    return Rows(a) == Rows(b) && Columns(a) == Columns(b);
}

// --- product ---------------------------------------------------------------------

// Rows and columns of a matrix as a product reads it: isColMajor reads the
// block as its columns x rows transpose; `transposed` swaps the two again.
template <class T>
std::pair<std::int64_t, std::int64_t> RowsAndColumns(const Block<T>& matrix, bool isColMajor, bool transposed)
{
    std::pair<std::int64_t, std::int64_t> shape =
        isColMajor ? std::pair{Columns(matrix), Rows(matrix)} : std::pair{Rows(matrix), Columns(matrix)};
    if (transposed) std::swap(shape.first, shape.second);
    return shape;
}

// op(A)·op(B) as M x K times K x N; `fits` when op(B) has K rows.
struct ProductShape {
    std::int64_t m, n, k;
    bool fits;
};

template <class A, class B>
ProductShape ShapeOfProduct(bool isColMajor, bool transA, bool transB, const Block<A>& a, const Block<B>& b)
{
    const auto [aRows, aColumns] = RowsAndColumns(a, isColMajor, transA);
    const auto [bRows, bColumns] = RowsAndColumns(b, isColMajor, transB);
    return {aRows, bColumns, aColumns, bRows == aColumns};
}

// c = alpha·op(a)·op(b) + beta·c (gemm), the product fitting c as read.
// A factor that shares memory with c, the same block included, is read from a
// dense copy. A `fresh` c is taken to hold zeros: with a finite beta gemm does
// not read it; else it is cleared first, so that beta·0 is what IEEE says.
template <class T>
void MultiplyMatrices(bool isColMajor, bool transA, bool transB, T alpha, Block<const T> a, Block<const T> b, T beta,
                      const Block<T>& c, bool fresh);

// --- inverse and LU solve -------------------------------------------------------

// dst = the inverse of the square matrix a (dst of a's sizes; the same data
// as a inverts in place, other shared memory is not allowed). With one
// thread: getrf, then getri in place with the workspace it asks for; with
// several: gesv against the identity. Returns getrf's status (dst then holds
// what LAPACK left).
template <class T>
int InvertMatrix(const Block<const T>& a, const Block<T>& dst);

// Solves X·A = B by LU factorisation (gesv): `factors` holds the square A on
// entry and its factors on return; x holds B on entry and X on return.
template <class T>
int SolveLinearSystem(const Block<T>& factors, const Block<T>& x);

// getrf on a column-major m x n array in place, then, only when that
// succeeded, getri with a workspace of n elements (`work` must hold that
// many; lwork is not consulted). LAPACK's own conventions: no refusals, the
// status (negative for a bad argument) in *info.
template <class T>
void FactorAndInvert(int m, int n, T* a, int lda, int* ipiv, T* work, int lwork, int* info);

// --- banded Cholesky solve ------------------------------------------------------

// A symmetric positive-definite band of half-width kd in LAPACK's band
// storage of the transposed view: kd + 1 elements per matrix row y. Upper
// ('U'/'u'): the kd elements left of the diagonal and the diagonal; lower
// ('L'/'l'): the diagonal and the kd elements right of it. Positions outside
// the matrix hold zero.
template <class T>
struct Band {
    std::unique_ptr<T[]> elements;
    int kd = 0;
    char uplo = 'U';
};

// The band of the square matrix a on the side `uplo` names (0 <= kd < n),
// in T. Only the band is read.
template <class T, class Source>
Band<T> ExtractBand(const Block<const Source>& a, char uplo, int kd);

// Solves A·X = B (pbsv) for the band's matrix A; x holds B on entry (one
// right-hand side per row, as long as the band is high) and X on return.
// Returns the order of the leading minor that is not positive definite, or 0.
template <class T>
int SolveBanded(const Band<T>& band, const Block<T>& x);

}  // namespace lumadex::kernels
