// Test helpers: the host's C side as a plug-in sees it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dm/image_data.h"
#include "dm/link.h"
#include "lumadex/host/host.h"

namespace lumadex::host::testing {

class Abi {
public:
    explicit Abi(Host& host)
        : link(host.link()), call_interface(link->vtbl->host_call_interface(link)),
          registry(call_interface->vtbl->function_registry(call_interface))
    {
    }

    dm_host_function* lookup(const char* prototype) { return registry->vtbl->lookup(registry, prototype); }

    // Calls the host function `prototype` with arguments of the C types its
    // words stand for; returns the status.
    template <class... Args>
    std::int32_t call(const char* prototype, void* result, Args... args)
    {
        dm_host_function* function = lookup(prototype);
        EXPECT_NE(function, nullptr) << prototype;
        if (!function) return -1;
        void* argv[sizeof...(Args) + 1] = {static_cast<void*>(&args)...};
        return call_interface->vtbl->call_function(call_interface, function, result, argv, sizeof...(Args));
    }

    // The text of a Throwable, or "" for null.
    std::string text(dm_object* throwable)
    {
        const std::int32_t length = call_interface->vtbl->throwable_text(call_interface, throwable, nullptr, 0);
        if (length < 0) return {};
        std::string text(static_cast<std::size_t>(length), '\0');
        call_interface->vtbl->throwable_text(call_interface, throwable, text.data(), length + 1);
        return text;
    }

    // The pending error's text, taken and cleared.
    std::string take_error()
    {
        ObjectHandle pending = ObjectHandle::adopt(call_interface->vtbl->pending_throwable(call_interface));
        call_interface->vtbl->clear_error(call_interface);
        return text(pending.get());
    }

    // A new host string.
    ObjectHandle string(const std::string& text)
    {
        const dm_class_table* table = link->vtbl->class_table(link, 0, DM_CLASS_STRING);
        return ObjectHandle::adopt(table->string_from_text(text.data(), text.data() + text.size()));
    }

    dm_link* link;
    dm_host_call* call_interface;
    dm_function_registry* registry;
};

inline std::int64_t live_total(const Host& host) { return host.live_objects().total; }

}  // namespace lumadex::host::testing
