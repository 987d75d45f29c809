// Where an image's pixels lie, and how a pass over them is shared among
// threads.
//
// A grid numbers the rows of an image in scan order (y fastest, then z, then
// the fourth dimension); each row holds `width` adjacent pixels and starts
// RowOffset(r) elements after the first pixel, whatever pitches the view
// reports (a sub-area keeps its parent's). Every pixel has a rank, its index
// in that scan order: r * width + x.
//
// A pass is cut into chunks of about kChunkPixels pixels (whole rows, or
// pieces of one long row) that the threads share by static scheduling. Each
// chunk writes its own partial result; the caller merges the partials in
// chunk order, so results do not depend on the thread count.
#pragma once

#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "ImageUtility.h"
#include "lumadex/kernels/Block.h"
#include "lumadex/kernels/Dispatch.h"

namespace zep::stats {

struct PixelGrid {
    std::int64_t width = 0, height = 1, depth = 1, volumes = 1;
    std::int64_t rowPitch = 0, planePitch = 0, volumePitch = 0;  // in elements

    std::int64_t rows() const { return height * depth * volumes; }
    std::int64_t count() const { return width * rows(); }
    std::int64_t RowOffset(std::int64_t r) const
    {
        const std::int64_t y = r % height;
        r /= height;
        return (r / depth) * volumePitch + (r % depth) * planePitch + y * rowPitch;
    }
    bool contiguous() const
    {
        return (height == 1 || rowPitch == width) && (depth == 1 || planePitch == width * height) &&
               (volumes == 1 || volumePitch == width * height * depth);
    }
    // The same pixels as one row, for a contiguous grid.
    PixelGrid Flattened() const { return PixelGrid{count(), 1, 1, 1, count(), count(), count()}; }
};

template <class T>
PixelGrid GridOf(const tarn::dm::image<T>& view)
{
    return PixelGrid{view.size(0), view.size(1), view.size(2), view.size(3),
                     view.pitch(1), view.pitch(2), view.pitch(3)};
}

// Pixels per chunk.
inline constexpr std::int64_t kChunkPixels = std::int64_t{1} << 15;

struct Chunk {
    std::int64_t row, rowEnd;  // rows [row, rowEnd)
    std::int64_t x0, x1;       // pixels [x0, x1) of each
};

class ChunkPlan {
public:
    explicit ChunkPlan(const PixelGrid& grid) : rows_(grid.rows()), width_(grid.width)
    {
        if (width_ > kChunkPixels) {
            pieces_ = (width_ + kChunkPixels - 1) / kChunkPixels;
            pieceLength_ = (width_ + pieces_ - 1) / pieces_;
            count_ = rows_ * pieces_;
        } else if (width_ > 0) {
            rowsPerChunk_ = std::max<std::int64_t>(1, kChunkPixels / width_);
            count_ = (rows_ + rowsPerChunk_ - 1) / rowsPerChunk_;
        }
    }
    std::int64_t count() const { return count_; }
    Chunk operator[](std::int64_t c) const
    {
        if (pieces_ > 1) {
            const std::int64_t x0 = (c % pieces_) * pieceLength_;
            return {c / pieces_, c / pieces_ + 1, x0, std::min(width_, x0 + pieceLength_)};
        }
        return {c * rowsPerChunk_, std::min(rows_, (c + 1) * rowsPerChunk_), 0, width_};
    }

private:
    std::int64_t rows_, width_;
    std::int64_t pieces_ = 1, pieceLength_ = 0, rowsPerChunk_ = 1, count_ = 0;
};

// Runs work(chunk, partial) for every chunk of `grid`, in parallel for large
// grids, and returns the partials in chunk order.
template <class Partial, class Work>
std::vector<Partial> ForEachChunk(const PixelGrid& grid, const Partial& start, Work&& work)
{
    const ChunkPlan plan(grid);
    std::vector<Partial> partials(static_cast<std::size_t>(plan.count()), start);
    const std::int64_t n = plan.count();
#pragma omp parallel for schedule(static) if (n > 1 && lumadex::kernels::WorthThreads(grid.count(), lumadex::kernels::kStatisticsParallelPixels))
    for (std::int64_t c = 0; c < n; ++c) work(plan[c], partials[static_cast<std::size_t>(c)]);
    return partials;
}

using lumadex::kernels::Pick;

}  // namespace zep::stats
