/*
 * Controls of the FFT descriptor layer beyond the published DFTI interface:
 * where the planner helper lives, and what the plan policy has done. The
 * plug-in does not need them; tests and benchmarks use them to drive and
 * observe the plan policy (see platform/dfti/src/plan_cache.hpp).
 */
#ifndef LUMADEX_DFTI_PLANNER_H
#define LUMADEX_DFTI_PLANNER_H

#include "mkl_dfti.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Path of the `lumadex-fft-planner` helper executable. NULL or "" turns
   measured plans off (cheap plans serve every call). Default: the helper
   beside the shared object or executable that contains this layer. */
void LumadexDftiSetPlannerHelper(const char *path);

/* Nonzero while a measurement is running or queued (polls the helper). */
int LumadexDftiMeasurementsPending(void);

/* Waits, sleeping, until no measurement is pending or timeout_seconds have
   passed; nonzero when none is pending. */
int LumadexDftiWaitForMeasurements(double timeout_seconds);

/* Bracket heavy work of this process outside this layer (another numeric
   kernel, a reference transform in a benchmark): the planner helper is
   stopped meanwhile, as it is during this layer's own transforms, so that it
   does not compete for the cores. `threads` is how many cores the work
   keeps busy (0: all); work that leaves a core idle lets a helper that has
   been starved for a while go on measuring there. Calls nest; every Begin
   needs its End. */
void LumadexDftiHeavyWorkBegins(int threads);
void LumadexDftiHeavyWorkEnds(void);

/* Thread count that computations of a committed descriptor use. */
MKL_LONG LumadexDftiGetThreads(DFTI_DESCRIPTOR_HANDLE handle, MKL_LONG *threads);

struct LumadexDftiPlanStatistics {
    unsigned long long cheap_plans;            /* FFTW_ESTIMATE plans built */
    unsigned long long measured_plans;         /* plans built from measured wisdom */
    unsigned long long measurements_requested; /* helper runs queued */
    unsigned long long measurements_arrived;   /* helper runs whose wisdom was imported */
    unsigned long long measurements_dropped;   /* helper runs repeated: measured in too short slices */
};
void LumadexDftiGetPlanStatistics(struct LumadexDftiPlanStatistics *statistics);

#ifdef __cplusplus
}
#endif

#endif /* LUMADEX_DFTI_PLANNER_H */
