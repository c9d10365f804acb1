# Installation and packages. On Windows: a .zip with quoxel.exe, drop-files-here.exe, README.txt
# and LICENSE.txt, the text files made from doc/windows-readme.txt and LICENSE with CRLF line ends. Elsewhere: bin/quoxel, its
# manual page, and the changelog and copyright file that a Debian package carries, packaged as a
# .deb. The version is that of project(); package timestamps come from SOURCE_DATE_EPOCH, by
# default the time of the last commit (cmake/cpack-config.cmake), so that two builds of one
# commit give the same bytes.
include(GNUInstallDirs)
configure_file(doc/quoxel.1 quoxel.1 @ONLY)
set(CPACK_PACKAGE_NAME quoxel)
set(CPACK_PACKAGE_VENDOR "The quoxel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack-config.cmake)
set(CPACK_QUOXEL_SOURCE_DIR ${PROJECT_SOURCE_DIR})

if(WIN32)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS doc/windows-readme.txt LICENSE)
  set(sources doc/windows-readme.txt LICENSE)
  set(packed README.txt LICENSE.txt)
  foreach(source packed IN ZIP_LISTS sources packed)
    file(READ ${PROJECT_SOURCE_DIR}/${source} text)
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${packed} "${text}")
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${packed} DESTINATION .)
  endforeach()
  install(TARGETS quoxel drop-files-here RUNTIME DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME quoxel-${PROJECT_VERSION}-win32)
else()
  # The changelog records each version; its newest entry must be this one.
  file(STRINGS packaging/changelog newest LIMIT_COUNT 1)
  if(NOT newest MATCHES "^quoxel \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog has no entry for version ${PROJECT_VERSION} on top")
  endif()

  # The copyright file in Debian's machine-readable form, made from LICENSE.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS LICENSE)
  file(READ LICENSE license)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" _ "${license}")
  set(holder "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "^.*\n\n(Permission)" "\\1" terms "${license}")
  string(STRIP "${terms}" terms)
  string(REPLACE "\n" "\n " terms " ${terms}")
  string(REPLACE "\n \n" "\n .\n" terms "${terms}")
  configure_file(packaging/copyright.in copyright @ONLY)

  # gzip -9n: no name and no time in the header, so that the same text gives the same bytes.
  find_program(GZIP gzip REQUIRED)
  add_custom_command(OUTPUT quoxel.1.gz DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/quoxel.1
                     COMMAND ${GZIP} -9nc quoxel.1 > quoxel.1.gz)
  add_custom_command(OUTPUT changelog.gz DEPENDS packaging/changelog
                     COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > changelog.gz)
  add_custom_target(compressed_docs ALL DEPENDS quoxel.1.gz changelog.gz)

  install(TARGETS quoxel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quoxel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz ${CMAKE_CURRENT_BINARY_DIR}/copyright
          DESTINATION ${CMAKE_INSTALL_DOCDIR})

  set(CPACK_GENERATOR DEB)
  set(QUOXEL_MAINTAINER "The quoxel developers <quoxel@example.org>" CACHE STRING
      "Maintainer field of the Debian package: set your own address for a package you publish")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUOXEL_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "quoxel rewrites one existing file in place: every byte from offset 4 to
the end has its two 4-bit halves exchanged (0xAB becomes 0xBA). The first
four bytes are never touched, and running it twice restores the file.
Every failure is reported as one line naming the source location and the
failed library call, with exit status 1.")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
endif()
include(CPack)
