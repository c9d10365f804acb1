#!/usr/bin/env bash
# Benchmark of the Windows drop program under Wine's 64-bit loader, side by side in one run:
#  - 10,000 files of 2 KiB in 100 folders, dropped on the program of an earlier revision (72ee8d2,
#    the last that ran quoxel.exe for each file) and on this tree's: the first drop, which
#    converts everything, and a second, which skips everything;
#  - this tree's program on the same tree with 1, 2, 4, 8 and 16 threads (QUOXEL_DROP_THREADS),
#    twice over;
#  - one file of 1 GiB, dropped, against cmd's copy of the same file.
# Each line gives the wall time and the peak resident memory of the program's process.
# Usage: bench/drop-bench.sh [REVISION]   (needs wine64, and the MinGW-w64 cross compilers)
set -euo pipefail

revision=${1:-72ee8d2}
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tests/common.sh"
work=$(mktemp -d)
wine=/usr/lib/wine/wine64
export WINELOADER=$wine WINEPREFIX=$work/wineprefix WINEDEBUG=-all LC_ALL=C.UTF-8
trap '/usr/lib/wine/wineserver64 -k 2>/dev/null; rm -rf "$work"' EXIT

# Both programs for 64-bit Windows: this tree's, and the revision's from its sources with this
# tree's toolchain file, since the revision built only for 32-bit Windows.
(cd "$root" && cmake --workflow --preset windows64 >/dev/null)
(cd "$root" && cmake --build build/release --target runstat >/dev/null)
runstat=$root/build/release/bench/runstat
mkdir "$work/new" "$work/old-source" "$work/old"
cp "$root/build/windows64/drop-files-here.exe" "$work/new"
git -C "$root" archive "$revision" | tar -x -C "$work/old-source"
(cd "$work/old-source" && cmake --preset windows -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null &&
    cmake --build build/windows >/dev/null)
cp "$work/old-source/build/windows/"*.exe "$work/old"
mkdir -p "$WINEPREFIX" && "$wine" cmd /c exit </dev/null >/dev/null 2>&1  # the prefix, made once

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
# run LABEL PROGRAM ARG...: one run of the Windows program under Wine, its time and peak memory.
run() {
    local label=$1 time kib
    shift
    # What the program prints goes to a file, and its status is taken as it comes, so that runstat
    # prints only the time and the peak memory (of the shell and the program it waited for).
    read -r time kib < <("$runstat" 1 /bin/sh -c '"$@" >"$0" 2>&1; exit 0' "$work/out" "$wine" "$@" </dev/null) ||
        fail "$label: $(tail -n 3 "$work/out")"
    printf '  %-36s %8.2f s %8d KiB   %s\n' "$label" "$time" "$kib" \
        "$(tr -d '\r' <"$work/out" | grep -E '^[0-9]+ converted, ' | head -n 1)"
    tr -d '\r' <"$work/out" | grep -E '^(\[[0-9/]*\] )?failed: ' | head -n 5 | sed 's/^/      /' || true
}
drop() { run "$1" "$work/$2/drop-files-here.exe" "$(windows_path "$work/$3")"; }

# 10,000 files of 2 KiB in 100 folders.
for ((i = 0; i < 10000; ++i)); do
    mkdir -p "$work/tree/d$((i % 100))" && head -c 2048 /dev/urandom >"$work/tree/d$((i % 100))/s$i.wav"
done
echo "10,000 files of 2 KiB in 100 folders:"
rm -rf "$work/tree/converted" && drop "$revision, first drop" old tree
drop "$revision, second drop" old tree
rm -rf "$work/tree/converted" && drop "this tree, first drop" new tree
drop "this tree, second drop" new tree
echo "The same, first drop, by the number of threads, in two rounds:"
for round in 1 2; do
    for threads in 1 2 4 8 16; do
        rm -rf "$work/tree/converted" && QUOXEL_DROP_THREADS=$threads drop "round $round, $threads threads" new tree
    done
done
rm -rf "$work/tree"

echo "One file of 1 GiB:"
mkdir "$work/big" && head -c 1073741824 /dev/urandom >"$work/big/one.wav"
cat "$work/big/one.wav" >/dev/null  # in the page cache for both
run "cmd's copy" cmd /c copy "$(windows_path "$work/big/one.wav")" "$(windows_path "$work/big/copy.bin")"
rm "$work/big/copy.bin"
drop "this tree's drop" new big
