#!/bin/sh
# deb-test.sh PACKAGE.deb: as root, checks the package's metadata, installs it, runs the
# installed tool on a file, reads the manual pages, checks the drop program's desktop entry and
# Dolphin service menus and starts their Exec lines as a desktop and Dolphin do for a dropped or
# selected folder, runs the right-click entries of Nemo, Caja and PCManFM-Qt and GNOME Files' script
# as those file managers run them, and removes it again: every file it installed is gone, and a
# folder of it that stays is another package's too, or holds files of others (Konsole's package
# owns /usr/share/kio, for one).
set -eu
deb=$(readlink -f "$1")
. "$(dirname "$0")/common.sh"
. "$(dirname "$0")/desktop-exec.sh"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = quoxel ] || fail "package name"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture"
# The service menu runs Konsole, which a desktop other than Plasma lacks: recommended, alone or
# before another terminal.
case ", $(field Recommends), " in *", konsole, "* | *", konsole | "*) ;; *) fail "the package does not recommend konsole: $(field Recommends)" ;; esac
[ -n "$(field Version)" ] && [ -n "$(field Maintainer)" ] && [ -n "$(field Description)" ] || fail "missing fields"
# Listed once: grep -q on a live pipe would end dpkg-deb with a broken pipe.
contents=$(dpkg-deb -c "$deb")
has() { printf '%s\n' "$contents" | grep -q "$1"; }
has './usr/share/doc/quoxel/copyright$' || fail "no copyright file"
has './usr/share/man/man1/quoxel.1.gz$' || fail "no compressed manual page"
has './usr/share/doc/quoxel/changelog.gz$' || fail "no changelog"
has './usr/bin/quoxel-drop$' || fail "no drop program"
has './usr/share/man/man1/quoxel-drop.1.gz$' || fail "no manual page of the drop program"
has './usr/share/applications/quoxel-drop.desktop$' || fail "no desktop entry"
menus="/usr/share/kio/servicemenus/quoxel-drop-servicemenu.desktop /usr/share/kservices5/ServiceMenus/quoxel-drop-servicemenu.desktop"
nemo_action=/usr/share/nemo/actions/quoxel-drop.nemo_action
fma=/usr/share/file-manager/actions/quoxel-drop.desktop
for menu in $menus $nemo_action $fma; do
    has "^-rw-r--r-- .* \.$menu\$" || fail "no right-click entry $menu, or not rw-r--r--"
done
for script in /usr/share/quoxel/in-terminal /usr/share/quoxel/gnome-files-script; do
    has "^-rwxr-xr-x .* \.$script\$" || fail "no $script, or not rwxr-xr-x"
done

dpkg -s quoxel >/dev/null 2>&1 && fail "quoxel is installed already"
dpkg -i "$deb"
work=$(mktemp -d)
trap 'rm -rf "$work"; dpkg -r quoxel >/dev/null 2>&1 || true' EXIT

printf 'RIFF\022\064\253' > "$work/f.wav"
quoxel "$work/f.wav"
[ "$(od -An -tx1 "$work/f.wav" | tr -d ' \n')" = "524946462143ba" ] || fail "installed tool did not convert"
[ "$(command -v quoxel)" = /usr/bin/quoxel ] || fail "not in /usr/bin"
man -w quoxel | grep -q '/usr/share/man/man1/quoxel.1' || fail "man does not find the page"
man -w quoxel-drop | grep -q '/usr/share/man/man1/quoxel-drop.1' || fail "man does not find the drop program's page"

# The desktop entry: valid, in a terminal, and its Exec line, with %F replaced by the dropped
# paths as a desktop does, converts a dropped folder whose name has a space. Standard input is no
# terminal here, so the program must not wait for Enter.
entry=/usr/share/applications/quoxel-drop.desktop
desktop-file-validate "$entry" || fail "the desktop entry is not valid"
grep -qx 'Terminal=true' "$entry" || fail "the desktop entry opens no terminal"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
case $exec_line in quoxel-drop\ *%F) ;; *) fail "Exec=$exec_line does not start quoxel-drop with the dropped files" ;; esac
mkdir -p "$work/My Sounds/sfx"
head -c 3000 /dev/urandom >"$work/My Sounds/sfx/door.wav"
cp "$work/My Sounds/sfx/door.wav" "$work/expected.wav" && quoxel "$work/expected.wav"
# shellcheck disable=SC2086 # the Exec line's words, as the desktop splits them
set -- ${exec_line%%%F} "$work/My Sounds"
timeout -k 5 60 "$@" </dev/null >"$work/out" 2>&1 || fail "the Exec line failed: $(cat "$work/out")"
cmp -s "$work/expected.wav" "$work/My Sounds/converted/sfx/door.wav" || fail "the dropped folder was not converted"

