// The matrix product, through the product kernel on the images' own pixels.
#include <stdexcept>

#include "KernelMessages.h"
#include "MatrixImages.h"
#include "MatrixOperations.h"
#include "Messages.h"
#include "ScriptFrame.h"

namespace zep {
namespace {

using namespace linalg;

using lumadex::kernels::ProductShape;
using lumadex::kernels::RowsAndColumns;
using lumadex::kernels::ShapeOfProduct;

template <class T>
void Multiply(bool isColMajor, bool eTransA, bool eTransB, T alpha, const Image& imgA, const Image& imgB, T beta,
              const Image& imgC, bool clearC)
{
    const tarn::dm::image<T> viewA(imgA, tarn::dm::kLockDense), viewB(imgB, tarn::dm::kLockDense);
    const tarn::dm::image<T> viewC(imgC, tarn::dm::kLockDense);
    WithKernelMessages([&] {
        lumadex::kernels::MultiplyMatrices<T>(isColMajor, eTransA, eTransB, alpha, MatrixOf(viewA), MatrixOf(viewB),
                                              beta, MatrixOf(viewC), clearC);
    });
}

// The product into imgC; a `fresh` imgC (made by the handler) starts as zeros.
void MultiplyInto(bool isColMajor, bool eTransA, bool eTransB, double fAlpha, const Image& imgA, const Image& imgB,
                  double fBeta, const Image& imgC, bool fresh)
{
    if (!IsReal(imgA) || !IsReal(imgB) || !IsReal(imgC)) throw std::runtime_error(message::kAllReal);
    const std::int16_t type = Gatan::DM::GetDataType(imgA);
    if (Gatan::DM::GetDataType(imgB) != type || Gatan::DM::GetDataType(imgC) != type)
        throw std::runtime_error(message::kAllSameType);

    const ProductShape shape =
        ShapeOfProduct(isColMajor, eTransA, eTransB, MatrixShapeOf(imgA), MatrixShapeOf(imgB));
    const auto [cRows, cColumns] = RowsAndColumns(MatrixShapeOf(imgC), isColMajor, false);
    if (!shape.fits || cRows != shape.m || cColumns != shape.n)
        throw std::runtime_error(message::kDifferentSizes);

    if (type == tarn::dm::kReal8)
        Multiply<double>(isColMajor, eTransA, eTransB, fAlpha, imgA, imgB, fBeta, imgC, fresh);
    else
        Multiply<float>(isColMajor, eTransA, eTransB, static_cast<float>(fAlpha), imgA, imgB,
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
        const ProductShape shape = ShapeOfProduct(isColMajor, eTransA, eTransB, MatrixShapeOf(a), MatrixShapeOf(b));
        const std::uint32_t sizes[2] = {
            static_cast<std::uint32_t>(isColMajor ? shape.m : shape.n),
            static_cast<std::uint32_t>(isColMajor ? shape.n : shape.m)};
        const Image c = Gatan::DM::NewImage("", Gatan::DM::ImageGetDataType(a), 2, sizes);
        MultiplyInto(isColMajor, eTransA, eTransB, fAlpha, a, b, fBeta, c, true);
        return c;
    });
}

}  // namespace zep
