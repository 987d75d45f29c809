// The plan policy's decisions, table by table, without threads or FFTW:
// which plan a call runs given its problem's history, how long measuring is
// expected to take, when the planner thread may start, which queued problem
// it measures first; and the ski rental's promise, checked by simulating
// loops against the better choice in hindsight.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "plan_policy.hpp"

namespace {

using namespace lumadex::dfti;

// Measuring is expected to take 40 cheap calls of 10 ms.
constexpr double calls_per_measurement = 40;
constexpr double measuring_seconds = 0.4;

PlanHistory history(Measurement m, double calls, bool measured = false, bool measurable = true) {
    PlanHistory h;
    h.measurement = m;
    h.cheap_calls = calls;
    h.cheap_seconds = calls * 0.01;
    h.measured_plan = measured;
    h.measurable = measurable;
    return h;
}

PlanHistory interrupted(PlanHistory h) {
    h.interrupted = true;
    return h;
}

PlanHistory line_plan(PlanHistory h) {
    h.line_plan = true;
    return h;
}

PlanHistory lost(PlanHistory h) {
    h.measured_plan_lost = true;
    return h;
}

PlanHistory saving(double share, PlanHistory h) {
    h.savings = share;
    return h;
}

struct DecisionRow {
    std::string what;
    PlanHistory history;
    Decision expected;
};

TEST(PlanPolicy, DecidesFromTheHistory) {
    using M = Measurement;
    const DecisionRow rows[] = {
        {"first sight, no wisdom", history(M::not_yet, 0), Decision::cheap},
        {"first sight, wisdom", history(M::done, 0, true), Decision::use_measured},
        {"it recurs", history(M::not_yet, 1), Decision::cheap_and_queue},
        {"queued, rental not due", history(M::queued, 39), Decision::cheap},
        {"queued, rental due", history(M::queued, 41), Decision::measure_now},
        {"not queued (a measuring call gave up), rental due", history(M::not_yet, 45), Decision::measure_now},
        {"being measured by another call", history(M::running, 3), Decision::wait_for_measurement},
        {"being measured by another call, rental due", history(M::running, 400), Decision::wait_for_measurement},
        {"being measured in the background", history(M::in_background, 3), Decision::cheap_and_interrupt},
        {"being measured in the background, rental due", history(M::in_background, 400),
         Decision::cheap_and_interrupt},
        {"a line plan being measured in the background (on another core)", line_plan(history(M::in_background, 3)),
         Decision::cheap},
        {"a line plan being measured in the background, rental due", line_plan(history(M::in_background, 100)),
         Decision::cheap},
        {"a line plan being measured in the background, rental four times overdue (starved)",
         line_plan(history(M::in_background, 170)), Decision::cheap_and_interrupt},
        {"a line plan, queued, rental due", line_plan(history(M::queued, 41)), Decision::measure_now},
        {"a measured plan saves a quarter: 41 calls lost 10", saving(0.25, history(M::queued, 41)), Decision::cheap},
        {"a measured plan saves a quarter: 161 calls lost 40", saving(0.25, history(M::queued, 161)),
         Decision::measure_now},
        {"interrupted and queued again, rental not due", interrupted(history(M::queued, 20)), Decision::cheap},
        {"interrupted and queued again, rental due", interrupted(history(M::queued, 41)), Decision::measure_now},
        {"measured", history(M::done, 400, true), Decision::use_measured},
        {"measured, and the plan lost to the cheap path", lost(history(M::done, 400, true)),
         Decision::cheap_over_measured},
        {"FFTW found no measured plan", history(M::impossible, 400), Decision::cheap},
        {"too large to measure", history(M::not_yet, 400, false, false), Decision::cheap},
        {"too large, but wisdom", history(M::done, 0, true, false), Decision::use_measured},
    };
    for (const DecisionRow& row : rows)
        EXPECT_EQ(decide(row.history, measuring_seconds), row.expected) << row.what;
}

TEST(PlanPolicy, ExpectsMeasuringToCostItsCallsAtTheirMeanTime) {
    PlanHistory h = history(Measurement::queued, 10);
    h.cheap_seconds = 0.5;  // 50 ms a call
    EXPECT_DOUBLE_EQ(expected_measuring_seconds(h, calls_per_measurement), 40 * 0.05);
    // A measurement of 3 s makes the next one expected to take 60 such calls.
    EXPECT_DOUBLE_EQ(learned_calls_per_measurement(h, 3.0, calls_per_measurement), 60);
    EXPECT_EQ(learned_calls_per_measurement(history(Measurement::queued, 0), 3.0, 17), 17) << "nothing to learn from";
    // Small geometries cost the planner a least time however fast their
    // calls, and teach nothing about larger ones.
    const PlanHistory fast = history(Measurement::queued, 1000);  // 10 ms in all
    EXPECT_GE(expected_measuring_seconds(fast, calls_per_measurement), 0.1);
    EXPECT_GE(expected_measuring_seconds(history(Measurement::not_yet, 0), calls_per_measurement), 0.1);
    EXPECT_EQ(learned_calls_per_measurement(fast, 0.15, calls_per_measurement), calls_per_measurement);
}

TEST(PlanPolicy, LearnsWhatAMeasuredPlanSaves) {
    EXPECT_DOUBLE_EQ(savings_of(1.73e-6, 1.10e-6), 1 - 1.10 / 1.73);
    EXPECT_DOUBLE_EQ(savings_of(0.010, 0.0099), 0.1) << "a least share, so that a long loop measures";
    EXPECT_DOUBLE_EQ(savings_of(0.010, 0.012), 0.1) << "a measured plan slower than the cheap path";
    // Halfway from what was expected to what this problem's plan saved.
    const PlanHistory h = history(Measurement::done, 10);  // cheap calls of 10 ms
    EXPECT_DOUBLE_EQ(learned_savings(h, 0.0075, 0.25), 0.25);
    EXPECT_DOUBLE_EQ(learned_savings(h, 0.001, 0.25), (0.25 + 0.9) / 2);
    EXPECT_DOUBLE_EQ(learned_savings(h, 0.012, 0.25), (0.25 + 0.1) / 2);
    EXPECT_DOUBLE_EQ(learned_savings(history(Measurement::done, 0), 0.001, 0.25), 0.25) << "nothing to compare";
}

TEST(PlanPolicy, KeepsTheCheapPathWhenTheMeasuredPlanLosesToIt) {
    const PlanHistory h = history(Measurement::done, 10, true);  // cheap calls of 10 ms
    EXPECT_TRUE(measured_plan_loses(h, 0.0155)) << "64 frames of 256 x 256: 12 ms cheap, 15.5 measured";
    EXPECT_TRUE(measured_plan_loses(h, 0.0106));
    EXPECT_FALSE(measured_plan_loses(h, 0.0104)) << "within the calls' noise: the measured plan stays";
    EXPECT_FALSE(measured_plan_loses(h, 0.006));
    EXPECT_FALSE(measured_plan_loses(history(Measurement::done, 0, true), 1.0)) << "nothing to compare";
}

// A tight loop of n calls: a cheap call costs `cheap`, a measured one
// `measured`, measuring `calls_per_measurement` cheap calls. No planner
// thread ever gets a quiet moment, so queued problems stay queued.
double loop_cost(int n, double cheap, double measured, double savings = 1) {
    PlanHistory h;
    h.savings = savings;
    double total = 0;
    for (int call = 0; call < n; ++call) {
        switch (decide(h, expected_measuring_seconds(h, calls_per_measurement))) {
            case Decision::cheap_and_queue:
                h.measurement = Measurement::queued;
                [[fallthrough]];
            case Decision::cheap:
                total += cheap;
                h.cheap_calls += 1;
                h.cheap_seconds += cheap;
                break;
            case Decision::measure_now:
                total += expected_measuring_seconds(h, calls_per_measurement) + measured;
                h.measured_plan = true;
                h.measurement = Measurement::done;
                break;
            case Decision::use_measured:
                total += measured;
                break;
            case Decision::cheap_over_measured:
            case Decision::wait_for_measurement:
            case Decision::cheap_and_interrupt:
                ADD_FAILURE() << "nothing measures in the background here";
                return total;
        }
    }
    return total;
}

TEST(PlanPolicy, ALoopCostsAtMostTwiceTheBetterChoiceInHindsight) {
    for (const double speedup : {1.2, 3.0, 10.0})
        for (const int n : {1, 2, 10, 39, 40, 41, 80, 1000}) {
            const double cheap = 1.0, measured = cheap / speedup;
            const double measuring = calls_per_measurement * cheap;
            const double best = std::min(n * cheap, measuring + n * measured);
            EXPECT_LE(loop_cost(n, cheap, measured), 2 * best + cheap) << n << " calls, speed-up " << speedup;
        }
    // A long loop runs at measured speed: its cost per call tends to it.
    EXPECT_LE(loop_cost(100000, 1.0, 0.1) / 100000, 0.1 * 1.01);
}

// The same promise when the rental counts only what the cheap calls lose
// against a measured plan (a plan that saves little is measured later).
TEST(PlanPolicy, ALoopCostsAtMostTwiceTheBetterChoiceKnowingWhatMeasuringSaves) {
    for (const double speedup : {1.05, 1.2, 1.6, 3.0, 10.0})
        for (const int n : {1, 10, 40, 100, 200, 800, 1000, 5000}) {
            const double cheap = 1.0, measured = cheap / speedup, savings = 1 - measured / cheap;
            const double measuring = calls_per_measurement * cheap;
            const double best = std::min(n * cheap, measuring + n * measured);
            EXPECT_LE(loop_cost(n, cheap, measured, savings), 2 * best + cheap) << n << " calls, speed-up " << speedup;
        }
}

struct QuietRow {
    std::string what;
    ProcessQuiet quiet;
    PlanHistory candidate;
    bool may_start;
};

TEST(PlanPolicy, MeasuresInTheBackgroundOnlyWhenTheProcessIsQuiet) {
    using M = Measurement;
    const PlanHistory fast = history(M::queued, 1);  // calls of 10 ms
    PlanHistory slow = fast;
    slow.cheap_seconds = 0.05;  // calls of 50 ms
    const QuietRow rows[] = {
        {"a transform is running", {1, 10.0, 0.001, true}, fast, false},
        {"the script paused only briefly", {0, 0.005, 0.001, true}, fast, false},
        {"paused long enough", {0, 0.050, 0.010, true}, fast, true},
        {"paused less than the last call took", {0, 0.050, 0.060, true}, fast, false},
        {"paused, but no core to spare", {0, 0.050, 0.010, false}, fast, false},
        {"quiet for seconds, however busy the machine", {0, 2.0, 0.010, false}, fast, true},
        {"paused for a loop's body: a few of the problem's calls", {0, 0.150, 0.010, true}, slow, false},
        {"paused for longer than a loop's body", {0, 0.250, 0.010, true}, slow, true},
        {"no cheap call on record", {0, 0.030, 0.010, true}, history(M::queued, 0), true},
        {"interrupted by its loop: paused as long as the loop's body", {0, 0.5, 0.010, true}, interrupted(fast),
         false},
        {"interrupted by its loop: quiet for seconds", {0, 1.5, 0.010, true}, interrupted(fast), true},
        // Line plans, beside the process's transforms:
        // {in flight, quiet, last call, spare core, idle core, its threads, cores}
        {"a line plan beside a one-thread loop on two cores", {1, 0.0, 0.010, true, true, 1, 2}, line_plan(fast), true},
        {"a line plan interrupted by a call that planned", {1, 0.0, 0.010, true, true, 1, 2},
         interrupted(line_plan(fast)), true},
        {"a line plan beside a loop on every core", {1, 0.0, 0.010, true, true, 2, 2}, line_plan(fast), false},
        {"a line plan on a machine of one core", {1, 0.0, 0.010, true, true, 1, 1}, line_plan(fast), false},
        {"a line plan beside other processes that take the other core", {1, 0.0, 0.010, true, false, 1, 2},
         line_plan(fast), false},
        {"a geometry beside a one-thread loop on two cores", {1, 0.0, 0.010, true, true, 1, 2}, fast, false},
    };
    for (const QuietRow& row : rows)
        EXPECT_EQ(may_measure_in_background(row.quiet, row.candidate), row.may_start) << row.what;
}

// A loop whose body does other work between its transforms, up to three
// times the transform's time (a registration: the spectra's products, the
// peak search), never looks quiet to the planner thread, whatever the
// transform's size; it is served by the rental alone.
TEST(PlanPolicy, ALoopsBodyIsNotQuiet) {
    for (const double call : {0.0001, 0.004, 0.015, 0.3})
        for (const double body : {0.0, 1.0, 3.0}) {
            PlanHistory h;
            h.measurement = Measurement::queued;
            h.cheap_calls = 7;
            h.cheap_seconds = 7 * call;
            const ProcessQuiet between_calls{0, body * call, call, true};
            EXPECT_FALSE(may_measure_in_background(between_calls, h)) << "calls of " << call << " s, body " << body;
        }
}

TEST(PlanPolicy, MeasuresLinePlansBeforeGeometriesAndTheLatestFirst) {
    const QueuedProblem old_line_plan{true, 2}, recent_geometry{false, 9}, old_geometry{false, 3};
    EXPECT_TRUE(measure_first(old_line_plan, recent_geometry));
    EXPECT_FALSE(measure_first(recent_geometry, old_line_plan));
    EXPECT_TRUE(measure_first(recent_geometry, old_geometry));
    EXPECT_FALSE(measure_first(old_geometry, recent_geometry));
}

}  // namespace
