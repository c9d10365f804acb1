#!/bin/sh
# drop-test.sh TOOL WINDOWS_DIR WINE: drops a folder of awkward names on drop-files-here.exe under
# Wine, three times. The first drop converts a copy of each WAV file into the folder converted,
# names the file too short to convert after the tool's own report, leaves no copy of it, and ends
# with status 1; the second skips everything converted, and a copy dropped itself; once the short
# file is fixed, the third
# converts it (and song.wave, dropped as a file of its own) and ends with status 0. No original
# ever changes. TOOL, the build host's quoxel, converts the expected copies.
set -eu
tool=$1 windows_dir=$2 wine=$3
. "$(dirname "$0")/common.sh"
ulimit -f 4096  # 2 MiB, so that a runaway fails instead of filling the disk

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dir=$work/folder expect=$work/expect originals=$work/originals
mkdir "$dir" "$dir/sub" "$expect" "$originals"

add_wav() { add_file "$1" 300; }
each_name add_wav
add_file song.wave 300  # .wave is no WAV file, also not through its 8.3 name
add_file short.wav 3
head -c 300 /dev/urandom > "$dir/sub/inner.wav"  # subfolders are not entered

# The programs where a user unpacks them: in a folder with a space and characters that cmd.exe
# gives meanings to, which the command line of quoxel.exe must quote.
programs="$work/quoxel 1.0 & 50%!"
mkdir "$programs"
cp "$windows_dir/quoxel.exe" "$windows_dir/drop-files-here.exe" "$programs"

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
# Standard input from /dev/null, which is no console: the program must not wait for Enter.
drop() { LC_ALL=C.UTF-8 timeout 120 "$wine" "$programs/drop-files-here.exe" "$@" </dev/null >"$work/out" 2>&1; }
said() { grep -qF "$1" "$work/out" || fail "no line \"$1\" in: $(cat "$work/out")"; }
converted() { cmp -s "$dir/converted/$1" "$expect/$1" || fail "converted/$1 is not $1 converted once"; }
reported() { said "$1: $(windows_path "$dir/$2")"; }
unchanged() {
    for f in "$originals"/*; do cmp -s "$f" "$dir/${f##*/}" || fail "the original ${f##*/} changed"; done
}
copies() { (cd "$dir/converted" && LC_ALL=C ls -A); }
expected_copies() { printf '%s\n' "$awkward_names" "$@" | LC_ALL=C sort; }

status=0 && drop "$(windows_path "$dir")" "$(windows_path "$work/missing")" || status=$?
[ "$status" -eq 1 ] || fail "first drop: status $status, not 1: $(cat "$work/out")"
each_name converted
each_name reported converted
grep -A1 'reverse_nibbles:fread: unexpected EOF' "$work/out" | grep -qF "failed: $(windows_path "$dir/short.wav")" ||
    fail "short.wav not named as failed after the tool's report: $(cat "$work/out")"
said "failed: $(windows_path "$work/missing")"
[ "$(copies)" = "$(expected_copies)" ] || fail "converted holds $(copies)"
[ ! -e "$dir/sub/converted" ] || fail "a subfolder was entered"
unchanged

status=0 && drop "$(windows_path "$dir")" "$(windows_path "$dir/converted/a b.wav")" || status=$?
[ "$status" -eq 1 ] || fail "second drop: status $status, not 1: $(cat "$work/out")"
each_name reported skipped
each_name converted
said "skipped: $(windows_path "$dir/converted/a b.wav") (a converted copy itself)"
said "0 converted, 14 skipped, 1 failed."
unchanged

add_file short.wav 6
drop "$(windows_path "$dir")" "$(windows_path "$dir/song.wave")" || fail "third drop: $(cat "$work/out")"
converted short.wav
converted song.wave
said "2 converted, 13 skipped, 0 failed."
[ "$(copies)" = "$(expected_copies short.wav song.wave)" ] || fail "converted holds $(copies)"
unchanged
echo "drop-test: each file converted once into converted, failures named, originals unchanged"
