#!/bin/sh
# install-test.sh SOURCE_DIR: builds the tool in a build tree of its own, so that no install_manifest.txt
# or uninstall.cmake of the developer's is touched, and installs and uninstalls it as the README
# says: under a prefix that holds a file and a folder of its own, and with DESTDIR. The installed
# tool converts and its manual page renders; the uninstall puts the tree back exactly as it was,
# folders included, keeps the file and the folder that were there before, and leaves a file
# changed since the install. Nothing outside the install's own folders is touched.
set -eu
src=$1
. "$(dirname "$0")/common.sh"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
build=$root/build
cmake -S "$src" -B "$build" -DQUOXEL_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" >/dev/null

# Every path under $1, with a checksum of each file.
snapshot() {
    (cd "$1" && find . | LC_ALL=C sort | while IFS= read -r p; do
        if [ -f "$p" ]; then echo "$p $(cksum < "$p")"; else echo "$p"; fi
    done)
}
works() {  # PREFIX_AS_INSTALLED: the tool converts, and man renders its page
    printf 'HEAD\022\064' > "$root/f.wav"
    "$1/bin/quoxel" "$root/f.wav"
    # 'HEAD' is kept, 0x12 0x34 become 0x21 0x43
    [ "$(od -An -tx1 "$root/f.wav" | tr -d ' \n')" = "484541442143" ] || fail "installed tool did not convert"
    if command -v man >/dev/null; then
        MANWIDTH=80 man -l "$1/share/man/man1/quoxel.1.gz" 2>&1 | grep -q 'quoxel  *-  *swap  *the  *nibbles' ||
            fail "man -l does not render the page"
    fi
}

# Under a prefix: its bin/ holds another program, and share/man/man1 exists, empty.
tree=$root/tree
mkdir -p "$tree/usr/bin" "$tree/usr/share/man/man1"
echo other > "$tree/usr/bin/other"
before=$(snapshot "$tree")
cmake --install "$build" --prefix "$tree/usr" >/dev/null
works "$tree/usr"
cmake -P "$build/uninstall.cmake" >/dev/null
[ "$(snapshot "$tree")" = "$before" ] || fail "the uninstall left the prefix as: $(snapshot "$tree")"

# With DESTDIR, into a stage of /usr/local: nothing reaches the real /usr/local, and the
# uninstall, run without DESTDIR, removes from the stage what is still as installed.
stage=$root/stage
mkdir "$stage"
real=$(ls -la /usr/local/bin /usr/local/share/man /usr/local/share/doc 2>&1 || true)
DESTDIR=$stage cmake --install "$build" --prefix /usr/local >/dev/null
works "$stage/usr/local"
echo changed >> "$stage/usr/local/share/doc/quoxel/copyright"
cmake -P "$build/uninstall.cmake" > "$root/out" 2>&1
grep -q "Changed since the install, left: $stage/usr/local/share/doc/quoxel/copyright" "$root/out" ||
    fail "the changed file is not named: $(cat "$root/out")"
left=$(cd "$stage" && find . | LC_ALL=C sort | tr '\n' ' ')
[ "$left" = ". ./usr ./usr/local ./usr/local/share ./usr/local/share/doc ./usr/local/share/doc/quoxel ./usr/local/share/doc/quoxel/copyright " ] ||
    fail "the uninstall left in the stage: $left"
[ "$(ls -la /usr/local/bin /usr/local/share/man /usr/local/share/doc 2>&1 || true)" = "$real" ] ||
    fail "/usr/local changed"
echo "install-test: installed, ran and uninstalled exactly, under a prefix and with DESTDIR"
