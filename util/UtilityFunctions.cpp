// The utility blocks of script functions, in registration order.
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
    return CheckedBlock<block_size::kSimd>(kFunctions);
}

ZEP_SCRIPT_FUNCTION_BLOCK(VersionFunctions, kVersion,
    {"long ", "GetVersion()", HandlerAddress(&GetVersionDM)},
    {"dm_string ", "GetVersionString()", HandlerAddress(&GetVersionStringDM)},
    {"long ", "GetMKLVersion()", HandlerAddress(&GetMKLVersionDM)},
    {"dm_string ", "GetMKLVersionString()", HandlerAddress(&GetMKLVersionStringDM)})

// Registered after the subsystem blocks, before the call counters.
ZEP_SCRIPT_FUNCTION_BLOCK(ThreadFunctions, kThread,
    {"void ", "SetNumThreads(long n)", HandlerAddress(&SetNumThreadsDM)},
    {"long ", "GetNumThreads()", HandlerAddress(&GetNumThreadsDM)},
    {"long ", "GetMaxThreads()", HandlerAddress(&GetMaxThreadsDM)})

// Registered after the call counters.
ZEP_SCRIPT_FUNCTION_BLOCK(ShellFunctions, kShell,
    {"void ", "ShellExec(dm_string strCommandLine)", HandlerAddress(&ShellExecDM)},
    {"dm_string ", "GetSpecialDirectory(long eType, long doCreate)", HandlerAddress(&GetSpecialDirectoryDM)})

}  // namespace zep
