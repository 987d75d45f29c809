#include "host_state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "dm/script_handler.h"
#include "plugin_loader.h"

namespace lumadex::host {

// Each wrapper starts with its abi/dm struct, so a pointer to the struct is a
// pointer to the wrapper.
struct HostState::Ports {
    struct Link {
        dm_link base;
        Ports* ports;
    } link;
    struct Call {
        dm_host_call base;
        Ports* ports;
    } call;
    struct Registry {
        dm_function_registry base;
        Ports* ports;
    } registry;
    HostState* host;  // null once the host is gone
    std::int64_t link_references = 1;  // one is the host's own
    std::int64_t call_references = 1;
};

namespace {

using Ports = HostState::Ports;

Ports& ports_of(dm_link* self) { return *reinterpret_cast<Ports::Link*>(self)->ports; }
Ports& ports_of(dm_host_call* self) { return *reinterpret_cast<Ports::Call*>(self)->ports; }
Ports& ports_of(dm_function_registry* self) { return *reinterpret_cast<Ports::Registry*>(self)->ports; }
template <class C>
HostState* host_of(C* self)
{
    return ports_of(self).host;
}

// --- link object (link.h) ---------------------------------------------------

// The block goes with the last reference once the host is gone.
void release_ports_if_unused(Ports& ports)
{
    if (!ports.host && ports.link_references <= 0 && ports.call_references <= 0) delete &ports;
}

void link_add_ref(dm_link* self) { ++ports_of(self).link_references; }
void link_release(dm_link* self)
{
    Ports& ports = ports_of(self);
    --ports.link_references;
    release_ports_if_unused(ports);
}
std::uint32_t link_host_version(dm_link* self)
{
    const HostState* host = host_of(self);
    return host ? host->version : 0;
}
dm_host_call* link_host_call(dm_link* self) { return &ports_of(self).call.base; }
const dm_class_table* link_class_table(dm_link*, std::int32_t, const char* class_id)
{
    return class_id ? class_table_for(class_id) : nullptr;
}

const dm_link_vtbl kLinkTable = {link_add_ref, link_release, link_host_version, link_host_call, link_class_table};

// --- host call interface (host_call.h) --------------------------------------

void call_add_ref(dm_host_call* self) { ++ports_of(self).call_references; }
void call_release(dm_host_call* self)
{
    Ports& ports = ports_of(self);
    --ports.call_references;
    release_ports_if_unused(ports);
}
void call_clear_error(dm_host_call* self)
{
    if (HostState* host = host_of(self)) host->pending = {};
}

// The text of an error pair: codes 28802 and 28803 carry a text (28803 may
// carry none); any other code is shown by number.
std::string error_pair_text(std::int32_t code, std::intptr_t param)
{
    if (code == 28802 || code == 28803) {
        const auto* text = reinterpret_cast<const char*>(param);
        return text ? std::string(text) : std::string("An unspecified error has occurred.");
    }
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, "An error (%d,%lld) has occurred.", static_cast<int>(code),
                  static_cast<long long>(param));
    return buffer;
}

dm_object* call_throwable_from_error(dm_host_call* self, std::int32_t code, std::intptr_t param)
{
    HostState* host = host_of(self);
    if (!host) return nullptr;
    try {
        return host->make_throwable(error_pair_text(code, param)).release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::int32_t call_throwable_text(dm_host_call*, dm_object* object, char* buffer, std::int32_t size)
{
    const auto* throwable = object_cast<ThrowableObject>(object);
    const std::string_view text = throwable ? std::string_view(throwable->message) : std::string_view();
    if (buffer && size > 0) {
        const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(size) - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return throwable ? static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX)) : -1;
}

dm_object* call_pending_throwable(dm_host_call* self)
{
    HostState* host = host_of(self);
    return host ? Ref<ThrowableObject>(host->pending).release() : nullptr;
}

void call_raise_throwable(dm_host_call* self, dm_object* object)
{
    HostState* host = host_of(self);
    if (!host) return;
    if (auto* throwable = object_cast<ThrowableObject>(object)) {
        host->raised = Ref<ThrowableObject>::borrow(throwable);
        return;
    }
    // Raising something that is not a Throwable is itself an error the
    // script must see.
    try {
        host->raised = host->make_throwable("A plug-in raised an object that is not a Throwable.");
    } catch (const std::bad_alloc&) {
    }
}

std::int32_t call_call_function(dm_host_call* self, dm_host_function* function, void* result, void* const* args,
                                std::int32_t argc)
{
    HostState* host = host_of(self);
    return host ? host->call_host_function(function, result, args, argc) : DM_STATUS_ERROR;
}

dm_function_registry* call_function_registry(dm_host_call* self) { return &ports_of(self).registry.base; }

dm_host_call_vtbl make_host_call_table()
{
    dm_host_call_vtbl table{};
    table.add_ref = call_add_ref;
    table.release = call_release;
    table.clear_error = call_clear_error;
    table.throwable_from_error = call_throwable_from_error;
    table.throwable_text = call_throwable_text;
    table.pending_throwable = call_pending_throwable;
    table.raise_throwable = call_raise_throwable;
    table.call_function = call_call_function;
    table.function_registry = call_function_registry;
    return table;
}

const dm_host_call_vtbl kHostCallTable = make_host_call_table();

// --- function registry (function_registry.h) --------------------------------

dm_host_function* registry_lookup(dm_function_registry* self, const char* prototype)
{
    HostState* host = host_of(self);
    if (!host || !prototype) return nullptr;
    try {
        return host->lookup(prototype);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

dm_object* registry_add_function(dm_function_registry* self, const char* begin, const char* end,
                                 const dm_handler_descriptor* handler)
{
    HostState* host = host_of(self);
    if (!host) return nullptr;
    if (!begin || !end || end < begin) {
        host->fail(DM_STATUS_ERROR, "add_function: the signature text is missing.");
        return nullptr;
    }
    return host->add_function(std::string_view(begin, static_cast<std::size_t>(end - begin)), handler);
}

std::int32_t registry_remove_function(dm_function_registry* self, dm_object* function)
{
    HostState* host = host_of(self);
    return host ? host->remove_function(function) : DM_STATUS_ERROR;
}

const dm_function_registry_vtbl kRegistryTable = {registry_lookup, registry_add_function, registry_remove_function};

}  // namespace

HostState::HostState(std::uint32_t version) : version(version), ports(new Ports{})
{
    ports->link = {{&kLinkTable}, ports};
    ports->call = {{&kHostCallTable}, ports};
    ports->registry = {{&kRegistryTable}, ports};
    ports->host = this;
    for (const PrototypeEntry& entry : prototype_table())
        prototypes.emplace(std::string(entry.prototype), Prototype{&entry});
    add_host_book(book);
}

HostState::~HostState()
{
    while (!plugins.empty()) unload_plugin(*plugins.back());
    script_functions.clear();
    pending = {};
    raised = {};
    remove_host_book(book);
    // Give back the host's own references; a plug-in that still holds the
    // link (one whose library stays loaded) frees the block when it lets go,
    // and meanwhile sees a host that is gone.
    ports->host = nullptr;
    --ports->link_references;
    --ports->call_references;
    release_ports_if_unused(*ports);
}

dm_link* HostState::link() { return &ports->link.base; }
dm_host_call* HostState::host_call() { return &ports->call.base; }

// --- host functions -----------------------------------------------------------

HostState::Prototype& HostState::known_prototype(std::string_view prototype)
{
    auto it = prototypes.find(prototype);
    if (it == prototypes.end()) throw UsageError("The host has no function \"" + std::string(prototype) + "\".");
    return it->second;
}

dm_host_function* HostState::lookup(std::string_view prototype)
{
    auto it = prototypes.find(prototype);
    if (it == prototypes.end() || it->second.withdrawn) return nullptr;
    Prototype& known = it->second;
    if (!known.current || known.current->stale) {
        function_handles.push_back(std::make_unique<dm_host_function>(dm_host_function{known.entry, known.stale_next}));
        known.stale_next = false;
        known.current = function_handles.back().get();
    }
    return known.current;
}

std::int32_t HostState::call_host_function(dm_host_function* function, void* result, void* const* args, int argc)
{
    const bool known = std::any_of(function_handles.begin(), function_handles.end(),
                                   [&](const auto& handle) { return handle.get() == function; });
    if (!known) return fail(DM_STATUS_ERROR, "call_function: the function handle is not one the host handed out.");
    const PrototypeEntry& entry = *function->entry;
    if (function->stale || prototypes.find(entry.prototype)->second.withdrawn)
        return fail(DM_STATUS_STALE, std::string(entry.name) + ": the function handle is stale; look it up again.");
    try {
        run_host_function(*this, entry, result, args, argc);
        return DM_STATUS_OK;
    } catch (const std::bad_alloc&) {
        return fail(DM_STATUS_ERROR, std::string(entry.name) + ": out of memory.");
    } catch (const std::exception& error) {
        return fail(DM_STATUS_ERROR, std::string(entry.name) + ": " + error.what());
    }
}

// --- errors ---------------------------------------------------------------------

Ref<ThrowableObject> HostState::make_throwable(std::string message)
{
    return make_object<ThrowableObject>(book, std::move(message));
}

std::int32_t HostState::fail(std::int32_t status, std::string message)
{
    try {
        pending = make_throwable(std::move(message));
    } catch (const std::bad_alloc&) {
        pending = {};
    }
    return status;
}

// --- script functions -------------------------------------------------------

dm_object* HostState::add_function(std::string_view text, const dm_handler_descriptor* handler)
{
    try {
        if (!handler || handler->kind != DM_HANDLER_C_FUNCTION || !handler->address)
            throw UsageError("Cannot register \"" + std::string(text) +
                             "\": the handler is not a C function (kind 3) with an address.");
        ScriptSignature signature = parse_signature(text);
        for (const ScriptFunction& other : script_functions) {
            const auto& a = other.signature.parameters;
            const auto& b = signature.parameters;
            const bool same_form = other.signature.name == signature.name && a.size() == b.size() &&
                                   std::equal(a.begin(), a.end(), b.begin(),
                                              [](const auto& x, const auto& y) { return x.type == y.type; });
            if (same_form)
                throw UsageError("Cannot register \"" + std::string(text) + "\": \"" + other.signature.text +
                                 "\" takes the same arguments.");
        }
        const std::uint64_t id = next_function_id++;
        Ref<FunctionObject> function = make_object<FunctionObject>(book, id, signature.text);
        script_functions.push_back({id, std::move(signature), handler->address, serving});
        return function.release();
    } catch (const std::bad_alloc&) {
        fail(DM_STATUS_ERROR, "add_function: out of memory.");
    } catch (const std::exception& error) {
        fail(DM_STATUS_ERROR, error.what());
    }
    return nullptr;
}

std::int32_t HostState::remove_function(dm_object* object)
{
    const auto* function = object_cast<FunctionObject>(object);
    if (!function) return fail(DM_STATUS_ERROR, "remove_function: the handle is not a live Function.");
    auto it = std::find_if(script_functions.begin(), script_functions.end(),
                           [&](const ScriptFunction& f) { return f.id == function->registration; });
    if (it == script_functions.end())
        return fail(DM_STATUS_ERROR, "remove_function: \"" + function->signature + "\" is not registered.");
    script_functions.erase(it);
    return DM_STATUS_OK;
}

void HostState::remove_functions_of(const LoadedPlugin* plugin)
{
    std::erase_if(script_functions, [&](const ScriptFunction& f) { return f.owner == plugin; });
}

}  // namespace lumadex::host
