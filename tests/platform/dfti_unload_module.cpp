// A loadable module holding its own copy of the descriptor layer, as the
// plug-in does: the unload test loads it, starts a measurement, unloads it.
#include <unistd.h>

#include <complex>
#include <vector>

#include "lumadex_dfti_planner.h"
#include "mkl_dfti.h"

// Runs a transform large enough to be measured at once; returns nonzero when
// a helper process is measuring afterwards, or -1 on a DFTI failure.
extern "C" __attribute__((visibility("default"))) int run_transform_and_measure(const char* helper) {
    LumadexDftiSetPlannerHelper(helper);
    // A width the wisdom file does not know yet (it keeps what earlier runs
    // measured), so that the transform gets a cheap plan and a measurement.
    for (MKL_LONG width = 384 + getpid() % 61; width < 1384; ++width) {
        LumadexDftiPlanStatistics before{}, after{};
        LumadexDftiGetPlanStatistics(&before);
        std::vector<std::complex<double>> data(512 * width, 1.0);
        DFTI_DESCRIPTOR_HANDLE h = nullptr;
        MKL_LONG n[] = {512, width};
        MKL_LONG status = DftiCreateDescriptor(&h, DFTI_DOUBLE, DFTI_COMPLEX, MKL_LONG{2}, n);
        status |= DftiCommitDescriptor(h);
        status |= DftiComputeForward(h, data.data());
        status |= DftiFreeDescriptor(&h);
        if (status != 0 || std::abs(data[0] - std::complex<double>(512.0 * width, 0)) > 1e-6) return -1;
        LumadexDftiGetPlanStatistics(&after);
        if (after.cheap_plans > before.cheap_plans) break;
    }
    return LumadexDftiMeasurementsPending();
}
