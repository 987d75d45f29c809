// A symmetric positive-definite band system, solved by Cholesky
// factorisation of the band (pbsv).
#include <stdexcept>

#include "KernelMessages.h"
#include "MatrixImages.h"
#include "MatrixOperations.h"
#include "Messages.h"
#include "ScriptFrame.h"

namespace zep {
namespace {

using namespace linalg;

// The band is read from A under A's own lock, which ends before the solution
// is locked; only the band is converted to T, never the whole of A.
template <class T, class Source>
int Factor(const Image& imgA, char uplo, int kd, const Image& solution)
{
    return WithKernelMessages([&] {
        lumadex::kernels::Band<T> band;
        {
            const tarn::dm::image<Source> source(imgA, tarn::dm::kLockDense);
            band = lumadex::kernels::ExtractBand<T>(Block<const Source>(MatrixOf(source)), uplo, kd);
        }
        const tarn::dm::image<T> view(solution, tarn::dm::kLockDense);
        return lumadex::kernels::SolveBanded(band, MatrixOf(view));
    });
}

}  // namespace

Gatan::DM::Image BandedCholDecompositionF(Gatan::DM::Image imgA, Gatan::DM::Image imgB, char uplo, int kd)
{
    if (uplo != 'U' && uplo != 'L' && uplo != 'u' && uplo != 'l')
        throw std::runtime_error(message::kBadUplo);
    if (!IsReal(imgA) || !IsReal(imgB)) throw std::runtime_error(message::kAllReal4Or8);
    const Block<const void> a = MatrixShapeOf(imgA), b = MatrixShapeOf(imgB);
    // A must be square and each row of B as long as A is high, or the band
    // and the solve would reach past the images' ends.
    RequireSize(Columns(a) == Rows(a) && Columns(b) == Rows(a));
    if (kd < 0 || kd >= Rows(a))
        throw std::runtime_error(message::kBadKd);

    const bool matrixIsReal8 = IsReal8(imgA);
    const bool doublePrecision = matrixIsReal8 || IsReal8(imgB);
    Image solution = Gatan::DM::RealImage("", doublePrecision ? 8 : 4, static_cast<std::uint32_t>(Columns(b)),
                                          static_cast<std::uint32_t>(Rows(b)));
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
