// The wisdom cache file is shared by processes: each merges its wisdom into
// what the others wrote.
#include <fftw3.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fftw_problem.hpp"
#include "wisdom_file.hpp"

namespace {

using lumadex::dfti::Precision;

// Measures a 1-D transform of each length and merges the wisdom into the
// file after each, as the plan cache does after a measurement.
void measure_and_merge(const std::vector<int>& lengths) {
    std::vector<fftw_complex> data(1 << 12);
    for (int n : lengths) {
        fftw_destroy_plan(fftw_plan_dft_1d(n, data.data(), data.data(), FFTW_FORWARD, FFTW_MEASURE));
        lumadex::dfti::merge_into_wisdom_file(Precision::double_, [](const std::string& file) {
            lumadex::dfti::import_wisdom(Precision::double_, file);
            return lumadex::dfti::export_wisdom(Precision::double_);
        });
    }
}

// Which of the lengths the file holds wisdom for, seen by a fresh FFTW.
std::vector<int> lengths_in_file(const std::vector<int>& lengths) {
    fftw_forget_wisdom();
    lumadex::dfti::load_wisdom(Precision::double_);
    std::vector<fftw_complex> data(1 << 12);
    std::vector<int> found;
    for (int n : lengths)
        if (fftw_plan p = fftw_plan_dft_1d(n, data.data(), data.data(), FFTW_FORWARD, FFTW_MEASURE | FFTW_WISDOM_ONLY)) {
            found.push_back(n);
            fftw_destroy_plan(p);
        }
    return found;
}

}  // namespace

// Two processes at once, each measuring lengths of its own: the file ends up
// with all of them. (Run in children, so that this process's FFTW and cache
// folder stay as they were.)
TEST(DftiWisdomFile, TwoProcessesMeasuringDifferentProblemsKeepEachOthersWisdom) {
    const std::vector<int> first = {60, 72, 84, 90, 96, 100}, second = {108, 112, 120, 126, 132, 140};
    const auto folder = std::filesystem::temp_directory_path() / ("dfti-wisdom-" + std::to_string(getpid()));
    std::filesystem::remove_all(folder);
    auto in_child = [&](auto&& body) {
        const pid_t child = fork();
        if (child == 0) {
            setenv("XDG_CACHE_HOME", folder.c_str(), 1);
            lumadex::dfti::read_wisdom_folder_from_environment();
            fftw_forget_wisdom();
            _exit(body() ? 0 : 1);
        }
        return child;
    };
    const pid_t a = in_child([&] { return measure_and_merge(first), true; });
    const pid_t b = in_child([&] { return measure_and_merge(second), true; });
    for (pid_t child : {a, b}) {
        int status = -1;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::vector<int> all = first;
    all.insert(all.end(), second.begin(), second.end());
    const pid_t check = in_child([&] { return lengths_in_file(all) == all; });
    int status = -1;
    ASSERT_EQ(waitpid(check, &status, 0), check);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wisdom lost";
    std::filesystem::remove_all(folder);
}
