# Builds for 32-bit x86 Linux with the host's compiler in -m32 mode (g++-12-multilib). The
# programs run natively on an x86-64 host; CMake treats the build as a cross build, so that
# GoogleTest is compiled for it from Debian's sources.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
