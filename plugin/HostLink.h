// The plug-in's side of the host link.
//
// DMPlugIn_Link_2 parks the host's link object in a module-wide slot;
// PlugInStartup takes it out and makes it the host context, through which
// every later host call goes: class tables for reference counting, the host
// call interface for errors, and host functions found by prototype text.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "HostObjects.h"
#include "dm/host_functions.h"
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

// The host functions of abi/dm/host_functions.h, one type each: the
// prototype text the host finds it by and its C signature.
namespace HostFn {
#define ZEP_HOST_FUNCTION_TYPE(ID, PROTOTYPE, RESULT, PARAMETERS) \
    struct ID {                                                   \
        static constexpr const char* kPrototype = PROTOTYPE;      \
        using Signature = RESULT PARAMETERS;                      \
    };
DM_HOST_FUNCTIONS(ZEP_HOST_FUNCTION_TYPE)
#undef ZEP_HOST_FUNCTION_TYPE
}  // namespace HostFn

// A host function found by its exact prototype text on first use and
// reused afterwards. Calls throw dmplugin_exception carrying the host's
// Throwable when the host answers a non-zero status; a stale function
// (status 3) is looked up again and the call repeated once.
class HostFunctionHandle {
public:
    explicit constexpr HostFunctionHandle(const char* prototype) : prototype_(prototype) {}
    HostFunctionHandle(const HostFunctionHandle&) = delete;
    HostFunctionHandle& operator=(const HostFunctionHandle&) = delete;

    const char* prototype() const { return prototype_; }

    // argv[i] points to argument i, of the C type its prototype word maps to
    // (abi/dm/function_registry.h); result to storage of the result's type.
    void Invoke(void* result, void* const* argv, int argc);

private:
    dm_host_function* Find(dm_host_call* host);

    const char* prototype_;
    dm_host_function* function_ = nullptr;
    dm_host_call* found_in_ = nullptr;
    std::uint64_t found_in_generation_ = 0;
};

// The host function Fn (a HostFn type), called with its signature: each
// argument is converted to its parameter's C type before its address is
// handed over, so that the host reads what the list says it reads.
template <class Fn, class Signature = typename Fn::Signature>
class HostFunction;

template <class Fn, class Result, class... Parameters>
class HostFunction<Fn, Result(Parameters...)> : public HostFunctionHandle {
public:
    constexpr HostFunction() : HostFunctionHandle(Fn::kPrototype) {}

    Result operator()(Parameters... args)
    {
        void* argv[sizeof...(Parameters) + 1] = {static_cast<void*>(&args)...};
        if constexpr (std::is_void_v<Result>) {
            Invoke(nullptr, argv, sizeof...(Parameters));
        } else {
            Result result{};
            Invoke(&result, argv, sizeof...(Parameters));
            return result;
        }
    }
};

// A function whose prototype ends in a "uint32..." run: the fixed
// parameters (the last of them the run's count), then the run's values.
template <class Fn, class Result, class... Parameters>
class HostFunction<Fn, Result(Parameters..., ...)> : public HostFunctionHandle {
public:
    constexpr HostFunction() : HostFunctionHandle(Fn::kPrototype) {}

    Result operator()(Parameters... args, std::span<const std::uint32_t> run)
    {
        std::vector<void*> argv = {static_cast<void*>(&args)...};
        for (const std::uint32_t& value : run) argv.push_back(const_cast<std::uint32_t*>(&value));
        Result result{};
        Invoke(&result, argv.data(), static_cast<int>(argv.size()));
        return result;
    }
};

// Takes over the host's pending error after a call answered a non-zero
// status: dmplugin_exception with the host's Throwable.
[[noreturn]] void ThrowPendingError(dm_host_call* host);

inline constexpr const char* kNewThrowableFromString = HostFn::NewThrowableFromString::kPrototype;

// A new Throwable carrying `text`, made by the host.
DM::Throwable NewThrowableFromString(std::string_view text);

// --- strings ---------------------------------------------------------------------

// A new host string holding `text`.
DM::String MakeString(std::string_view text);
// The text of a host string ("" for a null handle).
std::string StringText(const DM::String& string);

}  // namespace Gatan::PlugIn
