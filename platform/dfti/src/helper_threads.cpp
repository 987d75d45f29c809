#include "lumadex/dfti/helper_threads.hpp"

#include <omp.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace lumadex::dfti {
namespace {

// How long a helper watches for the next job before it sleeps.
constexpr double watch_seconds = 100e-6;

// One caller's tasks, on the caller's stack while it runs them.
struct Job {
    void (*task)(void*, int64_t, int);
    void* context;
    int64_t tasks;
    int workers;
    std::atomic<int64_t> next{0};
    std::atomic<int> next_worker{1};
    int caller_cpu = -1;  // the core the caller posted it from

    // Runs tasks as worker `worker` until none are left.
    void take_tasks(int worker) {
        for (int64_t t; (t = next.fetch_add(1, std::memory_order_relaxed)) < tasks;) task(context, t, worker);
    }
};

// A helper that finds itself on its caller's core moves to another for the
// job. The scheduler often puts a woken thread on its waker's core (here in
// most wake-ups of a sleeping helper, with the other core idle); the two
// then share that core until it balances them, a millisecond or more,
// whichever of them runs meanwhile: first calls of a 1000 x 1000 float
// transform on 2 threads whose caller took no task for 2.1 to 2.4 ms of a
// 3.5 ms first pass, in three processes of five. With the move (and the
// caller's yield that lets a helper queued behind it run, Helpers::run):
// those first calls in 20 fresh processes, mean 4.43 ms against 4.70,
// slowest 5.3 against 7.5; calls of 1024 x 1024 float 20 ms apart, so that
// the helpers sleep before each, median 3.6 to 4.1 ms against 6.1 to 6.4
// (on a machine kept busy by two other processes, 7.1 to 7.9 against 6.5
// to 7.8: no cost to see). The move is a change of the helper's affinity,
// undone after the job, and made only where another core is allowed.
class AwayFromCaller {
public:
    explicit AwayFromCaller(int caller_cpu) {
        if (caller_cpu < 0 || sched_getcpu() != caller_cpu) return;
        if (pthread_getaffinity_np(pthread_self(), sizeof allowed_, &allowed_) != 0) return;
        cpu_set_t others = allowed_;
        CPU_CLR(caller_cpu, &others);
        moved_ = CPU_COUNT(&others) > 0 && pthread_setaffinity_np(pthread_self(), sizeof others, &others) == 0;
    }
    ~AwayFromCaller() {
        if (moved_) pthread_setaffinity_np(pthread_self(), sizeof allowed_, &allowed_);
    }
    AwayFromCaller(const AwayFromCaller&) = delete;
    AwayFromCaller& operator=(const AwayFromCaller&) = delete;

private:
    cpu_set_t allowed_{};
    bool moved_ = false;
};

// The process's helpers. After a job a helper watches for the next one for
// a moment (a call's passes follow each other within tens of microseconds,
// less than a sleeping thread takes to wake), then sleeps until one is
// posted: it never spins for long, as on a busy machine a spinning helper
// takes the core its caller needs. It joins a job if it comes while the
// job is posted, and leaves when its tasks are gone; the caller withdraws
// the job once it has no task left to take, then waits for the helpers
// inside it to leave.
class Helpers {
public:
    ~Helpers() {
        {
            std::lock_guard guard(lock_);
            stopping_ = true;
        }
        posted_.notify_all();
        for (std::thread& t : threads_) t.join();
    }

    pid_t owner() const { return owner_; }

    // Starts helpers until there are `count` of them.
    void start(int count) {
        std::lock_guard guard(lock_);
        while (static_cast<int>(threads_.size()) < count) threads_.emplace_back([this] { serve(); });
    }

