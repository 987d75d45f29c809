#include "plugin_loader.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <string>

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

// The file names of every object loaded in the process.
std::set<std::string> loaded_objects()
{
    std::set<std::string> names;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            if (info->dlpi_name && *info->dlpi_name) static_cast<std::set<std::string>*>(data)->insert(info->dlpi_name);
            return 0;
        },
        &names);
    return names;
}

// Keeps the libraries a plug-in brought into the process loaded after the
// plug-in itself is unloaded. Runtime libraries start threads that outlive
// the calls that made them (OpenMP's worker pool, for one); unmapping their
// code under those threads would crash the process.
void pin_libraries_loaded_with(void* library, const std::set<std::string>& before)
{
    link_map* self = nullptr;
    if (dlinfo(library, RTLD_DI_LINKMAP, &self) != 0) self = nullptr;
    for (const std::string& name : loaded_objects()) {
        if (before.count(name) || (self && self->l_name && name == self->l_name)) continue;
        if (void* pinned = dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE)) dlclose(pinned);
    }
}

// The plug-in libraries some host holds, across every host of the process.
struct ClaimedLibraries {
    std::mutex mutex;
    std::set<void*> libraries;
};

ClaimedLibraries& claimed_libraries()
{
    static ClaimedLibraries claims;
    return claims;
}

bool claim_library(void* library)
{
    ClaimedLibraries& claims = claimed_libraries();
    std::lock_guard lock(claims.mutex);
    return claims.libraries.insert(library).second;
}

void release_library(void* library)
{
    ClaimedLibraries& claims = claimed_libraries();
    std::lock_guard lock(claims.mutex);
    claims.libraries.erase(library);
}

// The file of the program or shared library this code is linked into.
std::filesystem::path this_object_file()
{
    Dl_info info{};
    link_map* object = nullptr;
    if (!dladdr1(reinterpret_cast<void*>(&this_object_file), &info, reinterpret_cast<void**>(&object),
                 RTLD_DL_LINKMAP))
        return {};
    // The main program has no name in its link map (dladdr gives argv[0]).
    if (!object || !object->l_name || !*object->l_name) {
        std::error_code error;
        return std::filesystem::read_symlink("/proc/self/exe", error);
    }
    return object->l_name;
}

}  // namespace

std::filesystem::path default_plugin_path()
{
    // Relative to the folder of the object the host code runs in; set by
    // host/CMakeLists.txt from the install layout (cmake/LumadexInstallDirs.cmake).
    static constexpr const char* relative[] = {LUMADEX_PLUGIN_SEARCH};
    std::error_code error;
    const std::filesystem::path object = std::filesystem::weakly_canonical(this_object_file(), error);
    if (!object.empty()) {
        for (const char* candidate : relative) {
            const std::filesystem::path path = (object.parent_path() / candidate).lexically_normal();
            if (std::filesystem::is_regular_file(path, error)) return path;
        }
    }
    const std::filesystem::path installed = LUMADEX_PLUGIN_INSTALLED_PATH;
    if (std::filesystem::is_regular_file(installed, error)) return installed;
    return {};
}

LoadedPlugin::LoadedPlugin(HostState& host, std::filesystem::path path) : host_(host), path_(std::move(path))
{
    const std::set<std::string> before = loaded_objects();
    library_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library_) {
        const char* why = dlerror();
        throw UsageError("Cannot load " + path_.string() + ": " + (why ? why : "unknown reason") + ".");
    }
    pin_libraries_loaded_with(library_, before);
    bool claimed_here = false;
    try {
        // A library exists once per process and links to one host at a time:
        // a second host would take it away from the first.
        if (!claim_library(library_))
            throw UsageError(path_.string() + " is loaded already, by this or another host.");
        claimed_here = true;
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
        if (claimed_here) release_library(library_);
        dlclose(library_);
        throw;
    }
}

LoadedPlugin::~LoadedPlugin()
{
    if (!library_) return;
    release_library(library_);
    dlclose(library_);
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
