#!/bin/sh
# drop-linux-test.sh TOOL DROP PRELOAD: quoxel-drop on what Linux users give it. A tree of awkward
# names three folders deep, with a folder "Converted" inside, a folder named x.wav, a FIFO, a link
# to a file and links to folders, a name that is not UTF-8, a read-only original, a leftover and
# two files too short: the first run must give one exact copy of each WAV file at
# converted/<its path> and nothing else, and name the rest; the second converts only the fixed
# short files. Then the bad inputs in one run, a file and its folders in one run, a full disk,
# a run killed with SIGKILL and one stopped by SIGINT or SIGTERM, output closed early, four runs
# at once, a failure of each file call (PRELOAD, the fault injector), the options and the wait for
# Enter. No original ever changes, and no run leaves a lock file or a temporary copy. TOOL, the
# build host's quoxel, converts the expected copies.
set -eu
tool=$1 drop_program=$2 preload=$3
. "$(dirname "$0")/common.sh"
ulimit -S -f 4096  # 2 MiB, so that a runaway fails instead of filling the disk; rows raise it
umask 002          # as on many desktops: copies and folders must follow it

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dir=$work/tree expect=$work/expect originals=$work/originals

# run [ARG...]: the drop program, its output (both streams) in $work/out, its status in $status.
# Standard input is no terminal: it must never wait for Enter.
run() {
    status=0
    timeout 60 "$drop_program" "$@" </dev/null >"$work/out" 2>&1 || status=$?
}
no_leftovers() {  # FOLDER: no lock file and no temporary copy of a drop anywhere below it
    left=$(find "$1" -name 'quoxel-*.lock' -o -name 'quoxel-*.tmp')
    [ -z "$left" ] || fail "left behind: $left"
}

# ---- The tree ----
add_tree "$(printf 'caf\351 \001.wav')"  # Latin-1, and a control character
mkfifo "$dir/$l1/pipe.wav"  # nobody writes it: opening it to read could wait for ever
ln -s "$dir" "$dir/$l1/loop"
ln -s "../$l1/файл.wav" "$dir/x.wav/alias.wav"  # a link to a file is converted as itself
cp "$expect/$l1/файл.wav" "$expect/x.wav/alias.wav" && cp "$dir/$l1/файл.wav" "$originals/x.wav/alias.wav"
wavs=$(printf '%s\n%s' "$wavs" ./x.wav/alias.wav | LC_ALL=C sort) files=$((files + 1))
leftover=quoxel-4000000000-1.tmp  # no process has that id
head -c 100 /dev/urandom >"$dir/converted/$leftover"
shown_bad=$(printf '%s' "$dir/" && printf 'caf\\xE9 \\x01.wav')

run "$dir"
ended 1
found "$files WAV files in $folders folders"
said_line "removed: $dir/converted/$leftover (a temporary copy left by a drop that was closed or stopped)"
said_line "not entered: $dir/link (a folder link)"
said_line "not entered: $dir/$l1/loop (a folder link)"
said_line "skipped: $dir/$l1/pipe.wav (not a regular file but a FIFO)"
said "] converted: $shown_bad"
: >"$work/shorts"
for short in "$l1/short.wav" "$l1/$l2/$l3/short.wav"; do
    line="failed: $dir/$short (shorter than 4 bytes, so there is nothing to convert)"
    sed 's/^\[[0-9]*\/[0-9]*\] //' "$work/out" | grep -qxF -- "$line" || fail "no line \"$line\" in: $(cat "$work/out")"
    printf "  %s\n" "$line" >>"$work/shorts"
done
said_line "$(($(echo "$wavs" | wc -l))) converted, 1 skipped, 2 failed."
[ "$(recap | head -n 1)" = "2 files failed:" ] && [ "$(recap | tail -n +2 | sort)" = "$(sort "$work/shorts")" ] ||
    fail "the failures not repeated: $(recap)"
