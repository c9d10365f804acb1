#!/bin/sh
# drop-test.sh TOOL WINDOWS_DIR WINE: drop-files-here.exe under Wine, dropped on what a Windows
# user drops: a tree of awkward names three folders deep, with a folder "Converted" inside, a
# folder named x.wav, a link out of the tree, a link loop, device names, a read-only original, a
# leftover temporary copy and two files too short to convert. The first drop must give one exact
# copy of each WAV file at converted\<its path> and nothing else, name each short file right after
# its own report, remove the leftover, and end with status 1; once the short files are fixed, the
# second converts only them. Then the bad inputs, in one drop; a drop without quoxel.exe; and two
# drops at once on one folder, which must convert each file once and never touch the other's
# temporary copies. No original ever changes. TOOL, the build host's quoxel, converts the
# expected copies.
set -eu
tool=$1 windows_dir=$2 wine=$3
. "$(dirname "$0")/common.sh"
ulimit -f 4096  # 2 MiB, so that a runaway fails instead of filling the disk

work=$(mktemp -d)
drive=
trap 'rm -rf "$work"; [ -z "$drive" ] || rm -f "$drive"' EXIT
dir=$work/tree expect=$work/expect originals=$work/originals

# The programs where a user unpacks them: in a folder with a space and characters that cmd.exe
# gives meanings to, which the command line of quoxel.exe must quote.
programs="$work/quoxel 1.0 & 50%!"
mkdir "$programs"
cp "$windows_dir/quoxel.exe" "$windows_dir/drop-files-here.exe" "$programs"

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
# drop_from FOLDER OUT ARG...: the drop program in FOLDER given ARG..., its output in OUT and its
# status in $status. Standard input from /dev/null, which is no console: it must not wait for Enter.
drop_from() {
    status=0 from=$1 out=$2
    shift 2
    LC_ALL=C.UTF-8 timeout 120 "$wine" "$from/drop-files-here.exe" "$@" </dev/null >"$out" 2>&1 || status=$?
}
drop() { drop_from "$programs" "$work/out" "$@"; }
ended() { [ "$status" -eq "$1" ] || fail "status $status, not $1: $(cat "$work/out")"; }
said() { grep -qF -- "$1" "$work/out" || fail "no line \"$1\" in: $(cat "$work/out")"; }
# The 8.3 name that Wine gives $1, from cmd's dir /x: the column before the long name.
short_name() {
    LC_ALL=C.UTF-8 "$wine" cmd /c dir /x "$(windows_path "$(dirname "$1")")" </dev/null 2>/dev/null | tr -d '\r' |
        awk -v name=" $(basename "$1")" 'substr($0, length($0) - length(name) + 1) == name {
            n = split(substr($0, 1, length($0) - length(name)), words, " "); print words[n] }'
}
# Every copy in $dir/converted is its file converted once, there is no other file, and no
# original changed.
copies_exact() {
    (cd "$dir/converted" && find . -type f | LC_ALL=C sort) >"$work/copies"
    [ "$(cat "$work/copies")" = "$(printf '%s\n' "$@" | LC_ALL=C sort)" ] || fail "converted holds: $(cat "$work/copies")"
    for f in "$@"; do cmp -s "$dir/converted/$f" "$expect/$f" || fail "converted/$f is not $f converted once"; done
    (cd "$originals" && find . -type f) | while IFS= read -r f; do
        cmp -s "$originals/$f" "$dir/$f" || fail "the original $f changed"
    done
}

# ---- The tree ----
mkdir -p "$dir" "$expect" "$originals" "$work/outside" "$dir/converted"
l1="50%off & a^b!" l2="日本語 ;(x)" l3="-dash 🎵"
add_wav() { add_file "$1" 3000; }
each_name add_wav
for name in "$l1/файл.wav" "$l1/$l2/wow!.wav" "$l1/$l2/$l3/UPPER.WAV" "x.wav/in.wav" "conv/c.wav" ".wav" \
    ro.wav dev/aux.wav dev/con.wav dev/nul.wav dev/prn.wav dev/COM1.wav dev/lpt1.wav; do
    add_wav "$name"
