// A loadable module holding its own copy of the descriptor layer, as the
// plug-in does: the unload test loads it, transforms, unloads it.
#include <omp.h>

#include <complex>
#include <vector>

#include "mkl_dfti.h"

// Transforms a 256 x 300 array twice with one thread (so that the planner
// thread measures it at once, probably still while the module is unloaded);
// 0 when both results are right.
extern "C" __attribute__((visibility("default"))) int run_transforms() {
    omp_set_num_threads(1);
    int wrong = 0;
    for (int repeat = 0; repeat < 2; ++repeat) {
        std::vector<std::complex<double>> data(256 * 300, 1.0);
        DFTI_DESCRIPTOR_HANDLE h = nullptr;
        MKL_LONG n[] = {256, 300};
        MKL_LONG status = DftiCreateDescriptor(&h, DFTI_DOUBLE, DFTI_COMPLEX, MKL_LONG{2}, n);
        status |= DftiCommitDescriptor(h);
        status |= DftiComputeForward(h, data.data());
        status |= DftiFreeDescriptor(&h);
        wrong += status != 0 || std::abs(data[0] - 76800.0) > 1e-6 || std::abs(data[1]) > 1e-6;
    }
    return wrong;
}
