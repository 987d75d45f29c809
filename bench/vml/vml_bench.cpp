// Speed of the vector-math layer: every routine the plug-in calls, at one and
// two threads, with a memcpy of the same bytes as the memory's own pace.
//
// Usage: vml_bench [filter]   (prints tab-separated lines for compare.py)
//   name  precision  elements  ms-1-thread  ms-2-threads  ms-memcpy
// 16 M elements for s and d, 4 M for c and z; the best of several runs.
// With --threshold it prints instead, for a few routines, the time per
// element at one and two threads over a range of sizes (where the split
// over threads starts paying).
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

struct Buffers {
    std::vector<double> a, b, r, r2;  // sized for the largest case; reinterpreted per precision
};

template <class T>
T* As(std::vector<double>& v)
{
    return reinterpret_cast<T*>(v.data());
}

// Fills n elements of type T (complex: 2n reals) uniformly in [low, high].
template <class T>
void Fill(std::vector<double>& v, std::size_t reals, double low, double high, std::mt19937& rng)
{
    std::uniform_real_distribution<double> u(low, high);
    T* p = As<T>(v);
    for (std::size_t i = 0; i < reals; ++i) p[i] = T(u(rng));
}

struct Case {
    std::string name;
    char precision;
    double low, high, bLow, bHigh;
    std::function<void(int, Buffers&)> run;  // n elements
};

