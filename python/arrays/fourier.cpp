#include "fourier.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "fourier_passes.h"
#include "threads.h"

namespace py = pybind11;

namespace lumadex::arrays {
namespace {

using kernels::Exponent;

enum class Kind { Complex, RealForward, RealInverse };

// A failed check of what lumadex.fft promises these functions.
void Require(bool holds, const std::string& function, const std::string& what)
{
    if (!holds) throw py::value_error(function + ": " + what);
}

// Whether x and out have the element types of `kind` in precision T
// (native byte order: numpy's equivalence of types).
template <class T>
bool TypesMatch(Kind kind, const py::array& x, const py::array& out)
{
    using C = std::complex<T>;
    const bool complexIn = kind != Kind::RealForward, complexOut = kind != Kind::RealInverse;
    return (complexIn ? py::isinstance<py::array_t<C>>(x) : py::isinstance<py::array_t<T>>(x)) &&
           (complexOut ? py::isinstance<py::array_t<C>>(out) : py::isinstance<py::array_t<T>>(out));
}

// The bytes [first, last] an array's elements reach.
std::pair<std::intptr_t, std::intptr_t> Extent(const py::array& a)
{
    auto first = reinterpret_cast<std::intptr_t>(a.data()), last = first + a.itemsize() - 1;
    for (py::ssize_t d = 0; d < a.ndim(); ++d) (a.strides(d) < 0 ? first : last) += a.strides(d) * (a.shape(d) - 1);
    return {first, last};
}

// Aligned data, and along every dimension of several positions a stride of
// whole elements, not zero (an empty array has no positions at all). A
// dimension of one position is never stepped along.
void CheckGeometry(const py::array& a, const std::string& function, const char* which)
{
    const auto alignment = static_cast<std::intptr_t>(a.dtype().alignment());
    Require(reinterpret_cast<std::intptr_t>(a.data()) % alignment == 0, function,
            std::string(which) + " is not aligned to its elements");
    if (a.size() == 0) return;
    for (py::ssize_t d = 0; d < a.ndim(); ++d)
        Require(a.shape(d) == 1 || (a.strides(d) != 0 && a.strides(d) % a.itemsize() == 0), function,
                std::string(which) + "'s strides are not whole, non-zero element steps");
}

// The checks the passes rely on: types, shapes, axes, geometry, and either
// no shared memory or (complex) one array transformed in place.
void Check(Kind kind, const py::array& x, const py::array& out, const std::vector<int>& axes,
           const std::string& function)
{
    Require(TypesMatch<float>(kind, x, out) || TypesMatch<double>(kind, x, out), function,
            "input and output types do not fit the transform");
    Require(x.ndim() == out.ndim(), function, "input and output differ in rank");
    Require(!axes.empty() && axes.size() <= static_cast<std::size_t>(x.ndim()), function, "no axes, or too many");
    std::vector<bool> seen(static_cast<std::size_t>(x.ndim()));
    for (const int a : axes) {
        Require(a >= 0 && a < x.ndim() && !seen[static_cast<std::size_t>(a)], function, "axes out of range or repeated");
        seen[static_cast<std::size_t>(a)] = true;
    }
    const int halved = kind == Kind::Complex ? -1 : axes.back();
    for (int d = 0; d < x.ndim(); ++d) {
        const py::ssize_t n = x.shape(d), m = out.shape(d);
        const bool fits = d != halved                    ? n == m
                          : kind == Kind::RealForward ? m == n / 2 + 1
                                                          : n == m / 2 + 1;
        Require(fits, function, "input and output shapes do not fit the transform");
    }
    CheckGeometry(x, function, "the input");
    CheckGeometry(out, function, "the output");
    Require(out.writeable(), function, "the output is read-only");
    if (x.size() == 0 || out.size() == 0) return;
    const bool inPlace = kind == Kind::Complex && x.data() == out.data() &&
                         std::equal(x.strides(), x.strides() + x.ndim(), out.strides());
    const auto [a0, a1] = Extent(x);
    const auto [b0, b1] = Extent(out);
    Require(inPlace || a1 < b0 || b1 < a0, function, "input and output share memory");
}

template <class E>
Strided<E> StridedOf(const py::array& a, E* data)
{
    Strided<E> side{data, {}, {}};
    for (py::ssize_t d = 0; d < a.ndim(); ++d) {
        side.size.push_back(a.shape(d));
        side.stride.push_back(a.strides(d) / a.itemsize());
    }
    return side;
}

template <class T>
void Run(Kind kind, const py::array& x, py::array& out, const std::vector<int>& axes, bool forward, T scale,
         int threads)
{
    using C = std::complex<T>;
    const void* from = x.data();
    void* to = out.mutable_data();
    const Exponent exponent = forward ? Exponent::Negative : Exponent::Positive;
    switch (kind) {
        case Kind::Complex: {
            const auto in = StridedOf(x, static_cast<const C*>(from));
            const auto result = StridedOf(out, static_cast<C*>(to));
            py::gil_scoped_release unlocked;
            ThreadScope scope(threads);
            ComplexTransform<T>(in, result, axes, exponent, scale);
            break;
        }
        case Kind::RealForward: {
            const auto in = StridedOf(x, static_cast<const T*>(from));
            const auto result = StridedOf(out, static_cast<C*>(to));
            py::gil_scoped_release unlocked;
            ThreadScope scope(threads);
            RealForwardTransform<T>(in, result, axes, scale);
            break;
        }
        case Kind::RealInverse: {
            const auto in = StridedOf(x, static_cast<const C*>(from));
            const auto result = StridedOf(out, static_cast<T*>(to));
            py::gil_scoped_release unlocked;
            ThreadScope scope(threads);
            RealInverseTransform<T>(in, result, axes, scale);
            break;
        }
    }
}

// Checks, the thread count from `workers`, and the transform in the
// precision of the arrays.
void Transform(Kind kind, const py::array& x, py::array& out, const std::vector<int>& axes, bool forward,
               double scale, const py::object& workers, const std::string& function)
{
    Check(kind, x, out, axes, function);
    const int threads = WorkersToThreads(workers, function.c_str());
    if (TypesMatch<float>(kind, x, out))
        Run<float>(kind, x, out, axes, forward, static_cast<float>(scale), threads);
    else
        Run<double>(kind, x, out, axes, forward, scale, threads);
}

}  // namespace

void RegisterFourier(py::module_& m)
{
    m.def(
        "complex_fourier",
        [](const py::array& x, py::array out, const std::vector<int>& axes, bool forward, double scale,
           const py::object& workers, const std::string& function) {
            Transform(Kind::Complex, x, out, axes, forward, scale, workers, function);
        },
        py::arg("x"), py::arg("out"), py::arg("axes"), py::arg("forward"), py::arg("scale"), py::arg("workers"),
        py::arg("function"),
        "out = scale * DFT of x along axes (complex64 or complex128; exponent negative when forward). "
        "out may be x itself (in place). Runs without the GIL.");
    m.def(
        "real_forward",
        [](const py::array& x, py::array out, const std::vector<int>& axes, double scale, const py::object& workers,
           const std::string& function) {
            Transform(Kind::RealForward, x, out, axes, true, scale, workers, function);
        },
        py::arg("x"), py::arg("out"), py::arg("axes"), py::arg("scale"), py::arg("workers"), py::arg("function"),
        "out = scale * the half spectrum of the real x along axes (the last one halved: n // 2 + 1). "
        "Runs without the GIL.");
    m.def(
        "real_inverse",
        [](const py::array& x, py::array out, const std::vector<int>& axes, double scale, const py::object& workers,
           const std::string& function) {
            Transform(Kind::RealInverse, x, out, axes, false, scale, workers, function);
        },
        py::arg("x"), py::arg("out"), py::arg("axes"), py::arg("scale"), py::arg("workers"), py::arg("function"),
        "out (real) = scale * the inverse DFT of the half spectrum x along axes (the last one halved; "
        "out's shape gives its length). x is not written. Runs without the GIL.");
}

}  // namespace lumadex::arrays
