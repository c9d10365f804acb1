#!/bin/sh
# portable-install-test.sh TARBALL: the tarball's install.sh, run under umask 002 by a user who
# is not root (a user id of this run's own, through setpriv) with a HOME whose name has a space
# and a quote, puts everything under that HOME's .local and nothing anywhere else; the desktop
# entry and the service menus it installs validate, and their Exec lines, run as a desktop runs
# them (konsole a stand-in that runs its -e command), convert a dropped folder whose name has a
# space and a quote. A second install replaces the first; started with no terminal in a desktop
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
home="$work/the \"deck\" home"
mkdir -p "$home/.local/share/applications" "$work/drop" "$work/bin" "$work/shown"
echo '[Desktop Entry]' > "$home/.local/share/applications/another.desktop"
chown -R "$uid:$uid" "$home" "$work/drop" "$work/shown"
as_user() {
    timeout -k 5 60 setpriv --reuid="$uid" --regid="$uid" --clear-groups \
        env -i HOME="$home" PATH="$work/bin:/usr/bin:/bin" "$@" </dev/null >"$work/out" 2>&1
}
as_user test -r "$tarball" || { echo "SKIP: a user who is not root cannot reach $tarball"; exit 77; }
tar -xzf "$tarball" -C "$work"
install=$work/$(basename "$tarball" .tar.gz)/install.sh
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
[ "$(cat "$work/files")" = "$(printf './%s\n' bin/quoxel bin/quoxel-drop share/applications/another.desktop \
    share/applications/quoxel-drop.desktop share/kio/servicemenus/quoxel-drop-servicemenu.desktop \
    share/kservices5/ServiceMenus/quoxel-drop-servicemenu.desktop share/man/man1/quoxel-drop.1 share/man/man1/quoxel.1 \
    share/quoxel/installed-files share/quoxel/uninstall.sh)" ] || fail "the install put in $prefix: $(cat "$work/files")"
uninstaller=$prefix/share/quoxel/uninstall.sh
for f in "$prefix/bin/quoxel" "$prefix/bin/quoxel-drop" "$kio" "$uninstaller"; do
    [ -x "$f" ] || fail "$f is not executable"
done
said "installed: $prefix/bin/quoxel-drop"
said "$prefix/bin is not on your PATH"
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
rm -f "$work/shown"/*

# The uninstaller, with the unpacked tarball gone, removes everything, itself included.
mv "$(dirname "$install")" "$work/unpacked-elsewhere"
status=0
as_user env DISPLAY=:0 sh "$uninstaller" || status=$?
ended 0
shown "removed: $uninstaller"
shown "This uninstaller has removed itself."
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
