// The pixels of several views visited in step, in flat order (x fastest),
// as runs of contiguous elements handed to a vector-math routine.
//
// Views that are dense are one run each; a sub-area is visited row by row
// with its parent's pitches. Equal counts in different shapes pair element i
// of one view with element i of the other. A source whose pixels overlap a
// destination's without being the same pixels is first copied, so that no
// element is read after it was written. Large images that are not dense are
// split over the OpenMP threads here (a dense one is split by the routine).
#pragma once

#include <cstdint>
#include <span>

#include "ImageUtility.h"

namespace zep::vml {

struct PixelRun {
    char* data = nullptr;
    std::int64_t size[4] = {1, 1, 1, 1};
    std::int64_t stride[4] = {};  // bytes
    std::int64_t element = 0;     // bytes
    std::int64_t count = 0;
    bool dense = true;
};

template <class T>
PixelRun RunOf(const tarn::dm::image<T>& view)
{
    PixelRun run;
    run.data = reinterpret_cast<char*>(view.data());
    run.element = sizeof(T);
    std::int64_t expected = sizeof(T);
    run.count = 1;
    for (int d = 0; d < 4; ++d) {
        run.size[d] = view.size(d);
        run.stride[d] = view.pitch(d) * std::int64_t{sizeof(T)};
        if (run.size[d] > 1 && run.stride[d] != expected) run.dense = false;
        expected *= run.size[d];
        run.count *= run.size[d];
    }
    return run;
}

// kernel(context, length, pointers): one call per run, length <= 2^30.
using RunKernel = void (*)(const void* context, std::int64_t length, char* const* pointers);

// Visits the first `n` elements of every run: runs[0, inputs) are read,
// the others written. Throws the size message when a run holds fewer than n.
void ForEachRun(std::span<PixelRun> runs, std::size_t inputs, std::int64_t n, RunKernel kernel,
                const void* context);

template <class Kernel>
void ForEachRun(std::span<PixelRun> runs, std::size_t inputs, std::int64_t n, const Kernel& kernel)
{
    ForEachRun(
        runs, inputs, n,
        [](const void* context, std::int64_t length, char* const* pointers) {
            (*static_cast<const Kernel*>(context))(length, pointers);
        },
        &kernel);
}

}  // namespace zep::vml
