#include "support/libarch.h"

#include <cstdio>

namespace {

// PE machine fields and ELF machines of the processors named in lines.
const struct {
    LibraryArch::Format format;
    unsigned machine;
    const char* name;
} kMachines[] = {
    {LibraryArch::Pe, 0x014C, "x86"},   {LibraryArch::Pe, 0x8664, "x86-64"}, {LibraryArch::Pe, 0xAA64, "ARM64"},
    {LibraryArch::Pe, 0x01C4, "ARM"},   {LibraryArch::Elf, 3, "x86"},        {LibraryArch::Elf, 62, "x86-64"},
    {LibraryArch::Elf, 183, "ARM64"},   {LibraryArch::Elf, 40, "ARM"},
};

unsigned little16(const unsigned char* p) { return p[0] | (p[1] << 8); }
unsigned long little32(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (static_cast<unsigned long>(p[2]) << 16) | (static_cast<unsigned long>(p[3]) << 24);
}

bool readAt(std::FILE* file, long offset, unsigned char* bytes, std::size_t count)
{
    return std::fseek(file, offset, SEEK_SET) == 0 && std::fread(bytes, 1, count, file) == count;
}

LibraryArch readPe(std::FILE* file, const unsigned char* dos)
{
    LibraryArch arch;
    const unsigned long at = little32(dos + 0x3C); // e_lfanew
    // The file header, then the optional header's magic word.
    unsigned char nt[26];
    if (at > 0x10000000ul || !readAt(file, static_cast<long>(at), nt, sizeof nt) || nt[0] != 'P' || nt[1] != 'E' ||
        nt[2] != 0 || nt[3] != 0)
        return arch;
    arch.format = LibraryArch::Pe;
    arch.machine = little16(nt + 4);
    const unsigned magic = little16(nt + 24);
    if (magic == 0x10B)
        arch.bits = 32;
    else if (magic == 0x20B)
        arch.bits = 64;
    else
        arch.bits = arch.machine == 0x8664 || arch.machine == 0xAA64 ? 64 : 32;
    return arch;
}

LibraryArch readElf(const unsigned char* ident)
{
    LibraryArch arch;
    if (ident[4] != 1 && ident[4] != 2) // ELFCLASS32, ELFCLASS64
        return arch;
    arch.format = LibraryArch::Elf;
    arch.bits = ident[4] == 1 ? 32 : 64;
    arch.machine = ident[5] == 2 ? (ident[18] << 8) | ident[19] : little16(ident + 18); // big or little endian
    return arch;
}

} // namespace

LibraryArch readLibraryArch(const char* path)
{
    std::FILE* file = path ? std::fopen(path, "rb") : nullptr;
    if (!file)
        return LibraryArch();
    unsigned char head[64];
    LibraryArch arch;
    if (readAt(file, 0, head, sizeof head)) {
        if (head[0] == 'M' && head[1] == 'Z')
            arch = readPe(file, head);
        else if (head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F')
            arch = readElf(head);
    }
    std::fclose(file);
    return arch;
}

LibraryArch moduleArch()
{
    LibraryArch arch;
#ifdef _WIN32
    arch.format = LibraryArch::Pe;
#if defined(__x86_64__)
    arch.machine = 0x8664;
#elif defined(__aarch64__)
    arch.machine = 0xAA64;
#elif defined(__i386__)
    arch.machine = 0x014C;
#endif
#else
    arch.format = LibraryArch::Elf;
#if defined(__x86_64__)
    arch.machine = 62;
#elif defined(__aarch64__)
    arch.machine = 183;
#elif defined(__i386__)
    arch.machine = 3;
#elif defined(__arm__)
    arch.machine = 40;
#endif
#endif
    arch.bits = static_cast<int>(sizeof(void*) * 8);
    return arch;
}

bool sameArch(const LibraryArch& a, const LibraryArch& b)
{
    return a.format == b.format && a.machine == b.machine && a.bits == b.bits;
}

std::string describeArch(const LibraryArch& arch)
{
    char text[64];
    for (const auto& m : kMachines) {
        if (m.format == arch.format && m.machine == arch.machine) {
            std::snprintf(text, sizeof text, "%d-bit (%s)", arch.bits, m.name);
            return text;
        }
    }
    std::snprintf(text, sizeof text, "%d-bit (machine 0x%X)", arch.bits, arch.machine);
    return text;
}
