// Registration of the plug-in's script functions.
//
// Each subsystem lists its script functions as a block: per function the
// result-type text, the name-and-arguments text (used exactly as written,
// blanks included) and the handler. The signature the host sees is
// result text + prefix + name-and-arguments text.
#pragma once

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
