# Included by the install script (cmake --install): records what an install puts in place, so
# that it can be removed again exactly, whatever the prefix and DESTDIR.

# Before anything is installed: the folders on the way to each of `destinations` (relative to the
# prefix) that do not exist yet, and that this install is therefore about to create.
function(quoxel_record_folders)
  set(created "")
  foreach(destination IN LISTS ARGN)
    set(folder "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${destination}")
    while(NOT EXISTS "${folder}")
      list(APPEND created "${folder}")
      get_filename_component(folder "${folder}" DIRECTORY)
    endwhile()
  endforeach()
  list(REMOVE_DUPLICATES created)
  # A folder sorts after its parent, so in descending order every folder comes before its parent.
  list(SORT created ORDER DESCENDING)
  set(quoxel_created_folders "${created}" PARENT_SCOPE)
endfunction()

# After everything is installed: writes `script` from `template` with each file installed so far,
# as it lies under DESTDIR, its SHA-256, and the folders recorded before.
function(quoxel_write_uninstall template script)
  set(files "")
  set(hashes "")
  foreach(file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
    file(SHA256 "$ENV{DESTDIR}${file}" hash)
    list(APPEND files "$ENV{DESTDIR}${file}")
    list(APPEND hashes "${hash}")
  endforeach()
  set(folders "${quoxel_created_folders}")
  # An install over an earlier one to the same place creates no folder; those the earlier one
  # created, as its script recorded them, are still this install's to remove.
  if(EXISTS "${script}")
    file(READ "${script}" earlier)
    string(REGEX MATCH "\nset\\(files \\[==\\[([^\n]*)\\]==\\]\\)" _ "${earlier}")
    if(CMAKE_MATCH_1 STREQUAL files)
      string(REGEX MATCH "\nset\\(folders \\[==\\[([^\n]*)\\]==\\]\\)" _ "${earlier}")
      list(APPEND folders ${CMAKE_MATCH_1})
      list(REMOVE_DUPLICATES folders)
      list(SORT folders ORDER DESCENDING)
    endif()
  endif()
  configure_file("${template}" "${script}" @ONLY)
  message(STATUS "Uninstall with: cmake -P ${script}")
endfunction()
