#!/bin/sh
# deb-test.sh PACKAGE.deb: as root, checks the package's metadata, installs it, runs the
# installed tool on a file, reads its manual page, and removes it again cleanly.
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

dpkg -s quoxel >/dev/null 2>&1 && fail "quoxel is installed already"
dpkg -i "$deb"
work=$(mktemp -d)
trap 'rm -rf "$work"; dpkg -r quoxel >/dev/null 2>&1 || true' EXIT

printf 'RIFF\022\064\253' > "$work/f.wav"
quoxel "$work/f.wav"
[ "$(od -An -tx1 "$work/f.wav" | tr -d ' \n')" = "524946462143ba" ] || fail "installed tool did not convert"
[ "$(command -v quoxel)" = /usr/bin/quoxel ] || fail "not in /usr/bin"
man -w quoxel | grep -q '/usr/share/man/man1/quoxel.1' || fail "man does not find the page"

dpkg -r quoxel
[ ! -e /usr/bin/quoxel ] && [ ! -e /usr/share/man/man1/quoxel.1.gz ] && [ ! -e /usr/share/doc/quoxel ] || fail "files left after removal"
dpkg -s quoxel >/dev/null 2>&1 && fail "still registered after removal"
echo "deb-test: $(basename "$deb") installs, runs and removes cleanly"
