#!/bin/sh
# drop-casefold-test.sh DROP PRELOAD TOOL: quoxel-drop writing its copies to a case-insensitive mount, as an SD
# card or a shared drive is: an exFAT image mounted through FUSE, which also has neither
# RENAME_NOREPLACE nor links. Names that the mount folds into one, by letter case or in another
# script, must give one copy and the case-twin line, never "already converted"; a second run says
# the same, and so does every pair of letters in Unicode's data that the mount folds, while names
# that it keeps apart get two copies. There each file call is failed in turn (PRELOAD, the fault injector), the rename under
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

# The originals on this case-sensitive file system, their copies on the mount. Pairs of names
# that the mount folds into one, in ASCII, Latin-1 and the scripts beyond (Ukrainian, Kazakh,
# Greek with tonos and final sigma, Romanian, Tajik); and pairs that it keeps apart: two that the
# drop folds, as Unicode does (the Kelvin sign and k, capital and small sharp s), and two that
# it keeps apart too (dotted I and dotless i; U+03A2, which is no letter, and final sigma).
tree=$work/T
folded="Sub/x.wav:sub/x.wav A.wav:a.wav É.wav:é.wav Ґанок.wav:ґанок.wav Ә.wav:ә.wav Ά.wav:ά.wav Ș.wav:ș.wav Ҳ.wav:ҳ.wav
    Σ.wav:ς.wav"
kelvin=$(printf '\342\204\252') no_letter=$(printf '\316\242')  # U+212A and U+03A2
apart="apart/$kelvin.wav:apart/k.wav apart/ẞ.wav:apart/ß.wav apart/İ.wav:apart/ı.wav apart/$no_letter.wav:apart/ς.wav"
mkdir -p "$tree/Sub" "$tree/sub" "$tree/apart"
for pair in $folded $apart plain.wav:plain.wav; do
    head -c 3000 /dev/urandom >"$tree/${pair%:*}" && head -c 3000 /dev/urandom >"$tree/${pair#*:}"
done
ln -s "$work/mount/copies" "$tree/converted"
twin_why='is the copy of a file whose path differs only in letter case, and converted cannot hold both'

for round in 1 2; do
    status=0
    timeout -k 5 60 "$drop_program" "$tree" </dev/null >"$work/out" 2>&1 || status=$?
    [ "$status" -eq 1 ] || fail "round $round: status $status: $(cat "$work/out")"
    for pair in $folded $apart; do
        set -- "${pair%:*}" "${pair#*:}"
        # One of a pair that the mount folds has the copy (converted in the first round, skipped in
        # the second); the other gets the twin's line, never "already converted". A pair kept apart
        # has two copies.
        made=$(sed 's/^\[[0-9]*\/[0-9]*\] //' "$work/out" | grep -cxE "(converted|skipped): $tree/($1|$2)( .*)?" || true)
        twins=$(grep -cF -e "] failed: $tree/$1 (converted/$1 $twin_why)" -e "] failed: $tree/$2 (converted/$2 $twin_why)" "$work/out" || true)
        case " $apart " in *" $pair "*) kept=2 ;; *) kept=1 ;; esac
        [ "$made" -eq "$kept" ] && [ "$twins" -eq $((2 - kept)) ] || fail "round $round, $1 and $2: $(cat "$work/out")"
    done
    [ "$round" -eq 2 ] || grep -qF "] converted: $tree/plain.wav" "$work/out" || fail "plain.wav: $(cat "$work/out")"
    [ -z "$(find "$work/mount/copies" -name 'quoxel-*')" ] || fail "left behind: $(find "$work/mount/copies" -name 'quoxel-*')"
done
copies=$(echo $folded $apart $apart plain | wc -w)
[ "$(cd "$work/mount/copies" && find . -type f -name '*.wav' | wc -l)" -eq "$copies" ] || fail "the mount holds: $(find "$work/mount/copies")"
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
[ "$(find "$work/mount/F" -type f -name '*.wav' | wc -l)" -eq 2 ] || fail "the mount holds: $(find "$work/mount/F")"
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
        0) (cd "$work/mount/faults" && [ "$(find . -type f -name '*.wav' | sort)" = "$(printf './a.wav\n./sub/b.wav')" ]) &&
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

