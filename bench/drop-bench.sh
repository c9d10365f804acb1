#!/usr/bin/env bash
# Benchmark of the Windows drop program under Wine: a folder of 400 small files dropped on the
# drop program of this tree and on that of an earlier revision (d988b8a, the last that converted
# one file at a time), alternately, three times each; then, with this tree's, 1,000 files in one
# folder and 10,000 files in 100 folders, dropped twice (converting, then skipping everything).
# Usage: bench/drop-bench.sh [REVISION]   (needs wine, and the MinGW-w64 cross compiler)
set -euo pipefail

revision=${1:-d988b8a}
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tests/common.sh"
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all LC_ALL=C.UTF-8

# Both programs built with the windows preset: this tree's, and the revision's from its sources.
(cd "$root" && cmake --workflow --preset windows >/dev/null)
mkdir "$work/new" "$work/old-source"
cp "$root/build/windows/quoxel.exe" "$root/build/windows/drop-files-here.exe" "$work/new"
git -C "$root" archive "$revision" | tar -x -C "$work/old-source"
(cd "$work/old-source" && cmake --workflow --preset windows >/dev/null)
mkdir "$work/old" && cp "$work/old-source/build/windows/"*.exe "$work/old"
mkdir -p "$WINEPREFIX" && wineserver -p && wine cmd /c exit </dev/null >/dev/null 2>&1  # the prefix, made once

# folder NAME FOLDERS FILES: FILES files of 2 KiB, directly in NAME or spread over FOLDERS folders
# inside it.
folder() {
    local at=$work/$1
    for ((i = 0; i < $3; ++i)); do
        [ "$2" -eq 1 ] || at=$work/$1/d$((i % $2))
        mkdir -p "$at" && head -c 2048 /dev/urandom >"$at/s$i.wav"
    done
}
# seconds PROGRAM_DIR FOLDER: the wall time of one drop of FOLDER.
seconds() {
    local start end
    start=$(date +%s.%N)
    wine "$work/$1/drop-files-here.exe" "Z:$(echo "$work/$2" | tr / '\\')" </dev/null >"$work/out" 2>&1 ||
        fail "drop on $2: $(tail -n 3 "$work/out")"
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}

folder f400 1 400
echo "400 files in 1 folder, dropped alternately on $revision's program and on this tree's:"
for round in 1 2 3; do
    old=$(rm -rf "$work/f400/converted" && seconds old f400)
    new=$(rm -rf "$work/f400/converted" && seconds new f400)
    printf '  round %d: %s s with %s, %s s now (%.2fx)\n' "$round" "$old" "$revision" "$new" "$(echo "$old / $new" | bc -l)"
done
first=$(head -n 1 "$work/out" | tr -d '\r')
echo "$first" | grep -qx 'Found 400 WAV files in 1 folder; converting [0-9]* at a time\.' ||
    fail "unexpected first line: $first"
echo "  $first"

# The counts the drop ended with.
summary() { tail -n 1 "$work/out" | tr -d '\r'; }
folder f1000 1 1000
echo "1,000 files in 1 folder: $(seconds new f1000) s ($(summary))"
folder f10000 100 10000
echo "10,000 files in 100 folders: $(seconds new f10000) s ($(summary))"
echo "the same again: $(seconds new f10000) s ($(summary))"
