#include "Threads.h"

#include <omp.h>

#include <stdexcept>
#include <string>

#include "Messages.h"
#include "ScriptFrame.h"
#include "os_services.h"

namespace zep {

void ThreadsStartup() { lumadex::os::KeepOpenMPUsableAfterFork(); }

void ThreadsShutdown() { lumadex::os::EndOpenMPWorkers(); }

void SetNumThreadsDM(std::int32_t n)
{
    ScriptCall("SetNumThreadsDM", [&] {
        if (n < 1 || n > kMaxThreadCount)
            throw std::runtime_error(message::ThreadCountRange(kMaxThreadCount));
        omp_set_num_threads(n);
    });
}

// Asked on the script thread, outside any parallel region: the current
// team is the script thread alone, so this answers 1.
std::int32_t GetNumThreadsDM()
{
    return ScriptCallOr("GetNumThreadsDM", std::int32_t{1}, [] { return std::int32_t{omp_get_num_threads()}; });
}

std::int32_t GetMaxThreadsDM()
{
    return ScriptCallOr("GetMaxThreadsDM", std::int32_t{1}, [] { return std::int32_t{omp_get_max_threads()}; });
}

}  // namespace zep
