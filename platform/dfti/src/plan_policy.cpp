#include "plan_policy.hpp"

#include <algorithm>

namespace lumadex::dfti {

namespace {

// The planner thread starts a measurement only after the process has
// transformed nothing for this long, or for as long as the last transform
// took, whichever is longer...
constexpr double quiet_minimum_seconds = 0.020;
// ...and after this long without a transform however busy the machine is
// (nothing of this process is left to disturb or to hold up).
constexpr double quiet_long_seconds = 1.0;
// A loop's body between two transforms takes less than this many of its
// problem's calls: the process is not quiet before that long.
constexpr double loop_body_calls = 4;

// FFTW's planner takes about this long to measure anything but the
// smallest geometries, however fast their calls (64 x 64: 0.18 s for calls
// of 4 us; 256 x 256: 0.27 s for 0.12 ms).
constexpr double least_measuring_seconds = 0.1;

// A measured plan is taken to save at least this share of a cheap call: a
// loop long enough (ten times the rental) measures whatever it runs, and a
// geometry whose measured plan saves a third (a volume, here) waits at most
// about three times too long because others saved nothing.
constexpr double least_savings = 0.1;

// A measured plan loses to the cheap path when its calls are slower by more
// than this share (a call's time varies by a few per cent from call to call).
constexpr double losing_margin = 0.05;

// A line plan measured in the background while its calls have lost this many
// times what measuring it should cost is cut short: the planner thread,
// at idle priority, has not had the core it was counted on.
constexpr double starved_line_plan_factor = 4;

// The cheap calls have lost, against a measured plan, what measuring is
// expected to cost.
bool rental_due(const PlanHistory& h, double expected_measuring_seconds) {
    return h.cheap_calls > 0 && h.cheap_seconds * h.savings >= expected_measuring_seconds;
}

}  // namespace

Decision decide(const PlanHistory& h, double expected_measuring_seconds) {
    if (h.measured_plan) return h.measured_plan_lost ? Decision::cheap_over_measured : Decision::use_measured;
    if (!h.measurable || h.measurement == Measurement::impossible) return Decision::cheap;
    // Running beside its own measurement, a call would disturb the timings
    // FFTW chooses by (and the plan kept in the wisdom file too).
    if (h.measurement == Measurement::running) return Decision::wait_for_measurement;
    // The loop resumed while the planner thread measures its problem: it
    // is no longer quiet, and the loop does not wait for that measurement.
    // A line plan's measurement runs on a core the loop leaves idle: it goes
    // on, unless it takes so long that the core was evidently taken.
    if (h.measurement == Measurement::in_background)
        return h.line_plan && !rental_due(h, starved_line_plan_factor * expected_measuring_seconds)
                   ? Decision::cheap
                   : Decision::cheap_and_interrupt;
    if (rental_due(h, expected_measuring_seconds)) return Decision::measure_now;
    // It recurs: worth measuring when the process is quiet.
    if (h.measurement == Measurement::not_yet && h.cheap_calls > 0) return Decision::cheap_and_queue;
    return Decision::cheap;
}

double expected_measuring_seconds(const PlanHistory& h, double calls_per_measurement) {
    const double mean_call = h.cheap_calls > 0 ? h.cheap_seconds / h.cheap_calls : 0;
    return std::max(least_measuring_seconds, calls_per_measurement * mean_call);
}

double learned_calls_per_measurement(const PlanHistory& h, double measuring_seconds, double previous) {
    // Only a measurement well above the planner's least time says how its
    // cost grows with the calls' time.
    if (h.cheap_calls <= 0 || h.cheap_seconds <= 0 || measuring_seconds < 2 * least_measuring_seconds)
        return previous;
    return measuring_seconds * h.cheap_calls / h.cheap_seconds;
}

double savings_of(double cheap_seconds_per_unit, double measured_seconds_per_unit) {
    return std::clamp(1 - measured_seconds_per_unit / cheap_seconds_per_unit, least_savings, 1.0);
}

double learned_savings(const PlanHistory& h, double measured_seconds_per_unit, double previous) {
    if (h.cheap_calls <= 0 || h.cheap_seconds <= 0) return previous;
    // Halfway: one geometry does not decide for all the others of its class.
    return (previous + savings_of(h.cheap_seconds / h.cheap_calls, measured_seconds_per_unit)) / 2;
}

bool measured_plan_loses(const PlanHistory& h, double measured_seconds_per_unit) {
    if (h.cheap_calls <= 0 || h.cheap_seconds <= 0) return false;
    return measured_seconds_per_unit > (1 + losing_margin) * h.cheap_seconds / h.cheap_calls;
}

bool may_measure_in_background(const ProcessQuiet& q, const PlanHistory& h) {
    const double quiet = q.transforms_in_flight > 0 ? 0 : q.seconds_since_last_transform;
    if (quiet >= quiet_long_seconds) return true;
    // (A line plan's measurement is cut short only by a call that needed the
    // planner for a plan of its own: that says nothing of the loop's pauses.)
    if (h.line_plan && q.idle_core && q.transform_threads < q.cores) return true;
    if (h.interrupted) return false;
    const double mean_call = h.cheap_calls > 0 ? h.cheap_seconds / h.cheap_calls : 0;
    const double loop_body = loop_body_calls * mean_call;
    return quiet >= std::max({quiet_minimum_seconds, q.last_transform_seconds, loop_body}) && q.spare_core;
}

bool measure_first(const QueuedProblem& a, const QueuedProblem& b) {
    if (a.line_plan != b.line_plan) return a.line_plan;
    return a.last_use > b.last_use;
}

}  // namespace lumadex::dfti
