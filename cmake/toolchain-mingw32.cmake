# Cross build for the host's platform: 32-bit Windows, posix-thread mingw-w64
# (its C++ library has std::thread and std::mutex). Tests run under wine (the
# wrapper picks the 32-bit loader); -DTARSIS_EMULATOR=... names another runner.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
if(NOT DEFINED TARSIS_EMULATOR)
  set(TARSIS_EMULATOR wine)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${TARSIS_EMULATOR})