[ "$(wc -l <"$work/out")" -eq $((files + 9)) ] || fail "not one line per file: $(cat "$work/out")"
# shellcheck disable=SC2086 # one path per line
(IFS='
'; copies_exact $wavs)
[ -n "$(find "$dir/converted/ro.wav" -perm -u+w)" ] || fail "the copy of a read-only original is read-only"
[ "$(stat -c %a "$dir/converted/a b.wav" "$dir/converted/x.wav")" = "664
775" ] || fail "the copy and its folder do not follow the umask"

add_file "$l1/short.wav" 6
add_file "$l1/$l2/$l3/short.wav" 6
run "$dir"
ended 0
said_line "2 converted, $(($(echo "$wavs" | wc -l) + 1)) skipped, 0 failed."
[ -z "$(recap)" ] || fail "failures repeated where there were none: $(recap)"
(IFS='
'; copies_exact $wavs "./$l1/short.wav" "./$l1/$l2/$l3/short.wav")

# ---- Bad inputs, in one run ----
bad=$work/bad
mkdir -p "$bad/twins" "$bad/in place/converted/b.wav" "$bad/empty" "$bad/cfile" "$bad/T/real" "$bad/T/converted" \
    "$bad/M/elsewhere" "$bad/F/sub" "$bad/F/converted" "$bad/shorts" "$bad/given"
for f in twins/A.wav twins/a.wav "in place/b.wav" cfile/c.wav T/converted/r.wav M/m.wav F/sub/d.wav given/g.wav; do
    head -c 3000 /dev/urandom >"$bad/$f"
done
head -c 3000 /dev/urandom >"$bad/empty/song.wave"
echo file >"$bad/cfile/converted"
ln -s ../converted/r.wav "$bad/T/real/alias.wav"  # a file link into the copies
ln -s elsewhere "$bad/M/converted"                 # a folder of copies that is a link
echo file >"$bad/F/converted/sub"                  # a mirrored folder that is a file
ln -s given "$bad/given link"                      # a folder link given itself is entered
for i in $(seq 10 31); do echo 0 >"$bad/shorts/s$i.wav"; done
ln -s "$dir/converted" "$bad/to copies"

run "$bad/twins" "$bad/in place" "$bad/empty" "$bad/cfile" "$dir/converted" "$bad/to copies" \
    "$dir/converted/a b.wav" "" "$work/missing.wav" "$bad/T" "$bad/M" "$bad/F" "$bad/shorts" "$bad/given link" \
    "$dir/$l1/pipe.wav"
ended 1
# This file system tells A.wav from a.wav: both are converted.
said "converted: $bad/twins/A.wav" && said "converted: $bad/twins/a.wav"
said "skipped: $bad/T/real/alias.wav (a link to a converted copy)"
[ ! -e "$bad/T/converted/real/alias.wav" ] || fail "a link into the copies was converted again"
said "converted: $bad/M/m.wav"
! grep -qF "$bad/M/converted" "$work/out" || fail "a folder of copies that is a link named: $(cat "$work/out")"
cmp -s "$bad/M/elsewhere/m.wav" "$bad/M/converted/m.wav" && [ -f "$bad/M/elsewhere/m.wav" ] || fail "no copy through the link"
said "failed: $bad/F/sub/d.wav (converted/sub is a file, not a folder)"
said "failed: $bad/in place/b.wav (converted/b.wav is a folder, not a converted copy)"
said_line "failed: $bad/empty (no .wav file in this folder or in a folder below it)"
said "failed: $bad/cfile/c.wav ($bad/cfile/converted is a file, not a folder)"
said_line "skipped: $dir/converted (a folder of converted copies)"
said_line "skipped: $bad/to copies (a folder of converted copies)"  # through a link
said_line "skipped: $dir/converted/a b.wav (a converted copy itself)"
said_line "skipped: $dir/$l1/pipe.wav (not a regular file but a FIFO)"
said "converted: $bad/given link/g.wav"
[ -f "$bad/given/converted/g.wav" ] || fail "no copy in a folder link given itself"
said_line 'failed: "" (an empty argument names no file or folder)'
said_line "failed: $work/missing.wav (No such file or directory)"  # the system's text, whole
said_line "4 converted, 5 skipped, 28 failed."
[ "$(grep -c '^\[' "$work/out")" -eq 30 ] || fail "not one numbered line per file: $(cat "$work/out")"
[ "$(recap | head -n 1)" = "28 files failed:" ] && [ "$(recap | tail -n 1)" = "  … and 8 more" ] &&
    [ "$(recap | wc -l)" -eq 22 ] || fail "the recap is not 20 failures and a count: $(recap)"
no_leftovers "$bad"

# ---- A file and the folders that hold it, in one run: each file once, into the outermost copies ----
dir=$work/G expect=$work/G-expect originals=$work/G-originals
add_file a.wav 3000 && add_file sub/b.wav 3000 && add_file sub/c.wav 3000
(cd "$dir/sub" && run b.wav .. && echo "$status" >"$work/status")
status=$(cat "$work/status")
ended 0
found "3 WAV files in 2 folders"
[ ! -e "$dir/sub/converted" ] || fail "b.wav converted twice, also into sub/converted"
copies_exact ./a.wav ./sub/b.wav ./sub/c.wav
run "$dir" "$dir/" "$dir/sub" "$dir/./sub/../sub/b.wav"
found "3 WAV files in 2 folders"
said_line "0 converted, 3 skipped, 0 failed."

# ---- A full disk: the copy fails, and nothing of it stays ----
dir=$work/full expect=$work/full-expect originals=$work/full-originals
(ulimit -S -f unlimited && add_file big.wav 3000000)
run "$dir"  # the file size limit stands for the full disk
ended 1
said "] failed: $dir/big.wav (cannot write the copy: File too large)"
[ -z "$(ls -A "$dir/converted")" ] || fail "the failed copy left $(ls -A "$dir/converted")"

# ---- A run killed in the middle of a large file leaves no copy that is not whole ----
dir=$work/killed expect=$work/killed-expect originals=$work/killed-originals
mkdir -p "$dir" "$expect" "$originals"
(
    ulimit -S -f unlimited
    yes 0123456789abcdef | head -c 400000000 >"$dir/large.wav"
    cp "$dir/large.wav" "$originals/large.wav" && cp "$dir/large.wav" "$expect/large.wav" && "$tool" "$expect/large.wav"
    "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 &
    for _ in $(seq 1 1500); do  # until the copy is under way
        [ -n "$(find "$dir/converted" -name 'quoxel-*.tmp' -size +1000k 2>/dev/null)" ] && break
        sleep 0.01
    done
    kill -KILL $!
    wait $! || true
    [ ! -e "$dir/converted/large.wav" ] || fail "a killed run left converted/large.wav"
    [ -n "$(find "$dir/converted" -name 'quoxel-*.tmp')" ] || fail "the run was killed before its copy began"
    run "$dir"
    ended 0
    said "removed: $dir/converted/quoxel-"
    copies_exact ./large.wav
)
rm -rf "$dir" "$expect" "$originals"

# ---- SIGINT and SIGTERM in the middle of a run of many files ----
# Each copy is whole or absent, nothing of the run stays, the summary counts what was not done,
# and the status is that of a program the signal ended.
dir=$work/stopped
mkdir -p "$dir"
head -c 40000000 /dev/urandom | (cd "$dir" && split -b 20000 -a 3 --additional-suffix=.wav - f)
for signal in INT:130 TERM:143; do
    rm -rf "$dir/converted"
    QUOXEL_DROP_THREADS=1 "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 &
    for _ in $(seq 1 400); do  # until some copies are made
        [ "$(find "$dir/converted" -name 'f*.wav' 2>/dev/null | wc -l)" -ge 20 ] && break
        sleep 0.01
    done
    kill -"${signal%:*}" $!
    status=0 && wait $! || status=$?
    ended "${signal#*:}"
    made=$(find "$dir/converted" -type f | wc -l)
    [ "$made" -lt 2000 ] || fail "SIG${signal%:*} came after the end"
    said_line "$made converted, 0 skipped, 0 failed, $((2000 - made)) not done (stopped)."
    no_leftovers "$dir"
    for copy in "$dir"/converted/*.wav; do
        cp "$dir/${copy##*/}" "$work/check.wav" && "$tool" "$work/check.wav"
        cmp -s "$work/check.wav" "$copy" || fail "${copy##*/} is not whole after SIG${signal%:*}"
    done
done

# ---- Output closed early: the conversion goes on to the end ----
rm -rf "$dir/converted"
# (Each status is caught with ||: set -e would end the subshell before it is written.)
first=$( (status=0 && timeout 60 "$drop_program" "$dir" </dev/null 2>&1 || status=$?; echo "$status" >"$work/status") |
    head -n 1)
case $first in "Found 2000 WAV files in 1 folder; converting "*) ;; *) fail "the first line was: $first" ;; esac
[ "$(cat "$work/status")" -eq 0 ] || fail "a closed output ended the run with status $(cat "$work/status")"
[ "$(find "$dir/converted" -type f | wc -l)" -eq 2000 ] || fail "a closed output stopped the conversion"
no_leftovers "$dir"
rm -rf "$dir"

