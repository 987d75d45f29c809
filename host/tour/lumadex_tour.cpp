// lumadex-tour: load a plug-in into the host stand-in and show what it did.
//
//   lumadex-tour path/to/plugin.so
//
// Prints the host version, the signatures the plug-in registered, the errors
// it raised while starting, and the host objects still alive once it is
// unloaded (none, for a plug-in that gives back what it takes).
#include <cstdio>
#include <exception>

#include "lumadex/host/host.h"

namespace {

void print_live_objects(const lumadex::host::LiveObjects& live)
{
    std::printf("live objects after unloading: %lld\n", static_cast<long long>(live.total));
    for (const auto& [class_id, count] : live.by_class)
        std::printf("  %s: %lld\n", class_id.c_str(), static_cast<long long>(count));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s path/to/plugin.so\n", argv[0]);
        return 2;
    }
    try {
        lumadex::host::Host host;
        const std::uint32_t version = host.version();
        std::printf("host version: %u.%u.%u (0x%08X)\n", version >> 24, (version >> 16) & 0xFF, (version >> 8) & 0xFF,
                    version);
        lumadex::host::Plugin& plugin = host.load_plugin(argv[1]);
        std::printf("loaded: %s\n", plugin.path().c_str());

        const auto signatures = host.signatures();
        std::printf("registered signatures: %zu\n", signatures.size());
        for (const auto& signature : signatures) std::printf("  %s\n", signature.c_str());

        const auto errors = host.startup_errors();
        std::printf("start-up errors: %zu\n", errors.size());
        for (const auto& error : errors) std::printf("  %s\n", error.c_str());

        host.unload_plugin(plugin);
        print_live_objects(host.live_objects());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumadex-tour: %s\n", error.what());
        return 1;
    }
}
