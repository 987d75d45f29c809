// The plug-in object: one per process, driven by the exported entry points.
#pragma once

#include <string_view>
#include <vector>

#include "HostObjects.h"
#include "Registration.h"

namespace Gatan::Win32 {

class PlugInMain {
public:
    virtual ~PlugInMain() = default;
    virtual void Start() {}
    virtual void Run() {}
    virtual void Cleanup() {}
    virtual void End() {}
    virtual void AfterShutdown() {}
};

}  // namespace Gatan::Win32

namespace Gatan::PlugIn {

class PlugInMain : public Win32::PlugInMain {
public:
    // Registers prefix + signature with `handler`; the instance keeps the
    // host Function until RemoveAllFunctions.
    DM::Function AddFunction(std::string_view signature, void* handler);
    // Removes the registered functions, last first.
    void RemoveAllFunctions();

private:
    std::vector<DM::Function> functions_;
};

// The single instance, made on first use.
PlugInMain& Instance();

}  // namespace Gatan::PlugIn

class MyPlugIn : public Gatan::PlugIn::PlugInMain {
public:
    ~MyPlugIn() override = default;
    // Registers every script function, block by block.
    void Start() override;
    void End() override;

private:
    void AddBlock(const std::string& prefix, std::span<const zep::ScriptFunctionEntry> block);
};