# The service menus: valid but for the keys that only Plasma's menus have, on folders and WAV
# files, and their Exec line, run with a stand-in for Konsole that runs its -e command, converts a
# selected folder whose name has a space and a quote.
mkdir "$work/bin"
printf '#!/bin/sh\n[ "$1" = -e ] || exit 99\nshift\nexec "$@"\n' > "$work/bin/konsole"
chmod 755 "$work/bin/konsole"
mkdir -p "$work/Game's sounds/sfx"
cp "$work/My Sounds/sfx/door.wav" "$work/Game's sounds/sfx/"
for menu in $menus; do
    desktop-file-validate "$menu" | grep -v -E 'key "(MimeType|Actions)" is present in group "Desktop Entry", but the type is "Service"' &&
        fail "the service menu $menu is not valid"
    grep -qx 'MimeType=inode/directory;audio/x-wav;audio/wav;' "$menu" || fail "$menu is not offered on folders and WAV files"
    rm -rf "$work/Game's sounds/converted"
    PATH=$work/bin:$PATH run_exec "$menu" "Desktop Action convert" "$work/Game's sounds" </dev/null >"$work/out" 2>&1 ||
        fail "the Exec line of $menu failed: $(cat "$work/out")"
    cmp -s "$work/expected.wav" "$work/Game's sounds/converted/sfx/door.wav" || fail "$menu did not convert the folder"
done

# The other file managers' entries, each run as its file manager runs it, in a terminal: a
# stand-in for x-terminal-emulator that runs its -e command in the home folder, and GNOME Files'
# script copied into a user's scripts folder as the README says. Each names quoxel-drop by its
# full path.
printf '#!/bin/sh\n[ "$1" = -e ] || exit 99\nshift\ncd && exec "$@"\n' > "$work/bin/x-terminal-emulator"
chmod 755 "$work/bin/x-terminal-emulator"
mkdir -p "$work/home/.local/share/nautilus/scripts"
cp /usr/share/quoxel/gnome-files-script "$work/home/.local/share/nautilus/scripts/Make converted copies of WAV files (quoxel)"
cp "$work/My Sounds/sfx/door.wav" "$work/take 1.wav"
for row in "gnome-files|$work/home/.local/share/nautilus/scripts/Make converted copies of WAV files (quoxel)" \
    "nemo|$nemo_action" "caja|$fma" "pcmanfm-qt|$fma"; do
    grep -q "'/usr/bin/quoxel-drop' --wait" "${row#*|}" || fail "${row#*|} does not name /usr/bin/quoxel-drop"
    rm -rf "$work/Game's sounds/converted" "$work/converted"
    HOME=$work/home PATH=$work/bin:$PATH run_entry "${row%%|*}" "${row#*|}" "$work/Game's sounds" "$work/take 1.wav" \
        </dev/null >"$work/out" 2>&1 || fail "the entry of ${row%%|*} failed: $(cat "$work/out")"
    cmp -s "$work/expected.wav" "$work/Game's sounds/converted/sfx/door.wav" && cmp -s "$work/expected.wav" "$work/converted/take 1.wav" ||
        fail "the entry of ${row%%|*} did not convert the folder and the file: $(cat "$work/out")"
done

# Removed: what the package installed is gone, but for folders that others share.
installed=$(dpkg -L quoxel)
dpkg -r quoxel
printf '%s\n' "$installed" | while IFS= read -r f; do
    if [ -d "$f" ]; then
        [ -n "$(ls -A "$f")" ] || dpkg -S "$f" >/dev/null 2>&1 || fail "the empty folder $f, no other package's, left after removal"
    elif [ -e "$f" ] || [ -L "$f" ]; then
        fail "$f left after removal"
    fi
done
dpkg -s quoxel >/dev/null 2>&1 && fail "still registered after removal"
echo "deb-test: $(basename "$deb") installs, runs and removes cleanly"
