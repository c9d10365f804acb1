# The Windows targets' own tests, beside those of cmake/target-tests.cmake, which includes this.
find_program(WINESERVER wineserver REQUIRED)

# One Wine server for all the tests, started before them and stopped after them.
target_test(wine_start sh ${PROJECT_SOURCE_DIR}/tests/wine-server.sh start ${WINESERVER} ${wine})
target_test(wine_stop sh ${PROJECT_SOURCE_DIR}/tests/wine-server.sh stop ${WINESERVER})
set(wine_tests util quoxel large-file recipe drop drop_paths)

# The cmd.exe recipe for many files of doc/converting-many-files.md, run as printed by Wine's cmd on quoxel.exe.
target_test(recipe
  sh ${PROJECT_SOURCE_DIR}/tests/recipe-test.sh cmd ${PROJECT_SOURCE_DIR} $<TARGET_FILE:quoxel> ${target_dir} ${wine})

# The drop front end on a tree of awkward names and on bad inputs, and its path decisions.
target_test(drop sh ${PROJECT_SOURCE_DIR}/tests/drop-test.sh $<TARGET_FILE:quoxel> ${target_dir} ${wine})
target_test(drop_paths ${wine} ${target_dir}/tests/drop_paths_test.exe)
# The drop program in a console window of its own, under Xvfb, with a Wine prefix and server of
# its own: its title, Ctrl+C and the wait for Enter.
target_test(console
  sh ${PROJECT_SOURCE_DIR}/tests/console-test.sh $<TARGET_FILE:quoxel> ${target_dir} ${wine} ${WINESERVER})

if(runnable)
  set_tests_properties(${target}.wine_start PROPERTIES FIXTURES_SETUP ${target}.wine)
  set_tests_properties(${target}.wine_stop PROPERTIES FIXTURES_CLEANUP ${target}.wine)
  list(TRANSFORM wine_tests PREPEND ${target}.)
  set_tests_properties(${wine_tests} PROPERTIES FIXTURES_REQUIRED ${target}.wine)
endif()

# Each program is a console program for the target's processor that needs nothing beyond what
# every Windows system has, and carries its manifest and version information; the zip holds them
# with README.txt and LICENSE.txt in CRLF. These read the files and run none, so they run on every
# machine.
set(triplet ${arch}-w64-mingw32)
find_program(MINGW_OBJDUMP_${arch} ${triplet}-objdump REQUIRED)
find_program(MINGW_WINDRES_${arch} ${triplet}-windres REQUIRED)
if(arch STREQUAL "x86_64")
  set(format "pei-x86-64")
  set(bits 64)
else()
  set(format "pei-i386")
  set(bits 32)
endif()
# The tool needs only the C library and the kernel; the drop program also the file calls of ntdll
# and the registry of advapi32, never the shell's DLLs, which it loads only to offer its entries.
set(quoxel_imports kernel32 msvcrt)
set(drop-files-here_imports advapi32 kernel32 msvcrt ntdll)
foreach(exe_name IN ITEMS quoxel drop-files-here)
  string(REPLACE ";" "\\;" imports "${${exe_name}_imports}")
  add_test(NAME ${target}.${exe_name}.exe
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${MINGW_OBJDUMP_${arch}} -DWINDRES=${MINGW_WINDRES_${arch}}
            -DEXE=${target_dir}/${exe_name}.exe -DFORMAT=${format} "-DIMPORTS=${imports}" -DVERSION=${PROJECT_VERSION}
            "-DDESCRIPTION=${${exe_name}_description}" -P ${PROJECT_SOURCE_DIR}/cmake/check-exe.cmake)
endforeach()
add_test(NAME ${target}.zip
  COMMAND ${CMAKE_COMMAND} -DZIP=${target_dir}/quoxel-${PROJECT_VERSION}-win${bits}.zip
          -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -P ${PROJECT_SOURCE_DIR}/cmake/check-zip.cmake)
