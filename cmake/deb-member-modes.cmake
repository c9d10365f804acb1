# Run by cpack after it has made the packages. CPack writes the members of a .deb (debian-binary,
# control.tar.gz, data.tar.gz) with the modes of its temporary files, which follow the umask;
# dpkg-deb gives them 0644. Each member's mode is set to that, so that no umask changes a byte.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(NOT deb MATCHES "\\.deb$")
    continue()
  endif()
  file(SIZE "${deb}" size)
  set(header 8)  # after the archive's magic, "!<arch>\n"
  while(header LESS size)
    # A member header: name (16 bytes), time (12), owner (6), group (6), mode (8), size (10), "`\n".
    file(READ "${deb}" fields OFFSET ${header} LIMIT 60)
    string(SUBSTRING "${fields}" 48 10 member_size)
    string(STRIP "${member_size}" member_size)
    math(EXPR mode_at "${header} + 40")
    execute_process(COMMAND sh -c "printf '100644  ' | dd of=\"$0\" bs=1 seek=$1 conv=notrunc 2>/dev/null"
                            "${deb}" ${mode_at} RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "cannot set the member modes of ${deb}")
    endif()
    math(EXPR header "${header} + 60 + ${member_size} + ${member_size} % 2")  # members are padded to even
  endwhile()
endforeach()
