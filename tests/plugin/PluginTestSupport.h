// Shared pieces of the plug-in tests: a host with the plug-in loaded, random
// complex images, and script calls that must succeed or fail.
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
