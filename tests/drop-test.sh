#!/bin/sh
# drop-test.sh TOOL WINDOWS_DIR WINE: drop-files-here.exe under Wine, dropped on what a Windows
# user drops: the cases of drop-cases.sh, which every platform passes alike, and Windows' own rows
# beside them: device names, 8.3 names, a path over 300 characters, a drive's root, the program
# alone in a folder, and a file that another program is writing. No original ever changes. TOOL,
# the build host's quoxel, converts the expected copies.
set -eu
tool=$1 windows_dir=$2 wine=$3
. "$(dirname "$0")/common.sh"
. "$(dirname "$0")/drop-cases.sh"
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
    LC_ALL=C.UTF-8 timeout -k 5 120 "$wine" "$from/drop-files-here.exe" "$@" </dev/null >"$out.crlf" 2>&1 || status=$?
    tr -d '\r' <"$out.crlf" >"$out"  # lines end in CRLF, as on Windows
}
drop_to() { drop_from "$programs" "$@"; }
start_drop() { LC_ALL=C.UTF-8 "$wine" "$programs/drop-files-here.exe" "$@" </dev/null >"$work/out.raw" 2>&1 & }
p() { windows_path "$1"; }
in_copies() { printf 'converted\\%s' "$1" | tr / '\\'; }
missing_text='File not found' folds_case=yes
# A copy takes the permissions of the folder it is made in, as a copy in Explorer does: a
# read-only original gives a copy that can be written. By its mode, not by -w: the tests may run
# as root, who can write any file.
copy_of_read_only() { [ -n "$(find "$1" -perm -u+w)" ] || fail "the copy of a read-only original is read-only"; }
# The 8.3 name that Wine gives $1, from cmd's dir /x: the column before the long name.
short_name() {
    LC_ALL=C.UTF-8 "$wine" cmd /c dir /x "$(windows_path "$(dirname "$1")")" </dev/null 2>/dev/null | tr -d '\r' |
        awk -v name=" $(basename "$1")" 'substr($0, length($0) - length(name) + 1) == name {
            n = split(substr($0, 1, length($0) - length(name)), words, " "); print words[n] }'
}

# ---- The tree ----
add_tree conv/c.wav dev/aux.wav dev/con.wav dev/nul.wav dev/prn.wav dev/COM1.wav dev/lpt1.wav
ln -s "$dir" "$dir/$l1/loop"
tree_case 0

# ---- Bad inputs, in one drop ----
# Beside those of every platform: a file given by
# its 8.3 name and by its long one, the folder of copies by its 8.3 name, a folder 100 deep whose
# copies' paths are over 300 characters, and a drive's root.
bad=$work/bad
bad_tree
mkdir -p "$bad/short"
head -c 3000 /dev/urandom >"$bad/short/some long name.wav"
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
[ "$short" != "$long" ] && [ "$converted_short" != "$(windows_path "$dir/converted")" ] || fail "no 8.3 names"

bad_case "$short" "$long" "$converted_short" "$(windows_path "$dir/CONVERTED/a b.wav")" "$(windows_path "$bad/deep")" \
    "$root"
said "converted: $long"  # once, under its long name, however it was given
[ "$(ls "$bad/short/converted")" = "some long name.wav" ] || fail "the 8.3 name made $(ls "$bad/short/converted")"
said "skipped: $(windows_path "$dir/converted") (a folder of converted copies)"  # by its 8.3 name
said "skipped: $(windows_path "$dir/CONVERTED/a b.wav") (a converted copy itself)"
said "converted: $(windows_path "$deep/aux.wav")"
said "converted: ${root}r.wav"
said_line "6 converted, 4 skipped, 31 failed."
[ "$(grep -c '^\[' "$work/out")" -eq 35 ] || fail "not one numbered line per file: $(cat "$work/out")"
recapped 31
[ -f "$deep_copy" ] && [ -f "$work/root/converted/r.wav" ] || fail "no copy in the deep folder or the root"

nothing_case "drag a folder or WAV files onto drop-files-here.exe in"

# ---- The drop program alone in a folder, as a user may copy it ----
mkdir "$work/alone" && cp "$programs/drop-files-here.exe" "$work/alone"
head -c 3000 /dev/urandom >"$work/alone/new.wav"
drop_from "$work/alone" "$work/out" "$(windows_path "$work/alone/new.wav")"
ended 0
said "] converted: $(windows_path "$work/alone/new.wav")"

copies_link_case

