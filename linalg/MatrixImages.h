// Images as matrices: the geometry, the checks and the library calls that the
// matrix operations share.
//
// An image of width w and height h is read row-major: the h x w matrix whose
// element (y, x) is pixel (x, y), with rows `pitch` elements apart. LAPACK is
// column-major and sees the same memory as the transposed w x h matrix with
// leading dimension `pitch`.
//
// BLAS and LAPACK are OpenBLAS's (OpenMP build), called through their
// published interfaces: CBLAS for the product, the Fortran LAPACK symbols as
// LAPACKE's lapack.h declares them for the factorisations. Their integers are
// 32 bits wide; every size handed to them is checked to fit.
#pragma once

#include <cstdint>
#include <string>

#include "ImageUtility.h"

namespace zep::linalg {

using Gatan::DM::Image;

// Width and height of an image that is to be read as a matrix. An image
// with a third or fourth dimension in use, or sizes LAPACK's integers cannot
// hold, fails with message::kInvalidImageSize.
struct MatrixSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
    friend bool operator==(const MatrixSize&, const MatrixSize&) = default;
};
MatrixSize MatrixSizeOf(const Image& image);

// Real 4 or Real 8.
bool IsReal(const Image& image);
// Real 8.
bool IsReal8(const Image& image);

// Throws std::runtime_error(message::kInvalidImageSize) unless `holds`.
void RequireSize(bool holds);

// The pixels of a locked view as a row-major matrix.
template <class T>
struct Matrix {
    T* data;
    std::int32_t width;   // columns
    std::int32_t height;  // rows
    std::int32_t pitch;   // elements from one row's start to the next

    T* row(std::int32_t y) const { return data + std::int64_t{y} * pitch; }
    // The bytes the matrix spans, first to last element.
    const char* begin() const { return reinterpret_cast<const char*>(data); }
    const char* end() const { return reinterpret_cast<const char*>(row(height - 1) + width); }
    operator Matrix<const T>() const { return {data, width, height, pitch}; }
};

template <class T>
Matrix<T> MatrixOf(const tarn::dm::image<T>& view)
{
    const std::int64_t pitch = view.pitch(1);
    RequireSize(pitch >= view.size(0) && pitch <= INT32_MAX);
    return {view.data(), view.size(0), view.size(1), static_cast<std::int32_t>(pitch)};
}

template <class T, class U>
bool Overlap(const Matrix<T>& a, const Matrix<U>& b)
{
    return a.begin() < b.end() && b.begin() < a.end();
}

// Copies the elements of `from` into `to` (same width and height), rows
// apart as each says; they must not overlap.
template <class T>
void CopyMatrix(const Matrix<const T>& from, const Matrix<T>& to);

// Hands the plug-in's thread count (OpenMP's, omp_get_max_threads on the
// calling thread) to OpenBLAS before a routine runs. OpenBLAS's OpenMP build
// follows OpenMP's count only part of the way on its own (a count of 1 makes
// it run serially but is not recorded as its own count), so its count is set
// whenever the two differ; setting it sets OpenMP's to the same value.
void UseBlasThreads();

// The message of a failed LAPACK status: "error at " source "(" line "):" info.
[[noreturn]] void ThrowStatus(const char* source, int line, int info);

// --- LAPACK, by precision ---------------------------------------------------------
void gesv(int n, int nrhs, float* a, int lda, int* ipiv, float* b, int ldb, int* info);
void gesv(int n, int nrhs, double* a, int lda, int* ipiv, double* b, int ldb, int* info);
void getrf(int m, int n, float* a, int lda, int* ipiv, int* info);
void getrf(int m, int n, double* a, int lda, int* ipiv, int* info);
void getri(int n, float* a, int lda, const int* ipiv, float* work, int lwork, int* info);
void getri(int n, double* a, int lda, const int* ipiv, double* work, int lwork, int* info);
void pbsv(char uplo, int n, int kd, int nrhs, float* ab, int ldab, float* b, int ldb, int* info);
void pbsv(char uplo, int n, int kd, int nrhs, double* ab, int ldab, double* b, int ldb, int* info);

}  // namespace zep::linalg
