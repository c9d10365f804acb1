# Cross-compiles for Windows consoles with Debian's MinGW-w64 (g++-mingw-w64-<arch>-posix), for
# the processor that the including toolchain file names in QUOXEL_MINGW_ARCH (i686 or x86_64).
# Programs link the C++ and GCC runtimes statically and need only system DLLs; they run on Linux
# under Wine, whose loader for that processor is set as the emulator for CTest and test discovery.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QUOXEL_MINGW_ARCH})

set(triplet ${QUOXEL_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

include(${CMAKE_CURRENT_LIST_DIR}/wine.cmake)
quoxel_find_wine(${QUOXEL_MINGW_ARCH} wine_loader)
if(wine_loader)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env WINELOADER=${wine_loader} ${wine_loader})
endif()
