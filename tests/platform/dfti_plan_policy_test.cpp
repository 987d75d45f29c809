// The plan policy's promises: a loop reaches the measured plan, a shared
// descriptor is safe, transforms work from short-lived threads and after
// fork, and nothing sends the process a signal; the thread count in force at
// commit is the one used.
#include <gtest/gtest.h>
#include <omp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <complex>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "descriptor.hpp"
#include "fftw_problem.hpp"
#include "mkl_dfti.h"
#include "plan_cache.hpp"

namespace {

using cd = std::complex<double>;
using lumadex::dfti::PlanCache;

struct Transform {
    DFTI_DESCRIPTOR_HANDLE h = nullptr;
    std::vector<cd> in, out;
    // An out-of-place rows x width transform with a scale, on random data;
    // with `frames` above 1, a batch of such frames.
    Transform(MKL_LONG rows, MKL_LONG width, MKL_LONG frames = 1)
        : in(rows * width * frames), out(rows * width * frames) {
        MKL_LONG n[] = {rows, width};
        EXPECT_EQ(DftiCreateDescriptor(&h, DFTI_DOUBLE, DFTI_COMPLEX, MKL_LONG{2}, n), 0);
        EXPECT_EQ(DftiSetValue(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE), 0);
        EXPECT_EQ(DftiSetValue(h, DFTI_FORWARD_SCALE, 0.5), 0);
        if (frames > 1) {
            EXPECT_EQ(DftiSetValue(h, DFTI_NUMBER_OF_TRANSFORMS, frames), 0);
            EXPECT_EQ(DftiSetValue(h, DFTI_INPUT_DISTANCE, rows * width), 0);
            EXPECT_EQ(DftiSetValue(h, DFTI_OUTPUT_DISTANCE, rows * width), 0);
        }
        EXPECT_EQ(DftiCommitDescriptor(h), 0);
        std::mt19937 rng(static_cast<unsigned>(width));
        std::uniform_real_distribution<double> v(-1, 1);
        for (cd& x : in) x = {v(rng), v(rng)};
    }
    ~Transform() { DftiFreeDescriptor(&h); }
    void run(const std::vector<cd>& data, std::vector<cd>& result) const {
        EXPECT_EQ(DftiComputeForward(h, const_cast<cd*>(data.data()), result.data()), 0);
    }
    // On the same arrays each time, so that every call is one FFTW problem.
    const std::vector<cd>& run() {
        run(in, out);
        return out;
    }
};

double max_difference(const std::vector<cd>& a, const std::vector<cd>& b) {
    double worst = 0;
    for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

uint64_t measurements() {
    const auto s = PlanCache::instance().statistics();
    return s.measured_in_background + s.measured_in_calls;
}

// A rows x width transform (of `frames` frames), width from `from` on,
// whose first call took the cheap path: neither this process nor the
// wisdom file knew it yet (the file keeps what earlier runs measured).
std::unique_ptr<Transform> new_transform(MKL_LONG rows, MKL_LONG from, MKL_LONG frames = 1) {
    for (MKL_LONG width = from + getpid() % 97;; ++width) {
        const uint64_t cheap = PlanCache::instance().statistics().cheap_plans;
        auto f = std::make_unique<Transform>(rows, width, frames);
        f->run();
        if (PlanCache::instance().statistics().cheap_plans > cheap) return f;
    }
}

int sigchld_count = 0;
void count_sigchld(int) { ++sigchld_count; }

}  // namespace

// A single frame and a batch of frames (measured as one frame, whose plan
// then runs frame by frame) give the cheap path's results on the measured
// plan too.
TEST(DftiPlanPolicy, ALoopReachesTheMeasuredPlanAndSendsNoSignal) {
    struct sigaction counting {}, saved{};
    counting.sa_handler = count_sigchld;
    sigaction(SIGCHLD, &counting, &saved);
    const int threads = omp_get_max_threads();
    for (int t : {1, 2})
        for (MKL_LONG frames : {1, 5}) {  // two threads spread five frames over themselves
            omp_set_num_threads(t);
            // What earlier cases queued is measured first, so that a count
            // that rises below is this case's measurement.
            EXPECT_TRUE(PlanCache::instance().wait_for_measurements(120));
            const uint64_t before = measurements();
            // Two threads run only on calls large enough to pay for them.
            const auto f = new_transform(48 * t * t, 100 + 400 * t + (frames > 1 ? 200 : 0), frames);
            const auto expected = f->run();  // may measure already (ski rental on a slow machine)
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            int calls = 0;
            while (measurements() == before && std::chrono::steady_clock::now() < deadline) f->run(), ++calls;
            EXPECT_GT(measurements(), before) << t << " threads, " << frames << " frames, " << calls << " calls";
            EXPECT_LE(max_difference(f->run(), expected), 1e-12);
        }
    omp_set_num_threads(threads);
    sigaction(SIGCHLD, &saved, nullptr);
    EXPECT_EQ(sigchld_count, 0);
}

TEST(DftiPlanPolicy, ADescriptorSharedByTwoThreadsGivesCorrectResults) {
    const auto f = new_transform(32, 700);
    const std::vector<cd> other(f->in.rbegin(), f->in.rend());
    std::vector<cd> expected_a(f->in.size()), expected_b(f->in.size());
    f->run(f->in, expected_a);
    f->run(other, expected_b);
    double worst[2] = {0, 0};
    auto work = [&](int i) {
        std::vector<cd> result(f->in.size());
        for (int k = 0; k < 200; ++k) {
            f->run(i ? other : f->in, result);
            worst[i] = std::max(worst[i], max_difference(result, i ? expected_b : expected_a));
        }
    };
    std::thread a(work, 0), b(work, 1);
    a.join();
    b.join();
    EXPECT_LE(std::max(worst[0], worst[1]), 1e-12);
}

TEST(DftiPlanPolicy, AMeasurementRequestedByAShortLivedThreadArrives) {
    const uint64_t before = measurements();
    std::vector<cd> first, second;
    std::thread([&] {
        omp_set_num_threads(1);  // leaves a core idle: measured at once
        const auto f = new_transform(8, 1100);
        first = f->run();
        second = f->run();  // it recurs: the planner thread measures it
    }).join();
    EXPECT_TRUE(PlanCache::instance().wait_for_measurements(120));
    EXPECT_GT(measurements(), before);
    EXPECT_LE(max_difference(first, second), 1e-12);
}

// The child's exit status, or -1 if it has not ended within the timeout
// (then it is killed): a child hung in a dead thread pool fails the test.
int wait_bounded(pid_t child, double timeout_seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_seconds);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Threaded transforms in the parent, by the forking thread, then in the
// child at the same thread count, on the known plan and on a new one; from
// the main thread and from another thread with an OpenMP pool of its own.
TEST(DftiPlanPolicy, AThreadedTransformAfterForkWorks) {
    const int saved = omp_get_max_threads();
    auto fork_and_transform = [] {
        omp_set_num_threads(2);
        Transform f(512, 512);  // the line passes: a parallel loop of ours
        const auto expected = f.run();
        f.run();  // a measurement may be under way as the process forks
        const pid_t child = fork();
        if (child == 0) {
            Transform g(512, 512);
            std::vector<cd> result(f.in.size());
            g.run(f.in, result);
            const auto h = new_transform(40, 1500);  // a new plan too
            _exit(max_difference(result, expected) <= 1e-12 && h->h->threads == 2 ? 0 : 1);
        }
        return wait_bounded(child, 30);
    };
    EXPECT_EQ(fork_and_transform(), 0) << "forked by the main thread";
    int status = -2;
    std::thread([&] { status = fork_and_transform(); }).join();
    EXPECT_EQ(status, 0) << "forked by another thread";
    omp_set_num_threads(saved);
}

// Lets the planner thread finish what earlier tests queued (line plans are
// measured beside transforms), then forgets the double-precision wisdom, so
// that the next problem measured is the test's own.
void forget_wisdom_with_nothing_queued() {
    EXPECT_TRUE(PlanCache::instance().wait_for_measurements(600));
    Transform(8, 8).run();  // the wisdom cache file is read: now forget it
    lumadex::dfti::forget_wisdom(lumadex::dfti::Precision::double_);
}

// Waits up to a minute for the planner thread to be inside FFTW's planner.
bool measuring_in_background() {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + seconds(60);
    while (PlanCache::instance().statistics().measuring == 0 && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(10));
    return PlanCache::instance().statistics().measuring == 1;
}

// A fork during a background measurement cuts it short instead of waiting
// for it; the problem is measured again later.
TEST(DftiPlanPolicy, AForkCancelsABackgroundMeasurementWhichIsMadeLater) {
    using namespace std::chrono;
    const int saved = omp_get_max_threads();
    omp_set_num_threads(1);
    forget_wisdom_with_nothing_queued();  // the one measurement the fork meets is this problem's
    // About 5 s to measure here (a large prime length); one line, so FFTW's
    // own plan of it, the only problem the planner thread is to measure.
    Transform slow(1, 262147);
    const auto expected = slow.run();
    slow.run();  // it recurs: the planner thread measures it
    const auto before = PlanCache::instance().statistics();
    ASSERT_TRUE(measuring_in_background());

    const auto forked = steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        std::vector<cd> result(slow.in.size());
        slow.run(slow.in, result);
        _exit(max_difference(result, expected) <= 1e-9 ? 0 : 1);
    }
    const double seconds_in_fork = duration<double>(steady_clock::now() - forked).count();
    EXPECT_LT(seconds_in_fork, 1.0) << "the fork waited for the measurement";
    EXPECT_EQ(wait_bounded(child, 60), 0);
    EXPECT_EQ(PlanCache::instance().statistics().cancelled, before.cancelled + 1);

