#include "jrtool/Version.h"

#include <elf.h>
#include <link.h>

#include <cstring>
#include <fstream>
#include <string_view>
#include <vector>

namespace jrtool {

namespace {

constexpr std::string_view kLibraryName = "libcijobresults.so";
constexpr std::string_view kSectionName = "QxVersion";

// The path of the loaded object whose file name starts with the library's.
std::string LoadedLibraryPath() {
    std::string path;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* found) {
            const std::string_view name = info->dlpi_name != nullptr ? info->dlpi_name : "";
            const size_t slash = name.rfind('/');
            const std::string_view file =
                slash == std::string_view::npos ? name : name.substr(slash + 1);
            if (file.substr(0, kLibraryName.size()) != kLibraryName) return 0;
            static_cast<std::string*>(found)->assign(name);
            return 1;
        },
        &path);
    return path;
}

template <class T>
bool ReadAt(std::ifstream& in, std::uint64_t offset, T* into, size_t count = 1) {
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(into), static_cast<std::streamsize>(sizeof(T) * count));
    return static_cast<bool>(in);
}

// The contents of the named section of a 64-bit ELF file.
std::string SectionOf(const std::string& path, std::string_view wanted) {
    std::ifstream in(path, std::ios::binary);
    Elf64_Ehdr header;
    if (!ReadAt(in, 0, &header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_shentsize != sizeof(Elf64_Shdr) ||
        header.e_shstrndx >= header.e_shnum) {
        return std::string();
    }
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    if (!ReadAt(in, header.e_shoff, sections.data(), sections.size())) return std::string();
    const Elf64_Shdr& names = sections[header.e_shstrndx];
    std::string table(names.sh_size, '\0');
    if (!ReadAt(in, names.sh_offset, table.data(), table.size())) return std::string();
    for (const Elf64_Shdr& section : sections) {
        if (section.sh_name >= table.size() ||
            std::string_view(table.c_str() + section.sh_name) != wanted) {
            continue;
        }
        std::string contents(section.sh_size, '\0');
        if (!ReadAt(in, section.sh_offset, contents.data(), contents.size())) return std::string();
        return contents;
    }
    return std::string();
}

bool Digits(const std::string& text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) return false;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
}

}  // namespace

std::string WithIsoDate(const std::string& line) {
    // "<version> MM/DD/YY HH:MM:SS": the date starts 17 characters from the end.
    constexpr std::size_t kStampSize = 17;
    if (line.size() <= kStampSize) return line;
    const std::size_t at = line.size() - kStampSize;
    const bool fits = line[at - 1] == ' ' && Digits(line, at, 2) && line[at + 2] == '/' &&
                      Digits(line, at + 3, 2) && line[at + 5] == '/' && Digits(line, at + 6, 2) &&
                      line[at + 8] == ' ' && Digits(line, at + 9, 2) && line[at + 11] == ':' &&
                      Digits(line, at + 12, 2) && line[at + 14] == ':' && Digits(line, at + 15, 2);
    if (!fits) return line;
    // The build writes the date in UTC, two digits of a year of this century.
    return line.substr(0, at) + "20" + line.substr(at + 6, 2) + '-' + line.substr(at, 2) + '-' +
           line.substr(at + 3, 2) + 'T' + line.substr(at + 9) + 'Z';
}

std::string LoadedLibraryVersionLine() {
    const std::string path = LoadedLibraryPath();
    if (path.empty()) return std::string();
    std::string line = SectionOf(path, kSectionName);
    line.resize(std::strlen(line.c_str()));
    while (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
}

std::string VersionText(const std::string& builtWith) {
    const std::string loaded = LoadedLibraryVersionLine();
    if (loaded.empty()) {
        return WithIsoDate(builtWith) + " (built with; the loaded library's line is unreadable)";
    }
    if (loaded == builtWith) return WithIsoDate(loaded);
    return WithIsoDate(loaded) + "\njobresults built with " + WithIsoDate(builtWith);
}

}  // namespace jrtool
