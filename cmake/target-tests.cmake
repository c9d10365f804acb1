# Builds the project for another target with the configure preset of the same name (windows,
# i386 or s390x, in build/<target>), then runs its tests on this host: the library's tests under
# the target's emulator, and this build's end-to-end suite against the target's tool. They carry
# the label "target", which the target's test preset selects.
include(ExternalProject)
set(target ${QUOXEL_TARGET})
set(target_dir ${PROJECT_SOURCE_DIR}/build/${target})
set(package_command "")
if(target STREQUAL "windows")  # the zip, which its tests check
  set(package_command COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target package)
endif()
# Configured at every build, since the preset's own workflow may have configured the folder
# since without the tests.
ExternalProject_Add(${target}
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${target_dir}
  CONFIGURE_COMMAND ""
  BUILD_COMMAND ${CMAKE_COMMAND} -S <SOURCE_DIR> --preset ${target} -DQUOXEL_TESTS=ON
        COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> ${package_command}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  TEST_COMMAND "")

# What runs the target's programs here, and whether the 4 GiB test runs: on the 32-bit targets,
# where a narrow position or count would show.
set(emulator "")
set(env "")
set(exe "")
set(large_file OFF)
if(target STREQUAL "windows")
  find_program(WINE wine REQUIRED)
  set(emulator ${WINE})
  set(exe .exe)
  # A prefix of its own; QUOXEL_WINDOWS tells the suite to expect the Windows runtime's texts.
  set(env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all;QUOXEL_WINDOWS=1")
  set(large_file ON)
elseif(target STREQUAL "i386")
  set(large_file ON)
elseif(target STREQUAL "s390x")
  find_program(QEMU_S390X qemu-s390x REQUIRED)
  set(emulator ${QEMU_S390X})
  set(env "QEMU_LD_PREFIX=/usr/s390x-linux-gnu")
else()
  message(FATAL_ERROR "QUOXEL_TARGET is ${target}: not windows, i386 or s390x")
endif()

# The end-to-end suite of this build runs the target's tool.
list(APPEND env "QUOXEL_TOOL=${target_dir}/quoxel${exe}" "QUOXEL_EMULATOR=${emulator}")

add_test(NAME ${target}.util COMMAND ${emulator} ${target_dir}/tests/util_test${exe})
add_test(NAME ${target}.quoxel COMMAND quoxel_test --gtest_filter=-LargeFile.*)
set_tests_properties(${target}.util ${target}.quoxel PROPERTIES ENVIRONMENT "${env}")
if(large_file)
  add_test(NAME ${target}.large-file COMMAND quoxel_test --gtest_filter=LargeFile.*)
  set_tests_properties(${target}.large-file PROPERTIES TIMEOUT 600
    ENVIRONMENT "${env};QUOXEL_LARGE_FILE_TEST=1")
endif()

if(target STREQUAL "windows")
  include(${CMAKE_CURRENT_LIST_DIR}/windows-tests.cmake)
endif()

get_property(tests DIRECTORY PROPERTY TESTS)
list(FILTER tests INCLUDE REGEX "^${target}\\.")
set_tests_properties(${tests} PROPERTIES LABELS target)
