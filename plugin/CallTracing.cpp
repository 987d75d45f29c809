#include "CallTracing.h"

#include <string>

#include "HostLink.h"
#include "os_services.h"

namespace zep {
namespace {

std::map<const char*, CallCounter>& Store()
{
    static std::map<const char*, CallCounter> store;
    return store;
}

std::int64_t Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// The counter's tag path: the tag-path separator ':' may not appear in it.
std::string TagName(const char* counterName)
{
    std::string name = counterName;
    for (char& c : name)
        if (c == ':') c = '_';
    return name;
}

}  // namespace

void DLLTraceAddCounter(const char* name, std::int64_t ticks)
{
    CallCounter& counter = Store()[name];
    counter.ticks += ticks;
    counter.count += 1;
}

const std::map<const char*, CallCounter>& CallCounters() { return Store(); }

void DLLTraceInitHandler()
{
    try {
        Store().clear();
    } catch (...) {
    }
}

dm_object* DLLTraceGetCounterHandler()
{
    using Gatan::PlugIn::HostFunction;
    namespace HostFn = Gatan::PlugIn::HostFn;
    try {
        static HostFunction<HostFn::NewTagGroup> newTagGroup;
        static HostFunction<HostFn::TagGroupSetTagAsDouble> setDouble;
        static HostFunction<HostFn::TagGroupSetTagAsLong> setLong;

        Gatan::DM::TagGroup tags = Gatan::DM::TagGroup::Adopt(newTagGroup());
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        for (const auto& [name, counter] : Store()) {
            const std::string tag = TagName(name);
            const double seconds = static_cast<double>(counter.ticks) / static_cast<double>(frequency.QuadPart);
            Gatan::DM::String ticksPath = Gatan::PlugIn::MakeString(tag + ":Ticks");
            setDouble(tags.get(), ticksPath.get(), seconds);
            Gatan::DM::String countPath = Gatan::PlugIn::MakeString(tag + ":Count");
            setLong(tags.get(), countPath.get(), counter.count);
        }
        return tags.release();
    } catch (...) {
        // The counters are a profiling aid: a failure here is not the
        // script's concern, it only gets no tag group.
        return nullptr;
    }
}

CallTimer::CallTimer(const char* name) : name_(name), start_(Now()) {}

CallTimer::~CallTimer()
{
    try {
        DLLTraceAddCounter(name_, Now() - start_);
    } catch (...) {
        // Out of memory for a new counter entry: the call goes uncounted.
    }
}

}  // namespace zep