    EXPECT_TRUE(PlanCache::instance().wait_for_measurements(600));
    EXPECT_GT(PlanCache::instance().statistics().measured_in_background, before.measured_in_background);
    EXPECT_LE(max_difference(slow.run(), expected), 1e-9);
    omp_set_num_threads(saved);
}

// A loop that resumes while the planner thread measures its problem (its
// pause looked quiet) does not wait for that measurement: the call runs the
// cheap path and cuts the measurement short; the problem is measured later,
// once the process is quiet for long.
TEST(DftiPlanPolicy, ACallOfAProblemMeasuredInTheBackgroundInterruptsItInsteadOfWaiting) {
    using namespace std::chrono;
    const int saved = omp_get_max_threads();
    omp_set_num_threads(1);
    forget_wisdom_with_nothing_queued();  // the one measurement below is then this problem's
    Transform slow(1, 262139);  // seconds to measure, as above
    const auto expected = slow.run();
    slow.run();
    const auto before = PlanCache::instance().statistics();
    ASSERT_TRUE(measuring_in_background());
    const auto deadline = steady_clock::now() + seconds(60);

    const auto called = steady_clock::now();
    EXPECT_LE(max_difference(slow.run(), expected), 1e-9);
    EXPECT_LT(duration<double>(steady_clock::now() - called).count(), 1.0) << "the call waited for the measurement";
    while (PlanCache::instance().statistics().cancelled == before.cancelled && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(10));
    EXPECT_EQ(PlanCache::instance().statistics().cancelled, before.cancelled + 1);

    EXPECT_TRUE(PlanCache::instance().wait_for_measurements(600));
    EXPECT_GT(PlanCache::instance().statistics().measured_in_background, before.measured_in_background);
    EXPECT_LE(max_difference(slow.run(), expected), 1e-9);
    omp_set_num_threads(saved);
}

