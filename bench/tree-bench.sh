#!/usr/bin/env bash
# Benchmark of quoxel-drop on Linux, side by side in one run:
#  - 10,000 files of 2 KiB in 100 folders: quoxel-drop (a first run, which converts everything,
#    and a second, which skips everything), cp -r of the same tree, and the find | xargs -P loop
#    of bench/tree-baseline.sh, with mkdir -p, cp and quoxel per file;
#  - 100,000 files of 200 bytes in 1,000 folders: quoxel-drop and cp -r of the same tree, in three
#    rounds that alternate the two;
#  - one file of 1 GiB: quoxel-drop against cp.
# Each line gives the median wall time of 5 runs (of 1 for the loop) and the largest peak
# resident memory of the program's process (of xargs and its children, for the loop). The files
# are in /dev/shm where it exists, so that the programs are compared and not a shared disk's
# mood, or in $BENCH_DIR.
# Usage: bench/tree-bench.sh          BENCH_DIR=/mnt/sd bench/tree-bench.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
base=${BENCH_DIR:-$( [ -d /dev/shm ] && [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}" )}
work=$(mktemp -d "$base/tree-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$root" && cmake --build build/release --target quoxel quoxel-drop runstat >/dev/null)
build=$root/build/release
runstat=$build/bench/runstat

# row NAME PREPARE COMMAND...: PREPARE (a shell command) before each of $runs runs (5 unless
# set), then COMMAND, its output thrown away.
row() {
    local name=$1 prepare=$2 times=() peak=0
    shift 2
    for _ in $(seq 1 "${runs:-5}"); do
        sh -c "$prepare"
        read -r seconds kib < <("$runstat" 1 /bin/sh -c 'exec "$0" "$@" >/dev/null 2>&1' "$@")
        times+=("$seconds")
        ((kib > peak)) && peak=$kib
    done
    median=$(printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((${#times[@]} + 1) / 2))p")
    printf '| %s | %.2f s | %d MiB |\n' "$name" "$median" $((peak / 1024))
}

tree=$work/tree
for d in $(seq -w 1 100); do
    mkdir -p "$tree/folder $d"
    for f in $(seq -w 1 100); do head -c 2048 /dev/urandom >"$tree/folder $d/take $f.wav"; done
done
at_once=$("$build/quoxel-drop" /dev/null | sed -n 's/.*converting \([0-9]*\) at a time.*/\1/p')
echo "machine: $(nproc) processors; quoxel-drop converts $at_once files at a time; files in $base"
echo
echo "| 10,000 files of 2 KiB in 100 folders | median wall time | peak memory |"
echo "| --- | --- | --- |"
row "quoxel-drop, first run" "rm -rf '$tree/converted'" "$build/quoxel-drop" "$tree"
row "quoxel-drop, second run (skips all)" ":" "$build/quoxel-drop" "$tree"
row "cp -r" "rm -rf '$work/copy'" /bin/cp -r "$tree" "$work/copy"
runs=1 row "find, xargs -P2: mkdir -p, cp, quoxel per file (1 run)" "rm -rf '$tree/converted'" \
    /bin/sh "$root/bench/tree-baseline.sh" "$build/quoxel" "$tree" 2

rm -rf "$tree" "$work/copy"
for d in $(seq -w 1 1000); do
    mkdir -p "$tree/folder $d"
    head -c 20000 /dev/urandom | (cd "$tree/folder $d" && split -b 200 -a 2 -d --additional-suffix=.wav - "take ")
done
drop_times=() copy_times=() drop_peak=0 copy_peak=0
for _ in 1 2 3; do
    rm -rf "$tree/converted"
    read -r seconds kib < <("$runstat" 1 /bin/sh -c 'exec "$0" "$@" >/dev/null 2>&1' "$build/quoxel-drop" "$tree")
    drop_times+=("$seconds") && ((kib > drop_peak)) && drop_peak=$kib
    rm -rf "$work/copy"
    read -r seconds kib < <("$runstat" 1 /bin/cp -r "$tree" "$work/copy")
    copy_times+=("$seconds") && ((kib > copy_peak)) && copy_peak=$kib
done
median3() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
echo
echo "| 100,000 files of 200 bytes in 1,000 folders, 3 alternating rounds | median wall time | peak memory |"
echo "| --- | --- | --- |"
printf '| quoxel-drop | %.2f s | %d MiB |\n' "$(median3 "${drop_times[@]}")" $((drop_peak / 1024))
printf '| cp -r | %.2f s | %d MiB |\n' "$(median3 "${copy_times[@]}")" $((copy_peak / 1024))

rm -rf "$tree" "$work/copy"
mkdir "$work/big"
head -c 1073741824 /dev/urandom >"$work/big/large.wav"
echo
echo "| one file of 1 GiB | median wall time | peak memory |"
echo "| --- | --- | --- |"
row "quoxel-drop" "rm -rf '$work/big/converted'" "$build/quoxel-drop" "$work/big/large.wav"
row "cp" "rm -f '$work/copy.wav'" /bin/cp "$work/big/large.wav" "$work/copy.wav"
