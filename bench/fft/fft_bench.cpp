// Speed of the FFT descriptor layer against raw FFTW on the same geometry.
//
// Per case and thread count it prints, in milliseconds:
//   first        the layer's first call (create, configure, commit, compute,
//                free, exactly as the plug-in calls it), planning included
//   worst        the slowest layer call from the first until its measured
//                plan is in place (at least `calls_compared` calls)
//   cheap        raw FFTW: an FFTW_ESTIMATE plan's planning, one execution
//                and the scale pass; one such call is paired with each layer
//                call above (median)
//   cheap_worst  the slowest of those raw cheap calls
//   steady       the layer's calls once settled (median)
//   measured     raw FFTW: executions of an FFTW_MEASURE plan (median)
//   scaled       the same executions followed by a plain parallel 1/sqrt(N)
//                scale pass over the output (median)
//   cheap_spread how much the slowest of the odd-numbered raw cheap calls and
//                the slowest of the even-numbered ones differ (the larger over
//                the smaller): what worst/cheap_worst shows between two
//                series of the same calls on this machine
//   calls        layer calls until the measured plan was ready
//   settled_s    seconds from the first call until then (-1: never)
// The layer's calls scale by 1/sqrt(N); `cheap` and `scaled` are raw FFTW
// doing that same job, `measured` is raw FFTW without the scale pass. Single
// calls on a shared 2-core machine vary by up to 1.8x, so the slowest layer
// call is compared with the slowest of as many raw cheap calls made under the
// same conditions, not with a typical one. bench/fft/run.sh adds scipy.fft
// and the ratios.
//
// With --tight-loop it runs a script's inner loop instead (run_tight_loop);
// with --first-calls, a new user's first calls of the kernel library's
// transforms (run_first_calls).
//
// Usage: fft_bench [--tight-loop | --first-calls] [--threads=N] [case-name ...]
// With FFT_BENCH_EACH set in the environment, --first-calls also prints
// every call's time.
#include <fftw3.h>
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "lumadex/kernels/Fourier.h"
#include "mkl_dfti.h"
#include "plan_cache.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double milliseconds_of(const std::function<void()>& f) {
    const auto t0 = Clock::now();
    f();
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One benchmark geometry.
struct Case {
    std::string name;
    bool single;
    enum { complex_in_place, real_to_half, rows_batch } form;
    std::vector<long> lengths;  // for rows_batch: {H, W}
};

const std::vector<Case> all_cases = {
    {"c2c-f32-1024x1024", true, Case::complex_in_place, {1024, 1024}},
    {"c2c-f64-1024x1024", false, Case::complex_in_place, {1024, 1024}},
    {"c2c-f32-2048x2048", true, Case::complex_in_place, {2048, 2048}},
    {"c2c-f64-2048x2048", false, Case::complex_in_place, {2048, 2048}},
    {"c2c-f32-1000x1000", true, Case::complex_in_place, {1000, 1000}},
    {"c2c-f64-1000x1000", false, Case::complex_in_place, {1000, 1000}},
    {"c2c-f32-1021x1021", true, Case::complex_in_place, {1021, 1021}},
    {"c2c-f64-1021x1021", false, Case::complex_in_place, {1021, 1021}},
    {"c2c-f32-128x128x128", true, Case::complex_in_place, {128, 128, 128}},
    {"c2c-f64-128x128x128", false, Case::complex_in_place, {128, 128, 128}},
    {"r2c-f32-2048x2048", true, Case::real_to_half, {2048, 2048}},
    {"r2c-f64-2048x2048", false, Case::real_to_half, {2048, 2048}},
    {"rows-f32-2048x2048", true, Case::rows_batch, {2048, 2048}},
    {"rows-f64-2048x2048", false, Case::rows_batch, {2048, 2048}},
};

long product(const std::vector<long>& v) {
    long p = 1;
    for (long x : v) p *= x;
    return p;
}

