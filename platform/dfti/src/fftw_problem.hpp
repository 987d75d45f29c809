// One FFTW problem: everything that decides which FFTW plan can execute a
// call. It is the plan cache's key.
#pragma once

#include <string>

#include "shape.hpp"

namespace lumadex::dfti {

struct FftwProblem {
    Shape shape;
    bool in_place = false;
    int in_alignment = 0;  // fftw_alignment_of of the data pointers
    int out_alignment = 0;
    int threads = 1;
    bool destroy_input = false;  // the input may be overwritten (a staged copy)

    bool operator==(const FftwProblem&) const = default;
    size_t hash() const;
};

struct FftwProblemHash {
    size_t operator()(const FftwProblem& p) const { return p.hash(); }
};

// FFTW plans of either precision, as an opaque pointer.
using FftwPlan = void*;

// Calls fftw_init_threads and fftw_make_planner_thread_safe (fftwf_ for
// single) once per process; false if FFTW cannot run threads. FFTW's
// process-wide state is never cleaned up: other FFTW users of the process
// may rely on it.
bool init_fftw_threads(Precision p);

// Plans the problem on the given arrays with the given planner flags
// (FFTW_ESTIMATE, FFTW_MEASURE, FFTW_WISDOM_ONLY...) and the problem's thread
// count; null when FFTW finds no plan. The thread count is a planner-wide
// FFTW setting, so the caller serialises all planner calls.
FftwPlan make_fftw_plan(const FftwProblem& p, void* in, void* out, unsigned planner_flags);
void destroy_fftw_plan(Precision p, FftwPlan plan);

// Whether this layer has made a plan of that precision (FFTW's planner
// exists then), and the planner's time limit in seconds (FFTW_NO_TIMELIMIT:
// none). A planner call in progress reads the limit at each of its timeout
// checks, so a limit of 0 set from another thread ends it after the
// candidate it is timing; it then returns no plan, or one chosen by
// incomplete timings. The limit is planner-wide. Touches FFTW only when
// this layer has planned with that precision: setting the limit would
// otherwise create the planner.
bool planner_in_use(Precision p);
void set_planner_time_limit(Precision p, double seconds);

// Runs the plan on new arrays of the same alignment and placement (thread-safe).
void execute_fftw_plan(const FftwProblem& p, FftwPlan plan, void* in, void* out);

int fftw_alignment(Precision p, const void* data);

// Wisdom as text (empty on failure), and import of such text (false if rejected).
std::string export_wisdom(Precision p);
bool import_wisdom(Precision p, const std::string& text);
void forget_wisdom(Precision p);

}  // namespace lumadex::dfti
