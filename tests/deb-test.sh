#!/bin/sh
# deb-test.sh PACKAGE.deb: as root, checks the package's metadata, installs it, runs the
# installed tool on a file, reads the manual pages, checks the drop program's desktop entry and
# starts its Exec line as a desktop does for a dropped folder, and removes it again cleanly.
set -eu
deb=$(readlink -f "$1")
. "$(dirname "$0")/common.sh"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = quoxel ] || fail "package name"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture"
[ -n "$(field Version)" ] && [ -n "$(field Maintainer)" ] && [ -n "$(field Description)" ] || fail "missing fields"
# Listed once: grep -q on a live pipe would end dpkg-deb with a broken pipe.
contents=$(dpkg-deb -c "$deb")
has() { printf '%s\n' "$contents" | grep -q "$1"; }
has './usr/share/doc/quoxel/copyright$' || fail "no copyright file"
has './usr/share/man/man1/quoxel.1.gz$' || fail "no compressed manual page"
has './usr/share/doc/quoxel/changelog.gz$' || fail "no changelog"
has './usr/bin/quoxel-drop$' || fail "no drop program"
has './usr/share/man/man1/quoxel-drop.1.gz$' || fail "no manual page of the drop program"
has './usr/share/applications/quoxel-drop.desktop$' || fail "no desktop entry"

dpkg -s quoxel >/dev/null 2>&1 && fail "quoxel is installed already"
dpkg -i "$deb"
work=$(mktemp -d)
trap 'rm -rf "$work"; dpkg -r quoxel >/dev/null 2>&1 || true' EXIT

printf 'RIFF\022\064\253' > "$work/f.wav"
quoxel "$work/f.wav"
[ "$(od -An -tx1 "$work/f.wav" | tr -d ' \n')" = "524946462143ba" ] || fail "installed tool did not convert"
[ "$(command -v quoxel)" = /usr/bin/quoxel ] || fail "not in /usr/bin"
man -w quoxel | grep -q '/usr/share/man/man1/quoxel.1' || fail "man does not find the page"
man -w quoxel-drop | grep -q '/usr/share/man/man1/quoxel-drop.1' || fail "man does not find the drop program's page"

# The desktop entry: valid, in a terminal, and its Exec line, with %F replaced by the dropped
# paths as a desktop does, converts a dropped folder whose name has a space. Standard input is no
# terminal here, so the program must not wait for Enter.
entry=/usr/share/applications/quoxel-drop.desktop
desktop-file-validate "$entry" || fail "the desktop entry is not valid"
grep -qx 'Terminal=true' "$entry" || fail "the desktop entry opens no terminal"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
case $exec_line in quoxel-drop\ *%F) ;; *) fail "Exec=$exec_line does not start quoxel-drop with the dropped files" ;; esac
mkdir -p "$work/My Sounds/sfx"
head -c 3000 /dev/urandom >"$work/My Sounds/sfx/door.wav"
cp "$work/My Sounds/sfx/door.wav" "$work/expected.wav" && quoxel "$work/expected.wav"
# shellcheck disable=SC2086 # the Exec line's words, as the desktop splits them
set -- ${exec_line%%%F} "$work/My Sounds"
timeout 60 "$@" </dev/null >"$work/out" 2>&1 || fail "the Exec line failed: $(cat "$work/out")"
cmp -s "$work/expected.wav" "$work/My Sounds/converted/sfx/door.wav" || fail "the dropped folder was not converted"

dpkg -r quoxel
for f in /usr/bin/quoxel /usr/bin/quoxel-drop /usr/share/man/man1/quoxel.1.gz /usr/share/man/man1/quoxel-drop.1.gz \
    /usr/share/applications/quoxel-drop.desktop /usr/share/doc/quoxel; do
    [ ! -e "$f" ] || fail "$f left after removal"
done
dpkg -s quoxel >/dev/null 2>&1 && fail "still registered after removal"
echo "deb-test: $(basename "$deb") installs, runs and removes cleanly"
