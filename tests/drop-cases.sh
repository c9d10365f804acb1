# Sourced by drop-test.sh (the Windows program under Wine) and drop-linux-test.sh (the Linux
# program): the cases of a drop that every platform must pass alike, each a function that
# leaves the output in $work/out for the platform's own rows. Each platform's script gives:
#   drop_to OUT ARG... the drop program given ARG..., its output in OUT, its status in $status;
#                      standard input is no terminal or console: it must never wait for Enter
#   start_drop ARG...  the same in the background, its output in $work/out.raw, its process in $!
#   p PATH             PATH as the platform names it: Z:\... under Wine
#   in_copies PATH     PATH inside converted, as a line names it: converted\sub\x.wav on Windows
#   $missing_text      the system's text for a file that is not there
#   $folds_case        yes where the file system takes A.wav and a.wav for one name
#   copy_of_read_only COPY  checks the copy of a read-only original as the platform makes it

drop() { drop_to "$work/out" "$@"; }
twin_why='is the copy of a file whose path differs only in letter case, and converted cannot hold both'
# Every line of $work/out.raw without the CR that ends a line on Windows.
take_out() { tr -d '\r' <"$work/out.raw" >"$work/out"; }
no_leftovers() {  # FOLDER: no lock file and no temporary copy of a drop anywhere below it
    left=$(find "$1" -name 'quoxel-[0-9]*.lock' -o -name 'quoxel-[0-9]*-[0-9]*.tmp')
    [ -z "$left" ] || fail "left behind: $left"
}
# The line of a file, whatever its number, whole.
numbered_line() {
    sed 's/^\[[0-9]*\/[0-9]*\] //' "$work/out" | grep -qxF -- "$1" || fail "no line \"$1\" in: $(cat "$work/out")"
}

# The first line counts what the summary counts, and the summary is the last line.
counts_agree() {
    ends_with_summary
    awk 'NR == 1 { found = $2 == "no" ? 0 : $2
                   if (match($0, / and [0-9]+ more path/)) found += substr($0, RSTART + 5, RLENGTH - 15)
                   if (match($0, /; [0-9]+ paths? (is|are) skipped/)) found += substr($0, RSTART + 2) + 0 }
         { last = $0 }
         END { split(last, n, /[^0-9]+/); done = n[1] + n[2] + n[3] + n[4]; exit found == done ? 0 : 1 }' "$work/out" ||
        fail "the first line and the summary count different things: $(cat "$work/out")"
}

