// Unloading and reloading a module that contains the layer, while its planner
// thread measures: the module really goes away, comes back working, and
// leaves FFTW's process-wide state (here: this test's own plan) alone.
#include <dlfcn.h>
#include <fftw3.h>
#include <gtest/gtest.h>

#include <complex>

TEST(DftiUnload, ReloadingWorksAndLeavesFftwAlone) {
    std::complex<double> line[8] = {1.0};
    fftw_plan own = fftw_plan_dft_1d(8, reinterpret_cast<fftw_complex*>(line), reinterpret_cast<fftw_complex*>(line),
                                     FFTW_FORWARD, FFTW_ESTIMATE);
    for (int load = 0; load < 2; ++load) {
        void* module = dlopen(LUMADEX_TEST_UNLOAD_MODULE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module, nullptr) << dlerror();
        auto run = reinterpret_cast<int (*)()>(dlsym(module, "run_transforms"));
        ASSERT_NE(run, nullptr);
        EXPECT_EQ(run(), 0) << "load " << load;
        ASSERT_EQ(dlclose(module), 0);
        EXPECT_EQ(dlopen(LUMADEX_TEST_UNLOAD_MODULE, RTLD_NOW | RTLD_NOLOAD), nullptr) << "the module stayed loaded";
    }
    fftw_execute(own);
    fftw_destroy_plan(own);
    for (const auto& v : line) EXPECT_EQ(v, std::complex<double>(1.0));
}
