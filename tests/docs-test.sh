#!/bin/sh
# docs-test.sh SOURCE_DIR MANPAGE: the manual page renders without warnings, and every example
# diagnostic in the README, the manual page and the Windows README names a line of quoxel.cpp
# that reports that call.
set -eu
src=$1 man=$2
status=0

out=$(groff -ww -z -man "$man" 2>&1) || { echo "groff failed"; status=1; }
[ -z "$out" ] || { printf 'groff: %s\n' "$out"; status=1; }
if command -v mandoc >/dev/null; then
    mandoc -T lint -W warning "$man" || status=1
fi

for doc in "$src/README.md" "$man" "$src/doc/windows-readme.txt"; do
    examples=$(grep -o -E 'quoxel\.cpp:[0-9]+:[a-z_]+:[a-z]+' "$doc" || true)
    [ -n "$examples" ] || { echo "$doc: no example diagnostics"; status=1; }
    for example in $examples; do
        line=$(echo "$example" | cut -d: -f2) call=$(echo "$example" | cut -d: -f4)
        if ! sed -n "${line}p" "$src/quoxel.cpp" | grep -q "report_[a-z_]*(\"$call\""; then
            echo "$doc: $example: line $line of quoxel.cpp does not report \"$call\""
            status=1
        fi
    done
done
exit $status
