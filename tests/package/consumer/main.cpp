// Loads the installed plug-in through the installed host library and
// transforms an image: the C++ side of scripts/package_smoke.sh.
#include <complex>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "dm/data_types.h"
#include "lumadex/host/host.h"

int main()
{
    using namespace lumadex::host;
    try {
        // The host finds the installed plug-in itself, and it is the one the
        // CMake package names.
        const std::filesystem::path plugin = default_plugin_path();
        if (plugin.empty() || !std::filesystem::equivalent(plugin, LUMADEX_PLUGIN)) {
            std::fprintf(stderr, "consumer: default_plugin_path() gave \"%s\", the package names %s\n",
                         plugin.c_str(), LUMADEX_PLUGIN);
            return 1;
        }
        Host host;
        host.load_plugin(plugin);

        // A constant image transforms into its sum at the origin and zeros elsewhere.
        const std::int64_t sizes[] = {16, 8};
        Image image = host.new_image("ones", DataType::Complex8, sizes);
        std::vector<std::complex<float>> ones(16 * 8, 1.0f);
        image.write_pixels(ones.data(), ones.size() * sizeof ones[0]);
        std::vector<Argument> args = {{Value{image}}, {Value{1.0}}, {Value{}}};
        const Value result = host.call("ZEPPureFFT", args);
        const auto spectrum = std::get<Image>(result).pixels<std::complex<float>>();
        double rest = 0;
        for (std::size_t i = 1; i < spectrum.size(); ++i) rest += std::abs(spectrum[i]);
        if (std::abs(spectrum[0] - std::complex<float>(128.0f)) > 1e-3f || rest > 1e-3) {
            std::fprintf(stderr, "consumer: ZEPPureFFT of ones gave %g%+gi at the origin and %g elsewhere\n",
                         spectrum[0].real(), spectrum[0].imag(), rest);
            return 1;
        }
        std::printf("consumer: Lumadex %s, %s, %zu script functions, ZEPPureFFT of 16 x 8 ones: %g\n",
                    EXPECTED_VERSION, plugin.c_str(), host.signatures().size(), spectrum[0].real());
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "consumer: %s\n", error.what());
        return 1;
    }
}
