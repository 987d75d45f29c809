// Two-dimensional real images (Real 4, Real 8) as matrices: product, LU
// solve, inverse and banded Cholesky solve, over BLAS and LAPACK.
//
// Images are read row-major (rows = height). LAPACK is column-major, so it
// sees an image as the transposed matrix; the solvers therefore solve in the
// transposed sense: X·A = B in image terms, each image row x of X solving
// x·A = b for the matching row b of B (for a symmetric A that is A·x = b).
// The inverse is unaffected.
//
// Sources are never written; results go to a destination the caller gives or
// to a new image. Every failure is a std::runtime_error with a fixed message;
// the checks come before anything is written.
#pragma once

#include <cstdint>

#include "Export.h"
#include "HostObjects.h"

namespace zep {

// imgC = fAlpha·op(imgA)·op(imgB) + fBeta·imgC, in place; returns imgC.
// isColMajor reads a w-wide, h-high image as the w x h matrix (else h x w);
// eTransA and eTransB transpose the matrices as read. All three images are
// Real 4, or all Real 8 (the scalars are then rounded to float).
ZEP_EXPORT Gatan::DM::Image MatrixMultiply(bool isColMajor, bool eTransA, bool eTransB, double fAlpha,
                                           Gatan::DM::Image imgA, Gatan::DM::Image imgB, double fBeta,
                                           Gatan::DM::Image imgC);

// imgDst = inverse of the square imgA (same data type and size; imgDst may be
// imgA itself). Returns LAPACK's status: 0, or k > 0 when the factor U is
// exactly singular at diagonal position k (imgDst then holds what LAPACK left).
ZEP_EXPORT int MatrixInverse(Gatan::DM::Image imgA, Gatan::DM::Image imgDst);

// Solves X·A = B into imgDst (imgA's data type, imgB's size) and returns
// LAPACK's status (k > 0: A is singular).
ZEP_EXPORT int LUDecompositionF(Gatan::DM::Image imgA, Gatan::DM::Image imgB, Gatan::DM::Image imgDst);
// The same into a new image, which it returns; a non-zero status fails with
// "error at .\LUDecomposition(126):" and the status.
ZEP_EXPORT Gatan::DM::Image LUDecompositionF(Gatan::DM::Image imgA, Gatan::DM::Image imgB);

// Solves A·X = B (X·A = B alike, A being symmetric) for the symmetric
// positive-definite band of half-width kd that imgA holds in full, reading
// the band on the side `uplo` names ('U'/'u': the pixels left of the
// diagonal, LAPACK's upper triangle of its transposed view; 'L'/'l': those
// right of it). Returns a new image of imgB's size holding X, Real 8 when
// either image is Real 8, else Real 4. A failed factorisation fails with
// "error at .\BandedCholDecomposition(117):" (single precision; 81 double)
// and the order of the leading minor that is not positive definite.
ZEP_EXPORT Gatan::DM::Image BandedCholDecompositionF(Gatan::DM::Image imgA, Gatan::DM::Image imgB, char uplo,
                                                     int kd);

// LU factorisation and inversion of a column-major m x n array in place:
// getrf, then, only when that succeeded, getri with a workspace of n
// elements (lwork is not consulted: `work` must hold at least n). The status
// is left in *info.
ZEP_EXPORT void getri(int m, int n, float* a, int lda, int* ipiv, float* work, int lwork, int* info);
ZEP_EXPORT void getri(int m, int n, double* a, int lda, int* ipiv, double* work, int lwork, int* info);

// Script functions.
dm_object* MatrixMultiplyDM(bool isColMajor, bool eTransA, bool eTransB, double fAlpha, dm_object* imgA,
                            dm_object* imgB, double fBeta, dm_object* imgC);
std::int32_t MatrixInverseDM(dm_object* imgA, dm_object* imgDst);
std::int32_t LUDecompositionWithStatusFDM(dm_object* imgA, dm_object* imgB, dm_object* imgDst);
dm_object* LUDecompositionFDM(dm_object* imgA, dm_object* imgB);
dm_object* BandedCholDecompositionFDM(dm_object* imgA, dm_object* imgB, char uplo, std::int32_t kd);

}  // namespace zep
