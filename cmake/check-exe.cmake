# cmake -DOBJDUMP=... -DWINDRES=... -DEXE=... -DFORMAT=... -DVERSION=... -DDESCRIPTION=... -P check-exe.cmake
cmake_minimum_required(VERSION 3.25)
# Fails unless EXE is a console program in the object format FORMAT (pei-i386 for 32-bit x86,
# pei-x86-64 for the PE32+ format of x86-64), imports only DLLs that every Windows system has (no MinGW runtime DLLs), and
# carries its resources: the manifest (run as the invoker, so that Windows never redirects its
# writes; UTF-8 as the code page) and the version information of VERSION.
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed")
endif()
foreach(expected IN ITEMS "file format ${FORMAT}\n" "\nSubsystem\t\t00000003\t(Windows CUI)\n")
  string(FIND "${dump}" "${expected}" at)
  if(at EQUAL -1)
    string(STRIP "${expected}" expected)
    message(FATAL_ERROR "${EXE} is not a console program in the format ${FORMAT}: ${OBJDUMP} -p lacks '${expected}'")
  endif()
endforeach()
message(STATUS "a console program in the format ${FORMAT}")
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "no imports found in ${EXE}")
endif()
foreach(import IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${import}")
  string(TOLOWER "${dll}" dll)
  message(STATUS "imports ${dll}")
  if(NOT dll MATCHES "^(kernel32|msvcrt|ntdll)\\.dll$")
    message(FATAL_ERROR "${EXE} needs ${dll}, which a bare Windows system does not have")
  endif()
endforeach()

# The resources as windres decompiles them: a manifest is resource type 24 (RT_MANIFEST), the
# version information a VERSIONINFO block. Quotes inside the manifest's strings come doubled.
execute_process(COMMAND ${WINDRES} -i ${EXE} -O rc OUTPUT_VARIABLE resources RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${WINDRES} -i ${EXE} failed")
endif()
string(REGEX MATCH "\n1 24 /\\* RT_MANIFEST \\*/\nBEGIN\n.*\nEND\n" manifest "${resources}")
string(REGEX MATCH "\n1 VERSIONINFO\n.*\nEND\n" version "${resources}")
string(REPLACE "." ", " version_numbers "${VERSION}")
get_filename_component(exe_name "${EXE}" NAME)
foreach(element IN ITEMS "<requestedExecutionLevel level=\"\"asInvoker\"\" uiAccess=\"\"false\"\"/>"
                         ">UTF-8</activeCodePage>")
  string(FIND "${manifest}" "${element}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the manifest of ${EXE} lacks ${element}")
  endif()
  message(STATUS "manifest has ${element}")
endforeach()
foreach(line IN ITEMS "FILEVERSION ${version_numbers}, 0" "VALUE \"FileVersion\", \"${VERSION}\""
                      "VALUE \"ProductName\", \"quoxel\"" "VALUE \"FileDescription\", \"${DESCRIPTION}\""
                      "VALUE \"OriginalFilename\", \"${exe_name}\"")
  string(FIND "${version}" "${line}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the version information of ${EXE} lacks ${line}")
  endif()
  message(STATUS "version information has ${line}")
endforeach()
