// Scratch memory for one call, given back when the call ends.
#include <sys/mman.h>

#include <cstdlib>

#include "os_services.h"

namespace lumadex::os {

void* AllocateScratch(std::size_t bytes)
{
    // A large buffer is fresh memory at every call (the allocator maps and
    // unmaps it), so its pages are faulted in and cleared each time: on
    // transparent huge pages that costs a fraction of what 4 KiB pages cost
    // (a 4096 x 4096 real inverse and forward transform pair: 192 ms with
    // buffers kept between calls, 230 ms on fresh 4 KiB pages, 195 ms on
    // huge pages).
    constexpr std::size_t huge = std::size_t{2} << 20;
    if (bytes >= 8 * huge) {
        const std::size_t rounded = (bytes + huge - 1) / huge * huge;
        void* data = std::aligned_alloc(huge, rounded);
        if (data) madvise(data, rounded, MADV_HUGEPAGE);  // a hint: refused, nothing changes
        return data;
    }
    return std::aligned_alloc(64, bytes == 0 ? 64 : (bytes + 63) / 64 * 64);
}

void FreeScratch(void* data) { std::free(data); }

}  // namespace lumadex::os
