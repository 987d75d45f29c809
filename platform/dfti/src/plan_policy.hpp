// The plan policy: which plan a call of a problem runs and when the problem
// is measured, decided from what is known about the problem and the process
// alone. Pure functions of their arguments: no clock, no locks, no threads,
// no FFTW. The plan cache (plan_cache.*) keeps each problem's history, asks
// here, and carries the answer out.
//
// FFTW_MEASURE plans run up to ten times faster than FFTW_ESTIMATE ones
// here, but measuring a whole 2-D or 3-D geometry costs 0.5 to 10 s, and
// measuring writes over the arrays it is given. So, for a compute call's
// problem:
//  1. First sight: a measured plan if FFTW has wisdom for the problem (the
//     cache file, the system wisdom, an earlier measurement), else the
//     cheap path. Never a measurement: the first call costs about what an
//     unplanned library's call costs.
//  2. Recurrence: the problem is queued for the planner thread, which
//     measures it when the process is quiet (may_measure_in_background): not
//     beside the problem's own calls, even on an idle core (line plans
//     excepted, below), as the two would
//     slow each other through the shared caches and memory (1000 x 1000
//     Complex 16 on its cheap plan: 14 to 22 ms a call beside a
//     measurement, 11 to 13.5 without) and FFTW would choose by disturbed
//     timings. A loop is not quiet: the time between its transforms (the
//     other work of its body) is short against a few of its calls. Nor is
//     a call that measures in the calling thread.
//  3. Ski rental: a loop leaves the planner thread no quiet moment. Once
//     the cheap path's calls have lost what measuring is expected to cost
//     (their time times the share of it a measured plan is expected to
//     save), the next call measures in the calling thread. A loop then
//     costs at most about twice what the better choice in hindsight (stay
//     cheap, or measure at once) would have cost, and a long loop runs at
//     measured speed. The line passes with measured line plans run within
//     10 % of a measured plan of the whole from 512 x 512 up, so a loop of
//     such geometries measures them only after a hundred calls or more,
//     instead of paying tens of calls' time for a few per cent. A loop
//     never waits for a measurement it did not make: a call that finds its
//     problem measured in the background (the loop paused long enough to
//     look quiet, and resumed) runs the cheap path and cuts that
//     measurement short; the problem is measured again after a long
//     quiet, or by the loop's own rental.
//  4. Problems too large to measure (measuring needs arrays of their size)
//     stay on the cheap path unless wisdom for them is at hand.
// A compute call's expected measuring time is counted in cheap calls of the
// problem itself, so that it follows the machine's load (a busy machine
// slows both alike), and learned from each measurement made in a call; but
// it is never less than the planner's least measuring time, which small
// geometries take however fast their calls are. What a measured plan saves
// is learned too, from a geometry's first calls on its measured plan
// (plan_cache.cpp); a measured plan that runs slower than the cheap path
// did loses, and the problem goes back to the cheap path for good.
//
// The line plans of the cheap path (1-D plans for blocks of lines, shared by
// every geometry of their length) follow the same rules but one: the
// planner thread measures them beside the process's transforms on a core
// those leave idle, and a call does not cut that short unless the rental is
// long overdue (the idle core was taken meanwhile). Measuring one, on
// a lean search (plan_cache.cpp), costs 2 to 70 ms and wins up to 40 % on
// the cheap path (1000-point float lines: 1.73 us on FFTW_ESTIMATE's plan,
// 1.10 measured) and serves every geometry of its length, so a loop
// measures them after a few calls (on their blocks' whole time); the
// planner thread measures them before whole geometries.
#pragma once

