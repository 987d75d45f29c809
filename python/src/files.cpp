// DM3 / DM4 files for lumadex.io, without a plug-in: the host's own reader
// and writer, run in a host made for the one call, with images crossing as
// plain values (numpy pixels, name, calibrations, tags).
#include "files.h"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "dm/image_data.h"

namespace lumadex::python {
namespace {

// A numpy array over an image's pixels, without a copy. Its base owns the
// pixel buffer's memory and nothing else of the host, so the host may go
// while the array lives.
py::array pixels_of(const host::Image& image)
{
    const host::PixelLock lock = image.lock(DM_LOCK_IN_PLACE);
    auto* memory = new std::shared_ptr<const void>(lock.memory);
    const py::capsule owner(memory, [](void* held) { delete static_cast<std::shared_ptr<const void>*>(held); });
    std::vector<py::ssize_t> shape, strides;
    for (int d = lock.num_dims - 1; d >= 0; --d) {
        shape.push_back(lock.sizes[d]);
        strides.push_back(lock.byte_strides[d]);
    }
    return py::array(numpy_dtype(image.data_type()), shape, strides, lock.data, owner);
}

py::list calibrations_of(const host::Image& image)
{
    py::list out;
    for (int d = 0; d < image.num_dims(); ++d) {
        const host::Calibration c = image.calibration(d);
        out.append(py::make_tuple(c.origin, c.scale, text_to_python(c.units), text_to_python(c.label)));
    }
    return out;
}

py::list read_file(const std::filesystem::path& path)
{
    host::Host host;  // declared first: it outlives every image of the file
    py::list out;
    for (const host::Image& image : host.open_file(path)) {
        out.append(py::make_tuple(pixels_of(image), text_to_python(image.name()), calibrations_of(image),
                                  tags_to_dict(image.tags())));
    }
    return out;
}

// One image of a file to write: pixels (C-contiguous, of the numpy dtype of
// `code`), data-type code, name, calibrations (origin, scale, units, label)
// in host order (x first), and tags.
host::Image image_from_python(host::Host& host, const py::tuple& entry)
{
    if (entry.size() != 5) throw py::value_error("an image to write is (pixels, code, name, calibrations, tags)");
    const auto pixels = entry[0].cast<py::array>();
    const auto type = static_cast<host::DataType>(entry[1].cast<std::uint32_t>());
    if (!pixels.dtype().equal(numpy_dtype(type)) || !(pixels.flags() & py::array::c_style)) {
        throw py::type_error("the pixels to write must be C-contiguous " +
                             std::string(py::str(numpy_dtype(type))) + ", not " + std::string(py::str(pixels.dtype())));
    }
    std::vector<std::int64_t> sizes(pixels.shape(), pixels.shape() + pixels.ndim());
    std::reverse(sizes.begin(), sizes.end());
    host::Image image = host.new_image(entry[2].cast<std::string>(), type, sizes);
    image.write_pixels(pixels.data(), static_cast<std::size_t>(pixels.nbytes()));

    const auto calibrations = entry[3].cast<std::vector<py::tuple>>();
    if (calibrations.size() != sizes.size()) throw py::value_error("one calibration per dimension is needed");
    for (std::size_t d = 0; d < calibrations.size(); ++d) {
        const py::tuple& c = calibrations[d];
        image.set_calibration(static_cast<int>(d), host::Calibration{c[0].cast<float>(), c[1].cast<float>(),
                                                                     c[2].cast<std::string>(), c[3].cast<std::string>()});
    }
    host::TagGroup tags = image.tags();
    for (const auto& [name, value] : entry[4].cast<py::dict>()) {
        set_tag_from_python(host, tags, name.cast<std::string>(), value);
    }
    return image;
}

void write_file(const std::filesystem::path& path, const py::list& entries, int version, bool overwrite_read_only)
{
    host::Host host;
    std::vector<host::Image> images;
    for (const py::handle entry : entries) images.push_back(image_from_python(host, entry.cast<py::tuple>()));
    host::save_file(images, path, version, overwrite_read_only);
}

}  // namespace

void add_file_functions(py::module_& m)
{
    m.def("read_file", &read_file, py::arg("path"),
          "The images of a DM3 / DM4 file as (pixels, name, calibrations, tags), calibrations being "
          "(origin, scale, units, label) per host dimension, x first; FileError when it cannot be read whole.");
    m.def("write_file", &write_file, py::arg("path"), py::arg("images"), py::arg("version"),
          py::arg("overwrite_read_only"),
          "Writes images given as (pixels, data-type code, name, calibrations, tags) into one DM3 or DM4 file, "
          "replacing it whole or not at all.");
}

}  // namespace lumadex::python
