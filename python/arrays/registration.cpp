// Phase correlation of numpy frames against one reference: the engine behind
// lumadex.registration. A PhaseCorrelation keeps the reference's half
// spectrum, the mask's weights and the buffers one frame needs, so that a
// series costs three real transforms per frame (the frame's spectrum, the
// correlation, the aligned frame) and no allocation; the frame is read where
// it lies when it is C-ordered float32 (else copied once), and the aligned
// frame is written straight into the caller's array.
#include "registration.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <sys/mman.h>

#include <array>
#include <complex>
#include <mutex>
#include <string>
#include <vector>

#include "blocks.h"
#include "lumadex/kernels/Fourier.h"
#include "lumadex/kernels/Registration.h"
#include "threads.h"

namespace py = pybind11;

namespace lumadex::arrays {
namespace {

using kernels::Block;
using Complex = std::complex<float>;
using Frame = py::array_t<float, py::array::c_style | py::array::forcecast>;

kernels::Normalization NormalizationNamed(const py::object& name)
{
    if (name.is_none()) return kernels::Normalization::Plain;
    if (py::isinstance<py::str>(name)) {
        const std::string s = name.cast<std::string>();
        if (s == "half") return kernels::Normalization::Half;
        if (s == "phase") return kernels::Normalization::Phase;
    }
    throw py::value_error("normalization must be \"half\", \"phase\" or None; got " +
                          std::string(py::repr(name)));
}

// A dense block of `size` (x first) over `data`.
template <class T>
Block<T> Dense(T* data, const std::int64_t (&size)[4])
{
    return {data, {size[0], size[1], size[2], 1}, {1, size[0], size[0] * size[1], size[0] * size[1] * size[2]}};
}

class PhaseCorrelation {
public:
    PhaseCorrelation(const py::array& reference, double maskRadius, const py::object& normalization)
        : normalization_(NormalizationNamed(normalization))
    {
        if (!(maskRadius >= 0)) throw py::value_error("mask_radius must be 0 (no mask) or positive; got " +
                                                      std::to_string(maskRadius));
        const Frame frame = AsFrame(reference, "reference_image");
        if (frame.ndim() < 2 || frame.ndim() > 3)
            throw py::value_error("reference_image must be 2-D or 3-D; got shape " + ShapeText(frame));
        ndim_ = static_cast<int>(frame.ndim());
        for (int axis = 0; axis < ndim_; ++axis) size_[ndim_ - 1 - axis] = frame.shape(axis);
        half_[0] = size_[0] / 2 + 1;
        for (int d = 1; d < 4; ++d) half_[d] = size_[d];
        const auto halfCount = static_cast<std::size_t>(half_[0] * half_[1] * half_[2]);
        const auto count = static_cast<std::size_t>(size_[0] * size_[1] * size_[2]);
        reference_.resize(halfCount);
        spectrum_.resize(halfCount);
        cross_.resize(halfCount);
        weights_.resize(halfCount);
        correlation_.resize(count);

        py::gil_scoped_release unlocked;
        ThreadScope threads(ThreadCount());
        kernels::CorrelationWeights(size_, maskRadius, Dense(weights_.data(), half_));
        Transform(frame, reference_.data());
    }

    std::vector<double> Displacement(const py::array& moving)
    {
        return MeasureThen(CheckedFrame(moving, "moving_image"), [](const std::vector<double>&) {});
    }

    // Measures the frame's displacement and writes the frame shifted back by
    // it into `out`, from one spectrum.
    std::vector<double> Register(const py::array& moving, py::array& out)
    {
        const Frame frame = CheckedFrame(moving, "frame");
        CheckOut(out);
        float* aligned = static_cast<float*>(out.mutable_data());
        return MeasureThen(frame, [&](const std::vector<double>& displacement) { Align(displacement, aligned); });
    }

    // Measures the frame's displacement and adds the spectrum of the frame
    // shifted back by it into `sum` (complex128, the half spectrum's shape):
    // the sum of a series' aligned frames without transforming each back.
    std::vector<double> Accumulate(const py::array& moving, py::array& sum)
    {
        const Frame frame = CheckedFrame(moving, "frame");
        CheckSum(sum);
        const Block<std::complex<double>> total = Dense(static_cast<std::complex<double>*>(sum.mutable_data()), half_);
        return MeasureThen(frame, [&](const std::vector<double>& displacement) {
            ShiftBack(displacement);
            kernels::AddSpectrum(Dense<const Complex>(spectrum_.data(), half_), total);
        });
    }

