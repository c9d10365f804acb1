#!/usr/bin/env bash
# Benchmark of the release build: throughput on a large file against the cheapest 2048-byte
# pread/pwrite loop, system calls per block, peak memory, and the whole-run time of a small file
# against /bin/true. Usage: bench/bench.sh [MiB]   (default 512; needs twice that in free space)
set -euo pipefail

mib=${1:-512}
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tests/common.sh"
build=$root/build/release
cmake --preset release >/dev/null
cmake --build --preset release --target quoxel bench_reference runstat >/dev/null
tool=$build/quoxel ref=$build/bench/bench_reference runstat=$build/bench/runstat

# Memory-backed storage where there is some, so that the disk does not set the pace.
base=${BENCH_DIR:-$( [ -d /dev/shm ] && [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}" )}
dir=$(mktemp -d "$base/quoxel-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT

echo "creating $mib MiB of random data in $dir"
head -c "$((mib << 20))" /dev/urandom > "$dir/tool.wav"
cp "$dir/tool.wav" "$dir/ref.wav"
cp "$dir/tool.wav" "$dir/seek.wav"
original=$(cksum < "$dir/tool.wav")

# Alternate the two so that both see the same state of the machine; 5 runs each, medians.
tool_times=() ref_times=() seek_times=() tool_peak=0
for run in 1 2 3 4 5; do
    read -r t peak < <("$runstat" 1 "$tool" "$dir/tool.wav")
    read -r r _ < <("$runstat" 1 "$ref" "$dir/ref.wav")
    read -r k _ < <("$runstat" 1 "$ref" --seek "$dir/seek.wav")
    tool_times+=("$t") ref_times+=("$r") seek_times+=("$k") tool_peak=$((peak > tool_peak ? peak : tool_peak))
    cmp -s "$dir/tool.wav" "$dir/ref.wav" && cmp -s "$dir/tool.wav" "$dir/seek.wav" || fail "result differs from the reference loops"
done
# An odd number of conversions: the file must differ from the original; one more restores it.
[ "$(cksum < "$dir/tool.wav")" != "$original" ] || fail "file not converted"
"$tool" "$dir/tool.wav"
[ "$(cksum < "$dir/tool.wav")" = "$original" ] || fail "second run did not restore"
echo "verified: same bytes as both reference loops, restored by a further run"

median() { printf '%s\n' "$@" | sort -g | sed -n 3p; }
t=$(median "${tool_times[@]}") r=$(median "${ref_times[@]}") k=$(median "${seek_times[@]}")
awk -v t="$t" -v r="$r" -v k="$k" -v m="$mib" 'BEGIN {
    printf "quoxel:         %7.3f s  %8.1f MiB/s\n", t, m / t
    printf "pread/pwrite:   %7.3f s  %8.1f MiB/s  (2048-byte blocks, 2 system calls each)\n", r, m / r
    printf "lseek+rd/wr:    %7.3f s  %8.1f MiB/s  (2048-byte blocks, 4 system calls each)\n", k, m / k
    printf "ratio:          %7.3f  quoxel / pread-pwrite;  %.3f  lseek loop / pread-pwrite\n", t / r, k / r }'

head -c $((1 << 20)) /dev/urandom > "$dir/small-1m.wav"
read -r _ peak_small < <("$runstat" 5 "$tool" "$dir/small-1m.wav")
echo "peak memory (largest of 5 runs): ${peak_small} KiB for 1 MiB, ${tool_peak} KiB for $mib MiB"

if command -v strace >/dev/null; then
    blocks=$(( ((1 << 20) - 4 + 2047) / 2048 ))
    strace -f -o "$dir/trace" -e trace=lseek,read,write,pread64,pwrite64 "$tool" "$dir/small-1m.wav"
    calls=$(grep -c -E '^[0-9]+ +(lseek|read|write|pread64|pwrite64)\(' "$dir/trace")
    # One of the reads is the dynamic loader's; one seek measures the file.
    awk -v c="$calls" -v b="$blocks" 'BEGIN { printf "system calls per block: %.3f (%d seeks, reads and writes for %d blocks)\n", c / b, c, b }'
else
    echo "system calls per block: strace not found"
fi

printf 'AB\x12\x34 small file\n' > "$dir/small.wav"
# Interleaved rounds, so that a change in the machine's load weighs on both alike.
small_times=() true_times=()
for round in 1 2 3 4 5; do
    read -r s _ < <("$runstat" 401 "$tool" "$dir/small.wav")
    read -r t _ < <("$runstat" 401 /bin/true)
    small_times+=("$s") true_times+=("$t")
done
small=$(median "${small_times[@]}") true_t=$(median "${true_times[@]}")
awk -v s="$small" -v t="$true_t" 'BEGIN {
    printf "small file, whole run: %.1f us; /bin/true: %.1f us; ratio %.3f (medians of 5 x 401, interleaved)\n", s * 1e6, t * 1e6, s / t }'
