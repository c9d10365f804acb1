#!/bin/sh
# portable-install-test.sh TARBALL: the tarball's install.sh, run under umask 002 by a user who
# is not root (a user id of this run's own, through setpriv) with a HOME whose name has a space
# quotes, a % and an &, puts everything under that HOME's .local and nothing anywhere else; the desktop
# entry and the service menus it installs validate, and their Exec lines, run as a desktop runs
# them (konsole a stand-in that runs its -e command), convert a dropped folder whose name has a
# space and a quote, and so do the right-click entries of GNOME Files, Nemo, Thunar, Caja and
# PCManFM-Qt, each run as its file manager runs it (tests/desktop-exec.sh), in a terminal (a
# stand-in) or, with none, with the output shown in a dialog. Thunar's entry is merged into the
# user's file of custom actions, started from the system's where the user had none, and taken out
# again leaving the file exactly as it was. A second install replaces the first; started with no terminal in a desktop
# session, as a file manager starts it, it shows its output in a dialog (kdialog, a stand-in
# here). The uninstaller that the install put in share/quoxel works without the unpacked tarball
# and leaves HOME exactly as it was, itself removed, a file of another's in share/applications
# included; a file that the script did not install stops an install before it changes anything;
# a file changed since the install is left by --uninstall, and named.
set -eu
tarball=$(readlink -f "$1")
tests=$(cd "$(dirname "$0")" && pwd)
. "$tests/common.sh"
. "$tests/desktop-exec.sh"
ulimit -f 131072
if [ "$(id -u)" -ne 0 ] || ! command -v setpriv >/dev/null; then
    echo "SKIP: install.sh is run as a user of its own, which needs root and setpriv"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
# No account has this id, so every file that it owns was made by the install or its programs.
uid=$(($(od -An -N2 -tu2 /dev/urandom) + 200000))
home="$work/the \"deck's\" 100%F & home"
mkdir -p "$home/.local/share/applications" "$work/drop" "$work/bin" "$work/shown" "$work/xdg/Thunar"
echo '[Desktop Entry]' > "$home/.local/share/applications/another.desktop"
chown -R "$uid:$uid" "$home" "$work/drop" "$work/shown"
# The system's custom actions of Thunar, which a new file of the user's must keep in view.
printf '<?xml version="1.0" encoding="UTF-8"?>\n<actions>\n  <action>\n    <name>Open Terminal Here</name>\n    <unique-id>system-1</unique-id>\n  </action>\n\n</actions>' \
    > "$work/xdg/Thunar/uca.xml"
as_user() {
    timeout -k 5 60 setpriv --reuid="$uid" --regid="$uid" --clear-groups \
        env -i HOME="$home" PATH="${as_user_path:-$work/bin:/usr/bin:/bin}" XDG_CONFIG_DIRS="$work/xdg" "$@" </dev/null >"$work/out" 2>&1
}
as_user test -r "$tarball" || { echo "SKIP: a user who is not root cannot reach $tarball"; exit 77; }
tar -xzf "$tarball" -C "$work"
install=$work/$(basename "$tarball" .tar.gz)/install.sh
# The unpacked folder shows only what a person opens; the rest is in files/.
[ "$(ls "${install%/install.sh}" | LC_ALL=C sort | tr '\n' ' ')" = "LICENSE README files install.sh " ] ||
    fail "the tarball's top holds: $(ls "${install%/install.sh}")"
install() { status=0; as_user sh -c 'umask 002 && exec sh "$@"' sh "$install" "$@" || status=$?; }

# Every path under HOME with its mode, and a checksum of each file.
snapshot() {
    (cd "$home" && find . | LC_ALL=C sort | while IFS= read -r p; do
        if [ -f "$p" ]; then echo "$(stat -c %A "$p") $p $(cksum < "$p")"; else echo "$(stat -c %A "$p") $p"; fi
    done)
}
before=$(snapshot)

