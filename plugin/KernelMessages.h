// The kernel library's refusals as the plug-in's fixed messages.
#pragma once

#include <stdexcept>

#include "Messages.h"
#include "lumadex/kernels/Refusal.h"

namespace zep {

inline const char* MessageFor(lumadex::kernels::Reason reason)
{
    switch (reason) {
    case lumadex::kernels::Reason::OddDimensionSize: return message::kOddDimensionSize;
    case lumadex::kernels::Reason::PeriodNotPositive: return message::kPeriodNotPositive;
    case lumadex::kernels::Reason::TooFewElements: return message::kDifferentSizes;
    case lumadex::kernels::Reason::MatrixLayoutNotSupported: return message::kInvalidImageSize;
    }
    return message::kPeriodNotPositive;  // not reached: every reason is listed above
}

// Runs `run`, raising a kernel's refusal as std::runtime_error with its
// fixed message.
template <class Run>
decltype(auto) WithKernelMessages(Run&& run)
{
    try {
        return run();
    } catch (const lumadex::kernels::Refusal& refusal) {
        throw std::runtime_error(MessageFor(refusal.reason()));
    }
}

}  // namespace zep
