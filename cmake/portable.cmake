# The tarball for any Linux (QUOXEL_STATIC): quoxel-VERSION-linux-PROCESSOR.tar.gz, one folder of
# that name with both programs, statically linked and stripped, their manual pages, the desktop
# entry, the right-click entries of Dolphin and the other file managers, LICENSE, README (doc/linux-readme.txt) and install.sh, which
# installs them for one user without root (packaging/install.sh). Packed by
# cmake/portable-tarball.cmake with the changelog's date on every member, like the .deb; its
# tests unpack it and use it as a user would.
set(QUOXEL_PORTABLE_NAME quoxel-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
set(tarball ${CMAKE_CURRENT_BINARY_DIR}/${QUOXEL_PORTABLE_NAME}.tar.gz)
find_program(TAR NAMES gtar tar REQUIRED)  # GNU tar, for --sort=name
set(packed_sources LICENSE doc/linux-readme.txt packaging/install.sh packaging/quoxel-drop.desktop
                   packaging/quoxel-drop-servicemenu.desktop packaging/in-terminal packaging/gnome-files-script
                   packaging/quoxel-drop.nemo_action packaging/file-manager-action.desktop packaging/thunar-action.xml)
list(TRANSFORM packed_sources PREPEND ${PROJECT_SOURCE_DIR}/)
add_custom_command(OUTPUT ${tarball}
  COMMAND ${CMAKE_COMMAND} -DTAR=${TAR} -DGZIP=${GZIP} -DNAME=${QUOXEL_PORTABLE_NAME}
          -DEPOCH=${QUOXEL_RELEASE_EPOCH} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DBINARY_DIR=${CMAKE_CURRENT_BINARY_DIR}
          -DQUOXEL=$<TARGET_FILE:quoxel> -DQUOXEL_DROP=$<TARGET_FILE:quoxel-drop> -DOUTPUT=${tarball}
          -P ${PROJECT_SOURCE_DIR}/cmake/portable-tarball.cmake
  DEPENDS quoxel quoxel-drop ${packed_sources} ${CMAKE_CURRENT_BINARY_DIR}/quoxel.1
          ${CMAKE_CURRENT_BINARY_DIR}/quoxel-drop.1 ${PROJECT_SOURCE_DIR}/cmake/portable-tarball.cmake
  VERBATIM)
add_custom_target(portable_tarball ALL DEPENDS ${tarball})

# The tarball's tests, which this build runs without the suites of the other builds: its two
# programs in a root that holds nothing else, and install.sh run by a user who is not root.
enable_testing()
add_test(NAME portable-root COMMAND sh ${PROJECT_SOURCE_DIR}/tests/portable-root-test.sh ${tarball})
add_test(NAME portable-install COMMAND sh ${PROJECT_SOURCE_DIR}/tests/portable-install-test.sh ${tarball})
set_tests_properties(portable-root portable-install PROPERTIES TIMEOUT 240 SKIP_RETURN_CODE 77)
# The documents, with the sizes that the README states for the tarball and its programs.
add_test(NAME docs COMMAND sh ${PROJECT_SOURCE_DIR}/tests/docs-test.sh ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/quoxel.1
                           ${CMAKE_CURRENT_BINARY_DIR}/quoxel-drop.1 ${tarball})
