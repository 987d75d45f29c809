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

// FFTW's single and double precision APIs behind one set of names, made
// with FFTW's own name mangling (fftw_... and fftwf_...).
#define LUMADEX_FFTW_API(Api, Real, X)                                      \
    struct Api {                                                          \
        using real = Real;                                                \
        using complex = X(complex);                                       \
        using plan = X(plan);                                             \
        static constexpr auto dft = X(plan_guru64_dft);                   \
        static constexpr auto r2c = X(plan_guru64_dft_r2c);               \
        static constexpr auto c2r = X(plan_guru64_dft_c2r);               \
        static constexpr auto exec_dft = X(execute_dft);                  \
        static constexpr auto exec_r2c = X(execute_dft_r2c);              \
        static constexpr auto exec_c2r = X(execute_dft_c2r);              \
        static constexpr auto destroy = X(destroy_plan);                  \
        static constexpr auto nthreads = X(plan_with_nthreads);           \
        static constexpr auto init_threads = X(init_threads);             \
        static constexpr auto make_planner_thread_safe = X(make_planner_thread_safe); \
        static constexpr auto set_timelimit = X(set_timelimit);           \
        static constexpr auto alignment_of = X(alignment_of);             \
        static constexpr auto export_wisdom = X(export_wisdom_to_string); \
        static constexpr auto import_wisdom = X(import_wisdom_from_string); \
        static constexpr auto forget_wisdom = X(forget_wisdom);           \
    };
LUMADEX_FFTW_API(DoubleApi, double, FFTW_MANGLE_DOUBLE)
LUMADEX_FFTW_API(SingleApi, float, FFTW_MANGLE_FLOAT)
#undef LUMADEX_FFTW_API

// Calls f with the API of precision p.
template <typename F>
decltype(auto) with_api(Precision p, F&& f) {
    return p == Precision::single ? f(SingleApi{}) : f(DoubleApi{});
}

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
        with_api(p, [&](auto api) {
            using Api = decltype(api);
            keep_loaded(reinterpret_cast<void*>(Api::init_threads));
            ready[i] = Api::init_threads() != 0;
            if (ready[i]) Api::make_planner_thread_safe();
        });
    });
    return ready[i];
}

namespace {
std::atomic<bool> planned[2];
}

FftwPlan make_fftw_plan(const FftwProblem& p, void* in, void* out, unsigned flags) {
    const FftwPlan plan =
        with_api(p.shape.precision, [&](auto api) { return plan_with<decltype(api)>(p, in, out, flags); });
    planned[static_cast<int>(p.shape.precision)] = true;  // the planner exists now
    return plan;
}

void destroy_fftw_plan(Precision p, FftwPlan plan) {
    if (!plan) return;
    with_api(p, [&](auto api) {
        using Api = decltype(api);
        Api::destroy(static_cast<typename Api::plan>(plan));
    });
}

bool planner_in_use(Precision p) { return planned[static_cast<int>(p)].load(); }

void set_planner_time_limit(Precision p, double seconds) {
    if (planner_in_use(p)) with_api(p, [&](auto api) { decltype(api)::set_timelimit(seconds); });
}

void execute_fftw_plan(const FftwProblem& p, FftwPlan plan, void* in, void* out) {
    with_api(p.shape.precision, [&](auto api) { execute_with<decltype(api)>(p, plan, in, out); });
}

int fftw_alignment(Precision p, const void* data) {
    return with_api(p, [&](auto api) {
        using Api = decltype(api);
        return Api::alignment_of(static_cast<typename Api::real*>(const_cast<void*>(data)));
    });
}

std::string export_wisdom(Precision p) {
    char* w = with_api(p, [](auto api) { return decltype(api)::export_wisdom(); });
    if (!w) return {};
    std::string text(w);
    std::free(w);
    return text;
}

bool import_wisdom(Precision p, const std::string& text) {
    if (text.empty()) return false;
    return with_api(p, [&](auto api) { return decltype(api)::import_wisdom(text.c_str()) != 0; });
}

void forget_wisdom(Precision p) {
    with_api(p, [](auto api) { decltype(api)::forget_wisdom(); });
}

}  // namespace lumadex::dfti
