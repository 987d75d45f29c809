// Shared pieces of the plug-in tests: a host with the plug-in loaded, complex
// images from and to vectors, and a naive DFT as the oracle.
#pragma once

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "lumadex/host/host.h"

namespace lumadex::test {

using host::Argument;
using host::DataType;
using host::Image;
using host::Value;

// Pixels x fastest, sizes x first.
template <class T>
struct Field {
    std::vector<std::int64_t> sizes;
    std::vector<std::complex<T>> values;

    std::int64_t count() const { return static_cast<std::int64_t>(values.size()); }
};

template <class T>
Field<T> RandomField(std::vector<std::int64_t> sizes, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<T> uniform(-1, 1);
    std::int64_t count = 1;
    for (std::int64_t s : sizes) count *= s;
    Field<T> field{std::move(sizes), {}};
    field.values.resize(static_cast<std::size_t>(count));
    for (auto& v : field.values) v = {uniform(random), uniform(random)};
    return field;
}

// dst[k] = scale * sum_x src[x] exp(sign * 2 pi i sum_d k_d x_d / N_d), in double.
template <class T>
std::vector<std::complex<double>> NaiveDft(const Field<T>& src, int sign, double scale)
{
    std::vector<std::int64_t> n = src.sizes;
    n.resize(3, 1);
    const std::int64_t count = src.count();
    std::vector<std::complex<double>> out(static_cast<std::size_t>(count));
    const double twoPi = 2 * std::acos(-1.0);
    for (std::int64_t k = 0; k < count; ++k) {
        const std::int64_t kx = k % n[0], ky = k / n[0] % n[1], kz = k / (n[0] * n[1]);
        std::complex<double> sum = 0;
        for (std::int64_t x = 0; x < count; ++x) {
            const std::int64_t xx = x % n[0], xy = x / n[0] % n[1], xz = x / (n[0] * n[1]);
            const double phase = twoPi * (double(kx * xx % n[0]) / n[0] + double(ky * xy % n[1]) / n[1] +
                                          double(kz * xz % n[2]) / n[2]);
            sum += std::complex<double>(src.values[x]) * std::polar(1.0, sign * phase);
        }
        out[k] = scale * sum;
    }
    return out;
}

template <class T>
constexpr DataType ComplexType()
{
    return sizeof(T) == sizeof(float) ? DataType::Complex8 : DataType::Complex16;
}

template <class T>
Image MakeImage(host::Host& h, const Field<T>& field, const std::string& name = "field")
{
    Image image = h.new_image(name, ComplexType<T>(), field.sizes);
    image.write_pixels(field.values.data(), field.values.size() * sizeof(std::complex<T>));
    return image;
}

// Largest difference relative to the largest magnitude of the expected values.
template <class T>
double RelativeError(const std::vector<std::complex<T>>& actual, const std::vector<std::complex<double>>& expected)
{
    double largest = 1e-300, error = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        largest = std::max(largest, std::abs(expected[i]));
        error = std::max(error, std::abs(std::complex<double>(actual[i]) - expected[i]));
    }
    return error / largest;
}

template <class T>
constexpr double Tolerance()
{
    return sizeof(T) == sizeof(float) ? 2e-5 : 1e-12;
}

// Runs a script call and returns its result; a script error fails the test.
inline Value Call(host::Host& h, const std::string& name, std::vector<Argument> args)
{
    return h.call(name, args);
}

// The script error text of a call that must fail.
inline std::string CallError(host::Host& h, const std::string& name, std::vector<Argument> args)
{
    try {
        h.call(name, args);
    } catch (const host::ScriptError& e) {
        return e.what();
    }
    ADD_FAILURE() << name << " did not fail";
    return {};
}

inline Argument Arg(Value value) { return Argument{std::move(value), false}; }
inline Argument Null() { return Argument{std::monostate{}, false}; }

}  // namespace lumadex::test
