# Read by cpack before it makes a package. The timestamps in a package come from SOURCE_DATE_EPOCH:
# unless the caller sets it, the date of the newest changelog entry, so that every build of one
# release gives the same bytes. A zip stores its times as local times: UTC, so that the time zone
# of the build changes nothing.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_QUOXEL_EPOCH}")
endif()
set(ENV{TZ} UTC)
