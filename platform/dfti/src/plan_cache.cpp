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
// How long FFTW_MEASURE takes, in cheap calls of the same problem, serial
// and threaded: measured on this machine kind, quiet and busy (a busy
// machine slows both alike), 15 to 63 serial and 75 to 220 threaded; then
// learned from each measurement made in a call.
constexpr double initial_calls_per_measurement[2] = {40, 100};
// How long measuring a line plan takes on the lean search (2 to 70 ms
// here); then learned from each one measured.
constexpr double initial_line_plan_measuring_seconds = 0.03;
// The share of the line passes' time (their line plans measured) that a
// measured plan of the whole saves, for geometries of fewer elements than
// `large_geometry` and for larger ones. Measured on this machine kind: 1 to
// 10 % from 512 x 512 up (1024 x 1024 Complex 8: 4.8 ms against 4.5; 2048 x
// 2048: 30.1 against 28.5; 1000 x 1000: 4.84 against 4.80; 1080 x 1920
// Complex 16: 22.6 against 23.8), for 0.2 to 2 s of measuring: a quarter.
// At 256 x 256, 30 to 40 % (0.26 ms against 0.15) for 0.15 to 0.3 s: as
// much as the rental's least measuring time is short of the real one, so
// one (the rental on the cheap calls' whole time). Then learned, serial and
// threaded, from the calls that follow each measurement of a geometry.
constexpr int64_t large_geometry = int64_t{1} << 18;
constexpr double initial_line_passes_savings[2] = {1.0, 0.25};  // small, large
// Line plans count their blocks' whole time (a share of one), though a
// measured line plan saves about a third of it (1000-point float lines:
// 1.73 us on FFTW_ESTIMATE's plan, 1.10 measured): one serves every
// geometry of its length, so what it saves reaches beyond its own account,
// and measuring it costs 2 to 70 ms. Measured after a few calls, it put
// the first 20 calls of a 1000 x 1000 Complex 8 transform at 5.3 ms
// instead of 7. The other cheap paths are FFTW_ESTIMATE's own plans of a
// problem, which a measurement may beat many times over (FFTW_ESTIMATE's 2-D
// plans, by ten) or hardly (small frames): they count their whole time too.
// The measured plan's calls a learning takes, after its first (which meets
// cold twiddle tables).
constexpr int calls_to_learn_from = 3;

// The planner's search for a line plan. A 1-D plan for a block of lines in
// our buffers needs none of the planner's ways of reshaping a problem
// (splitting its vector loops, copying it elsewhere first, buffering it):
// without them FFTW_MEASURE takes a tenth to a third of its time and finds
// plans as fast (1000-point float lines: 21 ms instead of 58, 1.10 us a line
// either way; 1080-point double lines: 68 ms instead of 185). The flags are
// fftw3.h's own, below its documented ones.
constexpr unsigned lean_search = FFTW_NO_VRANK_SPLITS | FFTW_NO_BUFFERING | FFTW_NO_INDIRECT_OP |
                                 FFTW_NO_DFT_R2HC | FFTW_NO_RANK_SPLITS | FFTW_NO_VRECURSE;
// Lengths with a prime factor beyond FFTW's codelets (13) run Rader's or
// Bluestein's algorithm, whose convolutions want buffered sub-plans: on the
// lean search without buffering, 1021-point float lines took 9.0 us a line,
// against 6.1 with it (80 ms of measuring instead of 12; FFTW_MEASURE's
// full search: 6.1 in 176 ms).
int64_t largest_prime_factor(int64_t n) {
    int64_t largest = 1;
    for (int64_t f = 2; f * f <= n; ++f)
        for (; n % f == 0; n /= f) largest = f;
    return n > 1 ? n : largest;
}
unsigned measuring_flags(const FftwProblem& p, PlanUse use) {
    if (use != PlanUse::lines) return FFTW_MEASURE;
    const bool generic_length = largest_prime_factor(p.shape.axes[0].n) > 13;
    return FFTW_MEASURE | (generic_length ? lean_search & ~FFTW_NO_BUFFERING : lean_search);
}

