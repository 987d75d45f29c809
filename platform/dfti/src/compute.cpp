// DftiComputeForward / DftiComputeBackward: one committed direction run on
// the caller's data. Checks the pointers, stages an input FFTW would destroy,
// takes the plan from the plan cache, runs it with the descriptor's thread
// count, and applies the direction's scale. Until a 2-D complex transform
// has its measured plan, it runs in two cheap passes (below).
#include "compute.hpp"

#include <fftw3.h>
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <numeric>
#include <utility>
#include <vector>

#include "os_services.h"
#include "plan_cache.hpp"
#include "strided_ops.hpp"

namespace lumadex::dfti {
namespace {

// The aligned buffer of one call's staged input, given back when the call
// ends: keeping the largest one between calls held up to hundreds of
// megabytes for the rest of the process after one large transform.
class StagingBuffer {
public:
    bool allocate(size_t bytes) { return (data_ = lumadex::os::AllocateScratch(bytes)) != nullptr; }
    void* data() const { return data_; }
    ~StagingBuffer() { lumadex::os::FreeScratch(data_); }

private:
    void* data_ = nullptr;
};

// Runs FFTW's OpenMP team with the descriptor's thread count.
class ThreadCountScope {
public:
    explicit ThreadCountScope(int threads) : saved_(omp_get_max_threads()), threads_(threads) {
        if (saved_ != threads_) omp_set_num_threads(threads_);
    }
    ~ThreadCountScope() {
        if (saved_ != threads_) omp_set_num_threads(saved_);
    }

private:
    int saved_, threads_;
};

// Brackets one transform for the plan policy: the planner thread sees it in
// flight, and a call on a cheap plan adds its time to the problem's account.
class TransformScope {
public:
    TransformScope(const FftwProblem& p, bool cheap) : problem_(p), cheap_(cheap), began_(Clock::now()) {
        PlanCache::instance().transform_begins();
    }
    ~TransformScope() {
        const double seconds = std::chrono::duration<double>(Clock::now() - began_).count();
        PlanCache::instance().transform_ends(problem_, seconds, cheap_);
    }

private:
    using Clock = std::chrono::steady_clock;
    const FftwProblem& problem_;
    bool cheap_;
    Clock::time_point began_;
};

// A scaled batch of many transforms runs in chunks that fit in a core's
// cache: each chunk is transformed and then scaled while still in cache,
// instead of a second pass over the whole output afterwards (which costs as
// much as the transforms themselves when they are short). The chunks are
// spread over the threads, each running a single-threaded plan.
// Returns false when the problem is not worth chunking (status untouched).
bool run_in_chunks(const FftwProblem& whole, char* in, char* out, double scale, Status& status) {
    constexpr int64_t chunk_bytes = 32 << 10;  // a level-1 data cache
    const Shape& shape = whole.shape;
    const int threads = whole.threads;
    const int64_t count = shape.batch.n;
    if (scale == 1.0 || count < 2 * static_cast<int64_t>(threads)) return false;

    const auto in_bytes = static_cast<int64_t>(input_element_bytes(shape));
    const auto out_bytes = static_cast<int64_t>(output_element_bytes(shape));
    Shape one = shape;
    one.batch = {1, 0, 0};
    const int64_t item_bytes = std::max(input_layout(one).count() * in_bytes, output_layout(one).count() * out_bytes);

    // Chunks start at the same alignment: their byte steps are multiples of 64.
    auto items_for_alignment = [](int64_t distance_bytes) {
        const int64_t g = std::gcd(std::llabs(distance_bytes), int64_t{64});
        return g == 0 ? int64_t{1} : 64 / g;
    };
    const int64_t quantum = std::lcm(items_for_alignment(shape.batch.in_stride * in_bytes),
                                     items_for_alignment(shape.batch.out_stride * out_bytes));
    int64_t items = std::max<int64_t>(1, chunk_bytes / std::max<int64_t>(1, item_bytes));
    items = std::min(items, (count + threads - 1) / threads);
    items = (items + quantum - 1) / quantum * quantum;
    const int64_t chunks = (count + items - 1) / items;
    if (chunks < threads) return false;

    FftwProblem part = whole;
    part.threads = 1;
    part.shape.batch.n = items;
    FftwProblem last = part;
    last.shape.batch.n = count - (chunks - 1) * items;
    const int64_t in_step = items * shape.batch.in_stride * in_bytes;
    const int64_t out_step = items * shape.batch.out_stride * out_bytes;
    char* last_in = in + (chunks - 1) * in_step;
    char* last_out = out + (chunks - 1) * out_step;
    std::shared_ptr<Plan> part_plan = PlanCache::instance().plan_for(part, in, out);
    std::shared_ptr<Plan> last_plan = last.shape.batch.n == items ? part_plan
                                                                   : PlanCache::instance().plan_for(last, last_in, last_out);
    if (!part_plan || !last_plan) {
        status = planner_failed;
        return true;
    }
    const Layout part_out = output_layout(part.shape), last_out_layout = output_layout(last.shape);
    const int components = output_is_complex(shape.kind) ? 2 : 1;

    TransformScope timed(part, !part_plan->measured);
#pragma omp parallel for schedule(static) num_threads(threads)
    for (int64_t c = 0; c < chunks; ++c) {
        const bool final = c == chunks - 1;
        const Plan& plan = final ? *last_plan : *part_plan;
        char* chunk_out = out + c * out_step;
        execute_fftw_plan(plan.problem, plan.handle, in + c * in_step, chunk_out);
        scale_elements(chunk_out, final ? last_out_layout : part_out, shape.precision, components, scale, 1);
    }
    return true;
}

// ---- The cheap 2-D path --------------------------------------------------
//
// Until its measured plan arrives, a 2-D complex or real-to-complex
// transform does not run FFTW_ESTIMATE's 2-D plan: along a power-of-two
// strided axis that plan reads columns straight from memory, and its
// 1024 x 1024 float transform takes 47 ms where a measured plan takes 6.
// Instead it runs two passes with cheap 1-D plans (kept in the plan cache):
//  1. the rows (the axis with the smaller output stride; the halved last axis
//     of a real transform), all at once, from input to output;
//  2. the columns in blocks of a cache line's width: each block is copied
//     into a small contiguous buffer, transformed there, and written back
//     with the scale applied, so the scale costs no pass of its own.

// Transforms `columns` columns of length n (stride `along`, neighbours
// `across` apart, in complex elements) through the thread's buffer.
template <typename R>
void column_block(R* first, int64_t n, int64_t along, int64_t across, const FftwProblem& block_problem,
                  FftwPlan plan, int64_t columns, R* buffer, R scale) {
    for (int64_t i = 0; i < n; ++i)
        for (int64_t c = 0; c < columns; ++c) {
            const R* from = first + 2 * (i * along + c * across);
            R* to = buffer + 2 * (c * n + i);
            to[0] = from[0];
            to[1] = from[1];
        }
    execute_fftw_plan(block_problem, plan, buffer, buffer);
    for (int64_t i = 0; i < n; ++i)
        for (int64_t c = 0; c < columns; ++c) {
            const R* from = buffer + 2 * (c * n + i);
            R* to = first + 2 * (i * along + c * across);
            to[0] = from[0] * scale;
            to[1] = from[1] * scale;
        }
}

// Only lengths with a power-of-two factor of 16 or more make FFTW_ESTIMATE's strided
// column reads slow (their rows fall into the same cache sets); for others
// (1000 x 1000, primes) its 2-D plan is as fast as the two passes or faster.
bool suits_two_passes(const FftwProblem& p) {
    const Shape& s = p.shape;
    return (s.kind == Kind::complex_to_complex || s.kind == Kind::real_to_complex) && s.rank == 2 &&
           s.batch.n == 1 && s.axes[0].n > 1 && s.axes[1].n > 1 && (s.axes[0].n % 16 == 0 || s.axes[1].n % 16 == 0);
}

template <typename R>
Status run_two_passes(const FftwProblem& whole, char* in, char* out, double scale) {
    const Shape& s = whole.shape;
    // A real-to-complex transform's rows are its last axis, which it halves.
    const bool real_rows = s.kind == Kind::real_to_complex;
    const bool rows_last = real_rows || std::llabs(s.axes[1].out_stride) <= std::llabs(s.axes[0].out_stride);
    const Axis row = s.axes[rows_last ? 1 : 0], column = s.axes[rows_last ? 0 : 1];
    const int64_t column_count = real_rows ? row.n / 2 + 1 : row.n;
    const int threads = whole.threads;

    FftwProblem rows = whole;
    rows.shape.rank = 1;
    rows.shape.axes[0] = row;
    rows.shape.batch = column;

    // Columns per block: one cache line of complex elements; the last block
    // may be narrower.
    const int64_t width = std::max<int64_t>(1, 128 / static_cast<int64_t>(2 * sizeof(R)));
    const int64_t n = column.n;
    const int64_t full_blocks = column_count / width, rest = column_count % width;
    std::vector<R*> buffers(static_cast<size_t>(threads), nullptr);
    for (R*& b : buffers) b = static_cast<R*>(fftw_malloc(static_cast<size_t>(2 * width * n) * sizeof(R)));
    const bool allocated = std::all_of(buffers.begin(), buffers.end(), [](R* b) { return b != nullptr; });

    // The passes' cheap plans are kept in the plan cache: a cheap call
    // plans nothing once its geometry has been seen.
    std::shared_ptr<Plan> rows_plan, block_plans[2];  // full width, rest
    Status status = allocated ? ok : out_of_memory;
    if (allocated) {
        rows_plan = PlanCache::instance().cheap_plan_for(rows, in, out);
        const int64_t widths[2] = {full_blocks > 0 ? width : 0, rest};
        for (int k = 0; k < 2; ++k) {
            if (widths[k] == 0) continue;
            FftwProblem block = whole;
            block.shape.kind = Kind::complex_to_complex;
            block.shape.rank = 1;
            block.shape.axes[0] = {n, 1, 1};
            block.shape.batch = {widths[k], n, n};
            block.in_place = true;
            block.destroy_input = false;
            block.threads = 1;
            block.in_alignment = block.out_alignment = fftw_alignment(s.precision, buffers[0]);
            block_plans[k] = PlanCache::instance().cheap_plan_for(block, buffers[0], buffers[0]);
            if (!block_plans[k]) status = planner_failed;
        }
        if (!rows_plan) status = planner_failed;
    }

    if (status == ok) {
        {
            ThreadCountScope team(threads);
            execute_fftw_plan(rows_plan->problem, rows_plan->handle, in, out);
        }
        const int64_t block_count = full_blocks + (rest > 0 ? 1 : 0);
        R* columns = reinterpret_cast<R*>(out);
        const auto r_scale = static_cast<R>(scale);
#pragma omp parallel for schedule(static) num_threads(threads)
        for (int64_t i = 0; i < block_count; ++i) {
            const Plan& b = *block_plans[i < full_blocks ? 0 : 1];
            column_block<R>(columns + 2 * i * width * row.out_stride, n, column.out_stride, row.out_stride,
                            b.problem, b.handle, b.problem.shape.batch.n,
                            buffers[static_cast<size_t>(omp_get_thread_num())], r_scale);
        }
    }
    for (R* b : buffers) fftw_free(b);
    return status;
}

}  // namespace

Status compute(const DFTI_DESCRIPTOR& descriptor, bool forward, void* in, void* out) {
    const DFTI_DESCRIPTOR* d = &descriptor;
    if (!d->committed) return not_committed;
    if (!d->in_place && !out) return missing_output_pointer;
    if (!in) return null_data;

    const Direction& dir = forward ? d->forward : d->backward;
    const Shape& shape = dir.shape;
    const size_t in_bytes = input_element_bytes(shape), out_bytes = output_element_bytes(shape);
    const Layout in_layout = input_layout(shape, dir.in_offset);
    const Layout out_layout = output_layout(shape, dir.out_offset);
    if (!d->in_place && layouts_overlap(static_cast<const char*>(in), in_layout, in_bytes,
                                        static_cast<const char*>(out), out_layout, out_bytes))
        return output_overlaps_input;

    char* in_data = static_cast<char*>(in) + dir.in_offset * static_cast<int64_t>(in_bytes);
    char* out_data = static_cast<char*>(out) + dir.out_offset * static_cast<int64_t>(out_bytes);

    // FFTW's multi-dimensional complex-to-real transforms overwrite their
    // input, and a real transform in place changes the element type under
    // its own feet: both run from a dense copy of the input instead.
    const bool staged = shape.kind != Kind::complex_to_complex &&
                        (d->in_place || (shape.kind == Kind::complex_to_real && shape.rank >= 2));
    FftwProblem problem;
    problem.shape = shape;
    problem.threads = d->threads;
    problem.in_place = d->in_place && !staged;
    StagingBuffer scratch;
    if (staged) {
        const Layout from = input_layout(shape);
        const Layout dense = dense_layout_like(from);
        if (!scratch.allocate(static_cast<size_t>(dense.count()) * in_bytes)) return out_of_memory;
        copy_elements(in_data, from, scratch.data(), dense, in_bytes, d->threads);
        for (int i = 0; i < shape.rank; ++i) problem.shape.axes[i].in_stride = dense.stride[i];
        problem.shape.batch.in_stride = shape.batch.n > 1 ? dense.stride[shape.rank] : 0;
        problem.destroy_input = true;
        in_data = static_cast<char*>(scratch.data());
    }
    problem.in_alignment = fftw_alignment(shape.precision, in_data);
    problem.out_alignment = fftw_alignment(shape.precision, out_data);

    Status status = ok;
    if (!run_in_chunks(problem, in_data, out_data, dir.scale, status)) {
        const std::shared_ptr<Plan> plan = PlanCache::instance().plan_for(problem, in_data, out_data);
        if (!plan) {
            status = planner_failed;
        } else {
            TransformScope timed(problem, !plan->measured);
            if (!plan->measured && suits_two_passes(problem)) {
                status = shape.precision == Precision::single
                             ? run_two_passes<float>(problem, in_data, out_data, dir.scale)
                             : run_two_passes<double>(problem, in_data, out_data, dir.scale);
            } else {
                ThreadCountScope threads(d->threads);
                execute_fftw_plan(problem, plan->handle, in_data, out_data);
                if (dir.scale != 1.0)
                    scale_elements(out_data, output_layout(shape), shape.precision,
                                   output_is_complex(shape.kind) ? 2 : 1, dir.scale, d->threads);
            }
        }
    }
    return status;
}

}  // namespace lumadex::dfti