# ---- Four runs at once on one folder ----
# Each run tells the others' lock files and temporary copies from those of a dead run, also in the
# moment between the making and the locking of a lock file.
dir=$work/both expect=$work/both-expect originals=$work/both-originals
for i in $(seq 1 300); do add_file "s$i.wav" 3000; done
for n in 1 2 3 4; do
    (status=0 && timeout 60 "$drop_program" "$dir" </dev/null >"$work/both$n" 2>&1 || status=$?
        echo "$status" >"$work/both$n.status") &
done
wait
for n in 1 2 3 4; do
    [ "$(cat "$work/both$n.status")" -eq 0 ] || fail "run $n at once: $(cat "$work/both$n")"
    ! grep -q '^removed:' "$work/both$n" || fail "a run removed another's copy: $(cat "$work/both$n")"
done
converted=$(cat "$work"/both[1-4] | grep -c '] converted: ')
[ "$converted" -eq 300 ] || fail "four runs at once converted $converted files, not 300"
(cd "$expect" && copies_exact $(find . -type f))
# That moment made long: a run's first lock waits a second, while another process holds its new
# lock file as a run does to see whether its maker is still at work. The run waits for it.
rm -rf "$dir/converted"
(status=0 && timeout 60 env LD_PRELOAD="$preload" QUOXEL_FAIL=flock:1:late "$drop_program" "$dir" </dev/null \
    >"$work/out" 2>&1 || status=$?; echo "$status" >"$work/status") &