done
chmod a-w "$dir/ro.wav"
add_file "$l1/short.wav" 3
add_file "$l1/$l2/$l3/short.wav" 2
wavs=$(cd "$expect" && find . -type f -size +1k | LC_ALL=C sort)
files=$(cd "$expect" && find . -type f | wc -l) folders=$(cd "$expect" && find . -type f -exec dirname {} + | sort -u | wc -l)
mkdir -p "$dir/$l1/$l2/Converted"
head -c 3000 /dev/urandom >"$dir/$l1/$l2/Converted/never.wav"  # a folder of copies, deep inside
head -c 3000 /dev/urandom >"$dir/song.wave"
head -c 3000 /dev/urandom >"$work/outside/outside.wav"
ln -s "$work/outside" "$dir/link"
ln -s "$dir" "$dir/$l1/loop"
leftover=quoxel-4000000000-1.tmp  # no process has that id
head -c 100 /dev/urandom >"$dir/converted/$leftover"
mkdir "$work/before" && cp -r "$dir/." "$work/before"

drop "$(windows_path "$dir")"
ended 1
said "Found $files WAV files in $folders folders; converting "
said "removed: $(windows_path "$dir/converted/$leftover") (a temporary copy left by a drop that was closed or stopped)"
said "not entered: $(windows_path "$dir/link") (a folder link)"
said "not entered: $(windows_path "$dir/$l1/loop") (a folder link)"
for short in "$l1/short.wav" "$l1/$l2/$l3/short.wav"; do
    grep -B1 -F "] failed: $(windows_path "$dir/$short") (quoxel.exe stopped with status 1; no copy kept)" \
        "$work/out" | head -n 1 | grep -qx 'quoxel\.cpp:[0-9]*:reverse_nibbles:fread: unexpected EOF' ||
        fail "$short not named right after its own report: $(cat "$work/out")"
