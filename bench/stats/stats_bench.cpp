// Speed of the statistics functions, called as a script calls them (the
// plug-in loaded by the host), against one parallel read pass over the same
// number of bytes: a plain OpenMP sum with the same thread count, the least
// any pass over the image costs.
//
// Prints tab-separated rows: case, threads, zep_ms, read_ms (medians).
// bench/stats/run.sh adds numpy computing the same numbers and the ratios.
//
// Usage: stats_bench [case-name ...]
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "lumadex/host/host.h"

namespace {

using lumadex::host::Argument;
using lumadex::host::DataType;
using lumadex::host::Host;
using lumadex::host::Image;

double MedianMs(const std::function<void()>& f, int repeats)
{
    f();  // warm: pages touched, plans and pools made
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    return times[times.size() / 2];
}

// One parallel read pass: a plain sum of the elements.
template <class T>
double ReadPass(const std::vector<T>& data)
{
    using Element = std::conditional_t<std::is_same_v<T, std::complex<float>>, float, T>;
    const Element* p = reinterpret_cast<const Element*>(data.data());
    const std::int64_t n = static_cast<std::int64_t>(data.size() * (sizeof(T) / sizeof(Element)));
    double sum = 0;
#pragma omp parallel for simd schedule(static) reduction(+ : sum)
    for (std::int64_t i = 0; i < n; ++i) sum += static_cast<double>(p[i]);
    return sum;
}

template <class T>
std::vector<T> RandomPixels(std::int64_t count)
{
    std::mt19937 random(7);
    std::normal_distribution<double> normal(0, 1000);
    std::vector<T> values(static_cast<std::size_t>(count));
    for (auto& v : values) {
        if constexpr (std::is_same_v<T, std::complex<float>>)
            v = {static_cast<float>(normal(random)), static_cast<float>(normal(random))};
        else
            v = static_cast<T>(normal(random));
    }
    return values;
}

template <class T>
Image MakeImage(Host& host, DataType type, const std::vector<T>& values, std::int64_t width, std::int64_t height)
{
    const std::int64_t sizes[] = {width, height};
    Image image = host.new_image("bench", type, sizes);
    image.write_pixels(values.data(), values.size() * sizeof(T));
    return image;
}

Argument In(lumadex::host::Value value) { return Argument{std::move(value), false}; }
Argument Out(lumadex::host::Value value) { return Argument{std::move(value), true}; }

struct Case {
    std::string name;
    std::function<void(Host&, int threads)> run;
};

template <class T>
void Statistic(Host& host, const std::string& name, const char* function, DataType type, int outputs, int threads)
{
    const std::int64_t side = 4096;
    const std::vector<T> values = RandomPixels<T>(side * side);
    Image image = MakeImage(host, type, values, side, side);
    std::vector<Argument> args = {In(image)};
    for (int i = 0; i < outputs; ++i) args.push_back(Out(std::string(function) == "ZEPMinMax" && i % 4 != 3
                                                              ? lumadex::host::Value(std::int64_t{0})
                                                              : lumadex::host::Value(0.0)));
    const double zep = MedianMs([&] { host.call(function, args); }, 15);
    const double read = MedianMs([&] { ReadPass(values); }, 15);
    std::printf("%s\t%d\t%.3f\t%.3f\n", name.c_str(), threads, zep, read);
}

}  // namespace

int main(int argc, char** argv)
{
    Host host;
    host.load_plugin(ZEP32_PATH);
    const std::vector<Case> cases = {
        {"survey-real4", [](Host& h, int t) { Statistic<float>(h, "survey-real4", "ZEPSurvey", DataType::Real4, 5, t); }},
        {"survey-int16", [](Host& h, int t) { Statistic<std::int16_t>(h, "survey-int16", "ZEPSurvey", DataType::Int16, 5, t); }},
        {"minmax-real4", [](Host& h, int t) { Statistic<float>(h, "minmax-real4", "ZEPMinMax", DataType::Real4, 8, t); }},
        {"minmax-int16", [](Host& h, int t) { Statistic<std::int16_t>(h, "minmax-int16", "ZEPMinMax", DataType::Int16, 8, t); }},
        {"reduce-real4",
         [](Host& h, int t) {
             const std::vector<float> values = RandomPixels<float>(2048 * 2048);
             Image image = MakeImage(h, DataType::Real4, values, 2048, 2048);
             std::vector<Argument> args = {In(image)};
             const double zep = MedianMs([&] { h.call("ZEPReduce", args); }, 21);
             const double read = MedianMs([&] { ReadPass(values); }, 21);
             std::printf("reduce-real4\t%d\t%.3f\t%.3f\n", t, zep, read);
         }},
        {"mask-complex8",
         [](Host& h, int t) {
             using C = std::complex<float>;
             const std::vector<C> a = RandomPixels<C>(2048 * 2048), b = RandomPixels<C>(2048 * 2048);
             Image target = MakeImage(h, DataType::Complex8, a, 2048, 2048);
             Image reference = MakeImage(h, DataType::Complex8, b, 2048, 2048);
             Image destination = MakeImage(h, DataType::Complex8, a, 2048, 2048);
             std::vector<Argument> args = {In(target), In(reference), In(std::int64_t{1024}), In(std::int64_t{1024}),
                                           In(std::int64_t{0}), In(1.0 / 2048), In(1.0 / 2048), In(1.0), In(0.25),
                                           In(std::int64_t{3}), Out(0.0), In(destination)};
             const double zep = MedianMs([&] { h.call("ZEPCrossCorrelationMask", args); }, 11);
             const double read = MedianMs([&] { ReadPass(a); ReadPass(b); }, 11);
             std::printf("mask-complex8\t%d\t%.3f\t%.3f\n", t, zep, read);
         }},
    };
    std::printf("case\tthreads\tzep_ms\tread_ms\n");
    for (int threads : {1, 2}) {
        omp_set_num_threads(threads);
        for (const Case& c : cases) {
            bool wanted = argc < 2;
            for (int i = 1; i < argc; ++i) wanted = wanted || c.name == argv[i];
            if (wanted) c.run(host, threads);
            std::fflush(stdout);
        }
    }
    return 0;
}
