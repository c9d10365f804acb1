#!/bin/sh
# desktop-test.sh SOURCE_DIR: the desktop entry and Dolphin's service menu, as shipped, are valid
# desktop files (the service menu but for the keys that only Plasma's menus have); the entry,
# every action of the menu, and the right-click entries of Nemo and of Caja and PCManFM-Qt have an
# icon that freedesktop's standard icon names list, so
# that every icon theme draws it; and their names say what is converted, and by what.
set -eu
src=$1
. "$(dirname "$0")/common.sh"
command -v desktop-file-validate >/dev/null || { echo "SKIP: no desktop-file-validate (desktop-file-utils)"; exit 77; }
entry=$src/packaging/quoxel-drop.desktop
menu=$src/packaging/quoxel-drop-servicemenu.desktop

desktop-file-validate "$entry" || fail "$entry is not valid"
desktop-file-validate "$menu" | grep -v -E 'key "(MimeType|Actions)" is present in group "Desktop Entry", but the type is "Service"' &&
    fail "$menu is not valid"

# value FILE GROUP KEY: the value of KEY in the group [GROUP] of FILE, or nothing.
value() {
    awk -v group="[$2]" -v key="$3=" '
        /^\[/ { in_group = ($0 == group); next }
        in_group && index($0, key) == 1 { print substr($0, length(key) + 1); exit }' "$1"
}
# Standard icon names of the contexts that suit a program for sound files.
standard_icons='audio-x-generic multimedia-player applications-multimedia document-save-as edit-copy'

# One row per group that a desktop shows: FILE GROUP, the words its name must hold, and the key
# of its icon where that is not Icon.
nemo=$src/packaging/quoxel-drop.nemo_action
fma=$src/packaging/file-manager-action.desktop
rows="$entry|Desktop Entry|Quoxel WAV Converter
$menu|Desktop Entry|Quoxel WAV Converter
$menu|Desktop Action convert|Make converted copies of WAV files (quoxel)
$nemo|Nemo Action|Make converted copies of WAV files (quoxel)|Icon-Name
$fma|Desktop Entry|Make converted copies of WAV files (quoxel)"
printf '%s\n' "$rows" | while IFS='|' read -r file group words icon_key; do
    icon=$(value "$file" "$group" "${icon_key:-Icon}")
    [ -n "$icon" ] || fail "$(basename "$file") [$group] has no Icon="
    case " $standard_icons " in *" $icon "*) ;; *) fail "$(basename "$file") [$group]: Icon=$icon is no standard freedesktop icon name" ;; esac
    name=$(value "$file" "$group" Name)
    case $name in *"$words"*) ;; *) fail "$(basename "$file") [$group]: Name=$name does not say \"$words\"" ;; esac
done
# Every action that the menu lists is a group of its own, and the test above saw each one.
for action in $(value "$menu" "Desktop Entry" Actions | tr ';' ' '); do
    printf '%s\n' "$rows" | grep -q -F "|Desktop Action $action|" || fail "the test has no row for the action $action"
    grep -q -x -F "[Desktop Action $action]" "$menu" || fail "the menu lists the action $action, which it does not define"
done
# Where the copies go, in the words of the program: inside a folder, beside a file only where it
# is given on its own.
comment=$(value "$entry" "Desktop Entry" Comment)
case $comment in *'"converted", inside each folder, or beside a file dropped on its own'*) ;;
*) fail "the desktop entry's comment does not say where the copies go: $comment" ;; esac
# Thunar's action, which is XML, and the script of GNOME Files' Scripts menu, which takes its name
# from its file's, say the same.
grep -q -x "	<name>Make converted copies of WAV files (quoxel)</name>" "$src/packaging/thunar-action.xml" ||
    fail "Thunar's action does not say \"Make converted copies of WAV files (quoxel)\""
grep -q -F 'gnome-files-script 755 share/nautilus/scripts/$menu_name' "$src/packaging/install.sh" &&
    grep -q -x "menu_name='Make converted copies of WAV files (quoxel)'" "$src/packaging/install.sh" ||
    fail "install.sh does not name GNOME Files' script as the service menu"
echo "desktop-test: the desktop entry and the service menu are valid, with a standard icon and a name that says what they do"
