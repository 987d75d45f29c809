// The layer's own threads never read the environment. A caller may change it
// at any time (pytest sets a variable before every test), and glibc's setenv
// may free the array a concurrent getenv is walking. This program puts its
// own getenv in front of the C library's, which every library of the process
// then calls, and notes the threads that call it.
#include <dlfcn.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <complex>
#include <thread>
#include <vector>

#include "mkl_dfti.h"
#include "plan_cache.hpp"

namespace {

std::atomic<bool> watching{false};
std::atomic<int> calls_from_other_threads{0};
std::thread::id watched_thread;

}  // namespace

extern "C" char* getenv(const char* name) {
    using Getenv = char* (*)(const char*);
    static const auto real = reinterpret_cast<Getenv>(dlsym(RTLD_NEXT, "getenv"));
    if (watching && std::this_thread::get_id() != watched_thread) ++calls_from_other_threads;
    return real(name);
}

// A transform called until the planner thread has measured its plan and
// merged the wisdom into the cache file.
TEST(DftiEnvironment, ABackgroundMeasurementReadsNoEnvironment) {
    using lumadex::dfti::PlanCache;
    const auto measured = [] {
        const auto s = PlanCache::instance().statistics();
        return s.measured_in_background + s.line_plans_measured;
    };
    watched_thread = std::this_thread::get_id();
    watching = true;
    const auto before = measured();
    MKL_LONG n[] = {48, 500 + getpid() % 97};  // not in the cache file of an earlier run
    DFTI_DESCRIPTOR_HANDLE h = nullptr;
    ASSERT_EQ(DftiCreateDescriptor(&h, DFTI_DOUBLE, DFTI_COMPLEX, MKL_LONG{2}, n), 0);
    ASSERT_EQ(DftiSetValue(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE), 0);
    ASSERT_EQ(DftiCommitDescriptor(h), 0);
    std::vector<std::complex<double>> in(n[0] * n[1], 1.0), out(in.size());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (measured() == before && std::chrono::steady_clock::now() < deadline) {
        ASSERT_EQ(DftiComputeForward(h, in.data(), out.data()), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // room for the planner thread
    }
    DftiFreeDescriptor(&h);
    watching = false;
    ASSERT_GT(measured(), before) << "nothing was measured in the background";
    EXPECT_EQ(calls_from_other_threads, 0);
}