    void run(Job& job) {
        // One job at a time: a second caller meanwhile runs its tasks alone.
        if (busy_.test_and_set(std::memory_order_acquire)) {
            job.take_tasks(0);
            return;
        }
        bool sleepers = false;
        {
            std::lock_guard guard(lock_);
            while (static_cast<int>(threads_.size()) < job.workers - 1) threads_.emplace_back([this] { serve(); });
            job.caller_cpu = sched_getcpu();
            job_ = &job;
            generation_.fetch_add(1, std::memory_order_release);
            sleepers = sleeping_ > 0;
        }
        if (sleepers) {
            posted_.notify_all();
            // A helper woken onto this core would wait behind the caller until
            // the scheduler balances the cores: yielding once lets it run now
            // and move off (AwayFromCaller). Where it went elsewhere, or
            // nothing else is runnable here, the yield returns at once.
            sched_yield();
        }
        job.take_tasks(0);
        {
            std::unique_lock guard(lock_);
            job_ = nullptr;
            left_.wait(guard, [&] { return inside_ == 0; });
        }
        busy_.clear(std::memory_order_release);
    }

private:
    void serve() {
        std::unique_lock guard(lock_);
        uint64_t served = 0;
        for (;;) {
            auto posted = [&] { return stopping_ || (job_ && generation_.load(std::memory_order_relaxed) != served); };
            if (!posted()) {
                guard.unlock();
                watch_for_job(served);
                guard.lock();
            }
            ++sleeping_;
            posted_.wait(guard, posted);
            --sleeping_;
            if (stopping_) return;
            served = generation_.load(std::memory_order_relaxed);
            Job& job = *job_;
            ++inside_;
            guard.unlock();
            const int worker = job.next_worker.fetch_add(1, std::memory_order_relaxed);
            if (worker < job.workers) {
                const AwayFromCaller away(job.caller_cpu);
                job.take_tasks(worker);
            }
            guard.lock();
            if (--inside_ == 0) left_.notify_all();
        }
    }

    // Returns once a job after `served` is posted, or after watch_seconds.
    void watch_for_job(uint64_t served) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(watch_seconds);
        for (int i = 1;; ++i) {
            if (generation_.load(std::memory_order_acquire) != served) return;
            if (i % 64 == 0 && std::chrono::steady_clock::now() > until) return;
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
    }

    const pid_t owner_ = getpid();
    std::atomic_flag busy_ = ATOMIC_FLAG_INIT;
    std::mutex lock_;
    std::condition_variable posted_, left_;
    Job* job_ = nullptr;
    std::atomic<uint64_t> generation_{0};
    int inside_ = 0, sleeping_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// The helpers of this process. A child of a fork has none of its parent's
// threads (and perhaps a lock one of them held): it starts helpers of its
// own and leaves the parent's object alone. Unloading the library stops and
// joins the helpers of the process that unloads it.
class HelpersOfProcess {
public:
    Helpers& get() {
        Helpers* h = current_.load(std::memory_order_acquire);
        if (h && h->owner() == getpid()) return *h;
        std::lock_guard guard(lock_);
        h = current_.load(std::memory_order_relaxed);
        if (!h || h->owner() != getpid()) {
            h = new Helpers;  // a parent's are left as they are, never freed
            current_.store(h, std::memory_order_release);
        }
        return *h;
    }
    ~HelpersOfProcess() {
        Helpers* h = current_.load();
        if (h && h->owner() == getpid()) delete h;
    }

private:
    std::mutex lock_;
    std::atomic<Helpers*> current_{nullptr};
};

HelpersOfProcess helpers_of_process;

// The helpers start as the library loads: as many as a call on OpenMP's
// default thread count wants, at most one for each other core the process
// may run on. A helper that a call's first job started took 1 to
// 2.5 ms to take its first task, in about one process in three here (the
// new thread waits for a core), and the job ran alone meanwhile: the first
// call of a 1000 x 1000 float transform on 2 threads took 6 to 8 ms instead
// of 4.5. A helper started early sleeps until a job wakes it (0.05 to 0.1
// ms). A call that wants more helpers starts them as before; a fork's child
// starts its own at its first call.
struct EarlyStart {
    EarlyStart() {
        cpu_set_t cores;
        CPU_ZERO(&cores);
        if (sched_getaffinity(0, sizeof cores, &cores) != 0) return;
        const int threads = std::min(CPU_COUNT(&cores), omp_get_max_threads());
        if (threads > 1) helpers_of_process.get().start(threads - 1);
    }
};
EarlyStart early_start;

}  // namespace

void run_tasks(int64_t tasks, int threads, void (*task)(void*, int64_t, int), void* context) {
    Job job{task, context, tasks, static_cast<int>(std::min<int64_t>(threads, tasks))};
    if (job.workers <= 1) {
        job.take_tasks(0);
        return;
    }
    helpers_of_process.get().run(job);
}

}  // namespace lumadex::dfti