folders_case
# "Z:\G\" from a batch file or a shortcut arrives as Z:\G\", its trailing quote kept.
drop "$(windows_path "$dir")\\\""
ended 0
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

forms_case

order_case
end_case
# The report is a Windows text file: every line ended by CRLF.
[ "$(grep -c "$(printf '\r')\$" "$report")" -eq "$(wc -l <"$report")" ] || fail "the report's lines do not end in CRLF"
words_case

# A standard handle that is not valid is never written, but Wine itself hangs before the program
# starts when a standard descriptor is closed, so only the Linux test closes them.
echo "drop-test: closed standard handles not tried: Wine hangs when started with a descriptor closed"

full_case

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

# ---- Links as Linux players' trees hold them, which Wine shows only in a folder's listing ----
# A folder below converted that is a link, to a folder of the tree or outside it, is never
# entered: no copy replaces an original or lands outside. A converted below the top that is a
# link is never swept. A link at a copy's name stays, whether or not its file's size is the
# original's, and so does one named as a dead drop's leftover or lock, in the folder of copies or
# in one below the top, which no line says is removed. Nothing outside the tree changes.
dir=$work/U expect=$work/U-expect originals=$work/U-originals outside=$work/U-outside
add_file sub/b.wav 3000 && add_file other/b.wav 20 && add_file far/c.wav 3000 && add_file a.wav 3000 &&
    add_file same.wav 3000 && add_file deep/d.wav 3000
mkdir -p "$dir/converted" "$outside/copies" "$outside/theirs"
ln -s ../other "$dir/converted/sub" && ln -s "$outside/copies" "$dir/converted/far"
head -c 100 /dev/urandom >"$outside/a.wav" && head -c 3000 /dev/urandom >"$outside/same.wav"
ln -s "$outside/a.wav" "$dir/converted/a.wav" && ln -s "$outside/same.wav" "$dir/converted/same.wav"
echo theirs >"$outside/theirs/quoxel-4000000000-1.tmp" && echo theirs >"$outside/theirs/quoxel-4000000000.lock"
ln -s "$outside/theirs" "$dir/deep/converted"
mkdir -p "$dir/far/converted"
ln -s "$outside/theirs/quoxel-4000000000-1.tmp" "$dir/converted/quoxel-4000000005-1.tmp"
ln -s "$outside/theirs/quoxel-4000000000.lock" "$dir/converted/quoxel-4000000005.lock"
ln -s "$outside/theirs/quoxel-4000000000-1.tmp" "$dir/far/converted/quoxel-4000000005-2.tmp"
(cd "$outside" && find . -type f -exec md5sum {} + | sort) >"$work/U.before"
drop "$(p "$dir")"
ended 1
! grep -q '^removed: ' "$work/out" || fail "a link said to be removed: $(cat "$work/out")"
numbered_line "failed: $(p "$dir/sub/b.wav") ($(in_copies sub) is a link, not a folder)"
numbered_line "failed: $(p "$dir/far/c.wav") ($(in_copies far) is a link, not a folder)"
for f in a same; do numbered_line "failed: $(p "$dir/$f.wav") ($(in_copies $f.wav) is a link, not a converted copy; it stays as it is)"; done
said_line "not entered: $(p "$dir/deep/converted") (a folder link)"
(cd "$outside" && find . -type f -exec md5sum {} + | sort) | cmp -s - "$work/U.before" || fail "what is outside the tree changed"
[ "$(readlink "$dir/converted/a.wav")" = "$outside/a.wav" ] && [ "$(readlink "$dir/converted/sub")" = ../other ] ||
    fail "a link in converted was replaced: $(ls -l "$dir/converted")"
[ -L "$dir/converted/quoxel-4000000005-1.tmp" ] && [ -L "$dir/converted/quoxel-4000000005.lock" ] &&
    [ -L "$dir/far/converted/quoxel-4000000005-2.tmp" ] || fail "a link in converted went: $(ls -l "$dir/converted")"
rm "$dir/converted/sub" "$dir/converted/far" "$dir/converted/a.wav" "$dir/converted/same.wav" \
    "$dir/converted/quoxel-4000000005-1.tmp" "$dir/converted/quoxel-4000000005.lock" "$dir/far/converted/quoxel-4000000005-2.tmp"
