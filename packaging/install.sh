#!/bin/sh
# install.sh [--prefix DIR] [--uninstall]: installs quoxel and quoxel-drop from the folder files/
# beside this script, for the current user and without root: into ~/.local, or into DIR. The programs
# go to bin/, their manual pages to share/man/man1/, the desktop entry to share/applications/
# and Dolphin's service menu to share/kio/servicemenus/ (Plasma 6, which runs a user's own menu
# only if it is executable) and share/kservices5/ServiceMenus/ (Plasma 5). The right-click entries
# of the other file managers go to share/nautilus/scripts/ (GNOME Files' Scripts menu),
# share/nemo/actions/ (Nemo) and share/file-manager/actions/ (Caja and PCManFM-Qt), and Thunar's is
# merged into its custom actions, ~/.config/Thunar/uca.xml. Those run quoxel-drop in a terminal
# window through share/quoxel/in-terminal. Every entry names quoxel-drop by its full path, since a
# desktop session's PATH often lacks ~/.local/bin. So that a new terminal finds quoxel-drop by its
# name, where the prefix's bin is not among the folders that PATH lists, a link to each program
# goes into the first of those that is in the home folder and can be written (~/bin, for one);
# with none, the install says the full path to type. It says first what it did, then the details.
#
# The install writes what it put in place, with a checksum of each file and the folders it
# made, to share/quoxel/installed-files. A second install replaces the files of the first; a
# file that no install of this script put there, or one changed since, is never overwritten:
# the install names it and stops before it changes anything. --uninstall removes each file of
# the record that is still as installed, then each folder of the record that is empty by then,
# and names what it leaves.
#
# The script installs a copy of itself as share/quoxel/uninstall.sh, so that the install can be
# removed once the unpacked tarball is gone: under that name it uninstalls, from the prefix it
# lives in, and removes itself with the rest.
#
# Double-clicked in a file manager, it runs with no terminal and its output would be lost: with a
# desktop session and no terminal, it runs again with its output kept, then shows that output in
# a dialog (kdialog), or its last lines as a notification (notify-send), or else writes it to a
# file beside this script and, failing that, in the home folder.
set -eu

case $(basename -- "$0") in uninstall.sh) called=uninstall.sh ;; *) called=install.sh ;; esac
if [ ! -t 1 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QUOXEL_INSTALL_SHOWN:-}" ]; then
    log=$(mktemp) || exit 1
    status=0
    QUOXEL_INSTALL_SHOWN=1 sh "$0" "$@" </dev/null >"$log" 2>&1 || status=$?
    if [ "$status" -eq 0 ]; then title="Quoxel WAV Converter: $called has finished"; else title="Quoxel WAV Converter: $called FAILED"; fi
    if command -v kdialog >/dev/null && kdialog --title "$title" --textbox "$log" 760 420; then
        :
    elif command -v notify-send >/dev/null && notify-send "$title" "$(tail -n 4 "$log")"; then
        :
    else
        # Beside install.sh, in the folder the user has open; the uninstaller's folder goes away.
        beside="$(dirname -- "$0")/$called output.txt"
        [ "$called" = install.sh ] || beside=''
        for kept in ${beside:+"$beside"} "${HOME:-/nonexistent}/quoxel $called output.txt"; do
            cp -- "$log" "$kept" 2>/dev/null && break
        done
    fi
    rm -f -- "$log"
    exit "$status"
fi

usage="usage: ./$called [--prefix DIR] [--uninstall]"
say() { printf '%s\n' "$*"; }
# detail LINE: a line of what was done, said after the summary, which comes first.
details=''
detail() { details="$details$*
"; }
die() { printf '%s: %s\n' "$called" "$*" >&2; exit 1; }

here=$(CDPATH='' cd -- "$(dirname -- "$0")" && pwd)
files_here=$here/files  # what is installed, beside install.sh in the unpacked tarball
prefix='' uninstall=''
# The uninstaller lives in PREFIX/share/quoxel: it uninstalls from PREFIX unless told otherwise.
if [ "$called" = uninstall.sh ]; then
    uninstall=1
    case $here in */share/quoxel) prefix=${here%/share/quoxel} ;; esac
