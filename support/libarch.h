// What a library file was built for, read from its header: the machine field
// of a PE file, or the class and machine of an ELF file. Lets a loader name a
// library of the other architecture as such instead of passing on whatever
// the system says about it.
#pragma once

#include <string>

struct LibraryArch {
    enum Format { Unknown, Pe, Elf };
    Format format = Unknown;
    unsigned machine = 0; // PE machine field, or ELF e_machine
    int bits = 0;         // 32 or 64
};

// The header of the file at path; Unknown when it cannot be read or is
// neither kind of file.
LibraryArch readLibraryArch(const char* path);
// What this build of the module is.
LibraryArch moduleArch();
// Whether a library of arch a can be loaded where b runs.
bool sameArch(const LibraryArch& a, const LibraryArch& b);
// "32-bit (x86)", "64-bit (x86-64)", "64-bit (ARM64)", or the machine's
// number for one without a name here.
std::string describeArch(const LibraryArch& arch);
