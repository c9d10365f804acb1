#!/bin/sh
# drop-test.sh TOOL WINDOWS_DIR WINE: drop-files-here.exe under Wine, dropped on what a Windows
# user drops: a tree of awkward names three folders deep, with a folder "Converted" inside, a
# folder named x.wav, a link out of the tree, a link loop, device names, a read-only original, a
# leftover temporary copy and two files too short to convert. The first drop must give one exact
# copy of each WAV file at converted\<its path> and nothing else, name each short file, remove the
# leftover, end with status 1 and repeat the failures after the summary; once the short files are
# fixed, the second converts only them, and a third, with nothing to convert, still clears a
# leftover. Then the bad inputs, in one drop; the drop program alone in a folder; a file and its
# folders in one drop; a full disk; a drop killed in the middle of a large file; and two drops at
# once on one folder, which must convert each file once and never touch the other's temporary
# copies. No original ever changes. TOOL, the build host's quoxel, converts the expected copies.
set -eu
tool=$1 windows_dir=$2 wine=$3
. "$(dirname "$0")/common.sh"
ulimit -S -f 4096  # 2 MiB, so that a runaway fails instead of filling the disk; one row raises it

work=$(mktemp -d)
drive=
trap 'rm -rf "$work"; [ -z "$drive" ] || rm -f "$drive"' EXIT
dir=$work/tree expect=$work/expect originals=$work/originals

# The programs where a user unpacks them: in a folder with a space and characters that cmd.exe
# gives meanings to.
programs="$work/quoxel 1.0 & 50%!"
mkdir "$programs"
cp "$windows_dir/quoxel.exe" "$windows_dir/drop-files-here.exe" "$programs"

windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
# drop_from FOLDER OUT ARG...: the drop program in FOLDER given ARG..., its output in OUT and its
# status in $status. Standard input from /dev/null, which is no console: it must not wait for Enter.
drop_from() {
    status=0 from=$1 out=$2
    shift 2
    LC_ALL=C.UTF-8 timeout 120 "$wine" "$from/drop-files-here.exe" "$@" </dev/null >"$out.crlf" 2>&1 || status=$?
    tr -d '\r' <"$out.crlf" >"$out"  # lines end in CRLF, as on Windows
}
drop() { drop_from "$programs" "$work/out" "$@"; }
# The 8.3 name that Wine gives $1, from cmd's dir /x: the column before the long name.
short_name() {
    LC_ALL=C.UTF-8 "$wine" cmd /c dir /x "$(windows_path "$(dirname "$1")")" </dev/null 2>/dev/null | tr -d '\r' |
        awk -v name=" $(basename "$1")" 'substr($0, length($0) - length(name) + 1) == name {
            n = split(substr($0, 1, length($0) - length(name)), words, " "); print words[n] }'
}

# ---- The tree ----
add_tree conv/c.wav dev/aux.wav dev/con.wav dev/nul.wav dev/prn.wav dev/COM1.wav dev/lpt1.wav
ln -s "$dir" "$dir/$l1/loop"
leftover=quoxel-4000000000-1.tmp  # no process has that id
head -c 100 /dev/urandom >"$dir/converted/$leftover"
mkdir "$work/before" && cp -r "$dir/." "$work/before"

drop "$(windows_path "$dir")"
ended 1
found "$files WAV files in $folders folders"
said "removed: $(windows_path "$dir/converted/$leftover") (a temporary copy left by a drop that was closed or stopped)"
said "not entered: $(windows_path "$dir/link") (a folder link)"
said "not entered: $(windows_path "$dir/$l1/loop") (a folder link)"
: >"$work/shorts"
for short in "$l1/short.wav" "$l1/$l2/$l3/short.wav"; do
    line="failed: $(windows_path "$dir/$short") (shorter than 4 bytes, so there is nothing to convert)"
    sed 's/^\[[0-9]*\/[0-9]*\] //' "$work/out" | grep -qxF -- "$line" || fail "no line \"$line\" in: $(cat "$work/out")"
    printf "  %s\n" "$line" >>"$work/shorts"
