#include "plan_cache.hpp"

#include <dlfcn.h>
#include <fftw3.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "os_services.h"
#include "wisdom_file.hpp"

namespace lumadex::dfti {

namespace {

constexpr size_t max_entries = 256;
// Larger problems are not measured (their arrays would have to be doubled):
// they run on cheap plans unless wisdom for them is at hand.
constexpr int64_t max_measure_bytes = int64_t{256} << 20;
// The planner thread starts a measurement only after the process has
// transformed nothing for this long, or for as long as the last transform
// took, whichever is longer.
constexpr auto quiet_minimum = std::chrono::milliseconds(20);
// After this long without a transform, it starts one however busy the
// machine is.
constexpr auto quiet_long = std::chrono::seconds(1);
// How long FFTW_MEASURE takes, in cheap calls of the same problem, serial
// and threaded: measured on this machine kind, quiet and busy (a busy machine
// slows both alike), 15 to 63 serial and 75 to 220 threaded; then learned
// from each measurement made in a call.
constexpr double initial_calls_per_measurement[2] = {40, 100};

// Whether the machine has a core to spare: the planner thread runs at idle
// priority, so on a machine kept busy by other processes it would hardly
// advance (and hold the planner lock meanwhile).
bool machine_has_spare_core() {
    static const int cores = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        return sched_getaffinity(0, sizeof set, &set) == 0 ? std::max(1, CPU_COUNT(&set)) : 1;
    }();
    double load = 0;
    return getloadavg(&load, 1) != 1 || load < cores + 0.5;
}

int bucket_of(const FftwProblem& p) { return p.threads > 1 ? 1 : 0; }

// FFTW's threads are the OpenMP runtime's worker pool. When the library that
// contains this layer is unloaded, the runtime could be unloaded with it while
// those workers sleep inside it, and they would crash when woken. So the
// runtime is pinned in memory once it is in use; its idle workers stay parked
// there.
void keep_openmp_runtime_loaded() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (void* runtime = dlopen("libgomp.so.1", RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) dlclose(runtime);
    });
}

// Plans released while another thread holds the planner lock (measuring,
// perhaps for seconds) are destroyed by the next holder instead of waiting.
struct Graveyard {
    std::mutex lock;
    std::vector<std::pair<Precision, FftwPlan>> plans;
};
// Built in static storage and never destroyed: a plan may be released
// during the process's exit after the statics constructed later than the
// cache are gone. (The cache's teardown empties it, so that unloading leaves
// nothing allocated behind.)
Graveyard& graveyard() {
    alignas(Graveyard) static unsigned char storage[sizeof(Graveyard)];
    static Graveyard* g = new (storage) Graveyard;
    return *g;
}

void destroy_buried_plans() {
    std::vector<std::pair<Precision, FftwPlan>> plans;
    {
        std::lock_guard guard(graveyard().lock);
        plans.swap(graveyard().plans);
    }
    for (const auto& [precision, plan] : plans) destroy_fftw_plan(precision, plan);
}

// The planner lock, and the buried plans destroyed on the way in.
class PlannerLock {
public:
    // With a `patience`, gives up after it (owns_lock() then tells).
    explicit PlannerLock(std::optional<std::chrono::duration<double>> patience = std::nullopt)
        : lock_(PlanCache::planner_lock(), std::defer_lock) {
        if (patience ? lock_.try_lock_for(*patience) : (lock_.lock(), true)) destroy_buried_plans();
    }
    bool owns_lock() const { return lock_.owns_lock(); }

private:
    std::unique_lock<std::timed_mutex> lock_;
};

// The bytes [lo, hi) around its data pointer that a layout's elements take.
struct Span {
    int64_t lo, hi;
};
Span span_of(const Layout& layout, size_t element_bytes) {
    const auto b = static_cast<int64_t>(element_bytes);
    return {layout.min_offset() * b, (layout.max_offset() + 1) * b};
}

// An array covering a span around a data pointer of the wanted FFTW alignment.
struct ScratchArray {
    void* memory = nullptr;
    char* data = nullptr;

    bool allocate(Span span, Precision p, int alignment) {
        constexpr int64_t slack = 128;
        const int64_t lo = span.lo, bytes = span.hi - lo + 2 * slack;
        memory = fftw_malloc(static_cast<size_t>(bytes));
        if (!memory) return false;
        std::memset(memory, 0, static_cast<size_t>(bytes));
        char* base = static_cast<char*>(memory) + slack - lo;
        for (int delta = 0; delta < slack; delta += static_cast<int>(real_bytes(p))) {
            if (fftw_alignment(p, base + delta) == alignment) {
                data = base + delta;
                return true;
            }
        }
        return false;
    }
    ~ScratchArray() { fftw_free(memory); }
};

PlanCache* the_cache = nullptr;

