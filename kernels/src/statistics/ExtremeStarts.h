// The start values of running extremes: the largest and smallest values a
// pixel type holds (infinities for floating point), which every pixel
// compares at or inside of.
#pragma once

#include <limits>
#include <type_traits>

namespace lumadex::kernels {

template <class T>
constexpr T Highest()
{
    if constexpr (std::is_floating_point_v<T>) return std::numeric_limits<T>::infinity();
    else return std::numeric_limits<T>::max();
}

template <class T>
constexpr T Lowest()
{
    if constexpr (std::is_floating_point_v<T>) return -std::numeric_limits<T>::infinity();
    else return std::numeric_limits<T>::lowest();
}

}  // namespace lumadex::kernels
