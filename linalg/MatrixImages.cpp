#include "MatrixImages.h"

#include <stdexcept>

#include "Messages.h"

namespace zep::linalg {

Block<const void> MatrixShapeOf(const Image& image)
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
    return Block<const void>{nullptr, {size[0], size[1], 1, 1}, {1, size[0], 0, 0}};
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

void ThrowStatus(const char* source, int line, int info)
{
    throw std::runtime_error(message::SolverStatus(source, line, info));
}

}  // namespace zep::linalg
