#include "values.h"

#include <algorithm>
#include <complex>
#include <cstdint>
#include <string>
#include <type_traits>
#include <variant>

namespace lumadex::python {

py::str text_to_python(std::string_view text) {
    PyObject* decoded = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    if (!decoded) throw py::error_already_set();  // only when memory runs out
    return py::reinterpret_steal<py::str>(decoded);
}

py::list texts_to_python(const std::vector<std::string>& texts) {
    py::list out;
    for (const std::string& text : texts) out.append(text_to_python(text));
    return out;
}

// The numpy dtype of one pixel follows from the type's kind and size; RGB's
// four channels read as one packed unsigned integer.
py::dtype numpy_dtype(host::DataType type) {
    const std::string bytes = std::to_string(host::element_size(type));
    switch (host::data_type_kind(type)) {
    case DM_KIND_SIGNED: return py::dtype("i" + bytes);
    case DM_KIND_UNSIGNED:
    case DM_KIND_RGB: return py::dtype("u" + bytes);
    case DM_KIND_REAL: return py::dtype("f" + bytes);
    case DM_KIND_COMPLEX: return py::dtype("c" + bytes);
    case DM_KIND_BINARY: return py::dtype::of<bool>();
    }
    throw host::UsageError("unknown host data type " + std::to_string(static_cast<unsigned>(type)));
}

namespace {

// `level` is the group's depth below the root converted; the recursion ends
// at the limit whatever the host hands over.
py::object group_to_python(const host::TagGroup& group, int level);

py::object tag_value_to_python(const host::TagValue& value, int level) {
    return std::visit(
        [level](const auto& v) -> py::object {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, host::TagGroup>) {
                return group_to_python(v, level + 1);
            } else if constexpr (std::is_same_v<T, std::string>) {
                return text_to_python(v);
            } else {
                return py::cast(v);
            }
        },
        value);
}

py::object group_to_python(const host::TagGroup& group, int level) {
    if (!group) return py::none();
    if (level > host::kMaxTagDepth) {
        throw host::UsageError("The tags nest groups deeper than " + std::to_string(host::kMaxTagDepth) +
                               " levels (the root is level 0), the most a tag tree may have.");
    }
    const auto entries = group.entries();
    // A group of unnamed entries (a list, an array or a struct read from a file) is a list.
    const bool list = !entries.empty() && std::all_of(entries.begin(), entries.end(),
                                                      [](const auto& entry) { return entry.first.empty(); });
    if (list) {
        py::list items;
        for (const auto& entry : entries) items.append(tag_value_to_python(entry.second, level));
        return items;
    }
    py::dict dict;
    for (const auto& [name, value] : entries) dict[text_to_python(name)] = tag_value_to_python(value, level);
    return dict;
}

}  // namespace

py::object tags_to_dict(const host::TagGroup& group) { return group_to_python(group, 0); }

host::Value value_from_python(const py::handle& object) {
    if (object.is_none()) return std::monostate{};
    if (py::isinstance<ImageCore>(object)) return object.cast<const ImageCore&>().image;
    // bool is an int in Python: a script bool or long takes 0 or 1.
    if (py::isinstance<py::int_>(object)) {
        try {
            return object.cast<std::int64_t>();
        } catch (const py::cast_error&) {
            throw py::value_error("integer argument out of the 64-bit range: " + std::string(py::str(object)));
        }
    }
    if (py::isinstance<py::float_>(object)) return object.cast<double>();
    if (py::isinstance<py::str>(object)) return object.cast<std::string>();
    throw py::type_error("a script argument must be an image, a number, a string or None, not " +
                         std::string(py::str(py::type::handle_of(object).attr("__name__"))));
}

py::object value_to_python(const SessionPtr& session, const host::Value& value) {
    return std::visit(
        [&](const auto& v) -> py::object {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                return py::none();
            } else if constexpr (std::is_same_v<T, host::Image>) {
                if (!v) return py::none();
                return py::cast(ImageCore{session, v});
            } else if constexpr (std::is_same_v<T, host::TagGroup>) {
                return tags_to_dict(v);
            } else if constexpr (std::is_same_v<T, std::string>) {
                return text_to_python(v);
            } else {
                return py::cast(v);
            }
        },
        value);
}

}  // namespace lumadex::python
