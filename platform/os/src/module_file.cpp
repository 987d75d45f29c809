// The loaded module's own file, and reading a section of it back: the
// plug-in's file version lives in an ELF section of its library file.
#include <dlfcn.h>
#include <elf.h>
#include <limits.h>
#include <stdlib.h>

#include <cstring>
#include <fstream>

#include "os_services.h"

namespace lumadex::os {

std::string ModuleFilePath(const void* addressInside)
{
    Dl_info info{};
    if (dladdr(addressInside, &info) == 0 || !info.dli_fname) return {};
    char resolved[PATH_MAX];
    if (!realpath(info.dli_fname, resolved)) return {};
    return resolved;
}

namespace {

// Reads `count` bytes at `offset`, only when they lie inside the file.
bool ReadAt(std::ifstream& file, std::uint64_t fileSize, std::uint64_t offset, void* out, std::uint64_t count)
{
    if (offset > fileSize || count > fileSize - offset) return false;
    file.seekg(static_cast<std::streamoff>(offset));
    return static_cast<bool>(file.read(static_cast<char*>(out), static_cast<std::streamsize>(count)));
}

}  // namespace

std::optional<std::vector<unsigned char>> ReadElfSection(const std::string& path, const std::string& name)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return std::nullopt;
    const auto fileSize = static_cast<std::uint64_t>(file.tellg());

    Elf64_Ehdr header{};
    if (!ReadAt(file, fileSize, 0, &header, sizeof header)) return std::nullopt;
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64 ||
        header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shstrndx >= header.e_shnum)
        return std::nullopt;

    std::vector<Elf64_Shdr> sections(header.e_shnum);
    if (!ReadAt(file, fileSize, header.e_shoff, sections.data(), sections.size() * sizeof(Elf64_Shdr)))
        return std::nullopt;
    const Elf64_Shdr& names = sections[header.e_shstrndx];
    std::vector<char> nameTable(names.sh_size + 1, '\0');
    if (!ReadAt(file, fileSize, names.sh_offset, nameTable.data(), names.sh_size)) return std::nullopt;

    for (const Elf64_Shdr& section : sections) {
        if (section.sh_name >= names.sh_size || name != &nameTable[section.sh_name]) continue;
        std::vector<unsigned char> bytes(section.sh_size);
        if (section.sh_type == SHT_NOBITS || !ReadAt(file, fileSize, section.sh_offset, bytes.data(), bytes.size()))
            return std::nullopt;
        return bytes;
    }
    return std::nullopt;
}

}  // namespace lumadex::os
