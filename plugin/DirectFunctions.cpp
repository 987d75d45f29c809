// The call-counter script functions, registered after the thread functions.
#include "CallTracing.h"
#include "Registration.h"

namespace zep {

ZEP_SCRIPT_FUNCTION_BLOCK(DirectFunctions, kDirect,
    {"void ", "DLLTraceInit()", HandlerAddress(&DLLTraceInitHandler)},
    {"TagGroup ", "DLLTraceGetCounter()", HandlerAddress(&DLLTraceGetCounterHandler)})

}  // namespace zep
