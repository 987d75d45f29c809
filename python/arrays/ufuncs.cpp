#include "ufuncs.h"

namespace lumadex::arrays {

void RegisterUfuncs(pybind11::module_&) {}

}  // namespace lumadex::arrays
