#include "plan_cache.hpp"

#include <dlfcn.h>
#include <fftw3.h>

#include <vector>

namespace lumadex::dfti {

namespace {

// Problems with at least this many elements (all transforms together) are
// measured on first sight; smaller ones when they recur.
constexpr int64_t measure_at_once_elements = int64_t{1} << 15;
constexpr size_t max_entries = 256;

int64_t element_count(const Shape& s) {
    int64_t n = s.batch.n;
    for (int i = 0; i < s.rank; ++i) n *= s.axes[i].n;
    return n;
}

// FFTW's threads are the OpenMP runtime's worker pool. When the library that
// contains this layer is unloaded, the runtime could be unloaded with it while
// those workers sleep inside it, and they would crash when woken. So the
// runtime is pinned in memory once it is in use; its idle workers stay parked
// there. (Ending them at unload is no option: omp_pause_resource_all joins
// them, and a worker's exit needs the loader lock that dlclose holds.)
void keep_openmp_runtime_loaded() {
    static bool done = false;
    if (done) return;
    done = true;
    if (void* runtime = dlopen("libgomp.so.1", RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) dlclose(runtime);
}

}  // namespace

std::recursive_mutex& PlanCache::planner_lock() {
    // Its destructor does nothing on this platform, so a plan that a
    // descriptor still holds may be freed even after the cache is gone.
    static std::recursive_mutex lock;
    return lock;
}

Plan::~Plan() {
    std::lock_guard guard(PlanCache::planner_lock());
    destroy_fftw_plan(problem.shape.precision, handle);
    --alive;
}

PlanCache& PlanCache::instance() {
    static PlanCache cache;
    return cache;
}

PlanCache::~PlanCache() {
    std::lock_guard guard(planner_lock());
    measurements_.shutdown();
    entries_.clear();
    // FFTW's own memory would outlive an unloaded FFTW; free it unless a
    // descriptor that was never freed still holds a plan.
    if (Plan::alive == 0) cleanup_fftw();
}

void PlanCache::set_helper_path(std::string path) {
    std::lock_guard guard(planner_lock());
    measurements_.set_helper_path(std::move(path));
}

bool PlanCache::transform_begins(int threads) {
    if (!measuring_) return false;
    std::lock_guard guard(planner_lock());
    measurements_.transform_begins(threads);
    measurements_.start_queued();
    measuring_ = measurements_.busy();
    return true;
}

void PlanCache::transform_ends() { resume_measurements(); }

void PlanCache::pause_measurements(int threads) {
    std::lock_guard guard(planner_lock());
    measurements_.transform_begins(threads);
}

void PlanCache::resume_measurements() {
    std::lock_guard guard(planner_lock());
    measurements_.transform_ends();
}

bool PlanCache::measurements_pending() {
    std::lock_guard guard(planner_lock());
    poll_measurements();
    measurements_.start_queued();
    measuring_ = measurements_.busy();
    return measuring_;
}

PlanStatistics PlanCache::statistics() {
    std::lock_guard guard(planner_lock());
    PlanStatistics s = statistics_;
    s.measurements_dropped = measurements_.disturbed();
    return s;
}

void PlanCache::poll_measurements() {
    for (const FftwProblem& p : measurements_.poll()) {
        ++statistics_.measurements_arrived;
        auto it = entries_.find(p);
        if (it != entries_.end()) it->second.wisdom_arrived = true;
    }
}

std::shared_ptr<Plan> PlanCache::plan_from_wisdom(const FftwProblem& p, void* in, void* out) {
    FftwPlan h = make_fftw_plan(p, in, out, FFTW_MEASURE | FFTW_WISDOM_ONLY);
    if (!h) return nullptr;
    ++statistics_.measured_plans;
    return std::make_shared<Plan>(p, h, true);
}

std::shared_ptr<Plan> PlanCache::plan_for(const FftwProblem& p, void* in, void* out) {
    std::lock_guard guard(planner_lock());
    keep_openmp_runtime_loaded();
    if (!init_fftw_threads(p.shape.precision)) return nullptr;
    measurements_.load_wisdom_file(p.shape.precision);
    poll_measurements();

    auto it = entries_.find(p);
    if (it == entries_.end()) {
        evict_if_full();
        Entry e;
        e.plan = plan_from_wisdom(p, in, out);
        if (!e.plan) {
            FftwPlan h = make_fftw_plan(p, in, out, FFTW_ESTIMATE);
            if (!h) return nullptr;
            ++statistics_.cheap_plans;
            e.plan = std::make_shared<Plan>(p, h, false);
        }
        it = entries_.emplace(p, std::move(e)).first;
    }

    Entry& e = it->second;
    e.uses += 1;
    e.last_use = ++clock_;
    if (!e.plan->measured) {
        if (e.wisdom_arrived) {
            e.wisdom_arrived = false;
            if (auto better = plan_from_wisdom(p, in, out)) {
                e.plan->superseded = true;
                e.plan = std::move(better);
            } else if (!e.measured_again) {
                // The wisdom did not give a plan (forgotten by someone in
                // between, say): the next lookup asks for it once more.
                e.measured_again = true;
                e.measurement_requested = false;
            }
        } else if (!e.measurement_requested &&
                   (e.uses >= 2 || element_count(p.shape) >= measure_at_once_elements)) {
            e.measurement_requested = true;
            if (measurements_.request(p)) ++statistics_.measurements_requested;
        }
    }
    measuring_ = measurements_.busy();
    return e.plan;
}

void PlanCache::evict_if_full() {
    while (entries_.size() >= max_entries) {
        auto oldest = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (oldest == entries_.end() || it->second.last_use < oldest->second.last_use) oldest = it;
        oldest->second.plan->superseded = true;  // descriptors holding it look again
        entries_.erase(oldest);
    }
}

}  // namespace lumadex::dfti
