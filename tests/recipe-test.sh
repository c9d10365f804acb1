#!/bin/sh
# recipe-test.sh sh SOURCE_DIR TOOL
# recipe-test.sh cmd SOURCE_DIR TOOL WINDOWS_TOOL_DIR WINE
# Runs the recipe for converting many files of doc/converting-many-files.md, for POSIX sh or for
# cmd.exe under Wine, exactly as that page prints it between its markers, on a scratch folder of good files with
# awkward names, song.wave (no WAV file), a file too short to convert and, for sh, a symlink and
# a file with two hard links. With a file named done in the way, nothing is converted and the run
# fails. Then the first run must convert each good file once, name every file it did not convert
# and fail; once those are fixed, a second run converts only what was left and succeeds. TOOL, the
# build host's quoxel, converts the expected copies. For sh, the manual page must print the same
# recipe.
set -eu
shell=$1 src=$2 tool=$3 windows_dir=${4-} wine=${5-}
. "$(dirname "$0")/common.sh"
ulimit -f 4096  # 2 MiB, so that a runaway fails instead of filling the disk

# The lines between the markers of $1's recipe in doc/converting-many-files.md, without the code fences.
recipe() { sed -n "/<!-- recipe:$1 -->/,/<!-- \/recipe:$1 -->/p" "$src/doc/converting-many-files.md" | grep -v -e '^<!--' -e '^```'; }
[ -n "$(recipe "$shell")" ] || fail "no $shell recipe in doc/converting-many-files.md"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dir=$work/folder expect=$work/expect originals=$work/originals
mkdir "$dir" "$expect" "$originals"

add_wav() { add_file "$1" 100; }
add_file one.wav 5000
add_file three.wav 4
each_name add_wav
add_file song.wave 100
add_file short.wav 3
if [ "$shell" = sh ]; then
    ln -s one.wav "$dir/link.wav"
    add_file hard.wav 300
    ln "$dir/hard.wav" "$dir/hard-too.wav"
else
    recipe cmd | sed 's/$/\r/' > "$dir/convert.cmd"
fi

run() {
    if [ "$shell" = sh ]; then
        (cd "$dir" && PATH="$(dirname "$tool"):$PATH" sh -c "$(recipe sh)") 2> "$work/err"
    else
        (cd "$dir" && LC_ALL=C.UTF-8 WINEPATH="Z:$(printf '%s' "$windows_dir" | tr / '\\')" \
            timeout -k 5 120 "$wine" cmd /c convert.cmd </dev/null) 2> "$work/err"
    fi
}
unchanged() { cmp -s "$dir/$1" "$originals/$1" || fail "$1 changed"; }
converted_once() {  # NAME: in done, converted once, and gone from the folder
    cmp -s "$dir/done/$1" "$expect/$1" || fail "done/$1 is not $1 converted once"
    [ ! -e "$dir/$1" ] || fail "$1 still in the folder"
}

# A file named done, where the folder should go: nothing converted, and the run fails.
: > "$dir/done"
status=0 && run || status=$?
[ "$status" -ne 0 ] || fail "the run with a file named done ended with status 0"
unchanged one.wav
each_name unchanged
rm "$dir/done"

# First run: the good files are converted, the rest named, and the status is not 0.
status=0 && run || status=$?
[ "$status" -ne 0 ] || fail "the first run ended with status 0"
grep -q 'not converted: .*short\.wav' "$work/err" || fail "short.wav not named: $(cat "$work/err")"
unchanged short.wav
unchanged song.wave
converted_once one.wav
converted_once three.wav
each_name converted_once
if [ "$shell" = sh ]; then
    [ "$(readlink "$dir/link.wav")" = one.wav ] || fail "link.wav is no longer the symlink"
    for h in hard.wav hard-too.wav; do
        grep -q "other hard links, not converted: .*$h" "$work/err" || fail "$h not named"
        cmp -s "$dir/$h" "$originals/hard.wav" || fail "$h changed"
    done
fi

# The causes fixed as that page says, a second run converts only what was left.
add_file short.wav 6
[ "$shell" = cmd ] || rm "$dir/hard-too.wav"
run || fail "the second run failed: $(cat "$work/err")"
converted_once short.wav
[ "$shell" = cmd ] || converted_once hard.wav
converted_once one.wav
each_name converted_once
unchanged song.wave
if [ "$shell" = sh ]; then
    page=$(sed -n '/^\.\\" recipe:sh$/,/^\.\\" \/recipe:sh$/p' "$src/doc/quoxel.1" | grep -v '^\.' |
           sed -e 's/\\-/-/g' -e "s/\\\\(aq/'/g")
    [ "$page" = "$(recipe sh)" ] || fail "the manual page's recipe differs from that of doc/converting-many-files.md"
fi
echo "recipe-test: the $shell recipe converts each file once, names failures and resumes"