# tree_case SKIPPED: the tree of add_tree with a leftover: the first drop gives one exact copy of
# each WAV file, names each short file and repeats the failures after the summary, with SKIPPED
# files of the platform's own skipped; once the short files are fixed the second converts only
# them; and a third, with nothing to convert, still clears a leftover.
tree_case() {
    leftover=quoxel-4000000000-1.tmp  # no process has that id
    head -c 100 /dev/urandom >"$dir/converted/$leftover"
    # In a folder of copies that holds no job: a dead drop's leftover, and a user's files named
    # like a drop's, with a number that no drop writes: a leading zero, 0, or one past 2^64.
    inner=$dir/$l1/$l2/Converted
    head -c 100 /dev/urandom >"$inner/quoxel-4000000000-2.tmp"
    users="quoxel-4000000000-old.tmp quoxel-007-1.tmp quoxel-12-0001.tmp quoxel-0-1.tmp quoxel-4000000000-0.tmp
        quoxel-1-18446744073709551616.tmp quoxel-00.lock quoxel-0.lock quoxel-007.lock"
    for name in $users; do echo mine >"$inner/$name"; done
    drop "$(p "$dir")"
    ended 1
    others=
    [ "$1" -eq 0 ] || others=" and $1 more path$( [ "$1" -eq 1 ] && echo ' that is' || echo 's that are') skipped or failed"
    found "$files WAV files in $folders folders$others"
    said_line "removed: $(p "$dir/converted/$leftover") (a temporary copy left by a drop that was closed or stopped)"
    said_line "removed: $(p "$inner/quoxel-4000000000-2.tmp") (a temporary copy left by a drop that was closed or stopped)"
    [ ! -e "$inner/quoxel-4000000000-2.tmp" ] || fail "the folder of copies inside: $(ls "$inner")"
    for name in $users; do
        [ -f "$inner/$name" ] && ! grep -qF "$name" "$work/out" || fail "a user's $name: $(ls "$inner"): $(cat "$work/out")"
        rm "$inner/$name"  # kept; from here on any such name is a drop's
    done
    said_line "not entered: $(p "$dir/link") (a folder link)"
    said_line "not entered: $(p "$dir/$l1/loop") (a folder link)"
    for short in "$l1/short.wav" "$l1/$l2/$l3/short.wav"; do
        numbered_line "failed: $(p "$dir/$short") (shorter than 4 bytes, so there is nothing to convert)"
    done
    said_line "$(($(echo "$wavs" | wc -l))) converted, $1 skipped, 2 failed."
    [ "$(recap | head -n 1)" = "2 failed:" ] || fail "the failures' heading: $(recap)"
    recap_shows "shorter than 4 bytes, so there is nothing to convert" "$(p "$dir/$l1/short.wav")" \
        "$(p "$dir/$l1/$l2/$l3/short.wav")"
    said_line "Removed 2 temporary copies left by a drop that was closed or stopped."
    said_line "Copies are in $(p "$dir/converted")"
    end_fits
    counts_agree
    # shellcheck disable=SC2086 # one path per line
    (IFS='
'; copies_exact $wavs)
    copy_of_read_only "$dir/converted/ro.wav"
    cp "$work/out" "$work/first"

    add_file "$l1/short.wav" 6
    add_file "$l1/$l2/$l3/short.wav" 6
    drop "$(p "$dir")"
    ended 0
    said_line "2 converted, $(($(echo "$wavs" | wc -l) + $1)) skipped, 0 failed."
    [ -z "$(recap)" ] || fail "failures repeated where there were none: $(recap)"
    (IFS='
'; copies_exact $wavs "./$l1/short.wav" "./$l1/$l2/$l3/short.wav")

    head -c 100 /dev/urandom >"$dir/converted/$leftover"
    : >"$dir/converted/a b.wav"  # as a power cut may leave a copy that an older drop made
    drop "$(p "$dir")"
    ended 0
    said_line "removed: $(p "$dir/converted/$leftover") (a temporary copy left by a drop that was closed or stopped)"
    said_line "Removed 1 temporary copy left by a drop that was closed or stopped."
    numbered_line "converted: $(p "$dir/a b.wav") (its copy was 0 of 3,000 bytes; made again)"
    said_line "1 converted, $((files + $1 - 1)) skipped, 0 failed."
    no_leftovers "$dir"
    cp "$work/first" "$work/out"  # for the platform's own rows of the first drop
}

# bad_tree: the bad inputs of every platform in $bad: case twins, a folder of copies in the place
# of a copy, a folder without WAV files, a file named converted, a file link into the copies, a
# folder of copies that is a link (as a mount point is), a mirrored folder that is a file, more
# failures than the recap repeats, and a link to the tree's copies.
bad_tree() {
    mkdir -p "$bad/T/Sub" "$bad/T/sub" "$bad/twins" "$bad/in place/converted/b.wav" "$bad/empty" "$bad/cfile" "$bad/T/real" "$bad/T/converted" \
        "$bad/M" "$bad/M-elsewhere" "$bad/F/sub" "$bad/F/converted" "$bad/shorts"
    for f in T/Sub/x.wav T/sub/x.wav twins/A.wav twins/a.wav "in place/b.wav" cfile/c.wav T/converted/r.wav M/m.wav F/sub/d.wav; do
        head -c 3000 /dev/urandom >"$bad/$f"
    done
    head -c 3001 /dev/urandom >"$bad/twins/a.wav"  # a twin of another size, never copied over its twin's copy
    head -c 3000 /dev/urandom >"$bad/empty/song.wave"
    echo file >"$bad/cfile/converted"
    ln -s ../converted/r.wav "$bad/T/real/alias.wav"
    ln -s ../M-elsewhere "$bad/M/converted"
    mkdir -p "$bad/M/nox" "$bad/M-elsewhere/was there"  # a folder whose one file fails, and one made before
    echo 0 >"$bad/M/nox/s.wav"
    echo file >"$bad/F/converted/sub"
    for i in $(seq 10 31); do echo 0 >"$bad/shorts/s$i.wav"; done
    ln -s "$dir/converted" "$bad/to copies"
}

# bad_case ARG...: the bad inputs of bad_tree in one drop, with the platform's own ARGs.
bad_case() {
    drop "$(p "$bad/twins")" "$(p "$bad/in place")" "$(p "$bad/empty")" "$(p "$bad/cfile")" "$(p "$bad/to copies")" \
        "" "$(p "$work/missing.wav")" "$(p "$bad/T")" "$(p "$bad/M")" "$(p "$bad/F")" "$(p "$bad/shorts")" "$@"
    ended 1
    said "converted: $(p "$bad/twins/A.wav")"
    said "converted: $(p "$bad/T/Sub/x.wav")"
    if [ "$folds_case" = yes ]; then
        said "failed: $(p "$bad/twins/a.wav") ($(in_copies a.wav) $twin_why)"
        said "failed: $(p "$bad/T/sub/x.wav") ($(in_copies sub/x.wav) $twin_why)"
    else
        said "converted: $(p "$bad/twins/a.wav")"
        said "converted: $(p "$bad/T/sub/x.wav")"
    fi
    said "skipped: $(p "$bad/T/real/alias.wav") (a link to a converted copy)"
    [ ! -e "$bad/T/converted/real/alias.wav" ] || fail "a link into the copies was converted again"
    said "converted: $(p "$bad/M/m.wav")"
    # Named by no file's line; the end says that copies are there, through it.
    ! sed -En "/$heading/q; p" "$work/out" | grep -qF "$(p "$bad/M/converted")" ||
        fail "a folder of copies that is a link named: $(cat "$work/out")"
    cmp -s "$bad/M-elsewhere/m.wav" "$bad/M/converted/m.wav" && [ -f "$bad/M-elsewhere/m.wav" ] || fail "no copy through the link"
    # No folder is left empty by a failed file, but one that was there before stays.
    [ ! -e "$bad/M-elsewhere/nox" ] && [ ! -e "$bad/shorts/converted" ] && [ -d "$bad/M-elsewhere/was there" ] ||
        fail "the empty folders in converted: $(find "$bad" -path '*onverted*' -type d -empty)"
    said "failed: $(p "$bad/F/sub/d.wav") ($(in_copies sub) is a file, not a folder)"
    said "failed: $(p "$bad/in place/b.wav") ($(in_copies b.wav) is a folder, not a converted copy)"
    said_line "failed: $(p "$bad/empty") (no .wav file in this folder or in a folder below it)"
    said "failed: $(p "$bad/cfile/c.wav") ($(p "$bad/cfile/converted") is a file, not a folder)"
    said_line "skipped: $(p "$bad/to copies") (a folder of converted copies)"  # through a link
    said_line 'failed: "" (an empty argument names no file or folder)'
    said_line "failed: $(p "$work/missing.wav") ($missing_text)"  # the system's text, whole
    shorts=$(for i in $(seq 10 31); do printf '%s\n' "$(p "$bad/shorts/s$i.wav")"; done)
    # shellcheck disable=SC2086 # one path per line
    (IFS='
'; recap_shows "shorter than 4 bytes, so there is nothing to convert" $shorts "$(p "$bad/M/nox/s.wav")")
    recap_shows "no .wav file in the folder or in a folder below it" "$(p "$bad/empty")"
    recap_shows "converted holds a folder where its copy goes" "$(p "$bad/in place/b.wav")"
    recap_shows "converted holds a file where a folder of copies goes" "$(p "$bad/F/sub/d.wav")"
    recap_shows "converted is a file, not a folder" "$(p "$bad/cfile/c.wav")"
    counts_agree
    no_leftovers "$bad"
}
# recapped FAILED: the end groups FAILED failures by cause, under a heading that counts them and
# their causes, each cause with its count, all in view in a console window.
recapped() {
    causes=$(recap | grep -cE '^  [0-9]+ × ' || true)
    total=$(recap | sed -En 's/^  ([0-9]+) × .*/\1/p' | awk '{ n += $1 } END { print n + 0 }')
    [ "$(recap | head -n 1)" = "$1 failed, for $causes reasons:" ] && [ "$total" -eq "$1" ] ||
        fail "the end does not group $1 failures by cause: $(recap)"
    end_fits
}

# recap_shows CAUSE PATH...: the end groups PATH... under "  N × CAUSE", N the number of them,
# and shows the first of them in the order of their names, whole or elided in the middle, then
# how many more there are; or none, where the rows are taken. $shown is the number shown.
recap_shows() {
    cause=$1
    shift
    recap >"$work/recap"
    grep -qxF -- "  $# × $cause" "$work/recap" || fail "no line \"  $# × $cause\" in: $(cat "$work/recap")"
    awk -v cause="  $# × $cause" 'below && /^  [0-9]+ × / { exit } below { print } $0 == cause { below = 1 }' \
        "$work/recap" >"$work/shown"
    printf '%s\n' "$@" | LC_ALL=C sort >"$work/sorted"
    shown=0 more=0
    while IFS= read -r line; do
        case $line in
        "    … and "*" more") more=${line#    … and } more=${more% more} ;;
        *)
            shown=$((shown + 1))
            shows "$line" "$(sed -n "${shown}p" "$work/sorted")" ||
                fail "path $shown of \"$cause\" is \"$line\", not $(sed -n "${shown}p" "$work/sorted")"
            ;;
        esac
    done <"$work/shown"
    # Where the rows do not allow a path of each cause, a cause may stand alone.
    [ "$shown" -eq 0 ] && [ "$more" -eq 0 ] || [ $((shown + more)) -eq $# ] ||
        fail "\"$cause\" shows $shown and $more more of $#: $(cat "$work/shown")"
}

# end_case: 500 files, 40 of them failing for 3 causes: the end holds the counts, every cause
# with the first of its paths, and where the copies are, in a console window of 80 columns and
# 25 rows; each failure was said in its own line too. The folders made for the copies of files
# that all failed, one inside the other, are gone.
end_case() {
    e="$work/end-case/a folder with a name long enough to be elided where it is shown in the end"
    mkdir -p "$e/shorts/deeper" "$e/sub" "$e/converted"
    echo file >"$e/converted/sub"
    for i in $(seq 1 470); do printf 'RIFF%04d' "$i" >"$e/ok$i.wav"; done
    for i in $(seq 1 10); do mkdir "$e/converted/ok$i.wav" && printf 'RIFF%04d' "$i" >"$e/sub/d$i.wav"; done
    for i in $(seq 1 20); do echo 0 >"$e/shorts/deeper/s$i.wav"; done
    drop "$(p "$e")"
    ended 1
    found "500 WAV files in 3 folders"
    [ ! -e "$e/converted/shorts" ] || fail "folders of copies left empty: $(find "$e/converted/shorts")"
    [ "$(recap | head -n 1)" = "40 failed, for 3 reasons:" ] || fail "the failures' heading: $(recap)"
    # shellcheck disable=SC2046 # one path per line
    (
        IFS='
'
        recap_shows "shorter than 4 bytes, so there is nothing to convert" $(for i in $(seq 1 20); do printf '%s\n' "$(p "$e/shorts/deeper/s$i.wav")"; done)
        [ "$shown" -ge 2 ] || fail "the end's rows left unused: $(recap)"
        recap_shows "converted holds a file where a folder of copies goes" $(for i in $(seq 1 10); do printf '%s\n' "$(p "$e/sub/d$i.wav")"; done)
        [ "$shown" -ge 2 ] || fail "the end's rows left unused: $(recap)"
        recap_shows "converted holds a folder where its copy goes" $(for i in $(seq 1 10); do printf '%s\n' "$(p "$e/ok$i.wav")"; done)
        [ "$shown" -ge 2 ] || fail "the end's rows left unused: $(recap)"
    )
    said_line "Copies are in $(p "$e/converted")"
    said_line "460 converted, 0 skipped, 40 failed."
    end_fits
    counts_agree
    # The failures are kept, each whole line and the end, in a report that the end names, in the
    # folder of copies; no later drop takes it for a copy, and one with no failure writes none.
    report=$(sed -n 's/^The failures are kept in //p' "$work/out")
    [ -n "$report" ] || fail "no report named: $(cat "$work/out")"
    report=$e/converted/${report##*[\\/]}
    [ -f "$report" ] || fail "the report named is not there: $(ls "$e/converted")"
    tr -d '\r' <"$report" >"$work/report"
    [ "$(grep -c '^failed: ' "$work/report")" -eq 40 ] && grep -qxF "failed: $(p "$e/shorts/deeper/s1.wav") (shorter than 4 bytes, so there is nothing to convert)" "$work/report" &&
        grep -qxF "40 failed, for 3 reasons:" "$work/report" && grep -qxF "460 converted, 0 skipped, 40 failed." "$work/report" ||
        fail "the report: $(cat "$work/report")"
    rm -r "$e/shorts" "$e/converted/sub" && for i in $(seq 1 10); do rmdir "$e/converted/ok$i.wav"; done
    cp "$report" "$work/report.kept"
    drop "$(p "$e")"
    ended 0
    ! grep -q '^The failures' "$work/out" && [ "$(ls "$e/converted" | grep -c '^quoxel report ')" -eq 1 ] &&
        cmp -s "$report" "$work/report.kept" || fail "a drop without failures touched the reports: $(ls "$e/converted")"
}

# words_case: the counts in true words: a file not named .wav given by name, one thread for one
# file, a folder with no WAV file that fails as a folder, and a file and a folder given together,
# whose copies go to two folders of copies that the end names.
words_case() {
    w=$work/words
    mkdir -p "$w/empty/sub" "$w/f" "$w/g"
    head -c 100 /dev/urandom >"$w/notes.txt"
    head -c 100 /dev/urandom >"$w/f/a.wav"
    head -c 100 /dev/urandom >"$w/g/b.wav"
    drop "$(p "$w/notes.txt")"
    ended 0
    said_line "Found 1 file in 1 folder (not named .wav, converted as asked)."
    numbered_line "converted: $(p "$w/notes.txt") (not named .wav; converted as asked)"
    said_line "Copies are in $(p "$w/converted")"
    drop "$(p "$w/notes.txt")"  # its copy there already: still where the copies are
    ended 0
    said_line "Copies are in $(p "$w/converted")"
    drop "$(p "$w/empty")"
    ended 1
    said_line "Found no WAV file; 1 path is skipped or failed."
    said_line "The failures are not kept in a file, as no folder of copies was made."
    [ "$(recap | head -n 1)" = "1 failed:" ] || fail "the failures' heading: $(recap)"
    recap_shows "no .wav file in the folder or in a folder below it" "$(p "$w/empty")"
    ! grep -qE 'files? failed|^Copies are in ' "$work/out" || fail "a folder called a file, or copies named: $(cat "$work/out")"
    counts_agree
    drop "$(p "$w/f/a.wav")" "$(p "$w/g")"
    ended 0
    said_line "Found 2 WAV files in 2 folders."
    said_line "Copies are in 2 folders:"
    said_line "  $(p "$w/f/converted")"
    said_line "  $(p "$w/g/converted")"
    counts_agree
    # Four folders of copies: the first three named, and how many more.
    for f in h i; do mkdir -p "$w/$f" && head -c 100 /dev/urandom >"$w/$f/$f.wav"; done
    drop "$(p "$w/f/a.wav")" "$(p "$w/g")" "$(p "$w/h")" "$(p "$w/i")"
    said_line "Copies are in 4 folders:"
    for f in f g h; do said_line "  $(p "$w/$f/converted")"; done
    said_line "  … and 1 more"
    ! grep -qF "$(p "$w/i/converted")" "$work/out" || fail "a fourth folder of copies named: $(cat "$work/out")"
}

# copies_link_case: "converted" a link into the folder being converted, or to the folder that holds
# it: no copy is made anywhere, and each file's line says why.
copies_link_case() {
    dir=$work/into expect=$work/into-expect originals=$work/into-originals
    add_file a.wav 3000 && add_file sub/b.wav 3000
    for target in sub ..; do
        rm -rf "$dir/converted" "$dir/sub/converted" && ln -s "$target" "$dir/converted"
        drop "$(p "$dir")"
        ended 1
        case $target in sub) where=", inside the folder it is in, where copies would be taken for originals" ;;
        *) where=", which holds the folder it is in" ;; esac
        numbered_line "failed: $(p "$dir/a.wav") ($(p "$dir/converted") leads to $(p "$(realpath "$dir/$target")")$where; no copy is made there)"
        [ "$(ls "$dir/sub")" = b.wav ] && [ ! -e "$work/a.wav" ] && [ ! -e "$work/sub" ] ||
            fail "a copy was made through converted -> $target: $(ls "$dir/sub" "$work")"
        no_leftovers "$dir"
    done
    rm "$dir/converted"
}

# folders_case: a file and the folders that hold it, in one drop: each file once, into the
# outermost copies; and a folder given twice with one below it.
folders_case() {
    dir=$work/G expect=$work/G-expect originals=$work/G-originals
    add_file a.wav 3000 && add_file sub/b.wav 3000 && add_file sub/c.wav 3000
    drop "$(p "$dir/sub/b.wav")" "$(p "$dir")"
    ended 0
    found "3 WAV files in 2 folders"
    [ ! -e "$dir/sub/converted" ] || fail "b.wav converted twice, also into $(in_copies sub)"
    copies_exact ./a.wav ./sub/b.wav ./sub/c.wav
    drop "$(p "$dir")" "$(p "$dir")" "$(p "$dir/sub")"
    found "3 WAV files in 2 folders"
    said_line "0 converted, 3 skipped, 0 failed."
}

# forms_case: a plain WAV file is converted all the same, and its line and the summary say so; a
# converted one, and a file that is no WAV file at all, get the plain line.
forms_case() {
    dir=$work/P expect=$work/P-expect originals=$work/P-originals
    mkdir -p "$dir" "$expect" "$originals"
    { printf 'RIFF\044\013\000\000WAVEfmt ' && head -c 3000 /dev/urandom; } >"$dir/menu.wav"
    { printf 'RIFF\044\013\000\000WAVEfmt ' && head -c 3000 /dev/urandom; } >"$dir/music.wav"
    "$tool" "$dir/music.wav"  # in the converted form: RIFF, then 75 14 65 54
    head -c 3000 /dev/urandom >"$dir/other.wav"
    for f in menu.wav music.wav other.wav; do cp "$dir/$f" "$originals/$f" && cp "$dir/$f" "$expect/$f" && "$tool" "$expect/$f"; done
    drop "$(p "$dir")"
    ended 0
    numbered_line "converted: $(p "$dir/menu.wav") (it was a plain WAV file already, so the copy is nibble-swapped)"
    numbered_line "converted: $(p "$dir/music.wav")"
    numbered_line "converted: $(p "$dir/other.wav")"
    said_line "3 converted, 0 skipped, 0 failed. 1 copy was made of a plain WAV file, so it is nibble-swapped."
    copies_exact ./menu.wav ./music.wav ./other.wav
    cp "$dir/menu.wav" "$dir/menu2.wav" && cp "$dir/menu.wav" "$originals/menu2.wav" && cp "$expect/menu.wav" "$expect/menu2.wav"
    drop "$(p "$dir")"
    said_line "1 converted, 3 skipped, 0 failed. 1 copy was made of a plain WAV file, so it is nibble-swapped."
    rm "$dir/converted/menu.wav" "$dir/converted/menu2.wav"
    drop "$(p "$dir")"
    said_line "2 converted, 2 skipped, 0 failed. 2 copies were made of plain WAV files, so they are nibble-swapped."
    copies_exact ./menu.wav ./menu2.wav ./music.wav ./other.wav
}

# versions_case: a copy is one version of its original, told by its size and its time of
# writing, which the copy carries: the same version is skipped; an original written since its
# copy was made gets a new copy, whatever its size; a copy written since is read once: an exact
# one is kept and given its original's time, one cut short is made again, and one that its user
# changed stays as it is.
versions_case() {
    dir=$work/V expect=$work/V-expect originals=$work/V-originals
    versions='same newer grown exact edited cut'
    for f in $versions; do add_file "$f.wav" 3000; done
    drop "$(p "$dir")"
    ended 0
    for f in $versions; do
        [ "$(stat -c %y "$dir/$f.wav")" = "$(stat -c %y "$dir/converted/$f.wav")" ] || fail "the copy of $f.wav has another time"
    done
    later=$(($(stat -c %Y "$dir/same.wav") + 3600))
    add_file newer.wav 3000 && add_file grown.wav 4000
    head -c 1500 "$expect/cut.wav" >"$dir/converted/cut.wav"
    cp "$dir/converted/exact.wav" "$work/exact" && cat "$work/exact" >"$dir/converted/exact.wav"
    printf 'EDIT' | dd of="$dir/converted/edited.wav" bs=1 seek=100 conv=notrunc 2>/dev/null
    cp "$dir/converted/edited.wav" "$work/edited"
    for f in newer.wav grown.wav converted/cut.wav converted/exact.wav converted/edited.wav; do touch -d "@$later" "$dir/$f"; done
    drop "$(p "$dir")"
    ended 0
    numbered_line "skipped: $(p "$dir/same.wav") (already converted: $(in_copies same.wav) exists)"
    numbered_line "converted: $(p "$dir/newer.wav") (its original changed since its copy was made; made again)"
    numbered_line "converted: $(p "$dir/grown.wav") (its copy was 3,000 of 4,000 bytes; made again)"
    numbered_line "skipped: $(p "$dir/exact.wav") (already converted: $(in_copies exact.wav) exists)"
    numbered_line "skipped: $(p "$dir/edited.wav") ($(in_copies edited.wav) was changed after it was made; it stays as it is)"
    numbered_line "converted: $(p "$dir/cut.wav") (its copy was 1,500 of 3,000 bytes; made again)"
    [ "$(stat -c %y "$dir/exact.wav")" = "$(stat -c %y "$dir/converted/exact.wav")" ] || fail "an exact copy kept its own time"
    cmp -s "$work/edited" "$dir/converted/edited.wav" || fail "a copy that its user changed was changed"
    for f in same newer grown exact cut; do cmp -s "$expect/$f.wav" "$dir/converted/$f.wav" || fail "converted/$f.wav is not exact"; done
    drop "$(p "$dir")"  # the exact copy, now of its original's time, is not read again
    said_line "0 converted, 6 skipped, 0 failed."
}

# order_case: on one thread the lines of a folder's files come in the order of their names,
# whatever order the folder lists them in.
order_case() {
    dir=$work/O expect=$work/O-expect originals=$work/O-originals
    for name in c0.wav a2.wav A.wav.wav b1.wav a.wav; do add_file "$name" 3000; done
    export QUOXEL_DROP_THREADS=1
    drop "$(p "$dir")"
    unset QUOXEL_DROP_THREADS
    ended 0
    [ "$(sed -n 's/^\[[0-9]*\/5\] converted: //p' "$work/out" | tr '\n' ' ')" = \
        "$(for n in a.wav A.wav.wav a2.wav b1.wav c0.wav; do printf '%s ' "$(p "$dir/$n")"; done)" ] ||
        fail "not in the order of their names: $(cat "$work/out")"
}

# full_case: a full disk: the copy fails, and nothing of it stays. The file size limit stands for
# the full disk; its signal is ignored, as Wine would otherwise die.
full_case() {
    dir=$work/full expect=$work/full-expect originals=$work/full-originals
    (ulimit -S -f unlimited && add_file big.wav 3000000)
    (trap '' XFSZ && drop "$(p "$dir")" && echo "$status" >"$work/status")
    status=$(cat "$work/status")
    ended 1
    said "] failed: $(p "$dir/big.wav") (cannot write the copy: "
    [ -z "$(find "$dir/converted" ! -name 'quoxel report *.txt' ! -path "$dir/converted")" ] ||
        fail "the failed copy left $(find "$dir/converted")"
}

# in_the_middle READY PAST RESET ARG...: starts the drop given ARG... in the background, waits
# until the command READY holds, and stops the drop where it stands (SIGSTOP, in $drop_pid), so
# that what the row does next falls in the middle of the drop whatever the machine's load; the row
# lets it go on (SIGCONT). A drop that got past the middle before it stood still (the command PAST
# holds) is let go to its end, RESET run, and the drop started again.
in_the_middle() {
    ready=$1 past=$2 reset=$3
    shift 3
    for _ in 1 2 3 4 5; do
        start_drop "$@"
        drop_pid=$!
        within 120 "$ready" || fail "the drop never got to the middle: $(tr -d '\r' <"$work/out.raw")"
        kill -STOP "$drop_pid"
        "$past" || return 0
        kill -CONT "$drop_pid"
        wait "$drop_pid" || true
        "$reset"
    done
    fail "five drops got past the middle before they stood still"
}
copy_under_way() { [ -n "$(find "$dir/converted" -name 'quoxel-*.tmp' -size +1000k 2>/dev/null)" ]; }
large_copy_made() { [ -e "$dir/converted/large.wav" ]; }
no_copies() { rm -rf "$dir/converted"; }

# killed_case: a drop killed in the middle of a large file leaves no copy that is not whole, and
# the next one removes its temporary copy and its lock.
killed_case() {
    dir=$work/killed expect=$work/killed-expect originals=$work/killed-originals
    mkdir -p "$dir" "$expect" "$originals"
    (
        ulimit -S -f unlimited
        yes 0123456789abcdef | head -c 400000000 >"$dir/large.wav"
        cp "$dir/large.wav" "$originals/large.wav" && cp "$dir/large.wav" "$expect/large.wav" && "$tool" "$expect/large.wav"
        in_the_middle copy_under_way large_copy_made no_copies "$(p "$dir")"
        kill -KILL "$drop_pid"
        wait "$drop_pid" || true
        [ ! -e "$dir/converted/large.wav" ] || fail "a killed drop left $(in_copies large.wav)"
        [ -n "$(find "$dir/converted" -name 'quoxel-*.tmp')" ] || fail "the drop was killed before its copy began"
        drop "$(p "$dir")"
        ended 0
        said "removed: $(p "$dir/converted/quoxel-")"
        copies_exact ./large.wav
        no_leftovers "$dir"
    )
    rm -rf "$dir" "$expect" "$originals"
}

# changed_case: a large file that another program opens to cut it short while it is converted
# gets no copy and a line that says why, and the next drop converts it.
changed_case() {
    dir=$work/changed expect=$work/changed-expect originals=$work/changed-originals
    mkdir -p "$dir"
    (
        ulimit -S -f unlimited
        yes 0123456789abcdef | head -c 400000000 >"$dir/large.wav"
        in_the_middle copy_under_way large_copy_made no_copies "$(p "$dir")"
        # truncate opens the file to write without waiting: where the drop reads it under a
        # lease, the open breaks the lease and fails at once, and the file is cut once the drop
        # has let go; elsewhere it is cut now.
        cut=yes
        truncate -s 1000 "$dir/large.wav" 2>/dev/null || cut=no
        kill -CONT "$drop_pid"
        status=0 && wait "$drop_pid" || status=$?
        take_out
        ended 1
        numbered_line "failed: $(p "$dir/large.wav") (the file changed while it was being converted; no copy kept)"
        [ "$cut" = yes ] || truncate -s 1000 "$dir/large.wav"
        no_leftovers "$dir"
        [ ! -e "$dir/converted/large.wav" ] || fail "a file that changed has a copy"
    )
    add_file large.wav 1000
    drop "$(p "$dir")"
    ended 0
    copies_exact ./large.wav
    rm -rf "$dir" "$expect" "$originals"
}

# stopped_case SIGNAL:STATUS...: each SIGNAL in the middle of a drop of many files (Wine turns
# SIGINT into the console's Ctrl+C): each copy is whole or absent, nothing of the drop stays, the
# summary counts what was not done, and the status is STATUS, that of a program the signal ended.
copies_made() { find "$dir/converted" -name 'f*.wav' 2>/dev/null | wc -l; }
some_made() { [ "$(copies_made)" -ge 20 ]; }
all_but_one_made() { [ "$(copies_made)" -ge 1999 ]; }  # one thread: at most one file at work
stopped_case() {
    dir=$work/stopped
    mkdir -p "$dir"
    head -c 40000000 /dev/urandom | (cd "$dir" && split -b 20000 -a 3 --additional-suffix=.wav - f)
    export QUOXEL_DROP_THREADS=1
    for signal in "$@"; do
        no_copies
        in_the_middle some_made all_but_one_made no_copies "$(p "$dir")"
        kill -"${signal%:*}" "$drop_pid"
        kill -CONT "$drop_pid"
        status=0 && wait "$drop_pid" || status=$?
        take_out
        ended "${signal#*:}"
        made=$(find "$dir/converted" -type f -name '*.wav' | wc -l)
        [ "$made" -lt 2000 ] || fail "SIG${signal%:*} came after the end"
        said_line "$made converted, 0 skipped, 0 failed, $((2000 - made)) not done (stopped)."
        no_leftovers "$dir"
        for copy in "$dir"/converted/*.wav; do
            cp "$dir/${copy##*/}" "$work/check.wav" && "$tool" "$work/check.wav"
            cmp -s "$work/check.wav" "$copy" || fail "${copy##*/} is not whole after SIG${signal%:*}"
        done
    done
    unset QUOXEL_DROP_THREADS
    rm -rf "$dir"
}

# concurrent_case RUNS FILES PAUSE: RUNS drops at once on one folder of FILES files, each started
# PAUSE seconds after the one before: each file is converted once, and no drop takes another's
# lock or temporary copy for a dead drop's.
concurrent_case() {
    dir=$work/both expect=$work/both-expect originals=$work/both-originals
    for i in $(seq 1 "$2"); do add_file "s$i.wav" 3000; done
    for n in $(seq 1 "$1"); do
        (drop_to "$work/both$n" "$(p "$dir")" && echo "$status" >"$work/both$n.status") &
        sleep "$3"
    done
    wait
    for n in $(seq 1 "$1"); do
        [ "$(cat "$work/both$n.status")" -eq 0 ] || fail "drop $n at once: $(cat "$work/both$n")"
        ! grep -q '^removed:' "$work/both$n" || fail "a drop removed another's copy: $(cat "$work/both$n")"
    done
    converted=$(for n in $(seq 1 "$1"); do cat "$work/both$n"; done | grep -c '] converted: ')
    [ "$converted" -eq "$2" ] || fail "$1 drops at once converted $converted files, not $2"
    (cd "$expect" && copies_exact $(find . -type f))
}

# nothing_case WAY ARG...: started with nothing to convert, as from a menu or by a double click,
# with the platform's ARGs: it says so, how to give it files (WAY, the words for its file
# manager) and where the copies go, with no wait where no one can press Enter; status 0.
nothing_case() {
    way=$1
    shift
    drop "$@"
    ended 0
    said_line "Nothing to convert: no file or folder was given."
    said "$way"
    said 'The copies go to a folder "converted" inside each folder given, its'
    said 'folders mirrored there, or beside a file given on its own.'
    ! grep -qE '^usage|Press Enter' "$work/out" || fail "usage, or a wait with no one to press Enter: $(cat "$work/out")"
}
