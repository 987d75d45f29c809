// Unloading a module that contains the layer while its helper measures:
// the helper is stopped and reaped, and the module really goes away.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>

TEST(DftiUnload, StopsAndReapsTheHelper) {
    void* module = dlopen(LUMADEX_TEST_UNLOAD_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    using Run = int (*)(const char*);
    auto run = reinterpret_cast<Run>(dlsym(module, "run_transform_and_measure"));
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run(LUMADEX_TEST_PLANNER_HELPER), 1) << "a helper measures after the first large transform";
    ASSERT_EQ(dlclose(module), 0);

    EXPECT_TRUE(waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD) << "a child process is left";
    EXPECT_EQ(dlopen(LUMADEX_TEST_UNLOAD_MODULE, RTLD_NOW | RTLD_NOLOAD), nullptr) << "the module stayed loaded";
}