// Forks between their prepare handler and their parent handler. While one is
// pending, FFTW's planner has a time limit of 0: a measurement in progress
// ends after the candidate it is timing, instead of holding the fork up
// for the rest of its seconds, and it is discarded (its plan was chosen by
// incomplete timings). The lock orders the count's changes with the limit's.
struct PendingForks {
    std::mutex lock;
    int count = 0;
};
PendingForks pending_forks;

void set_time_limits(double seconds) {
    set_planner_time_limit(Precision::single, seconds);
    set_planner_time_limit(Precision::double_, seconds);
}

bool fork_pending() {
    std::lock_guard guard(pending_forks.lock);
    return pending_forks.count > 0;
}

}  // namespace

std::timed_mutex& PlanCache::planner_lock() {
    // Its destructor does nothing on this platform, so a plan that a
    // descriptor still holds may be freed even after the cache is gone. Not
    // recursive: a recursive mutex held across fork cannot be released in
    // the child (it belongs to a thread id the child does not have).
    static std::timed_mutex lock;
    return lock;
}

Plan::~Plan() {
    // Never destroyed by a thread that holds the planner lock.
    std::unique_lock lock(PlanCache::planner_lock(), std::try_to_lock);
    if (lock) {
        destroy_fftw_plan(problem.shape.precision, handle);
        destroy_buried_plans();
    } else {
        std::lock_guard guard(graveyard().lock);
        graveyard().plans.emplace_back(problem.shape.precision, handle);
    }
}

PlanCache& PlanCache::instance() {
    static PlanCache cache;
    return cache;
}

PlanCache::PlanCache() : calls_per_measurement_{initial_calls_per_measurement[0], initial_calls_per_measurement[1]} {
    the_cache = this;
    lumadex::os::KeepOpenMPUsableAfterFork();  // FFTW's threads are OpenMP's
    // A fork copies the locks as they are: take them first, so that the
    // child gets them free (FFTW's own planner lock must be free in the child
    // too, so a measurement in progress has to end first). The fork does not
    // wait for that measurement: the time limit cuts it short.
    pthread_atfork(
        [] {
            {
                std::lock_guard guard(pending_forks.lock);
                if (pending_forks.count++ == 0) {
                    set_time_limits(0);
                    if (the_cache) the_cache->set_planner_priority(false);
                }
            }
            planner_lock().lock();
            if (the_cache) the_cache->state_.lock();
        },
        [] {
            if (the_cache) the_cache->state_.unlock();
            {
                std::lock_guard guard(pending_forks.lock);
                if (--pending_forks.count == 0) {
                    set_time_limits(FFTW_NO_TIMELIMIT);
                    if (the_cache) the_cache->set_planner_priority(true);
                }
            }
            planner_lock().unlock();
        },
        [] {
            // The child's only thread: the count's lock may have been held by
            // a thread that is not here.
            new (&pending_forks) PendingForks;
            set_time_limits(FFTW_NO_TIMELIMIT);
            // The planner thread does not exist in the child: forget it (its
            // object is not ours to destroy) and what it was to do.
            if (PlanCache* c = the_cache) {
                c->planner_ = nullptr;
                c->planner_handle_ = pthread_t{};
                c->planner_planning_ = false;
                c->planning_ = 0;
                c->running_ = 0;
                for (auto& [problem, e] : c->entries_)
                    if (e.measurement == Measurement::queued || e.measurement == Measurement::running)
                        e.measurement = Measurement::not_yet;
                c->state_.unlock();
            }
            planner_lock().unlock();
        });
}

