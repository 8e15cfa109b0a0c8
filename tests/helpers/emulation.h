// Whether the test runs under user-mode emulation. The test registration sets
// TARSIS_EMULATED to the emulator's name on cross builds; qemu-user emulates
// the system calls of one process but lacks some kernel services, and the
// tests that depend on them skip with the reason instead of hanging.
#pragma once

#include <cstdlib>
#include <cstring>

namespace testhelp {

// The emulator's name (qemu-i386, wine, wine64) when one runs this test,
// else null.
inline const char* emulator()
{
    const char* name = std::getenv("TARSIS_EMULATED");
    return name && *name ? name : nullptr;
}

// The qemu user-mode emulator's name when it runs this test, else null.
inline const char* underQemuUser()
{
    const char* name = std::getenv("TARSIS_EMULATED");
    return name && std::strncmp(name, "qemu", 4) == 0 ? name : nullptr;
}

} // namespace testhelp
