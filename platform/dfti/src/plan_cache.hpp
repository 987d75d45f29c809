// FFTW plans shared by all descriptors, keyed by their full problem
// (precision, kind, direction, lengths, strides, count, distances,
// placement, alignment, threads).
//
// Plan policy:
//  1. A problem seen for the first time gets a measured plan at once if FFTW
//     already has measured wisdom for it (from the wisdom file or an earlier
//     helper); otherwise a cheap FFTW_ESTIMATE plan (about a millisecond).
//  2. Its measurement is requested from the planner helper (see
//     measurement.hpp) right away when the problem is large enough for plan
//     quality to matter, else when the problem recurs.
//  3. Once the helper's wisdom has arrived, the next lookup replaces the cheap
//     plan by one built with FFTW_WISDOM_ONLY (no measuring, no stall).
// So no call waits for a measurement, and repeat calls reach the speed of a
// measured plan as soon as the helper is done. The helper only runs while no
// transform does; when it gets the cores only in short gaps, it is done once
// the script pauses (see measurement.hpp). Without the helper, cheap plans
// serve throughout.
//
// All planner calls happen under one lock (FFTW's planner is not
// thread-safe); executing plans needs no lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "fftw_problem.hpp"
#include "measurement.hpp"

namespace lumadex::dfti {

struct Plan {
    FftwProblem problem;
    FftwPlan handle = nullptr;
    bool measured = false;
    std::atomic<bool> superseded{false};  // a better plan for the same problem exists

    Plan(const FftwProblem& p, FftwPlan h, bool m) : problem(p), handle(h), measured(m) { ++alive; }
    ~Plan();
    static inline std::atomic<int> alive{0};
    Plan(const Plan&) = delete;
    Plan& operator=(const Plan&) = delete;
};

struct PlanStatistics {
    uint64_t cheap_plans = 0;
    uint64_t measured_plans = 0;
    uint64_t measurements_requested = 0;
    uint64_t measurements_arrived = 0;
    uint64_t measurements_dropped = 0;
};

class PlanCache {
public:
    static PlanCache& instance();

    // The best plan available now for the problem, planned on these arrays
    // (only their alignment and placement matter; they are not touched).
    // Null when FFTW cannot plan the problem.
    std::shared_ptr<Plan> plan_for(const FftwProblem& p, void* in, void* out);

    // Bracket every transform (run with `threads` threads): the helper does
    // not run meanwhile, and a queued measurement starts (stopped until the
    // transform ends). begin returns whether end must be called (not when
    // nothing is measuring).
    bool transform_begins(int threads);
    void transform_ends();

    // The same for work outside this layer; always counted, so that a pause
    // that spans the start of a measurement still ends.
    void pause_measurements(int threads);
    void resume_measurements();

    void set_helper_path(std::string path);
    bool measurements_pending();
    PlanStatistics statistics();

    // The lock that serialises FFTW's planner.
    static std::recursive_mutex& planner_lock();

    ~PlanCache();

private:
    PlanCache() = default;

    struct Entry {
        std::shared_ptr<Plan> plan;
        uint64_t uses = 0;
        uint64_t last_use = 0;
        bool measurement_requested = false;
        bool wisdom_arrived = false;
        bool measured_again = false;
    };

    void poll_measurements();
    void evict_if_full();
    std::shared_ptr<Plan> plan_from_wisdom(const FftwProblem& p, void* in, void* out);

    std::unordered_map<FftwProblem, Entry, FftwProblemHash> entries_;
    MeasurementService measurements_;
    PlanStatistics statistics_;
    uint64_t clock_ = 0;
    std::atomic<bool> measuring_{false};  // a helper runs or is queued: transforms must see to it
};

}  // namespace lumadex::dfti
