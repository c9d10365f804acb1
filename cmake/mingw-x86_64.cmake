# Cross-compiles for 64-bit Windows consoles (cmake/mingw.cmake).
set(QUOXEL_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
