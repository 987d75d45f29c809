#include "measure.h"

namespace lumadex::arrays {

void RegisterMeasure(pybind11::module_&) {}

}  // namespace lumadex::arrays
