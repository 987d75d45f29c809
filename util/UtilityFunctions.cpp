// The utility blocks of script functions, in registration order.
#include "ProcessorFeatures.h"
#include "Registration.h"

namespace zep {

// Registered first: the feature words are read as registration starts.
std::span<const ScriptFunctionEntry> SimdFunctions()
{
    ReadProcessorFeatures();
    static const ScriptFunctionEntry kFunctions[] = {
        {"void ", "SetUseSIMD(long isUseSIMD)", HandlerAddress(&SetUseSIMDHandler)},
    };
    return kFunctions;
}

}  // namespace zep
