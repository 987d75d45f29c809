// _lumadex: the native half of the lumadex package. It exposes the host
// stand-in's C++ API nearly one to one; the pure-Python layer (lumadex/*.py)
// turns it into the user's API (numpy order, Ref, DataType, counters...).
//
// Sizes cross this boundary in host order (x first); the Python layer reverses
// them into numpy order. Every host object reached from Python holds the
// Session that owns it, so none outlives its host.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dm/data_types.h"
#include "dm/image_data.h"
#include "files.h"
#include "session.h"
#include "values.h"

namespace lumadex::python {
namespace {

host::DataType data_type_from_code(std::uint32_t code) {
    switch (code) {
#define LUMADEX_DATA_TYPE(code, identifier, name, bytes, kind) \
    case code: return host::DataType::identifier;
        DM_DATA_TYPES(LUMADEX_DATA_TYPE)
#undef LUMADEX_DATA_TYPE
    }
    throw py::value_error("no host data type has the code " + std::to_string(code));
}

// (code, identifier, numpy dtype, element size, the host's name) for every
// data type, from the one table.
py::list describe_data_types() {
    py::list out;
#define LUMADEX_DATA_TYPE(code, identifier, name, bytes, kind) \
    out.append(py::make_tuple(code, #identifier, numpy_dtype(host::DataType::identifier), bytes, name));
    DM_DATA_TYPES(LUMADEX_DATA_TYPE)
#undef LUMADEX_DATA_TYPE
    return out;
}

Session& open_session(Session& session) {
    if (session.closed) throw py::value_error("this lumadex host is closed");
    return session;
}

std::vector<py::ssize_t> numpy_shape(const std::vector<std::int64_t>& sizes_x_first) {
    return {sizes_x_first.rbegin(), sizes_x_first.rend()};
}

// --- errors -----------------------------------------------------------------

// The Python types of the host's errors, set when the module is made.
struct HostErrorTypes {
    PyObject* script = nullptr;
    PyObject* usage = nullptr;
    PyObject* file = nullptr;
};

HostErrorTypes& host_error_types() {
    static HostErrorTypes types;
    return types;
}

// Host errors reach Python with their text decoded as text_to_python does:
// a message may quote a name read from a file, whose bytes need not be UTF-8.
// Other exceptions go on to the next translator.
void translate_host_errors(std::exception_ptr error) {
    const HostErrorTypes& types = host_error_types();
    try {
        std::rethrow_exception(error);
    } catch (const host::ScriptError& e) {
        PyErr_SetObject(types.script, text_to_python(e.what()).ptr());
    } catch (const host::UsageError& e) {
        PyErr_SetObject(types.usage, text_to_python(e.what()).ptr());
    } catch (const host::FileError& e) {
        PyErr_SetObject(types.file, text_to_python(e.what()).ptr());
    }
}

// --- host -------------------------------------------------------------------

void load_plugin(Session& session, const std::filesystem::path& path) {
    open_session(session);
    if (session.plugin != nullptr) throw py::value_error("this host has a plug-in loaded already");
    session.plugin = &session.host->load_plugin(path);
}

py::dict live_objects(const Session& session) {
    host::LiveObjects live = session.host->live_objects();
    py::dict out;
    out["total"] = live.total;
    out["by_class"] = live.by_class;
    return out;
}

ImageCore new_image(Session& session, const std::string& name, std::uint32_t code,
                    const std::vector<std::int64_t>& sizes_x_first) {
    open_session(session);
    if (sizes_x_first.empty() || sizes_x_first.size() > static_cast<std::size_t>(host::kMaxDimensions)) {
        throw py::value_error("an image has 1 to " + std::to_string(host::kMaxDimensions) +
                              " dimensions, not " + std::to_string(sizes_x_first.size()));
    }
    host::Image image = session.host->new_image(name, data_type_from_code(code), sizes_x_first);
    return ImageCore{session.shared_from_this(), std::move(image)};
}

// Calls `name` with `args`; each flag in `out` marks an out-argument whose
// initial value is the argument itself. Returns (result, values), where
// values holds each out-argument's value after the call and None for the others.
py::tuple call(Session& session, const std::string& name, const py::list& args, const std::vector<bool>& out) {
    open_session(session);
    if (out.size() != args.size()) throw py::value_error("one out flag per argument is needed");
    std::vector<host::Argument> arguments;
    arguments.reserve(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (py::isinstance<ImageCore>(args[i]) && args[i].cast<const ImageCore&>().session.get() != &session) {
            throw py::value_error("argument " + std::to_string(i + 1) + " is an image of another host");
        }
        arguments.push_back({value_from_python(args[i]), out[i]});
    }

    host::Value result = session.host->call(name, arguments);

    SessionPtr owner = session.shared_from_this();
    py::list values;
    for (const host::Argument& argument : arguments) {
        values.append(argument.out ? value_to_python(owner, argument.value) : py::none());
    }
    return py::make_tuple(value_to_python(owner, result), values);
}

// --- images -----------------------------------------------------------------

py::array read_pixels(const ImageCore& core) {
    const host::Image& image = core.image;
    py::array pixels(numpy_dtype(image.data_type()), numpy_shape(image.sizes()));
    image.read_pixels(pixels.mutable_data(), static_cast<std::size_t>(pixels.nbytes()));
    return pixels;
}

void write_pixels(ImageCore& core, const py::array& pixels) {
    host::Image& image = core.image;
    py::dtype expected = numpy_dtype(image.data_type());
    if (!pixels.dtype().equal(expected)) {
        throw py::type_error("pixels of dtype " + std::string(py::str(pixels.dtype())) + " do not fit an image of " +
                             std::string(host::data_type_name(image.data_type())));
    }
    std::vector<py::ssize_t> shape(pixels.shape(), pixels.shape() + pixels.ndim());
    if (shape != numpy_shape(image.sizes())) {
        throw py::value_error("pixels of shape " + std::string(py::str(py::tuple(py::cast(shape)))) +
                              " do not fit the image's shape");
    }
    if (!(pixels.flags() & py::array::c_style)) throw py::value_error("pixels must be C-contiguous");
    image.write_pixels(pixels.data(), static_cast<std::size_t>(pixels.nbytes()));
}

void check_dimension(const host::Image& image, int dim) {
    if (dim < 0 || dim >= image.num_dims()) {
        throw py::index_error("host dimension " + std::to_string(dim) + " is out of range for an image of " +
                              std::to_string(image.num_dims()) + " dimensions");
    }
}

// Sets one tag to a number, a text, or (a dict or list) a group built whole
// apart from the image first, so that a bad entry leaves the tags as they were.
void set_tag(ImageCore& core, const std::string& path, const py::handle& value) {
    host::TagGroup tags = core.image.tags();
    set_tag_from_python(*core.session->host, tags, path, value);
}

ImageCore subarea(const ImageCore& core, const std::vector<std::int64_t>& start, const std::vector<std::int64_t>& end) {
    return ImageCore{core.session, core.image.subarea(start, end)};
}

PixelLockCore lock_pixels(const ImageCore& core) {
    return PixelLockCore{core.session, core.image, core.image.lock(DM_LOCK_IN_PLACE)};
}

// A numpy array over the locked pixels. Its base is the lock object, which
// owns the bytes (lock.memory) for as long as any array over them lives.
py::array locked_array(const py::object& self) {
    const PixelLockCore& core = self.cast<const PixelLockCore&>();
    const host::PixelLock& lock = core.lock;
    if (!lock.locked_data) {
        throw py::value_error("this pixel lock has ended: its memory may no longer be the image's pixels");
    }
    std::vector<py::ssize_t> shape, strides;
    for (int d = lock.num_dims - 1; d >= 0; --d) {
        shape.push_back(lock.sizes[d]);
        strides.push_back(lock.byte_strides[d]);
    }
    return py::array(numpy_dtype(core.image.data_type()), shape, strides, lock.data, self);
}

// Ends the lock and gives the image back; the bytes stay owned (lock.memory)
// while arrays made over them live.
void release_lock(PixelLockCore& core) {
    core.lock.locked_data = host::ObjectHandle();
    core.image = host::Image();
}

}  // namespace
}  // namespace lumadex::python

PYBIND11_MODULE(_lumadex, m) {
    using namespace lumadex::python;
    m.doc() = "Native half of lumadex: the host stand-in's C++ API (sizes in host order, x first).";

    HostErrorTypes& errors = host_error_types();
    errors.script = py::register_exception<host::ScriptError>(m, "ScriptError", PyExc_RuntimeError).ptr();
    errors.usage = py::register_exception<host::UsageError>(m, "UsageError", PyExc_ValueError).ptr();
    errors.file = py::register_exception<host::FileError>(m, "FileError", PyExc_OSError).ptr();
    py::register_exception_translator(&translate_host_errors);  // tried before the three above

    m.attr("MAX_DIMENSIONS") = host::kMaxDimensions;
    m.attr("MAX_TAG_DEPTH") = host::kMaxTagDepth;
    add_file_functions(m);
    m.def("data_types", &describe_data_types, "(code, identifier, numpy dtype, element size, host name) per host data type");

    py::class_<ImageCore>(m, "ImageCore")
        .def_property_readonly("data_type",
                               [](const ImageCore& c) { return static_cast<std::uint32_t>(c.image.data_type()); })
        .def_property_readonly("sizes", [](const ImageCore& c) { return c.image.sizes(); })
        .def_property("name", [](const ImageCore& c) { return text_to_python(c.image.name()); },
                      [](ImageCore& c, const std::string& name) { c.image.set_name(name); })
        .def("calibration",
             [](const ImageCore& c, int dim) {
                 check_dimension(c.image, dim);
                 host::Calibration cal = c.image.calibration(dim);
                 return py::make_tuple(cal.origin, cal.scale, text_to_python(cal.units));
             })
        .def("set_calibration",
             [](ImageCore& c, int dim, float origin, float scale, const std::string& units) {
                 check_dimension(c.image, dim);
                 c.image.set_calibration(dim, host::Calibration{origin, scale, units, ""});
             })
        .def("tags", [](const ImageCore& c) { return tags_to_dict(c.image.tags()); })
        .def("set_tag", &set_tag)
        .def("subarea", &subarea, py::arg("start"), py::arg("end"))
        .def_property_readonly("is_subarea", [](const ImageCore& c) { return c.image.is_subarea(); })
        .def("clone", [](const ImageCore& c) { return ImageCore{c.session, c.image.clone()}; })
        .def("read", &read_pixels)
        .def("write", &write_pixels)
        .def("lock", &lock_pixels)
        .def("same_object", [](const ImageCore& a, const ImageCore& b) { return a.image == b.image; })
        .def("save", [](const ImageCore& c, const std::filesystem::path& path, int version, bool overwrite_read_only) {
            host::save_file({&c.image, 1}, path, version, overwrite_read_only);
        });

    py::class_<PixelLockCore>(m, "PixelLockCore")
        .def("array", &locked_array)
        .def("release", &release_lock)
        .def_property_readonly("held", [](const PixelLockCore& c) { return static_cast<bool>(c.lock.locked_data); });

    py::class_<Session, SessionPtr>(m, "HostCore")
        .def(py::init<>())
        .def(py::init<std::uint32_t>(), py::arg("version"))
        .def("load_plugin", &load_plugin)
        .def("close", &Session::close)
        .def_property_readonly("closed", [](const Session& s) { return s.closed; })
        .def_property_readonly("plugin_path",
                               [](const Session& s) -> py::object {
                                   if (s.plugin == nullptr) return py::none();
                                   return py::cast(s.plugin->path());
                               })
        .def_property("version", [](const Session& s) { return s.host->version(); },
                      [](Session& s, std::uint32_t v) { s.host->set_version(v); })
        .def("startup_errors", [](const Session& s) { return texts_to_python(s.host->startup_errors()); })
        .def("signatures", [](const Session& s) { return texts_to_python(s.host->signatures()); })
        .def("live_objects", &live_objects)
        .def("new_image", &new_image)
        .def("call", &call)
        .def("open_file",
             [](Session& s, const std::filesystem::path& path) {
                 std::vector<ImageCore> images;
                 for (host::Image& image : open_session(s).host->open_file(path))
                     images.push_back(ImageCore{s.shared_from_this(), std::move(image)});
                 return images;
             })
        .def("results", [](const Session& s) { return texts_to_python(s.host->results()); })
        .def("alerts", [](const Session& s) {
            py::list out;
            for (const auto& [text, kind] : s.host->alerts()) out.append(py::make_tuple(text_to_python(text), kind));
            return out;
        });
}
