// The plan policy and the thread rule: cheap plans first, measured plans
// from the helper process once they are ready, the same results either way,
// no helper left behind; the thread count in force at commit is the one used.
#include <dirent.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <omp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <complex>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "lumadex_dfti_planner.h"
#include "mkl_dfti.h"

namespace {

using cd = std::complex<double>;

// A 128 x 256 out-of-place transform, large enough to be measured at once.
std::vector<cd> transform_128x256(const std::vector<cd>& in, MKL_LONG* threads_used = nullptr) {
    DFTI_DESCRIPTOR_HANDLE h = nullptr;
    MKL_LONG n[] = {128, 256};
    EXPECT_EQ(DftiCreateDescriptor(&h, DFTI_DOUBLE, DFTI_COMPLEX, MKL_LONG{2}, n), 0);
    EXPECT_EQ(DftiSetValue(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE), 0);
    EXPECT_EQ(DftiSetValue(h, DFTI_FORWARD_SCALE, 1.0 / 128), 0);
    EXPECT_EQ(DftiCommitDescriptor(h), 0);
    if (threads_used) {
        EXPECT_EQ(LumadexDftiGetThreads(h, threads_used), 0);
    }
    std::vector<cd> out(in.size());
    EXPECT_EQ(DftiComputeForward(h, const_cast<cd*>(in.data()), out.data()), 0);
    EXPECT_EQ(DftiFreeDescriptor(&h), 0);
    return out;
}

double max_difference(const std::vector<cd>& a, const std::vector<cd>& b) {
    double worst = 0;
    for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

std::vector<cd> random_image(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> v(-1, 1);
    std::vector<cd> x(n);
    for (auto& e : x) e = {v(rng), v(rng)};
    return x;
}

bool no_child_processes() { return waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD; }

// The state letter and parent of a process, from /proc/<pid>/stat
// ("pid (name) state ppid ..."); state 0 when it is gone.
struct ProcessState {
    char state = 0;
    pid_t parent = 0;
    std::string name;
};
ProcessState process_state(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return {};
    const size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 4 > line.size()) return {};
    return {line[close + 2], static_cast<pid_t>(std::atol(line.c_str() + close + 4)),
            line.substr(open + 1, close - open - 1)};
}

// One in-place forward transform of rows x width; returns the DFTI status.
MKL_LONG transform_geometry(MKL_LONG rows, MKL_LONG width) {
    std::vector<cd> data(rows * width, 1.0);
    DFTI_DESCRIPTOR_HANDLE h = nullptr;
    MKL_LONG n[] = {rows, width};
    MKL_LONG status = DftiCreateDescriptor(&h, DFTI_DOUBLE, DFTI_COMPLEX, MKL_LONG{2}, n);
    status |= DftiCommitDescriptor(h);
    status |= DftiComputeForward(h, data.data());
    status |= DftiFreeDescriptor(&h);
    return status;
}

// Transforms rows x width for widths from min_width on until one is new to
// this process and to the wisdom file (it gets a cheap plan, so its
// measurement starts); returns that width, 0 on failure.
MKL_LONG transform_new_geometry(MKL_LONG rows, MKL_LONG min_width) {
    for (MKL_LONG width = min_width + getpid() % 61; width < min_width + 1000; ++width) {
        LumadexDftiPlanStatistics before{}, after{};
        LumadexDftiGetPlanStatistics(&before);
        if (transform_geometry(rows, width) != 0) return 0;
        LumadexDftiGetPlanStatistics(&after);
        if (after.cheap_plans > before.cheap_plans) return width;
    }
    return 0;
}

// The planner helper this process runs, or 0.
pid_t helper_process() {
    DIR* proc = opendir("/proc");
    pid_t found = 0;
    while (dirent* entry = proc ? readdir(proc) : nullptr) {
        const pid_t pid = static_cast<pid_t>(std::atol(entry->d_name));
        if (pid <= 0) continue;
        const ProcessState s = process_state(pid);
        if (s.parent == getpid() && s.name.rfind("lumadex-fft", 0) == 0) found = pid;
    }
    if (proc) closedir(proc);
    return found;
}

}  // namespace

