#include "PlugInMain.h"

#include <stdexcept>
#include <string>

#include "Errors.h"
#include "HostLink.h"
#include "Messages.h"
#include "Threads.h"
#include "dm/function_registry.h"

namespace Gatan::PlugIn {

DM::Function PlugInMain::AddFunction(std::string_view signature, void* handler)
{
    dm_host_call* host = HostCallInterface();
    if (!host) throw std::runtime_error(zep::message::kNotLinked);
    dm_function_registry* registry = host->vtbl->function_registry(host);
    if (!registry) throw std::runtime_error(zep::message::kNoFunctionRegistry);
    const dm_handler_descriptor descriptor = {DM_HANDLER_C_FUNCTION, handler};
    dm_object* made =
        registry->vtbl->add_function(registry, signature.data(), signature.data() + signature.size(), &descriptor);
    if (!made) ThrowPendingError(host);
    DM::Function function = DM::Function::Adopt(made);
    functions_.push_back(function);
    return function;
}

void PlugInMain::RemoveAllFunctions()
{
    dm_host_call* host = HostCallInterface();
    dm_function_registry* registry = host ? host->vtbl->function_registry(host) : nullptr;
    while (!functions_.empty()) {
        DM::Function function = std::move(functions_.back());
        functions_.pop_back();
        if (registry) registry->vtbl->remove_function(registry, function.get());
    }
}

PlugInMain& Instance()
{
    static MyPlugIn instance;
    return instance;
}

}  // namespace Gatan::PlugIn

void MyPlugIn::AddBlock(const std::string& prefix, std::span<const zep::ScriptFunctionEntry> block)
{
    for (const zep::ScriptFunctionEntry& entry : block) {
        const std::string signature = entry.result + prefix + entry.nameAndArguments;
        AddFunction(signature, entry.handler);  // our reference goes at once; the list keeps one
    }
}

void MyPlugIn::Start()
{
    zep::ThreadsStartup();
    const std::string prefix = "ZEP";
    AddBlock(prefix, zep::SimdFunctions());
    AddBlock(prefix, zep::VersionFunctions());
    AddBlock(prefix, zep::FourierFunctions());
    AddBlock(prefix, zep::MatrixFunctions());
    AddBlock(prefix, zep::ElementwiseFunctions());
    AddBlock(prefix, zep::WarpFunctions());
    AddBlock(prefix, zep::ThreadFunctions());
    AddBlock(prefix, zep::DirectFunctions());
    AddBlock(prefix, zep::ShellFunctions());
    AddBlock(prefix, zep::StatisticsFunctions());
}

void MyPlugIn::End() { zep::ThreadsShutdown(); }