// Buffers of one case: complex (or real) input and, for real-to-half, the
// half-spectrum output; allocated by FFTW so that alignments are stable.
struct Buffers {
    void* in = nullptr;
    void* out = nullptr;
    size_t in_bytes = 0;
    Buffers(const Case& c) {
        const size_t real = c.single ? 4 : 8;
        const long n = product(c.lengths);
        if (c.form == Case::real_to_half) {
            in_bytes = n * real;
            const long half = n / c.lengths.back() * (c.lengths.back() / 2 + 1);
            out = fftw_malloc(half * 2 * real);
            std::memset(out, 0, half * 2 * real);
        } else {
            in_bytes = n * 2 * real;
        }
        in = fftw_malloc(in_bytes);
        std::mt19937 rng(1);
        std::uniform_real_distribution<double> v(-1, 1);
        for (size_t i = 0; i < in_bytes / real; ++i) {
            if (c.single) static_cast<float*>(in)[i] = static_cast<float>(v(rng));
            else static_cast<double*>(in)[i] = v(rng);
        }
    }
    ~Buffers() {
        fftw_free(in);
        fftw_free(out);
    }
};

// One call through the layer, as the plug-in makes it.
void layer_call(const Case& c, Buffers& b) {
    DFTI_DESCRIPTOR_HANDLE h = nullptr;
    const auto precision = c.single ? DFTI_SINGLE : DFTI_DOUBLE;
    std::vector<MKL_LONG> n(c.lengths.begin(), c.lengths.end());
    const double scale = 1.0 / std::sqrt(static_cast<double>(product(c.lengths)));
    MKL_LONG status = 0;
    if (c.form == Case::rows_batch) {
        const MKL_LONG rows = n[0], width = n[1];
        status |= DftiCreateDescriptor(&h, precision, DFTI_COMPLEX, MKL_LONG{1}, width);
        status |= DftiSetValue(h, DFTI_NUMBER_OF_TRANSFORMS, rows);
        status |= DftiSetValue(h, DFTI_INPUT_DISTANCE, width);
        status |= DftiSetValue(h, DFTI_OUTPUT_DISTANCE, width);
        status |= DftiSetValue(h, DFTI_BACKWARD_SCALE, 1.0 / std::sqrt(static_cast<double>(width)));
    } else {
        const auto domain = c.form == Case::real_to_half ? DFTI_REAL : DFTI_COMPLEX;
        status |= DftiCreateDescriptor(&h, precision, domain, static_cast<MKL_LONG>(n.size()), n.data());
        status |= DftiSetValue(h, DFTI_BACKWARD_SCALE, scale);
        status |= DftiSetValue(h, DFTI_FORWARD_SCALE, scale);
        if (c.form == Case::real_to_half) {
            status |= DftiSetValue(h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX);
            status |= DftiSetValue(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE);
        }
    }
    status |= DftiCommitDescriptor(h);
    if (c.form == Case::real_to_half) status |= DftiComputeForward(h, b.in, b.out);
    else status |= DftiComputeBackward(h, b.in);
    status |= DftiFreeDescriptor(&h);
    if (status != 0) {
        std::fprintf(stderr, "fft_bench: DFTI call failed in %s\n", c.name.c_str());
        std::exit(1);
    }
}