namespace lumadex::dfti {

// Where a problem's measurement stands: `running` in a compute call,
// `in_background` in the planner thread.
enum class Measurement { not_yet, queued, running, in_background, done, impossible };

// What the cache knows about one problem when a call asks for its plan.
struct PlanHistory {
    bool measured_plan = false;  // a measured plan is at hand (from wisdom or measured)
    bool measurable = true;      // small enough to measure
    Measurement measurement = Measurement::not_yet;
    // The cheap path's account since the current rental period began: calls
    // (a call that runs several units of the problem, such as the frames of
    // a batch, counts each) and the seconds they took.
    double cheap_calls = 0;
    double cheap_seconds = 0;
    // The share of a cheap call's time a measured plan is expected to save.
    double savings = 1;
    // A call cut its background measurement short: its loop pauses long
    // enough to look quiet.
    bool interrupted = false;
    // A line plan of the cheap path (1-D, for a block of lines in a thread's
    // buffer), not a compute call's problem.
    bool line_plan = false;
    // The measured plan's first calls ran slower than the cheap path's: the
    // cheap path stays (measured_plan_loses).
    bool measured_plan_lost = false;
};

enum class Decision {
    use_measured,          // run the measured plan
    cheap_over_measured,   // run the cheap path: the measured plan lost to it
    cheap,                 // run the cheap path
    cheap_and_queue,       // run the cheap path; queue the problem for the planner thread
    measure_now,           // measure in this call (ski rental), then run what that gives
    wait_for_measurement,  // another call is measuring it: wait, then run what that gives
    cheap_and_interrupt,   // run the cheap path; cut the planner thread's measurement of it short
};

// `expected_measuring_seconds`: how long measuring the problem should take.
// The rental is due once the cheap calls have lost that much time
// (cheap_seconds * savings).
Decision decide(const PlanHistory& h, double expected_measuring_seconds);

// How long measuring a compute call's problem should take, in seconds, from
// `calls_per_measurement`, the expected measuring time in cheap calls of the
// problem, and the planner's least measuring time.
double expected_measuring_seconds(const PlanHistory& h, double calls_per_measurement);

// The expected measuring time in cheap calls after a measurement in a call
// took `measuring_seconds` (its problem's history at that time); `previous`
// when the history holds no cheap call to compare with, or the measurement
// took about the planner's least time (it tells nothing about larger ones).
double learned_calls_per_measurement(const PlanHistory& h, double measuring_seconds, double previous);

// The share of a cheap call's time a measured plan saves, from the time of
// a unit of the problem on each. Never less than a tenth, so that a long
// loop still measures.
double savings_of(double cheap_seconds_per_unit, double measured_seconds_per_unit);
// The expected share after a problem's measured plan ran its first calls:
// halfway from `previous` to what it saved against the problem's cheap calls
// (its history); `previous` when the history holds no cheap call.
double learned_savings(const PlanHistory& h, double measured_seconds_per_unit, double previous);

// Whether a measured plan whose first calls took `measured_seconds_per_unit`
// a unit lost to the problem's cheap calls (its history): slower by more
// than the calls' noise. FFTW measures a geometry on its own, with its data
// in cache; the line passes can beat what it picks, as with 64 frames of
// 256 x 256 Complex 8 (12 ms a call on the line passes, 15.5 on FFTW's
// measured plan of a frame).
bool measured_plan_loses(const PlanHistory& h, double measured_seconds_per_unit);

// What the planner thread sees of the process when it could start a
// measurement.
struct ProcessQuiet {
    int transforms_in_flight = 0;
    double seconds_since_last_transform = 0;
    double last_transform_seconds = 0;
    bool spare_core = true;  // the load average leaves the machine a core
    bool idle_core = false;  // ... and a core idle most of the time (below cores - 1/2)
    int transform_threads = 1;  // the most threads the process's transforms ran on at once, lately
    int cores = 1;                   // the cores the process may run on
};

// Whether the planner thread may start measuring a problem (its history
// `h`) now: when no transform is running and none has run for a while (at
// least 20 ms, at least as long as the last one took, and at least a few
// of the problem's own cheap calls, so that a loop's body between its
// transforms is not taken for quiet), on a machine with a core to spare;
// after a second without a transform, however busy the machine is. A
// problem whose measurement its own call interrupted waits for that second.
// A line plan is measured beside the process's transforms as soon as they
// leave a core idle (they ran on fewer threads at once than the process has cores,
// and the machine's load leaves a core idle: not beside other processes
// that take every core, where the planner thread would hardly run):
// it measures within a block of lines that its core's own cache holds, so
// the two hardly disturb each other, and a loop gets its line plans without
// measuring them in its own calls.
bool may_measure_in_background(const ProcessQuiet& q, const PlanHistory& h);

// Which of two queued problems the planner thread measures first: a line
// plan before a compute call's problem (it takes a fraction of the time and
// serves every geometry of its length), then the one used last (the one
// the script is at).
struct QueuedProblem {
    bool line_plan = false;
    unsigned long long last_use = 0;
};
bool measure_first(const QueuedProblem& a, const QueuedProblem& b);

}  // namespace lumadex::dfti
