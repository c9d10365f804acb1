# The newest entry of debian/changelog, as Debian reads it: it must name this version, and its
# trailer line gives the release date, from which the packages take SOURCE_DATE_EPOCH and the
# manual page its date, so that a build from a source tarball without git gives the same bytes as
# one from a checkout. Sets:
#   QUOXEL_RELEASE_EPOCH  the trailer's date in seconds since 1970-01-01 00:00 UTC
#   QUOXEL_RELEASE_DATE   the trailer's date as YYYY-MM-DD
#   QUOXEL_CHANGELOG      the changelog's text, the newest trailer naming `maintainer`
function(quoxel_read_changelog file version maintainer)
  file(READ "${file}" text)
  if(NOT text MATCHES "^quoxel \\(([^)]+)\\) " OR NOT CMAKE_MATCH_1 STREQUAL version)
    message(FATAL_ERROR "${file} has no entry for version ${version} on top")
  endif()
  if(NOT text MATCHES "\n -- ([^\n]+)  ([^\n]+)\n")
    message(FATAL_ERROR "${file}: the newest entry has no trailer line ' -- NAME <ADDRESS>  DATE'")
  endif()
  set(trailer " -- ${CMAKE_MATCH_1}  ${CMAKE_MATCH_2}")
  set(release_trailer " -- ${maintainer}  ${CMAKE_MATCH_2}")
  if(NOT CMAKE_MATCH_2 MATCHES
     "^[A-Z][a-z][a-z], ([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ([0-9]+):([0-9]+):([0-9]+) ([-+])([0-9][0-9])([0-9][0-9])$")
    message(FATAL_ERROR "${file}: '${CMAKE_MATCH_2}' is not a date like 'Mon, 07 Dec 2026 12:00:00 +0000'")
  endif()
  set(day ${CMAKE_MATCH_1})
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(FIND months "${CMAKE_MATCH_2}" month)
  set(year ${CMAKE_MATCH_3})
  math(EXPR month "${month} + 1")
  # Days from 1970-01-01 to the date, counting years from March so that a leap day ends a year.
  math(EXPR y "${year} - (14 - ${month}) / 12")
  math(EXPR days "365 * ${y} + ${y} / 4 - ${y} / 100 + ${y} / 400
                  + (153 * ((${month} + 9) % 12) + 2) / 5 + ${day} - 1 - 719468")
  math(EXPR epoch "${days} * 86400 + ${CMAKE_MATCH_4} * 3600 + ${CMAKE_MATCH_5} * 60 + ${CMAKE_MATCH_6}
                   - (${CMAKE_MATCH_7}1) * (${CMAKE_MATCH_8} * 3600 + ${CMAKE_MATCH_9} * 60)")
  math(EXPR month_digits "100 + ${month}")
  math(EXPR day_digits "100 + ${day}")
  string(SUBSTRING "${month_digits}" 1 2 mm)
  string(SUBSTRING "${day_digits}" 1 2 dd)
  string(REPLACE "${trailer}" "${release_trailer}" text "${text}")
  set(QUOXEL_RELEASE_EPOCH ${epoch} PARENT_SCOPE)
  set(QUOXEL_RELEASE_DATE "${year}-${mm}-${dd}" PARENT_SCOPE)
  set(QUOXEL_CHANGELOG "${text}" PARENT_SCOPE)
endfunction()