install
ended 0
prefix=$home/.local
entry=$prefix/share/applications/quoxel-drop.desktop
kio=$prefix/share/kio/servicemenus/quoxel-drop-servicemenu.desktop
kservices=$prefix/share/kservices5/ServiceMenus/quoxel-drop-servicemenu.desktop
(cd "$prefix" && find . -type f | LC_ALL=C sort) > "$work/files"
script="$prefix/share/nautilus/scripts/Make converted copies of WAV files (quoxel)"
[ "$(cat "$work/files")" = "$(printf './%s\n' bin/quoxel bin/quoxel-drop share/applications/another.desktop \
    share/applications/quoxel-drop.desktop share/file-manager/actions/quoxel-drop.desktop \
    share/kio/servicemenus/quoxel-drop-servicemenu.desktop \
    share/kservices5/ServiceMenus/quoxel-drop-servicemenu.desktop share/man/man1/quoxel-drop.1 share/man/man1/quoxel.1 \
    "share/nautilus/scripts/${script##*/}" share/nemo/actions/quoxel-drop.nemo_action \
    share/quoxel/in-terminal share/quoxel/installed-files share/quoxel/uninstall.sh)" ] ||
    fail "the install put in $prefix: $(cat "$work/files")"
uninstaller=$prefix/share/quoxel/uninstall.sh
uca=$home/.config/Thunar/uca.xml
said "installed: Thunar's entry in $uca"
grep -q '<unique-id>system-1</unique-id>' "$uca" || fail "the new $uca hides the system's actions: $(cat "$uca")"
for f in "$prefix/bin/quoxel" "$prefix/bin/quoxel-drop" "$kio" "$uninstaller" "$script" "$prefix/share/quoxel/in-terminal"; do
    [ -x "$f" ] || fail "$f is not executable"
done
said "installed: $prefix/bin/quoxel-drop"
[ "$(head -n 1 "$work/out")" = "Quoxel WAV Converter is installed for you, in $prefix." ] ||
    fail "the install does not say first what it did: $(cat "$work/out")"
# No folder of the home folder's is one where a terminal looks for programs: the full path, said.
said_line "  \"$prefix/bin/quoxel-drop\" FOLDER"
said "  \"$uninstaller\""

# The menus are checked as desktop files, but for their keys that only Plasma knows.
desktop-file-validate "$entry" || fail "the installed desktop entry is not valid"
for menu in "$kio" "$kservices"; do
    desktop-file-validate "$menu" | grep -v -E 'key "(MimeType|Actions)" is present in group "Desktop Entry", but the type is "Service"' &&
        fail "the service menu $menu is not valid"
done

# A stand-in for Konsole that runs its -e command in place.
printf '#!/bin/sh\n[ "$1" = -e ] || exit 99\nshift\nexec "$@"\n' > "$work/bin/konsole"
chmod 755 "$work/bin/konsole"
folder="$work/drop/My \"Game's\" sounds"
as_user mkdir -p "$folder/sfx" "$work/drop/menu"
head -c 3000 /dev/urandom > "$work/door.wav"
cp "$work/door.wav" "$folder/sfx/door.wav"
cp "$work/door.wav" "$work/drop/menu/take 1.wav"
chown -R "$uid:$uid" "$work/drop"
perl -0777 -pe 'substr($_, 4) =~ s/(.)/chr(ord($1) >> 4 | (ord($1) & 15) << 4)/gse' "$work/door.wav" > "$work/expected.wav"
[ "$(exec_words "$entry" "Desktop Entry" | head -n 1)" = "$prefix/bin/quoxel-drop" ] ||
    fail "the desktop entry does not name $prefix/bin/quoxel-drop: $(grep '^Exec=' "$entry")"
as_user sh -c '. "$0"; run_exec "$@"' "$tests/desktop-exec.sh" "$entry" "Desktop Entry" "$folder" ||
    fail "the desktop entry's Exec line failed: $(cat "$work/out")"
cmp -s "$work/expected.wav" "$folder/converted/sfx/door.wav" || fail "the desktop entry did not convert the folder"
for menu in "$kio" "$kservices"; do
    rm -rf "$folder/converted" "$work/drop/menu/converted"
    as_user sh -c '. "$0"; run_exec "$@"' "$tests/desktop-exec.sh" "$menu" "Desktop Action convert" \
        "$folder" "$work/drop/menu/take 1.wav" || fail "the service menu's Exec line failed: $(cat "$work/out")"
    cmp -s "$work/expected.wav" "$folder/converted/sfx/door.wav" && cmp -s "$work/expected.wav" "$work/drop/menu/converted/take 1.wav" ||
        fail "the service menu $menu did not convert the folder and the file: $(cat "$work/out")"
done

# The other file managers' entries, each run as its file manager runs it, in a terminal: a
# stand-in for x-terminal-emulator, the first that in-terminal looks for, which runs its -e command
# in the home folder, as a terminal may start there whatever folder it was started from.
printf '#!/bin/sh\n[ "$1" = -e ] || exit 99\nshift\ncd && exec "$@"\n' > "$work/bin/x-terminal-emulator"
chmod 755 "$work/bin/x-terminal-emulator"
for row in "gnome-files|$script" "nemo|$prefix/share/nemo/actions/quoxel-drop.nemo_action" "thunar|$uca" \
    "caja|$prefix/share/file-manager/actions/quoxel-drop.desktop" "pcmanfm-qt|$prefix/share/file-manager/actions/quoxel-drop.desktop"; do
    rm -rf "$folder/converted" "$work/drop/menu/converted"
    as_user sh -c '. "$0"; run_entry "$@"' "$tests/desktop-exec.sh" "${row%%|*}" "${row#*|}" "$folder" "$work/drop/menu/take 1.wav" ||
        fail "the entry of ${row%%|*} failed: $(cat "$work/out")"
    cmp -s "$work/expected.wav" "$folder/converted/sfx/door.wav" && cmp -s "$work/expected.wav" "$work/drop/menu/converted/take 1.wav" ||
        fail "the entry of ${row%%|*} did not convert the folder and the file: $(cat "$work/out")"
done
# With no terminal, the output is shown in a dialog (a stand-in for zenity), the counts its title.
mkdir "$work/no-terminal"
for tool in sh mktemp tail head cp rm cat awk sed dirname; do ln -s "$(command -v "$tool")" "$work/no-terminal/$tool"; done
printf '#!/bin/sh\nfor a; do case $a in --title=*) echo "${a#--title=}" ;; --filename=*) cat "${a#--filename=}" ;; esac; done > "%s/shown/zenity"\n' \
    "$work" > "$work/no-terminal/zenity"
chmod 755 "$work/no-terminal/zenity"
rm -rf "$folder/converted"
as_user_path=$work/no-terminal
as_user sh -c '. "$0"; run_entry "$@"' "$tests/desktop-exec.sh" nemo \
    "$prefix/share/nemo/actions/quoxel-drop.nemo_action" "$folder" || fail "the entry with no terminal failed: $(cat "$work/out")"
as_user_path=''
[ "$(head -n 1 "$work/shown/zenity")" = "1 converted, 0 skipped, 0 failed." ] && grep -q -F "Copies are in" "$work/shown/zenity" ||
    fail "with no terminal, the dialog showed: $(cat "$work/shown/zenity" "$work/out")"
cmp -s "$work/expected.wav" "$folder/converted/sfx/door.wav" || fail "the entry with no terminal did not convert the folder"
rm -f "$work/shown"/*

# With no terminal but a desktop session, as when Dolphin executes it, the output is shown in a
# dialog: a stand-in for kdialog that keeps the text it was given to show.
printf '#!/bin/sh\n[ "$3" = --textbox ] || exit 99\ncp "$4" "%s/shown/$(date +%%s%%N)"\n' "$work" > "$work/bin/kdialog"
chmod 755 "$work/bin/kdialog"
shown() {  # PHRASE: the dialog showed a line that holds PHRASE
    grep -r -q -F -- "$1" "$work/shown" || fail "the dialog did not show \"$1\"; the terminal had: $(cat "$work/out")"
}
install_without_terminal() { status=0; as_user env DISPLAY=:0 sh -c 'umask 002 && exec sh "$@"' sh "$install" || status=$?; }
install_without_terminal
ended 0
shown "installed: $entry"
[ "$(head -n 1 "$work/shown"/*)" = "Quoxel WAV Converter is installed for you, in $prefix." ] ||
    fail "the dialog does not say first what the install did: $(cat "$work/shown"/*)"
rm -f "$work/shown"/*

# The uninstaller, with the unpacked tarball gone, removes everything, itself included.
mv "$(dirname "$install")" "$work/unpacked-elsewhere"
status=0
as_user env DISPLAY=:0 sh "$uninstaller" || status=$?
ended 0
shown "removed: $uninstaller"
shown "This uninstaller has removed itself."
case $(head -n 1 "$work/shown"/*) in "Quoxel WAV Converter is removed from $prefix: "*" files, and the record of the install.") ;;
*) false ;; esac ||
    fail "the dialog does not say first what the uninstall did: $(cat "$work/shown"/*)"
[ "$(snapshot)" = "$before" ] || fail "the uninstaller left HOME as: $(snapshot)"
mv "$work/unpacked-elsewhere" "$(dirname "$install")"

# A file that the script did not install stops it, and nothing is installed.
as_user mkdir "${prefix:?}/bin"
as_user sh -c 'echo mine > "$HOME/.local/bin/quoxel-drop"'
held=$(snapshot)
install
ended 1
said "$prefix/bin/quoxel-drop is there already, and this script did not install it"
[ "$(snapshot)" = "$held" ] || fail "an install that stopped changed HOME: $(snapshot)"
rm -r "${prefix:?}/bin"

# Thunar's file of the user's own: our entry is merged into it, once however often the install
# runs, and taken out again, leaving the file byte for byte as it was.
as_user sh -c 'mkdir -p "$HOME/.config/Thunar" && printf "<?xml version=\"1.0\"?>\n<actions>\n<action>\n\t<unique-id>1-1</unique-id>\n</action>\n</actions>\n" > "$HOME/.config/Thunar/uca.xml"'
mine=$(snapshot)
install
install
[ "$(grep -c '<unique-id>quoxel-drop</unique-id>' "$uca")" = 1 ] && grep -q '<unique-id>1-1</unique-id>' "$uca" ||
    fail "the user's $uca holds: $(cat "$uca")"
install --uninstall
said "removed Thunar's entry from: $uca"
[ "$(snapshot)" = "$mine" ] || fail "the uninstall left HOME, and the user's $uca, as: $(snapshot) $(cat "$uca")"
rm -r "${home:?}/.config"

# A folder of the home folder's where a terminal looks for programs gets a link to each, so that
# a new terminal finds quoxel-drop by its name; the uninstall takes the links away.
as_user mkdir "$home/bin"
linked=$(snapshot)
as_user_path=$home/bin:$work/bin:/usr/bin:/bin
install
said_line "In a new terminal window, type: quoxel-drop FOLDER"
as_user quoxel-drop --version || fail "a new terminal does not find quoxel-drop by its name: $(cat "$work/out")"
install --uninstall
as_user_path=''
said "removed: $home/bin/quoxel-drop"
[ "$(snapshot)" = "$linked" ] || fail "the uninstall left HOME, with its bin, as: $(snapshot)"
rmdir "$home/bin"

# A file changed since the install stays, named.
install
as_user sh -c 'echo changed >> "$HOME/.local/share/man/man1/quoxel.1"'
install --uninstall
said "changed since the install, left: $prefix/share/man/man1/quoxel.1"
[ "$(cd "$prefix" && find . -type f | LC_ALL=C sort | tr '\n' ' ')" = "./share/applications/another.desktop ./share/man/man1/quoxel.1 " ] ||
    fail "the uninstall left: $(cd "$prefix" && find . -type f)"

# Nothing of the user's anywhere but in HOME and in the folders dropped.
find / \( -path /proc -o -path /sys \) -prune -o -uid "$uid" -print 2>/dev/null > "$work/owned" || true
grep -v -F -e "$home" -e "$work/drop" -e "$work/shown" "$work/owned" && fail "the install or its programs wrote outside HOME"
echo "portable-install-test: install.sh installs, replaces, refuses and uninstalls exactly, for a user who is not root"