done
# shellcheck disable=SC2086 # one path per line
(IFS='
'; copies_exact $wavs)
# By its mode, not by -w: the tests may run as root, who can write any file.
[ -n "$(find "$dir/converted/ro.wav" -perm -u+w)" ] || fail "the copy of a read-only original is read-only"

add_file "$l1/short.wav" 6
add_file "$l1/$l2/$l3/short.wav" 6
drop "$(windows_path "$dir")"
ended 0
said "2 converted, $(echo "$wavs" | wc -l) skipped, 0 failed."
(IFS='
'; copies_exact $wavs "./$l1/short.wav" "./$l1/$l2/$l3/short.wav")

# ---- Bad inputs, in one drop ----
bad=$work/bad
mkdir -p "$bad/twins" "$bad/in place/converted/b.wav" "$bad/empty" "$bad/cfile" "$bad/short"
for f in twins/A.wav twins/a.wav "in place/b.wav" cfile/c.wav "short/some long name.wav"; do
    head -c 3000 /dev/urandom >"$bad/$f"
done
head -c 3000 /dev/urandom >"$bad/empty/song.wave"
echo file >"$bad/cfile/converted"
deep=$bad/deep$(printf '/level%.0s' $(seq 1 100))  # 100 folders deep, its copies over 300 characters
deep_copy=$bad/deep/converted${deep#"$bad/deep"}/aux.wav
mkdir -p "$deep" && head -c 3000 /dev/urandom >"$deep/aux.wav"
[ "$(windows_path "$deep_copy" | wc -m)" -gt 300 ] || fail "the deep folder is not deep enough"
# A drive letter of its own, mapped onto a scratch folder: the first one free in this prefix.
mkdir "$work/root" && head -c 3000 /dev/urandom >"$work/root/r.wav"
for letter in m n o p q r s t u v w x y; do
    ln -s "$work/root" "$WINEPREFIX/dosdevices/$letter:" 2>/dev/null && drive=$WINEPREFIX/dosdevices/$letter: && break
done
[ -n "$drive" ] || fail "no free drive letter in $WINEPREFIX"
root=$(echo "${drive##*/}" | tr a-z A-Z)'\'
long=$(windows_path "$bad/short/some long name.wav")
short=$(windows_path "$bad/short")'\'$(short_name "$bad/short/some long name.wav")
converted_short=$(windows_path "$dir")'\'$(short_name "$dir/converted")
ln -s "$dir/converted" "$bad/to copies"
[ "$short" != "$long" ] && [ "$converted_short" != "$(windows_path "$dir/converted")" ] || fail "no 8.3 names"

drop "$(windows_path "$bad/twins")" "$(windows_path "$bad/in place")" "$(windows_path "$bad/empty")" \
    "$(windows_path "$bad/cfile")" "$short" "$long" "$converted_short" "$(windows_path "$bad/to copies")" \
    "$(windows_path "$dir/CONVERTED/a b.wav")" "$(windows_path "$bad/deep")" "$root" "" \
    "$(windows_path "$work/missing.wav")"
ended 1
said "converted: $(windows_path "$bad/twins/A.wav")"
said "failed: $(windows_path "$bad/twins/a.wav") (converted\\a.wav is the copy of a file whose name differs only in letter case"
said "failed: $(windows_path "$bad/in place/b.wav") (converted\\b.wav is a folder, not a converted copy)"
said "failed: $(windows_path "$bad/empty") (no .wav file in this folder or in a folder below it)"
said "failed: $(windows_path "$bad/cfile/c.wav") ($(windows_path "$bad/cfile/converted") is a file, not a folder)"
said "converted: $long"  # once, under its long name, however it was given
[ "$(ls "$bad/short/converted")" = "some long name.wav" ] || fail "the 8.3 name made $(ls "$bad/short/converted")"
said "skipped: $(windows_path "$dir/converted") (a folder of converted copies)"  # by its 8.3 name
said "skipped: $(windows_path "$bad/to copies") (a folder of converted copies)"   # through a link
said "skipped: $(windows_path "$dir/CONVERTED/a b.wav") (a converted copy itself)"
said "converted: $(windows_path "$deep/aux.wav")"
said "converted: ${root}r.wav"
said 'failed: "" (an empty argument names no file or folder)'
said "failed: $(windows_path "$work/missing.wav") ("
said "4 converted, 3 skipped, 6 failed."
[ "$(grep -c '^\[' "$work/out")" -eq 7 ] || fail "not one numbered line per file: $(cat "$work/out")"
[ -f "$deep_copy" ] && [ -f "$work/root/converted/r.wav" ] || fail "no copy in the deep folder or the root"

# ---- Without quoxel.exe beside it ----
mkdir "$work/alone" && cp "$programs/drop-files-here.exe" "$work/alone"
drop_from "$work/alone" "$work/out" "$(windows_path "$bad/twins")"
ended 1
said "quoxel.exe is not beside drop-files-here.exe: unpack the whole zip into one folder."
echo "not a program" >"$work/alone/quoxel.exe"  # a system text with an insert, filled in
head -c 3000 /dev/urandom >"$work/alone/new.wav"
drop_from "$work/alone" "$work/out" "$(windows_path "$work/alone/new.wav")"
ended 1
said "failed: $(windows_path "$work/alone/new.wav") (cannot start quoxel.exe: "
! grep -q '%1' "$work/out" || fail "an insert not filled in: $(cat "$work/out")"

# ---- Two drops at once on one folder ----
dir=$work/both expect=$work/both-expect originals=$work/both-originals
for i in $(seq 1 200); do add_file "s$i.wav" 3000; done
for run in 1 2; do
    (drop_from "$programs" "$work/both$run" "$(windows_path "$dir")" && echo "$status" >"$work/both$run.status") &
    sleep 1
done
wait
for run in 1 2; do
    [ "$(cat "$work/both$run.status")" -eq 0 ] || fail "drop $run at once: $(cat "$work/both$run")"
    ! grep -q '^removed:' "$work/both$run" || fail "a drop removed the other's copy: $(cat "$work/both$run")"
done
converted=$(cat "$work/both1" "$work/both2" | grep -c '] converted: ')
[ "$converted" -eq 200 ] || fail "two drops at once converted $converted files, not 200"
(cd "$expect" && copies_exact $(find . -type f))
echo "drop-test: trees mirrored into converted, every copy exact and made once, failures named, originals unchanged"
