# Builds the project for another target with the configure preset of the same name (windows,
# windows64, i386 or s390x, in build/<target>), then runs its tests on this host: the library's
# tests under the target's emulator, and this build's end-to-end suite against the target's tool.
# They carry the label "target", which the target's test preset selects.
include(ExternalProject)
include(${CMAKE_CURRENT_LIST_DIR}/wine.cmake)
set(target ${QUOXEL_TARGET})
set(target_dir ${PROJECT_SOURCE_DIR}/build/${target})
set(package_command "")
if(target MATCHES "^windows")  # the zip, which its tests check
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

# Whether this machine runs 32-bit x86 programs, asked once here: some kernels run none at all,
# and Wine's 32-bit loader is one of them.
set(runs_i386 ON)
if(target STREQUAL "windows" OR target STREQUAL "i386")
  execute_process(COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/runs-i386.sh ${CMAKE_CXX_COMPILER}
                  RESULT_VARIABLE no_i386 OUTPUT_VARIABLE why_not OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(no_i386)
    set(runs_i386 OFF)
  endif()
endif()

# Whether the target's programs can run here at all: the 32-bit Windows ones only where 32-bit
# code runs, and so only there is Wine's 32-bit loader required.
set(runnable ON)
if(target STREQUAL "windows" AND NOT runs_i386)
  set(runnable OFF)
  set(why_not "this machine runs no 32-bit x86 program (${why_not})")
endif()

# What runs the target's programs here, and whether the 4 GiB test runs: on the 32-bit targets,
# where a narrow position or count would show.
set(emulator "")
set(env "")
set(exe "")
set(large_file OFF)
if(target MATCHES "^windows")
  set(arch i686)
  if(target STREQUAL "windows64")
    set(arch x86_64)
  endif()
  quoxel_find_wine(${arch} wine)
  if(NOT wine AND target STREQUAL "windows64")
    message(FATAL_ERROR "no Wine loader for x86_64 programs: install wine64")
  endif()
  if(NOT wine AND runnable)
    # A registry mid-sync may have no wine32:i386 to give: the programs are checked all the same.
    set(runnable OFF)
    set(why_not "no Wine loader for 32-bit programs: wine32:i386 is not installed")
  endif()
  set(emulator ${wine})
  set(exe .exe)
  # A prefix of its own; QUOXEL_WINDOWS tells the suite to expect the Windows runtime's texts.
  set(env "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINELOADER=${wine};WINEDEBUG=-all;QUOXEL_WINDOWS=1")
  set(large_file ON)
  if(NOT runnable)
    message(STATUS "32-bit Windows: ${why_not}; the tests that run a program are skipped, the exes and "
                   "the zip are checked without running them")
  endif()
elseif(target STREQUAL "i386")
  set(large_file ON)
  if(NOT runs_i386)
    find_program(QEMU_I386 qemu-i386 REQUIRED)
    set(emulator ${QEMU_I386})
    message(STATUS "32-bit x86: this machine runs none (${why_not}); the i386 tests run under ${QEMU_I386}")
  endif()
elseif(target STREQUAL "s390x")
  find_program(QEMU_S390X qemu-s390x REQUIRED)
  set(emulator ${QEMU_S390X})
  set(env "QEMU_LD_PREFIX=/usr/s390x-linux-gnu")
else()
  message(FATAL_ERROR "QUOXEL_TARGET is ${target}: not windows, windows64, i386 or s390x")
endif()

# target_test(NAME COMMAND...): a test of the target that runs one of its programs. Where the
# machine cannot run them, the test is there all the same and ends as skipped, saying why.
function(target_test name)
  if(runnable)
    add_test(NAME ${target}.${name} COMMAND ${ARGN})
    set_tests_properties(${target}.${name} PROPERTIES ENVIRONMENT "${env}")
  else()
    add_test(NAME ${target}.${name}
      COMMAND sh -c "echo \"skipped: $1\"; exit 77" sh "${why_not}")
    set_tests_properties(${target}.${name} PROPERTIES SKIP_RETURN_CODE 77)
  endif()
endfunction()

# The end-to-end suite of this build runs the target's tool.
list(APPEND env "QUOXEL_TOOL=${target_dir}/quoxel${exe}" "QUOXEL_EMULATOR=${emulator}")

target_test(util ${emulator} ${target_dir}/tests/util_test${exe})
target_test(quoxel $<TARGET_FILE:quoxel_test> --gtest_filter=-LargeFile.*)
if(large_file)
  list(APPEND env QUOXEL_LARGE_FILE_TEST=1)
  target_test(large-file $<TARGET_FILE:quoxel_test> --gtest_filter=LargeFile.*)
  list(REMOVE_ITEM env QUOXEL_LARGE_FILE_TEST=1)
  set_tests_properties(${target}.large-file PROPERTIES TIMEOUT 900)
endif()

if(target MATCHES "^windows")
  include(${CMAKE_CURRENT_LIST_DIR}/windows-tests.cmake)
endif()

get_property(tests DIRECTORY PROPERTY TESTS)
list(FILTER tests INCLUDE REGEX "^${target}\\.")
set_tests_properties(${tests} PROPERTIES LABELS target)
