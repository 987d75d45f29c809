// What the Python objects hold: one Session per lumadex.Host, shared by every
// image made in it, so that no host object outlives the host that owns it.
#pragma once

#include <memory>
#include <cstdint>
#include <string>

#include "lumadex/host/host.h"

namespace lumadex::python {

namespace host = lumadex::host;

// A host and the plug-in loaded into it. Closing unloads the plug-in; the host
// itself lives on until the last Python object that refers to it is gone,
// because images released later still give their references back to it.
struct Session : std::enable_shared_from_this<Session> {
    Session() : host(std::make_unique<host::Host>()) {}  // the host's default version
    explicit Session(std::uint32_t version) : host(std::make_unique<host::Host>(version)) {}
    ~Session() {
        try {
            close();
        } catch (...) {
            // The host's own destructor unloads whatever is still loaded.
        }
    }

    // Shuts the plug-in down and unloads it; the session accepts no more calls.
    void close() {
        closed = true;
        if (plugin != nullptr) {
            host::Plugin* loaded = plugin;
            plugin = nullptr;
            host->unload_plugin(*loaded);
        }
    }

    std::unique_ptr<host::Host> host;
    host::Plugin* plugin = nullptr;
    bool closed = false;
};

using SessionPtr = std::shared_ptr<Session>;

// An image handle that keeps its host alive. Members are destroyed in reverse
// order: the image gives its reference back before the session may go.
struct ImageCore {
    SessionPtr session;
    host::Image image;
};

// A pixel lock that keeps its image (and so the pixel memory) alive, so that a
// numpy view over the locked pixels can never point into freed memory, even
// if it is used after the lock has ended.
struct PixelLockCore {
    SessionPtr session;
    host::Image image;
    host::PixelLock lock;
};

}  // namespace lumadex::python
