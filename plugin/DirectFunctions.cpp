// The call-counter script functions, registered after the thread functions.
#include "CallTracing.h"
#include "Registration.h"

namespace zep {

std::span<const ScriptFunctionEntry> DirectFunctions()
{
    static const ScriptFunctionEntry kFunctions[] = {
        {"void ", "DLLTraceInit()", HandlerAddress(&DLLTraceInitHandler)},
        {"TagGroup ", "DLLTraceGetCounter()", HandlerAddress(&DLLTraceGetCounterHandler)},
    };
    return kFunctions;
}

}  // namespace zep
