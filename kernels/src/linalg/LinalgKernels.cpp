// The matrix kernels over OpenBLAS: CBLAS for the product, the Fortran LAPACK
// symbols as LAPACKE's lapack.h declares them for the factorisations.
#include "lumadex/kernels/Linalg.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include <lapack.h>
#include <openblas-openmp/cblas.h>

#include "lumadex/kernels/Refusal.h"

namespace lumadex::kernels {
namespace {

// --- BLAS and LAPACK, by precision ------------------------------------------------

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

void UseBlasThreads()
{
    const int threads = omp_get_max_threads();
    if (openblas_get_num_threads() != threads) openblas_set_num_threads(threads);
}

// --- matrix blocks as BLAS and LAPACK take them -----------------------------------

// Refuses a matrix block whose sizes or row stride BLAS's 32-bit integers
// cannot hold, or whose rows are not dense runs at least a row apart; after
// this its sizes and row stride pass to BLAS as int.
template <class T>
void RequireLapackLayout(const Block<T>& m)
{
    const std::int64_t ld = m.stride[1];
    if ((Columns(m) > 1 && m.stride[0] != 1) || Columns(m) > INT32_MAX || Rows(m) > INT32_MAX || ld < Columns(m) ||
        ld > INT32_MAX)
        throw Refusal(Reason::MatrixLayoutNotSupported);
}

int Int(std::int64_t checked) { return static_cast<int>(checked); }

// The leading dimension: elements from one row's start to the next.
template <class T>
int Ld(const Block<T>& m)
{
    return Int(m.stride[1]);
}

template <class T>
T* RowOf(const Block<T>& m, std::int64_t y)
{
    return m.data + y * m.stride[1];
}

// A dense matrix block over `data`.
template <class T>
Block<T> DenseMatrix(T* data, std::int64_t columns, std::int64_t rows)
{
    return Block<T>{data, {columns, rows, 1, 1}, {1, columns, 0, 0}};
}

// Copies the elements of `from` into `to` (same sizes), rows apart as each
// says; they must not overlap.
template <class T>
void CopyRows(const Block<const T>& from, const Block<T>& to)
{
    const std::size_t rowBytes = sizeof(T) * static_cast<std::size_t>(Columns(from));
    if (from.stride[1] == Columns(from) && to.stride[1] == Columns(to)) {
        std::memcpy(to.data, from.data, rowBytes * static_cast<std::size_t>(Rows(from)));
        return;
    }
    for (std::int64_t y = 0; y < Rows(from); ++y) std::memcpy(RowOf(to, y), RowOf(from, y), rowBytes);
}

// A dense copy of `m`, held by `storage`.
template <class T>
Block<const T> DenseCopy(const Block<const T>& m, std::vector<T>& storage)
{
    storage.resize(static_cast<std::size_t>(Columns(m)) * static_cast<std::size_t>(Rows(m)));
    const Block<T> copy = DenseMatrix(storage.data(), Columns(m), Rows(m));
    CopyRows(m, copy);
    return copy;
}

// --- inverse --------------------------------------------------------------------

// One thread: getrf, then getri in place. getri runs blocked, with level-3
// BLAS, only with the workspace it asks for; with n elements it would sweep
// column by column, several times slower.
template <class T>
int InvertInPlace(const Block<T>& dst, int* ipiv)
{
    const int n = Int(Rows(dst));
    int info = 0;
    getrf(n, n, dst.data, Ld(dst), ipiv, &info);
    if (info != 0) return info;
    T query = 0;
    getri(n, dst.data, Ld(dst), ipiv, &query, -1, &info);
    const double asked = std::ceil(static_cast<double>(query));
    const int lwork = std::max(n, asked < INT32_MAX ? static_cast<int>(asked) : n);
    std::vector<T> work(static_cast<std::size_t>(lwork));
    getri(n, dst.data, Ld(dst), ipiv, work.data(), lwork, &info);
    return info;
}

// Several threads: gesv against the identity. getri's many mid-sized steps
// share out badly among threads (measured: 1.5 to 3 times slower than this
// with two threads, though a third faster with one); gesv's few large ones
// share out well. The status is getrf's in both ways.
template <class T>
int SolveForInverse(const Block<const T>& a, const Block<T>& dst, int* ipiv)
{
    const int n = Int(Rows(dst));
    std::vector<T> factors(static_cast<std::size_t>(n) * static_cast<std::size_t>(n));
    CopyRows(a, DenseMatrix(factors.data(), n, n));
    for (int y = 0; y < n; ++y) {
        std::fill(RowOf(dst, y), RowOf(dst, y) + n, T(0));
        RowOf(dst, y)[y] = T(1);
    }
    int info = 0;
    gesv(n, n, factors.data(), n, ipiv, dst.data, Ld(dst), &info);
    return info;
}

}  // namespace

// --- product --------------------------------------------------------------------

template <class T>
void MultiplyMatrices(bool isColMajor, bool transA, bool transB, T alpha, Block<const T> a, Block<const T> b, T beta,
                      const Block<T>& c, bool fresh)
{
    RequireLapackLayout(c);
    RequireLapackLayout(a);
    RequireLapackLayout(b);
    const ProductShape shape = ShapeOfProduct(isColMajor, transA, transB, a, b);
    // BLAS reads the factors while it writes the product: a factor that
    // shares memory with the product (the same image given twice) is read
    // from a copy.
    std::vector<T> copyA, copyB;
    if (a.data == c.data || Overlap(a, c)) a = DenseCopy(a, copyA);
    if (b.data == c.data || Overlap(b, c)) b = DenseCopy(b, copyB);
    if (fresh && std::isfinite(beta))
        beta = 0;
    else if (fresh)
        for (std::int64_t y = 0; y < Rows(c); ++y) std::memset(RowOf(c, y), 0, sizeof(T) * std::size_t(Columns(c)));

    UseBlasThreads();
    gemm(isColMajor ? CblasColMajor : CblasRowMajor, transA ? CblasTrans : CblasNoTrans,
         transB ? CblasTrans : CblasNoTrans, Int(shape.m), Int(shape.n), Int(shape.k), alpha, a.data, Ld(a), b.data,
         Ld(b), beta, c.data, Ld(c));
}

// --- inverse and LU solve -------------------------------------------------------

template <class T>
int InvertMatrix(const Block<const T>& a, const Block<T>& dst)
{
    RequireLapackLayout(dst);
    RequireLapackLayout(a);
    std::vector<int> ipiv(static_cast<std::size_t>(Rows(dst)));
    UseBlasThreads();
    if (omp_get_max_threads() > 1) return SolveForInverse(a, dst, ipiv.data());
    if (a.data != dst.data) CopyRows(a, dst);  // else the same matrix: inverted in place
    return InvertInPlace(dst, ipiv.data());
}

template <class T>
int SolveLinearSystem(const Block<T>& factors, const Block<T>& x)
{
    RequireLapackLayout(factors);
    RequireLapackLayout(x);
    std::vector<int> ipiv(static_cast<std::size_t>(Columns(x)));
    int info = 0;
    UseBlasThreads();
    gesv(Int(Rows(factors)), Int(Rows(x)), factors.data, Ld(factors), ipiv.data(), x.data, Ld(x), &info);
    return info;
}

template <class T>
void FactorAndInvert(int m, int n, T* a, int lda, int* ipiv, T* work, int /*lwork*/, int* info)
{
    UseBlasThreads();
    getrf(m, n, a, lda, ipiv, info);
    if (*info == 0) getri(n, a, lda, ipiv, work, n, info);
}

// --- banded Cholesky solve ------------------------------------------------------

template <class T, class Source>
Band<T> ExtractBand(const Block<const Source>& a, char uplo, int kd)
{
    RequireLapackLayout(a);
    const bool upper = uplo == 'U' || uplo == 'u';
    const int n = Int(Rows(a)), width = kd + 1;
    Band<T> band{std::unique_ptr<T[]>(new T[static_cast<std::size_t>(width) * static_cast<std::size_t>(n)]), kd, uplo};
    // Each band row lies in its own page of A: fetch ahead, as the hardware
    // prefetcher does not cross pages.
    constexpr int kAhead = 16;
    for (int y = 0; y < n; ++y) {
        if (y + kAhead < n) __builtin_prefetch(RowOf(a, y + kAhead) + std::max(0, upper ? y + kAhead - kd : y + kAhead));
        const Source* row = RowOf(a, y);
        T* out = band.elements.get() + std::size_t(y) * std::size_t(width);
        // Columns first..last of the band row lie inside the matrix.
        const int first = upper ? std::max(0, kd - y) : 0;
        const int last = upper ? kd : std::min(kd, n - 1 - y);
        const int offset = upper ? y - kd : y;  // column of A at band column 0
        for (int c = 0; c < first; ++c) out[c] = T(0);
        for (int c = first; c <= last; ++c) out[c] = static_cast<T>(row[offset + c]);
        for (int c = last + 1; c <= kd; ++c) out[c] = T(0);
    }
    return band;
}

template <class T>
int SolveBanded(const Band<T>& band, const Block<T>& x)
{
    RequireLapackLayout(x);
    int info = 0;
    UseBlasThreads();
    pbsv(band.uplo, Int(Columns(x)), band.kd, Int(Rows(x)), band.elements.get(), band.kd + 1, x.data, Ld(x), &info);
    return info;
}

#define LUMADEX_LINALG_KERNELS(T)                                                                                  \
    template void MultiplyMatrices(bool, bool, bool, T, Block<const T>, Block<const T>, T, const Block<T>&, bool); \
    template int InvertMatrix(const Block<const T>&, const Block<T>&);                                             \
    template int SolveLinearSystem(const Block<T>&, const Block<T>&);                                              \
    template void FactorAndInvert(int, int, T*, int, int*, T*, int, int*);                                         \
    template Band<T> ExtractBand<T, T>(const Block<const T>&, char, int);                                          \
    template int SolveBanded(const Band<T>&, const Block<T>&);
LUMADEX_LINALG_KERNELS(float)
LUMADEX_LINALG_KERNELS(double)
#undef LUMADEX_LINALG_KERNELS
template Band<double> ExtractBand<double, float>(const Block<const float>&, char, int);

}  // namespace lumadex::kernels
