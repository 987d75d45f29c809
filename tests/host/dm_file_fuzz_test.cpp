// DM3 / DM4 reading under the sanitizers: the corpus of recorded files with
// bytes flipped, counts overwritten and ends cut off. Every variant opens
// whole or fails with FileError; nothing crashes, reads out of bounds or leaks;
// what opens is saved and read back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "lumadex/host/host.h"

namespace {

namespace fs = std::filesystem;
using lumadex::host::FileError;
using lumadex::host::Host;

std::vector<std::vector<char>> corpus()
{
    std::vector<std::vector<char>> files;
    const fs::path folder = LUMADEX_DM_CORPUS;
    if (!fs::is_directory(folder)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const auto ext = entry.path().extension();
        if (ext != ".dm3" && ext != ".dm4") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

TEST(DmFileFuzz, MutatedFilesOpenWholeOrFailCleanly)
{
    const auto files = corpus();
    if (files.empty()) GTEST_SKIP() << "no DM corpus at " << LUMADEX_DM_CORPUS;
    // In memory where the machine offers it: 3000 files are written.
    const fs::path folder = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path path = folder / ("lumadex_fuzz_" + std::to_string(::getpid()) + ".dm4");
    const fs::path copy = folder / ("lumadex_fuzz_copy_" + std::to_string(::getpid()) + ".dm4");
    std::mt19937_64 random(19);
    Host host;
    int opened = 0, refused = 0;
    for (int variant = 0; variant < 3000; ++variant) {
        std::vector<char> bytes = files[variant % files.size()];
        auto place = [&] { return std::uniform_int_distribution<std::size_t>(0, bytes.size() - 1)(random); };
        switch (variant % 3) {
        case 0: bytes.resize(place()); break;                        // cut short
        case 1: for (int k = 0; k < 4; ++k) bytes[place()] ^= static_cast<char>(1 << (random() % 8)); break;
        case 2: {                                                    // a count or size made huge
            const std::size_t at = place();
            for (std::size_t k = at; k < at + 8 && k < bytes.size(); ++k) bytes[k] = static_cast<char>(random() % 2 ? 0xFF : 0x7F);
        }
        }
        std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        try {
            const auto images = host.open_file(path);
            for (const auto& image : images) {
                std::vector<char> pixels(static_cast<std::size_t>(image.element_count()) * image.element_size());
                image.read_pixels(pixels.data(), pixels.size());
                lumadex::host::format_tags(image.tags());
            }
            // Whatever tags a damaged file gave, they are saved and read back.
            if (!images.empty() && variant % 10 == 1) {
                lumadex::host::save_file(images, copy, variant % 20 == 1 ? 3 : 4);
                EXPECT_EQ(host.open_file(copy).size(), images.size());
            }
            ++opened;
        } catch (const FileError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(path.string() + ": ", 0), 0u) << error.what();
            ++refused;
        }
    }
    fs::remove(path);
    fs::remove(copy);
    EXPECT_GT(opened, 100);
    EXPECT_GT(refused, 500);
    EXPECT_EQ(host.live_objects().total, 0);
}

}  // namespace