#define UNARY(op, lo, hi)                                                                                 \
    Case{#op, 's', lo, hi, 0, 0, [](int n, Buffers& m) { vs##op(n, As<float>(m.a), As<float>(m.r)); }},    \
        Case{#op, 'd', lo, hi, 0, 0, [](int n, Buffers& m) { vd##op(n, As<double>(m.a), As<double>(m.r)); }}
#define CUNARY(op, lo, hi)                                                                                       \
    Case{#op, 'c', lo, hi, 0, 0,                                                                                 \
         [](int n, Buffers& m) { vc##op(n, As<MKL_Complex8>(m.a), As<MKL_Complex8>(m.r)); }},                    \
        Case{#op, 'z', lo, hi, 0, 0,                                                                             \
             [](int n, Buffers& m) { vz##op(n, As<MKL_Complex16>(m.a), As<MKL_Complex16>(m.r)); }}
#define BINARY(op, lo, hi, blo, bhi)                                                                          \
    Case{#op, 's', lo, hi, blo, bhi,                                                                          \
         [](int n, Buffers& m) { vs##op(n, As<float>(m.a), As<float>(m.b), As<float>(m.r)); }},              \
        Case{#op, 'd', lo, hi, blo, bhi,                                                                      \
             [](int n, Buffers& m) { vd##op(n, As<double>(m.a), As<double>(m.b), As<double>(m.r)); }}
#define CBINARY(op, lo, hi)                                                                                         \
    Case{#op, 'c', lo, hi, lo, hi,                                                                                  \
         [](int n, Buffers& m) { vc##op(n, As<MKL_Complex8>(m.a), As<MKL_Complex8>(m.b), As<MKL_Complex8>(m.r)); }}, \
        Case{#op, 'z', lo, hi, lo, hi, [](int n, Buffers& m) {                                                     \
                 vz##op(n, As<MKL_Complex16>(m.a), As<MKL_Complex16>(m.b), As<MKL_Complex16>(m.r));                \
             }}

std::vector<Case> Cases()
{
    return {
        UNARY(Sqr, -10, 10), UNARY(Abs, -10, 10), UNARY(Inv, 0.1, 10), UNARY(Sqrt, 0, 100),
        UNARY(InvSqrt, 0.01, 100), UNARY(Cbrt, -100, 100), UNARY(InvCbrt, 0.01, 100), UNARY(Pow2o3, 0, 100),
        UNARY(Pow3o2, 0, 100), UNARY(Exp, -20, 20), UNARY(Expm1, -1, 1), UNARY(Ln, 0.01, 100),
        UNARY(Log10, 0.01, 100), UNARY(Log1p, -0.5, 10), UNARY(Cos, -10, 10), UNARY(Sin, -10, 10),
        UNARY(Tan, -1.4, 1.4), UNARY(Cosh, -10, 10), UNARY(Sinh, -10, 10), UNARY(Tanh, -5, 5),
        UNARY(Acos, -1, 1), UNARY(Asin, -1, 1), UNARY(Atan, -10, 10), UNARY(Acosh, 1, 100),
        UNARY(Asinh, -10, 10), UNARY(Atanh, -0.9, 0.9), UNARY(Erf, -3, 3), UNARY(Erfc, -3, 5),
        UNARY(ErfInv, -0.999, 0.999), UNARY(Floor, -100, 100), UNARY(Ceil, -100, 100), UNARY(Trunc, -100, 100),
        UNARY(Round, -100, 100), UNARY(NearbyInt, -100, 100), UNARY(Rint, -100, 100),
        BINARY(Add, -10, 10, -10, 10), BINARY(Sub, -10, 10, -10, 10), BINARY(Mul, -10, 10, -10, 10),
        BINARY(Div, -10, 10, 0.5, 10), BINARY(Pow, 0.1, 10, -3, 3), BINARY(Hypot, -10, 10, -10, 10),
        BINARY(Atan2, -10, 10, -10, 10),
        Case{"Powx", 's', 0.1, 10, 0, 0, [](int n, Buffers& m) { vsPowx(n, As<float>(m.a), 1.7f, As<float>(m.r)); }},
        Case{"Powx", 'd', 0.1, 10, 0, 0, [](int n, Buffers& m) { vdPowx(n, As<double>(m.a), 1.7, As<double>(m.r)); }},
        Case{"SinCos", 's', -10, 10, 0, 0,
             [](int n, Buffers& m) { vsSinCos(n, As<float>(m.a), As<float>(m.r), As<float>(m.r2)); }},
        Case{"SinCos", 'd', -10, 10, 0, 0,
             [](int n, Buffers& m) { vdSinCos(n, As<double>(m.a), As<double>(m.r), As<double>(m.r2)); }},
        Case{"Modf", 's', -100, 100, 0, 0,
             [](int n, Buffers& m) { vsModf(n, As<float>(m.a), As<float>(m.r), As<float>(m.r2)); }},
        Case{"Modf", 'd', -100, 100, 0, 0,
             [](int n, Buffers& m) { vdModf(n, As<double>(m.a), As<double>(m.r), As<double>(m.r2)); }},
        CUNARY(Sqrt, -2, 2), CUNARY(Exp, -2, 2), CUNARY(Ln, -2, 2), CUNARY(Log10, -2, 2), CUNARY(Cos, -2, 2),
        CUNARY(Sin, -2, 2), CUNARY(Tan, -1, 1), CUNARY(Cosh, -2, 2), CUNARY(Sinh, -2, 2), CUNARY(Tanh, -1, 1),
        CUNARY(Acos, -2, 2), CUNARY(Asin, -2, 2), CUNARY(Atan, -2, 2), CUNARY(Acosh, -2, 2), CUNARY(Asinh, -2, 2),
        CUNARY(Atanh, -2, 2), CUNARY(Conj, -2, 2), CBINARY(Add, -2, 2), CBINARY(Sub, -2, 2), CBINARY(Mul, -2, 2),
        CBINARY(Pow, 0.2, 2), CBINARY(MulByConj, -2, 2),
        Case{"Abs", 'c', -2, 2, 0, 0,
             [](int n, Buffers& m) { vcAbs(n, As<MKL_Complex8>(m.a), As<float>(m.r)); }},
        Case{"Abs", 'z', -2, 2, 0, 0,
             [](int n, Buffers& m) { vzAbs(n, As<MKL_Complex16>(m.a), As<double>(m.r)); }},
        Case{"CIS", 'c', -10, 10, 0, 0, [](int n, Buffers& m) { vcCIS(n, As<float>(m.a), As<MKL_Complex8>(m.r)); }},
        Case{"CIS", 'z', -10, 10, 0, 0, [](int n, Buffers& m) { vzCIS(n, As<double>(m.a), As<MKL_Complex16>(m.r)); }},
    };
}

bool IsComplex(char precision) { return precision == 'c' || precision == 'z'; }
std::size_t ElementBytes(char precision) { return precision == 's' ? 4 : precision == 'z' ? 16 : 8; }

void Prepare(const Case& c, int n, Buffers& m, std::mt19937& rng)
{
    // Complex inputs are 2n reals; CIS reads n reals.
    const bool complexInput = IsComplex(c.precision) && c.name != "CIS";
    const std::size_t reals = complexInput ? 2 * std::size_t(n) : std::size_t(n);
    const bool single = c.precision == 's' || c.precision == 'c';
    if (single) {
        Fill<float>(m.a, reals, c.low, c.high, rng);
        Fill<float>(m.b, reals, c.bLow, c.bHigh, rng);
    } else {
        Fill<double>(m.a, reals, c.low, c.high, rng);
        Fill<double>(m.b, reals, c.bLow, c.bHigh, rng);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string filter = argc > 1 ? argv[1] : "";
    std::mt19937 rng(3);
    Buffers m;
    const std::size_t doubles = 16u << 20 << 1;  // 16 M doubles, or 4 M complex doubles, with room
    m.a.assign(doubles, 0.5);
    m.b.assign(doubles, 0.5);
    m.r.assign(doubles, 0.0);
    m.r2.assign(doubles, 0.0);

    if (filter == "--threshold") {
        std::printf("elements\tns/elem Add 1t\tns/elem Add 2t\tns/elem Exp 1t\tns/elem Exp 2t\n");
        for (int n = 1 << 10; n <= 1 << 22; n <<= 1) {
            double t[4];
            for (int threads = 1; threads <= 2; ++threads) {
                omp_set_num_threads(threads);
                const int reps = std::max(5, (1 << 24) / n);
                t[threads - 1] = BestMs([&] { vsAdd(n, As<float>(m.a), As<float>(m.b), As<float>(m.r)); }, reps);
                t[threads + 1] = BestMs([&] { vsExp(n, As<float>(m.a), As<float>(m.r)); }, reps);
            }
            std::printf("%d\t%.3f\t%.3f\t%.3f\t%.3f\n", n, t[0] * 1e6 / n, t[1] * 1e6 / n, t[2] * 1e6 / n,
                        t[3] * 1e6 / n);
        }
        return 0;
    }

    for (const Case& c : Cases()) {
        if (!filter.empty() && c.name != filter) continue;
        const int n = IsComplex(c.precision) ? 4 << 20 : 16 << 20;
        Prepare(c, n, m, rng);
        const std::size_t bytes = std::size_t(n) * ElementBytes(c.precision);
        const int repeats = 3;
        omp_set_num_threads(1);
        c.run(n, m);  // touch the pages
        const double one = BestMs([&] { c.run(n, m); }, repeats);
        omp_set_num_threads(2);
        const double two = BestMs([&] { c.run(n, m); }, repeats);
        const double copy = BestMs([&] { std::memcpy(m.r.data(), m.a.data(), bytes); }, repeats);
        std::printf("%s\t%c\t%d\t%.3f\t%.3f\t%.3f\n", c.name.c_str(), c.precision, n, one, two, copy);
        std::fflush(stdout);
    }
    return 0;
}