PlanCache::~PlanCache() {
    {
        std::lock_guard state(state_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (planner_) {
        planner_->join();
        delete planner_;
        planner_handle_ = pthread_t{};
    }
    entries_.clear();  // each plan takes the planner lock to go
    PlannerLock planner;
    the_cache = nullptr;
}

std::shared_ptr<Plan> PlanCache::lookup(const FftwProblem& p, void* in, void* out, bool policy) {
    keep_openmp_runtime_loaded();
    if (!init_fftw_threads(p.shape.precision)) return nullptr;
    std::unique_lock state(state_);
    if (auto it = entries_.find(p); it != entries_.end()) {
        Entry& e = it->second;
        e.last_use = ++clock_;
        e.policy = e.policy || policy;
        if (!policy || e.plan->measured) return e.plan;
        // A call of a problem that the planner thread is measuring waits for
        // that measurement (as long as measuring should take) rather than
        // run beside it: each would disturb the other's timings through the
        // shared caches and memory, and the plan FFTW chose by disturbed
        // timings would be kept, in the wisdom file too.
        if (e.measure_in_call || e.measurement == Measurement::running)
            return measure_in_call(p, in, out, state);
        if (e.measurement == Measurement::not_yet) queue(e);  // it recurs
        return e.plan;
    }
    state.unlock();

    // First sight: a measured plan from wisdom, else a cheap one.
    std::shared_ptr<Plan> plan;
    {
        PlannerLock planner;
        static bool wisdom_loaded[2] = {false, false};
        if (!std::exchange(wisdom_loaded[static_cast<int>(p.shape.precision)], true)) load_wisdom(p.shape.precision);
        if (FftwPlan h = make_fftw_plan(p, in, out, FFTW_MEASURE | FFTW_WISDOM_ONLY)) {
            plan = std::make_shared<Plan>(p, h, true);
        } else if (FftwPlan cheap = make_fftw_plan(p, in, out, FFTW_ESTIMATE)) {
            plan = std::make_shared<Plan>(p, cheap, false);
        } else {
            return nullptr;
        }
    }

    state.lock();
    if (auto it = entries_.find(p); it != entries_.end()) return it->second.plan;  // planned meanwhile
    ++(plan->measured ? statistics_.wisdom_plans : statistics_.cheap_plans);
    evict_if_full();
    Entry& e = entries_[p];
    e.plan = plan;
    e.policy = policy;
    e.measurement = plan->measured ? Measurement::done : Measurement::not_yet;
    e.last_use = ++clock_;
    return plan;
}

void PlanCache::queue(Entry& e) {
    e.measurement = Measurement::queued;
    if (!planner_) planner_ = new std::thread([this] { planner_thread(); });
    changed_.notify_all();
}

std::shared_ptr<Plan> PlanCache::measure_in_call(const FftwProblem& p, void* in, void* out,
                                                 std::unique_lock<std::mutex>& state) {
    Entry& e = entries_.at(p);
    e.measure_in_call = false;
    // The call waits at most about what measuring should cost: for the
    // planner thread, which may be measuring this problem already (with the
    // call waiting, the cores are idle and it runs at full speed), or for the
    // planner lock. A planner thread starved by other processes (it runs at
    // idle priority) costs the loop one such wait per rental period.
    const auto patience = std::chrono::duration<double>(expected_measuring_seconds(e));
    bool measured = false;
    if (e.measurement == Measurement::running) {
        measured = changed_.wait_for(state, patience, [&] {
            auto it = entries_.find(p);
            return stopping_ || it == entries_.end() || it->second.measurement != Measurement::running;
        });
    } else if (e.measurement == Measurement::not_yet || e.measurement == Measurement::queued) {
        e.measurement = Measurement::running;
        ++running_;
        state.unlock();
        measured = measure(p, patience);
        state.lock();
    }
    auto it = entries_.find(p);
    if (it == entries_.end()) {
        state.unlock();
        return lookup(p, in, out, true);
    }
    if (!measured) it->second.cheap_seconds = it->second.cheap_calls = 0;  // a new rental period
    return it->second.plan;
}

bool PlanCache::measure(const FftwProblem& p, std::optional<std::chrono::duration<double>> patience) {
    const bool in_call = patience.has_value();
    const Shape& s = p.shape;
    Span in_span = span_of(input_layout(s), input_element_bytes(s));
    const Span out_span = span_of(output_layout(s), output_element_bytes(s));
    if (p.in_place) in_span = {std::min(in_span.lo, out_span.lo), std::max(in_span.hi, out_span.hi)};
    const int64_t bytes = (in_span.hi - in_span.lo) + (p.in_place ? 0 : out_span.hi - out_span.lo);

    FftwPlan handle = nullptr;
    bool gave_up = false, cancelled = false;
    double seconds = 0;
    ScratchArray in, out;
    if (bytes <= max_measure_bytes && in.allocate(in_span, s.precision, p.in_alignment) &&
        (p.in_place || out.allocate(out_span, s.precision, p.out_alignment))) {
        PlannerLock planner(patience);
        gave_up = !planner.owns_lock();
        if (!gave_up) {
            const auto began = Clock::now();
            ++planning_;
            planner_planning_ = !in_call;
            handle = make_fftw_plan(p, in.data, p.in_place ? in.data : out.data, FFTW_MEASURE);
            if (!in_call) {
                planner_planning_ = false;
                set_planner_priority(true);  // back to idle, if a fork lifted it
            }
            --planning_;
            seconds = std::chrono::duration<double>(Clock::now() - began).count();
            // A fork that began meanwhile may have cut the measurement short
            // (a fork cannot begin and end within it: it waits for this lock).
            cancelled = fork_pending();
            if (cancelled) destroy_fftw_plan(s.precision, std::exchange(handle, nullptr));
        }
    }
    // Other processes may have measured other problems meanwhile: their
    // wisdom is merged in, not replaced.
    if (handle)
        merge_into_wisdom_file(s.precision, [&](const std::string& file) {
            PlannerLock planner;
            import_wisdom(s.precision, file);
            return export_wisdom(s.precision);
        });

    std::lock_guard state(state_);
    --running_;
    if (handle) {
        ++(in_call ? statistics_.measured_in_calls : statistics_.measured_in_background);
        // Measured without competition: the expected cost of the next one.
        auto it = entries_.find(p);
        if (in_call && it != entries_.end() && it->second.cheap_calls > 0)
            calls_per_measurement_[bucket_of(p)] = seconds * it->second.cheap_calls / it->second.cheap_seconds;
    }
    if (cancelled) ++statistics_.cancelled;
    auto plan = handle ? std::make_shared<Plan>(p, handle, true) : nullptr;
    if (auto it = entries_.find(p); it != entries_.end()) {
        it->second.measurement =
            handle ? Measurement::done : (gave_up ? Measurement::not_yet : Measurement::impossible);
        if (plan) it->second.plan = std::move(plan);
        if (cancelled) queue(it->second);  // measured again when the process is quiet
    }
    changed_.notify_all();
    return handle != nullptr;
}

double PlanCache::expected_measuring_seconds(const Entry& e) const {
    if (e.cheap_calls == 0) return 0;
    return calls_per_measurement_[bucket_of(e.plan->problem)] * e.cheap_seconds / e.cheap_calls;
}

bool PlanCache::may_start_in_background() const {
    const auto quiet = in_flight_.load() > 0
                           ? Clock::duration::zero()
                           : Clock::now() - Clock::time_point(Clock::duration(last_end_.load()));
    if (quiet >= quiet_long) return true;  // no transform of this process to disturb or to hold up
    return quiet >= std::max<Clock::duration>(quiet_minimum, std::chrono::duration_cast<Clock::duration>(
                                                                 std::chrono::duration<double>(last_seconds_.load()))) &&
           machine_has_spare_core();
}

void PlanCache::set_planner_priority(bool idle) {
    const pthread_t planner = planner_handle_;
    if (planner == pthread_t{} || (!idle && !planner_planning_)) return;
    sched_param none{};
    pthread_setschedparam(planner, idle ? SCHED_IDLE : SCHED_OTHER, &none);
}

void PlanCache::planner_thread() {
    // Idle priority: it gets a core only when nothing else of the machine
    // wants it. The OpenMP workers it starts for threaded measurements
    // inherit this.
    planner_handle_ = pthread_self();
    set_planner_priority(true);
    std::unique_lock state(state_);
    while (!stopping_) {
        // The problem used last among those waiting: the one the script is at.
        auto next = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (it->second.measurement == Measurement::queued &&
                (next == entries_.end() || it->second.last_use > next->second.last_use))
                next = it;
        if (next == entries_.end()) {
            changed_.wait(state);
        } else if (!may_start_in_background()) {
            changed_.wait_for(state, std::chrono::milliseconds(5));
        } else {
            const FftwProblem p = next->first;
            next->second.measurement = Measurement::running;
            ++running_;
            state.unlock();
            measure(p, std::nullopt);
            state.lock();
        }
    }
}

void PlanCache::transform_begins() { ++in_flight_; }

void PlanCache::transform_ends(const FftwProblem& p, double seconds, bool cheap) {
    last_seconds_ = seconds;
    last_end_ = Clock::now().time_since_epoch().count();
    --in_flight_;
    if (!cheap) return;
    std::lock_guard state(state_);
    auto it = entries_.find(p);
    if (it == entries_.end()) return;
    Entry& e = it->second;
    if (!e.policy || e.plan->measured || e.measurement == Measurement::done ||
        e.measurement == Measurement::impossible)
        return;
    // Ski rental: once the cheap plan has cost what measuring is expected to
    // cost, the next call measures.
    e.cheap_seconds += seconds;
    e.cheap_calls += 1;
    if (e.cheap_seconds >= expected_measuring_seconds(e)) e.measure_in_call = true;
}

bool PlanCache::wait_for_measurements(double timeout_seconds) {
    std::unique_lock state(state_);
    return changed_.wait_for(state, std::chrono::duration<double>(timeout_seconds),
                             [&] { return running_ == 0 && std::none_of(entries_.begin(), entries_.end(), [](const auto& e) {
                                          return e.second.measurement == Measurement::queued;
                                      }); });
}

PlanStatistics PlanCache::statistics() {
    std::lock_guard state(state_);
    PlanStatistics s = statistics_;
    s.measuring = planning_;
    return s;
}

void PlanCache::evict_if_full() {
    while (entries_.size() >= max_entries) {
        auto oldest = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (it->second.measurement != Measurement::running &&
                (oldest == entries_.end() || it->second.last_use < oldest->second.last_use))
                oldest = it;
        if (oldest == entries_.end()) return;
        entries_.erase(oldest);
    }
}

}  // namespace lumadex::dfti
