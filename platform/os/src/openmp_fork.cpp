// GNU OpenMP's worker pool across fork. libgomp keeps, per thread that has
// started a parallel region, a pool of parked workers, and it has no fork
// handlers of its own: a forked child inherits the pool's bookkeeping but
// not its threads, and its first parallel region waits for them forever.
// FFTW's OpenMP build and OpenBLAS's OpenMP build run on the same pools
// (OpenBLAS's own fork handler, in its OpenMP build, only frees its
// per-thread buffers).
#include <omp.h>
#include <pthread.h>

#include "os_services.h"

namespace lumadex::os {

// Ends the calling thread's pool, joining its workers; the next parallel
// region, in the parent or the child, starts a new one. Does nothing inside
// a parallel region (libgomp refuses then). Pools of other threads need
// nothing at fork: those threads do not exist in the child.
void EndOpenMPWorkers() { omp_pause_resource_all(omp_pause_hard); }

void KeepOpenMPUsableAfterFork()
{
    // glibc drops the handler when this library is unloaded.
    static const int registered = pthread_atfork(EndOpenMPWorkers, nullptr, nullptr);
    (void)registered;
}

}  // namespace lumadex::os
