// The call-counter script functions, registered after the thread functions.
#include <iterator>

#include "CallTracing.h"
#include "Registration.h"

namespace zep {

std::span<const ScriptFunctionEntry> DirectFunctions()
{
    static const ScriptFunctionEntry kFunctions[] = {
        {"void ", "DLLTraceInit()", HandlerAddress(&DLLTraceInitHandler)},
        {"TagGroup ", "DLLTraceGetCounter()", HandlerAddress(&DLLTraceGetCounterHandler)},
    };
    static_assert(std::size(kFunctions) == block_size::kDirect);
    return kFunctions;
}

}  // namespace zep
