// DftiComputeForward / DftiComputeBackward: one committed direction run on
// the caller's data. Checks the pointers, stages an input FFTW would destroy,
// asks the plan cache for the problem's plan, and runs it with the
// descriptor's thread count and the direction's scale; until a measured plan
// is at hand, the cheap path runs instead (line passes, line_passes.hpp, or
// FFTW_ESTIMATE's plan of a problem of one line or a few).
#include "compute.hpp"

#include <omp.h>

#include <chrono>
#include <utility>

#include "kept_buffers.hpp"
#include "line_passes.hpp"
#include "os_services.h"
#include "plan_cache.hpp"
#include "strided_ops.hpp"

namespace lumadex::dfti {
namespace {

// Calls of fewer elements run on one thread, on FFTW's plans and ours alike:
// each parallel region is a fork and join, and on a machine busy with other
// processes a join waits for a woken thread to get a core (several
// milliseconds here at a load of 4 on 2 cores), which only a call of a
// millisecond or more can afford (a 256 x 256 float transform takes 0.2
// ms; an axis transform along y of a volume makes one such call per plane,
// and the kernel library runs those side by side, one thread each, with
// DFTI_THREAD_LIMIT 1).
constexpr int64_t threaded_elements = int64_t{1} << 17;

// The aligned buffer of one call's staged input, taken from the staging
// buffers kept between calls and given back when the call ends. Two buffers
// of up to 48 MiB each are kept (a 2048 x 2048 double half spectrum; two
// threads transforming at once): keeping whatever the largest call needed
// held hundreds of megabytes for the rest of the process after one large
// transform.
KeptBuffers staging_buffers(size_t{48} << 20, 2);

class StagingBuffer {
public:
    bool allocate(size_t bytes) { return (data_ = staging_buffers.take(bytes)) != nullptr; }
    void* data() const { return data_; }
    ~StagingBuffer() { staging_buffers.give_back(data_); }

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

// Brackets one compute call for the plan policy: the planner thread sees it
// in flight, and the call's time (`units` of the problem) goes to its
// problem's account of the cheap path or of its measured plan.
class TransformScope {
public:
    TransformScope(const FftwProblem& p, double units, bool measured)
        : problem_(p), units_(units), measured_(measured), began_(Clock::now()) {
        PlanCache::instance().transform_begins(p.threads);
    }
    ~TransformScope() {
        const double seconds = std::chrono::duration<double>(Clock::now() - began_).count();
        PlanCache& cache = PlanCache::instance();
        cache.transform_ends(seconds, problem_.threads);
        if (measured_) cache.account_measured(problem_, seconds, units_);
        else cache.account_cheap(problem_, seconds, units_);
    }

private:
    using Clock = std::chrono::steady_clock;
    const FftwProblem& problem_;
    double units_;
    bool measured_;
    Clock::time_point began_;
};

// The unit the plan policy measures: a batch of 2-D or 3-D frames is
// measured as one frame, whose plan then runs frame by frame, so that a
// batch runs as fast as its frames from the first call on and shares their
// measurement; anything else is measured whole. (FFTW reuses a plan only
// on arrays of the alignment it was planned for: frames that start at
// other alignments are measured whole too.) With frames enough for every
// thread to have several, the frames are spread over the threads, each
// running a single-threaded plan: one fork and join a call instead of one
// a frame, which a machine busy with other processes makes costly.
struct Frames {
    FftwProblem unit;
    int64_t count = 1;
    int64_t in_step = 0, out_step = 0;  // bytes between frames
    bool spread = false;

    Frames(const FftwProblem& p, const char* in, const char* out) : unit(p) {
        const Shape& s = p.shape;
        int long_axes = 0;
        for (int a = 0; a < s.rank; ++a) long_axes += s.axes[a].n > 1 ? 1 : 0;
        if (s.batch.n < 2 || long_axes < 2) return;
        const int64_t in_step_bytes = s.batch.in_stride * static_cast<int64_t>(input_element_bytes(s));
        const int64_t out_step_bytes = s.batch.out_stride * static_cast<int64_t>(output_element_bytes(s));
        if (fftw_alignment(s.precision, in + in_step_bytes) != p.in_alignment ||
            fftw_alignment(s.precision, out + out_step_bytes) != p.out_alignment)
            return;
        unit.shape.batch = {1, 0, 0};
        count = s.batch.n;
        in_step = in_step_bytes;
        out_step = out_step_bytes;
        spread = p.threads > 1 && count >= 2 * p.threads;
        if (spread) unit.threads = 1;
    }
};

// Runs a plan and scales its output (a frame's while it is still in cache).
void execute_scaled(const Plan& plan, char* in, char* out, double scale) {
    const FftwProblem& p = plan.problem;
    ThreadCountScope threads(p.threads);
    execute_fftw_plan(p, plan.handle, in, out);
    if (scale != 1.0)
        scale_elements(out, output_layout(p.shape), p.shape.precision, output_is_complex(p.shape.kind) ? 2 : 1,
                       scale, p.threads);
}

// Runs the problem by the plan policy: its measured plan, or the cheap path.
Status run(const FftwProblem& problem, char* in, char* out, double scale) {
    PlanCache& cache = PlanCache::instance();
    if (suits_line_passes(problem)) {
        const Frames frames(problem, in, out);
        const std::shared_ptr<Plan> measured = cache.plan_for(frames.unit, in, out, PlanUse::whole_lines);
        TransformScope timed(frames.unit, static_cast<double>(frames.count), measured != nullptr);
        if (!measured) return run_line_passes(problem, in, out, scale);
#pragma omp parallel for schedule(dynamic, 1) num_threads(problem.threads) if (frames.spread)
        for (int64_t f = 0; f < frames.count; ++f)
            execute_scaled(*measured, in + f * frames.in_step, out + f * frames.out_step, scale);
        return ok;
    }
    const std::shared_ptr<Plan> plan = cache.plan_for(problem, in, out, PlanUse::whole);
    if (!plan) return planner_failed;
    TransformScope timed(problem, 1.0, plan->measured);
    execute_scaled(*plan, in, out, scale);
    return ok;
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
    problem.threads = output_layout(shape).count() >= threaded_elements ? d->threads : 1;
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

    return run(problem, in_data, out_data, dir.scale);
}

}  // namespace lumadex::dfti