TEST(DftiPlanPolicy, MeasuredPlanReplacesTheCheapOneWithoutChangingResults) {
    LumadexDftiSetPlannerHelper(LUMADEX_TEST_PLANNER_HELPER);
    const auto x = random_image(128 * 256, 1);
    LumadexDftiPlanStatistics before{}, after{};
    LumadexDftiGetPlanStatistics(&before);

    const auto first = transform_128x256(x);
    ASSERT_TRUE(LumadexDftiWaitForMeasurements(120));
    const auto second = transform_128x256(x);
    LumadexDftiGetPlanStatistics(&after);

    // Either the wisdom file already had this geometry (a measured plan at
    // once), or a cheap plan served first and the helper's plan second.
    EXPECT_GE(after.measured_plans, before.measured_plans + 1);
    if (after.cheap_plans > before.cheap_plans) {
        EXPECT_EQ(after.measurements_requested, before.measurements_requested + 1);
        EXPECT_EQ(after.measurements_arrived, before.measurements_arrived + 1);
    }
    EXPECT_LE(max_difference(first, second), 1e-12);
    cd sum = 0;
    for (const auto& v : x) sum += v;
    EXPECT_LE(std::abs(first[0] * 128.0 - sum), 1e-10) << "scaled zero frequency";
    EXPECT_TRUE(no_child_processes());
}

TEST(DftiPlanPolicy, WithoutTheHelperCheapPlansServe) {
    LumadexDftiSetPlannerHelper("/nonexistent/lumadex-fft-planner");
    LumadexDftiPlanStatistics before{}, after{};
    LumadexDftiGetPlanStatistics(&before);
    std::vector<cd> line(3 * 97), out(3 * 97);
    line[5] = 1;
    for (int repeat = 0; repeat < 3; ++repeat) {
        DFTI_DESCRIPTOR_HANDLE h = nullptr;
        ASSERT_EQ(DftiCreateDescriptor(&h, DFTI_DOUBLE, DFTI_COMPLEX, MKL_LONG{1}, MKL_LONG{97}), 0);
        ASSERT_EQ(DftiSetValue(h, DFTI_NUMBER_OF_TRANSFORMS, MKL_LONG{3}), 0);
        ASSERT_EQ(DftiSetValue(h, DFTI_INPUT_DISTANCE, MKL_LONG{97}), 0);
        ASSERT_EQ(DftiSetValue(h, DFTI_OUTPUT_DISTANCE, MKL_LONG{97}), 0);
        ASSERT_EQ(DftiSetValue(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE), 0);
        ASSERT_EQ(DftiCommitDescriptor(h), 0);
        ASSERT_EQ(DftiComputeBackward(h, line.data(), out.data()), 0);
        DftiFreeDescriptor(&h);
        EXPECT_NEAR(std::arg(out[1]), 2 * M_PI * 5 / 97, 1e-12);
    }
    LumadexDftiGetPlanStatistics(&after);
    EXPECT_EQ(after.measurements_requested, before.measurements_requested);
    EXPECT_FALSE(LumadexDftiMeasurementsPending());
    LumadexDftiSetPlannerHelper(LUMADEX_TEST_PLANNER_HELPER);
}

TEST(DftiPlanPolicy, TheHelperIsStoppedWhileHeavyWorkRuns) {
    LumadexDftiSetPlannerHelper(LUMADEX_TEST_PLANNER_HELPER);
    // Large enough for the measurement to take a while.
    ASSERT_GT(transform_new_geometry(512, 384), 0);
    ASSERT_TRUE(LumadexDftiMeasurementsPending());
    const pid_t helper = helper_process();
    ASSERT_GT(helper, 0) << "the measurement runs in a child process";
    EXPECT_NE(process_state(helper).state, 'T') << "it runs once the transform is done";

    LumadexDftiHeavyWorkBegins(0);
    LumadexDftiHeavyWorkBegins(0);
    EXPECT_EQ(process_state(helper).state, 'T') << "stopped, and all its threads with it";
    LumadexDftiHeavyWorkEnds();
    EXPECT_EQ(process_state(helper).state, 'T') << "still inside the outer bracket";
    LumadexDftiHeavyWorkEnds();
    EXPECT_NE(process_state(helper).state, 'T');
    LumadexDftiHeavyWorkEnds();  // one End too many is ignored

    ASSERT_TRUE(LumadexDftiWaitForMeasurements(120));
    EXPECT_TRUE(no_child_processes());
}

