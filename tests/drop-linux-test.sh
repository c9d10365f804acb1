#!/bin/sh
# drop-linux-test.sh TOOL DROP PRELOAD SWAP: quoxel-drop on what Linux users give it: the cases of
# drop-cases.sh, which every platform passes alike, and Linux's own rows beside them: a FIFO, a
# link to a file, a name that is not UTF-8, umask 002, relative paths, output closed early, a
# lock held for the moment of its check, a failure of each file call (PRELOAD, the fault
# injector), the options and the wait for Enter. No original ever changes, and no run leaves a
# lock file or a temporary copy. TOOL, the build host's quoxel, converts the expected copies.
set -eu
tool=$1 drop_program=$2 preload=$3 swap_folders=$4
. "$(dirname "$0")/common.sh"
. "$(dirname "$0")/drop-cases.sh"
ulimit -S -f 4096  # 2 MiB, so that a runaway fails instead of filling the disk; rows raise it
umask 002          # as on many desktops: copies and folders must follow it

work=$(mktemp -d) loop=
trap '[ -z "$loop" ] || { umount "$work/btrfs" 2>/dev/null; losetup -d "$loop"; }; rm -rf "$work"' EXIT
dir=$work/tree expect=$work/expect originals=$work/originals

drop_to() {
    status=0 out=$1
    shift
    timeout -k 5 60 "$drop_program" "$@" </dev/null >"$out" 2>&1 || status=$?
}
start_drop() { "$drop_program" "$@" </dev/null >"$work/out.raw" 2>&1 & }
drop_closing() {
    status=0 closing=$1
    shift
    eval "timeout -k 5 60 \"\$drop_program\" \"\$@\" </dev/null $closing" || status=$?
}
p() { printf '%s' "$1"; }
pause=$work/paused  # made by a run that the fault injector pauses, and removed to let it go on
paused() { [ -s "$pause" ]; }  # made, and its process id written
in_copies() { printf 'converted/%s' "$1"; }
missing_text='No such file or directory' folds_case=no
# A copy has its original's permission bits, less the umask, as cp makes it.
copy_of_read_only() { [ "$(stat -c %a "$1")" = 444 ] || fail "the copy of a read-only original is $(stat -c %a "$1")"; }


# ---- The tree ----
add_tree "$(printf 'caf\351 \001.wav')"  # Latin-1, and a control character
mkfifo "$dir/$l1/pipe.wav"  # nobody writes it: opening it to read could wait for ever
ln -s "$dir" "$dir/$l1/loop"
ln -s "../$l1/файл.wav" "$dir/x.wav/alias.wav"  # a link to a file is converted as itself
cp "$expect/$l1/файл.wav" "$expect/x.wav/alias.wav" && cp "$dir/$l1/файл.wav" "$originals/x.wav/alias.wav"
wavs=$(printf '%s\n%s' "$wavs" ./x.wav/alias.wav | LC_ALL=C sort) files=$((files + 1))
shown_bad=$(printf '%s' "$dir/" && printf 'caf\\xE9 \\x01.wav')

