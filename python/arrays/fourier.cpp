#include "fourier.h"

namespace lumadex::arrays {

void RegisterFourier(pybind11::module_&) {}

}  // namespace lumadex::arrays
