#include <fftw3.h>
#include <sleef.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "mkl_service.h"

extern "C" char* openblas_get_config(void);

namespace {

// "Lumadex numeric layer 2.3.0 (FFTW fftw-3.3.10-...; OpenBLAS 0.3.21 ...;
// SLEEF 3.5.1)". FFTW and OpenBLAS report their versions at run time; SLEEF
// has only its header's.
std::string VersionText()
{
    std::string text = "Lumadex numeric layer " + std::to_string(LUMADEX_VERSION_MAJOR) + "." +
                       std::to_string(LUMADEX_VERSION_MINOR) + "." + std::to_string(LUMADEX_VERSION_PATCH);
    text += std::string(" (FFTW ") + fftw_version;
    if (const char* blas = openblas_get_config()) text += std::string("; ") + blas;
    text += "; SLEEF " + std::to_string(SLEEF_VERSION_MAJOR) + "." + std::to_string(SLEEF_VERSION_MINOR) + "." +
            std::to_string(SLEEF_VERSION_PATCHLEVEL);
    return text + ")";
}

}  // namespace

extern "C" void mkl_serv_getversion(MKLVersion* version)
{
    if (!version) return;
    version->MajorVersion = LUMADEX_VERSION_MAJOR;
    version->MinorVersion = LUMADEX_VERSION_MINOR;
    version->UpdateVersion = LUMADEX_VERSION_PATCH;
    version->ProductStatus = "Product";
    version->Build = LUMADEX_VERSION;
    version->Processor = "x86-64";
    version->Platform = "Linux";
}

extern "C" void mkl_serv_getversionstring_c(char* buffer, int length)
{
    if (!buffer || length < 1) return;
    const std::string text = VersionText();
    const std::size_t kept = std::min(text.size(), static_cast<std::size_t>(length - 1));
    std::memcpy(buffer, text.data(), kept);
    buffer[kept] = '\0';
}