// The fastest of a few runs of a plan on the measuring arrays, in seconds.
double seconds_of_runs(const FftwProblem& p, FftwPlan plan, void* in, void* out) {
    double best = 1e300;
    for (int run = 0; run < 3; ++run) {
        const auto began = std::chrono::steady_clock::now();
        execute_fftw_plan(p, plan, in, out);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
    }
    return best;
}

// Whether the machine has a core to spare: the planner thread runs at idle
// priority, so on a machine kept busy by other processes it would hardly
// advance (and hold the planner lock meanwhile).
int process_cores() {
    static const int cores = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        return sched_getaffinity(0, sizeof set, &set) == 0 ? std::max(1, CPU_COUNT(&set)) : 1;
    }();
    return cores;
}

// The machine's load (the last minute's), or `fallback` where it cannot be read.
double machine_load(double fallback) {
    double load = 0;
    return getloadavg(&load, 1) == 1 ? load : fallback;
}

bool machine_has_spare_core() { return machine_load(0) < process_cores() + 0.5; }

// A core idle most of the time: the planner thread, at idle priority, gets it.
bool machine_has_idle_core() { return machine_load(process_cores()) < process_cores() - 0.5; }

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

// The spans of the arrays a measurement of p works on (in place: one).
struct MeasuringSpans {
    Span in, out;
    int64_t bytes() const { return in.hi - in.lo + out.hi - out.lo; }
};
MeasuringSpans measuring_spans(const FftwProblem& p) {
    const Shape& s = p.shape;
    Span in = span_of(input_layout(s), input_element_bytes(s));
    const Span out = span_of(output_layout(s), output_element_bytes(s));
    if (!p.in_place) return {in, out};
    return {{std::min(in.lo, out.lo), std::max(in.hi, out.hi)}, {0, 0}};
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

// What cuts a measurement short: forks between their prepare handler and
// their parent handler, and a compute call of the problem the planner thread
// is measuring (its loop resumed) or one that needs the planner lock. While
// either is pending, FFTW's planner has a time limit of 0: a measurement in
// progress ends after the candidate it is timing, instead of holding the
// fork or the loop up for the rest of its seconds, and it is discarded (its
// plan was chosen by incomplete timings). The lock orders their changes
// with the limit's.
struct Interruptions {
    std::mutex lock;
    int forks = 0;
    bool call = false;  // a call interrupts the planner thread's measurement
};
Interruptions interruptions;

void set_time_limits(double seconds) {
    set_planner_time_limit(Precision::single, seconds);
    set_planner_time_limit(Precision::double_, seconds);
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

PlanCache::PlanCache()
    : calls_per_measurement_{initial_calls_per_measurement[0], initial_calls_per_measurement[1]},
      line_passes_savings_{{initial_line_passes_savings[0], initial_line_passes_savings[1]},
                           {initial_line_passes_savings[0], initial_line_passes_savings[1]}},
      line_plan_measuring_seconds_(initial_line_plan_measuring_seconds) {
    the_cache = this;
    lumadex::os::KeepOpenMPUsableAfterFork();  // FFTW's threads are OpenMP's
    // A fork copies the locks as they are: take them first, so that the
    // child gets them free (FFTW's own planner lock must be free in the child
    // too, so a measurement in progress has to end first). The fork does not
    // wait for that measurement: the time limit cuts it short.
    pthread_atfork(
        [] {
            {
                std::lock_guard guard(interruptions.lock);
                if (interruptions.forks++ == 0) {
                    if (!interruptions.call) set_time_limits(0);
                    if (the_cache) the_cache->set_planner_priority(false);
                }
            }
            planner_lock().lock();
            if (the_cache) the_cache->state_.lock();
        },
        [] {
            if (the_cache) the_cache->state_.unlock();
            {
                std::lock_guard guard(interruptions.lock);
                // (A call's interruption still pending keeps both.)
                if (--interruptions.forks == 0 && !interruptions.call) {
                    set_time_limits(FFTW_NO_TIMELIMIT);
                    if (the_cache) the_cache->set_planner_priority(true);
                }
            }
            planner_lock().unlock();
        },
        [] {
            // The child's only thread: the count's lock may have been held by
            // a thread that is not here.
            new (&interruptions) Interruptions;
            set_time_limits(FFTW_NO_TIMELIMIT);
            // The planner thread does not exist in the child: forget it (its
            // object is not ours to destroy) and what it was to do.
            if (PlanCache* c = the_cache) {
                c->planner_ = nullptr;
                c->planner_handle_ = pthread_t{};
                // The condition variable still counts the parent's waiters
                // (the planner thread waits on it): a notification would
                // wait for them to take it, for ever. A fresh one in its
                // place (the old one is not destroyed: its state is theirs).
                new (&c->changed_) std::condition_variable;
                c->planner_planning_ = false;
                c->planning_ = 0;
                c->running_ = 0;
                // Transforms running in the parent's other threads did not come along.
                c->in_flight_ = 0;
                c->threads_in_flight_ = 0;
                for (auto& [problem, e] : c->entries_)
                    if (e.history.measurement == Measurement::queued ||
                        e.history.measurement == Measurement::running ||
                        e.history.measurement == Measurement::in_background)
                        e.history.measurement = Measurement::not_yet;
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

std::shared_ptr<Plan> PlanCache::plan_for(const FftwProblem& p, void* in, void* out, PlanUse use) {
    keep_openmp_runtime_loaded();
    if (!init_fftw_threads(p.shape.precision)) return nullptr;
    std::unique_lock state(state_);
    auto it = entries_.find(p);
    if (it == entries_.end()) {
        state.unlock();
        return first_sight(p, in, out, use);
    }
    Entry& e = it->second;
    e.last_use = ++clock_;
    // A compute call's problem whose cheap path is the line passes has no
    // cheap plan, until it turns up as a small frame of another problem.
    if (!e.plan && use != PlanUse::whole_lines) {
        state.unlock();
        FftwPlan cheap = nullptr;
        {
            interrupt_background_measurement();
            PlannerLock planner;
            cheap = make_fftw_plan(p, in, out, FFTW_ESTIMATE);
        }
        auto plan = cheap ? std::make_shared<Plan>(p, cheap, false) : nullptr;
        state.lock();
        it = entries_.find(p);
        if (it == entries_.end() || !plan) return plan;
        if (!it->second.plan) it->second.plan = plan;
        return it->second.plan;
    }
    e.history.savings = savings_expected(e);
    switch (decide(e.history, expected_measuring_seconds(e))) {
        case Decision::use_measured:
        case Decision::cheap:
            break;
        case Decision::cheap_over_measured:
            return nullptr;  // (only a compute call's problem, whose cheap path is the line passes, learns so)
        case Decision::cheap_and_queue:
            queue(e);
            break;
        case Decision::cheap_and_interrupt:
            interrupt_background_measurement();
            break;
        case Decision::measure_now:
        case Decision::wait_for_measurement: {
            // The call is busy meanwhile: the planner thread must not take
            // its measuring or waiting for quiet.
            const Busy busy(*this);
            return measure_in_call(p, in, out, use, state);
        }
    }
    return e.plan;
}

std::shared_ptr<Plan> PlanCache::first_sight(const FftwProblem& p, void* in, void* out, PlanUse use) {
    // A measured plan from wisdom, else the cheap path.
    std::shared_ptr<Plan> plan;
    {
        interrupt_background_measurement();
        PlannerLock planner;
        static bool wisdom_loaded[2] = {false, false};
        if (!std::exchange(wisdom_loaded[static_cast<int>(p.shape.precision)], true)) load_wisdom(p.shape.precision);
        if (FftwPlan h = make_fftw_plan(p, in, out, measuring_flags(p, use) | FFTW_WISDOM_ONLY)) {
            plan = std::make_shared<Plan>(p, h, true);
        } else if (use != PlanUse::whole_lines) {
            FftwPlan cheap = make_fftw_plan(p, in, out, FFTW_ESTIMATE);
            if (!cheap) return nullptr;
            plan = std::make_shared<Plan>(p, cheap, false);
        }
    }

    std::lock_guard state(state_);
    if (auto it = entries_.find(p); it != entries_.end()) {  // planned meanwhile
        if (!it->second.plan) it->second.plan = plan;       // (for a use without a cheap plan)
        return it->second.plan;
    }
    const bool measured = plan && plan->measured;
    if (use == PlanUse::lines) statistics_.line_plans_measured += measured ? 1 : 0;
    else if (use != PlanUse::small_frame) ++(measured ? statistics_.wisdom_plans : statistics_.cheap_plans);
    evict_if_full();
    Entry& e = entries_[p];
    e.plan = plan;
    e.use = use;
    e.threaded = p.threads > 1;
    e.large = output_layout(p.shape).count() >= large_geometry;
    e.history.measured_plan = measured;
    e.history.line_plan = use == PlanUse::lines;
    e.history.measurable = measuring_spans(p).bytes() <= max_measure_bytes;
    e.history.measurement = measured ? Measurement::done : Measurement::not_yet;
    e.last_use = ++clock_;
    return plan;
}

double PlanCache::savings_expected(const Entry& e) const {
    switch (e.use) {
        case PlanUse::whole_lines: return line_passes_savings_[e.threaded ? 1 : 0][e.large ? 1 : 0];
        default: return 1.0;
    }
}

double PlanCache::expected_measuring_seconds(const Entry& e) const {
    if (e.use == PlanUse::lines) return line_plan_measuring_seconds_;
    return dfti::expected_measuring_seconds(e.history, calls_per_measurement_[e.threaded ? 1 : 0]);
}

void PlanCache::queue(Entry& e) {
    e.history.measurement = Measurement::queued;
    if (!planner_) planner_ = new std::thread([this] { planner_thread(); });
    changed_.notify_all();
}

std::shared_ptr<Plan> PlanCache::measure_in_call(const FftwProblem& p, void* in, void* out, PlanUse use,
                                                 std::unique_lock<std::mutex>& state) {
    Entry& e = entries_.at(p);
    // The call waits at most about what measuring should cost: for the
    // planner thread, which may be measuring this problem already (with the
    // call waiting, the cores are idle and it runs at full speed), or for the
    // planner lock. A planner thread starved by other processes (it runs at
    // idle priority) costs the loop one such wait per rental period.
    const auto patience = std::chrono::duration<double>(expected_measuring_seconds(e));
    bool measured = false;
    if (e.history.measurement == Measurement::running) {
        measured = changed_.wait_for(state, patience, [&] {
            auto it = entries_.find(p);
            return stopping_ || it == entries_.end() || it->second.history.measurement != Measurement::running;
        });
    } else {
        e.history.measurement = Measurement::running;
        ++running_;
        state.unlock();
        measured = measure(p, use, patience);
        state.lock();
    }
    auto it = entries_.find(p);
    if (it == entries_.end()) {
        state.unlock();
        return plan_for(p, in, out, use);
    }
    PlanHistory& h = it->second.history;
    if (!measured) h.cheap_seconds = h.cheap_calls = 0;  // a new rental period
    return it->second.plan;
}

bool PlanCache::measure(const FftwProblem& p, PlanUse use, std::optional<std::chrono::duration<double>> patience) {
    const bool in_call = patience.has_value();
    const Shape& s = p.shape;
    const MeasuringSpans spans = measuring_spans(p);

    FftwPlan handle = nullptr;
    bool gave_up = false, cheap_is_faster = false;
    Cut cut = Cut::none;
    double seconds = 0;
    ScratchArray in, out;
    if (spans.bytes() <= max_measure_bytes && in.allocate(spans.in, s.precision, p.in_alignment) &&
        (p.in_place || out.allocate(spans.out, s.precision, p.out_alignment))) {
        if (in_call) interrupt_background_measurement();
        PlannerLock planner(patience);
        gave_up = !planner.owns_lock();
        if (!gave_up) {
            const auto began = Clock::now();
            ++planning_;
            planner_planning_ = !in_call;
            void* const out_data = p.in_place ? in.data : out.data;
            handle = make_fftw_plan(p, in.data, out_data, measuring_flags(p, use));
            // A fork that began meanwhile may have cut the measurement short
            // (a fork cannot begin and end within it: it waits for this
            // lock), or a call of the problem, in the background.
            cut = planning_ends(in_call);
            if (!in_call) set_planner_priority(true);  // back to idle, if a fork or a call lifted it
            --planning_;
            seconds = std::chrono::duration<double>(Clock::now() - began).count();
            if (cut != Cut::none) destroy_fftw_plan(s.precision, std::exchange(handle, nullptr));
            // The lean search may miss what FFTW_ESTIMATE's heuristics pick
            // (a prime length's plan, now and then): the faster one stays.
            std::shared_ptr<Plan> cheap;
            if (handle && use == PlanUse::lines) {
                std::lock_guard state(state_);
                if (auto it = entries_.find(p); it != entries_.end()) cheap = it->second.plan;
            }
            cheap_is_faster = cheap && !cheap->measured &&
                              seconds_of_runs(p, cheap->handle, in.data, out_data) <
                                  seconds_of_runs(p, handle, in.data, out_data);
            if (cheap_is_faster) destroy_fftw_plan(s.precision, std::exchange(handle, nullptr));
        }
    }
    const bool settled = handle || cheap_is_faster;
    // Other processes may have measured other problems meanwhile: their
    // wisdom is merged in, not replaced.
    if (handle)
        merge_into_wisdom_file(s.precision, [&](const std::string& file) {
            PlannerLock planner;
            import_wisdom(s.precision, file);
            return export_wisdom(s.precision);
        });

    auto plan = handle ? std::make_shared<Plan>(p, handle, true) : nullptr;
    std::lock_guard state(state_);
    --running_;
    if (cut != Cut::none) ++statistics_.cancelled;
    auto it = entries_.find(p);
    if (it != entries_.end()) {
        Entry& e = it->second;
        if (settled) {
            // The expected cost of the next one.
            if (e.use == PlanUse::lines) {
                ++statistics_.line_plans_measured;
                line_plan_measuring_seconds_ = seconds;
            } else {
                ++(in_call ? statistics_.measured_in_calls : statistics_.measured_in_background);
                if (in_call) {  // measured without competition
                    double& calls = calls_per_measurement_[e.threaded ? 1 : 0];
                    calls = learned_calls_per_measurement(e.history, seconds, calls);
                }
            }
            if (plan) e.plan = std::move(plan);
            e.history.measured_plan = true;  // (or its cheap plan proved as good)
            // What the measured plan saves, from its next calls.
            if (e.use == PlanUse::whole_lines && e.history.cheap_calls > 0) e.learning = LearningSavings{};
        }
        e.history.measurement =
            settled ? Measurement::done : (gave_up ? Measurement::not_yet : Measurement::impossible);
        if (cut == Cut::call) e.history.interrupted = true;
        if (cut != Cut::none) queue(e);  // measured again when the process is quiet
    }
    changed_.notify_all();
    return settled;
}

ProcessQuiet PlanCache::quiet() const {
    ProcessQuiet q;
    q.transforms_in_flight = in_flight_.load();
    q.seconds_since_last_transform =
        std::chrono::duration<double>(Clock::now() - Clock::time_point(Clock::duration(last_end_.load()))).count();
    q.last_transform_seconds = last_seconds_.load();
    q.spare_core = machine_has_spare_core();
    q.idle_core = machine_has_idle_core();
    q.transform_threads = std::max(last_threads_.load(), peak_threads_.exchange(threads_in_flight_.load()));
    q.cores = process_cores();
    return q;
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
        auto queued = [](const Entry& e) { return QueuedProblem{e.use == PlanUse::lines, e.last_use}; };
        auto next = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (it->second.history.measurement == Measurement::queued &&
                (next == entries_.end() || measure_first(queued(it->second), queued(next->second))))
                next = it;
        if (next == entries_.end()) {
            changed_.wait(state);
        } else if (!may_measure_in_background(quiet(), next->second.history)) {
            changed_.wait_for(state, std::chrono::milliseconds(5));
        } else {
            const FftwProblem p = next->first;
            const PlanUse use = next->second.use;
            next->second.history.measurement = Measurement::in_background;
            ++running_;
            state.unlock();
            measure(p, use, std::nullopt);
            state.lock();
        }
    }
}

void PlanCache::interrupt_background_measurement() {
    std::lock_guard guard(interruptions.lock);
    if (!planner_planning_ || interruptions.call) return;
    interruptions.call = true;
    if (interruptions.forks == 0) set_time_limits(0);
    // At idle priority on a busy machine, it could take long to reach
    // FFTW's next time check, holding the planner lock meanwhile.
    set_planner_priority(false);
}

PlanCache::Cut PlanCache::planning_ends(bool in_call) {
    std::lock_guard guard(interruptions.lock);
    Cut cut = interruptions.forks > 0 ? Cut::fork : Cut::none;
    if (in_call) return cut;
    planner_planning_ = false;
    if (std::exchange(interruptions.call, false)) {
        if (interruptions.forks == 0) set_time_limits(FFTW_NO_TIMELIMIT);
        if (cut == Cut::none) cut = Cut::call;
    }
    return cut;
}

PlanCache::Busy::Busy(PlanCache& cache) : cache_(cache) { ++cache_.in_flight_; }

PlanCache::Busy::~Busy() {
    cache_.last_end_ = Clock::now().time_since_epoch().count();
    --cache_.in_flight_;
}

void PlanCache::transform_begins(int threads) {
    ++in_flight_;
    const int now = threads_in_flight_ += threads;
    int peak = peak_threads_.load();
    while (now > peak && !peak_threads_.compare_exchange_weak(peak, now)) {
    }
}

void PlanCache::transform_ends(double seconds, int threads) {
    last_seconds_ = seconds;
    last_threads_ = threads;
    threads_in_flight_ -= threads;
    last_end_ = Clock::now().time_since_epoch().count();
    --in_flight_;
}

void PlanCache::account_measured(const FftwProblem& p, double seconds, double units) {
    std::lock_guard state(state_);
    auto it = entries_.find(p);
    if (it == entries_.end() || !it->second.learning) return;
    Entry& e = it->second;
    LearningSavings& l = *e.learning;
    if (l.calls++ == 0) return;  // cold twiddle tables
    l.seconds += seconds;
    l.units += units;
    if (l.calls <= calls_to_learn_from) return;
    double& savings = line_passes_savings_[e.threaded ? 1 : 0][e.large ? 1 : 0];
    savings = learned_savings(e.history, l.seconds / l.units, savings);
    e.history.measured_plan_lost = measured_plan_loses(e.history, l.seconds / l.units);
    e.learning.reset();
}

void PlanCache::account_cheap(const FftwProblem& p, double seconds, double units) {
    std::lock_guard state(state_);
    auto it = entries_.find(p);
    if (it == entries_.end() || it->second.history.measured_plan) return;
    it->second.history.cheap_seconds += seconds;
    it->second.history.cheap_calls += units;
}

bool PlanCache::wait_for_measurements(double timeout_seconds) {
    std::unique_lock state(state_);
    return changed_.wait_for(state, std::chrono::duration<double>(timeout_seconds), [&] {
        return running_ == 0 && std::none_of(entries_.begin(), entries_.end(), [](const auto& e) {
                   return e.second.history.measurement == Measurement::queued;
               });
    });
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
            if (it->second.history.measurement != Measurement::running &&
                it->second.history.measurement != Measurement::in_background &&
                (oldest == entries_.end() || it->second.last_use < oldest->second.last_use))
                oldest = it;
        if (oldest == entries_.end()) return;
        entries_.erase(oldest);
    }
}

}  // namespace lumadex::dfti