tree_case 1
said_line "skipped: $dir/$l1/pipe.wav (not a regular file but a FIFO)"
said "] converted: $shown_bad"
[ "$(grep -c '^\[' "$work/out")" -eq "$files" ] || fail "not one line per file: $(cat "$work/out")"
[ "$(stat -c %a "$dir/converted/a b.wav" "$dir/converted/x.wav")" = "664
775" ] || fail "the copy and its folder do not follow the umask"

# ---- Bad inputs, in one run ----
bad=$work/bad
bad_tree
mkdir -p "$bad/given" && head -c 3000 /dev/urandom >"$bad/given/g.wav"
ln -s given "$bad/given link"  # a folder link given itself is entered
bad_case "$dir/converted" "$dir/converted/a b.wav" "$bad/given link" "$dir/$l1/pipe.wav"
said_line "skipped: $dir/converted (a folder of converted copies)"
said_line "skipped: $dir/converted/a b.wav (a converted copy itself)"
said_line "skipped: $dir/$l1/pipe.wav (not a regular file but a FIFO)"
said "converted: $bad/given link/g.wav"
[ -f "$bad/given/converted/g.wav" ] || fail "no copy in a folder link given itself"
said_line "6 converted, 5 skipped, 29 failed."
[ "$(grep -c '^\[' "$work/out")" -eq 32 ] || fail "not one numbered line per file: $(cat "$work/out")"
recapped 29
# Trailing slashes, as tab completion writes them, are no part of the path: a folder link so
# given is named as given, and a file so given converts.
mkdir -p "$work/slash/folder" && head -c 3000 /dev/urandom >"$work/slash/folder/g.wav"
head -c 3000 /dev/urandom >"$work/slash/f.wav" && ln -s folder "$work/slash/link"
drop "$work/slash/link/" "$work/slash/f.wav//"
ended 0
numbered_line "converted: $work/slash/link/g.wav"
numbered_line "converted: $work/slash/f.wav"
# Folders whose names differ only in letter case: both copies here, and both found again.
drop "$bad/T"
ended 0
said "skipped: $bad/T/Sub/x.wav (already converted: converted/Sub/x.wav exists)"
said "skipped: $bad/T/sub/x.wav (already converted: converted/sub/x.wav exists)"

# ---- What is in the folder of copies: links, a FIFO, copies cut short ----
# Nothing below the folder of copies is followed when it is a link: a copy's folder that is a link
# to a folder elsewhere, or the copy's name taken by a link, a dangling link or a FIFO, fails its
# file with what is there, and the link stays as it is. A copy cut short, as a power cut or a full
# disk leaves it, is made again.
dir=$work/links expect=$work/links-expect originals=$work/links-originals
add_file sub/x.wav 3000 && add_file a.wav 3000 && add_file b.wav 3000 && add_file c.wav 3000 &&
    add_file d.wav 3000 && add_file e.wav 3000
mkdir -p "$dir/converted" "$work/elsewhere" && ln -s "$work/elsewhere" "$dir/converted/sub"
ln -s ../b.wav "$dir/converted/a.wav" && ln -s nowhere "$dir/converted/b.wav" && mkfifo "$dir/converted/c.wav"
: >"$dir/converted/d.wav" && head -c 1500 "$expect/e.wav" >"$dir/converted/e.wav"
chmod 600 "$dir/c.wav"
sockets=no
if command -v python3 >/dev/null; then
    add_file g.wav 3000
    # Bound by its name in the folder: a socket's whole path has room for about 100 bytes.
    (cd "$dir/converted" && python3 -c 'import socket; socket.socket(socket.AF_UNIX).bind("g.wav")') && sockets=yes
fi
drop "$dir"
ended 1
if [ "$sockets" = yes ]; then
    numbered_line "failed: $dir/g.wav (converted/g.wav is a socket, not a converted copy; it stays as it is)"
    [ -S "$dir/converted/g.wav" ] || fail "the socket at a copy's name changed"
else
    echo "drop-linux-test: python3 could not make a socket, so a socket at a copy's name is not tried"
fi
numbered_line "failed: $dir/sub/x.wav (converted/sub is a link, not a folder)"
for f in a b; do numbered_line "failed: $dir/$f.wav (converted/$f.wav is a link, not a converted copy; it stays as it is)"; done
numbered_line "failed: $dir/c.wav (converted/c.wav is a FIFO, not a converted copy; it stays as it is)"
numbered_line "converted: $dir/d.wav (its copy was 0 of 3,000 bytes; made again)"
numbered_line "converted: $dir/e.wav (its copy was 1,500 of 3,000 bytes; made again)"
[ -z "$(ls "$work/elsewhere")" ] && [ "$(readlink "$dir/converted/a.wav")" = ../b.wav ] &&
    [ "$(readlink "$dir/converted/b.wav")" = nowhere ] && [ -p "$dir/converted/c.wav" ] ||
    fail "what was in the folder of copies changed: $(ls -l "$dir/converted" "$work/elsewhere")"
cmp -s "$dir/converted/d.wav" "$expect/d.wav" && cmp -s "$dir/converted/e.wav" "$expect/e.wav" ||
    fail "a copy cut short was not made again"
# Modes: an original that only its owner may read gives a copy that only its owner may read.
rm "$dir/converted/c.wav" && drop "$dir"
[ "$(stat -c %a "$dir/converted/c.wav")" = 600 ] || fail "the copy of a 0600 original is $(stat -c %a "$dir/converted/c.wav")"
copies_link_case
# A drop whose converted leads inside the folder it is in lets go of every folder it held, as one
# that found nothing does; and its failures go to standard error, nothing else there.
timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL_FDS="$work/fds" "$drop_program" "$work/nothing here" \
    </dev/null >/dev/null 2>&1 || true
nothing=$(cat "$work/fds")
ln -s sub "$dir/converted"
status=0
timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL_FDS="$work/fds" "$drop_program" "$dir" </dev/null \
    >"$work/stdout" 2>"$work/stderr" || status=$?
cp "$work/stderr" "$work/out" && ended 1
[ "$(cat "$work/fds")" -eq "$nothing" ] || fail "converted leading inside left $(cat "$work/fds") descriptors open, not $nothing"
! grep -q 'failed: ' "$work/stdout" && [ "$(grep -c '^\[.*\] failed: ' "$work/stderr")" -eq 2 ] &&
    ! grep -qv 'failed: ' "$work/stderr" || fail "failures on the wrong stream: $(cat "$work/stdout") // $(cat "$work/stderr")"
rm "$dir/converted"

# ---- A copy's bytes are on the disk before it takes its name ----
# The calls of each thread in the order it made them (strace, a file for each thread): after the
# last write of each temporary copy comes a flush (syncfs of the folder of copies, or fdatasync of
# the copy), and only then the copy's rename.
dir=$work/flushed expect=$work/flushed-expect originals=$work/flushed-originals
for i in $(seq 10 39); do add_file "a/$i.wav" 3000 && add_file "b/$i.wav" 3000; done
if command -v strace >/dev/null; then
    mkdir "$work/trace"
    # LeakSanitizer cannot work under ptrace, in the asan build.
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 timeout -k 5 60 strace -ff -qq \
        -e trace=openat,write,fdatasync,syncfs,renameat2,renameat -o "$work/trace/t" \
        "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 || fail "the traced drop: $(cat "$work/out")"
    (cd "$expect" && copies_exact $(find . -type f))
    renamed=$(for thread in "$work"/trace/t.*; do
        awk '/^openat\(.*"quoxel-[0-9]+-[0-9]+\.tmp", O_WRONLY/ { split($0, q, "\""); copy[$NF] = q[2]; next }
             /^write\(/ { fd = substr($0, 7) + 0; if (fd in copy) { written[copy[fd]] = 1; unflushed[copy[fd]] = 1 }; next }
             /^fdatasync\(.*= 0$/ { fd = substr($0, 11) + 0; if (fd in copy) delete unflushed[copy[fd]]; next }
             /^syncfs\(.*= 0$/ { for (name in unflushed) delete unflushed[name]; next }
             /^renameat2?\(.*"quoxel-[0-9]+-[0-9]+\.tmp"/ { split($0, q, "\""); name = q[2]
                 if (!(name in written) || (name in unflushed)) { print "renamed before its flush: " name > "/dev/stderr"; exit 1 }
                 ++renamed }
             END { print renamed + 0 }' "$thread" || fail "a copy took its name before it was on the disk"
    done | awk '{ n += $1 } END { print n }')
    [ "$renamed" -eq 60 ] || fail "$renamed renames of temporary copies traced, not 60"
    # The copies of a run of jobs are flushed together, and a run of small files holds far fewer
    # bytes than a run writes before it flushes: a flush for each run, and one at the end.
    per_run=$(sed -n 's/^constexpr std::size_t jobs_per_run = \([0-9]*\);/\1/p' "$(dirname "$0")/../drop/convert.cpp")
    flushes=$(cat "$work"/trace/t.* | grep -c '^syncfs(' || true)
    [ "$flushes" -le $(((60 + per_run - 1) / per_run + 1)) ] || fail "$flushes flushes of the file system for 60 copies"
else
    echo "drop-linux-test: no strace, so the order of the flushes and the renames is not checked"
fi

# ---- Few descriptors: a drop of many folders holds only what its files at work need ----
# With few, it runs fewer threads: no file fails for want of a descriptor that one thread had.
dir=$work/few expect=$work/few-expect originals=$work/few-originals
for i in $(seq 100 219); do add_file "d$i/a.wav" 100 && add_file "d$i/b.wav" 100; done
(ulimit -n 24 && QUOXEL_DROP_THREADS=8 drop "$dir" && echo "$status" >"$work/status")
status=$(cat "$work/status")
ended 0
(cd "$expect" && copies_exact $(find . -type f))

# ---- Folders swapped for links while a drop runs ----
# Someone swaps the folders of the originals, the folders of the copies and the folder of copies
# itself for links to folders outside the tree (renameat2 with RENAME_EXCHANGE), again and again,
# while drops of a few hundred files run: whatever the timing, nothing outside the tree is
# created, changed or removed, every copy under a final name is the exact copy of its original,
# and no temporary copy is left. Each file's name is its own in the whole tree, and the outside
# folders hold files of the same names with other bytes.
dir=$work/race expect=$work/race-expect originals=$work/race-originals outside=$work/race-outside
for d in 0 1 2 3 4 5 6 7; do
    for i in $(seq 10 49); do add_file "d$d/d$d-$i.wav" 3000; done
    mkdir -p "$outside/o$d" && for i in $(seq 10 49); do head -c 3000 /dev/urandom >"$outside/o$d/d$d-$i.wav"; done
    ln -s "$outside/o$d" "$dir/l$d" && ln -s "$outside/o$d" "$dir/c$d"
done
mkdir -p "$outside/oc" && ln -s "$outside/oc" "$dir/cc"
(cd "$outside" && find . -type f -exec md5sum {} + | sort) >"$work/outside.before"
(cd "$expect" && find . -name '*.wav' -exec md5sum {} +) | sed 's|  .*/|  |' | sort -k 2 >"$work/race.expected"
raced() {  # the drop, with `swap_folders` swapping PAIR... from before it starts, or from its lock on with "locked"
    rm -rf "$dir/converted" && mkdir -p "$dir/converted"
    for d in 0 1 2 3 4 5 6 7; do mkdir "$dir/converted/d$d"; done
    rm -f "$work/stop" "$pause"
    status=0
    if [ "$1" = locked ]; then
        shift
        (timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL=flock:1:pause QUOXEL_PAUSE="$pause" "$drop_program" "$dir" \
            </dev/null >"$work/out" 2>&1 || status=$?; echo "$status" >"$work/status") &
        within 60 paused || fail "the drop never came to its lock"
        "$swap_folders" "$work/stop" "$@" >"$work/swaps" &
        rm "$pause"
    else
        "$swap_folders" "$work/stop" "$@" >"$work/swaps" &
        (timeout -k 5 60 "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 || status=$?; echo "$status" >"$work/status") &
    fi
    until [ -e "$work/status" ]; do sleep 0.01; done
    : >"$work/stop"
    wait
    status=$(cat "$work/status") && rm "$work/status"
    case $status in 0 | 1) ;; *) fail "a raced drop ended with status $status: $(cat "$work/out")" ;; esac
    (cd "$outside" && find . -type f -exec md5sum {} + | sort) | cmp -s - "$work/outside.before" ||
        fail "a raced drop changed what is outside the tree: $(cat "$work/out")"
    (cd "$dir/converted" && find . -type f -name '*.wav' -exec md5sum {} +) | sed 's|  .*/|  |' | sort -k 2 |
        join -1 2 -2 2 -o 1.1,2.1,0 - "$work/race.expected" | awk '$1 != $2 { print "not exact: " $3; bad = 1 } END { exit bad }' ||
        fail "a raced drop kept a copy that is not its original's: $(cat "$work/out")"
    no_leftovers "$dir" && no_leftovers "$outside"
}
for round in 1 2 3; do
    raced "$dir/d0" "$dir/l0" "$dir/d3" "$dir/l3" "$dir/d5" "$dir/l5"
    raced "$dir/converted/d1" "$dir/c1" "$dir/converted/d4" "$dir/c4" "$dir/converted/d6" "$dir/c6"
    raced locked "$dir/converted" "$dir/cc"
done
# The same swaps at a moment made sure by a pause: "converted", a folder when the walk found it,
# made a link to a folder outside before the drop opens it (at its first mkdirat, that of
# converted), gets no copy through the link; a folder of originals made another folder before
# its files are converted (at the lock) fails as changed, and nothing for it is looked for in
# converted, where a file stands in the way of its copies' folder.
dir=$work/S expect=$work/S-expect originals=$work/S-originals outside=$work/S-outside
add_file a.wav 3000 && add_file sub/b.wav 3000
mkdir -p "$dir/converted" "$outside"
paused_at() {  # CALL ACTION: the drop, paused just before its first CALL while ACTION runs
    rm -f "$pause"
    (status=0 && timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL="$1:1:pause" QUOXEL_PAUSE="$pause" \
        "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 || status=$?; echo "$status" >"$work/status") &
    within 60 paused || fail "the drop never came to its first $1"
    $2
    rm "$pause"
    wait
    status=$(cat "$work/status")
}
linked() { rmdir "$dir/converted" && ln -s "$outside" "$dir/converted"; }
paused_at mkdirat linked
ended 1
numbered_line "failed: $dir/a.wav ($dir/converted is a link, not a folder)"
[ -z "$(ls -A "$outside")" ] || fail "copies made through a link swapped for converted: $(ls "$outside")"
another() { mv "$dir/sub" "$work/S-sub" && mkdir "$dir/sub" && mv "$work/S-sub/b.wav" "$dir/sub"; }
rm "$dir/converted" && mkdir "$dir/converted" && : >"$dir/converted/sub"
paused_at flock another
ended 1
numbered_line "failed: $dir/sub/b.wav (the folder $dir/sub changed during the drop: it is another folder now)"
rm "$dir/converted/sub" && copies_exact ./a.wav
no_leftovers "$dir"

# ---- Links: followed only where they lead beneath the folder given ----
# A link to a file is converted where it leads beneath the folder given, wherever the link is
# and however it is written (../x.wav, or a whole path into the tree); one that leads outside,
# into a folder of copies at any depth, or to a device, is skipped without anything of it being
# opened but folders; and a "converted" below the top is never followed, nor swept.
dir=$work/L expect=$work/L-expect originals=$work/L-originals outside=$work/L-outside
add_file in.wav 3000 && add_file sub/deep.wav 3000
mkdir -p "$outside/private" && chmod 700 "$outside/private"
echo SECRET-A >"$outside/private/a" && echo SECRET-B >"$outside/b" && chmod 640 "$outside/b"
ln -s "$outside/private/a" "$dir/a.wav" && ln -s ../../L-outside/b "$dir/sub/b.wav"
ln -s ../in.wav "$dir/sub/up.wav" && ln -s "$dir/sub/deep.wav" "$dir/whole.wav"
cp "$expect/in.wav" "$expect/sub/up.wav" && cp "$dir/in.wav" "$originals/sub/up.wav"
cp "$expect/sub/deep.wav" "$expect/whole.wav" && cp "$dir/sub/deep.wav" "$originals/whole.wav"
ln -s /dev/null "$dir/null.wav"
mkdir -p "$outside/theirs" && echo theirs >"$outside/theirs/quoxel-4000000000-1.tmp" && : >"$outside/theirs/quoxel-4000000000.lock"
ln -s "$outside/theirs" "$dir/sub/converted"
# A copy at the end of a path longer than the system names (PATH_MAX), reached through a link.
long=$(printf 'd%.0s' $(seq 1 200))
names() { for i in $(seq "$1" "$2"); do printf '%s%s/' "$long" "$i"; done; }
(mkdir -p "$dir/converted" && cd "$dir/converted" && ln -s "$(names 1 12)" way &&
    for i in $(seq 1 24); do mkdir "$long$i" && cd -P "$long$i" && { [ "$i" -ne 12 ] || ln -s "$(names 13 24)" on; }; done &&
    head -c 3000 /dev/urandom >deep.wav)
ln -s converted/way/on/deep.wav "$dir/copy.wav"
drop "$dir"
ended 0
for f in a.wav sub/b.wav null.wav; do said_line "skipped: $dir/$f (a link that leads outside the folder given)"; done
said_line "skipped: $dir/copy.wav (a link to a converted copy)"
said_line "not entered: $dir/sub/converted (a folder link)"
(cd "$dir/converted" && rm -r "$long"1 way) && rm "$dir/copy.wav"
copies_exact ./in.wav ./sub/deep.wav ./sub/up.wav ./whole.wav
[ "$(ls "$outside/theirs" | wc -l)" -eq 2 ] || fail "what a converted link below the top leads to changed: $(ls "$outside/theirs")"
! grep -rq SECRET "$dir/converted" || fail "a copy holds what is outside the tree"
# Each folder held on the way of a link is let go: the drop ends with what one that found nothing
# ends with (the fault injector counts the descriptors open at its end).
timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL_FDS="$work/fds" "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 ||
    fail "the drop again: $(cat "$work/out")"
[ "$(cat "$work/fds")" -eq "$nothing" ] || fail "a drop that followed links left $(cat "$work/fds") descriptors open, not $nothing"
# A link given by name is followed wherever it leads: its copy goes beside it.
drop "$dir/a.wav"
ended 0
numbered_line "converted: $dir/a.wav"
cp "$outside/private/a" "$work/a.expected" && "$tool" "$work/a.expected"
cmp -s "$dir/converted/a.wav" "$work/a.expected" || fail "the copy of a link given by name is not of what it leads to"
rm "$dir/converted/a.wav"
# Nothing behind a link to a device is ever opened, only the folders on its way (O_PATH).
if command -v strace >/dev/null; then
    rm -rf "$dir/converted"
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 timeout -k 5 60 strace -f -qq -e trace=openat,open \
        -o "$work/trace.null" "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 || fail "the traced drop: $(cat "$work/out")"
    ! grep '"null"' "$work/trace.null" | grep -v O_PATH | grep -q . || fail "a device was opened: $(grep '"null"' "$work/trace.null")"
fi

# ---- Another user's tree, dropped by root ----
# Someone who owns the tree makes "converted" a link to a folder that only root may write, or a
# folder of theirs; swaps regular files for links to root's files while root's drop reads them:
# nothing outside the tree is written, and no copy holds what only root may read.
if [ "$(id -u)" -eq 0 ] && id nobody >/dev/null 2>&1; then
    dir=$work/N expect=$work/N-expect originals=$work/N-originals outside=$work/N-outside
    add_file a.wav 3000
    mkdir -p "$outside/root-only" && chmod 700 "$outside/root-only"
    ln -s "$outside/root-only" "$dir/converted"
    chown -R -h nobody "$dir"
    drop "$dir"
    ended 1
    numbered_line "failed: $dir/a.wav ($dir/converted is a link that another user made; no copy is made there)"
    [ -z "$(ls -A "$outside/root-only")" ] || fail "root wrote into $outside/root-only through another user's link"
    rm "$dir/converted" && mkdir "$dir/converted" && chown nobody "$dir/converted" && chmod 2775 "$dir/converted"
    echo SECRET >"$outside/root-only/secret"
    for i in $(seq 100 224); do
        add_file "f$i.wav" 3000 && ln -s "$outside/root-only/secret" "$dir/l$i" && pairs="${pairs:-} $dir/f$i.wav $dir/l$i"
    done
    chown -R -h nobody "$dir"
    for round in 1 2 3; do
        rm -f "$work/stop" && find "$dir/converted" -type f -delete
        # shellcheck disable=SC2086 # one pair after another
        "$swap_folders" "$work/stop" $pairs >"$work/swaps" &
        status=0 && timeout -k 5 60 "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 || status=$?
        : >"$work/stop" && wait
        ! grep -rqs SECRET "$dir/converted" || fail "a copy holds root's file: $(grep -rls SECRET "$dir/converted")"
        for copy in "$dir"/converted/*.wav; do
            [ ! -e "$copy" ] || cmp -s "$copy" "$expect/${copy##*/}" || fail "${copy##*/} is not its original's copy"
        done
        no_leftovers "$dir"
    done
else
    echo "drop-linux-test: not root, or no user nobody, so root's drop over another user's tree is not tried"
fi

# ---- Files that another program writes while a drop reads them ----
# Where the file system keeps leases, a file held open to write fails, and the next drop converts
# it; one opened to write while it is read breaks the lease and gets no copy; and files rewritten
# whole again and again while drops run get only copies of one whole version each.
case $(stat -f -c %t "$work") in ef53 | 58465342 | 9123683e | 1021994) leases=yes ;; *) leases=no ;; esac
if [ "$leases" = yes ]; then
    dir=$work/W expect=$work/W-expect originals=$work/W-originals
    add_file held.wav 3000 && add_file other.wav 3000
    exec 3>>"$dir/held.wav"
    drop "$dir"
    exec 3>&-
    ended 1
    numbered_line "failed: $dir/held.wav (another program has it open to write; a later drop converts it)"
    drop "$dir"
    ended 0
    copies_exact ./held.wav ./other.wav
    # Rewritten whole, two versions in turn, while drops run.
    dir=$work/R
    mkdir -p "$dir"
    for i in $(seq 10 25); do
        head -c 200000 /dev/urandom >"$work/R-a$i" && head -c 200000 /dev/urandom >"$work/R-b$i"
        cp "$work/R-a$i" "$work/R-ca$i" && "$tool" "$work/R-ca$i" && cp "$work/R-b$i" "$work/R-cb$i" && "$tool" "$work/R-cb$i"
        cp "$work/R-a$i" "$dir/r$i.wav"
    done
    rm -f "$work/stop"
    (while [ ! -e "$work/stop" ]; do for i in $(seq 10 25); do cp "$work/R-b$i" "$dir/r$i.wav"; cp "$work/R-a$i" "$dir/r$i.wav"; done; done) &
    for round in 1 2 3 4 5 6; do
        rm -rf "$dir/converted"
        status=0 && timeout -k 5 60 "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 || status=$?
        case $status in 0 | 1) ;; *) fail "a drop of files being written ended with $status: $(cat "$work/out")" ;; esac
        for i in $(seq 10 25); do
            copy=$dir/converted/r$i.wav
            [ ! -e "$copy" ] || cmp -s "$copy" "$work/R-ca$i" || cmp -s "$copy" "$work/R-cb$i" ||
                fail "r$i.wav's copy is of no one version of it"
        done
        no_leftovers "$dir"
    done
    : >"$work/stop" && wait
else
    echo "drop-linux-test: $work is on a file system that keeps no leases, so files being written are not tried"
fi
# On btrfs, whose leases the kernel keeps too, a file held open to write fails as well: on an
# image of it, where one can be mounted.
if [ "$(id -u)" -eq 0 ] && command -v mkfs.btrfs >/dev/null &&
    (ulimit -S -f unlimited && truncate -s 128M "$work/btrfs.image" && mkfs.btrfs -q "$work/btrfs.image" >/dev/null 2>&1) &&
    loop=$(losetup -f --show "$work/btrfs.image" 2>/dev/null) &&
    mkdir "$work/btrfs" && mount "$loop" "$work/btrfs" 2>/dev/null; then
    dir=$work/btrfs/W expect=$work/B-expect originals=$work/B-originals
    add_file held.wav 3000
    exec 3>>"$dir/held.wav"
    drop "$dir"
    exec 3>&-
    ended 1
    numbered_line "failed: $dir/held.wav (another program has it open to write; a later drop converts it)"
    umount "$work/btrfs" && losetup -d "$loop" && loop=
else
    echo "drop-linux-test: no btrfs image mounted (it needs root, a loop device and mkfs.btrfs), so leases are not tried there"
fi

# ---- Folders of copies as private as their originals ----
# Each mirror folder takes its original's permission bits less the umask, and converted those of
# the folder given; a folder whose bits would stop the drop writing in it gets them once its
# copies are in.
dir=$work/M expect=$work/M-expect originals=$work/M-originals
add_file private/p.wav 3000 && add_file shut/s.wav 3000 && add_file open/o.wav 3000
chmod 700 "$dir/private" && chmod 555 "$dir/shut" && chmod 750 "$dir"
drop "$dir"
ended 0
[ "$(stat -c %a "$dir/converted" "$dir/converted/private" "$dir/converted/shut" "$dir/converted/open")" = "750
700
555
775" ] || fail "the modes of the folders of copies: $(stat -c '%n %a' "$dir/converted" "$dir/converted"/*)"
chmod 755 "$dir/converted/shut" "$dir/shut"
copies_exact ./private/p.wav ./shut/s.wav ./open/o.wav

# ---- A file and the folders that hold it, given by relative paths and other spellings ----
folders_case
(cd "$dir/sub" && rm -rf ../converted && drop b.wav .. && echo "$status" >"$work/status")
status=$(cat "$work/status")
ended 0
[ ! -e "$dir/sub/converted" ] || fail "b.wav converted twice, also into sub/converted"
copies_exact ./a.wav ./sub/b.wav ./sub/c.wav
(cd "$dir/sub" && drop nothere.wav)  # a name that is not there, named by its whole path
said_line "failed: $dir/sub/nothere.wav ($missing_text)"
drop "$dir/" "$dir/./sub/../sub/b.wav"
found "3 WAV files in 2 folders"
said_line "0 converted, 3 skipped, 0 failed."

forms_case
versions_case

order_case
end_case
words_case

# ---- Closed standard descriptors ----
# closed_case: with standard input, output or error closed, or both outputs, no line is written
# into a copy or anywhere in converted: the files that convert get exact copies, the others none.
closed_case() {
    dir=$work/C expect=$work/C-expect originals=$work/C-originals
    for i in $(seq 100 199); do add_file "$i.wav" 2000 && add_file "short $i.wav" 2; done
    copies=$(cd "$expect" && find . -type f -size +1k | LC_ALL=C sort)
    for closing in '>&- 2>/dev/null' '2>&- >/dev/null' '>&- 2>&-' '<&- >/dev/null 2>&1'; do
        rm -rf "$dir/converted"
        drop_closing "$closing" "$(p "$dir")"
        ended 1
        # shellcheck disable=SC2086 # one path per line
        (IFS='
'; copies_exact $copies) || fail "with $closing"
    done
}
closed_case
# What holds the closed descriptors' places at the end of a run: /dev/null, as in a run with all
# three open, and no file of its own.
timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL_FDS="$work/fds" "$drop_program" "$dir" </dev/null >/dev/null 2>&1 || true
fds=$(cat "$work/fds")
timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL_FDS="$work/fds" "$drop_program" "$dir" <&- >&- 2>&- || true
[ "$(cat "$work/fds")" -eq "$fds" ] || fail "closed descriptors: $(cat "$work/fds") open at the end, not $fds"
# A drop that held folders and made copies ends with what a drop that found nothing ends with.
timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL_FDS="$work/fds" "$drop_program" "$work/nothing here" \
    </dev/null >/dev/null 2>&1 || true
rm -rf "$dir/converted"
nothing=$(cat "$work/fds")
timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL_FDS="$work/fds" "$drop_program" "$dir" </dev/null >/dev/null 2>&1 || true
[ "$(cat "$work/fds")" -eq "$nothing" ] || fail "a drop ends with $(cat "$work/fds") descriptors open, not $nothing"

full_case
said "] failed: $dir/big.wav (cannot write the copy: File too large)"
# A temporary copy that cannot be removed after its write failed stays, and its line says why,
# with the removal's own error; the next drop removes it and says so.
(trap '' XFSZ && ulimit -S -f 1024 && timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL=unlinkat:1:EACCES \
    "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 || true)
grep -qE "^\[1/1\] failed: $dir/big\.wav \(cannot write the copy: File too large; the temporary copy $dir/converted/quoxel-[0-9]+-[0-9]+\.tmp stays: Permission denied\)$" \
    "$work/out" || fail "a temporary copy that stays: $(cat "$work/out")"
drop "$dir"
said "removed: $dir/converted/quoxel-"
no_leftovers "$dir"

killed_case

changed_case

stopped_case INT:130 TERM:143

# ---- Output closed early: the conversion goes on to the end ----
dir=$work/closed
mkdir -p "$dir"
head -c 40000000 /dev/urandom | (cd "$dir" && split -b 20000 -a 3 --additional-suffix=.wav - f)
# (Each status is caught with ||: set -e would end the subshell before it is written.)
first=$( (status=0 && timeout -k 5 60 "$drop_program" "$dir" </dev/null 2>&1 || status=$?; echo "$status" >"$work/status") |
    head -n 1)
case $first in "Found 2000 WAV files in 1 folder; converting "*) ;; *) fail "the first line was: $first" ;; esac
[ "$(cat "$work/status")" -eq 0 ] || fail "a closed output ended the run with status $(cat "$work/status")"
[ "$(find "$dir/converted" -type f | wc -l)" -eq 2000 ] || fail "a closed output stopped the conversion"
no_leftovers "$dir"
rm -rf "$dir"

# ---- Four runs at once on one folder ----
concurrent_case 4 300 0
# That moment made long: a run's first lock waits, paused by the fault injector, while another
# process holds its new lock file as a run does to see whether its maker is still at work; the
# holder lets go only once the kernel shows the run's lock waiting behind its own (/proc/locks),
# so the run is seen to wait for it, or once the run has ended without waiting.
rm -rf "$dir/converted" "$work/status"
(status=0 && timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL=flock:1:pause QUOXEL_PAUSE="$pause" \
    "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 || status=$?; echo "$status" >"$work/status") &
within 60 paused || fail "the run never came to its lock"
lock=$(find "$dir/converted" -name 'quoxel-*.lock')
[ -n "$lock" ] || fail "the run made no lock file"
flock -x "$lock" sh -c 'rm "$1" && until grep -q "^[0-9]*: -> FLOCK .*:$2 " /proc/locks || [ -e "$3" ]; do
    sleep 0.01; done' sh "$pause" "$(stat -c %i "$lock")" "$work/status"
wait
status=$(cat "$work/status")
ended 0
(cd "$expect" && copies_exact $(find . -type f))
# The new lock file lost meanwhile, as to a drop that took it for a dead drop's: the run makes
# another, and leaks no descriptor (the fault injector counts those open at its end).
rm -rf "$dir/converted"
timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL_FDS="$work/fds" "$drop_program" "$dir" </dev/null >/dev/null 2>&1
fds=$(cat "$work/fds")
rm -rf "$dir/converted"
(status=0 && timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL=flock:1:pause QUOXEL_PAUSE="$pause" \
    QUOXEL_FAIL_FDS="$work/fds" "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 || status=$?
    echo "$status" >"$work/status") &
within 60 paused || fail "the run never came to its lock"
rm "$(find "$dir/converted" -name 'quoxel-*.lock')" "$pause"
wait
status=$(cat "$work/status")
ended 0
[ "$(cat "$work/fds")" -eq "$fds" ] || fail "a lost lock file leaked a descriptor: $(cat "$work/fds") open, not $fds"
(cd "$expect" && copies_exact $(find . -type f))
# Files that the walk found and that are something else by the time their copies start: a FIFO
# is no file to convert, and a link is followed by hand, as the walk follows one: to outside the
# folder given, it gives no copy.
rm -rf "$dir/converted"
f=$(cd "$dir" && ls | grep -m 1 '\.wav$') g=$(cd "$dir" && ls | grep '\.wav$' | sed -n 2p)
(status=0 && timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL=flock:1:pause QUOXEL_PAUSE="$pause" \
    "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 || status=$?
    echo "$status" >"$work/status") &
within 60 paused || fail "the run never came to its lock"
mv "$dir/$f" "$work/$f" && mv "$dir/$g" "$work/$g"
mkfifo "$dir/$f" && echo SECRET >"$work/secret" && ln -s "$work/secret" "$dir/$g"
rm "$pause"
wait
status=$(cat "$work/status")
ended 0
numbered_line "skipped: $dir/$f (not a regular file)"
numbered_line "skipped: $dir/$g (a link that leads outside the folder given)"
[ ! -e "$dir/converted/$f" ] && [ -p "$dir/$f" ] || fail "a FIFO met as a file: $(ls -l "$dir/converted/$f")"
[ ! -e "$dir/converted/$g" ] || fail "a link to outside met as a file: $(ls -l "$dir/converted/$g")"
no_leftovers "$dir"
rm "$dir/$f" "$dir/$g" && mv "$work/$f" "$dir/$f" && mv "$work/$g" "$dir/$g"

# ---- Temporary copies: a dead drop's go, in the order of their names, a live drop's and a user's file stay ----
# So does the lock of a dead drop that left no temporary copy.
dir=$work/sweep expect=$work/sweep-expect originals=$work/sweep-originals
add_file a.wav 3000
mkdir -p "$dir/converted"
: >"$dir/converted/quoxel-100.lock" && : >"$dir/converted/quoxel-400000011.lock"
for i in 7 2 10 5 1 9 3 8 4 6; do echo dead >"$dir/converted/quoxel-40000000$i-1.tmp"; done
echo live >"$dir/converted/quoxel-100-1.tmp"  # listed before every dead one
echo mine >"$dir/converted/quoxel-12-3x.tmp"  # a user's file, no temporary copy
listed=$(ls -U "$dir/converted" | grep '^quoxel-4')
[ "$listed" != "$(echo "$listed" | LC_ALL=C sort)" ] ||
    echo "drop-linux-test: this file system lists names in their order, so the order of the removed lines shows nothing"
# The live drop's lock is held until the run has ended.
held=$work/held
holding() { [ -e "$held" ]; }
flock -x "$dir/converted/quoxel-100.lock" sh -c ': >"$1" && while [ -e "$1" ]; do sleep 0.01; done' sh "$held" &
within 60 holding || fail "the live drop's lock is not held"
drop "$dir"
rm "$held"
wait
ended 0
sed -n 's/^removed: .*\/\(quoxel-[0-9-]*\.tmp\) (a temporary copy left by a drop that was closed or stopped)$/\1/p' "$work/out" >"$work/removed"
[ "$(cat "$work/removed")" = "$(for i in 1 10 2 3 4 5 6 7 8 9; do echo "quoxel-40000000$i-1.tmp"; done)" ] &&
    [ -f "$dir/converted/quoxel-100-1.tmp" ] && [ -f "$dir/converted/quoxel-12-3x.tmp" ] &&
    [ -f "$dir/converted/quoxel-100.lock" ] && [ ! -e "$dir/converted/quoxel-400000011.lock" ] ||
    fail "the sweep of temporary copies: $(cat "$work/out"); left: $(ls "$dir/converted")"
# Leftovers swapped for links just before the sweep (the drop paused at its first mkdir, that of
# converted) are no temporary copies: they stay, and no line says they were removed. A link at
# the name of the drop's own lock gets a line that says what is there, and no copy is made.
rm -rf "$dir/converted" && mkdir "$dir/converted"
for i in 1 2 3; do echo dead >"$dir/converted/quoxel-40000000$i-1.tmp"; done
(status=0 && timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL=mkdirat:1:pause QUOXEL_PAUSE="$pause" \
    "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 || status=$?; echo "$status" >"$work/status") &
within 60 paused || fail "the drop never came to its first mkdir"
for i in 1 2 3; do ln -sf "$work/sweep-target" "$dir/converted/quoxel-40000000$i-1.tmp"; done
pid=$(cat "$pause") && ln -s "$work/sweep-target" "$dir/converted/quoxel-$pid.lock"
rm "$pause"
wait
status=$(cat "$work/status")
ended 1
! grep -q '^removed:' "$work/out" || fail "links said to be removed: $(cat "$work/out")"
[ "$(find "$dir/converted" -type l | wc -l)" -eq 4 ] || fail "the links in converted: $(ls -l "$dir/converted")"
numbered_line "failed: $dir/a.wav ($dir/converted/quoxel-$pid.lock is a link, where this drop keeps its lock; no copy is made there)"
# A leftover that another file takes the place of between its check and its removal (the drop
# paused at its first unlinkat): the other file goes with the name, which nothing can stop, but
# no line says that a temporary copy was removed.
rm -rf "$dir/converted" && mkdir "$dir/converted" && echo dead >"$dir/converted/quoxel-400000001-1.tmp"
(status=0 && timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL=unlinkat:1:pause QUOXEL_PAUSE="$pause" \
    "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 || status=$?; echo "$status" >"$work/status") &
within 60 paused || fail "the drop never came to its first unlinkat"
mv "$dir/converted/quoxel-400000001-1.tmp" "$work/taken" && echo other >"$dir/converted/quoxel-400000001-1.tmp"
rm "$pause"
wait
status=$(cat "$work/status")
ended 0
! grep -qi 'removed' "$work/out" || fail "another file said to be a temporary copy removed: $(cat "$work/out")"

# ---- A failure of each file call the conversion makes ----
# Each call is failed in turn, from the first to the last that a run makes (the fault injector
# counts them): a run either ends well with exact copies, or names a failure and ends with status
# 1, naming each folder it could not make by its own path, each failure with the error that
# caused it; it never leaves a temporary copy, a lock file or a descriptor open, and never changes
# an original.
dir=$work/faults expect=$work/faults-expect originals=$work/faults-originals
add_file a.wav 3000 && add_file sub/b.wav 3000
faulty() {  # CALL N: the run, with the Nth call of CALL failing
    rm -rf "$dir/converted"
    status=0
    timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL="$1:$2:EIO" QUOXEL_FAIL_CALLS="$work/calls" \
        QUOXEL_FAIL_FDS="$work/fds" QUOXEL_DROP_THREADS=1 "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 || status=$?
}
for call in openat read write close mkdirat flock syncfs renameat2 fstat; do
    faulty "$call" 1000000
    ended 0
    calls=$(cat "$work/calls") failed=0 fds=$(cat "$work/fds")
    [ "$calls" -gt 0 ] || fail "a run makes no call of $call"
    for n in $(seq 1 "$calls"); do
        faulty "$call" "$n"
        [ "$(cat "$work/fds")" -eq "$fds" ] || fail "$call $n left $(cat "$work/fds") descriptors open, not $fds: $(cat "$work/out")"
        case $status in
        0) copies_exact ./a.wav ./sub/b.wav ;;
        1) echo "$call $n" >"$work/which" && said "failed: " &&
            { ! grep -qF 'the folder converted/:' "$work/out" || fail "$call $n: $(cat "$work/out")"; } &&
            { ! grep -E '^(\[[0-9]+/[0-9]+\] )?failed: ' "$work/out" | grep -qvF 'Input/output error' ||
                fail "$call $n: a failure that does not say its error: $(cat "$work/out")"; } &&
            failed=$((failed + 1)) && no_leftovers "$dir" && find "$dir/converted" -type f -name '*.wav' 2>/dev/null |
            while IFS= read -r copy; do cmp -s "$copy" "$expect/${copy#"$dir/converted/"}" || fail "$copy is not whole"; done ;;
        *) fail "$call $n of $calls: status $status: $(cat "$work/out")" ;;
        esac
    done
    [ "$failed" -gt 0 ] || fail "no failure of $call is reported"
done
# A fault's own words: the error of the call that failed, at the step it failed (here the
# second mkdirat, of converted/sub, and the lock).
for fault in "mkdirat:2:EIO|\\[[12]/2\\] failed: $dir/sub/b\\.wav \\(cannot make the folder converted/sub: Input/output error\\)" \
    "flock:1:ENOLCK|\\[[12]/2\\] failed: $dir/a\\.wav \\(cannot lock $dir/converted/quoxel-[0-9]+\\.lock: No locks available\\)"; do
    rm -rf "$dir/converted"
    status=0
    timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL="${fault%%|*}" QUOXEL_DROP_THREADS=1 "$drop_program" "$dir" \
        </dev/null >"$work/out" 2>&1 || status=$?
    ended 1
    grep -qxE "${fault#*|}" "$work/out" || fail "${fault%%|*}: $(cat "$work/out")"
    no_leftovers "$dir"
done
# An interrupted call (a signal on a FUSE or network mount) is made again: once, and on every call
# of the run.
rm -rf "$dir/converted"
timeout -k 5 60 "$drop_program" "$dir" </dev/null >"$work/uninterrupted" 2>&1 || fail "$(cat "$work/uninterrupted")"
for interrupted in read:1:EINTR write:1:EINTR read:1+:EINTR write:1+:EINTR; do
    rm -rf "$dir/converted"
    timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL=$interrupted "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 ||
        fail "$interrupted: $(cat "$work/out")"
    said_line "2 converted, 0 skipped, 0 failed."  # and every line of it, as without the signal
    cmp -s "$work/out" "$work/uninterrupted" || fail "$interrupted: lines lost: $(cat "$work/out")"
    copies_exact ./a.wav ./sub/b.wav
done
# Where a file system refuses RENAME_NOREPLACE, a second link and the removal of the first name.
timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL=renameat2:1+:EINVAL "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 ||
    fail "without RENAME_NOREPLACE: $(cat "$work/out")"
rm -rf "$dir/converted"
timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL=renameat2:1+:EINVAL "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 ||
    fail "without RENAME_NOREPLACE: $(cat "$work/out")"
copies_exact ./a.wav ./sub/b.wav

# A folder that cannot be listed is named, and the walk goes on to the folders after it.
dir=$work/unlisted expect=$work/unlisted-expect originals=$work/unlisted-originals
add_file a/x.wav 3000 && add_file b/y.wav 3000
status=0
timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL=openat:2:EACCES "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 ||
    status=$?
ended 1
said_line "failed: $dir/a (cannot list the folder: Permission denied)"
said "] converted: $dir/b/y.wav"

# ---- The options, and the wait for Enter in a terminal ----
drop --version && ended 0 && said_line "quoxel-drop $(sed -n 's/^project(quoxel VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../CMakeLists.txt")"
drop --help && ended 0 && said "usage: quoxel-drop [--wait] [--list] FILE-OR-FOLDER..."
drop && ended 1 && [ "$(cat "$work/out")" = "usage: quoxel-drop [--wait] [--list] FILE-OR-FOLDER..." ] || fail "no usage: $(cat "$work/out")"
drop --bogus "$dir" && ended 1 && said_line "quoxel-drop: unknown option --bogus"
mkdir "$work/-dash" && head -c 3000 /dev/urandom >"$work/-dash/d.wav"
(cd "$work" && drop -- -dash && echo "$status" >"$work/status")
status=$(cat "$work/status") && ended 0 && [ -f "$work/-dash/converted/d.wav" ] || fail "a folder named -dash after --"
nothing_case "right-click a folder or WAV files in your file manager" --wait
drop --wait "$dir" && ended 0  # no terminal: no wait
! grep -q 'Press Enter' "$work/out" || fail "waited without a terminal"
if command -v script >/dev/null; then
    rm -rf "$dir/converted"
    # In a terminal: with --wait it waits for the Enter that is typed, and without it never asks.
    (sleep 2 && printf '\n') | timeout -k 5 30 script -qec "'$drop_program' --wait '$dir'" /dev/null >"$work/out" 2>&1 ||
        fail "the wait for Enter: $(cat "$work/out")"
    said "Press Enter to close this window."
    printf '\n' | timeout -k 5 30 script -qec "'$drop_program' --wait" /dev/null >"$work/out" 2>&1 ||
        fail "nothing to convert, in a terminal: $(cat "$work/out")"
    said "Nothing to convert: no file or folder was given." && said "Press Enter to close this window."
    timeout -k 5 30 script -qec "'$drop_program' '$dir'" /dev/null </dev/null >"$work/out" 2>&1 || fail "$(cat "$work/out")"
    ! grep -q 'Press Enter' "$work/out" || fail "waited without --wait"

    # ---- What a person sees in a terminal ----
    # The folder given named once; then the progress in one row redrawn in place, never
    # into the window's last column, and a row only for what needs the person, named from the
    # folder given: a failure, a copy made again, a link that leads outside. Files converted or
    # skipped as expected (a FIFO among them) are counted, not listed; --list lists them, as a pipe
    # gets them.
    dir="$work/T/Game Sound" expect=$work/T-expect originals=$work/T-originals
    for i in $(seq 100 399); do add_file "voices/v$i.wav" 300; done
    add_file short.wav 2 && add_file cut.wav 3000
    ln -s "$work/outside/outside.wav" "$dir/out.wav" && mkfifo "$dir/pipe.wav"
    mkdir -p "$dir/converted" && head -c 10 "$expect/cut.wav" >"$dir/converted/cut.wav"
    in_terminal() {  # ARG...: the drop in a terminal (80 columns, as a pty of no size says), its screen in $work/out
        status=0
        timeout -k 5 60 script -qec "$(printf "'%s' " "$drop_program" "$@")" /dev/null </dev/null >"$work/screen" 2>&1 || status=$?
        tr '\r' '\n' <"$work/screen" | sed 's/ *$//' | grep -v '^$' >"$work/out"
    }
    in_terminal "$dir"
    ended 1
    # The folder's path is whole when the row has room, else its start and end around a "…" (a
    # build tree's deep folder does not fit), never past the window's last column.
    first=$(head -n 1 "$work/out") path=${first#"Converting the WAV files in Game Sound ("} path=${path%")"}
    case $path in
        "$dir") ;;
        *…*) case $dir in "${path%%…*}"*"${path#*…}") ;; *) fail "the folder given, elided: $first" ;; esac ;;
        *) fail "the folder given: $(cat "$work/out")" ;;
    esac
    [ "$first" != "$path" ] && [ "$(printf '%s' "$first" | LC_ALL=C.UTF-8 wc -L)" -le 79 ] || fail "the folder given: $first"
    said_line "failed: Game Sound/short.wav (shorter than 4 bytes, so there is nothing to convert)"
    said_line "converted: Game Sound/cut.wav (its copy was 10 of 3,000 bytes; made again)"
    said_line "skipped: Game Sound/out.wav (a link that leads outside the folder given)"
    said_line "    Game Sound/short.wav"  # the end, named the same way
    said_line "Copies are in $dir/converted"
    said_line "301 converted, 2 skipped, 1 failed."
    ! grep -qE '^\[|converted: Game Sound/voices|\] |^(removed|not entered): |pipe\.wav' "$work/out" ||
        fail "rows that need nobody: $(cat "$work/out")"
    total=$(sed -n 's/^Found \([0-9]*\) WAV files.*/\1/p' "$work/out")
    grep -qE "^[0-9]+/$total files  [0-9]+%" "$work/out" && grep -qxE "$total/$total files  100%.*" "$work/out" ||
        fail "no progress row: $(cat "$work/out")"
    tr '\r' '\n' <"$work/screen" | grep -E '^[0-9]+/[0-9]+ files' | while IFS= read -r row; do
        [ "$(printf '%s' "$row" | LC_ALL=C.UTF-8 wc -L)" -le 79 ] || fail "a progress row of $(printf '%s' "$row" | wc -L) columns: $row"
    done
    in_terminal "$dir"  # a second drop: the skipped are counted alone
    said_line "0 converted, 303 skipped, 1 failed."
    ! grep -q '^skipped: Game Sound/voices' "$work/out" || fail "skipped files listed: $(cat "$work/out")"
    in_terminal --list "$dir"
    said "] skipped: $dir/voices/v100.wav (already converted: converted/voices/v100.wav exists)"
    ! grep -q 'files  [0-9]*%' "$work/out" || fail "a progress row with --list: $(cat "$work/out")"
    # A drop that stands still (the fault injector pauses it at its second rename, on one thread)
    # says in its row how far it has got: none of its files ended, the bytes of those read so far.
    rm -rf "$dir/converted" "$work/screen"
    (timeout -k 5 60 script -qec "env LD_PRELOAD='$preload' QUOXEL_FAIL=renameat2:2:pause QUOXEL_PAUSE='$pause' \
        QUOXEL_DROP_THREADS=1 '$drop_program' '$dir'" /dev/null </dev/null >"$work/screen" 2>&1 || true) &
    within 60 paused || fail "the drop never came to its second rename"
    so_far() { tr '\r' '\n' <"$work/screen" | grep -qE "^0/$total files  0%  [1-9]"; }
    within 60 so_far || fail "no row of how far it has got: $(tr '\r' '\n' <"$work/screen")"
    rm "$pause"
    wait
else
    echo "drop-linux-test: no script(1), so the wait and the rows in a terminal are not tested"
fi
echo "drop-linux-test: trees mirrored into converted, every copy exact and made once, failures named, nothing left behind"
