#!/bin/sh
# recipe-test.sh sh SOURCE_DIR TOOL
# recipe-test.sh cmd SOURCE_DIR TOOL WINDOWS_TOOL_DIR WINE
# Runs the README's recipe for converting many files, for POSIX sh or for cmd.exe under Wine,
# exactly as the README prints it between its markers, on a scratch folder of good files (one
# with a space in its name), a file too short to convert and, for sh, a symlink and a file with
# two hard links. The first run must convert each good file once, name every file it did not
# convert and fail; once those are fixed, a second run converts only what was left and succeeds.
# TOOL, the build host's quoxel, converts the expected copies. For sh, the manual page must print
# the same recipe.
set -eu
shell=$1 src=$2 tool=$3
fail() { echo "FAIL: $*"; exit 1; }
ulimit -f 4096  # 2 MiB, so that a runaway fails instead of filling the disk

# The lines between the markers of $1's recipe in the README, without the code fences.
recipe() { sed -n "/<!-- recipe:$1 -->/,/<!-- \/recipe:$1 -->/p" "$src/README.md" | grep -v -e '^<!--' -e '^```'; }
[ -n "$(recipe "$shell")" ] || fail "no $shell recipe in README.md"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dir=$work/folder expect=$work/expect
mkdir "$dir" "$expect"

# make NAME SIZE: a file of random bytes in the folder, and beside it the file converted once.
make() {
    head -c "$2" /dev/urandom > "$dir/$1"
    cp "$dir/$1" "$expect/$1"
    [ "$2" -lt 4 ] || "$tool" "$expect/$1"
}
good="one.wav|two words.wav|three.wav"
make one.wav 5000
make "two words.wav" 100
make three.wav 4
make short.wav 3
cp "$dir/short.wav" "$work/short.before"
if [ "$shell" = sh ]; then
    ln -s one.wav "$dir/link.wav"
    make hard.wav 300
    ln "$dir/hard.wav" "$dir/hard-too.wav"
    cp "$dir/hard.wav" "$work/hard.before"
else
    recipe cmd | sed 's/$/\r/' > "$dir/convert.cmd"
fi

run() {
    if [ "$shell" = sh ]; then
        (cd "$dir" && PATH="$(dirname "$tool"):$PATH" sh -c "$(recipe sh)") 2> "$work/err"
    else
        (cd "$dir" && WINEPATH="Z:$(printf '%s' "$4" | tr / '\\')" "$5" cmd /c convert.cmd) 2> "$work/err"
    fi
}
same() { cmp -s "$1" "$2" || fail "$1 is not $2"; }
converted_once() {  # NAME: in done, converted once, and gone from the folder
    same "$dir/done/$1" "$expect/$1"
    [ ! -e "$dir/$1" ] || fail "$1 still in the folder"
}

# First run: the good files are converted, the rest named, and the status is not 0.
status=0 && run "$@" || status=$?
[ "$status" -ne 0 ] || fail "the first run ended with status 0"
grep -q 'not converted: .*short\.wav' "$work/err" || fail "short.wav not named: $(cat "$work/err")"
same "$dir/short.wav" "$work/short.before"
IFS='|'
for g in $good; do converted_once "$g"; done
unset IFS
if [ "$shell" = sh ]; then
    [ "$(readlink "$dir/link.wav")" = one.wav ] || fail "link.wav is no longer the symlink"
    for h in hard.wav hard-too.wav; do
        grep -q "other hard links, not converted: .*$h" "$work/err" || fail "$h not named"
        same "$dir/$h" "$work/hard.before"
    done
fi

# The causes fixed as the README says, a second run converts only what was left.
make short.wav 6
[ "$shell" = cmd ] || rm "$dir/hard-too.wav"
run "$@" || fail "the second run failed: $(cat "$work/err")"
converted_once short.wav
[ "$shell" = cmd ] || converted_once hard.wav
IFS='|'
for g in $good; do converted_once "$g"; done
unset IFS
if [ "$shell" = sh ]; then
    page=$(sed -n '/^\.\\" recipe:sh$/,/^\.\\" \/recipe:sh$/p' "$src/doc/quoxel.1" | grep -v '^\.' |
           sed -e 's/\\-/-/g' -e "s/\\\\(aq/'/g")
    [ "$page" = "$(recipe sh)" ] || fail "the manual page's recipe differs from the README's"
fi
echo "recipe-test: the $shell recipe converts each file once, names failures and resumes"