copies_exact ./deep/d.wav ./other/b.wav
# A leftover temporary copy that cannot be removed (an immutable file: Wine removes a file once
# it is closed, and says nothing when that fails) is said to stay, never said to be removed.
leftover=$dir/converted/quoxel-4000000000-1.tmp
echo left >"$leftover"
if chattr +i "$leftover" 2>/dev/null; then
    drop "$(p "$dir")"
    chattr -i "$leftover"
    ! grep -q '^removed: ' "$work/out" && ! grep -q '^Removed ' "$work/out" || fail "a removal said that was not done: $(cat "$work/out")"
    said_line "not removed: $(p "$leftover") (a temporary copy left by a drop that was closed or stopped)"
    [ -f "$leftover" ] || fail "the leftover went"
    rm "$leftover"
else
    echo "drop-test: no immutable files here (chattr), so a removal that fails without a word is not tried"
fi

# ---- Lines keep up with the copies ----
# On one thread, a copy's line is out before the copy after the next takes its name: the lines
# of a run of large files are not held back until the run ends.
dir=$work/K
mkdir -p "$dir"
(ulimit -S -f unlimited && for i in 1 2 3 4; do head -c 30000000 /dev/zero >"$dir/k$i.wav"; done)
third_named() { [ -e "$dir/converted/k3.wav" ]; }
fourth_named() { [ -e "$dir/converted/k4.wav" ]; }
export QUOXEL_DROP_THREADS=1
(ulimit -S -f unlimited && in_the_middle third_named fourth_named no_copies "$(p "$dir")" &&
    tr -d '\r' <"$work/out.raw" | grep -qF "converted: $(p "$dir/k1.wav")" || fail "k1.wav's line lags: $(tr -d '\r' <"$work/out.raw")"
    kill -CONT "$drop_pid" && wait "$drop_pid" || true)
unset QUOXEL_DROP_THREADS
rm -rf "$dir"

# ---- Ctrl+C while the drop counts its files ----
# Heard while it walks a tree 250 folders deep, with 20 empty folders beside each that the walk
# lists before it goes deeper, and its one WAV file at the bottom: the walk ends where it is, long
# before the bottom; nothing is made, and the end says that nothing was converted.
dir=$work/D
deep=$dir$(printf '/z%.0s' $(seq 1 250))
mkdir -p "$deep" && head -c 3000 /dev/urandom >"$deep/bottom.wav"
level=$dir
while [ "$level" != "$deep" ]; do
    (cd "$level" && mkdir a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 b0 b1 b2 b3 b4 b5 b6 b7 b8 b9)
    level=$level/z
done
start_drop "$(p "$dir")"
counting=$!
walking() { ls -l /proc/"$counting"/fd 2>/dev/null | grep -qF -- "$dir/"; }
within 60 walking || fail "the drop never began its walk"
kill -INT "$counting"
status=0 && wait "$counting" || status=$?
take_out
ended 130
said_line "0 converted, 0 skipped, 0 failed, 0 not done (stopped)."
[ ! -e "$dir/converted" ] && [ ! -e "$deep/converted" ] || fail "a drop stopped while it counted made converted"
rm -rf "$dir"

killed_case

changed_case

stopped_case INT:130

# ---- A folder that a drop holds cannot be renamed while it works there ----
# The drop stands still in the middle of its files (SIGSTOP) while cmd tries to rename the folder
# dropped: Windows refuses, as the drop holds it without sharing delete access.
dir=$work/pinned
mkdir -p "$dir"
head -c 12000000 /dev/urandom | (cd "$dir" && split -b 20000 -a 3 --additional-suffix=.wav - f)
pinned_made() { find "$dir/converted" -name 'f*.wav' 2>/dev/null | wc -l; }
pinned_ready() { [ "$(pinned_made)" -ge 10 ]; }
pinned_past() { [ "$(pinned_made)" -ge 599 ]; }
export QUOXEL_DROP_THREADS=1
in_the_middle pinned_ready pinned_past no_copies "$(p "$dir")"
LC_ALL=C.UTF-8 "$wine" cmd /c ren "$(p "$dir")" pinned2 </dev/null >"$work/ren" 2>&1 || true
[ -d "$dir" ] && [ ! -e "$work/pinned2" ] || fail "the folder was renamed while a drop held it: $(tr -d '\r' <"$work/ren")"
kill -CONT "$drop_pid"
status=0 && wait "$drop_pid" || status=$?
unset QUOXEL_DROP_THREADS
take_out
ended 0
said_line "600 converted, 0 skipped, 0 failed."
rm -rf "$dir"

concurrent_case 2 200 1
echo "drop-test: trees mirrored into converted, every copy exact and made once, failures named, originals unchanged"
