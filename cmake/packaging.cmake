# Installation and packages. On Windows: a .zip with quoxel.exe, drop-files-here.exe, README.txt
# and LICENSE.txt, the text files made from doc/windows-readme.txt and LICENSE with CRLF line ends.
# Elsewhere: bin/quoxel and bin/quoxel-drop, their manual pages, the drop program's desktop
# entry, Dolphin's service menu and the right-click entries of Nemo, Caja and PCManFM-Qt, and the changelog and copyright file that a Debian package carries, packaged as a .deb. The version is that of project(), and the newest entry of
# debian/changelog dates it: the manual page and the packages take that date, so that every
# build of a release gives the same bytes, from a checkout or a tarball, under any umask or time
# zone (cmake/changelog.cmake, cmake/cpack-config.cmake).
include(GNUInstallDirs)
include(cmake/changelog.cmake)
set(QUOXEL_MAINTAINER "The quoxel developers <quoxel@example.org>" CACHE STRING
    "Maintainer of the Debian package and its changelog entry: set your own for a package you publish")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS debian/changelog)
quoxel_read_changelog(${PROJECT_SOURCE_DIR}/debian/changelog ${PROJECT_VERSION} "${QUOXEL_MAINTAINER}")
configure_file(doc/quoxel.1 quoxel.1 @ONLY)
configure_file(doc/quoxel-drop.1 quoxel-drop.1 @ONLY)
set(CPACK_PACKAGE_NAME quoxel)
set(CPACK_PACKAGE_VENDOR "The quoxel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack-config.cmake)
set(CPACK_QUOXEL_EPOCH ${QUOXEL_RELEASE_EPOCH})
# Folders made by an install or in a package are rwxr-xr-x whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

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
  math(EXPR bits "${CMAKE_SIZEOF_VOID_P} * 8")
  set(CPACK_PACKAGE_FILE_NAME quoxel-${PROJECT_VERSION}-win${bits})
else()
  # Stripped by cpack here; the Windows programs are stripped when linked, so that the zip holds
  # the very files of the build tree.
  set(CPACK_STRIP_FILES ON)

  # The copyright file in Debian's machine-readable form, packaging/copyright.in filled from
  # LICENSE: @holder@ is what follows "Copyright (c) " there, and @terms@ the paragraphs after
  # that line, written as the format's long text: every line indented by one space, and an empty
  # line as " .".
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS LICENSE)
  file(READ LICENSE license)
  if(NOT license MATCHES "Copyright \\(c\\) ([^\n]+)\n(.+)")
    message(FATAL_ERROR "LICENSE has no line 'Copyright (c) HOLDER' before its terms")
  endif()
  set(holder "${CMAKE_MATCH_1}")
  string(STRIP "${CMAKE_MATCH_2}" terms)
  string(REPLACE "\n\n" "\n.\n" terms "${terms}")
  string(REPLACE "\n" "\n " terms " ${terms}")
  configure_file(packaging/copyright.in copyright @ONLY)

  # gzip -9n: no name and no time in the header, so that the same text gives the same bytes.
  find_program(GZIP gzip REQUIRED)
  foreach(page IN ITEMS quoxel.1 quoxel-drop.1)
    add_custom_command(OUTPUT ${page}.gz DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${page}
                       COMMAND ${GZIP} -9nc ${page} > ${page}.gz)
  endforeach()
  file(GENERATE OUTPUT changelog CONTENT "${QUOXEL_CHANGELOG}")
  add_custom_command(OUTPUT changelog.gz DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog
                     COMMAND ${GZIP} -9nc changelog > changelog.gz)
  add_custom_target(compressed_docs ALL DEPENDS quoxel.1.gz quoxel-drop.1.gz changelog.gz)

  # Every install writes uninstall.cmake beside install_manifest.txt, which removes exactly the
  # files it installed and the folders it created (cmake/uninstall-record.cmake).
  set(service_menus ${CMAKE_INSTALL_DATADIR}/kio/servicemenus ${CMAKE_INSTALL_DATADIR}/kservices5/ServiceMenus)
  set(destinations ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_MANDIR}/man1 ${CMAKE_INSTALL_DOCDIR}
                   ${CMAKE_INSTALL_DATADIR}/applications ${service_menus} ${CMAKE_INSTALL_DATADIR}/quoxel
                   ${CMAKE_INSTALL_DATADIR}/nemo/actions ${CMAKE_INSTALL_DATADIR}/file-manager/actions)
  install(CODE "include(${PROJECT_SOURCE_DIR}/cmake/uninstall-record.cmake)
                quoxel_record_folders(${destinations})")
  install(TARGETS quoxel quoxel-drop RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quoxel.1.gz ${CMAKE_CURRENT_BINARY_DIR}/quoxel-drop.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The desktop entry that files and folders are dropped on, in a menu, on a desktop or a panel.
  install(FILES packaging/quoxel-drop.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # Dolphin's right-click on a folder or .wav files, where Plasma 6 and Plasma 5 look for it.
  # System-wide menus need no executable bit (Plasma 6 asks it only of a user's own).
  foreach(folder IN LISTS service_menus)
    install(FILES packaging/quoxel-drop-servicemenu.desktop DESTINATION ${folder})
  endforeach()
  # The right-click entries of the other file managers, which run quoxel-drop in a terminal window
  # through in-terminal: Nemo's and the FileManager-Actions file of Caja and PCManFM-Qt in their
  # system folders, and the script of GNOME Files, which reads scripts only from a user's folder,
  # in share/quoxel (cmake/file-manager-entries.cmake). Thunar has no system folder for them.
  install(PROGRAMS packaging/in-terminal DESTINATION ${CMAKE_INSTALL_DATADIR}/quoxel)
  install(CODE "include(${PROJECT_SOURCE_DIR}/cmake/file-manager-entries.cmake)
                quoxel_install_file_manager_entries(${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}
                  ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_DATADIR})")
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz ${CMAKE_CURRENT_BINARY_DIR}/copyright
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(CODE "quoxel_write_uninstall(${PROJECT_SOURCE_DIR}/cmake/uninstall.cmake.in
                                       ${PROJECT_BINARY_DIR}/uninstall.cmake)")

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUOXEL_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Quoxel WAV Converter makes converted copies of a game's WAV files, stored
with the two halves of each byte exchanged, so that players and editors read
them, and converts edited sounds back; the originals are never changed.
quoxel-drop converts whole folders at once: each WAV file of a folder given
gets its copy in a folder named converted inside that folder, with the same
subfolders, and a file given on its own gets its copy in a folder converted
beside it; what has a copy already is skipped. It runs from the application
menu, from the right-click menu of folders and WAV files in Dolphin, Nemo,
Caja and PCManFM-Qt, in a terminal window, or from a shell.
.
quoxel FILE, for scripts, converts one file in place instead: every byte
from offset 4 to the end has its halves exchanged, and running it twice
restores the file. Every failure is reported as one line naming the source
location and the failed library call, with exit status 1.")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # The service menu runs its conversion in a Konsole window; without Konsole the menu entry does
  # nothing, while the programs and the desktop entry work all the same: recommended, not required.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS konsole)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb-member-modes.cmake)
endif()
include(CPack)
