// What the Python objects hold: one Session per lumadex.Host, shared by every
// image made in it, so that no host object outlives the host that owns it.
#pragma once

#include <cstdint>
#include <memory>
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

// A pixel lock and its image. Numpy views over the locked pixels have it as
// their base; lock.memory owns the bytes they show, so that no view, however
// long kept, points into freed memory: not after the lock has ended, nor
// after the image's pixels were replaced (a data-type change), the image
// was deleted or the host closed. Releasing ends the lock and gives the image
// back; the bytes stay until the last view goes.
struct PixelLockCore {
    SessionPtr session;
    host::Image image;
    host::PixelLock lock;
};

}  // namespace lumadex::python
