// FFTW plans shared by all descriptors and threads, keyed by their full
// problem (precision, kind, direction, lengths, strides, count, distances,
// placement, alignment, threads), and the plan policy.
//
// Plan policy. FFTW_MEASURE plans run up to ten times faster than
// FFTW_ESTIMATE ones here, but measuring costs 0.5 to 10 s per geometry, and
// measuring writes over the arrays it is given. So:
//  1. A problem seen for the first time gets a measured plan at once if FFTW
//     has wisdom for it (the cache file, the system wisdom, an earlier
//     measurement); otherwise a cheap FFTW_ESTIMATE plan, kept for reuse.
//  2. When it recurs, the planner thread measures it in the background: a
//     thread of this process at idle priority (SCHED_IDLE), so that it only
//     takes cores no one else wants. It starts a measurement when no
//     transform has run for a while (the script pauses) and the load
//     average says the machine has a core to spare: not beside the
//     problem's own calls, even on an idle core, as the two would slow each
//     other through the shared caches and memory (1000 x 1000 Complex 16 on
//     its cheap plan: 14 to 22 ms a call beside a measurement, 11 to 13.5
//     without, in runs side by side) and FFTW would choose by disturbed
//     timings. It measures on arrays of
//     its own with the problem's layout and alignment, and never on
//     problems larger than `max_measure_bytes`: memory stays bounded. A call
//     of the problem being measured waits for the measurement (at most
//     what measuring is expected to cost).
//  3. A tight loop leaves it no such moment. Each
//     call of a problem on its cheap plan adds its time; once that time
//     reaches the expected cost of measuring the problem (ski rental), the
//     next call measures it in the calling thread (or waits for the planner
//     thread, if that is measuring it already). So a loop costs at most about
//     twice what the better choice in hindsight (stay cheap, or measure at
//     once) would have cost, and a long loop runs at measured speed.
//  4. The measured plan replaces the cheap one at the next lookup; its wisdom
//     is merged into the cache file for later processes.
//
// Locks: `planner_lock` serialises this layer's FFTW planner calls (FFTW's
// thread count is a planner-wide setting; fftw_make_planner_thread_safe
// guards FFTW against other FFTW users of the process). The cache's own
// state has a separate lock, taken after the planner lock, never before it.
// Executing plans takes no lock. No signals, no child processes; unloading
// joins the planner thread and frees this layer's plans, and leaves FFTW's
// process-wide state (wisdom, threads) alone.
//
// Fork: the prepare handler takes both locks, so that the child gets them
// free. It never waits for a measurement: it sets FFTW's planner time limit
// to 0 first, which ends a measurement in progress after the candidate it is
// timing; the measuring code discards that plan and queues the problem
// again (in the child the problem is measured again once it recurs). The
// parent and child handlers restore FFTW_NO_TIMELIMIT. The planner thread
// runs at idle priority; while a fork waits for it to reach FFTW's next
// time check, it runs at normal priority, so that a busy machine cannot
// hold the fork up. The child starts its own planner thread when it needs one.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

#include "fftw_problem.hpp"

namespace lumadex::dfti {

struct Plan {
    FftwProblem problem;
    FftwPlan handle = nullptr;
    bool measured = false;

    Plan(const FftwProblem& p, FftwPlan h, bool m) : problem(p), handle(h), measured(m) {}
    ~Plan();
    Plan(const Plan&) = delete;
    Plan& operator=(const Plan&) = delete;
};

struct PlanStatistics {
    uint64_t cheap_plans = 0;              // FFTW_ESTIMATE plans built
    uint64_t wisdom_plans = 0;             // measured plans built from wisdom at first sight
    uint64_t measured_in_background = 0;   // measurements made by the planner thread
    uint64_t measured_in_calls = 0;        // measurements made in a compute call (ski rental)
    uint64_t cancelled = 0;                // measurements cut short by a fork, to be made again
    int measuring = 0;                     // measurements inside FFTW's planner now
};

class PlanCache {
public:
    static PlanCache& instance();

    // The plan a compute call of this problem runs now, planned on these
    // arrays (only their alignment and placement matter; they are not
    // touched). Subject to the plan policy: it may measure first (3. above).
    // Null when FFTW cannot plan the problem.
    std::shared_ptr<Plan> plan_for(const FftwProblem& p, void* in, void* out) { return lookup(p, in, out, true); }

    // A cheap plan for one pass inside a cheap path, kept for reuse and never
    // measured.
    std::shared_ptr<Plan> cheap_plan_for(const FftwProblem& p, void* in, void* out) {
        return lookup(p, in, out, false);
    }

    // Brackets every transform. `seconds` is the time the call took and
    // `cheap` whether it ran on a cheap plan of problem p.
    void transform_begins();
    void transform_ends(const FftwProblem& p, double seconds, bool cheap);

    // For tests and benchmarks: waits until no measurement is queued or
    // running (true) or the timeout has passed (false); the counters so far.
    bool wait_for_measurements(double timeout_seconds);
    PlanStatistics statistics();

    // The lock that serialises this layer's FFTW planner calls.
    static std::timed_mutex& planner_lock();

    ~PlanCache();

private:
    PlanCache();
    using Clock = std::chrono::steady_clock;
    enum class Measurement { not_yet, queued, running, done, impossible };

    struct Entry {
        std::shared_ptr<Plan> plan;
        bool policy = false;  // a compute call's problem, not a pass inside one
        Measurement measurement = Measurement::not_yet;
        uint64_t last_use = 0;
        double cheap_seconds = 0;  // spent on the cheap plan so far
        double cheap_calls = 0;
        bool measure_in_call = false;
    };

    std::shared_ptr<Plan> lookup(const FftwProblem& p, void* in, void* out, bool policy);
    std::shared_ptr<Plan> measure_in_call(const FftwProblem& p, void* in, void* out,
                                          std::unique_lock<std::mutex>& state);
    // Measures p: in a call, waiting at most `patience` for the planner lock;
    // in the planner thread without one. True when a measured plan is in.
    bool measure(const FftwProblem& p, std::optional<std::chrono::duration<double>> patience);
    // The cheap plan's mean call time times the calls a measurement costs.
    double expected_measuring_seconds(const Entry& e) const;
    void planner_thread();
    // Idle priority for the planner thread, or normal while it measures.
    void set_planner_priority(bool idle);
    bool may_start_in_background() const;
    void queue(Entry& e);
    void evict_if_full();

    std::mutex state_;
    std::condition_variable changed_;
    std::unordered_map<FftwProblem, Entry, FftwProblemHash> entries_;
    PlanStatistics statistics_;
    uint64_t clock_ = 0;
    int running_ = 0;  // measurements in progress
    double calls_per_measurement_[2];  // expected measuring time in cheap calls
    std::thread* planner_ = nullptr;
    bool stopping_ = false;

    // Transforms in flight, and when the last one ended and how long it took.
    std::atomic<int> in_flight_{0};
    // Measurements inside FFTW's planner now, and the planner thread's
    // handle while it is one of them (for the fork to lift its priority).
    std::atomic<int> planning_{0};
    std::atomic<bool> planner_planning_{false};
    std::atomic<pthread_t> planner_handle_{};
    std::atomic<Clock::rep> last_end_{0};
    std::atomic<double> last_seconds_{0};
};

}  // namespace lumadex::dfti
