#include "ScratchBuffer.h"

#include <new>

#include "os_services.h"

namespace lumadex::kernels::fourier {

ScratchBuffer::ScratchBuffer(std::size_t bytes) : data_(lumadex::os::AllocateScratch(bytes)), capacity_(bytes)
{
    if (!data_) throw std::bad_alloc();
}

ScratchBuffer::~ScratchBuffer() { lumadex::os::FreeScratch(data_); }

}  // namespace lumadex::kernels::fourier