fi
while [ $# -gt 0 ]; do
    case $1 in
    --prefix) [ $# -ge 2 ] || die "--prefix needs a folder; $usage"; prefix=$2; shift 2 ;;
    --prefix=*) prefix=${1#--prefix=}; shift ;;
    --uninstall) uninstall=1; shift ;;
    --help) say "$usage"; say "Installs into ~/.local unless --prefix names another folder."; exit 0 ;;
    *) die "unknown argument $1; $usage" ;;
    esac
done
if [ -z "$prefix" ]; then
    [ -n "${HOME:-}" ] || die "HOME is not set: give the folder with --prefix DIR"
    prefix=$HOME/.local
fi
case $prefix in /*) ;; *) prefix=$PWD/$prefix ;; esac
while [ "$prefix" != / ] && [ "${prefix%/}" != "$prefix" ]; do prefix=${prefix%/}; done
# A desktop entry holds one line per key, so the path of the program must fit on one.
case $prefix in *[[:cntrl:]]*) die "the folder's name has a control character (a newline?): give another with --prefix" ;; esac

record=$prefix/share/quoxel/installed-files
# Each file: its name here, its mode, and its place under the prefix (the rest of the line).
menu_name='Make converted copies of WAV files (quoxel)'
files="quoxel 755 bin/quoxel
quoxel-drop 755 bin/quoxel-drop
quoxel.1 644 share/man/man1/quoxel.1
quoxel-drop.1 644 share/man/man1/quoxel-drop.1
quoxel-drop.desktop 644 share/applications/quoxel-drop.desktop
quoxel-drop-servicemenu.desktop 755 share/kio/servicemenus/quoxel-drop-servicemenu.desktop
quoxel-drop-servicemenu.desktop 644 share/kservices5/ServiceMenus/quoxel-drop-servicemenu.desktop
in-terminal 755 share/quoxel/in-terminal
gnome-files-script 755 share/nautilus/scripts/$menu_name
quoxel-drop.nemo_action 644 share/nemo/actions/quoxel-drop.nemo_action
file-manager-action.desktop 644 share/file-manager/actions/quoxel-drop.desktop
install.sh 755 share/quoxel/uninstall.sh"

checksum() { cksum < "$1"; }  # "CRC SIZE": POSIX, so on every system

# recorded PATH: the checksum that the record holds for the file PATH, or nothing. The record's
# lines are "file CRC SIZE PATH" and "folder PATH", PATH absolute.
recorded() {
    [ -f "$record" ] || return 0
    while IFS= read -r line; do
        case $line in "file "*) ;; *) continue ;; esac
        rest=${line#file }
        sum=${rest%% /*}
        if [ "${rest#"$sum "}" = "$1" ]; then
            printf '%s\n' "$sum"
            return 0
        fi
    done < "$record"
}
# ours PATH: whether PATH is a file that the record holds, and as it was installed.
ours() {
    sum=$(recorded "$1")
    [ -n "$sum" ] && [ -f "$1" ] && [ ! -L "$1" ] && [ "$(checksum "$1")" = "$sum" ]
}
recorded_folders() {
    [ -f "$record" ] || return 0
    sed -n 's/^folder //p' "$record"
}

# Thunar keeps every custom action, the user's own among them, in one file. Ours is merged into it
# as one <action> block, written as Thunar writes its blocks, so that it stays as it is when Thunar
# saves the file; it is found again by its unique-id, and taking it out leaves the rest byte for
# byte as it was. A user who has no such file yet sees the system's actions: the new file starts
# from the system's, which it would otherwise hide. The record says "thunar PATH" for a file that
# was there, and "thunar-new CRC SIZE PATH" for one the install made, from what it started as.
uca=${XDG_CONFIG_HOME:-${HOME:-/nonexistent}/.config}/Thunar/uca.xml
# without_ours FILE: FILE without the <action> blocks that hold our unique-id.
without_ours() {
    awk '/^[ \t]*<action>[ \t]*$/ { inside = 1; ours = 0; block = "" }
        inside {
            block = block $0 "\n"
            if (index($0, "<unique-id>quoxel-drop</unique-id>")) ours = 1
            if ($0 ~ /^[ \t]*<\/action>[ \t]*$/) { inside = 0; if (!ours) printf "%s", block }
            next
        }
        { print }
        END { if (inside) printf "%s", block }' < "$1" | keep_end "$1"
}
# keep_end FILE: the text read, without its last newline where FILE has none at its end.
keep_end() { if [ -n "$(tail -c 1 "$1")" ]; then printf '%s' "$(cat)"; else cat; fi; }
# with_ours FILE BLOCK: FILE without ours, and BLOCK before its last line "</actions>"; fails,
# writing nothing, where FILE has no such line.
with_ours() {
    rest=$(without_ours "$1" | grep -n '^[[:space:]]*</actions>[[:space:]]*$' | tail -n 1) || return 1
    without_ours "$1" | block=$2 awk -v last="${rest%%:*}" '
        NR == last { while ((getline line < ENVIRON["block"]) > 0) print line }
        { print }' | keep_end "$1"
}

if [ -n "$uninstall" ]; then
    [ -f "$record" ] || die "no install recorded in $prefix ($record is not there); nothing removed"
    removed=0 left=0
    folders=$(recorded_folders)
    while IFS= read -r line; do
        case $line in "file "*) ;; *) continue ;; esac
        rest=${line#file }
        path=${rest#"${rest%% /*} "}
        if [ ! -e "$path" ] && [ ! -L "$path" ]; then
            detail "already gone: $path"
        elif ours "$path"; then
            rm -f -- "$path"
            detail "removed: $path"
            removed=$((removed + 1))
        else
            detail "changed since the install, left: $path"
            left=$((left + 1))
        fi
    done < "$record"
    # The links that made the programs reachable by name, where they still lead to them.
    while IFS= read -r line; do
        case $line in "link "*) path=${line#link } ;; *) continue ;; esac
        if [ -L "$path" ] && [ "$(readlink -- "$path")" = "$prefix/bin/${path##*/}" ]; then
            rm -f -- "$path"
            detail "removed: $path"
            removed=$((removed + 1))
        else
            detail "already gone: $path"
        fi
    done < "$record"
    # Thunar's entry comes out of its file; a file that the install made goes, unless the user
    # has changed it since.
    while IFS= read -r line; do
        case $line in
        "thunar-new "*) rest=${line#thunar-new }; start=${rest%% /*}; path=${rest#"$start "} ;;
        "thunar "*) start='' path=${line#thunar } ;;
        *) continue ;;
        esac
        if [ ! -f "$path" ] || ! grep -q '<unique-id>quoxel-drop</unique-id>' "$path"; then
            detail "already gone: Thunar's entry in $path"
            continue
        fi
        without_ours "$path" > "$path.install-new"
        if [ -n "$start" ] && [ "$(checksum "$path.install-new")" = "$start" ]; then
            rm -f -- "$path"
            detail "removed: $path"
        else
            cat "$path.install-new" > "$path"
            detail "removed Thunar's entry from: $path"
        fi
        rm -f -- "$path.install-new"
        removed=$((removed + 1))
    done < "$record"
    rm -f -- "$record"
    # A folder sorts after its parent, so in descending order every folder comes before its parent.
    sorted=$(printf '%s\n' "$folders" | LC_ALL=C sort -r -u)
    while IFS= read -r folder; do
        [ -n "$folder" ] && [ -d "$folder" ] || continue
        if rmdir -- "$folder" 2>/dev/null; then
            detail "removed folder: $folder"
        else
            detail "not empty, left: $folder"
        fi
    done <<EOF
