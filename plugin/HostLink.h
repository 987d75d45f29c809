// The plug-in's side of the host link.
//
// DMPlugIn_Link_2 parks the host's link object in a module-wide slot;
// PlugInStartup takes it out and makes it the host context, through which
// every later host call goes: class tables for reference counting, the host
// call interface for errors, and host functions found by prototype text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "HostObjects.h"
#include "dm/link.h"

namespace Gatan::PlugIn {

// --- the module slot and the host context -----------------------------------

// Stores `link` in the module slot: takes a reference to it and gives back
// the one held on the object it replaces. Returns the slot's new content.
dm_link* StoreLinkObject(dm_link* link);

// Takes the link object out of the module slot (the built-in default context
// when the slot is empty), makes it the host context and binds every host
// class table through it, in binding order.
void LinkToHost();

// Gives back the host context and the slot's link object; after this no host
// call is possible. Used when the library is unloaded.
void UnlinkFromHost();

// The host version of the current context; 0 for the default context.
std::uint32_t HostVersion();

// The host call interface of the current context; null for the default one.
dm_host_call* HostCallInterface();

// --- host functions ------------------------------------------------------------

// One host function, found by its exact prototype text on first use and
// reused afterwards. Calls throw dmplugin_exception carrying the host's
// Throwable when the host answers a non-zero status; a stale function
// (status 3) is looked up again and the call repeated once.
class HostFunction {
public:
    explicit constexpr HostFunction(const char* prototype) : prototype_(prototype) {}
    HostFunction(const HostFunction&) = delete;
    HostFunction& operator=(const HostFunction&) = delete;

    const char* prototype() const { return prototype_; }

    // Arguments must have exactly the C types the prototype's words map to
    // (abi/dm/function_registry.h).
    template <class Result, class... Args>
    Result Call(Args... args)
    {
        void* argv[sizeof...(Args) + 1] = {static_cast<void*>(&args)...};
        if constexpr (std::is_void_v<Result>) {
            Invoke(nullptr, argv, sizeof...(Args));
        } else {
            Result result{};
            Invoke(&result, argv, sizeof...(Args));
            return result;
        }
    }

    void Invoke(void* result, void* const* argv, int argc);

private:
    dm_host_function* Find(dm_host_call* host);

    const char* prototype_;
    dm_host_function* function_ = nullptr;
    dm_host_call* found_in_ = nullptr;
    std::uint64_t found_in_generation_ = 0;
};

// Takes over the host's pending error after a call answered a non-zero
// status: dmplugin_exception with the host's Throwable.
[[noreturn]] void ThrowPendingError(dm_host_call* host);

inline constexpr const char* kNewThrowableFromString = "Throwable NewThrowableFromString( dm_string )";

// A new Throwable carrying `text`, made by the host.
DM::Throwable NewThrowableFromString(std::string_view text);

// --- strings ---------------------------------------------------------------------

// A new host string holding `text`.
DM::String MakeString(std::string_view text);
// The text of a host string ("" for a null handle).
std::string StringText(const DM::String& string);

}  // namespace Gatan::PlugIn
