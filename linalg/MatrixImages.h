// Images as matrices: the checks the matrix operations share, and an image's
// pixels as the kernels' matrix block (lumadex/kernels/Linalg.h).
//
// An image of width w and height h is read row-major: the h x w matrix whose
// element (y, x) is pixel (x, y), a block of w columns and h rows.
#pragma once

#include <cstdint>

#include "ImageBlocks.h"
#include "ImageUtility.h"
#include "lumadex/kernels/Linalg.h"

namespace zep::linalg {

using Gatan::DM::Image;
using lumadex::kernels::Block;
using lumadex::kernels::Columns;
using lumadex::kernels::Rows;
using lumadex::kernels::SameShape;

// An image's matrix geometry before its pixels are locked: a block without
// elements (data null) of its width and height. An image with a third or
// fourth dimension in use, or sizes LAPACK's 32-bit integers cannot hold,
// fails with message::kInvalidImageSize.
Block<const void> MatrixShapeOf(const Image& image);

// Real 4 or Real 8.
bool IsReal(const Image& image);
// Real 8.
bool IsReal8(const Image& image);

// Throws std::runtime_error(message::kInvalidImageSize) unless `holds`.
void RequireSize(bool holds);

// The pixels of a locked view as a matrix block; a one-row image, which
// reports no row stride, has its rows a row apart.
template <class T>
Block<T> MatrixOf(const tarn::dm::image<T>& view)
{
    Block<T> block = BlockOf(view);
    block.stride[1] = view.pitch(1);
    return block;
}

// A failed LAPACK status: "error at " source "(" line "):" info.
[[noreturn]] void ThrowStatus(const char* source, int line, int info);

}  // namespace zep::linalg
