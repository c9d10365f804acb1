# Sourced by the test scripts and the benchmark: their one failure idiom, the file names that
# users have, the scratch files the recipe and drop tests convert, and the drop tests' checks.

fail() { printf 'FAIL: %s\n' "$*"; exit 1; }

# within SECONDS COMMAND...: until COMMAND succeeds, trying every 20 ms for SECONDS at most. The
# limit only keeps a broken program from hanging a test: it is far above any wait that holds.
within() {
    tries=$(($1 * 50))
    shift
    while ! "$@"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.02
    done
}

# Names that Windows and POSIX both allow and that shells, cmd.exe and code pages get wrong:
# spaces, the characters cmd.exe gives meanings to, a leading dash, letters of other scripts,
# an emoji, and the extension in capitals. One per line.
awkward_names='a b.wav
a&b.wav
50%off.wav
x%PATH%y.wav
a^b.wav
wow!.wav
;semi.wav
(paren).wav
-dash.wav
файл.wav
日本語.wav
🎵.wav
UPPER.WAV'

# each_name COMMAND [ARG...]: runs COMMAND ARG... NAME for each of $awkward_names.
each_name() {
    printf '%s\n' "$awkward_names" | while IFS= read -r name; do "$@" "$name" || exit 1; done
}

# add_file NAME SIZE: a file of SIZE random bytes in the folder $dir, a copy of it as it was in
# $originals, and a copy converted once by the build host's $tool in $expect. NAME may lead
# through folders, which are made in all three.
add_file() {
    mkdir -p "$(dirname "$dir/$1")" "$(dirname "$originals/$1")" "$(dirname "$expect/$1")"
    head -c "$2" /dev/urandom > "$dir/$1"
    cp "$dir/$1" "$originals/$1"
    cp "$dir/$1" "$expect/$1"
    [ "$2" -lt 4 ] || "$tool" "$expect/$1"
}

# The checks of the drop programs' tests, on the output in $work/out, the status in $status, and
# the tree $dir with its converted copies, its $expect and its $originals.
ended() { [ "$status" -eq "$1" ] || fail "status $status, not $1: $(cat "$work/out")"; }
said() { grep -qF -- "$1" "$work/out" || fail "no line \"$1\" in: $(cat "$work/out")"; }
said_line() { grep -qxF -- "$1" "$work/out" || fail "no whole line \"$1\" in: $(cat "$work/out")"; }
# The first line, whole: found "3 WAV files in 2 folders"; the threads said only where more than
# one converts.
found() {
    grep -qxE "Found $1(; converting ([2-9]|[1-9][0-9]+) at a time)?\." "$work/out" ||
        fail "no line \"Found $1\" in: $(cat "$work/out")"
}
# The end's failures by cause, from their heading to what follows them: the temporary copies
# removed, where the copies are, or the counts.
heading='^[0-9]+ failed(, for [0-9]+ reasons)?:$'
recap() {
    sed -En "/$heading/,\$p" "$work/out" | sed -E '/^(The failures |Removed [0-9]|Copies are in |[0-9]+ converted, )/,$d'
}
# The end, from the failures' heading, or from the temporary copies removed, where the copies
# are or the counts where none failed, and a wait for Enter, fit in a console window of 80
# columns and 25 rows; a line takes a row for each full 80 columns and one more.
end_fits() {
    sed -En "/$heading|^(The failures |Removed [0-9]|Copies are in |[0-9]+ converted, )/,\$p" "$work/out" >"$work/end"
    rows=1
    while IFS= read -r line; do
        width=$(printf '%s' "$line" | LC_ALL=C.UTF-8 wc -L)
        rows=$((rows + width / 80 + 1))
    done <"$work/end"
    [ "$rows" -le 25 ] || fail "the end takes $rows rows of 80 columns: $(cat "$work/end")"
}
# shows LINE PATH: LINE is PATH indented as the end shows it, whole or with its middle elided.
shows() {
    line=${1#    }
    [ "$line" != "$1" ] || return 1
    [ "$line" = "$2" ] && return 0
    start=${line%%…*} rest=${line#*…}
    [ "$start" != "$line" ] && case $2 in "$start"*"$rest") return 0 ;; esac
    return 1
}
# The summary is the last line.
ends_with_summary() { tail -n 1 "$work/out" | grep -qE '^[0-9]+ converted, ' || fail "the counts are not last: $(cat "$work/out")"; }
# Every copy in $dir/converted is its file converted once, there is no other file, and no
# original changed.
copies_exact() {
    (cd "$dir/converted" && find . -type f ! -name 'quoxel report *.txt' | LC_ALL=C sort) >"$work/copies"
    [ "$(cat "$work/copies")" = "$(printf '%s\n' "$@" | LC_ALL=C sort)" ] || fail "converted holds: $(cat "$work/copies")"
    for f in "$@"; do cmp -s "$dir/converted/$f" "$expect/$f" || fail "converted/$f is not $f converted once"; done
    (cd "$originals" && find . -type f) | while IFS= read -r f; do
        cmp -s "$originals/$f" "$dir/$f" || fail "the original $f changed"
    done
}

# add_tree NAME...: the tree of the drop tests in $dir, three folders deep ($l1/$l2/$l3), with a
# 3000-byte WAV file for each awkward name, for each of a few names deeper down and for each NAME,
# a read-only original, two files too short to convert, a folder "Converted" deep inside, a file
# that is no WAV and a link out of the tree to $work/outside. Sets $wavs (the WAV files that
# convert, one per line), $files (all of them) and $folders (the folders that hold them).
add_tree() {
    mkdir -p "$dir" "$expect" "$originals" "$work/outside" "$dir/converted"
    l1="50%off & a^b!" l2="日本語 ;(x)" l3="-dash 🎵"
    add_wav() { add_file "$1" 3000; }
    each_name add_wav
    for name in "$l1/файл.wav" "$l1/$l2/wow!.wav" "$l1/$l2/$l3/UPPER.WAV" "x.wav/in.wav" ".wav" ro.wav "$@"; do
        add_wav "$name"
    done
    chmod a-w "$dir/ro.wav"
    add_file "$l1/short.wav" 3
    add_file "$l1/$l2/$l3/short.wav" 2
    wavs=$(cd "$expect" && find . -type f -size +1k | LC_ALL=C sort)
    files=$(cd "$expect" && find . -type f | wc -l)
    folders=$(cd "$expect" && find . -type f -exec dirname {} + | sort -u | wc -l)
    mkdir -p "$dir/$l1/$l2/Converted"
    head -c 3000 /dev/urandom >"$dir/$l1/$l2/Converted/never.wav"  # a folder of copies, deep inside
    head -c 3000 /dev/urandom >"$dir/song.wave"
    head -c 3000 /dev/urandom >"$work/outside/outside.wav"
    ln -s "$work/outside" "$dir/link"
}
