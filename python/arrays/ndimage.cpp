#include "ndimage.h"

namespace lumadex::arrays {

void RegisterNdimage(pybind11::module_&) {}

}  // namespace lumadex::arrays
