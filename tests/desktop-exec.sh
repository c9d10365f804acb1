# Sourced by the tests of the desktop entry and the service menu: their Exec lines run as a
# desktop runs them.

# exec_words FILE GROUP: the words of the Exec key in the group [GROUP] of the desktop file FILE,
# one a line, as the desktop entry format reads them: first the escapes of a string value (\s \n
# \t \r \\), then the words, split at spaces, where a word in double quotes keeps its spaces and a
# backslash there takes the next character as it is; %% is a %, and other field codes (%F) are
# left for the caller.
exec_words() {
    awk -v group="[$2]" '
        /^\[/ { in_group = ($0 == group); next }
        in_group && /^Exec=/ { value = substr($0, 6); found = 1; exit }
        END {
            if (!found) exit 1
            s = ""
            for (i = 1; i <= length(value); i++) {
                c = substr(value, i, 1)
                if (c == "\\") {
                    c = substr(value, ++i, 1)
                    c = c == "s" ? " " : c == "n" ? "\n" : c == "t" ? "\t" : c == "r" ? "\r" : c
                }
                s = s c
            }
            word = ""; have = 0; quoted = 0
            for (i = 1; i <= length(s); i++) {
                c = substr(s, i, 1)
                if (quoted) {
                    if (c == "\\") c = substr(s, ++i, 1)
                    else if (c == "\"") { quoted = 0; continue }
                } else if (c == " ") {
                    if (have) print word
                    word = ""; have = 0; continue
                } else if (c == "\"") {
                    quoted = 1; have = 1; continue
                } else if (c == "%") {
                    c = substr(s, ++i, 1)
                    if (c != "%") c = "%" c
                }
                word = word c; have = 1
            }
            if (quoted) exit 1
            if (have) print word
        }' "$1"
}

# run_exec FILE GROUP PATH...: runs the Exec line of [GROUP] in FILE with %F replaced by the
# PATHs, each one argument, as Dolphin and the desktops expand it.
run_exec() {
    words=$(exec_words "$1" "$2") || { echo "no Exec line in [$2] of $1"; return 1; }
    shift 2
    paths=$#
    set -f
    old_ifs=$IFS
    IFS='
'
    for word in $words; do
        if [ "$word" = %F ]; then
            i=1
            while [ "$i" -le "$paths" ]; do
                eval "set -- \"\$@\" \"\${$i}\""
                i=$((i + 1))
            done
        else
            set -- "$@" "$word"
        fi
    done
    IFS=$old_ifs
    set +f
    shift "$paths"
    "$@"
}
