#include "fftw_problem.hpp"

#include <dlfcn.h>
#include <fftw3.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace lumadex::dfti {

namespace {

template <typename T>
void mix(size_t& h, T v) {
    h ^= std::hash<int64_t>{}(static_cast<int64_t>(v)) + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
}

// The numbers of a problem in one fixed order, for the hash.
std::vector<int64_t> numbers_of(const FftwProblem& p) {
    const Shape& s = p.shape;
    std::vector<int64_t> v = {static_cast<int>(s.precision), static_cast<int>(s.kind), s.sign, s.rank};
    for (int i = 0; i < s.rank; ++i) v.insert(v.end(), {s.axes[i].n, s.axes[i].in_stride, s.axes[i].out_stride});
    v.insert(v.end(), {s.batch.n, s.batch.in_stride, s.batch.out_stride, p.in_place, p.in_alignment,
                       p.out_alignment, p.threads, p.destroy_input});
    return v;
}

std::vector<fftw_iodim64> dims_of(const Shape& s) {
    std::vector<fftw_iodim64> d(static_cast<size_t>(s.rank));
    for (int i = 0; i < s.rank; ++i) d[i] = {s.axes[i].n, s.axes[i].in_stride, s.axes[i].out_stride};
    return d;
}

// FFTW's single and double precision APIs behind one set of names.
struct DoubleApi {
    using real = double;
    using complex = fftw_complex;
    using plan = fftw_plan;
    static constexpr auto dft = fftw_plan_guru64_dft;
    static constexpr auto r2c = fftw_plan_guru64_dft_r2c;
    static constexpr auto c2r = fftw_plan_guru64_dft_c2r;
    static constexpr auto exec_dft = fftw_execute_dft;
    static constexpr auto exec_r2c = fftw_execute_dft_r2c;
    static constexpr auto exec_c2r = fftw_execute_dft_c2r;
    static constexpr auto destroy = fftw_destroy_plan;
    static constexpr auto nthreads = fftw_plan_with_nthreads;
};
struct SingleApi {
    using real = float;
    using complex = fftwf_complex;
    using plan = fftwf_plan;
    static constexpr auto dft = fftwf_plan_guru64_dft;
    static constexpr auto r2c = fftwf_plan_guru64_dft_r2c;
    static constexpr auto c2r = fftwf_plan_guru64_dft_c2r;
    static constexpr auto exec_dft = fftwf_execute_dft;
    static constexpr auto exec_r2c = fftwf_execute_dft_r2c;
    static constexpr auto exec_c2r = fftwf_execute_dft_c2r;
    static constexpr auto destroy = fftwf_destroy_plan;
    static constexpr auto nthreads = fftwf_plan_with_nthreads;
};

template <typename Api>
FftwPlan plan_with(const FftwProblem& p, void* in, void* out, unsigned flags) {
    using R = typename Api::real;
    using C = typename Api::complex;
    const Shape& s = p.shape;
    const auto dims = dims_of(s);
    const fftw_iodim64 batch = {s.batch.n, s.batch.in_stride, s.batch.out_stride};
    const int batch_rank = s.batch.n > 1 ? 1 : 0;
    flags |= p.destroy_input ? FFTW_DESTROY_INPUT : FFTW_PRESERVE_INPUT;
    Api::nthreads(p.threads);
    switch (s.kind) {
        case Kind::complex_to_complex:
            return Api::dft(s.rank, dims.data(), batch_rank, &batch, static_cast<C*>(in),
                            static_cast<C*>(out), s.sign, flags);
        case Kind::real_to_complex:
            return Api::r2c(s.rank, dims.data(), batch_rank, &batch, static_cast<R*>(in),
                            static_cast<C*>(out), flags);
        case Kind::complex_to_real:
            return Api::c2r(s.rank, dims.data(), batch_rank, &batch, static_cast<C*>(in),
                            static_cast<R*>(out), flags);
    }
    return nullptr;
}

template <typename Api>
void execute_with(const FftwProblem& p, FftwPlan plan, void* in, void* out) {
    using R = typename Api::real;
    using C = typename Api::complex;
    auto pl = static_cast<typename Api::plan>(plan);
    switch (p.shape.kind) {
        case Kind::complex_to_complex:
            Api::exec_dft(pl, static_cast<C*>(in), static_cast<C*>(out));
            break;
        case Kind::real_to_complex:
            Api::exec_r2c(pl, static_cast<R*>(in), static_cast<C*>(out));
            break;
        case Kind::complex_to_real:
            Api::exec_c2r(pl, static_cast<C*>(in), static_cast<R*>(out));
            break;
    }
}

}  // namespace

