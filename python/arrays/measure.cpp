// lumadex.measure's native part: the statistics kernels (extremes, the
// one-pass survey, the 2x2 reduction) on numpy memory. lumadex/measure.py
// checks the arguments and hands these functions arrays of at most four
// dimensions whose last axis is contiguous; the checks here guard the
// kernels' bounds.
#include "measure.h"

#include <pybind11/numpy.h>

#include <bit>
#include <cstdint>
#include <string>
#include <tuple>

#include "blocks.h"
#include "lumadex/kernels/Dispatch.h"
#include "lumadex/kernels/Statistics.h"
#include "threads.h"

namespace py = pybind11;

namespace lumadex::arrays {
namespace {

std::string DtypeName(const py::array& a) { return py::str(a.dtype()).cast<std::string>(); }

// Calls f(T()) with T the pixel type of `a`, one of the statistics kernels'
// types: 8-, 16- and 32-bit integers, float32, float64.
template <class F>
auto DispatchPixels(const py::array& a, const char* function, F&& f)
{
    const char kind = a.dtype().kind();
    const py::ssize_t size = a.itemsize();
    if (a.dtype().attr("isnative").cast<bool>()) {
        if (kind == 'i' && size == 1) return f(std::int8_t());
        if (kind == 'i' && size == 2) return f(std::int16_t());
        if (kind == 'i' && size == 4) return f(std::int32_t());
        if (kind == 'u' && size == 1) return f(std::uint8_t());
        if (kind == 'u' && size == 2) return f(std::uint16_t());
        if (kind == 'u' && size == 4) return f(std::uint32_t());
        if (kind == 'f' && size == 4) return f(float());
        if (kind == 'f' && size == 8) return f(double());
    }
    throw py::type_error(std::string(function) +
                         ": the native kernels take int8 to int32, uint8 to uint32, float32 or float64, got " +
                         DtypeName(a));
}

// At most four dimensions, whole-element strides, the last axis contiguous.
void CheckLayout(const py::array& a, const char* function)
{
    const py::ssize_t ndim = a.ndim();
    const bool contiguousRows = ndim == 0 || a.shape(ndim - 1) <= 1 || a.strides(ndim - 1) == a.itemsize();
    if (ndim > 4 || !HasElementStrides(a) || !contiguousRows)
        throw py::value_error(std::string(function) +
                              ": the native kernels take up to 4 dimensions with a contiguous last axis");
}

kernels::Extremes FindExtremes(const py::array& a)
{
    return DispatchPixels(a, "min_max", [&](auto t) {
        using T = decltype(t);
        const auto block = ReadBlock<T>(a);
        py::gil_scoped_release release;
        const ThreadScope threads(ThreadCount());
        return kernels::FindArgExtremes(block);
    });
}

py::tuple Extremes(const py::array& a)
{
    CheckLayout(a, "min_max");
    if (a.size() == 0) throw py::value_error("min_max: the array is empty");
    const kernels::Extremes e = FindExtremes(a);
    return py::make_tuple(e.min, e.max, e.minRank, e.maxRank);
}

// True for a dtype the statistics kernels take as it is: 8-, 16- and 32-bit
// integers, float32 and float64, in this machine's byte order.
bool KernelDtype(const py::dtype& dtype)
{
    const char order = dtype.byteorder(), kind = dtype.kind();
    const char native = std::endian::native == std::endian::little ? '<' : '>';
    if (order != '=' && order != '|' && order != native) return false;
    const py::ssize_t size = dtype.itemsize();
    return ((kind == 'i' || kind == 'u') && (size == 1 || size == 2 || size == 4)) ||
           (kind == 'f' && (size == 4 || size == 8));
}

// The index tuple of `rank` (C order) in an array of `a`'s shape.
py::tuple Unravel(const py::array& a, std::int64_t rank)
{
    py::tuple index(a.ndim());
    for (py::ssize_t axis = a.ndim() - 1; axis >= 0; --axis) {
        index[axis] = py::int_(rank % a.shape(axis));
        rank /= a.shape(axis);
    }
    return index;
}

// min_max of a plain ndarray that the kernel reads where it lies (a kernel
// dtype, 1 to 4 dimensions, a contiguous last axis): (min, max, min_index,
// max_index), the values as scalars of its dtype. None for anything else,
// which the Python side converts first. The common case is one call because
// after a pass over megabytes every Python step runs from a cold cache: the
// general path's steps in Python measured about 20 us, 3 to 6 per cent of a
// 2048 x 2048 float32 or uint16 pass at one thread.
py::object MinMaxAsItLies(const py::handle& object)
{
    if (Py_TYPE(object.ptr()) != py::detail::npy_api::get().PyArray_Type_) return py::none();
    const auto a = py::reinterpret_borrow<py::array>(object);
    const py::ssize_t ndim = a.ndim();
    if (ndim < 1 || ndim > 4 || a.size() == 0 || !KernelDtype(a.dtype()) || !HasElementStrides(a) ||
        (a.shape(ndim - 1) > 1 && a.strides(ndim - 1) != a.itemsize()))
        return py::none();
    const kernels::Extremes e = FindExtremes(a);
    const py::tuple low = Unravel(a, e.minRank), high = Unravel(a, e.maxRank);
    return py::make_tuple(a[low], a[high], low, high);
}

py::tuple Survey(const py::array& a)
{
    CheckLayout(a, "describe");
    const kernels::SurveyNumbers s = DispatchPixels(a, "describe", [&](auto t) {
        using T = decltype(t);
        const auto block = ReadBlock<T>(a);
        py::gil_scoped_release release;
        const ThreadScope threads(ThreadCount());
        return kernels::Survey(block);
    });
    return py::make_tuple(s.min, s.max, s.sum, s.sumSquares);
}

// 2x2 means of the last two axes of `a` into `out`: the same dtype by the
// plug-in's reduction (integers rounded to nearest, ties to even), or
// float32 / float64 from any pixel type.
void Bin2(const py::array& a, py::array& out)
{
    const char* f = "bin2";
    const py::ssize_t ndim = a.ndim();
    bool shapes = ndim >= 2 && out.ndim() == ndim && out.shape(ndim - 1) == a.shape(ndim - 1) / 2 &&
                  out.shape(ndim - 2) == a.shape(ndim - 2) / 2;
    for (py::ssize_t k = 0; shapes && k < ndim - 2; ++k) shapes = out.shape(k) == a.shape(k);
    if (!shapes) throw py::value_error("bin2: the output must have the input's shape with the last two axes halved");
    if (!out.writeable()) throw py::value_error("bin2: the output array is read-only");
    if (out.size() == 0) return;
    CheckLayout(a, f);
    CheckLayout(out, f);
    const bool sameType = a.dtype().equal(out.dtype());
    const int outBytes = out.dtype().kind() == 'f' && out.dtype().attr("isnative").cast<bool>()
                             ? static_cast<int>(out.itemsize())
                             : 0;
    if (!sameType && outBytes != 4 && outBytes != 8)
        throw py::type_error("bin2: the output dtype must be the input's, float32 or float64, got " + DtypeName(out));
    DispatchPixels(a, f, [&](auto t) {
        using T = decltype(t);
        const auto in = ReadBlock<T>(a);
        if (sameType) {
            const auto whole = WriteBlock<T>(out);
            py::gil_scoped_release release;
            const ThreadScope threads(ThreadCount());
            // The plug-in's reduction works on one plane at a time.
            for (std::int64_t w = 0; w < whole.size[3]; ++w)
                for (std::int64_t z = 0; z < whole.size[2]; ++z) {
                    kernels::Block<const T> plane = in;
                    kernels::Block<T> target = whole;
                    plane.data += w * in.stride[3] + z * in.stride[2];
                    target.data += w * whole.stride[3] + z * whole.stride[2];
                    plane.size[2] = plane.size[3] = target.size[2] = target.size[3] = 1;
                    kernels::Reduce2x(plane, target, 2);
                }
        } else if (outBytes == 4) {
            const auto target = WriteBlock<float>(out);
            py::gil_scoped_release release;
            const ThreadScope threads(ThreadCount());
            kernels::Reduce2x2To(in, target);
        } else {
            const auto target = WriteBlock<double>(out);
            py::gil_scoped_release release;
            const ThreadScope threads(ThreadCount());
            kernels::Reduce2x2To(in, target);
        }
        return 0;
    });
}

}  // namespace

void RegisterMeasure(py::module_& m)
{
    m.def("_extremes", &Extremes, py::arg("a"),
          "(min, max, rank of the first min, rank of the first max) as numpy's argmin and argmax give "
          "them (the first NaN for both where there is NaN); ranks in C order.");
    m.def("_min_max", &MinMaxAsItLies, py::arg("a"),
          "(min, max, min_index, max_index) of a plain ndarray the kernel reads as it lies, the values as "
          "scalars of its dtype; None for any other argument.");
    m.def("_survey", &Survey, py::arg("a"), "(min, max, sum, sum of squares) in one pass, in double.");
    m.def("_bin2", &Bin2, py::arg("a"), py::arg("out"), "2x2 means of the last two axes into `out`.");
}

}  // namespace lumadex::arrays
