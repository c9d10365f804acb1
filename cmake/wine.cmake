# quoxel_find_wine(ARCH VAR): sets VAR to Wine's loader for Windows programs of ARCH (i686 or
# x86_64), or to VAR-NOTFOUND. The loader is named, never /usr/bin/wine, which picks the 32-bit
# loader whenever wine32 is installed, also on a machine that runs no 32-bit code, where that
# loader cannot start. Run it with WINELOADER set to itself, so that Wine starts its other
# processes with the same loader.
function(quoxel_find_wine arch var)
  if(arch STREQUAL "x86_64")
    set(names wine64)
  else()
    set(names wine)
  endif()
  find_program(QUOXEL_WINE_${arch} NAMES ${names} PATHS /usr/lib/wine NO_DEFAULT_PATH)
  if(NOT QUOXEL_WINE_${arch} AND arch STREQUAL "x86_64")
    find_program(QUOXEL_WINE_${arch} NAMES wine64)  # elsewhere than Debian, on the PATH
  endif()
  set(${var} ${QUOXEL_WINE_${arch}} PARENT_SCOPE)
endfunction()
