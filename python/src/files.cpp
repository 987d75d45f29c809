// DM3 / DM4 files for lumadex.io, without a plug-in: the host's own reader
// and writer, run in a host made for the one call, with images crossing as
// plain values (numpy pixels, name, calibrations, tags). For data larger
// than memory the pixels may stay in the file (describe_file says where they
// lie, for a reader that takes them in pieces) and be written piece by piece
// (write_file_in_pieces, from one Python callable per image).
#include "files.h"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <memory>
#include <span>
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

py::tuple calibration_to_python(const host::Calibration& c)
{
    return py::make_tuple(c.origin, c.scale, text_to_python(c.units), text_to_python(c.label));
}

py::list calibrations_of(const host::Image& image)
{
    py::list out;
    for (int d = 0; d < image.num_dims(); ++d) out.append(calibration_to_python(image.calibration(d)));
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

// The images of a file without their pixels: per image (name,
// calibrations, tags, dtype, shape in numpy order, the pixel block's offset
// and bytes in the file, whether its numbers are little endian).
py::list describe_file(const std::filesystem::path& path)
{
    host::Host host;
    py::list out;
    for (const auto& [header, block] : host.describe_file(path)) {
        py::list calibrations;
        for (const host::Calibration& c : header.calibrations) calibrations.append(calibration_to_python(c));
        py::tuple shape(header.sizes.size());
        for (std::size_t d = 0; d < header.sizes.size(); ++d) shape[header.sizes.size() - 1 - d] = header.sizes[d];
        out.append(py::make_tuple(text_to_python(header.name), calibrations, tags_to_dict(header.tags),
                                  numpy_dtype(header.type), shape, block.offset, block.bytes, block.little_endian));
    }
    return out;
}

std::vector<host::Calibration> calibrations_from_python(const py::handle& entries, std::size_t dimensions)
{
    const auto given = entries.cast<std::vector<py::tuple>>();
    if (given.size() != dimensions) throw py::value_error("one calibration per dimension is needed");
    std::vector<host::Calibration> out;
    for (const py::tuple& c : given)
        out.push_back({c[0].cast<float>(), c[1].cast<float>(), c[2].cast<std::string>(), c[3].cast<std::string>()});
    return out;
}

void set_tags_from_python(host::Host& host, host::TagGroup& tags, const py::handle& entries)
{
    for (const auto& [name, value] : entries.cast<py::dict>())
        set_tag_from_python(host, tags, name.cast<std::string>(), value);
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

    const std::vector<host::Calibration> calibrations = calibrations_from_python(entry[3], sizes.size());
    for (std::size_t d = 0; d < calibrations.size(); ++d) image.set_calibration(static_cast<int>(d), calibrations[d]);
    host::TagGroup tags = image.tags();
    set_tags_from_python(host, tags, entry[4]);
    return image;
}

void write_file(const std::filesystem::path& path, const py::list& entries, int version, bool overwrite_read_only)
{
    host::Host host;
    std::vector<host::Image> images;
    for (const py::handle entry : entries) images.push_back(image_from_python(host, entry.cast<py::tuple>()));
    host::save_file(images, path, version, overwrite_read_only);
}

// A pixel source over a Python callable that returns the next piece (any
// C-contiguous array of little-endian numbers, an image's pixels in order) or
// None after the last. Called by the writer without the GIL: it takes the
// GIL for the call and keeps the piece alive in `held` until the next one.
host::PixelSource source_from_python(py::handle next, py::object& held)
{
    return [next, &held]() -> std::span<const std::byte> {
        py::gil_scoped_acquire gil;
        held = py::none();
        for (;;) {
            py::object piece = next();
            if (piece.is_none()) return {};
            auto pixels = py::array::ensure(piece);
            if (!pixels || !(pixels.flags() & py::array::c_style))
                throw py::type_error("a piece of pixels to write must be a C-contiguous array, not " +
                                     std::string(py::str(py::type::of(piece).attr("__name__"))));
            if (pixels.nbytes() == 0) continue;
            held = pixels;
            return {static_cast<const std::byte*>(pixels.data()), static_cast<std::size_t>(pixels.nbytes())};
        }
    };
}

// Writes images given as (data-type code, shape in numpy order, name,
// calibrations, tags) whose pixels come from `sources`, one callable per
// image, called in file order while the file is written.
void write_file_in_pieces(const std::filesystem::path& path, const py::list& headers, const py::list& sources,
                          int version, bool overwrite_read_only)
{
    if (headers.size() != sources.size()) throw py::value_error("one pixel source per image is needed");
    host::Host host;
    std::vector<host::ImageHeader> images;
    for (const py::handle entry : headers) {
        const auto header = entry.cast<py::tuple>();
        if (header.size() != 5) throw py::value_error("an image to write is (code, shape, name, calibrations, tags)");
        host::ImageHeader image;
        image.type = static_cast<host::DataType>(header[0].cast<std::uint32_t>());
        image.sizes = header[1].cast<std::vector<std::int64_t>>();
        std::reverse(image.sizes.begin(), image.sizes.end());
        image.name = header[2].cast<std::string>();
        image.calibrations = calibrations_from_python(header[3], image.sizes.size());
        image.tags = host.new_tag_group();
        set_tags_from_python(host, image.tags, header[4]);
        images.push_back(std::move(image));
    }
    py::object held;  // the piece being written; declared before the release so that it goes with the GIL held
    std::vector<host::PixelSource> pixels;
    for (const py::handle next : sources) pixels.push_back(source_from_python(next, held));
    py::gil_scoped_release unlocked;  // the sources take it back for each piece
    host.save_file(images, pixels, path, version, overwrite_read_only);
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
    m.def("describe_file", &describe_file, py::arg("path"),
          "The images of a DM3 / DM4 file without their pixels, as (name, calibrations, tags, dtype, shape, "
          "offset, bytes, little_endian): the pixels are the `bytes` bytes at `offset`, x fastest, in the file's "
          "byte order. The reader's checks are made; nothing of the pixels is read.");
    m.def("write_file_in_pieces", &write_file_in_pieces, py::arg("path"), py::arg("headers"), py::arg("sources"),
          py::arg("version"), py::arg("overwrite_read_only"),
          "Writes images given as (data-type code, shape, name, calibrations, tags) whose pixels come from "
          "`sources`, one callable per image returning the next little-endian piece or None after the last; "
          "the file appears whole or not at all.");
}

}  // namespace lumadex::python