size_t FftwProblem::hash() const {
    size_t h = 0;
    for (int64_t v : numbers_of(*this)) mix(h, v);
    return h;
}

namespace {

// The FFTW threads library of one precision stays loaded for good once this
// layer has initialised it: fftw_init_threads and
// fftw_make_planner_thread_safe leave hooks into it in FFTW's process-wide
// state, which other FFTW users of the process keep calling after this layer
// is unloaded.
void keep_loaded(void* symbol) {
    Dl_info info{};
    if (dladdr(symbol, &info) == 0 || !info.dli_fname) return;
    if (void* library = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) dlclose(library);
}

}  // namespace

bool init_fftw_threads(Precision p) {
    static std::once_flag once[2];
    static bool ready[2] = {false, false};
    const int i = static_cast<int>(p);
    std::call_once(once[i], [&] {
        if (p == Precision::single) {
            keep_loaded(reinterpret_cast<void*>(&fftwf_init_threads));
            ready[i] = fftwf_init_threads() != 0;
            if (ready[i]) fftwf_make_planner_thread_safe();
        } else {
            keep_loaded(reinterpret_cast<void*>(&fftw_init_threads));
            ready[i] = fftw_init_threads() != 0;
            if (ready[i]) fftw_make_planner_thread_safe();
        }
    });
    return ready[i];
}

namespace {
std::atomic<bool> planned[2];
}

FftwPlan make_fftw_plan(const FftwProblem& p, void* in, void* out, unsigned flags) {
    FftwPlan plan = p.shape.precision == Precision::single ? plan_with<SingleApi>(p, in, out, flags)
                                                           : plan_with<DoubleApi>(p, in, out, flags);
    planned[static_cast<int>(p.shape.precision)] = true;  // the planner exists now
    return plan;
}

void destroy_fftw_plan(Precision p, FftwPlan plan) {
    if (!plan) return;
    if (p == Precision::single) fftwf_destroy_plan(static_cast<fftwf_plan>(plan));
    else fftw_destroy_plan(static_cast<fftw_plan>(plan));
}

bool planner_in_use(Precision p) { return planned[static_cast<int>(p)].load(); }

void set_planner_time_limit(Precision p, double seconds) {
    if (!planner_in_use(p)) return;
    if (p == Precision::single) fftwf_set_timelimit(seconds);
    else fftw_set_timelimit(seconds);
}

void execute_fftw_plan(const FftwProblem& p, FftwPlan plan, void* in, void* out) {
    if (p.shape.precision == Precision::single) execute_with<SingleApi>(p, plan, in, out);
    else execute_with<DoubleApi>(p, plan, in, out);
}

int fftw_alignment(Precision p, const void* data) {
    auto* d = const_cast<void*>(data);
    return p == Precision::single ? fftwf_alignment_of(static_cast<float*>(d))
                                  : fftw_alignment_of(static_cast<double*>(d));
}

std::string export_wisdom(Precision p) {
    char* w = p == Precision::single ? fftwf_export_wisdom_to_string() : fftw_export_wisdom_to_string();
    if (!w) return {};
    std::string text(w);
    std::free(w);
    return text;
}

bool import_wisdom(Precision p, const std::string& text) {
    if (text.empty()) return false;
    return (p == Precision::single ? fftwf_import_wisdom_from_string(text.c_str())
                                   : fftw_import_wisdom_from_string(text.c_str())) != 0;
}

void forget_wisdom(Precision p) {
    if (p == Precision::single) fftwf_forget_wisdom();
    else fftw_forget_wisdom();
}

}  // namespace lumadex::dfti
