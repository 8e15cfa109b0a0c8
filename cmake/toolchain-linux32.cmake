# 32-bit Linux build: the host records then have the exact layout of the host's
# 32-bit process, which static_asserts pin. Its tests run natively; on a kernel
# that runs no 32-bit code, -DTARSIS_EMULATOR=qemu-i386 runs them (and every
# binary the test scripts start) under user-mode emulation instead.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
if(TARSIS_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARSIS_EMULATOR})
endif()
