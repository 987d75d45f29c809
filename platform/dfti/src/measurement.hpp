// Measured plans without stalls: the planner helper and the wisdom file.
//
// FFTW_MEASURE plans run ten times faster than FFTW_ESTIMATE ones here, but
// measuring takes 0.5 to 3 s per geometry, and FFTW's planner is one global,
// non-thread-safe object: measuring in a thread of this process would make
// every other planner call (even a cheap one) wait behind it. So measuring
// happens in a separate process, the planner helper `lumadex-fft-planner`
// (installed beside the library that contains this code). It receives one
// problem as text, plans it with FFTW_MEASURE on arrays of the same layout and
// alignment, and prints the resulting FFTW wisdom. This side never waits for
// it: every DFTI call polls the helper's pipe without blocking, and imports
// the wisdom once the helper has exited cleanly. Importing and replanning
// from wisdom take milliseconds.
//
// At most one helper runs at a time, at low priority (nice 10); further
// requests wait in a short queue. A helper that fails (exits with an error,
// is killed) is run once more, then the problem keeps its cheap plan.
// Wisdom imported from helpers is also kept in a cache
// file ($XDG_CACHE_HOME/lumadex, else ~/.cache/lumadex) and read back by the
// next process. The file is only a cache: missing, unreadable, corrupt or
// unwritable, it changes no result and fails no call (FFTW rejects wisdom
// that does not parse, and any plan computes the same transform).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "fftw_problem.hpp"

namespace lumadex::dfti {

class MeasurementService {
public:
    MeasurementService();
    ~MeasurementService();
    MeasurementService(const MeasurementService&) = delete;
    MeasurementService& operator=(const MeasurementService&) = delete;

    // Path of the helper; empty disables measuring. Default: beside this library.
    void set_helper_path(std::string path);

    // Queues a measurement; false when measuring is off or the queue is full.
    // The helper starts at the next start_queued(), which the layer calls as
    // a transform begins: the helper starts stopped and runs once the
    // transform is done. Spawning at the start rather than the end of a call
    // matters with several threads: after a parallel region the idle OpenMP
    // workers spin for some milliseconds, and a process spawned then waited
    // behind one of them while posix_spawn kept the caller waiting too.
    bool request(const FftwProblem& p);
    void start_queued();

    // Non-blocking: reaps a finished helper and imports its wisdom. Returns
    // the problems whose measured wisdom arrived.
    std::vector<FftwProblem> poll();

    bool busy() const { return running_.has_value() || !queue_.empty(); }

    // Transforms of this process stop the helper while they run (SIGSTOP,
    // SIGCONT), so that a measurement never slows a transform down; FFTW
    // keeps the fastest of several timings per candidate, so an interrupted
    // timing does not mislead it. Calls nest; the helper runs again when the
    // last transform ends.
    //
    // A script that transforms back to back leaves the helper only the short
    // gaps between its calls:
    //  - Once a helper has run less than a quarter of the time for over a
    //    second, a transform that leaves a core idle (fewer threads than
    //    cores) no longer stops it: it measures on the idle core from then on.
    //  - Transforms that take every core always stop it. FFTW times each
    //    candidate plan several times and keeps the fastest, which survives
    //    an occasional stop but not slices shorter than the transforms
    //    between them: a plan measured that way was seen 2.5 times slower
    //    than a true measured plan. A measurement made mostly in such slices
    //    is dropped and repeated, so it comes once the script leaves the
    //    cores idle for a while (until then the cheap plan serves).
    // `threads` is the transform's thread count; 0 means all cores.
    void transform_begins(int threads);
    void transform_ends();

    // Measurements dropped as disturbed so far.
    uint64_t disturbed() const { return disturbed_; }

    // Reads the wisdom file of one precision into FFTW (once per process).
    void load_wisdom_file(Precision p);

    // Stops and reaps a running helper; drops the queue.
    void shutdown();

private:
    struct Running {
        FftwProblem problem;
        int failures = 0;
        pid_t pid = -1;
        int pipe_fd = -1;
        std::string output;
        bool output_closed = false;
        bool exited = false;
        bool clean = false;
        std::chrono::steady_clock::time_point started;
        std::chrono::steady_clock::time_point stopped_at;
        std::chrono::steady_clock::duration stopped_for{};
        bool stopped = false;
        bool shares_idle_core = false;  // starving once, beside a transform that left a core idle
        // The slice it last ran between stops, and its running time spent in
        // slices shorter than the transform that ended them.
        std::chrono::steady_clock::time_point resumed_at;
        std::chrono::steady_clock::duration last_slice{}, ran_in_short_slices{};
    };

    void start_next();
    void drain(Running& r);
    void finish(Running& r);
    void save_wisdom_file(Precision p);

    std::string helper_path_;
    bool helper_checked_ = false;
    struct Queued {
        FftwProblem problem;
        int failures = 0;  // earlier runs of this request that failed
    };
    std::deque<Queued> queue_;
    std::optional<Running> running_;
    int transforms_running_ = 0;
    uint64_t disturbed_ = 0;
    bool wisdom_file_loaded_[2] = {false, false};
};

// Directory of the wisdom file (may not exist yet); empty when no home is known.
std::string wisdom_cache_directory();

}  // namespace lumadex::dfti