// A plan released while another thread holds the planner lock is put aside
// for the next holder; if none comes before exit, the cache's own teardown
// destroys it. (The test fails in that teardown, after its body.)
TEST(DftiPlanPolicy, APlanPutAsideAtExitIsDestroyedSafely) {
    Transform t(8, 8);
    t.run();
    std::lock_guard busy(PlanCache::planner_lock());
    std::thread([] { lumadex::dfti::Plan(lumadex::dfti::FftwProblem{}, nullptr, false); }).join();
}

TEST(DftiThreads, TheCountAtCommitIsTheCountUsed) {
    const int saved = omp_get_max_threads();
    DFTI_DESCRIPTOR_HANDLE h = nullptr;
    ASSERT_EQ(DftiCreateDescriptor(&h, DFTI_SINGLE, DFTI_COMPLEX, MKL_LONG{1}, MKL_LONG{64}), 0);
    omp_set_num_threads(1);
    ASSERT_EQ(DftiCommitDescriptor(h), 0);
    omp_set_num_threads(2);
    EXPECT_EQ(h->threads, 1);
    std::vector<std::complex<float>> data(64, 1.0f);
    ASSERT_EQ(DftiComputeForward(h, data.data()), 0);
    EXPECT_EQ(omp_get_max_threads(), 2) << "the caller's setting is restored";
    EXPECT_EQ(data[0], std::complex<float>(64, 0));
    ASSERT_EQ(DftiCommitDescriptor(h), 0);
    EXPECT_EQ(h->threads, 2);
    DftiFreeDescriptor(&h);
    omp_set_num_threads(saved);
}