// The same transform planned directly with FFTW's guru interface.
struct RawPlan {
    const Case& c;
    void* plan = nullptr;
    RawPlan(const Case& c, Buffers& b, unsigned flags, int threads) : c(c) {
        // FFTW's thread count is planner-wide, and the layer's planner thread
        // may be planning too: plan under the layer's planner lock.
        std::lock_guard planner(lumadex::dfti::PlanCache::planner_lock());
        fftw_plan_with_nthreads(threads);
        fftwf_plan_with_nthreads(threads);
        std::vector<fftw_iodim64> dims;
        fftw_iodim64 batch{1, 0, 0};
        int batch_rank = 0;
        if (c.form == Case::rows_batch) {
            dims.push_back({c.lengths[1], 1, 1});
            batch = {c.lengths[0], c.lengths[1], c.lengths[1]};
            batch_rank = 1;
        } else {
            long in_stride = 1, out_stride = 1;
            dims.resize(c.lengths.size());
            for (size_t i = c.lengths.size(); i-- > 0;) {
                dims[i] = {c.lengths[i], in_stride, out_stride};
                const long last = i + 1 == c.lengths.size() && c.form == Case::real_to_half;
                in_stride *= c.lengths[i];
                out_stride *= last ? c.lengths[i] / 2 + 1 : c.lengths[i];
            }
        }
        const int rank = static_cast<int>(dims.size());
        if (c.single) {
            if (c.form == Case::real_to_half)
                plan = fftwf_plan_guru64_dft_r2c(rank, dims.data(), 0, &batch, static_cast<float*>(b.in),
                                                 static_cast<fftwf_complex*>(b.out), flags);
            else
                plan = fftwf_plan_guru64_dft(rank, dims.data(), batch_rank, &batch, static_cast<fftwf_complex*>(b.in),
                                             static_cast<fftwf_complex*>(b.in), FFTW_BACKWARD, flags);
        } else {
            if (c.form == Case::real_to_half)
                plan = fftw_plan_guru64_dft_r2c(rank, dims.data(), 0, &batch, static_cast<double*>(b.in),
                                                static_cast<fftw_complex*>(b.out), flags);
            else
                plan = fftw_plan_guru64_dft(rank, dims.data(), batch_rank, &batch, static_cast<fftw_complex*>(b.in),
                                            static_cast<fftw_complex*>(b.in), FFTW_BACKWARD, flags);
        }
    }
    void execute() {
        if (c.single) fftwf_execute(static_cast<fftwf_plan>(plan));
        else fftw_execute(static_cast<fftw_plan>(plan));
    }
    ~RawPlan() {
        std::lock_guard planner(lumadex::dfti::PlanCache::planner_lock());
        if (c.single) fftwf_destroy_plan(static_cast<fftwf_plan>(plan));
        else fftw_destroy_plan(static_cast<fftw_plan>(plan));
    }
};

void forget_wisdom() {
    std::lock_guard planner(lumadex::dfti::PlanCache::planner_lock());
    fftw_forget_wisdom();
    fftwf_forget_wisdom();
}

// Multiplies the case's output by its 1/sqrt(N) scale, as plainly as a
// caller of raw FFTW would: one parallel vectorised pass.
template <typename Real>
void scale_pass(Real* data, long count, Real scale, int threads) {
#pragma omp parallel for simd schedule(static) num_threads(threads)
    for (long i = 0; i < count; ++i) data[i] *= scale;
}

struct Output {
    void* data;
    long reals;  // number of real values in the output
    double scale;
};

Output output_of(const Case& c, Buffers& b) {
    const long n = product(c.lengths);
    if (c.form == Case::real_to_half)
        return {b.out, 2 * (n / c.lengths.back()) * (c.lengths.back() / 2 + 1), 1.0 / std::sqrt(double(n))};
    if (c.form == Case::rows_batch) return {b.in, 2 * n, 1.0 / std::sqrt(double(c.lengths[1]))};
    return {b.in, 2 * n, 1.0 / std::sqrt(double(n))};
}

void scale_output(const Case& c, const Output& o, int threads) {
    if (c.single) scale_pass(static_cast<float*>(o.data), o.reals, static_cast<float>(o.scale), threads);
    else scale_pass(static_cast<double*>(o.data), o.reals, o.scale, threads);
}

// Calls are spaced as a script spaces them: idle time of twice the last
// call (at least 20 ms) before each.
void idle_after(double last_ms) {
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(std::max(20.0, 2 * last_ms)));
}

constexpr size_t calls_compared = 25;

