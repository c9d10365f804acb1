# Builds for 32-bit x86 Linux with the host's compiler in -m32 mode (g++-12-multilib). The
# programs run natively on an x86-64 host; CMake treats the build as a cross build, so that
# GoogleTest is compiled for it from Debian's sources.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# Debian's libc6-dev-i386 has -m32 use the amd64 C library headers (its /usr/include/bits, sys
# and gnu lead there), but the kernel's asm/ headers come only with linux-libc-dev:i386, which a
# registry mid-sync may not give. The x86 asm headers serve both widths (they test __i386__), so
# the amd64 ones are searched last, after any i386 ones.
set(CMAKE_C_FLAGS_INIT "-m32 -idirafter /usr/include/x86_64-linux-gnu")
set(CMAKE_CXX_FLAGS_INIT "-m32 -idirafter /usr/include/x86_64-linux-gnu")
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