    // Writes the frame shifted back by `displacement` (numpy order) into `out`.
    void AlignFrame(const py::array& moving, const std::vector<double>& displacement, py::array& out)
    {
        const Frame frame = CheckedFrame(moving, "frame");
        CheckOut(out);
        if (static_cast<int>(displacement.size()) != ndim_)
            throw py::value_error("displacement must have " + std::to_string(ndim_) + " components; got " +
                                  std::to_string(displacement.size()));
        std::lock_guard<std::mutex> lock(busy_);
        py::gil_scoped_release unlocked;
        ThreadScope threads(ThreadCount());
        Transform(frame, spectrum_.data());
        Align(displacement, static_cast<float*>(out.mutable_data()));
    }

    py::tuple Shape() const { return NumpyOrder(size_); }
    py::tuple HalfShape() const { return NumpyOrder(half_); }  // the half spectrum's

private:
    py::tuple NumpyOrder(const std::int64_t (&xFirst)[4]) const
    {
        py::tuple shape(ndim_);
        for (int axis = 0; axis < ndim_; ++axis) shape[axis] = xFirst[ndim_ - 1 - axis];
        return shape;
    }

    // Real frames of any numeric type, computed in float32.
    static Frame AsFrame(const py::array& a, const char* name)
    {
        const char kind = a.dtype().kind();
        if (kind != 'f' && kind != 'i' && kind != 'u' && kind != 'b')
            throw py::type_error(std::string(name) + " must be a real numeric array; got dtype " +
                                 std::string(py::str(a.dtype())));
        return Frame::ensure(a);
    }

    static std::string ShapeText(const py::array& a)
    {
        return std::string(py::str(py::tuple(py::cast(std::vector<py::ssize_t>(a.shape(), a.shape() + a.ndim())))));
    }

    Frame CheckedFrame(const py::array& a, const char* name) const
    {
        const Frame frame = AsFrame(a, name);
        if (!Shape().equal(py::tuple(py::cast(std::vector<py::ssize_t>(frame.shape(), frame.shape() + frame.ndim())))))
            throw py::value_error(std::string(name) + " must have the reference's shape " +
                                  std::string(py::str(Shape())) + "; got " + ShapeText(frame));
        return frame;
    }

    void CheckOut(const py::array& out) const
    {
        if (!out.dtype().is(py::dtype::of<float>()) || !(out.flags() & py::array::c_style) || !out.writeable())
            throw py::type_error("out must be a writable C-ordered float32 array; got dtype " +
                                 std::string(py::str(out.dtype())));
        if (!Shape().equal(py::tuple(py::cast(std::vector<py::ssize_t>(out.shape(), out.shape() + out.ndim())))))
            throw py::value_error("out must have the reference's shape " + std::string(py::str(Shape())) +
                                  "; got " + ShapeText(out));
    }

    void CheckSum(const py::array& sum) const
    {
        if (!sum.dtype().is(py::dtype::of<std::complex<double>>()) || !(sum.flags() & py::array::c_style) ||
            !sum.writeable())
            throw py::type_error("sum must be a writable C-ordered complex128 array; got dtype " +
                                 std::string(py::str(sum.dtype())));
        if (!HalfShape().equal(py::tuple(py::cast(std::vector<py::ssize_t>(sum.shape(), sum.shape() + sum.ndim())))))
            throw py::value_error("sum must have the half spectrum's shape " + std::string(py::str(HalfShape())) +
                                  "; got " + ShapeText(sum));
    }

    void Transform(const Frame& frame, Complex* spectrum) const
    {
        kernels::RealForward<float>(Dense(frame.data(), size_), Dense(spectrum, half_), kernels::RealAxes(size_),
                                    1.0f);
    }

    // The frame's displacement, numpy order, with `then(displacement)` run
    // while spectrum_ still holds the frame's spectrum: the engine's buffers
    // are one frame's, taken for the whole call, without the GIL.
    template <class Then>
    std::vector<double> MeasureThen(const Frame& frame, const Then& then)
    {
        std::lock_guard<std::mutex> lock(busy_);
        py::gil_scoped_release unlocked;
        ThreadScope threads(ThreadCount());
        Transform(frame, spectrum_.data());
        std::vector<double> displacement = Measure();
        then(displacement);
        return displacement;
    }

