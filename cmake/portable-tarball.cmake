# cmake -DTAR=... -DGZIP=... -DNAME=... -DEPOCH=... -DSOURCE_DIR=... -DBINARY_DIR=... -DQUOXEL=...
#       -DQUOXEL_DROP=... -DOUTPUT=... -P portable-tarball.cmake
cmake_minimum_required(VERSION 3.25)
# Packs the tarball for any Linux: the files in a folder NAME, staged in BINARY_DIR with modes set
# here (the umask of the build changes none), then packed by GNU tar with the names sorted, the
# date EPOCH (or SOURCE_DATE_EPOCH, where the caller sets it) on every member, owner and group 0
# without names, and compressed by gzip -n, which stores no name and no time; so the same sources
# give the same bytes at any path, under any umask and in any time zone.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(EPOCH $ENV{SOURCE_DATE_EPOCH})
endif()
set(ENV{LC_ALL} C)
set(executable OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(plain OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

set(stage ${BINARY_DIR}/portable-stage)
set(top ${stage}/${NAME})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${top}/files)
file(CHMOD ${stage} ${top} ${top}/files PERMISSIONS ${executable})
# Each file: where it comes from, its name in the folder, and whether it is run. The top holds
# only what a person opens, README, install.sh and LICENSE; what install.sh installs is in files/.
set(files
  ${SOURCE_DIR}/doc/linux-readme.txt README plain
  ${SOURCE_DIR}/packaging/install.sh install.sh executable
  ${SOURCE_DIR}/LICENSE LICENSE plain
  ${QUOXEL} files/quoxel executable
  ${QUOXEL_DROP} files/quoxel-drop executable
  ${BINARY_DIR}/quoxel.1 files/quoxel.1 plain
  ${BINARY_DIR}/quoxel-drop.1 files/quoxel-drop.1 plain
  ${SOURCE_DIR}/packaging/quoxel-drop.desktop files/quoxel-drop.desktop plain
  ${SOURCE_DIR}/packaging/quoxel-drop-servicemenu.desktop files/quoxel-drop-servicemenu.desktop plain
  ${SOURCE_DIR}/packaging/in-terminal files/in-terminal executable
  ${SOURCE_DIR}/packaging/gnome-files-script files/gnome-files-script executable
  ${SOURCE_DIR}/packaging/quoxel-drop.nemo_action files/quoxel-drop.nemo_action plain
  ${SOURCE_DIR}/packaging/file-manager-action.desktop files/file-manager-action.desktop plain
  ${SOURCE_DIR}/packaging/thunar-action.xml files/thunar-action.xml plain)
while(files)
  list(POP_FRONT files source name mode)
  file(COPY_FILE ${source} ${top}/${name})
  file(CHMOD ${top}/${name} PERMISSIONS ${${mode}})
endwhile()

execute_process(
  COMMAND ${TAR} --create --format=ustar --sort=name --mtime=@${EPOCH} --owner=0 --group=0 --numeric-owner
                 --file=- --directory=${stage} ${NAME}
  COMMAND ${GZIP} -9n
  OUTPUT_FILE ${OUTPUT}.part
  COMMAND_ERROR_IS_FATAL ANY)
file(RENAME ${OUTPUT}.part ${OUTPUT})
file(REMOVE_RECURSE ${stage})
