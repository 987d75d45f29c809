// A plug-in library loaded with dlopen and driven through its six entry
// points (abi/dm/plugin_entry.h).
#pragma once

#include <filesystem>

#include "dm/plugin_entry.h"
#include "lumadex/host/host.h"

namespace lumadex::host {

class HostState;

class LoadedPlugin final : public Plugin {
public:
    // dlopen (RTLD_NOW | RTLD_LOCAL) and find the entry points; UsageError
    // when the library cannot be loaded, lacks an entry point, or speaks
    // another link protocol version.
    LoadedPlugin(HostState& host, std::filesystem::path path);
    ~LoadedPlugin() override;  // dlclose
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    const std::filesystem::path& path() const override { return path_; }
    void* library() const { return library_; }
    void run() override;
    void cleanup() override;

    void link_and_start();  // DMPlugIn_Link_2, PlugInStartup
    void shut_down();       // PlugInShutdown

private:
    // Calls an entry point with this plug-in as the one serving, then moves
    // any Throwable it raised into the host's start-up errors.
    void enter(void (*entry)());

    HostState& host_;
    std::filesystem::path path_;
    void* library_ = nullptr;
    DMPlugIn_Link_2_fn link_ = nullptr;
    PlugInStartup_fn startup_ = nullptr;
    PlugInRun_fn run_ = nullptr;
    PlugInCleanup_fn cleanup_ = nullptr;
    PlugInShutdown_fn shutdown_ = nullptr;
};

}  // namespace lumadex::host
