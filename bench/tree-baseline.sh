#!/bin/sh
# tree-baseline.sh QUOXEL TREE [JOBS]: what a shell user writes without quoxel-drop, the baseline of
# bench/tree-bench.sh: the tree's WAV files mirrored into TREE/converted with find and xargs -P,
# one mkdir -p, cp and quoxel per file. It skips nothing and locks nothing.
set -eu
quoxel=$1 tree=$2 jobs=${3:-2}
cd "$tree"
find . -path ./converted -prune -o -type f -iname '*.wav' -print0 |
    QUOXEL="$quoxel" xargs -0 -P "$jobs" -n 1 sh -c '
        copy=converted/${1#./}
        mkdir -p "${copy%/*}" && cp "$1" "$copy" && "$QUOXEL" "$copy"' sh
