// lumadex._arrays: the numpy face's native part. It calls the kernel library
// on numpy memory, without the host, and releases the GIL while a kernel runs.
#include <pybind11/pybind11.h>

#include "fourier.h"
#include "lumadex/kernels/Dispatch.h"
#include "measure.h"
#include "ndimage.h"
#include "registration.h"
#include "threads.h"
#include "ufuncs.h"

PYBIND11_MODULE(_arrays, m)
{
    m.doc() = "The numpy face's native part: kernels on numpy memory.";
    // The kernels take their vectorised paths from the processor feature
    // words, which the plug-in reads when it registers its functions; this
    // face has no registration, so it reads them when the module loads.
    lumadex::kernels::ReadProcessorFeatures();
    lumadex::arrays::RegisterThreads(m);
    lumadex::arrays::RegisterFourier(m);
    lumadex::arrays::RegisterUfuncs(m);
    lumadex::arrays::RegisterNdimage(m);
    lumadex::arrays::RegisterMeasure(m);
    lumadex::arrays::RegisterRegistration(m);
}