// Measured plans the layer has put in place so far (from wisdom or measured).
uint64_t measured_plans() {
    const auto s = lumadex::dfti::PlanCache::instance().statistics();
    return s.wisdom_plans + s.measured_in_background + s.measured_in_calls;
}

void run(const Case& c, int threads) {
    omp_set_num_threads(threads);
    Buffers b(c);
    const Output out = output_of(c, b);

    // The layer's first call, then calls with idle time between them until
    // its measured plan is in. Each layer call is paired with a raw cheap
    // call under the same conditions (idle time before it), so that both
    // series see the same machine.
    // The very first raw cheap call comes before the layer's first call and
    // finds no twiddle tables of the layer's.
    auto cheap_call = [&] {
        forget_wisdom();
        const double t = milliseconds_of([&] {
            RawPlan p(c, b, FFTW_ESTIMATE, threads);
            p.execute();
            scale_output(c, out, threads);
        });
        return t;
    };
    const uint64_t measured_before = measured_plans();
    std::vector<double> cheap_runs = {cheap_call()};
    idle_after(cheap_runs.back());
    forget_wisdom();
    const auto began = Clock::now();
    std::vector<double> transition = {milliseconds_of([&] { layer_call(c, b); })};
    const auto deadline = began + std::chrono::seconds(120);
    int after_arrival = 0;
    double settled_seconds = -1;  // until no measurement was pending any more
    size_t settled_calls = 0;
    while ((after_arrival < 2 || transition.size() < calls_compared) && Clock::now() < deadline) {
        idle_after(std::max(transition.back(), cheap_runs.back()));
        cheap_runs.push_back(cheap_call());
        idle_after(std::max(transition.back(), cheap_runs.back()));
        // In place once a measured plan came in, or once nothing is left to
        // measure (the problem may share a plan measured in an earlier case).
        const bool in_place = measured_plans() > measured_before ||
                              (transition.size() >= 2 && lumadex::dfti::PlanCache::instance().wait_for_measurements(0));
        if (in_place && after_arrival++ == 0) {
            settled_seconds = std::chrono::duration<double>(Clock::now() - began).count();
            settled_calls = transition.size();
        }
        transition.push_back(milliseconds_of([&] { layer_call(c, b); }));
    }

    // Raw FFTW's measured plan, planned from scratch (without the wisdom the
    // layer's measurements brought), then the layer, the raw plan and the raw plan
    // with its scale pass timed in turn, so that all three see the same
    // machine load.
    forget_wisdom();
    RawPlan measured(c, b, FFTW_MEASURE, threads);
    std::vector<double> layer_times, raw_times, scaled_times;
    double spent = 0;
    while (layer_times.size() < 9 || (spent < 2000 && layer_times.size() < 300)) {
        layer_times.push_back(milliseconds_of([&] { layer_call(c, b); }));
        raw_times.push_back(milliseconds_of([&] { measured.execute(); }));
        scale_output(c, out, threads);  // untimed: keeps the values from growing without bound
        scaled_times.push_back(milliseconds_of([&] {
            measured.execute();
            scale_output(c, out, threads);
        }));
        spent += layer_times.back() + raw_times.back() + scaled_times.back();
    }

    double slowest[2] = {0, 0};
    for (size_t i = 0; i < cheap_runs.size(); ++i) slowest[i % 2] = std::max(slowest[i % 2], cheap_runs[i]);
    const double spread = std::max(slowest[0], slowest[1]) / std::min(slowest[0], slowest[1]);

    std::printf("%s\t%d\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%zu\t%.2f\n", c.name.c_str(), threads,
                transition.front(), *std::max_element(transition.begin(), transition.end()), median(cheap_runs),
                *std::max_element(cheap_runs.begin(), cheap_runs.end()), median(layer_times), median(raw_times),
                median(scaled_times), spread, settled_calls, settled_seconds);
    std::fflush(stdout);
}