done
said_line "$(($(echo "$wavs" | wc -l))) converted, 0 skipped, 2 failed."
[ "$(recap | head -n 1)" = "2 files failed:" ] && [ "$(recap | tail -n +2 | sort)" = "$(sort "$work/shorts")" ] ||
    fail "the failures not repeated: $(recap)"
# shellcheck disable=SC2086 # one path per line
(IFS='
'; copies_exact $wavs)
# By its mode, not by -w: the tests may run as root, who can write any file.
[ -n "$(find "$dir/converted/ro.wav" -perm -u+w)" ] || fail "the copy of a read-only original is read-only"

add_file "$l1/short.wav" 6
add_file "$l1/$l2/$l3/short.wav" 6
drop "$(windows_path "$dir")"
ended 0
said_line "2 converted, $(($(echo "$wavs" | wc -l))) skipped, 0 failed."
[ -z "$(recap)" ] || fail "failures repeated where there were none: $(recap)"
(IFS='
'; copies_exact $wavs "./$l1/short.wav" "./$l1/$l2/$l3/short.wav")

# Nothing left to convert: the folder of copies is cleared of a dead drop's leftover all the same.
head -c 100 /dev/urandom >"$dir/converted/$leftover"
drop "$(windows_path "$dir")"
ended 0
said_line "removed: $(windows_path "$dir/converted/$leftover") (a temporary copy left by a drop that was closed or stopped)"
said_line "0 converted, $files skipped, 0 failed."

# ---- Bad inputs, in one drop ----
bad=$work/bad
mkdir -p "$bad/twins" "$bad/in place/converted/b.wav" "$bad/empty" "$bad/cfile" "$bad/short"
for f in twins/A.wav twins/a.wav "in place/b.wav" cfile/c.wav "short/some long name.wav"; do
    head -c 3000 /dev/urandom >"$bad/$f"
done
head -c 3000 /dev/urandom >"$bad/empty/song.wave"
echo file >"$bad/cfile/converted"
# Folders whose names differ only in letter case; a file link into the copies; a folder of copies
# that is a link (as a mount point is); a mirrored folder that is a file; and more failures than
# the recap repeats.
mkdir -p "$bad/T/Sub" "$bad/T/sub" "$bad/T/real" "$bad/T/converted" "$bad/M/elsewhere" "$bad/F/sub" \
    "$bad/F/converted" "$bad/shorts"
for f in T/Sub/x.wav T/sub/x.wav T/converted/r.wav M/m.wav F/sub/d.wav; do head -c 3000 /dev/urandom >"$bad/$f"; done
ln -s ../converted/r.wav "$bad/T/real/alias.wav"
ln -s elsewhere "$bad/M/converted"
echo file >"$bad/F/converted/sub"
for i in $(seq 10 31); do echo 0 >"$bad/shorts/s$i.wav"; done
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
    "$(windows_path "$work/missing.wav")" "$(windows_path "$bad/T")" "$(windows_path "$bad/M")" \
    "$(windows_path "$bad/F")" "$(windows_path "$bad/shorts")"
ended 1
twin_why='is the copy of a file whose path differs only in letter case, and converted cannot hold both'
said "converted: $(windows_path "$bad/twins/A.wav")"
said "failed: $(windows_path "$bad/twins/a.wav") (converted\\a.wav $twin_why)"
said "converted: $(windows_path "$bad/T/Sub/x.wav")"
said "failed: $(windows_path "$bad/T/sub/x.wav") (converted\\sub\\x.wav $twin_why)"
said "skipped: $(windows_path "$bad/T/real/alias.wav") (a link to a converted copy)"
[ ! -e "$bad/T/converted/real/alias.wav" ] || fail "a link into the copies was converted again"
said "converted: $(windows_path "$bad/M/m.wav")"
! grep -qF "$(windows_path "$bad/M/converted")" "$work/out" || fail "a folder of copies that is a link named: $(cat "$work/out")"
cmp -s "$bad/M/elsewhere/m.wav" "$bad/M/converted/m.wav" && [ -f "$bad/M/elsewhere/m.wav" ] || fail "no copy through the link"
said "failed: $(windows_path "$bad/F/sub/d.wav") (converted\\sub is a file, not a folder)"
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
said_line "failed: $(windows_path "$work/missing.wav") (File not found)"  # the system's text, whole
said_line "6 converted, 4 skipped, 30 failed."
[ "$(grep -c '^\[' "$work/out")" -eq 34 ] || fail "not one numbered line per file: $(cat "$work/out")"
[ "$(recap | head -n 1)" = "30 files failed:" ] && [ "$(recap | tail -n 1)" = "  … and 10 more" ] &&
    [ "$(recap | wc -l)" -eq 22 ] || fail "the recap is not 20 failures and a count: $(recap)"
[ -f "$deep_copy" ] && [ -f "$work/root/converted/r.wav" ] || fail "no copy in the deep folder or the root"

# ---- The drop program alone in a folder, as a user may copy it ----
mkdir "$work/alone" && cp "$programs/drop-files-here.exe" "$work/alone"
head -c 3000 /dev/urandom >"$work/alone/new.wav"
drop_from "$work/alone" "$work/out" "$(windows_path "$work/alone/new.wav")"
ended 0
said "] converted: $(windows_path "$work/alone/new.wav")"

# ---- A file and the folders that hold it, in one drop: each file once, into the outermost copies ----
dir=$work/G expect=$work/G-expect originals=$work/G-originals
add_file a.wav 3000 && add_file sub/b.wav 3000 && add_file sub/c.wav 3000
drop "$(windows_path "$dir/sub/b.wav")" "$(windows_path "$dir")"
ended 0
found "3 WAV files in 2 folders"
[ ! -e "$dir/sub/converted" ] || fail "b.wav converted twice, also into sub\\converted"
copies_exact ./a.wav ./sub/b.wav ./sub/c.wav
drop "$(windows_path "$dir")" "$(windows_path "$dir")" "$(windows_path "$dir/sub")"
found "3 WAV files in 2 folders"
said_line "0 converted, 3 skipped, 0 failed."
# With long paths: a file given with the folder six levels above it.
dir=$work/L expect=$work/L-expect originals=$work/L-originals
levels=$(printf '/a folder with a rather long name to pass the limit of paths%.0s' 1 2 3 4 5 6)
add_file ".$levels/e.wav" 3000
[ "$(windows_path "$dir$levels/e.wav" | wc -m)" -gt 300 ] || fail "the path of e.wav is not long enough"
drop "$(windows_path "$dir$levels/e.wav")" "$(windows_path "$dir")"
ended 0
found "1 WAV file in 1 folder"
said_line "[1/1] converted: $(windows_path "$dir$levels/e.wav")"
copies_exact ".$levels/e.wav"

# ---- A full disk: the copy fails, and nothing of it stays ----
dir=$work/full expect=$work/full-expect originals=$work/full-originals
(ulimit -S -f unlimited && add_file big.wav 3000000)
# The file size limit stands for the full disk; its signal is ignored, as Wine would otherwise die.
(trap '' XFSZ && drop "$(windows_path "$dir")" && echo "$status" >"$work/status")
status=$(cat "$work/status")
ended 1
said "] failed: $(windows_path "$dir/big.wav") (cannot write the copy: "
[ -z "$(ls "$dir/converted")" ] || fail "the failed copy left $(ls "$dir/converted")"

# ---- A file that another program is writing cannot be opened: no copy, and the original as it was ----
dir=$work/held expect=$work/held-expect originals=$work/held-originals
add_file held.wav 3000 && add_file free.wav 3000
# cmd holds held.wav open for writing, as the target of a redirection that nothing is written to.
LC_ALL=C.UTF-8 "$wine" cmd /c "ping -n 30 127.0.0.1 >nul 2>>$(windows_path "$dir/held.wav")" </dev/null >/dev/null 2>&1 &
holder=$!
held() { ls -l /proc/[0-9]*/fd 2>/dev/null | grep -qF -- "$dir/held.wav"; }
for _ in $(seq 1 500); do held && break; sleep 0.02; done
held || fail "cmd does not hold held.wav open"
drop "$(windows_path "$dir")"
kill "$holder" && wait "$holder" || true
ended 1
# Wine's text for ERROR_SHARING_VIOLATION; Windows says "The process cannot access the file ...".
sed 's/^\[[0-9]*\/[0-9]*\] //' "$work/out" |
    grep -qxF "failed: $(windows_path "$dir/held.wav") (cannot open it: Sharing violation)" ||
    fail "no open failure for held.wav: $(cat "$work/out")"
copies_exact ./free.wav

# ---- A drop killed in the middle of a large file leaves no copy that is not whole ----
dir=$work/killed expect=$work/killed-expect originals=$work/killed-originals
mkdir -p "$dir" "$expect" "$originals"
(
    ulimit -S -f unlimited
    yes 0123456789abcdef | head -c 400000000 >"$dir/large.wav"
    cp "$dir/large.wav" "$originals/large.wav" && cp "$dir/large.wav" "$expect/large.wav" && "$tool" "$expect/large.wav"
    LC_ALL=C.UTF-8 "$wine" "$programs/drop-files-here.exe" "$(windows_path "$dir")" </dev/null >"$work/out" 2>&1 &
    for _ in $(seq 1 1500); do  # until the copy is under way
        [ -n "$(find "$dir/converted" -name 'quoxel-*.tmp' -size +1000k 2>/dev/null)" ] && break
        sleep 0.02
    done
    kill -KILL $!
    wait $! || true
    [ ! -e "$dir/converted/large.wav" ] || fail "a killed drop left converted\\large.wav"
    [ -n "$(find "$dir/converted" -name 'quoxel-*.tmp')" ] || fail "the drop was killed before its copy began"
    drop "$(windows_path "$dir")"
    ended 0
    said "removed: $(windows_path "$dir/converted")\\quoxel-"
    copies_exact ./large.wav
)
rm -rf "$dir" "$expect" "$originals"

# ---- Ctrl+C in the middle of a drop of many files ----
# Wine turns SIGINT into the console's Ctrl+C event. Each copy is whole or absent, no temporary
# copy stays, the summary counts what was not done, and the status is that of a stopped program.
dir=$work/stopped
mkdir -p "$dir"
head -c 40000000 /dev/urandom | (cd "$dir" && split -b 20000 -a 3 --additional-suffix=.wav - f)
LC_ALL=C.UTF-8 "$wine" "$programs/drop-files-here.exe" "$(windows_path "$dir")" </dev/null >"$work/out.crlf" 2>&1 &
for _ in $(seq 1 400); do  # until some copies are made
    [ "$(find "$dir/converted" -name 'f*.wav' 2>/dev/null | wc -l)" -ge 20 ] && break
    sleep 0.05
done
kill -INT $!
status=0 && wait $! || status=$?
tr -d '\r' <"$work/out.crlf" >"$work/out"
ended 130
made=$(find "$dir/converted" -type f | wc -l)
said_line "$made converted, 0 skipped, 0 failed, $((2000 - made)) not done (stopped)."
[ -z "$(find "$dir/converted" -name '*.tmp')" ] || fail "a stopped drop left $(find "$dir/converted" -name '*.tmp')"
for copy in "$dir"/converted/*.wav; do
    cp "$dir/${copy##*/}" "$work/check.wav" && "$tool" "$work/check.wav"
    cmp -s "$work/check.wav" "$copy" || fail "${copy##*/} is not whole after Ctrl+C"
done
rm -rf "$dir"

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
