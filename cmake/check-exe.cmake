# cmake -DOBJDUMP=... -DEXE=... -P check-exe.cmake
# Fails unless EXE imports only DLLs that every Windows system has (no MinGW runtime DLLs), and
# carries its manifest: run as the invoker (so that Windows never redirects its writes) with
# UTF-8 as the code page.
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "no imports found in ${EXE}")
endif()
foreach(import IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${import}")
  string(TOLOWER "${dll}" dll)
  message(STATUS "imports ${dll}")
  if(NOT dll MATCHES "^(kernel32|msvcrt)\\.dll$")
    message(FATAL_ERROR "${EXE} needs ${dll}, which a bare Windows system does not have")
  endif()
endforeach()

# The manifest is resource type 24 (an entry of the top level of the resource directory); its
# text is stored as it stands.
if(NOT dump MATCHES "\n[0-9a-f]+   Entry: ID: 0x000018")
  message(FATAL_ERROR "${EXE} has no manifest resource")
endif()
file(STRINGS ${EXE} manifest REGEX "requestedExecutionLevel|activeCodePage")
foreach(element IN ITEMS "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"
                         ">UTF-8</activeCodePage>")
  string(FIND "${manifest}" "${element}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the manifest of ${EXE} lacks ${element}")
  endif()
  message(STATUS "manifest has ${element}")
endforeach()
