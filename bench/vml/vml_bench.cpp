// Where the vector-math layer's split over threads starts paying: the time
// per element of a memory-bound (Add) and a compute-bound (Exp) routine at
// one and two threads over a range of sizes. (compare.py times every
// routine against numpy.)
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <complex>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "mkl_vml.h"

namespace {

double BestMs(const std::function<void()>& run, int repeats)
{
    double best = 1e30;
    for (int i = 0; i < repeats; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

template <class T>
T* As(std::vector<double>& v)
{
    return reinterpret_cast<T*>(v.data());
}

}  // namespace

int main()
{
    std::vector<double> a(1 << 22, 0.5), b(1 << 22, 0.25), r(1 << 22);
    std::printf("elements\tns/elem Add 1t\tns/elem Add 2t\tns/elem Exp 1t\tns/elem Exp 2t\n");
    for (int n = 1 << 10; n <= 1 << 22; n <<= 1) {
        double t[4];
        for (int threads = 1; threads <= 2; ++threads) {
            omp_set_num_threads(threads);
            const int reps = std::max(5, (1 << 24) / n);
            t[threads - 1] = BestMs([&] { vsAdd(n, As<float>(a), As<float>(b), As<float>(r)); }, reps);
            t[threads + 1] = BestMs([&] { vsExp(n, As<float>(a), As<float>(r)); }, reps);
        }
        std::printf("%d\t%.3f\t%.3f\t%.3f\t%.3f\n", n, t[0] * 1e6 / n, t[1] * 1e6 / n, t[2] * 1e6 / n, t[3] * 1e6 / n);
    }
    return 0;
}
