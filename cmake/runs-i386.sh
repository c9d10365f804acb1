#!/bin/sh
# runs-i386.sh CXX: exits 0 if this machine runs 32-bit x86 programs; otherwise prints why on one
# line and exits 1. It builds a program that does nothing with CXX -m32 and runs it, since a kernel
# built without 32-bit support refuses it with "Exec format error" although everything installs.
# QUOXEL_NO_I386 set to anything but empty gives the answer no, so that the other path can be
# tried on a machine that does run such programs.
cc=${1:-g++}
if [ -n "${QUOXEL_NO_I386-}" ]; then
    echo "QUOXEL_NO_I386 is set"
    exit 1
fi
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
printf 'int main(void) { return 0; }\n' >"$dir/probe.c"
if ! "$cc" -m32 -o "$dir/probe" "$dir/probe.c" 2>"$dir/err"; then
    echo "$cc -m32 cannot build a program: $(grep -m 1 -i error "$dir/err" || head -n 1 "$dir/err")"
    exit 1
fi
"$dir/probe" 2>"$dir/err" && exit 0
echo "a 32-bit x86 program does not start: $(sed -n '$s/^.*: \([^:]*\)$/\1/p' "$dir/err")"
exit 1
