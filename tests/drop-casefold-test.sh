#!/bin/sh
# drop-casefold-test.sh DROP PRELOAD TOOL: quoxel-drop writing its copies to a case-insensitive mount, as an SD
# card or a shared drive is: an exFAT image mounted through FUSE, which also has neither
# RENAME_NOREPLACE nor links. Names that the mount folds into one, by letter case or in another
# script, must give one copy and the case-twin line, never "already converted"; a second run says
# the same. There each file call is failed in turn (PRELOAD, the fault injector), the rename under
# the folder's lock included: a run ends well or names a failure, and never leaves a temporary
# copy or a copy that is not whole. Needs root, a loop device, mkfs.exfat and mount.exfat-fuse; without them it says so
# and ends with status 77, which CTest reports as skipped.
set -eu
drop_program=$1 preload=$2 tool=$3  # TOOL converts the expected copies
. "$(dirname "$0")/common.sh"
ulimit -S -f 65536

skip() { echo "drop-casefold-test: skipped: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "not root, so no image can be mounted"
for program in losetup mkfs.exfat mount.exfat-fuse; do
    command -v "$program" >/dev/null || skip "no $program (packages mount, exfatprogs, exfat-fuse)"
done

work=$(mktemp -d)
device= mounted=
cleanup() {
    [ -z "$mounted" ] || umount "$work/mount" || umount -l "$work/mount" || true
    [ -z "$device" ] || losetup -d "$device" || true
    rm -rf "$work"
}
trap cleanup EXIT
truncate -s 32M "$work/image"
mkfs.exfat "$work/image" >/dev/null 2>&1 || skip "mkfs.exfat cannot make an image here"
device=$(losetup -f --show "$work/image" 2>/dev/null) || skip "no loop device"
mkdir "$work/mount"
mount.exfat-fuse "$device" "$work/mount" >/dev/null 2>&1 || skip "FUSE cannot mount here"
mounted=yes
mkdir "$work/mount/copies"
touch "$work/mount/copies/A" && [ -e "$work/mount/copies/a" ] && rm "$work/mount/copies/A" || fail "the mount tells case"

# The originals on this case-sensitive file system, their copies on the mount.
tree=$work/T
mkdir -p "$tree/Sub" "$tree/sub"
for f in Sub/x.wav sub/x.wav A.wav a.wav É.wav é.wav plain.wav; do head -c 3000 /dev/urandom >"$tree/$f"; done
ln -s "$work/mount/copies" "$tree/converted"
twin_why='is the copy of a file whose path differs only in letter case, and converted cannot hold both'

for round in 1 2; do
    status=0
    timeout -k 5 60 "$drop_program" "$tree" </dev/null >"$work/out" 2>&1 || status=$?
    [ "$status" -eq 1 ] || fail "round $round: status $status: $(cat "$work/out")"
    for pair in "Sub/x.wav sub/x.wav" "A.wav a.wav" "É.wav é.wav"; do
        set -- $pair
        # One of the pair has the copy (converted in the first round, skipped in the second); the
        # other gets the twin's line, never "already converted".
        made=$(grep -cE "\] (converted|skipped): $tree/($1|$2) ?" "$work/out" || true)
        twins=$(grep -cF -e "] failed: $tree/$1 (converted/$1 $twin_why)" -e "] failed: $tree/$2 (converted/$2 $twin_why)" "$work/out" || true)
        [ "$made" -eq 1 ] && [ "$twins" -eq 1 ] || fail "round $round, $1 and $2: $(cat "$work/out")"
    done
    [ "$round" -eq 2 ] || grep -qF "] converted: $tree/plain.wav" "$work/out" || fail "plain.wav: $(cat "$work/out")"
    [ -z "$(find "$work/mount/copies" -name 'quoxel-*')" ] || fail "left behind: $(find "$work/mount/copies" -name 'quoxel-*')"
done
[ "$(cd "$work/mount/copies" && find . -type f | wc -l)" -eq 4 ] || fail "the mount holds: $(find "$work/mount/copies")"
cat "$work/out"

# No twin at all: sub/z.wav's copy lands in the folder Sub that x.wav's copy made, as the mount
# folds the names, and is found there as its own copy in every later run.
tree=$work/F
mkdir -p "$tree/Sub" "$tree/sub" "$work/mount/F"
head -c 3000 /dev/urandom >"$tree/Sub/x.wav" && head -c 3000 /dev/urandom >"$tree/sub/z.wav"
ln -s "$work/mount/F" "$tree/converted"
for round in 1 2; do
    status=0
    timeout -k 5 60 "$drop_program" "$tree" </dev/null >"$work/out" 2>&1 || status=$?
    [ "$status" -eq 0 ] || fail "no twin, round $round: status $status: $(cat "$work/out")"
done
sed 's/^\[[0-9]*\/2\] //' "$work/out" | grep -qxF "skipped: $tree/sub/z.wav (already converted: converted/sub/z.wav exists)" ||
    fail "no twin, round 2: $(cat "$work/out")"
cmp -s "$work/mount/F/Sub/z.wav" "$tree/sub/z.wav" && fail "z.wav's copy is not converted"
[ "$(find "$work/mount/F" -type f | wc -l)" -eq 2 ] || fail "the mount holds: $(find "$work/mount/F")"
echo "drop-casefold-test: names that the mount folds into one get one copy and the case-twin line"

# ---- A failure of each file call, with the copies on the mount ----
dir=$work/faults expect=$work/faults-expect originals=$work/faults-originals
mkdir -p "$work/mount/faults"
add_file a.wav 3000 && add_file sub/b.wav 3000
ln -s "$work/mount/faults" "$dir/converted"
faulty() {  # CALL N ERROR: the run, with the Nth call of CALL failing with ERROR
    find "$work/mount/faults" -mindepth 1 -delete
    status=0
    timeout -k 5 60 env LD_PRELOAD="$preload" QUOXEL_FAIL="$1:$2:$3" QUOXEL_FAIL_CALLS="$work/calls" QUOXEL_DROP_THREADS=1 \
        "$drop_program" "$dir" </dev/null >"$work/out" 2>&1 || status=$?
}
# The folder's open for its lock fails as a full descriptor table does.
for fault in openat:EMFILE read:EIO write:EIO fdatasync:EIO close:EIO flock:EIO renameat2:EIO linkat:EIO renameat:EIO; do
    call=${fault%:*} error=${fault#*:}
    faulty "$call" 1000000 "$error"
    [ "$status" -eq 0 ] || fail "$call: status $status: $(cat "$work/out")"
    calls=$(cat "$work/calls") failed=0
    [ "$calls" -gt 0 ] || fail "a run makes no call of $call"
    for n in $(seq 1 "$calls"); do
        faulty "$call" "$n" "$error"
        case $status in
        0) (cd "$work/mount/faults" && [ "$(find . -type f | sort)" = "$(printf './a.wav\n./sub/b.wav')" ]) &&
            cmp -s "$work/mount/faults/a.wav" "$expect/a.wav" && cmp -s "$work/mount/faults/sub/b.wav" "$expect/sub/b.wav" ||
            fail "$call $n of $calls: $(cat "$work/out"); the mount holds $(find "$work/mount/faults")" ;;
        1) grep -qE '^(\[[0-9]+/[0-9]+\] )?failed: ' "$work/out" || fail "$call $n of $calls: no failure named: $(cat "$work/out")"
           failed=$((failed + 1)) ;;
        *) fail "$call $n of $calls: status $status: $(cat "$work/out")" ;;
        esac
        [ -z "$(find "$work/mount/faults" -name 'quoxel-*')" ] || fail "$call $n of $calls left $(find "$work/mount/faults" -name 'quoxel-*')"
    done
    [ "$failed" -gt 0 ] || fail "no failure of $call is reported"
done
echo "drop-casefold-test: each file call failed in turn on the mount, the locked rename's included"