// A script's inner loop, as a new user first runs it: a fresh process with
// an empty plan cache, `loop_calls` layer calls back to back. Prints the
// loop's total, when the measured plan came in, the cheap calls before it,
// the last 50 calls, and raw FFTW's measuring time and measured and
// FFTW_ESTIMATE executions (each with the scale pass), timed after the loop.
constexpr int loop_calls = 300;

void run_tight_loop(const Case& c, int threads) {
    omp_set_num_threads(threads);
    Buffers b(c);
    const Output out = output_of(c, b);
    const uint64_t measured_before = measured_plans();
    std::vector<double> calls;
    int measured_from = -1;  // the first call on the measured plan
    for (int i = 0; i < loop_calls; ++i) {
        calls.push_back(milliseconds_of([&] { layer_call(c, b); }));
        if (measured_from < 0 && measured_plans() > measured_before) measured_from = i + 1;
    }
    double total = 0;
    for (double t : calls) total += t;
    // Cheap calls: those after the first (which plans; the paused section
    // holds it to its own target) and before the measured plan, less the
    // last one, which may have measured. scipy's calls are timed warm too.
    const int cheap_end = measured_from < 0 ? loop_calls : std::max(1, measured_from - 1);
    std::vector<double> cheap(calls.begin() + 1, calls.begin() + cheap_end);
    const std::vector<double> last(calls.end() - 50, calls.end());

    forget_wisdom();
    const auto began = Clock::now();
    RawPlan measured(c, b, FFTW_MEASURE, threads);
    const double measuring = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
    RawPlan estimated(c, b, FFTW_ESTIMATE, threads);
    std::vector<double> measured_times, estimated_times;
    for (int i = 0; i < 15; ++i) {
        measured_times.push_back(milliseconds_of([&] {
            measured.execute();
            scale_output(c, out, threads);
        }));
        estimated_times.push_back(milliseconds_of([&] {
            estimated.execute();
            scale_output(c, out, threads);
        }));
    }
    std::printf("%s\t%d\t%.1f\t%d\t%zu\t%.3f\t%.3f\t%.3f\t%.1f\t%.3f\t%.3f\n", c.name.c_str(), threads, total,
                measured_from, cheap.size(), cheap.empty() ? 0.0 : median(cheap),
                cheap.empty() ? 0.0 : *std::max_element(cheap.begin(), cheap.end()), median(last), measuring,
                median(measured_times), median(estimated_times));
    std::fflush(stdout);
}

// ---- First calls ----------------------------------------------------------
//
// A new user's first calls of a transform, made through the kernel library as
// the plug-in's script functions make them (so a stack's XY transform and an
// axis transform build the descriptors those build): a fresh process with an
// empty plan cache, `first_calls` calls back to back on the same data. Prints
// the first call and the median of calls 2 to `first_calls`, in ms.
//
// A case is named form-precision-sizes, sizes slowest first (numpy's order):
//   c2c       every axis (ZEPPureFFT), in place, exponent positive
//   xy        the last two axes of a stack (ZEPPureFFTXY)
//   frames    the same stack's frames one by one, a 2-D call each (ZEPPureFFT
//             in a loop): what a stack's calls are measured against
//   x, y, z   the last, second-last and third-last axis (ZEPPureFFTX...)
//   halfpure  a real image to its half-pure spectrum (ZEPHalfPureFFT)
//   real      a real image to its full, centred spectrum (ZEPRealFFT)
// each scaled by 1/sqrt(N) of its transformed lengths.
constexpr int first_calls = 20;

