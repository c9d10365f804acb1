# Cross-compiles for 32-bit Windows consoles (cmake/mingw.cmake).
set(QUOXEL_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
