# Cross-builds for big-endian 64-bit IBM Z Linux with Debian's g++-12-s390x-linux-gnu. Programs
# run on the build host under qemu-user, with the cross C library, which is set as the emulator
# for CTest and test discovery.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

set(CMAKE_C_COMPILER s390x-linux-gnu-gcc-12)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++-12)

set(CMAKE_FIND_ROOT_PATH /usr/s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(QEMU_S390X qemu-s390x)
if(QEMU_S390X)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_S390X} -L ${CMAKE_FIND_ROOT_PATH})
endif()