$sorted
EOF
    if [ "$left" -eq 0 ]; then
        say "Quoxel WAV Converter is removed from $prefix: $removed files, and the record of the install."
    else
        say "Quoxel WAV Converter is removed from $prefix: $removed files; $left that you changed since are"
        say "left as they are (named below)."
    fi
    [ "$called" = uninstall.sh ] && [ ! -e "$0" ] && say "This uninstaller has removed itself."
    say ""
    printf '%s' "$details"
    exit 0
fi

for name in quoxel quoxel-drop quoxel.1 quoxel-drop.1 quoxel-drop.desktop quoxel-drop-servicemenu.desktop in-terminal \
    gnome-files-script quoxel-drop.nemo_action file-manager-action.desktop thunar-action.xml; do
    [ -f "$files_here/$name" ] || die "$files_here/$name is missing: run the install.sh of an unpacked tarball"
done

# Nothing is written before every file has been checked.
blocked=0
while read -r name mode place; do
    dest=$prefix/$place
    if { [ -e "$dest" ] || [ -L "$dest" ]; } && ! ours "$dest"; then
        printf 'install.sh: %s is there already, and this script did not install it (or it changed since)\n' \
            "$dest" >&2
        blocked=$((blocked + 1))
    fi
done <<EOF
$files
EOF
[ "$blocked" -eq 0 ] || die "nothing installed: move the file named above away, then run install.sh again"

