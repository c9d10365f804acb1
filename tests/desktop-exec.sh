# Sourced by the tests of the desktop entry and the service menu: their Exec lines run as a
# desktop runs them.

# key_value FILE GROUP KEY: the value of KEY in [GROUP] of FILE, its escapes replaced.
key_value() {
    awk -v group="[$2]" -v key="$3=" '
        /^\[/ { in_group = ($0 == group); next }
        in_group && index($0, key) == 1 {
            value = substr($0, length(key) + 1); s = ""
            for (i = 1; i <= length(value); i++) {
                c = substr(value, i, 1)
                if (c == "\\") {
                    c = substr(value, ++i, 1)
                    c = c == "s" ? " " : c == "n" ? "\n" : c == "t" ? "\t" : c == "r" ? "\r" : c
                }
                s = s c
            }
            print s; found = 1; exit
        }
        END { exit !found }' "$1"
}

# exec_words FILE GROUP: the words of the Exec key in the group [GROUP] of the desktop file FILE,
# one a line, as the desktop entry format reads them: first the escapes of a string value
# (key_value), then the words, split at spaces, where a word in double quotes keeps its spaces and
# a backslash there takes the next character as it is; %% is a %, there too, since every literal
# % is escaped so, and other field codes (%F) are left for the caller.
exec_words() {
    value=$(key_value "$1" "$2" Exec) || return 1
    exec_value=$value awk '
        BEGIN {
            s = ENVIRON["exec_value"]
            word = ""; have = 0; quoted = 0
            for (i = 1; i <= length(s); i++) {
                c = substr(s, i, 1)
                if (quoted) {
                    if (c == "\\") c = substr(s, ++i, 1)
                    else if (c == "\"") { quoted = 0; continue }
                    else if (c == "%" && substr(s, i + 1, 1) == "%") i++
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
        }'
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

# The other file managers' right-click entries, run as each runs them. Nemo, Caja (caja-actions)
# and PCManFM-Qt read a key file's Exec value (with the escapes above), put each path of %F in
# single quotes (g_shell_quote) and %% as %, and split the line into words as GLib's shell parser
# does (shell_words); Nemo and PCManFM-Qt run it in their own folder, Caja in the folder of the
# first path. Thunar fills its command likewise and runs it by sh -c in the folder of the first
# path. GNOME Files runs its script in the folder on view (here that of the first path), with the
# names of what is in that folder relative to it.

# fill_paths COMMAND PATH...: COMMAND with %% as % and %F as the PATHs, each in single quotes.
fill_paths() {
    template=$1 list=''
    shift
    for path do
        list="$list '$(printf '%s' "$path" | sed "s/'/'\\\\''/g")'"
    done
    template=$template list=${list# } awk 'BEGIN {
        s = ENVIRON["template"]; out = ""
        for (i = 1; i <= length(s); i++) {
            c = substr(s, i, 1)
            if (c == "%") { c = substr(s, ++i, 1); c = c == "F" ? ENVIRON["list"] : c == "%" ? "%" : "%" c }
            out = out c
        }
        print out }'
}

# shell_words LINE: the words of LINE, one a line, as GLib's g_shell_parse_argv gives them: split
# at blanks, a backslash takes the next character as it is, single quotes keep everything, and in
# double quotes a backslash takes only $ ` " \ and a newline.
shell_words() {
    line=$1 awk 'BEGIN {
        s = ENVIRON["line"]; word = ""; have = 0; q = ""
        for (i = 1; i <= length(s); i++) {
            c = substr(s, i, 1)
            if (q == "'\''") { if (c == q) q = ""; else word = word c; continue }
            if (q == "\"") {
                if (c == "\"") { q = ""; continue }
                if (c == "\\" && index("$`\"\\\n", substr(s, i + 1, 1))) c = substr(s, ++i, 1)
                word = word c; continue
            }
            if (c == " " || c == "\t" || c == "\n") { if (have) print word; word = ""; have = 0; continue }
            have = 1
            if (c == "'\''" || c == "\"") q = c
            else if (c == "\\") word = word substr(s, ++i, 1)
            else word = word c
        }
        if (q != "") exit 1
        if (have) print word }'
}

# run_entry MANAGER FILE PATH...: runs the right-click entry FILE of MANAGER (gnome-files, nemo,
# thunar, caja or pcmanfm-qt) on the PATHs, as that file manager runs it; the file managers that
# run an entry in their own folder run from $HOME.
run_entry() {
    manager=$1 file=$2
    shift 2
    case $manager in
    gnome-files)
        first=$1 selected=''
        for path do selected="$selected$path
"; done
        for path do
            [ "$(dirname -- "$path")" != "$(dirname -- "$first")" ] || path=$(basename -- "$path")
            set -- "$@" "$path"
            shift
        done
        (cd "$(dirname -- "$first")" && NAUTILUS_SCRIPT_SELECTED_FILE_PATHS=$selected \
            NAUTILUS_SCRIPT_CURRENT_URI="file://$(dirname -- "$first")" "$file" "$@")
        return ;;
    nemo) exec_line=$(key_value "$file" "Nemo Action" Exec) where=$HOME ;;
    caja) exec_line=$(key_value "$file" "X-Action-Profile convert" Exec) where=$(dirname -- "$1") ;;
    pcmanfm-qt) exec_line=$(key_value "$file" "X-Action-Profile convert" Exec) where=$HOME ;;
    thunar)
        # The command's text as XML holds it: an & < or > only in an entity, which Thunar's parser
        # demands of the whole file.
        command=$(sed -n '/<unique-id>quoxel-drop<\/unique-id>/,/<\/action>/s/^[[:space:]]*<command>\(.*\)<\/command>$/\1/p' "$file")
        [ -n "$command" ] || { echo "no command of ours in $file"; return 1; }
        case $(printf '%s' "$command" | sed -E 's/&(lt|gt|amp|quot|apos);//g') in
        *[\&\<\>]*) echo "the command in $file is not text as XML holds it: $command"; return 1 ;;
        esac
        command=$(printf '%s' "$command" |
            sed -e 's/&lt;/</g' -e 's/&gt;/>/g' -e 's/&quot;/"/g' -e "s/&apos;/'/g" -e 's/&amp;/\&/g')
        (cd "$(dirname -- "$1")" && /bin/sh -c "$(fill_paths "$command" "$@")")
        return ;;
    *) echo "run_entry: no file manager $manager"; return 1 ;;
    esac
    words=$(shell_words "$(fill_paths "$exec_line" "$@")") || { echo "unbalanced quotes in $exec_line"; return 1; }
    set -f
    old_ifs=$IFS IFS='
'
    # shellcheck disable=SC2086 # one word a line
    set -- $words
    IFS=$old_ifs
    set +f
    (cd "$where" && "$@")
}