    // The displacement of the frame whose spectrum is in spectrum_, numpy order.
    std::vector<double> Measure()
    {
        kernels::MaskedCrossPower<float>(Dense<const Complex>(spectrum_.data(), half_),
                                         Dense<const Complex>(reference_.data(), half_),
                                         Dense<const float>(weights_.data(), half_), normalization_,
                                         Dense(cross_.data(), half_));
        kernels::RealInverse<float>(Dense<const Complex>(cross_.data(), half_), Dense(correlation_.data(), size_),
                                    kernels::RealAxes(size_), 1.0f);
        const std::array<double, 3> d = kernels::CorrelationPeak<float>(Dense<const float>(correlation_.data(), size_));
        std::vector<double> displacement(static_cast<std::size_t>(ndim_));
        for (int axis = 0; axis < ndim_; ++axis) displacement[static_cast<std::size_t>(axis)] = d[ndim_ - 1 - axis];
        return displacement;
    }

    // The spectrum in spectrum_ becomes that of its frame moved by -displacement.
    void ShiftBack(const std::vector<double>& displacement)
    {
        double shift[3] = {0, 0, 0};
        for (int d = 0; d < ndim_; ++d) shift[d] = -displacement[static_cast<std::size_t>(ndim_ - 1 - d)];
        kernels::ShiftHalfSpectrum<float>(Dense(spectrum_.data(), half_), size_, shift);
    }

    // The frame whose spectrum is in spectrum_, moved by -displacement, into out.
    void Align(const std::vector<double>& displacement, float* out)
    {
        ShiftBack(displacement);
        const double count = static_cast<double>(size_[0] * size_[1] * size_[2]);
        kernels::RealInverse<float>(Dense<const Complex>(spectrum_.data(), half_), Dense(out, size_),
                                    kernels::RealAxes(size_), static_cast<float>(1.0 / count));
    }

    kernels::Normalization normalization_;
    int ndim_ = 2;
    std::int64_t size_[4] = {1, 1, 1, 1};  // the frames', x first
    std::int64_t half_[4] = {1, 1, 1, 1};  // their half spectra's
    std::vector<Complex> reference_, spectrum_, cross_;
    std::vector<float> weights_, correlation_;
    std::mutex busy_;  // one frame at a time: the buffers are shared
};

// A float32 array for a series' aligned frames, in 4 KiB pages. numpy asks
// the kernel for transparent huge pages for any array of 4 MB or more, and
// the kernel then compacts memory at the first touch when the page cache has
// fragmented it: up to 3 ms a megabyte here, as long as registering the
// frame itself. Plain pages cost a fault each, a tenth of that.
py::array_t<float> FramesArray(const std::vector<py::ssize_t>& shape)
{
    std::size_t bytes = sizeof(float);
    for (const py::ssize_t n : shape) {
        if (n < 0) throw py::value_error("frames_array: negative dimension");
        bytes *= static_cast<std::size_t>(n);
    }
    if (bytes == 0) return py::array_t<float>(shape);
    void* data = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED) throw std::bad_alloc();
    madvise(data, bytes, MADV_NOHUGEPAGE);
    struct Mapping {
        void* data;
        std::size_t bytes;
    };
    py::capsule owner(new Mapping{data, bytes}, [](void* p) {
        auto* mapping = static_cast<Mapping*>(p);
        munmap(mapping->data, mapping->bytes);
        delete mapping;
    });
    return py::array_t<float>(shape, static_cast<float*>(data), owner);
}

}  // namespace

void RegisterRegistration(py::module_& m)
{
    py::class_<PhaseCorrelation>(m, "PhaseCorrelation")
        .def(py::init<const py::array&, double, const py::object&>(), py::arg("reference"), py::arg("mask_radius"),
             py::arg("normalization"))
        .def_property_readonly("shape", &PhaseCorrelation::Shape)
        .def("displacement", &PhaseCorrelation::Displacement, py::arg("moving"))
        .def("register", &PhaseCorrelation::Register, py::arg("frame"), py::arg("out"))
        .def_property_readonly("half_shape", &PhaseCorrelation::HalfShape)
        .def("accumulate", &PhaseCorrelation::Accumulate, py::arg("frame"), py::arg("sum"))
        .def("align", &PhaseCorrelation::AlignFrame, py::arg("frame"), py::arg("displacement"), py::arg("out"));
    m.def("frames_array", &FramesArray, py::arg("shape"));
}

}  // namespace lumadex::arrays
