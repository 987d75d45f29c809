// lumadex.ndimage's native part: the Fourier-space shift and the warps with
// edge modes, on numpy memory. lumadex/ndimage.py checks the arguments,
// settles dtypes and shapes as scipy.ndimage does, and hands these functions
// arrays they can take as blocks; the checks here guard the kernels' bounds
// (a wrong call is a ValueError, never a read out of bounds).
#include "ndimage.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <array>
#include <complex>
#include <string>
#include <tuple>
#include <vector>

#include "blocks.h"
#include "lumadex/kernels/Dispatch.h"
#include "lumadex/kernels/Shift.h"
#include "lumadex/kernels/Warp.h"
#include "threads.h"

namespace py = pybind11;

namespace lumadex::arrays {
namespace {

bool HasType(const py::array& a, char kind, py::ssize_t itemsize)
{
    return a.dtype().kind() == kind && a.itemsize() == itemsize && a.dtype().attr("isnative").cast<bool>();
}

void Require(bool condition, const char* function, const std::string& what)
{
    if (!condition) throw py::value_error(std::string(function) + ": " + what);
}

// --- Fourier-space shift ------------------------------------------------------------

template <class R>
void FourierShift(const py::array& input, py::array& output, const std::vector<double>& shifts, long n, int axis)
{
    const auto in = ReadBlock<std::complex<R>>(input);
    const auto out = WriteBlock<std::complex<R>>(output);
    kernels::AxisShift axes[3];
    const int ndim = static_cast<int>(input.ndim());
    for (int k = 0; k < ndim; ++k) {
        kernels::AxisShift& a = axes[ndim - 1 - k];
        a.size = static_cast<int>(input.shape(k));
        a.shift = shifts[static_cast<std::size_t>(k)];
        if (k == axis && n > 0) {  // a real transform's half axis: frequencies 0 .. size - 1 of period n
            a.period = static_cast<int>(n);
            a.pure = false;
            a.centre = 0;
        } else {
            a.period = a.size;
        }
    }
    py::gil_scoped_release release;
    const ThreadScope threads(ThreadCount());
    kernels::ShiftBlock(in, out, axes, -1.0, kernels::Evaluation::Rows);
}

void FourierShiftArrays(const py::array& input, py::array& output, const std::vector<double>& shifts, long n,
                        int axis)
{
    const char* f = "fourier_shift";
    const py::ssize_t ndim = input.ndim();
    Require(ndim >= 1 && ndim <= 3 && output.ndim() == ndim, f, "the native shift takes 1 to 3 dimensions");
    Require(static_cast<py::ssize_t>(shifts.size()) == ndim && axis >= 0 && axis < ndim, f,
            "one shift per axis and an axis of the input");
    Require(n != 0 && n < (1L << 31), f, "n must be -1 (a complex spectrum) or a positive length");
    for (py::ssize_t k = 0; k < ndim; ++k) {
        Require(input.shape(k) == output.shape(k), f, "input and output shapes differ");
        Require(input.shape(k) < (py::ssize_t{1} << 31), f, "an axis longer than 2**31 - 1");
    }
    Require(output.writeable(), f, "the output array is read-only");
    Require(HasElementStrides(input) && HasElementStrides(output) &&
                (input.shape(ndim - 1) <= 1 ||
                 (input.strides(ndim - 1) == input.itemsize() && output.strides(ndim - 1) == output.itemsize())),
            f, "the last axis must be contiguous");
    if (input.size() == 0) return;
    if (HasType(input, 'c', 8) && HasType(output, 'c', 8))
        FourierShift<float>(input, output, shifts, n, static_cast<int>(axis));
    else if (HasType(input, 'c', 16) && HasType(output, 'c', 16))
        FourierShift<double>(input, output, shifts, n, static_cast<int>(axis));
    else
        throw py::type_error("fourier_shift: the native shift takes complex64 or complex128 arrays of one dtype");
}

// --- warps with edge modes ------------------------------------------------------------

kernels::WarpEdge EdgeOf(const std::string& mode)
{
    using kernels::WarpEdge;
    if (mode == "constant") return WarpEdge::Constant;
    if (mode == "grid-constant") return WarpEdge::GridConstant;
    if (mode == "nearest") return WarpEdge::Nearest;
    if (mode == "reflect" || mode == "grid-mirror") return WarpEdge::Reflect;
    if (mode == "mirror") return WarpEdge::Mirror;
    if (mode == "wrap") return WarpEdge::Wrap;
    if (mode == "grid-wrap") return WarpEdge::GridWrap;
    throw py::value_error("unknown mode '" + mode + "'");
}

kernels::WarpRule RuleOf(int order, const std::string& mode, double cval)
{
    if (order != 0 && order != 1) throw py::value_error("the native warps take orders 0 and 1");
    return {order, EdgeOf(mode), cval};
}

// Checks the arrays a warp over their last `dims` axes takes: 1 to 4
// dimensions, float32 or float64, whole-element strides, equal leading
// (plane) axes, a writable destination.
void CheckWarpArrays(const py::array& src, const py::array& dst, int dims, const char* f)
{
    const py::ssize_t ndim = src.ndim();
    Require(ndim >= 1 && ndim <= 4 && dst.ndim() == ndim && dims >= 1 && dims <= 3 && dims <= ndim, f,
            "the native warps take 1 to 4 dimensions, resampling up to 3");
    for (py::ssize_t k = 0; k < ndim - dims; ++k)
        Require(src.shape(k) == dst.shape(k), f, "the planes of input and output differ");
    Require(dst.writeable(), f, "the output array is read-only");
    Require(HasElementStrides(src) && HasElementStrides(dst), f, "strides that are not whole elements");
}

// Runs a warp on the blocks with the GIL released and the face's threads.
template <class S, class D, class Call>
void RunWarp(const kernels::Block<const S>& in, const kernels::Block<D>& out, Call& call)
{
    py::gil_scoped_release release;
    const ThreadScope threads(ThreadCount());
    call(in, out);
}

template <class Call>
void DispatchWarp(const py::array& src, py::array& dst, const char* f, Call&& call)
{
    const int source = HasType(src, 'f', 4) ? 4 : HasType(src, 'f', 8) ? 8 : 0;
    const int destination = HasType(dst, 'f', 4) ? 4 : HasType(dst, 'f', 8) ? 8 : 0;
    if (source == 4 && destination == 4) RunWarp(ReadBlock<float>(src), WriteBlock<float>(dst), call);
    else if (source == 4 && destination == 8) RunWarp(ReadBlock<float>(src), WriteBlock<double>(dst), call);
    else if (source == 8 && destination == 4) RunWarp(ReadBlock<double>(src), WriteBlock<float>(dst), call);
    else if (source == 8 && destination == 8) RunWarp(ReadBlock<double>(src), WriteBlock<double>(dst), call);
    else throw py::type_error(std::string(f) + ": the native warps take float32 or float64 arrays");
}

// maps: (shift, scale, offset, grid) for each of the last `dims` axes, in numpy order.
void ResampleAxes(const py::array& src, py::array& dst, int dims,
                  const std::vector<std::tuple<double, double, double, bool>>& maps, int order,
                  const std::string& mode, double cval)
{
    const char* f = "resample";
    CheckWarpArrays(src, dst, dims, f);
    Require(static_cast<int>(maps.size()) == dims, f, "one map per resampled axis");
    kernels::WarpAxisMap axisMaps[3];
    for (int i = 0; i < dims; ++i) {
        const auto& [shift, scale, offset, grid] = maps[static_cast<std::size_t>(i)];
        axisMaps[dims - 1 - i] = {shift, scale, offset, grid};
    }
    const kernels::WarpRule rule = RuleOf(order, mode, cval);
    DispatchWarp(src, dst, f, [&](const auto& in, const auto& out) {
        kernels::ResampleAxesBlock(in, out, dims, axisMaps, rule);
    });
}

// matrix: dims x dims in numpy order (output index -> input position), offset: dims.
void ResampleAffine(const py::array& src, py::array& dst, int dims, const std::vector<std::vector<double>>& matrix,
                    const std::vector<double>& offset, int order, const std::string& mode, double cval)
{
    const char* f = "affine_transform";
    CheckWarpArrays(src, dst, dims, f);
    Require(static_cast<int>(matrix.size()) == dims && static_cast<int>(offset.size()) == dims, f,
            "a dims x dims matrix and dims offsets");
    double m[3][3] = {}, t[3] = {};
    for (int i = 0; i < dims; ++i) {
        const auto& row = matrix[static_cast<std::size_t>(i)];
        Require(static_cast<int>(row.size()) == dims, f, "a dims x dims matrix");
        for (int j = 0; j < dims; ++j) m[dims - 1 - i][dims - 1 - j] = row[static_cast<std::size_t>(j)];
        t[dims - 1 - i] = offset[static_cast<std::size_t>(i)];
    }
    const kernels::WarpRule rule = RuleOf(order, mode, cval);
    DispatchWarp(src, dst, f, [&](const auto& in, const auto& out) {
        kernels::ResampleAffineBlock(in, out, dims, m, t, rule);
    });
}

// Tests run the kernels' variants for each instruction set: "native" reads
// the processor, "avx2" hides AVX-512 from the kernels, "base" every
// extension the kernels test.
void SelectIsa(const std::string& name)
{
    kernels::ReadProcessorFeatures();
    if (name == "native") return;
    if (name == "base") {
        kernels::ClearProcessorFeatures();
    } else if (name == "avx2") {
        kernels::ProcessorFeatureWords words = kernels::FeatureWords();
        words.leaf7Ebx &= ~(1u << 16);  // AVX-512 Foundation
        kernels::SetFeatureWords(words);
    } else {
        throw py::value_error("_select_isa: name must be 'native', 'avx2' or 'base', got '" + name + "'");
    }
}

}  // namespace

void RegisterNdimage(py::module_& m)
{
    m.def("_select_isa", &SelectIsa, py::arg("name"),
          "Makes the kernels take their 'native', 'avx2' or 'base' variants (for tests).");
    m.def("_fourier_shift", &FourierShiftArrays, py::arg("input"), py::arg("output"), py::arg("shifts"),
          py::arg("n"), py::arg("axis"),
          "Multiplies a complex spectrum (1 to 3 dimensions, last axis contiguous) by the phase ramp of a "
          "shift, into `output` (same shape and dtype; may be `input`).");
    m.def("_resample_axes", &ResampleAxes, py::arg("input"), py::arg("output"), py::arg("dims"), py::arg("maps"),
          py::arg("order"), py::arg("mode"), py::arg("cval"),
          "Separable warp of the last `dims` axes: output index d samples (d + shift) * scale + offset, or "
          "((d + shift) + 0.5) * scale - 0.5 on a grid axis.");
    m.def("_resample_affine", &ResampleAffine, py::arg("input"), py::arg("output"), py::arg("dims"),
          py::arg("matrix"), py::arg("offset"), py::arg("order"), py::arg("mode"), py::arg("cval"),
          "Affine warp of the last `dims` axes: output index o samples matrix @ o + offset.");
}

}  // namespace lumadex::arrays
