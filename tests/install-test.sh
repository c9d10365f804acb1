#!/bin/sh
# install-test.sh BUILD_DIR: cmake --install with a prefix and DESTDIR places a working tool in
# bin/ and its manual page in share/man/man1/, and nothing outside DESTDIR.
set -eu
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

DESTDIR=$root/stage cmake --install "$build" --prefix /opt/quoxel >/dev/null
tool=$root/stage/opt/quoxel/bin/quoxel
page=$root/stage/opt/quoxel/share/man/man1/quoxel.1
[ -x "$tool" ] || { echo "no executable $tool"; exit 1; }
[ -f "$page" ] || { echo "no manual page $page"; exit 1; }

printf 'HEAD\022\064' > "$root/f.wav"
"$tool" "$root/f.wav"
# 'HEAD' is kept, 0x12 0x34 become 0x21 0x43
[ "$(od -An -tx1 "$root/f.wav" | tr -d ' \n')" = "484541442143" ] || { echo "installed tool did not convert"; exit 1; }

if command -v man >/dev/null; then
    MANWIDTH=80 man -l "$page" 2>&1 | grep -q 'quoxel - exchange the 4-bit halves' || { echo "man -l does not render the page"; exit 1; }
fi
echo "installed and ran $tool"