TEST(DftiPlanPolicy, AMeasurementCutIntoShortSlicesIsRepeated) {
    LumadexDftiSetPlannerHelper(LUMADEX_TEST_PLANNER_HELPER);
    LumadexDftiPlanStatistics before{}, now{};
    LumadexDftiGetPlanStatistics(&before);
    ASSERT_GT(transform_new_geometry(256, 130), 0);

    // Work that takes every core for 4 ms at a time with short gaps, as a
    // tight loop of large transforms would: the helper measures only in the
    // gaps, and what it measures there is not trusted.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(100);
    do {
        LumadexDftiHeavyWorkBegins(0);
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
        LumadexDftiHeavyWorkEnds();
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        LumadexDftiMeasurementsPending();
        LumadexDftiGetPlanStatistics(&now);
    } while (now.measurements_dropped == before.measurements_dropped && std::chrono::steady_clock::now() < deadline);
    EXPECT_GT(now.measurements_dropped, before.measurements_dropped);
    EXPECT_EQ(now.measurements_arrived, before.measurements_arrived) << "nothing measured in the gaps was kept";

    // Left alone, the repeated measurement arrives.
    ASSERT_TRUE(LumadexDftiWaitForMeasurements(120));
    LumadexDftiGetPlanStatistics(&now);
    EXPECT_EQ(now.measurements_arrived, before.measurements_arrived + 1);
    EXPECT_TRUE(no_child_processes());
}

TEST(DftiPlanPolicy, AFailingHelperIsTriedTwiceThenCheapPlansServe) {
    // A helper that counts its runs and fails.
    char directory[] = "/tmp/lumadex-failing-helper-XXXXXX";
    ASSERT_NE(mkdtemp(directory), nullptr);
    const std::string helper = std::string(directory) + "/helper", runs = std::string(directory) + "/runs";
    std::ofstream(helper) << "#!/bin/sh\necho run >> " << runs << "\nexit 1\n";
    ASSERT_EQ(chmod(helper.c_str(), 0700), 0);
    LumadexDftiSetPlannerHelper(helper.c_str());
    LumadexDftiPlanStatistics before{}, after{};
    LumadexDftiGetPlanStatistics(&before);

    const MKL_LONG width = transform_new_geometry(256, 700);
    ASSERT_GT(width, 0);
    ASSERT_TRUE(LumadexDftiWaitForMeasurements(60));
    ASSERT_EQ(transform_geometry(256, width), 0);
    LumadexDftiGetPlanStatistics(&after);
    EXPECT_EQ(after.measurements_arrived, before.measurements_arrived);
    EXPECT_EQ(after.cheap_plans, before.cheap_plans + 1) << "the cheap plan goes on serving";
    std::ifstream counted(runs);
    int lines = 0;
    for (std::string line; std::getline(counted, line);) ++lines;
    EXPECT_EQ(lines, 2);
    EXPECT_TRUE(no_child_processes());
    std::remove(runs.c_str());
    std::remove(helper.c_str());
    rmdir(directory);
    LumadexDftiSetPlannerHelper(LUMADEX_TEST_PLANNER_HELPER);
}

TEST(DftiThreads, TheCountAtCommitIsTheCountUsed) {
    const int saved = omp_get_max_threads();
    const auto x = random_image(128 * 256, 2);
    MKL_LONG used = 0;
    omp_set_num_threads(1);
    const auto one = transform_128x256(x, &used);
    EXPECT_EQ(used, 1);
    EXPECT_EQ(omp_get_max_threads(), 1) << "the caller's setting is restored";
    omp_set_num_threads(2);
    const auto two = transform_128x256(x, &used);
    EXPECT_EQ(used, 2);
    EXPECT_LE(max_difference(one, two), 1e-12);

    // Committed under one count, computed under another: the commit's count.
    DFTI_DESCRIPTOR_HANDLE h = nullptr;
    ASSERT_EQ(DftiCreateDescriptor(&h, DFTI_SINGLE, DFTI_COMPLEX, MKL_LONG{1}, MKL_LONG{64}), 0);
    omp_set_num_threads(1);
    ASSERT_EQ(DftiCommitDescriptor(h), 0);
    omp_set_num_threads(2);
    ASSERT_EQ(LumadexDftiGetThreads(h, &used), 0);
    EXPECT_EQ(used, 1);
    std::vector<std::complex<float>> data(64, 1.0f);
    ASSERT_EQ(DftiComputeForward(h, data.data()), 0);
    EXPECT_EQ(omp_get_max_threads(), 2);
    EXPECT_EQ(data[0], std::complex<float>(64, 0));
    DftiFreeDescriptor(&h);
    omp_set_num_threads(saved);
}
