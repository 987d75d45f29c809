#include "ProcessorFeatures.h"

#include "lumadex/kernels/Dispatch.h"

namespace zep {

void SetUseSIMDHandler(std::int32_t isUseSIMD)
{
    if (isUseSIMD == 0)
        lumadex::kernels::ClearProcessorFeatures();
    else
        lumadex::kernels::ReadProcessorFeatures();
}

}  // namespace zep
