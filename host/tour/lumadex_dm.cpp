// lumadex-dm: what a DM3 / DM4 file holds, as the host stand-in reads it.
//
//   lumadex-dm [--tags] file.dm4 [more files...]
//   lumadex-dm --help | --version
//
// Prints each image's name, data type, shape (x first) and per-dimension
// calibration (origin, scale, units); with --tags also the image's tag tree
// with the stored type of every tag. Control characters in names and texts
// are shown escaped (\xNN, \u{NN}), never sent to the terminal. A file that
// cannot be read is reported on stderr and the exit status is 1; wrong usage
// (an unknown option, no file) gives exit status 2.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "command_line.h"
#include "lumadex/host/host.h"

namespace {

using lumadex::host::printable_text;

void print_image(const lumadex::host::Image& image, std::size_t index, bool tags)
{
    std::string shape;
    for (std::int64_t size : image.sizes()) shape += (shape.empty() ? "" : " x ") + std::to_string(size);
    std::printf("image %zu: \"%s\", %s, %s\n", index, printable_text(image.name()).c_str(),
                std::string(lumadex::host::data_type_name(image.data_type())).c_str(), shape.c_str());
    for (int d = 0; d < image.num_dims(); ++d) {
        const lumadex::host::Calibration c = image.calibration(d);
        std::printf("  dimension %d: origin %g, scale %g, units \"%s\"\n", d, static_cast<double>(c.origin),
                    static_cast<double>(c.scale), printable_text(c.units).c_str());
    }
    if (tags) {
        const std::string tree = lumadex::host::format_tags(image.tags());
        std::printf("  tags:\n");
        std::size_t start = 0;
        while (start < tree.size()) {
            const std::size_t end = tree.find('\n', start);
            std::printf("    %s\n", tree.substr(start, end - start).c_str());
            start = end + 1;
        }
    }
}

void print_usage(std::FILE* out)
{
    std::fprintf(out,
                 "usage: lumadex-dm [--tags] file.dm4 [more files...]\n"
                 "\n"
                 "Prints the images of DM3 / DM4 files: name, data type, shape (x first)\n"
                 "and the calibration of each dimension.\n"
                 "\n"
                 "  --tags     also print each image's tag tree with the stored types\n"
                 "  --help     show this help and exit\n"
                 "  --version  show the version and exit\n"
                 "  --         end of options (for file names that begin with '-')\n"
                 "\n"
                 "Exit status: 0 when every file was read, 1 when one could not be, 2 for\n"
                 "wrong usage.\n");
}

}  // namespace

int main(int argc, char** argv)
{
    bool tags = false;
    const lumadex::tools::CommandLine line{"lumadex-dm", print_usage, [&](std::string_view flag) {
                                               return flag == "--tags" && (tags = true);
                                           }};
    const auto parsed = lumadex::tools::parse(line, argc, argv);
    if (const int* status = std::get_if<int>(&parsed)) return *status;
    const auto& files = std::get<std::vector<const char*>>(parsed);
    if (files.empty()) {
        print_usage(stderr);
        return 2;
    }
    int status = 0;
    lumadex::host::Host host;
    for (const char* file : files) {
        try {
            const auto images = host.open_file(file);
            std::printf("%s: %zu image%s\n", file, images.size(), images.size() == 1 ? "" : "s");
            for (std::size_t k = 0; k < images.size(); ++k) print_image(images[k], k, tags);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "lumadex-dm: %s\n", printable_text(error.what()).c_str());
            status = 1;
        }
    }
    return status;
}
