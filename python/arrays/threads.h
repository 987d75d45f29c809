// The numpy face's thread count: one number for every parallel part of the
// calls made through lumadex's array functions.
//
// OpenMP keeps the thread count per calling thread, and Python threads other
// than the first start from the process default; so every call sets the
// count on the thread it runs on, for as long as its kernel runs.
#pragma once

#include <pybind11/pybind11.h>

namespace lumadex::arrays {

// The thread count set by set_num_threads (at first, OpenMP's default).
int ThreadCount();

// The count a call with scipy's `workers` argument runs with: None is the
// face's count; a positive number is taken as it is; -1 is every processor,
// -2 all but one, and so on, as in scipy.fft.
int WorkersToThreads(const pybind11::object& workers, const char* function);

// For its lifetime, the calling thread's OpenMP count is `threads`.
class ThreadScope {
public:
    explicit ThreadScope(int threads);
    ~ThreadScope();
    ThreadScope(const ThreadScope&) = delete;
    ThreadScope& operator=(const ThreadScope&) = delete;

private:
    int saved_;
};

void RegisterThreads(pybind11::module_& m);

}  // namespace lumadex::arrays
