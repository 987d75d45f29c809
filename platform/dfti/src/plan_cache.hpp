// FFTW plans shared by all descriptors and threads, keyed by their full
// problem (precision, kind, direction, lengths, strides, count, distances,
// placement, alignment, threads), and the mechanism that carries out the
// plan policy (plan_policy.hpp): each problem's history, the planner thread,
// measurements, locks, forks and unloading.
//
// The planner thread measures queued problems in the background: a thread
// of this process at idle priority (SCHED_IDLE), so that it only takes
// cores no one else wants, started when the policy says the process is
// quiet. It measures on arrays of its own with the problem's layout and
// alignment, and never on problems larger than `max_measure_bytes`: memory
// stays bounded. Measured plans replace cheap ones at the next lookup;
// their wisdom is merged into the cache file for later processes.
//
// Locks: `planner_lock` serialises this layer's FFTW planner calls (FFTW's
// thread count is a planner-wide setting; fftw_make_planner_thread_safe
// guards FFTW against other FFTW users of the process). The cache's own
// state has a separate lock, taken after the planner lock, never before it.
// Executing plans takes no lock. No signals, no child processes; unloading
// joins the planner thread and frees this layer's plans, and leaves FFTW's
// process-wide state (wisdom, threads) alone.
//
// A call of the problem the planner thread is measuring (a loop resumed
// after a pause that looked quiet) cuts that measurement short the same way
// as a fork does (below), runs the cheap path at once, and leaves the
// problem queued. So does a call that needs the planner lock (a problem's
// first sight, its cheap plan, a measurement in the call), which would
// otherwise wait for the planner thread's measurement of another problem:
// the process is not quiet any more.
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
#include "plan_policy.hpp"

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

// How a problem's plan is used, which decides what its cheap path is.
enum class PlanUse {
    whole,        // a compute call's problem whose cheap path is FFTW_ESTIMATE's plan of it
    whole_lines,  // a compute call's problem whose cheap path is the line passes: no cheap plan
    lines,        // a block of lines in the line passes' buffers, or in place in the data (cheap: FFTW_ESTIMATE)
    small_frame,  // a small frame of the line passes, in place in the data (cheap: FFTW_ESTIMATE)
};

struct PlanStatistics {
    // Compute calls' problems (not line plans):
    uint64_t cheap_plans = 0;              // first seen without wisdom: the cheap path
    uint64_t wisdom_plans = 0;             // measured plans built from wisdom at first sight
    uint64_t measured_in_background = 0;   // measurements made by the planner thread
    uint64_t measured_in_calls = 0;        // measurements made in a compute call (ski rental)
    // Line plans, measured either way:
    uint64_t line_plans_measured = 0;
    // Both:
    uint64_t cancelled = 0;  // measurements cut short by a fork or a call, to be made again
    int measuring = 0;       // measurements inside FFTW's planner now
};

class PlanCache {
public:
    static PlanCache& instance();

    // The plan a call of this problem runs now, by the plan policy: it may
    // measure first, or wait for the planner thread's measurement. Planned on
    // these arrays (only their alignment and placement matter; they are not
    // touched). For PlanUse::whole_lines, null unless a measured plan is at
    // hand (the call then runs the line passes); otherwise null when FFTW
    // cannot plan the problem.
    std::shared_ptr<Plan> plan_for(const FftwProblem& p, void* in, void* out, PlanUse use);

    // Brackets every compute call, for the planner thread's sense of quiet.
    void transform_begins(int threads);
    void transform_ends(double seconds, int threads);
    // Adds a run of p's cheap path to its account (ski rental): `units` of
    // the problem (calls, the frames of a batch, blocks of lines) in
    // `seconds`.
    void account_cheap(const FftwProblem& p, double seconds, double units);
    // Adds a run of p's measured plan (`units` of the problem in `seconds`)
    // to what the policy learns of measured plans' savings.
    void account_measured(const FftwProblem& p, double seconds, double units);

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

    // The first calls of a geometry's new measured plan, for what it saves
    // against the line passes.
    struct LearningSavings {
        int calls = 0;
        double seconds = 0, units = 0;
    };

    struct Entry {
        std::shared_ptr<Plan> plan;  // measured, cheap, or null (cheap path: the line passes)
        PlanUse use = PlanUse::whole;
        bool threaded = false;
        bool large = false;  // of large_geometry elements or more
        PlanHistory history;
        uint64_t last_use = 0;
        std::optional<LearningSavings> learning;
    };

    std::shared_ptr<Plan> first_sight(const FftwProblem& p, void* in, void* out, PlanUse use);
    std::shared_ptr<Plan> measure_in_call(const FftwProblem& p, void* in, void* out, PlanUse use,
                                          std::unique_lock<std::mutex>& state);
    // Measures p: in a call, waiting at most `patience` for the planner lock;
    // in the planner thread without one. True when a measured plan is in.
    bool measure(const FftwProblem& p, PlanUse use, std::optional<std::chrono::duration<double>> patience);
    // How long measuring the entry's problem should take, and what share of
    // its cheap calls' time a measured plan should save.
    double expected_measuring_seconds(const Entry& e) const;
    double savings_expected(const Entry& e) const;
    void planner_thread();
    // Idle priority for the planner thread, or normal while it measures.
    void set_planner_priority(bool idle);
    ProcessQuiet quiet() const;
    // Cuts the planner thread's measurement short, if it is in FFTW's planner.
    void interrupt_background_measurement();
    // After a measurement leaves FFTW's planner: what cut it short, if anything.
    enum class Cut { none, fork, call };
    Cut planning_ends(bool in_call);
    // Marks the calling thread busy (measuring or waiting in a call) for the
    // planner thread's sense of quiet.
    class Busy {
    public:
        explicit Busy(PlanCache& cache);
        ~Busy();

    private:
        PlanCache& cache_;
    };
    void queue(Entry& e);
    void evict_if_full();

    std::mutex state_;
    std::condition_variable changed_;
    std::unordered_map<FftwProblem, Entry, FftwProblemHash> entries_;
    PlanStatistics statistics_;
    uint64_t clock_ = 0;
    int running_ = 0;  // measurements in progress
    double calls_per_measurement_[2];  // serial, threaded
    double line_passes_savings_[2][2];  // serial, threaded; small, large geometries
    double line_plan_measuring_seconds_;
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
    std::atomic<int> last_threads_{1};
    // The threads of the transforms running now, and the most of them at once
    // since the planner thread last looked (side-by-side calls of one thread
    // each take every core as one call on all of them does).
    std::atomic<int> threads_in_flight_{0};
    mutable std::atomic<int> peak_threads_{1};
};

}  // namespace lumadex::dfti
