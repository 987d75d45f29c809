// The shape every script-call handler shares, written once.
//
// A handler states only its own checks and algorithm as a body; the frame
// times the call under the handler's counter name, turns the body's result
// into what the host expects, and reports any exception as a script error,
// returning the failure value instead:
//
//   dm_object* PureFFTDM(dm_object* cimSrc, double fScale, dm_object* cimDst)
//   {
//       return zep::ScriptCall("zep::PureFFTDM", [&] { ...; return destination; });
//   }
//
// Argument handles are borrowed from the host; a body that keeps one takes
// its own reference with Image::Borrow, which the frame's unwinding gives
// back on every path.
#pragma once

#include <optional>
#include <type_traits>

#include "CallTracing.h"
#include "Errors.h"
#include "HostObjects.h"

namespace zep {

namespace detail {

// What the host receives for a body's result: handles pass their reference
// on, numbers pass as they are.
template <class Result>
struct ScriptValue {
    using type = Result;
    static Result From(Result value) { return value; }
};
template <Gatan::DM::ClassId Class>
struct ScriptValue<Gatan::DM::Handle<Class>> {
    using type = dm_object*;
    static dm_object* From(Gatan::DM::Handle<Class> handle) { return handle.release(); }
};

}  // namespace detail

// Runs `body` timed under `counterName` (untimed when null) and returns its
// result as the host expects it; after a reported failure returns `failure`.
template <class Body, class Value = std::invoke_result_t<Body&>,
          class Result = typename detail::ScriptValue<Value>::type>
Result ScriptCallOr(const char* counterName, Result failure, Body&& body)
{
    try {
        std::optional<CallTimer> timer;
        if (counterName) timer.emplace(counterName);
        return detail::ScriptValue<Value>::From(body());
    } catch (...) {
        Gatan::ReportCurrentException(nullptr);
    }
    return failure;
}

// The same with null, zero or nothing as the failure value.
template <class Body>
auto ScriptCall(const char* counterName, Body&& body)
{
    using Value = std::invoke_result_t<Body&>;
    if constexpr (std::is_void_v<Value>)
        ScriptCallOr(counterName, false, [&] {
            body();
            return false;
        });
    else
        return ScriptCallOr(counterName, typename detail::ScriptValue<Value>::type{}, body);
}

}  // namespace zep
