#include "PixelRuns.h"

#include <omp.h>

#include <algorithm>
#include <cfenv>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "Messages.h"
#include "lumadex/kernels/Dispatch.h"

namespace zep::vml {
namespace {

constexpr std::int64_t kLongestRun = std::int64_t{1} << 30;  // the routines count in 32 bits
constexpr std::size_t kMaxRuns = 4;

// Where one view stands in its flat order.
struct Cursor {
    const PixelRun* run;
    std::int64_t rowLength, row, x;
    char* rowStart;

    void Seek(std::int64_t index)
    {
        rowLength = run->dense ? run->count : run->size[0];
        row = index / rowLength;
        x = index % rowLength;
        rowStart = RowStart(row);
    }
    char* RowStart(std::int64_t r) const
    {
        if (run->dense) return run->data;
        const std::int64_t y = r % run->size[1], z = (r / run->size[1]) % run->size[2],
                           w = r / (run->size[1] * run->size[2]);
        return run->data + y * run->stride[1] + z * run->stride[2] + w * run->stride[3];
    }
    char* Here() const { return rowStart + x * run->element; }
    void Advance(std::int64_t length)
    {
        x += length;
        if (x == rowLength && !run->dense) {
            x = 0;
            rowStart = RowStart(++row);
        }
    }
};

void Walk(std::span<const PixelRun> runs, std::int64_t begin, std::int64_t end, RunKernel kernel,
          const void* context)
{
    Cursor cursors[kMaxRuns];
    char* pointers[kMaxRuns];
    for (std::size_t k = 0; k < runs.size(); ++k) {
        cursors[k].run = &runs[k];
        cursors[k].Seek(begin);
    }
    while (begin < end) {
        std::int64_t length = std::min(end - begin, kLongestRun);
        for (std::size_t k = 0; k < runs.size(); ++k) {
            length = std::min(length, cursors[k].rowLength - cursors[k].x);
            pointers[k] = cursors[k].Here();
        }
        kernel(context, length, pointers);
        for (std::size_t k = 0; k < runs.size(); ++k) cursors[k].Advance(length);
        begin += length;
    }
}

// The bytes a run's pixels span.
void Extent(const PixelRun& run, const char*& first, const char*& last)
{
    std::int64_t low = 0, high = 0;
    for (int d = 0; d < 4; ++d) {
        const std::int64_t reach = (run.size[d] - 1) * run.stride[d];
        (reach < 0 ? low : high) += reach;
    }
    first = run.data + low;
    last = run.data + high + run.element;
}

bool SamePixels(const PixelRun& a, const PixelRun& b)
{
    if (a.data != b.data || a.element != b.element || a.dense != b.dense) return false;
    if (a.dense) return true;
    for (int d = 0; d < 4; ++d)
        if (a.size[d] != b.size[d] || (a.size[d] > 1 && a.stride[d] != b.stride[d])) return false;
    return true;
}

bool Overlap(const PixelRun& a, const PixelRun& b)
{
    const char *aFirst, *aLast, *bFirst, *bLast;
    Extent(a, aFirst, aLast);
    Extent(b, bFirst, bLast);
    return aFirst < bLast && bFirst < aLast;
}

}  // namespace

void ForEachRun(std::span<PixelRun> runs, std::size_t inputs, std::int64_t n, RunKernel kernel,
                const void* context)
{
    if (runs.size() > kMaxRuns) throw std::logic_error("ForEachRun: too many views");
    for (const PixelRun& run : runs)
        if (run.count < n) throw std::runtime_error(message::kDifferentSizes);
    if (n <= 0) return;

    // Sources that a destination would overwrite before they are read.
    std::vector<std::vector<char>> copies;
    for (std::size_t i = 0; i < inputs; ++i)
        for (std::size_t o = inputs; o < runs.size(); ++o) {
            if (SamePixels(runs[i], runs[o]) || !Overlap(runs[i], runs[o])) continue;
            std::vector<char>& copy = copies.emplace_back(static_cast<std::size_t>(n * runs[i].element));
            PixelRun dense;
            dense.data = copy.data();
            dense.element = runs[i].element;
            dense.count = dense.size[0] = n;
            PixelRun pair[] = {runs[i], dense};
            const auto copier = [&](std::int64_t length, char* const* p) {
                std::memcpy(p[1], p[0], static_cast<std::size_t>(length * dense.element));
            };
            Walk(pair, 0, n, [](const void* c, std::int64_t length, char* const* p) {
                (*static_cast<decltype(copier)*>(c))(length, p);
            }, &copier);
            runs[i] = dense;
            break;
        }

    const bool allDense = std::all_of(runs.begin(), runs.end(), [](const PixelRun& r) { return r.dense; });
    if (allDense || n < lumadex::kernels::kElementwiseParallelPixels || omp_in_parallel() || omp_get_max_threads() == 1) {
        Walk(runs, 0, n, kernel, context);
        return;
    }
    // The workers round as the calling thread does (NearbyInt, Rint).
    const int mode = std::fegetround();
#pragma omp parallel
    {
        const std::int64_t count = omp_get_num_threads(), t = omp_get_thread_num();
        const int own = std::fegetround();
        if (own != mode) std::fesetround(mode);
        Walk(runs, n * t / count, n * (t + 1) / count, kernel, context);
        if (own != mode) std::fesetround(own);
    }
}

}  // namespace zep::vml
