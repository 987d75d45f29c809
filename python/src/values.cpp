#include "values.h"

#include <algorithm>
#include <complex>
#include <cstdint>
#include <optional>
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

namespace {

std::string type_name(const py::handle& value)
{
    return py::str(py::type::handle_of(value).attr("__name__"));
}

// A scalar tag value: 32-bit int, float or str; nullopt for a dict or list.
using Scalar = std::variant<std::int32_t, double, std::string>;

std::optional<Scalar> scalar_from_python(const py::handle& value)
{
    if (py::isinstance<py::bool_>(value) || py::isinstance<py::int_>(value)) {
        const py::int_ number(py::reinterpret_borrow<py::object>(value));
        if (number < py::int_(INT32_MIN) || number > py::int_(INT32_MAX)) {
            throw py::value_error("a tag number must fit 32 bits, unlike " + std::string(py::str(value)));
        }
        return number.cast<std::int32_t>();
    }
    if (py::isinstance<py::float_>(value)) return value.cast<double>();
    if (py::isinstance<py::str>(value)) return value.cast<std::string>();
    if (py::isinstance<py::dict>(value) || py::isinstance<py::list>(value)) return std::nullopt;
    throw py::type_error("a tag holds an int, a float, a str, or a dict or list of them, not " + type_name(value));
}

void fill_group(host::TagGroup& group, const py::handle& value, const host::TagGroup& empty);

// Fills the list `group` from a Python list: each nested dict or list is
// appended empty and filled in place, so the host checks its depth first.
void fill_list(host::TagGroup& group, const py::list& list, const host::TagGroup& empty)
{
    for (const py::handle item : list) {
        if (const std::optional<Scalar> scalar = scalar_from_python(item)) {
            std::visit([&](const auto& v) { group.append(v); }, *scalar);
        } else {
            host::TagGroup inner = group.append(empty);
            fill_group(inner, item, empty);
        }
    }
}

void fill_dict(host::TagGroup& group, const py::dict& dict, const host::TagGroup& empty)
{
    for (const auto& [key, item] : dict) {
        if (!py::isinstance<py::str>(key)) throw py::type_error("the names in a dict of tags are str, not " + type_name(key));
        const std::string name = key.cast<std::string>();
        if (name.empty() || name.find(':') != std::string::npos) {
            throw py::value_error("a tag name in a dict is not empty and holds no ':', unlike \"" + name + "\"");
        }
        if (const std::optional<Scalar> scalar = scalar_from_python(item)) {
            std::visit([&](const auto& v) { group.set(name, v); }, *scalar);
        } else {
            group.set(name, empty);
            host::TagGroup inner = std::get<host::TagGroup>(group.get(name));
            fill_group(inner, item, empty);
        }
    }
}

void fill_group(host::TagGroup& group, const py::handle& value, const host::TagGroup& empty)
{
    if (py::isinstance<py::dict>(value))
        fill_dict(group, value.cast<py::dict>(), empty);
    else
        fill_list(group, value.cast<py::list>(), empty);
}

}  // namespace

void set_tag_from_python(host::Host& host, host::TagGroup& tags, const std::string& path, const py::handle& value)
{
    if (const std::optional<Scalar> scalar = scalar_from_python(value)) {
        std::visit([&](const auto& v) { tags.set(path, v); }, *scalar);
        return;
    }
    host::TagGroup group = host.new_tag_group();
    fill_group(group, value, host.new_tag_group());
    tags.set(path, group);
}

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
