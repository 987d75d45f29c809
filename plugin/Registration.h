// Registration of the plug-in's script functions.
//
// Each subsystem lists its script functions as a block: per function the
// result-type text, the name-and-arguments text (used exactly as written,
// blanks included) and the handler. The signature the host sees is
// result text + prefix + name-and-arguments text.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace zep {

struct ScriptFunctionEntry {
    const char* result;            // "ComplexImagePtr ", with its trailing blank
    const char* nameAndArguments;  // "PureFFT(ComplexImagePtr cimSrc, double fScale, ComplexImagePtr cimDst)"
    void* handler;
};

template <class Handler>
void* HandlerAddress(Handler* handler)
{
    return reinterpret_cast<void*>(handler);
}

// How many script functions each block registers. Scripts call them by
// name and signature, so the counts belong to the plug-in's contract: each
// block checks its table against its count when it is compiled, and the
// blocks add up to the signatures the host sees.
namespace block_size {
inline constexpr std::size_t kSimd = 1;
inline constexpr std::size_t kVersion = 4;
inline constexpr std::size_t kFourier = 37;
inline constexpr std::size_t kMatrix = 5;
inline constexpr std::size_t kElementwise = 49;
inline constexpr std::size_t kWarp = 11;
inline constexpr std::size_t kThread = 3;
inline constexpr std::size_t kDirect = 2;
inline constexpr std::size_t kShell = 2;
inline constexpr std::size_t kStatistics = 7;
}  // namespace block_size

inline constexpr std::size_t kScriptFunctionCount = 121;
static_assert(block_size::kSimd + block_size::kVersion + block_size::kFourier + block_size::kMatrix +
                  block_size::kElementwise + block_size::kWarp + block_size::kThread + block_size::kDirect +
                  block_size::kShell + block_size::kStatistics ==
              kScriptFunctionCount);

// A block's table as it is registered, checked against the block's count
// when it is compiled: return CheckedBlock<block_size::kWarp>(kFunctions).
template <std::size_t Count, std::size_t N>
std::span<const ScriptFunctionEntry> CheckedBlock(const ScriptFunctionEntry (&table)[N])
{
    static_assert(N == Count, "a block's table holds the block's count of script functions");
    return table;
}

// Defines the block function Name() over a table of its entries, checked
// against block_size::Count:
//   ZEP_SCRIPT_FUNCTION_BLOCK(DirectFunctions, kDirect,
//       {"void ", "DLLTraceInit()", HandlerAddress(&DLLTraceInitHandler)},
//       ...)
#define ZEP_SCRIPT_FUNCTION_BLOCK(Name, Count, ...)                    \
    std::span<const ScriptFunctionEntry> Name()                        \
    {                                                                  \
        static const ScriptFunctionEntry kFunctions[] = {__VA_ARGS__}; \
        return CheckedBlock<block_size::Count>(kFunctions);            \
    }

// The blocks, in registration order.
std::span<const ScriptFunctionEntry> SimdFunctions();  // reads the processor feature words first
std::span<const ScriptFunctionEntry> VersionFunctions();
std::span<const ScriptFunctionEntry> FourierFunctions();
std::span<const ScriptFunctionEntry> MatrixFunctions();
std::span<const ScriptFunctionEntry> ElementwiseFunctions();
std::span<const ScriptFunctionEntry> WarpFunctions();
std::span<const ScriptFunctionEntry> ThreadFunctions();
std::span<const ScriptFunctionEntry> DirectFunctions();  // the call counters
std::span<const ScriptFunctionEntry> ShellFunctions();
std::span<const ScriptFunctionEntry> StatisticsFunctions();

}  // namespace zep
