// Numpy arrays as the kernel library's strided blocks, without copies.
//
// A block's dimension 0 is x, numpy's last axis; its strides count elements
// where numpy's count bytes. An array whose byte strides are not whole
// elements (a view into a record array, say) has no block: the caller
// copies it first (`HasElementStrides`).
#pragma once

#include <pybind11/numpy.h>

#include <cstdint>
#include <stdexcept>

#include "lumadex/kernels/Block.h"

namespace lumadex::arrays {

namespace py = pybind11;

inline bool HasElementStrides(const py::array& a)
{
    for (py::ssize_t d = 0; d < a.ndim(); ++d)
        if (a.strides(d) % static_cast<py::ssize_t>(a.itemsize()) != 0) return false;
    return true;
}

// The block over an array of at most four dimensions (numpy order, last axis
// x) whose strides are whole elements of T.
template <class T>
kernels::Block<T> BlockOf(T* data, const py::array& a)
{
    if (a.ndim() > 4) throw std::logic_error("BlockOf: more than four dimensions");
    kernels::Block<T> block{data, {1, 1, 1, 1}, {1, 0, 0, 0}};
    const auto itemsize = static_cast<std::int64_t>(sizeof(T));
    for (py::ssize_t axis = 0; axis < a.ndim(); ++axis) {
        const auto d = a.ndim() - 1 - axis;
        block.size[d] = a.shape(axis);
        block.stride[d] = a.strides(axis) / itemsize;
    }
    return block;
}

template <class T>
kernels::Block<const T> ReadBlock(const py::array& a)
{
    return BlockOf(static_cast<const T*>(a.data()), a);
}

template <class T>
kernels::Block<T> WriteBlock(py::array& a)
{
    return BlockOf(static_cast<T*>(a.mutable_data()), a);
}

}  // namespace lumadex::arrays
