#pragma once

#include <pybind11/pybind11.h>

namespace lumadex::arrays {

void RegisterRegistration(pybind11::module_& m);

}  // namespace lumadex::arrays
