// How a pass over a block's rows is shared among threads.
//
// A pass is cut into chunks of about kChunkPixels elements (whole rows, or
// pieces of one long row) that the threads share by static scheduling. Each
// chunk writes its own partial result; the caller merges the partials in
// chunk order, so results do not depend on the thread count.
#pragma once

#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "lumadex/kernels/Block.h"
#include "lumadex/kernels/Dispatch.h"

namespace lumadex::kernels {

// Elements per chunk.
inline constexpr std::int64_t kChunkPixels = std::int64_t{1} << 15;

struct Chunk {
    std::int64_t row, rowEnd;  // rows [row, rowEnd)
    std::int64_t x0, x1;       // elements [x0, x1) of each
};

class ChunkPlan {
public:
    template <class T>
    explicit ChunkPlan(const Block<T>& block) : rows_(block.rows()), width_(block.size[0])
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

// Runs work(chunk, partial) for every chunk of `block`, in parallel from
// kStatisticsParallelPixels elements on, and returns the partials in chunk
// order.
template <class T, class Partial, class Work>
std::vector<Partial> ForEachChunk(const Block<T>& block, const Partial& start, Work&& work)
{
    const ChunkPlan plan(block);
    std::vector<Partial> partials(static_cast<std::size_t>(plan.count()), start);
    const std::int64_t n = plan.count();
#pragma omp parallel for schedule(static) if (n > 1 && WorthThreads(block.count(), kStatisticsParallelPixels))
    for (std::int64_t c = 0; c < n; ++c) work(plan[c], partials[static_cast<std::size_t>(c)]);
    return partials;
}

}  // namespace lumadex::kernels
