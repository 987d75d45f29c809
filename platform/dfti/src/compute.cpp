// DftiComputeForward / DftiComputeBackward: one committed direction run on
// the caller's data. Checks the pointers, stages an input FFTW would destroy,
// takes the plan from the plan cache, runs it with the descriptor's thread
// count, and applies the direction's scale.
#include "compute.hpp"

#include <fftw3.h>
#include <omp.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <numeric>
#include <utility>

#include "strided_ops.hpp"

namespace lumadex::dfti {
namespace {

// One reusable aligned buffer for staged inputs, kept between calls so that a
// repeated transform does not pay for fresh pages every time.
class ScratchPool {
public:
    struct Buffer {
        void* data = nullptr;
        size_t bytes = 0;
    };
    static ScratchPool& instance() {
        static ScratchPool pool;
        return pool;
    }
    Buffer acquire(size_t bytes) {
        {
            std::lock_guard guard(mutex_);
            if (kept_.data && kept_.bytes >= bytes) return std::exchange(kept_, Buffer{});
        }
        return {fftw_malloc(bytes), bytes};
    }
    void release(Buffer b) {
        std::lock_guard guard(mutex_);
        if (b.bytes > kept_.bytes) std::swap(b, kept_);
        fftw_free(b.data);
    }
    ~ScratchPool() { fftw_free(kept_.data); }

private:
    std::mutex mutex_;
    Buffer kept_;
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

// Keeps the planner helper stopped while a transform with this many threads runs.
class TransformScope {
public:
    explicit TransformScope(int threads) : paused_(PlanCache::instance().transform_begins(threads)) {}
    ~TransformScope() {
        if (paused_) PlanCache::instance().transform_ends();
    }

private:
    bool paused_;
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

    TransformScope measurements_paused(threads);
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

}  // namespace

Status compute(DFTI_DESCRIPTOR& descriptor, bool forward, void* in, void* out) {
    DFTI_DESCRIPTOR* d = &descriptor;
    if (!d->committed) return not_committed;
    if (!d->in_place && !out) return missing_output_pointer;
    if (!in) return null_data;

    Direction& dir = forward ? d->forward : d->backward;
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
    ScratchPool::Buffer scratch;
    if (staged) {
        const Layout from = input_layout(shape);
        const Layout dense = dense_layout_like(from);
        scratch = ScratchPool::instance().acquire(static_cast<size_t>(dense.count()) * in_bytes);
        if (!scratch.data) return out_of_memory;
        copy_elements(in_data, from, scratch.data, dense, in_bytes, d->threads);
        for (int i = 0; i < shape.rank; ++i) problem.shape.axes[i].in_stride = dense.stride[i];
        problem.shape.batch.in_stride = shape.batch.n > 1 ? dense.stride[shape.rank] : 0;
        problem.destroy_input = true;
        in_data = static_cast<char*>(scratch.data);
    }
    problem.in_alignment = fftw_alignment(shape.precision, in_data);
    problem.out_alignment = fftw_alignment(shape.precision, out_data);

    Status status = ok;
    bool settled = false;
    if (!run_in_chunks(problem, in_data, out_data, dir.scale, status)) {
        std::shared_ptr<Plan> plan = dir.last_plan;
        settled = plan && plan->measured && !plan->superseded && plan->problem == problem;
        if (!settled) {
            plan = PlanCache::instance().plan_for(problem, in_data, out_data);
            dir.last_plan = plan;
        }
        if (!plan) {
            status = planner_failed;
        } else {
            TransformScope measurements_paused(d->threads);
            ThreadCountScope threads(d->threads);
            execute_fftw_plan(problem, plan->handle, in_data, out_data);
            if (dir.scale != 1.0)
                scale_elements(out_data, output_layout(shape), shape.precision,
                               output_is_complex(shape.kind) ? 2 : 1, dir.scale, d->threads);
        }
    }
    if (scratch.data) ScratchPool::instance().release(scratch);
    return status;
}

}  // namespace lumadex::dfti
