// A symmetric positive-definite band system, solved by Cholesky
// factorisation of the band (pbsv).
#include <algorithm>
#include <memory>
#include <stdexcept>

#include "MatrixImages.h"
#include "MatrixOperations.h"
#include "Messages.h"
#include "ScriptFrame.h"

namespace zep {
namespace {

using namespace linalg;

// LAPACK's band storage of the transposed view: kd + 1 elements per matrix
// row y (band "pixel" (c, y) at c + y·(kd + 1)). Upper: the kd pixels left of
// the diagonal and the diagonal, AB(kd+i-j, j) = A(i, j); lower: the diagonal
// and the kd pixels right of it, AB(i-j, j) = A(i, j). Positions outside the
// matrix are set to zero (LAPACK does not read them). Only the band is read,
// so A is never copied whole.
template <class T, class Source>
std::unique_ptr<T[]> ExtractBand(const Matrix<const Source>& a, bool upper, int kd)
{
    const int n = a.height, width = kd + 1;
    std::unique_ptr<T[]> band(new T[static_cast<std::size_t>(width) * static_cast<std::size_t>(n)]);
    // Each band row lies in its own page of A: fetch ahead, as the hardware
    // prefetcher does not cross pages.
    constexpr int kAhead = 16;
    for (int y = 0; y < n; ++y) {
        if (y + kAhead < n) __builtin_prefetch(a.row(y + kAhead) + std::max(0, upper ? y + kAhead - kd : y + kAhead));
        const Source* row = a.row(y);
        T* out = band.get() + std::size_t(y) * std::size_t(width);
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

template <class T, class Source>
int Factor(const Image& imgA, char uplo, int kd, const Image& solution)
{
    const bool upper = uplo == 'U' || uplo == 'u';
    std::unique_ptr<T[]> band;
    {
        const tarn::dm::image<Source> source(imgA, tarn::dm::kLockDense);
        band = ExtractBand<T>(Matrix<const Source>(MatrixOf(source)), upper, kd);
    }
    const tarn::dm::image<T> view(solution, tarn::dm::kLockDense);
    const Matrix<T> x = MatrixOf(view);
    int info = 0;
    UseBlasThreads();
    linalg::pbsv(uplo, x.width, kd, x.height, band.get(), kd + 1, x.data, x.pitch, &info);
    return info;
}

}  // namespace

Gatan::DM::Image BandedCholDecompositionF(Gatan::DM::Image imgA, Gatan::DM::Image imgB, char uplo, int kd)
{
    if (uplo != 'U' && uplo != 'L' && uplo != 'u' && uplo != 'l')
        throw std::runtime_error(message::kBadUplo);
    if (!IsReal(imgA) || !IsReal(imgB)) throw std::runtime_error(message::kAllReal4Or8);
    const MatrixSize a = MatrixSizeOf(imgA), b = MatrixSizeOf(imgB);
    // A must be square and each row of B as long as A is high, or the band
    // and the solve would reach past the images' ends.
    RequireSize(a.width == a.height && b.width == a.height);
    if (kd < 0 || kd >= a.height)
        throw std::runtime_error(message::kBadKd);

    const bool matrixIsReal8 = IsReal8(imgA);
    const bool doublePrecision = matrixIsReal8 || IsReal8(imgB);
    Image solution = Gatan::DM::RealImage("", doublePrecision ? 8 : 4, b.width, b.height);
    Gatan::DM::ConvertImageData(imgB, solution);
    if (doublePrecision) {
        const int info = matrixIsReal8 ? Factor<double, double>(imgA, uplo, kd, solution)
                                       : Factor<double, float>(imgA, uplo, kd, solution);
        if (info != 0) ThrowStatus(".\\BandedCholDecomposition", 81, info);
    } else if (const int info = Factor<float, float>(imgA, uplo, kd, solution); info != 0) {
        ThrowStatus(".\\BandedCholDecomposition", 117, info);
    }
    return solution;
}

dm_object* BandedCholDecompositionFDM(dm_object* imgA, dm_object* imgB, char uplo, std::int32_t kd)
{
    return ScriptCall("zep::BandedCholDecompositionFDM", [&] {
        return BandedCholDecompositionF(Image::Borrow(imgA), Image::Borrow(imgB), uplo, kd);
    });
}

}  // namespace zep
