// DM3 / DM4 files read and written without a plug-in, for lumadex.io.
#pragma once

#include "values.h"

namespace lumadex::python {

// Adds read_file and write_file to the native module.
void add_file_functions(py::module_& m);

}  // namespace lumadex::python
