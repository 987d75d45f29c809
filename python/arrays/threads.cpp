#include "threads.h"

#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>

namespace py = pybind11;

extern "C" void openblas_set_num_threads(int);

namespace lumadex::arrays {
namespace {

std::atomic<int> g_threads{0};

int Processors()
{
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<int>(n) : 1;
}

}  // namespace

int ThreadCount()
{
    const int n = g_threads.load(std::memory_order_relaxed);
    return n > 0 ? n : omp_get_max_threads();
}

int WorkersToThreads(const py::object& workers, const char* function)
{
    if (workers.is_none()) return ThreadCount();
    if (!py::isinstance<py::int_>(workers) || py::isinstance<py::bool_>(workers))
        throw py::type_error(std::string(function) + ": workers must be an integer or None, got " +
                             std::string(py::str(py::type::of(workers).attr("__name__"))));
    const long long n = workers.cast<long long>();
    if (n > 0) return static_cast<int>(std::min<long long>(n, 1 << 16));
    if (n < 0 && Processors() + 1 + n > 0) return static_cast<int>(Processors() + 1 + n);
    throw py::value_error(std::string(function) + ": workers value out of range; got " + std::to_string(n) +
                          ", this machine has " + std::to_string(Processors()) + " processors");
}

ThreadScope::ThreadScope(int threads) : saved_(omp_get_max_threads()) { omp_set_num_threads(threads); }
ThreadScope::~ThreadScope() { omp_set_num_threads(saved_); }

void RegisterThreads(py::module_& m)
{
    m.def(
        "set_num_threads",
        [](int n) {
            if (n < 1) throw py::value_error("set_num_threads: n must be at least 1, got " + std::to_string(n));
            g_threads.store(n, std::memory_order_relaxed);
            // The calling thread's count also governs the host face's calls
            // and OpenBLAS's, made from this thread.
            omp_set_num_threads(n);
            openblas_set_num_threads(n);
        },
        py::arg("n"));
    m.def("get_num_threads", &ThreadCount);
}

}  // namespace lumadex::arrays
