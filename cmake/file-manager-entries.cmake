# Included by the install script (cmake --install, and CPack's): writes and installs the right-click
# entries that name in-terminal and quoxel-drop by their full paths, under the prefix installed to,
# which `cmake --install --prefix` may set apart from the one configured. Nemo's action goes to
# share/nemo/actions, the FileManager-Actions file of Caja and PCManFM-Qt to
# share/file-manager/actions, and the script for GNOME Files' Scripts menu, which has no folder for
# every user, to share/quoxel, from where a user copies it (the README says how). Each is filled
# as packaging/install.sh fills it for one user: each path a word in single quotes, and in the key
# files every % and every backslash doubled.
function(quoxel_install_file_manager_entries source_dir binary_dir bindir datadir)
  set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(command "")
  foreach(path IN ITEMS "${CMAKE_INSTALL_PREFIX}/${datadir}/quoxel/in-terminal" "${CMAKE_INSTALL_PREFIX}/${bindir}/quoxel-drop")
    string(REPLACE "'" "'\\''" path "${path}")
    string(APPEND command " '${path}'")
  endforeach()
  string(STRIP "${command}" command)
  string(REPLACE "%" "%%" key_command "${command}")
  string(REPLACE "\\" "\\\\" key_command "${key_command}")
  # Each entry: its template, the name and folder it is installed as, the command it takes, and
  # whether it is run.
  set(entries
    quoxel-drop.nemo_action quoxel-drop.nemo_action nemo/actions key_command plain
    file-manager-action.desktop quoxel-drop.desktop file-manager/actions key_command plain
    gnome-files-script gnome-files-script quoxel command executable)
  set(plain OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  set(executable OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  while(entries)
    list(POP_FRONT entries template name folder value mode)
    file(READ "${source_dir}/packaging/${template}" text)
    string(REPLACE "@COMMAND@" "${${value}}" text "${text}")
    file(WRITE "${binary_dir}/file-manager-entries/${folder}/${name}" "${text}")
    file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${datadir}/${folder}" TYPE FILE PERMISSIONS ${${mode}}
         FILES "${binary_dir}/file-manager-entries/${folder}/${name}")
  endwhile()
  # The install script lists what it installed, for install_manifest.txt and the uninstall.
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()
