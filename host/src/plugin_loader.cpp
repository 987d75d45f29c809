#include "plugin_loader.h"

#include <dlfcn.h>

#include <algorithm>

#include "host_state.h"

namespace lumadex::host {
namespace {

// dlsym hands out an object pointer; entry points are functions.
template <class Fn>
Fn entry_point(void* library, const char* name, const std::filesystem::path& path)
{
    void* symbol = dlsym(library, name);
    if (!symbol) throw UsageError(path.string() + " is not a plug-in: it does not export " + name + ".");
    return reinterpret_cast<Fn>(symbol);
}

}  // namespace

LoadedPlugin::LoadedPlugin(HostState& host, std::filesystem::path path) : host_(host), path_(std::move(path))
{
    library_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library_) {
        const char* why = dlerror();
        throw UsageError("Cannot load " + path_.string() + ": " + (why ? why : "unknown reason") + ".");
    }
    try {
        for (const auto& other : host.plugins)
            if (other->library() == library_) throw UsageError(path_.string() + " is loaded already.");
        const auto version = entry_point<DMPlugIn_GetVersion_fn>(library_, "DMPlugIn_GetVersion", path_)();
        if (version != DM_PLUGIN_LINK_VERSION)
            throw UsageError(path_.string() + " speaks link protocol version " + std::to_string(version) +
                             "; this host speaks version 2.");
        link_ = entry_point<DMPlugIn_Link_2_fn>(library_, "DMPlugIn_Link_2", path_);
        startup_ = entry_point<PlugInStartup_fn>(library_, "PlugInStartup", path_);
        run_ = entry_point<PlugInRun_fn>(library_, "PlugInRun", path_);
        cleanup_ = entry_point<PlugInCleanup_fn>(library_, "PlugInCleanup", path_);
        shutdown_ = entry_point<PlugInShutdown_fn>(library_, "PlugInShutdown", path_);
    } catch (...) {
        dlclose(library_);
        throw;
    }
}

LoadedPlugin::~LoadedPlugin()
{
    if (library_) dlclose(library_);
}

void LoadedPlugin::enter(void (*entry)())
{
    const LoadedPlugin* previous = std::exchange(host_.serving, this);
    {
        CurrentBookScope scope(host_.book);
        entry();
    }
    host_.serving = previous;
    host_.collect_raised();
}

void LoadedPlugin::link_and_start()
{
    const LoadedPlugin* previous = std::exchange(host_.serving, this);
    {
        CurrentBookScope scope(host_.book);
        link_(host_.link());
    }
    host_.serving = previous;
    enter(startup_);
}

void LoadedPlugin::run() { enter(run_); }
void LoadedPlugin::cleanup() { enter(cleanup_); }
void LoadedPlugin::shut_down() { enter(shutdown_); }

Plugin& HostState::load_plugin(const std::filesystem::path& path)
{
    plugins.push_back(std::make_unique<LoadedPlugin>(*this, path));
    LoadedPlugin& plugin = *plugins.back();
    plugin.link_and_start();
    return plugin;
}

void HostState::unload_plugin(Plugin& plugin)
{
    auto it = std::find_if(plugins.begin(), plugins.end(), [&](const auto& p) { return p.get() == &plugin; });
    if (it == plugins.end()) throw UsageError("That plug-in is not loaded in this host.");
    (*it)->shut_down();
    // Whatever it left registered would point into the library about to go.
    remove_functions_of(it->get());
    plugins.erase(it);
}

void HostState::collect_raised()
{
    if (raised) startup_errors.push_back(raised->message);
    raised = {};
    // The pending error of the last failed host call belongs to the call
    // that just ended.
    pending = {};
}

}  // namespace lumadex::host
