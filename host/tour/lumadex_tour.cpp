// lumadex-tour: load a plug-in into the host stand-in and show what it did.
//
//   lumadex-tour [path/to/plugin.so]
//   lumadex-tour --help | --version
//
// Without a path it loads the plug-in that belongs with it: the one built
// beside it, or the installed one (lumadex::host::default_plugin_path()).
// Prints the host version, the signatures the plug-in registered, the errors
// it raised while starting, and the host objects still alive once it is
// unloaded (none, for a plug-in that gives back what it takes).
#include <cstdio>
#include <cstring>
#include <exception>

#include "command_line.h"
#include "lumadex/host/host.h"

namespace {

void print_live_objects(const lumadex::host::LiveObjects& live)
{
    std::printf("live objects after unloading: %lld\n", static_cast<long long>(live.total));
    for (const auto& [class_id, count] : live.by_class)
        std::printf("  %s: %lld\n", class_id.c_str(), static_cast<long long>(count));
}

void print_usage(std::FILE* out)
{
    std::fprintf(out,
                 "usage: lumadex-tour [path/to/plugin.so]\n"
                 "\n"
                 "Loads a plug-in into the host stand-in and prints the host version, the\n"
                 "script functions it registered, the errors it raised while starting and\n"
                 "the host objects still alive once it is unloaded. Without a path, the\n"
                 "plug-in built or installed with this program.\n"
                 "\n"
                 "  --help     show this help and exit\n"
                 "  --version  show the version and exit\n"
                 "  --         end of options (for a path that begins with '-')\n"
                 "\n"
                 "Exit status: 0 on success, 1 when the plug-in cannot be loaded, 2 for\n"
                 "wrong usage.\n");
}

}  // namespace

int main(int argc, char** argv)
{
    const auto parsed = lumadex::tools::parse({"lumadex-tour", print_usage, nullptr, 1}, argc, argv);
    if (const int* status = std::get_if<int>(&parsed)) return *status;
    const auto& operands = std::get<std::vector<const char*>>(parsed);
    const char* path = operands.empty() ? nullptr : operands[0];
    std::filesystem::path plugin_path = path ? std::filesystem::path(path) : lumadex::host::default_plugin_path();
    if (plugin_path.empty()) {
        std::fprintf(stderr, "lumadex-tour: no plug-in found beside this program or installed; name one\n");
        return 1;
    }
    try {
        lumadex::host::Host host;
        const std::uint32_t version = host.version();
        std::printf("host version: %u.%u.%u (0x%08X)\n", version >> 24, (version >> 16) & 0xFF, (version >> 8) & 0xFF,
                    version);
        lumadex::host::Plugin& plugin = host.load_plugin(plugin_path);
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
