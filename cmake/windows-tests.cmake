# Cross-builds the Windows console program and the library's tests for i686 Windows (in
# windows/ below this build), then runs them under Wine: the library's test program, and the
# end-to-end suite of this host build with quoxel.exe as the tool under test.
include(ExternalProject)
find_program(WINE wine REQUIRED)
find_program(WINESERVER wineserver REQUIRED)

set(windows_dir ${CMAKE_BINARY_DIR}/windows)
ExternalProject_Add(windows
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${windows_dir}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-i686.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR>
        COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target package
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  TEST_COMMAND "")

# A prefix of its own, started once before the tests and kept running until after them: the
# tests run the tool under a file size limit, which a Wine server started by the tool would inherit.
# The server and Wine's helper processes outlive the start-up test, so they must not hold its
# output open, or CTest would wait for them.
set(wine_env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all")
add_test(NAME windows.wine_start
  COMMAND sh -c "mkdir -p \"$WINEPREFIX\" && \"${WINESERVER}\" -p >/dev/null 2>&1 </dev/null && \"${WINE}\" cmd /c exit >/dev/null 2>&1 </dev/null")
add_test(NAME windows.wine_stop COMMAND ${WINESERVER} -k)
set_tests_properties(windows.wine_start PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${wine_env}")
set_tests_properties(windows.wine_stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${wine_env}")

add_test(NAME windows.quoxel COMMAND quoxel_test)
add_test(NAME windows.util COMMAND ${WINE} ${windows_dir}/tests/util_test.exe)
set_tests_properties(windows.quoxel windows.util PROPERTIES
  FIXTURES_REQUIRED wine
  ENVIRONMENT "${wine_env};QUOXEL_TOOL=${windows_dir}/quoxel.exe;QUOXEL_EMULATOR=${WINE};QUOXEL_WINDOWS=1")

# The README's cmd.exe recipe for many files, run as printed by Wine's cmd on quoxel.exe.
add_test(NAME windows.recipe
  COMMAND sh ${PROJECT_SOURCE_DIR}/tests/recipe-test.sh cmd ${PROJECT_SOURCE_DIR} $<TARGET_FILE:quoxel> ${windows_dir} ${WINE})
set_tests_properties(windows.recipe PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${wine_env}")

# quoxel.exe needs nothing beyond what every Windows system has, and carries its manifest and
# version information; the zip holds it with README.txt and LICENSE.txt in CRLF.
find_program(MINGW_OBJDUMP i686-w64-mingw32-objdump REQUIRED)
find_program(MINGW_WINDRES i686-w64-mingw32-windres REQUIRED)
add_test(NAME windows.exe
  COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${MINGW_OBJDUMP} -DWINDRES=${MINGW_WINDRES}
          -DEXE=${windows_dir}/quoxel.exe -DVERSION=${PROJECT_VERSION} "-DDESCRIPTION=${PROJECT_DESCRIPTION}"
          -P ${PROJECT_SOURCE_DIR}/cmake/check-exe.cmake)
add_test(NAME windows.zip
  COMMAND ${CMAKE_COMMAND} -DZIP=${windows_dir}/quoxel-${PROJECT_VERSION}-win32.zip
          -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -P ${PROJECT_SOURCE_DIR}/cmake/check-zip.cmake)
