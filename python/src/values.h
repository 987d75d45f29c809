// Conversions between host values and Python objects.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <string_view>
#include <vector>

#include "session.h"

namespace lumadex::python {

namespace py = pybind11;

// Host text as a Python str. The host's texts are meant to be UTF-8 but may
// hold other bytes (a name or tag read from a file): those become U+FFFD
// instead of raising UnicodeDecodeError.
py::str text_to_python(std::string_view text);
py::list texts_to_python(const std::vector<std::string>& texts);

// The numpy dtype that holds one pixel of `type` (RGB reads as packed uint32).
py::dtype numpy_dtype(host::DataType type);

// Nested dicts of a tag group, entries in the group's order (a group of
// unnamed entries is a list); None for a null group. UsageError for a group
// nested deeper than host::kMaxTagDepth.
py::object tags_to_dict(const host::TagGroup& group);

// Sets the tag at `path` (':'-separated) to a Python value: an int (32-bit),
// a float, a str, a dict (a group: nested dicts are nested groups, named
// without ':') or a list (unnamed entries, of the same kinds). A dict or list
// is built whole apart from `tags` first, in `host`, so that a bad entry
// leaves `tags` as they were; it is built top down, so that one nested past
// the depth limit (one that holds itself, too) is refused before the
// recursion goes further.
void set_tag_from_python(host::Host& host, host::TagGroup& tags, const std::string& path, const py::handle& value);

// A script-call argument from None, an ImageCore, an int, a float or a str.
host::Value value_from_python(const py::handle& object);

// A script-call result or out-value as None, ImageCore, int, float, str or dict.
py::object value_to_python(const SessionPtr& session, const host::Value& value);

}  // namespace lumadex::python
