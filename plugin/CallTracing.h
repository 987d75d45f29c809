// Call counters: how often each script-call frame and plug-in entry point ran
// and how many performance-counter ticks it spent.
//
// Counters are keyed by the address of the caller's name literal, so every
// frame has its own entry and frames share one only by passing one literal.
// The store lives while the library is loaded; it is read as a host tag group
// by ZEPDLLTraceGetCounter and emptied by ZEPDLLTraceInit.
#pragma once

#include <cstdint>
#include <map>

#include "Export.h"
#include "dm/object.h"

namespace zep {

struct CallCounter {
    std::int64_t ticks = 0;
    std::int32_t count = 0;
};

// Adds one call and `ticks` to the counter `name`.
ZEP_EXPORT void DLLTraceAddCounter(const char* name, std::int64_t ticks);

// The store, in key order (name addresses).
const std::map<const char*, CallCounter>& CallCounters();

// Script functions "DLLTraceInit()" and "DLLTraceGetCounter()".
void DLLTraceInitHandler();
dm_object* DLLTraceGetCounterHandler();

// A scope that times one call: on destruction, also while an exception
// passes, it adds the elapsed ticks to the counter `name`.
class CallTimer {
public:
    explicit CallTimer(const char* name);
    ~CallTimer();
    CallTimer(const CallTimer&) = delete;
    CallTimer& operator=(const CallTimer&) = delete;

private:
    const char* name_;
    std::int64_t start_;
};

}  // namespace zep
