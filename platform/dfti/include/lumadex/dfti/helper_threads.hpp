// Helper threads for the line passes, and for the kernel library's compute
// calls side by side: the calling thread runs a call's tasks itself, and
// helper threads of the process take tasks as they come.
//
// An OpenMP parallel region ends in a join: the caller waits until every
// thread of its team has arrived, whether it did any work or not. The first
// region of a thread starts the team (1 ms and more, as a new thread waits
// for its first time slice), and on a machine busy with other processes a
// woken thread may wait a whole time slice for a core: 2-thread calls of
// 512 x 512 took 15 to 50 ms here at a load of 2 on 2 cores (0.7 ms quiet),
// most of it spinning at the join. Here the caller never waits for a helper
// that has not started: it takes tasks until none are left, and then waits
// only for the tasks helpers have in hand. A first call starts its helpers
// and goes on without them; a helper that gets no core takes no task.
#pragma once

#include <cstdint>

namespace lumadex::dfti {

// Runs task(t, worker) for every t in [0, tasks), on the calling thread
// (worker 0) and on up to `threads - 1` helpers (workers 1 to threads - 1),
// each taking the next task when it is done; returns when all have run. A
// worker number is used by one thread at a time (for its buffers). Tasks
// must not throw. With threads <= 1, one task, or the helpers busy with
// another caller's tasks, everything runs on the calling thread.
void run_tasks(int64_t tasks, int threads, void (*task)(void* context, int64_t t, int worker), void* context);

template <typename Task>
void run_tasks(int64_t tasks, int threads, Task& task) {
    run_tasks(tasks, threads,
              [](void* context, int64_t t, int worker) { (*static_cast<Task*>(context))(t, worker); }, &task);
}

}  // namespace lumadex::dfti
