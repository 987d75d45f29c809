// The line passes' helper threads: every task runs once, a worker number is
// never used by two threads at once, callers meeting each other, or a fork,
// still get all their tasks run, and a helper that leaves its caller's core
// for a job may run on every core again afterwards.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "lumadex/dfti/helper_threads.hpp"

namespace lumadex::dfti {
namespace {

// Runs `tasks` tasks on `threads` and checks what the callers rely on.
void expect_each_task_once(int64_t tasks, int threads) {
    std::vector<std::atomic<int>> runs(static_cast<size_t>(tasks));
    std::vector<std::atomic<int>> in_worker(static_cast<size_t>(threads));
    std::atomic<bool> shared_worker{false}, worker_out_of_range{false};
    auto task = [&](int64_t t, int worker) {
        if (worker < 0 || worker >= threads) {
            worker_out_of_range = true;
            return;
        }
        if (in_worker[worker].fetch_add(1) != 0) shared_worker = true;
        runs[t].fetch_add(1);
        std::this_thread::yield();
        in_worker[worker].fetch_sub(1);
    };
    run_tasks(tasks, threads, task);
    for (int64_t t = 0; t < tasks; ++t) ASSERT_EQ(runs[t].load(), 1) << "task " << t;
    EXPECT_FALSE(shared_worker);
    EXPECT_FALSE(worker_out_of_range);
}

struct TaskCount {
    int64_t tasks;
    int threads;
};

class HelperThreads : public ::testing::TestWithParam<TaskCount> {};

TEST_P(HelperThreads, RunEachTaskOnceWithOneThreadPerWorker) {
    for (int repeat = 0; repeat < 20; ++repeat) expect_each_task_once(GetParam().tasks, GetParam().threads);
}

INSTANTIATE_TEST_SUITE_P(Counts, HelperThreads,
                         ::testing::Values(TaskCount{0, 2}, TaskCount{1, 4}, TaskCount{7, 1}, TaskCount{3, 8},
                                           TaskCount{1000, 2}, TaskCount{257, 4}),
                         [](const ::testing::TestParamInfo<TaskCount>& info) {
                             return std::to_string(info.param.tasks) + "_tasks_" +
                                    std::to_string(info.param.threads) + "_threads";
                         });

TEST(HelperThreadsShared, CallersOnSeveralThreadsEachGetAllTheirTasks) {
    std::vector<std::thread> callers;
    std::atomic<int> failures{0};
    for (int c = 0; c < 4; ++c)
        callers.emplace_back([&] {
            for (int repeat = 0; repeat < 50; ++repeat) {
                std::atomic<int64_t> sum{0};
                auto task = [&](int64_t t, int) { sum += t; };
                run_tasks(100, 3, task);
                if (sum != 4950) ++failures;
            }
        });
    for (std::thread& t : callers) t.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(HelperThreadsShared, AChildOfAForkRunsItsTasks) {
    std::atomic<int64_t> sum{0};
    auto task = [&](int64_t t, int) { sum += t; };
    run_tasks(100, 2, task);  // the parent's helpers are running
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::atomic<int64_t> in_child{0};
        auto child_task = [&](int64_t t, int) { in_child += t; };
        run_tasks(100, 2, child_task);
        _exit(in_child == 4950 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// The cores a thread of this process may run on, as /proc lists them.
std::string cores_allowed(const std::string& task) {
    std::ifstream status("/proc/self/task/" + task + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Cpus_allowed_list:", 0) == 0) return line;
    return "";
}

TEST(HelperThreadsShared, HelpersMayRunOnEveryCoreAfterAJob) {
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
    if (CPU_COUNT(&all) < 2) GTEST_SKIP() << "one core";
    const std::string before = cores_allowed(std::to_string(gettid()));
    // The caller on one core, and jobs far enough apart that the helpers
    // sleep between them: a helper woken on the caller's core leaves it.
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &all)) {
            CPU_SET(c, &one);
            break;
        }
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    std::atomic<int> failures{0};
    for (int repeat = 0; repeat < 30; ++repeat) {
        std::atomic<int64_t> sum{0};
        auto task = [&](int64_t t, int) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
            while (std::chrono::steady_clock::now() < until) {
            }
            sum += t;
        };
        run_tasks(64, 2, task);
        if (sum != 2016) ++failures;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
    EXPECT_EQ(failures.load(), 0);
    DIR* tasks = opendir("/proc/self/task");
    ASSERT_NE(tasks, nullptr);
    while (const dirent* e = readdir(tasks)) {
        if (e->d_name[0] == '.') continue;
        EXPECT_EQ(cores_allowed(e->d_name), before) << "thread " << e->d_name;
    }
    closedir(tasks);
}

}  // namespace
}  // namespace lumadex::dfti
