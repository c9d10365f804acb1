# The Windows target's own tests, beside those of cmake/target-tests.cmake, which includes this.
find_program(WINESERVER wineserver REQUIRED)

# One Wine server for all the tests, started before them and stopped after them.
add_test(NAME windows.wine_start
  COMMAND sh ${PROJECT_SOURCE_DIR}/tests/wine-server.sh start ${WINESERVER} ${WINE})
add_test(NAME windows.wine_stop COMMAND sh ${PROJECT_SOURCE_DIR}/tests/wine-server.sh stop ${WINESERVER})
set_tests_properties(windows.wine_start PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${env}")
set_tests_properties(windows.wine_stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${env}")
set_tests_properties(windows.util windows.quoxel windows.large-file PROPERTIES FIXTURES_REQUIRED wine)

# The README's cmd.exe recipe for many files, run as printed by Wine's cmd on quoxel.exe.
add_test(NAME windows.recipe
  COMMAND sh ${PROJECT_SOURCE_DIR}/tests/recipe-test.sh cmd ${PROJECT_SOURCE_DIR} $<TARGET_FILE:quoxel> ${target_dir} ${WINE})
set_tests_properties(windows.recipe PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${env}")

# The drop front end on a tree of awkward names and on bad inputs, and its path decisions.
add_test(NAME windows.drop
  COMMAND sh ${PROJECT_SOURCE_DIR}/tests/drop-test.sh $<TARGET_FILE:quoxel> ${target_dir} ${WINE})
add_test(NAME windows.drop_paths COMMAND ${WINE} ${target_dir}/tests/drop_paths_test.exe)
set_tests_properties(windows.drop windows.drop_paths PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${env}")

# Each program needs nothing beyond what every Windows system has, and carries its manifest and
# version information; the zip holds them with README.txt and LICENSE.txt in CRLF.
find_program(MINGW_OBJDUMP i686-w64-mingw32-objdump REQUIRED)
find_program(MINGW_WINDRES i686-w64-mingw32-windres REQUIRED)
foreach(exe_name IN ITEMS quoxel drop-files-here)
  add_test(NAME windows.${exe_name}.exe
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${MINGW_OBJDUMP} -DWINDRES=${MINGW_WINDRES}
            -DEXE=${target_dir}/${exe_name}.exe -DVERSION=${PROJECT_VERSION}
            "-DDESCRIPTION=${${exe_name}_description}" -P ${PROJECT_SOURCE_DIR}/cmake/check-exe.cmake)
endforeach()
add_test(NAME windows.zip
  COMMAND ${CMAKE_COMMAND} -DZIP=${target_dir}/quoxel-${PROJECT_VERSION}-win32.zip
          -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -P ${PROJECT_SOURCE_DIR}/cmake/check-zip.cmake)