for _ in $(seq 1 500); do
    lock=$(find "$dir/converted" -name 'quoxel-*.lock' 2>/dev/null) || true
    [ -z "$lock" ] || break
    sleep 0.01
done
[ -n "$lock" ] || fail "the run made no lock file"
flock -x "$lock" sleep 2
wait
status=$(cat "$work/status")
ended 0
(cd "$expect" && copies_exact $(find . -type f))

# ---- A failure of each file call the conversion makes ----
# Each call is failed in turn, from the first to the last that a run makes (the fault injector
# counts them): a run either ends well with exact copies, or names a failure and ends with status
# 1; it never leaves a temporary copy or a lock file, and never changes an original.
dir=$work/faults expect=$work/faults-expect originals=$work/faults-originals
add_file a.wav 3000 && add_file sub/b.wav 3000
faulty() {  # CALL N: the run, with the Nth call of CALL failing
    rm -rf "$dir/converted"
    status=0
    timeout 60 env LD_PRELOAD="$preload" QUOXEL_FAIL="$1:$2:EIO" QUOXEL_FAIL_CALLS="$work/calls" QUOXEL_DROP_THREADS=1 \
        "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 || status=$?
}
for call in open read write close mkdir flock renameat2; do
    faulty "$call" 1000000
    ended 0
    calls=$(cat "$work/calls") failed=0
    [ "$calls" -gt 0 ] || fail "a run makes no call of $call"
    for n in $(seq 1 "$calls"); do
        faulty "$call" "$n"
        case $status in
        0) copies_exact ./a.wav ./sub/b.wav ;;
        1) echo "$call $n" >"$work/which" && said "failed: " && failed=$((failed + 1)) && no_leftovers "$dir" && find "$dir/converted" -type f 2>/dev/null |
            while IFS= read -r copy; do cmp -s "$copy" "$expect/${copy#"$dir/converted/"}" || fail "$copy is not whole"; done ;;
        *) fail "$call $n of $calls: status $status: $(cat "$work/out")" ;;
        esac
    done
    [ "$failed" -gt 0 ] || fail "no failure of $call is reported"
done
# Where a file system refuses RENAME_NOREPLACE, a second link and the removal of the first name.
timeout 60 env LD_PRELOAD="$preload" QUOXEL_FAIL=renameat2:1+:EINVAL "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 ||
    fail "without RENAME_NOREPLACE: $(cat "$work/out")"
rm -rf "$dir/converted"
timeout 60 env LD_PRELOAD="$preload" QUOXEL_FAIL=renameat2:1+:EINVAL "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 ||
    fail "without RENAME_NOREPLACE: $(cat "$work/out")"
copies_exact ./a.wav ./sub/b.wav

# ---- The options, and the wait for Enter in a terminal ----
run --version && ended 0 && said_line "quoxel-drop $(sed -n 's/^project(quoxel VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")"
run --help && ended 0 && said "usage: quoxel-drop [--wait] FILE-OR-FOLDER..."
run && ended 1 && [ "$(cat "$work/out")" = "usage: quoxel-drop [--wait] FILE-OR-FOLDER..." ] || fail "no usage: $(cat "$work/out")"
run --bogus "$dir" && ended 1 && said_line "quoxel-drop: unknown option --bogus"
mkdir "$work/-dash" && head -c 3000 /dev/urandom >"$work/-dash/d.wav"
(cd "$work" && run -- -dash && echo "$status" >"$work/status")
status=$(cat "$work/status") && ended 0 && [ -f "$work/-dash/converted/d.wav" ] || fail "a folder named -dash after --"
run --wait "$dir" && ended 0  # no terminal: no wait
! grep -q 'Press Enter' "$work/out" || fail "waited without a terminal"
if command -v script >/dev/null; then
    rm -rf "$dir/converted"
    # In a terminal: with --wait it waits for the Enter that is typed, and without it never asks.
    (sleep 2 && printf '\n') | timeout 30 script -qec "'$drop_program' --wait '$dir'" /dev/null >"$work/out" 2>&1 ||
        fail "the wait for Enter: $(cat "$work/out")"
    said "Press Enter to close this window."
    timeout 30 script -qec "'$drop_program' '$dir'" /dev/null </dev/null >"$work/out" 2>&1 || fail "$(cat "$work/out")"
    ! grep -q 'Press Enter' "$work/out" || fail "waited without --wait"
else
    echo "drop-linux-test: no script(1), so the wait in a terminal is not tested"
fi
echo "drop-linux-test: trees mirrored into converted, every copy exact and made once, failures named, nothing left behind"