# ---- Every pair of letters that the mount folds ----
# Each character of the 16-bit plane paired with its simple capital or small letter, as Unicode's
# data gives them (Debian's unicode-data), apart from the drop's own table; the pairs that the
# mount folds into one, asked of the mount itself (the capital made, then the small letter looked
# up, in a folder of their own), each give one copy and the twin's line, and none is called
# already converted, on the first drop and the second.
data=/usr/share/unicode/UnicodeData.txt
[ -r "$data" ] || { echo "drop-casefold-test: skipped: no $data (package unicode-data) to pair the letters"; exit 0; }
LC_ALL=C awk -F ';' '
    function number(hex, i, n) { for (i = 1; i <= length(hex); i++) n = n * 16 + index("0123456789ABCDEF", substr(hex, i, 1)) - 1; return n }
    function utf8(p) {
        if (p < 128) return sprintf("%c", p)
        if (p < 2048) return sprintf("%c%c", 192 + int(p / 64), 128 + p % 64)
        return sprintf("%c%c%c", 224 + int(p / 4096), 128 + int(p / 64) % 64, 128 + p % 64)
    }
    length($1) == 4 && $13 != "" { print utf8(number($13)), utf8(number($1)) }
    length($1) == 4 && $14 != "" { print utf8(number($1)), utf8(number($14)) }
' "$data" | LC_ALL=C sort -u >"$work/pairs"
probe=$work/mount/probe
mkdir "$probe" && (cd "$probe" && seq 1 "$(wc -l <"$work/pairs")" | xargs mkdir)
i=0
while read -r capital small; do
    i=$((i + 1))
    : >"$probe/$i/$capital"
    [ ! -e "$probe/$i/$small" ] || echo "$capital $small"
done <"$work/pairs" >"$work/folded"
pairs=$(wc -l <"$work/folded")
[ "$pairs" -gt 100 ] || fail "the mount folds only $pairs pairs of $(wc -l <"$work/pairs")"
tree=$work/L
mkdir -p "$tree" "$work/mount/L"
ln -s "$work/mount/L" "$tree/converted"
i=0
while read -r capital small; do
    i=$((i + 1))
    echo "$i $capital" >"$tree/$i-$capital.wav" && echo "$i $small" >"$tree/$i-$small.wav"
done <"$work/folded"
for round in 1 2; do
    status=0
    timeout -k 5 120 "$drop_program" "$tree" </dev/null >"$work/out" 2>&1 || status=$?
    [ "$status" -eq 1 ] || fail "every pair, round $round: status $status: $(cat "$work/out")"
    # The pairs, by their number, that have not one copy (converted, or skipped as converted
    # already) and one twin's line.
    wrong=$(sed 's/^\[[0-9]*\/[0-9]*\] //' "$work/out" | awk -v tree="$tree/" -v why=" $twin_why)" -v pairs="$pairs" '
        { n = index($0, ": " tree); rest = substr($0, n + 2 + length(tree)); k = substr(rest, 1, index(rest, "-") - 1) }
        n > 0 && (/^converted: / || /^skipped: .* \(already converted: /) { made[k]++ }
        n > 0 && /^failed: / && index($0, why) == length($0) - length(why) + 1 { twins[k]++ }
        END { for (k = 1; k <= pairs; k++) if (made[k] != 1 || twins[k] != 1) printf "%d ", k }')
    [ -z "$wrong" ] || fail "every pair, round $round: pairs $wrong: $(grep -E "/($(echo "$wrong" | sed 's/ $//; s/ /|/g'))-" "$work/out")"
done
[ "$(find "$work/mount/L" -type f -name '*.wav' | wc -l)" -eq "$pairs" ] || fail "every pair: the mount holds $(find "$work/mount/L" -type f -name '*.wav' | wc -l) copies"
echo "drop-casefold-test: each of the $pairs pairs of letters that the mount folds gets one copy and the case-twin line"
