#!/bin/sh
# portable-root-test.sh TARBALL: the tarball's two programs are statically linked and stripped,
# and work in a root that holds only them and a small tree (no /lib, no /usr, no /dev), entered
# with chroot, or with unshare -r and chroot where the test is not root: quoxel-drop converts the
# tree exactly, and quoxel converts a file and gives its one-line reports. Where neither can enter
# a root, the test says so and is skipped.
set -eu
tarball=$(readlink -f "$1")
. "$(dirname "$0")/common.sh"
ulimit -f 131072
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

tar -xzf "$tarball" -C "$work"
dist=$work/$(basename "$tarball" .tar.gz)/files
for program in quoxel quoxel-drop; do
    what=$(file -b "$dist/$program")
    case $what in *"statically linked"*", stripped") ;; *) fail "$program is not statically linked and stripped: $what" ;; esac
done

# The root, and a tree in it; the copies expected are converted by a reference of the test's own.
root=$work/root dir=$work/root/sounds expect=$work/expect originals=$work/originals
mkdir -p "$root" "$dir/sfx/deep" "$expect/sfx/deep"
cp "$dist/quoxel" "$dist/quoxel-drop" "$root/"
convert() { perl -0777 -pe 'substr($_, 4) =~ s/(.)/chr(ord($1) >> 4 | (ord($1) & 15) << 4)/gse' "$1"; }
for file in menu.wav:3000 sfx/door.WAV:5000 "sfx/deep/a b.wav:70000" notes.txt:100 tiny.wav:3; do
    head -c "${file##*:}" /dev/urandom > "$dir/${file%:*}"
    convert "$dir/${file%:*}" > "$expect/${file%:*}"
done
cp -R "$dir" "$originals"
[ "$(ls "$root" | tr '\n' ' ')" = "quoxel quoxel-drop sounds " ] || fail "the root holds: $(ls "$root")"

# chroot ends with 127 when it entered the root and found no such program there.
status=0
chroot "$root" /none 2>/dev/null || status=$?
enter=''
if [ "$status" -ne 127 ]; then
    status=0
    unshare -r chroot "$root" /none 2>/dev/null || status=$?
    if [ "$status" -ne 127 ]; then
        echo "SKIP: no root can be entered here: chroot needs root, and unshare -r no user namespace"
        exit 77
    fi
    enter='unshare -r'
fi
# shellcheck disable=SC2086 # $enter is a command and its option, or nothing
in_root() { status=0; timeout -k 5 60 $enter chroot "$root" "$@" >"$work/out" 2>&1 || status=$?; }

in_root /quoxel-drop /sounds
ended 1
found "4 WAV files in 3 folders"
said "failed: /sounds/tiny.wav (shorter than 4 bytes, so there is nothing to convert)"
said_line "3 converted, 0 skipped, 1 failed."
copies_exact ./menu.wav ./sfx/door.WAV "./sfx/deep/a b.wav"

cp "$originals/menu.wav" "$root/one.wav"
in_root /quoxel /one.wav
ended 0
[ ! -s "$work/out" ] && cmp -s "$root/one.wav" "$expect/menu.wav" || fail "quoxel did not convert a file: $(cat "$work/out")"
# Each failure one line, the system's text included, with no locale files to read it from.
for case in "/missing.wav:main:fopen: No such file or directory" "/sounds:main:fopen: Is a directory" \
    "/sounds/tiny.wav:reverse_nibbles:fread: unexpected EOF"; do
    in_root /quoxel "${case%%:*}"
    ended 1
    grep -qxE "quoxel\.cpp:[0-9]+:${case#*:}" "$work/out" && [ "$(wc -l < "$work/out")" -eq 1 ] ||
        fail "quoxel ${case%%:*} in the root did not report one line \"${case#*:}\": $(cat "$work/out")"
done
in_root /quoxel
ended 1
said_line "usage: quoxel file.WAV"
echo "portable-root-test: both programs work in a root that holds nothing else${enter:+ (entered with $enter)}"
