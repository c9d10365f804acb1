#!/bin/sh
# docs-test.sh SOURCE_DIR MANPAGE [DROP_MANPAGE [TARBALL]]: the manual pages render without warnings; every example report
# in the README, CONTRIBUTING.md, bench/README.md, the pages under doc/, the manual page and the Windows and Linux READMEs
# names a line of quoxel.cpp that reports that call, in the function it names; the block size and the number of
# kept bytes that the documents state are those quoxel.cpp defines; the README is a user's page of
# at most 450 lines whose first screen says what the program does and where the copies go, in
# plain words, and whose "From source" keeps the commands of a fresh clone; it leads to
# CONTRIBUTING.md (building, testing, the layout, fuzzing), bench/README.md (the benchmark) and the
# pages of the tool, its recipes and the drop programs under doc/, and every link between the
# documents reaches a file and a heading that are there. Given the Linux tarball, the sizes that
# the README states for it and its programs (in its folder files/) are theirs, within 3 %. Every
# mismatch is named, with where the call is reported now, before the test fails.
set -eu
src=$1 man=$2 drop_man=${3:-} tarball=${4:-}
. "$(dirname "$0")/common.sh"
source=$src/quoxel.cpp
markdown="$src/README.md $src/CONTRIBUTING.md $src/bench/README.md $src/doc/quoxel-tool.md $src/doc/converting-many-files.md
          $src/doc/drop-programs.md"
docs="$markdown $man $src/doc/windows-readme.txt $src/doc/linux-readme.txt"
mismatches=0
mismatch() { printf '%s\n' "$*"; mismatches=$((mismatches + 1)); }

for page in "$man" ${drop_man:+"$drop_man"}; do
    out=$(groff -ww -z -man "$page" 2>&1) || mismatch "groff failed on $page"
    [ -z "$out" ] || mismatch "groff: $out"
    if command -v mandoc >/dev/null; then
        mandoc -T lint -W warning "$page" || mismatch "mandoc finds fault with $page"
    fi
done

