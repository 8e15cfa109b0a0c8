# Cross build for 64-bit Windows, posix-thread mingw-w64. Not the host's own
# form, but it keeps the Windows platform layer tested on machines that run
# no 32-bit code: the tests run under the 64-bit wine loader, started directly
# because Debian's `wine` wrapper picks the 32-bit loader whenever wine32 is
# installed. -DTARSIS_EMULATOR=... names another runner.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
if(NOT DEFINED TARSIS_EMULATOR)
  set(TARSIS_EMULATOR /usr/lib/wine/wine64)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${TARSIS_EMULATOR})