const std::vector<std::string> first_call_cases = {
    "c2c-f32-1024x1024", "c2c-f64-1024x1024", "c2c-f32-2048x2048", "c2c-f64-2048x2048",
    "c2c-f32-1000x1000", "c2c-f64-1000x1000", "c2c-f32-1021x1021", "c2c-f64-1021x1021",
    "c2c-f32-1080x1920", "c2c-f64-1080x1920", "c2c-f32-729x1000",  "c2c-f64-729x1000",
    "c2c-f32-128x128x128", "c2c-f64-128x128x128", "c2c-f32-100x100x100", "c2c-f64-100x100x100",
    "c2c-f32-512x512",   "c2c-f64-512x512",   "c2c-f32-256x256",   "c2c-f64-256x256",
    "frames-f32-8x512x512", "frames-f64-8x512x512", "frames-f32-64x256x256", "frames-f64-64x256x256",
    "z-f32-8x512x512",   "z-f64-8x512x512",   "c2c-f32-8x512x512", "c2c-f64-8x512x512", "xy-f32-8x512x512",  "xy-f64-8x512x512",
    "xy-f32-64x256x256", "xy-f64-64x256x256", "x-f32-64x256x256",  "x-f64-64x256x256",
    "y-f32-64x256x256",  "y-f64-64x256x256",  "z-f32-64x256x256",  "z-f64-64x256x256",
    "halfpure-f32-2048x2048", "halfpure-f64-2048x2048", "real-f32-2048x2048", "real-f64-2048x2048",
};

struct KernelCase {
    std::string form;
    bool single = true;
    std::int64_t size[4] = {1, 1, 1, 1};  // x first
};

KernelCase parse_kernel_case(const std::string& name) {
    KernelCase k;
    const size_t a = name.find('-'), b = name.find('-', a + 1);
    k.form = name.substr(0, a);
    k.single = name.substr(a + 1, b - a - 1) == "f32";
    std::vector<std::int64_t> dims;
    for (size_t at = b + 1; at < name.size();) {
        size_t end = name.find('x', at);
        if (end == std::string::npos) end = name.size();
        dims.push_back(std::stoll(name.substr(at, end - at)));
        at = end + 1;
    }
    for (size_t d = 0; d < dims.size(); ++d) k.size[d] = dims[dims.size() - 1 - d];
    return k;
}

template <class E>
lumadex::kernels::Block<E> dense_block(E* data, const std::int64_t (&size)[4]) {
    return {data, {size[0], size[1], size[2], size[3]}, {1, size[0], size[0] * size[1], size[0] * size[1] * size[2]}};
}

// One call of the case's kernel, timed.
template <class T>
struct KernelCall {
    using C = std::complex<T>;
    KernelCase k;
    std::vector<C> complex;
    std::vector<T> real;

    explicit KernelCall(const KernelCase& c) : k(c) {
        const std::int64_t n = k.size[0] * k.size[1] * k.size[2] * k.size[3];
        std::mt19937 rng(1);
        std::uniform_real_distribution<double> v(-1, 1);
        if (k.form == "halfpure" || k.form == "real") {
            real.resize(n);
            for (T& x : real) x = static_cast<T>(v(rng));
            complex.resize(k.form == "real" ? n : n / k.size[0] * (k.size[0] / 2 + 1));
        } else {
            complex.resize(n);
            for (C& x : complex) x = C(static_cast<T>(v(rng)), static_cast<T>(v(rng)));
        }
    }

    lumadex::kernels::FourierAxes axes() const {
        if (k.form == "xy" || k.form == "frames") return {1, 0};
        if (k.form == "x") return {0};
        if (k.form == "y") return {1};
        if (k.form == "z") return {2};
        return lumadex::kernels::EveryAxis(k.size);
    }

    T scale() const {
        const auto a = axes();
        double n = 1;
        for (int i = 0; i < a.count; ++i) n *= static_cast<double>(k.size[a.dims[i]]);
        return static_cast<T>(1 / std::sqrt(n));
    }

