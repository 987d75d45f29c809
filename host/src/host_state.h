// The state behind a Host: the C-side objects a plug-in sees (link object,
// host call interface, function registry), the host functions it looks up,
// the pending and raised errors, the script functions it registered, what
// scripts showed, and the loaded plug-ins.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dm/link.h"
#include "lumadex/host/host.h"
#include "object_model.h"
#include "objects.h"
#include "signature.h"

namespace lumadex::host {

class HostState;
struct HostCallArgs;

// One entry of the host's prototype table: a host function, found by its
// exact prototype text.
struct PrototypeEntry {
    std::string_view prototype;
    std::string_view name;  // for messages
    int argc;               // fixed argument count; -1: counted by a "uint32..." run
    void (*run)(HostCallArgs& call);
};

// The prototype table: every host function the host offers.
std::span<const PrototypeEntry> prototype_table();

// Runs one host function call; throws on bad input (the message becomes the
// pending Throwable's).
void run_host_function(HostState& host, const PrototypeEntry& entry, void* result, void* const* args, int argc);

}  // namespace lumadex::host

// A handle from the registry's lookup. It stays valid while the host lives;
// once stale, calls through it answer DM_STATUS_STALE.
struct dm_host_function {
    const lumadex::host::PrototypeEntry* entry;
    bool stale = false;
};

namespace lumadex::host {

class LoadedPlugin;

struct ScriptFunction {
    std::uint64_t id;
    ScriptSignature signature;
    void* handler;
    const LoadedPlugin* owner;  // the plug-in that registered it, if any
};

class HostState {
public:
    explicit HostState(std::uint32_t version);
    ~HostState();
    HostState(const HostState&) = delete;
    HostState& operator=(const HostState&) = delete;

    std::uint32_t version;
    const std::shared_ptr<ObjectBook> book = std::make_shared<ObjectBook>();

    // --- what the plug-in is handed -----------------------------------------
    // The link object, host call interface and registry, in one block that
    // outlives the host when a plug-in still holds a reference at the end
    // (it then answers as a host that is gone, instead of pointing to freed
    // memory).
    struct Ports;
    Ports* ports;
    dm_link* link();
    dm_host_call* host_call();

    // --- host functions ---------------------------------------------------
    struct Prototype {
        const PrototypeEntry* entry;
        dm_host_function* current = nullptr;  // what lookup hands out
        bool withdrawn = false;
        bool stale_next = false;  // the next handle made starts stale
    };
    std::map<std::string, Prototype, std::less<>> prototypes;
    std::vector<std::unique_ptr<dm_host_function>> function_handles;  // every handle made

    dm_host_function* lookup(std::string_view prototype);
    std::int32_t call_host_function(dm_host_function* function, void* result, void* const* args, int argc);
    Prototype& known_prototype(std::string_view prototype);  // UsageError when unknown

    // --- errors -------------------------------------------------------------
    Ref<ThrowableObject> pending;  // of the last failed host call
    Ref<ThrowableObject> raised;   // raised by the running handler
    Ref<ThrowableObject> make_throwable(std::string message);
    std::int32_t fail(std::int32_t status, std::string message);  // sets `pending`

    // --- script functions ---------------------------------------------------
    std::vector<ScriptFunction> script_functions;  // registration order
    std::uint64_t next_function_id = 1;
    const LoadedPlugin* serving = nullptr;  // plug-in whose code is running

    dm_object* add_function(std::string_view signature, const dm_handler_descriptor* handler);
    std::int32_t remove_function(dm_object* function);
    void remove_functions_of(const LoadedPlugin* plugin);
    Value call_script(std::string_view name, std::span<Argument> args);

    // --- what scripts showed ------------------------------------------------
    std::vector<std::string> results;
    std::vector<std::pair<std::string, std::int32_t>> alerts;

    // --- plug-ins -------------------------------------------------------------
    std::vector<std::unique_ptr<LoadedPlugin>> plugins;
    std::vector<std::string> startup_errors;
    Plugin& load_plugin(const std::filesystem::path& path);
    void unload_plugin(Plugin& plugin);
    // Moves a Throwable raised outside a script call into startup_errors.
    void collect_raised();
};

}  // namespace lumadex::host
