// The utility blocks of script functions, in registration order.
#include <iterator>

#include "ProcessorFeatures.h"
#include "Registration.h"
#include "Shell.h"
#include "Threads.h"
#include "Versions.h"
#include "lumadex/kernels/Dispatch.h"

namespace zep {

// Registered first: the feature words are read as registration starts.
std::span<const ScriptFunctionEntry> SimdFunctions()
{
    lumadex::kernels::ReadProcessorFeatures();
    static const ScriptFunctionEntry kFunctions[] = {
        {"void ", "SetUseSIMD(long isUseSIMD)", HandlerAddress(&SetUseSIMDHandler)},
    };
    static_assert(std::size(kFunctions) == block_size::kSimd);
    return kFunctions;
}

std::span<const ScriptFunctionEntry> VersionFunctions()
{
    static const ScriptFunctionEntry kFunctions[] = {
        {"long ", "GetVersion()", HandlerAddress(&GetVersionDM)},
        {"dm_string ", "GetVersionString()", HandlerAddress(&GetVersionStringDM)},
        {"long ", "GetMKLVersion()", HandlerAddress(&GetMKLVersionDM)},
        {"dm_string ", "GetMKLVersionString()", HandlerAddress(&GetMKLVersionStringDM)},
    };
    static_assert(std::size(kFunctions) == block_size::kVersion);
    return kFunctions;
}

// Registered after the subsystem blocks, before the call counters.
std::span<const ScriptFunctionEntry> ThreadFunctions()
{
    static const ScriptFunctionEntry kFunctions[] = {
        {"void ", "SetNumThreads(long n)", HandlerAddress(&SetNumThreadsDM)},
        {"long ", "GetNumThreads()", HandlerAddress(&GetNumThreadsDM)},
        {"long ", "GetMaxThreads()", HandlerAddress(&GetMaxThreadsDM)},
    };
    static_assert(std::size(kFunctions) == block_size::kThread);
    return kFunctions;
}

// Registered after the call counters.
std::span<const ScriptFunctionEntry> ShellFunctions()
{
    static const ScriptFunctionEntry kFunctions[] = {
        {"void ", "ShellExec(dm_string strCommandLine)", HandlerAddress(&ShellExecDM)},
        {"dm_string ", "GetSpecialDirectory(long eType, long doCreate)", HandlerAddress(&GetSpecialDirectoryDM)},
    };
    static_assert(std::size(kFunctions) == block_size::kShell);
    return kFunctions;
}

}  // namespace zep
