#!/bin/sh
# run.sh TARGET CORPUS SECONDS [OPTION...]: the fuzz target TARGET for SECONDS, from the inputs in
# the folder CORPUS, which it reads and never writes: the new inputs it finds go to a scratch
# folder of its own, removed at the end, so that runs at once are safe. An input that breaks a
# property or trips a sanitizer is kept in the current folder as crash-*, and the status is not 0.
# Each OPTION goes to libFuzzer (-help=1 lists them).
set -eu
target=$1 corpus=$2 seconds=$3
shift 3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
timeout -k 5 $((seconds + 120)) "$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 "$@" \
    "$scratch" "$corpus"
