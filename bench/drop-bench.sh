#!/usr/bin/env bash
# Benchmark of the Windows drop program under Wine's 64-bit loader, in alternating rounds on one
# tree of 2,000 files of 2 KiB in 20 folders: the drop program of an earlier revision (e873cba by
# default), this tree's, and bench/plain-loop.cpp, the floor: the file calls a drop needs for
# each file, flush included, in one loop in one process. Then this tree's with 1, 2, 4 and 8
# threads (QUOXEL_DROP_THREADS). Each line gives the median wall time and the largest peak
# resident memory of the program's process.
# Usage: bench/drop-bench.sh [REVISION [ROUNDS]]   (needs wine64, and the MinGW-w64 cross compilers)
set -euo pipefail

revision=${1:-e873cba} rounds=${2:-5}
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tests/common.sh"
work=$(mktemp -d)
wine=/usr/lib/wine/wine64
export WINELOADER=$wine WINEPREFIX=$work/wineprefix WINEDEBUG=-all LC_ALL=C.UTF-8
trap '/usr/lib/wine/wineserver64 -k 2>/dev/null; rm -rf "$work"' EXIT

# This tree's program, the revision's from its sources with this tree's toolchain file (so that
# both are 64-bit builds of one compiler), and the floor.
(cd "$root" && cmake --workflow --preset windows64 >/dev/null)
(cd "$root" && cmake --build build/release --target runstat >/dev/null)
runstat=$root/build/release/bench/runstat
mkdir "$work/new" "$work/old-source" "$work/old" "$work/plain"
cp "$root/build/windows64/drop-files-here.exe" "$work/new"
git -C "$root" archive "$revision" | tar -x -C "$work/old-source"
(cd "$work/old-source" && cmake --preset windows -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null &&
    cmake --build build/windows --target drop-files-here >/dev/null)
cp "$work/old-source/build/windows/drop-files-here.exe" "$work/old"
x86_64-w64-mingw32-g++ -std=c++20 -O2 -municode -static -s -o "$work/plain/plain-loop.exe" "$root/bench/plain-loop.cpp"
mkdir -p "$WINEPREFIX" && "$wine" cmd /c exit </dev/null >/dev/null 2>&1  # the prefix, made once

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
# measure PROGRAM ARG...: "SECONDS KIB" of one run of the Windows program under Wine.
measure() {
    "$runstat" 1 /bin/sh -c '"$@" >"$0" 2>&1; exit 0' "$work/out" "$wine" "$@" </dev/null ||
        fail "$*: $(tail -n 3 "$work/out")"
}
median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }

for d in $(seq 10 29); do
    mkdir -p "$work/tree/d$d"
    head -c $((100 * 2048)) /dev/urandom | (cd "$work/tree/d$d" && split -b 2048 -a 3 -d --additional-suffix=.wav - s)
done
tree=$(windows_path "$work/tree")
declare -A times peaks
programs="old new plain"
for _ in $(seq 1 "$rounds"); do
    for program in $programs; do
        rm -rf "$work/tree/converted"
        exe=$work/$program/$( [ "$program" = plain ] && echo plain-loop.exe || echo drop-files-here.exe)
        read -r seconds kib < <(measure "$exe" "$tree")
        [ "$(find "$work/tree/converted" -name '*.wav' | wc -l)" -eq 2000 ] || fail "$program made no 2,000 copies"
        times[$program]="${times[$program]-} $seconds"
        ((kib > ${peaks[$program]-0})) && peaks[$program]=$kib
    done
done
echo "machine: $(nproc) processors, $(wine --version 2>/dev/null || echo Wine), load $(cut -d ' ' -f 1-3 /proc/loadavg)"
echo
echo "| 2,000 files of 2 KiB in 20 folders, under Wine, medians of $rounds alternating rounds | wall time | peak memory |"
echo "| --- | --- | --- |"
for program in $programs; do
    case $program in old) label="drop-files-here.exe of $revision" ;; new) label="drop-files-here.exe of this tree" ;;
    plain) label="the floor: bench/plain-loop.cpp, one thread" ;; esac
    # shellcheck disable=SC2086 # the times, one word each
    printf '| %s | %.2f s | %d MiB |\n' "$label" "$(median ${times[$program]})" $((peaks[$program] / 1024))
done
for threads in 1 2 4 8; do
    all=()
    for _ in $(seq 1 "$rounds"); do
        rm -rf "$work/tree/converted"
        read -r seconds kib < <(QUOXEL_DROP_THREADS=$threads measure "$work/new/drop-files-here.exe" "$tree")
        all+=("$seconds")
    done
    printf '| this tree, %d thread%s | %.2f s | |\n' "$threads" "$([ "$threads" -eq 1 ] || echo s)" "$(median "${all[@]}")"
done