# The folders this install makes, with those an earlier install made, which stay this script's.
folders=$(recorded_folders)
for place in bin share/man/man1 share/applications share/kio/servicemenus share/kservices5/ServiceMenus share/quoxel \
    share/nautilus/scripts share/nemo/actions share/file-manager/actions "${uca%/uca.xml}"; do
    case $place in /*) folder=$place ;; *) folder=$prefix/$place ;; esac
    while [ ! -d "$folder" ]; do
        folders="$folders
$folder"
        folder=$(dirname -- "$folder")
    done
done

# exec_argument PATH: PATH as one argument of a desktop entry's Exec key. Inside double quotes,
# " ` $ and \ take a backslash; then, as in any value of the format, each backslash is doubled,
# and a % is doubled so that it is no field code.
exec_argument() {
    printf '"%s"' "$(printf '%s' "$1" | sed -e 's/[\\"`$]/\\&/g')" | sed -e 's/\\/\\\\/g' -e 's/%/%%/g'
}
program=$(exec_argument "$prefix/bin/quoxel-drop")
# The other entries run in-terminal with quoxel-drop, each a word in single quotes, as sh and the
# file managers' splitting into words (GLib's, as a shell splits) read them; Nemo and the
# FileManager-Actions files are key files, which double each backslash, and whose codes are
# escaped by a second %; Thunar's file is XML, whose command is run by sh.
shell_word() { printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"; }
command="$(shell_word "$prefix/share/quoxel/in-terminal") $(shell_word "$prefix/bin/quoxel-drop")"
key_command=$(printf '%s' "$command" | sed -e 's/%/%%/g' -e 's/\\/\\\\/g')
uca_command=$(printf '%s' "$command" | sed -e 's/%/%%/g' -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g')
# fill NAME COMMAND: the file NAME of this folder, with COMMAND for @COMMAND@, and the program by
# its full path in a desktop entry's Exec line.
fill() {
    while IFS= read -r line; do
        case $line in
        *@COMMAND@*) line=${line%%@COMMAND@*}$2${line#*@COMMAND@} ;;
        Exec=*quoxel-drop\ *)
            start=${line%%quoxel-drop *}
            line=$start$program${line#"$start"quoxel-drop} ;;
        esac
        printf '%s\n' "$line"
    done < "$files_here/$1"
}

# Each file is written under a temporary name beside its place, then renamed over it, so that a
# program in use is replaced rather than rewritten.
list=''
while read -r name mode place; do
    dest=$prefix/$place
    new=$dest.install-new
    mkdir -p -- "$(dirname -- "$dest")"
    case $name in
    *.nemo_action | file-manager-action.desktop) fill "$name" "$key_command" > "$new" ;;
    *.desktop | gnome-files-script) fill "$name" "$command" > "$new" ;;
    install.sh) cp -- "$here/$name" "$new" ;;
    *) cp -- "$files_here/$name" "$new" ;;
    esac
    chmod "$mode" "$new"
    mv -f -- "$new" "$dest"
    list="${list}file $(checksum "$dest") $dest
"
    detail "installed: $dest"
done <<EOF
$files
EOF

# Thunar's entry, merged into its file: the user's own, or a new one started from the system's.
thunar=$(grep -E '^thunar(-new)? ' "$record" 2>/dev/null | head -n 1) || thunar=''
mkdir -p -- "${uca%/uca.xml}"
fill thunar-action.xml "$uca_command" > "$uca.install-block"
if [ -f "$uca" ]; then
    start=$uca
    [ -n "$thunar" ] || thunar="thunar $uca"
else
    start=$uca.install-start
    system=''
    old_ifs=$IFS IFS=:
    for dir in ${XDG_CONFIG_DIRS:-/etc/xdg}; do
        [ -f "$dir/Thunar/uca.xml" ] && system=$dir/Thunar/uca.xml && break
    done
    IFS=$old_ifs
    if [ -n "$system" ]; then
        cp -- "$system" "$start"
    else
        printf '<?xml version="1.0" encoding="UTF-8"?>\n<actions>\n</actions>\n' > "$start"
    fi
    thunar="thunar-new $(without_ours "$start" | cksum) $uca"
fi
if with_ours "$start" "$uca.install-block" > "$uca.install-new"; then
    if [ -f "$uca" ]; then cat "$uca.install-new" > "$uca"; else mv -f -- "$uca.install-new" "$uca"; fi
    detail "installed: Thunar's entry in $uca"
else
    detail "not installed: Thunar's entry, since $uca holds no line </actions> to put it before"
    thunar=''
fi
rm -f -- "$uca.install-block" "$uca.install-start" "$uca.install-new"

# The programs by name in a new terminal: a terminal finds programs in the folders that its PATH
# lists. Where the prefix's bin is not one of them, a link to each program goes into the first of
# them that is in the home folder and can be written, unless another file of that name is there.
reachable=''
links=''
case ":$PATH:" in
*":$prefix/bin:"*) reachable=$prefix/bin ;;
*)
    old_ifs=$IFS IFS=:
    for dir in $PATH; do
        case $dir in "${HOME:-/nonexistent}"/*) ;; *) continue ;; esac
        [ -d "$dir" ] && [ -w "$dir" ] || continue
        for name in quoxel quoxel-drop; do
            [ ! -e "$dir/$name" ] && [ ! -L "$dir/$name" ] && continue
            [ -L "$dir/$name" ] && [ "$(readlink -- "$dir/$name")" = "$prefix/bin/$name" ] && continue
            continue 2
        done
        reachable=$dir
        break
    done
    IFS=$old_ifs
    if [ -n "$reachable" ]; then
        for name in quoxel quoxel-drop; do
            ln -sf -- "$prefix/bin/$name" "$reachable/$name"
            links="${links}link $reachable/$name
"
            detail "installed: $reachable/$name, a link to $prefix/bin/$name"
        done
    fi ;;
esac

mkdir -p -- "$(dirname -- "$record")"
{
    printf '%s' "$list"
    printf '%s' "$links"
    [ -z "$thunar" ] || printf '%s\n' "$thunar"
    printf '%s\n' "$folders" | LC_ALL=C sort -u | sed -n 's/^\(.\)/folder \1/p'
} > "$record.install-new"
mv -f -- "$record.install-new" "$record"

say "Quoxel WAV Converter is installed for you, in $prefix."
say ""
say "To make converted copies of a game's sounds, right-click its sound folder, or .wav files, in"
say "your file manager and choose \"$menu_name\""
say "(in GNOME Files, under Scripts; in Dolphin, Nemo, Thunar, Caja and PCManFM-Qt, in the menu"
say "itself), or drop them on \"Quoxel WAV Converter\" from the application menu."
if [ -n "$reachable" ]; then
    say "In a new terminal window, type: quoxel-drop FOLDER"
else
    say "In a terminal, type the program's full path, then the folder:"
    say "  \"$prefix/bin/quoxel-drop\" FOLDER"
fi
say "To remove it all, run its uninstaller, which removes itself too:"
say "  \"$prefix/share/quoxel/uninstall.sh\""
say ""
say "What was installed, as recorded in $record:"
printf '%s' "$details"