    void operator()() {
        using namespace lumadex::kernels;
        if (k.form == "halfpure" || k.form == "real") {
            const Block<const T> in = dense_block(static_cast<const T*>(real.data()), k.size);
            std::int64_t out_size[4] = {k.size[0], k.size[1], k.size[2], k.size[3]};
            if (k.form == "halfpure") out_size[0] = k.size[0] / 2 + 1;
            const Block<C> out = dense_block(complex.data(), out_size);
            if (k.form == "halfpure") HalfPureForward<T, T>(in, out, scale());
            else FullForward<T>(in, out, scale());
            return;
        }
        const Block<C> data = dense_block(complex.data(), k.size);
        if (k.form == "frames") {
            // The stack's frames one by one, each its own 2-D call.
            const std::int64_t frame = k.size[0] * k.size[1];
            const std::int64_t frame_size[4] = {k.size[0], k.size[1], 1, 1};
            for (std::int64_t z = 0; z < k.size[2]; ++z) {
                const Block<C> f = dense_block(complex.data() + z * frame, frame_size);
                ComplexFourier<T>(f, f, FourierAxes{1, 0}, Exponent::Positive, scale());
            }
            return;
        }
        ComplexFourier<T>(data, data, axes(), Exponent::Positive, scale());
    }
};

template <class T>
void run_first_calls_of(const std::string& name, const KernelCase& k, int threads) {
    omp_set_num_threads(threads);
    KernelCall<T> call(k);
    std::vector<double> times;
    for (int i = 0; i < first_calls; ++i) times.push_back(milliseconds_of([&] { call(); }));
    const std::vector<double> later(times.begin() + 1, times.end());
    if (std::getenv("FFT_BENCH_EACH")) for (double t : times) std::printf("  %.2f", t);
    std::printf("%s\t%d\t%.3f\t%.3f\n", name.c_str(), threads, times.front(), median(later));
    std::fflush(stdout);
}

void run_first_calls(const std::string& name, int threads) {
    const KernelCase k = parse_kernel_case(name);
    if (k.single) run_first_calls_of<float>(name, k, threads);
    else run_first_calls_of<double>(name, k, threads);
}

}  // namespace

int main(int argc, char** argv) {
    fftw_init_threads();
    fftwf_init_threads();
    std::vector<std::string> wanted(argv + 1, argv + argc);
    bool tight_loop = false, first = false;
    int only_threads = 0;
    while (!wanted.empty() && wanted.front().rfind("--", 0) == 0) {
        if (wanted.front() == "--tight-loop") tight_loop = true;
        else if (wanted.front() == "--first-calls") first = true;
        else if (wanted.front() == "--list-first-calls") {
            for (const std::string& name : first_call_cases) std::printf("%s\n", name.c_str());
            return 0;
        }
        else if (wanted.front().rfind("--threads=", 0) == 0) only_threads = std::atoi(wanted.front().c_str() + 10);
        else {
            std::fprintf(stderr, "usage: fft_bench [--tight-loop | --first-calls] [--threads=N] [case ...]\n");
            return 2;
        }
        wanted.erase(wanted.begin());
    }
    if (first) {
        std::printf("case\tthreads\tfirst\tcalls_2_%d\n", first_calls);
        for (int threads : {1, 2}) {
            if (only_threads && threads != only_threads) continue;
            for (const std::string& name : wanted.empty() ? first_call_cases : wanted) run_first_calls(name, threads);
        }
        return 0;
    }
    if (tight_loop)
        std::printf("case\tthreads\ttotal\tmeasured_from\tcheap_calls\tcheap\tcheap_worst\tlast50\tmeasuring\tmeasured\testimated\n");
    else
        std::printf("case\tthreads\tfirst\tworst\tcheap\tcheap_worst\tsteady\tmeasured\tscaled\tcheap_spread\tcalls\tsettled_s\n");
    for (int threads : {1, 2}) {
        if (only_threads && threads != only_threads) continue;
        for (const Case& c : all_cases)
            if (wanted.empty() || std::find(wanted.begin(), wanted.end(), c.name) != wanted.end()) {
                if (tight_loop) run_tight_loop(c, threads);
                else run(c, threads);
            }
    }
    return 0;
}
