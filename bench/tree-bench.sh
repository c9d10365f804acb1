#!/usr/bin/env bash
# Benchmark of quoxel-drop on Linux against cp -r of exactly the tree the drop converts: converted/
# is removed before each cp, so that both read the same files and write one copy of each. The two
# run in alternating rounds, and each line gives the median wall time and the largest peak
# resident memory of the program's process:
#  - on tmpfs (/dev/shm where it exists): 10,000 files of 2 KiB in 100 folders, also with 1, 2, 4
#    and 8 threads (QUOXEL_DROP_THREADS); and 100,000 files of 200 bytes in 1,000 folders;
#  - on a disk, where BENCH_DIR names a folder on one: 2,000 files of 16 KiB in 20 folders, with
#    sync before each run: the drop, which flushes every copy before it takes its name, against
#    cp -r followed by sync; also with 1, 2, 4 and 8 threads;
#  - the system calls of a drop of 1,000 files of 2 KiB, per file (strace -f -c), where strace is.
# Usage: bench/tree-bench.sh [ROUNDS]          BENCH_DIR=/var/tmp bench/tree-bench.sh
set -euo pipefail

rounds=${1:-5}
root=$(cd "$(dirname "$0")/.." && pwd)
tmpfs=$( [ -d /dev/shm ] && [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")
work=$(mktemp -d "$tmpfs/tree-bench.XXXXXX")
disk=
trap 'rm -rf "$work" ${disk:+"$disk"}' EXIT
(cd "$root" && cmake --build build/release --target quoxel-drop runstat >/dev/null)
drop=$root/build/release/quoxel-drop
runstat=$root/build/release/bench/runstat

# tree FOLDER FOLDERS FILES SIZE: FOLDERS folders of FILES files of SIZE bytes each, in FOLDER.
tree() {
    for d in $(seq -w 1 "$2"); do
        mkdir -p "$1/folder $d"
        head -c $(($3 * $4)) /dev/urandom | (cd "$1/folder $d" && split -b "$4" -a 3 -d --additional-suffix=.wav - "take ")
    done
}
# measure COMMAND...: "SECONDS KIB" of one run of COMMAND, its output thrown away.
measure() { "$runstat" 1 /bin/sh -c 'exec "$0" "$@" >/dev/null 2>&1' "$@"; }
median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }
# rows TREE SYNC [THREADS...]: the drop and cp -r of TREE in $rounds alternating rounds, with
# sync before each run and after cp where SYNC is yes; then the drop with each number of THREADS.
rows() {
    local tree=$1 flush=$2 drops=() copies=() drop_peak=0 copy_peak=0 seconds kib
    shift 2
    for _ in $(seq 1 "$rounds"); do
        rm -rf "$tree/converted" && [ "$flush" = no ] || sync
        read -r seconds kib < <(measure "$drop" "$tree")
        drops+=("$seconds") && ((kib > drop_peak)) && drop_peak=$kib
        rm -rf "$tree/converted" "$tree.copy" && [ "$flush" = no ] || sync
        if [ "$flush" = yes ]; then
            read -r seconds kib < <(measure /bin/sh -c 'cp -r "$0" "$1" && sync' "$tree" "$tree.copy")
        else
            read -r seconds kib < <(measure /bin/cp -r "$tree" "$tree.copy")
        fi
        copies+=("$seconds") && ((kib > copy_peak)) && copy_peak=$kib
        rm -rf "$tree.copy"
    done
    printf '| quoxel-drop | %.2f s | %d MiB |\n' "$(median "${drops[@]}")" $((drop_peak / 1024))
    printf '| cp -r%s | %.2f s | %d MiB |\n' "$([ "$flush" = yes ] && echo ' and sync')" "$(median "${copies[@]}")" \
        $((copy_peak / 1024))
    for n in "$@"; do
        local times=()
        for _ in $(seq 1 "$rounds"); do
            rm -rf "$tree/converted" && [ "$flush" = no ] || sync
            read -r seconds kib < <(QUOXEL_DROP_THREADS=$n measure "$drop" "$tree")
            times+=("$seconds")
        done
        printf '| quoxel-drop, %d thread%s | %.2f s | |\n' "$n" "$([ "$n" -eq 1 ] || echo s)" "$(median "${times[@]}")"
    done
    rm -rf "$tree"
}

echo "machine: $(nproc) processors, $(uname -sr), load $(cut -d ' ' -f 1-3 /proc/loadavg); medians of $rounds rounds"
echo
echo "| 10,000 files of 2 KiB in 100 folders, on $(stat -f -c %T "$tmpfs") | median wall time | peak memory |"
echo "| --- | --- | --- |"
tree "$work/small" 100 100 2048
rows "$work/small" no 1 2 4 8
echo
echo "| 100,000 files of 200 bytes in 1,000 folders, on $(stat -f -c %T "$tmpfs") | median wall time | peak memory |"
echo "| --- | --- | --- |"
tree "$work/many" 1000 100 200
rows "$work/many" no

if [ -n "${BENCH_DIR-}" ]; then
    disk=$(mktemp -d "$BENCH_DIR/tree-bench.XXXXXX")
    echo
    echo "| 2,000 files of 16 KiB in 20 folders, on $(stat -f -c %T "$disk"), sync before each | median wall time | peak memory |"
    echo "| --- | --- | --- |"
    tree "$disk/disk" 20 100 16384
    rows "$disk/disk" yes 1 2 4 8
fi

if command -v strace >/dev/null; then
    tree "$work/traced" 2 500 2048
    strace -f -c -o "$work/calls" "$drop" "$work/traced" >/dev/null 2>&1
    echo
    awk '$NF == "total" { total = $4 } $NF == "futex" { futex = $4 }
         END { printf "system calls per file of a drop of 1,000 files of 2 KiB: %.1f, of which futex %.2f\n", total / 1000, futex / 1000 }' \
        "$work/calls"
else
    echo "no strace: the system calls per file are not counted"
fi