# "LINE FUNCTION CALL" for each report in quoxel.cpp; the function is the last definition above it,
# a line that starts in the first column and ends with "{".
sites=$(awk '
    /^[A-Za-z].*\(.*\) \{$/ { function_name = $0; sub(/\(.*/, "", function_name); sub(/.*[ *]/, "", function_name) }
    match($0, /report_[a-z_]+\("[a-z]+"/) {
        call = substr($0, RSTART, RLENGTH); sub(/.*\("/, "", call); sub(/"$/, "", call)
        print NR, function_name, call
    }' "$source")
for doc in $docs; do
    for example in $(grep -o -E 'quoxel\.cpp:[0-9]+:[a-z_]+:[a-z]+' "$doc" || true); do
        line=$(echo "$example" | cut -d: -f2) function=$(echo "$example" | cut -d: -f3) call=$(echo "$example" | cut -d: -f4)
        echo "$sites" | grep -q -x "$line $function $call" && continue
        now=$(echo "$sites" | awk -v call="$call" '$3 == call { printf " quoxel.cpp:%s:%s:%s", $1, $2, $3 }')
        mismatch "$doc: $example: quoxel.cpp reports $call at${now:- no line}"
    done
done
for doc in "$src/doc/quoxel-tool.md" "$man"; do
    grep -q -E 'quoxel\.cpp:[0-9]+:' "$doc" || mismatch "$doc: no example report"
done

# The block size and the kept bytes, as quoxel.cpp defines them and as the documents state them:
# "2048-byte block", "blocks of 2048 bytes"; "from offset 4", "first four bytes", "4-byte lead-in".
block=$(sed -n 's/^constexpr std::size_t block_size = \([0-9]*\);.*/\1/p' "$source")
kept=$(sed -n 's/^constexpr std::int64_t kept_bytes = \([0-9]*\);.*/\1/p' "$source")
[ -n "$block" ] && [ -n "$kept" ] || fail "quoxel.cpp defines no block_size or no kept_bytes"
numbers() {  # PATTERN DOC: the number in each match, a number word made a number
    grep -o -E "$1" "$2" | sed -e 's/one/1/;s/two/2/;s/three/3/;s/four/4/;s/five/5/;s/six/6/;s/eight/8/' |
        grep -o -E '[0-9]+' || true
}
for doc in $docs; do
    for stated in $(numbers '[0-9]+-byte blocks?|blocks of [0-9]+ bytes' "$doc"); do
        [ "$stated" = "$block" ] || mismatch "$doc: states a block of $stated bytes; quoxel.cpp's block_size is $block"
    done
    for stated in $(numbers 'from offset [0-9]+|first ([0-9]+|[a-z]+) bytes|[0-9]+-byte lead-in' "$doc"); do
        [ "$stated" = "$kept" ] || mismatch "$doc: states $stated kept bytes; quoxel.cpp's kept_bytes is $kept"
    done
done
for doc in "$src/doc/quoxel-tool.md" "$man"; do
    [ -n "$(numbers '[0-9]+-byte blocks?|blocks of [0-9]+ bytes' "$doc")" ] || mismatch "$doc: states no block size"
    [ -n "$(numbers 'from offset [0-9]+|first ([0-9]+|[a-z]+) bytes' "$doc")" ] || mismatch "$doc: states no kept bytes"
done
# Each document holds the sections that the README sends its readers to.
headings() { sed -n 's/^#\{1,6\} //p' "$1"; }
for wanted in "README.md|CONTRIBUTING.md" "README.md|bench/README.md" "README.md|doc/quoxel-tool.md" \
    "README.md|doc/converting-many-files.md" "README.md|doc/drop-programs.md" "README.md|From source" "CONTRIBUTING.md|Quick start" \
    "CONTRIBUTING.md|Building and testing" "CONTRIBUTING.md|Fuzzing" "CONTRIBUTING.md|Layout" "bench/README.md|Benchmark"; do
    doc=${wanted%%|*} what=${wanted#*|}
    case $what in
    *.md) grep -q -F "]($what)" "$src/$doc" || mismatch "$doc: no link to $what" ;;
    *) headings "$src/$doc" | grep -q -x -F "$what" || mismatch "$doc: no section \"$what\"" ;;
    esac
done
# The README is a user's page: at most 450 lines, whose first screen, up to its first section,
# says in plain words what the program does and where the copies go, and keeps the tool's
# terms for its own page.
readme=$src/README.md
[ "$(wc -l < "$readme")" -le 450 ] || mismatch "README.md: $(wc -l < "$readme") lines, more than 450"
first_screen=$(sed '/^## /,$d' "$readme")
for words in "makes converted copies" "inside the folder you choose" "beside it"; do
    printf '%s\n' "$first_screen" | tr '\n' ' ' | grep -q -F "$words" || mismatch "README.md: the first screen does not say \"$words\""
done
for words in 4-bit nibble root x86-64 offset; do
    printf '%s\n' "$first_screen" | grep -q -i -w -e "$words" && mismatch "README.md: the first screen says \"$words\""
done
# Words that agree: the copies of a folder go inside it, and only a file given on its own has them
# beside it; the program has one name.
for doc in "$readme" "$src/doc/linux-readme.txt" "$src/doc/windows-readme.txt" "$drop_man" "$src/doc/drop-programs.md"; do
    [ -n "$doc" ] || continue
    words=$(tr '\n' ' ' < "$doc" | grep -o -i -E 'converted"? beside (what|them|the folders?|each folder|a folder)[^.]{0,40}' | head -n 1) || true
    [ -z "$words" ] || mismatch "$doc: the copies \"$words\"; a folder's go inside it"
done
for doc in "$readme" "$src/doc/linux-readme.txt" "$src/doc/windows-readme.txt" "$drop_man" "$src/packaging/install.sh"; do
    [ -z "$doc" ] || grep -q -F 'Quoxel WAV Converter' "$doc" || mismatch "$doc: does not name the program Quoxel WAV Converter"
    [ -z "$doc" ] || ! grep -q -i 'Quoxel Drop\b' "$doc" || mismatch "$doc: names the program otherwise than Quoxel WAV Converter"
done
# The two commands from a fresh clone stay in the README, under "From source".
sed -n '/^## From source$/,/^## /p' "$readme" | grep -q -F 'cmake --workflow --preset release' &&
    sed -n '/^## From source$/,/^## /p' "$readme" | grep -q -F './build/release/quoxel build/demo.bin' ||
    mismatch "README.md: \"From source\" lacks the commands that build and run, and build and test"
# Every link to a file of the tree, and to a heading: GitHub's anchor of a heading is its text in
# small letters, without punctuation, with a hyphen for each space.
anchors() { headings "$1" | tr 'A-Z' 'a-z' | sed -e 's/[^a-z0-9 _-]//g' -e 's/ /-/g'; }
for doc in $markdown; do
    for link in $(grep -o -E '\]\([^) ]+\)' "$doc" | sed -e 's/^](//' -e 's/)$//'); do
        case $link in http*|mailto:*) continue ;; esac
        file=${link%%#*} anchor=''
        case $link in *#*) anchor=${link#*#} ;; esac
        target=$doc
        [ -z "$file" ] || target=$(dirname "$doc")/$file
        [ -e "$target" ] || { mismatch "$doc: the link $link leads to no file"; continue; }
        [ -z "$anchor" ] || anchors "$target" | grep -q -x -F "$anchor" ||
            mismatch "$doc: the link $link leads to no heading of $(basename "$target")"
    done
done

# The sizes that the README states for the Linux tarball and its programs, against the built
# ones: "The tarball is about 830 KiB", "`quoxel` is about 680 KiB", "`quoxel-drop` about 1.14 MiB".
if [ -n "$tarball" ]; then
    unpacked=$(mktemp -d)
    trap 'rm -rf "$unpacked"' EXIT
    tar -xzf "$tarball" -C "$unpacked"
    folder=$unpacked/$(basename "$tarball" .tar.gz)/files
    for row in "$tarball|The tarball is about" "$folder/quoxel|\`quoxel\` is about" "$folder/quoxel-drop|\`quoxel-drop\` about"; do
        file=${row%%|*} words=${row#*|}
        stated=$(tr '\n' ' ' < "$src/README.md" | grep -o -E "$words +[0-9.]+ (KiB|MiB)" | head -n 1 | sed "s/^$words *//")
        [ -n "$stated" ] || { mismatch "README.md: states no size after \"$words\""; continue; }
        actual=$(stat -c %s "$file")
        awk -v stated="$stated" -v actual="$actual" 'BEGIN {
            split(stated, part, " "); bytes = part[1] * (part[2] == "MiB" ? 1048576 : 1024)
            exit !(bytes >= actual * 0.97 && bytes <= actual * 1.03) }' ||
            mismatch "README.md: \"$words $stated\", but $(basename "$file") has $actual bytes"
    done
fi
[ "$mismatches" -eq 0 ] || fail "$mismatches mismatches between the documents and the source"
echo "docs-test: the manual page renders, and the documents agree with quoxel.cpp"
