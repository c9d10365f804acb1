# Read by cpack before it makes a package. The timestamps in a package come from SOURCE_DATE_EPOCH;
# unless the caller sets it, it is the time of the last commit, so that two builds of one commit
# give the same bytes. Outside a git checkout it stays unset and the current time is used.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "${CPACK_QUOXEL_SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(failed EQUAL 0 AND epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
  endif()
endif()
