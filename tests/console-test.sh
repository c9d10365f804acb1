#!/bin/sh
# console-test.sh TOOL WINDOWS_DIR WINE WINESERVER: drop-files-here.exe in a console window of its own, as
# Explorer starts it for a drop: under Xvfb, Wine's wineconsole gives it a real console window,
# and xdotool reads the window's title and types into it. A drop there shows its progress in the
# title and waits for Enter before its window closes; Ctrl+C typed into the window stops it
# cleanly: no temporary copy stays, every copy is whole, and the status is 130 once Enter is
# pressed. Started on its own, it adds the right-click entries and takes them away, and these run
# as Explorer runs them (shell_run.exe). TOOL, the build host's quoxel, checks the copies. It has
# a Wine prefix of its own, since the desktop of a prefix is made by the first program that Wine
# starts there: one started without an X display gives no program of that prefix a window.
set -eu
tool=$1 windows_dir=$2 wine=$3 wineserver=$4
. "$(dirname "$0")/common.sh"
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || fail "needs Xvfb and xdotool"

work=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 800x600x24 3>"$work/display" </dev/null >/dev/null 2>&1 &
xvfb=$!
export WINEPREFIX=$work/prefix
# Under set -e a command that fails in the trap would end it, and the test, with status 1: a server
# or an Xvfb that has gone already is no failure.
trap '"$wineserver" -k 2>/dev/null || true; "$wineserver" -w || true; kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
display_ready() { [ -s "$work/display" ]; }
within 10 display_ready || fail "Xvfb did not start"
DISPLAY=:$(cat "$work/display")
export DISPLAY
"$wine" cmd /c exit </dev/null >/dev/null 2>&1 || fail "$wine cannot make a prefix in $WINEPREFIX"
ulimit -S -f 4096  # 2 MiB, after the prefix, so that a runaway fails instead of filling the disk

# console FOLDER: the drop program on FOLDER in a console window of its own, in the background.
console() {
    LC_ALL=C.UTF-8 "$wine" wineconsole "$windows_dir/drop-files-here.exe" "$(windows_path "$1")" \
        </dev/null >"$work/log" 2>&1 &
    pid=$!
}
window() { window=$(xdotool search --name 'drop-files-here' 2>/dev/null | head -n 1) && [ -n "$window" ]; }
copies() { find "$1/converted" -name '*.wav' 2>/dev/null | wc -l; }
has_copies() { [ "$(copies "$1")" -ge "$2" ]; }
in_progress() { window && case $(xdotool getwindowname "$window") in "["*"/$1] "*) ;; *) false ;; esac; }
ended() {
    status=0 && wait "$pid" || status=$?
    [ "$status" -eq "$1" ] || fail "status $status, not $1: $(cat "$work/log")"
}

# ---- A drop waits for Enter before its window closes ----
dir=$work/small
mkdir -p "$dir" && for i in 1 2 3; do head -c 3000 /dev/urandom >"$dir/$i.wav"; done
console "$dir"
within 60 has_copies "$dir" 3 || fail "no copies made in the console window: $(cat "$work/log")"
sleep 1
kill -0 "$pid" 2>/dev/null || fail "the window closed without waiting for Enter: $(cat "$work/log")"
within 10 window || fail "no console window"
xdotool key --window "$window" Return 2>/dev/null || true  # it may say BadWindow, and type all the same
ended 0

# ---- Ctrl+C typed into the window ----
dir=$work/many
mkdir -p "$dir"
head -c 40000000 /dev/urandom | (cd "$dir" && split -b 20000 -a 3 --additional-suffix=.wav - f)
# The drop stands still where it is (SIGSTOP) while Ctrl+C is typed, so that Ctrl+C comes in the
# middle of the drop whatever the machine's load; a drop that got near its end before it stood
# still is let go, closed and started again.
drop_process() {
    for candidate in $(pgrep -f 'drop-files-here\.exe'); do
        tr '\0' ' ' <"/proc/$candidate/cmdline" | grep -q wineconsole || echo "$candidate"
    done
}
title_restored() { window && case $(xdotool getwindowname "$window") in "["*) false ;; esac; }
for attempt in 1 2 3 4 5; do
    rm -rf "$dir/converted"
    console "$dir"
    within 60 in_progress 2000 || fail "no progress in the window's title"
    drop_pid=$(drop_process)
    [ -n "$drop_pid" ] || fail "no process of the drop"
    kill -STOP $drop_pid
    [ "$(copies "$dir")" -ge 1990 ] || break
    [ "$attempt" -lt 5 ] || fail "five drops got near their end before they stood still"
    kill -CONT $drop_pid
    within 60 title_restored || fail "the drop did not end"
    xdotool key --window "$window" Return 2>/dev/null || true
    ended 0
done
xdotool key --window "$window" ctrl+c 2>/dev/null || true
kill -CONT $drop_pid
# The title is the window's own again once the drop has ended its work.
within 60 title_restored || fail "the drop did not end after Ctrl+C"
made=$(copies "$dir")
[ "$made" -lt 2000 ] || fail "Ctrl+C did not stop the drop"
[ -z "$(find "$dir/converted" -name '*.tmp')" ] || fail "Ctrl+C left $(find "$dir/converted" -name '*.tmp')"
kill -0 "$pid" 2>/dev/null || fail "the window closed after Ctrl+C without waiting for Enter"
xdotool key --window "$window" Return 2>/dev/null || true  # it may say BadWindow, and type all the same
ended 130
for copy in "$dir"/converted/*.wav; do
    cp "$dir/${copy##*/}" "$work/check.wav" && "$tool" "$work/check.wav"
    cmp -s "$work/check.wav" "$copy" || fail "${copy##*/} is not whole after Ctrl+C"
done
# ---- Started on its own: the right-click entries added, added again, run as Explorer runs them, taken away ----
# The program where a user unpacked it, in a folder whose name has a space, &, %1 (which Explorer
# fills in on a command line) and letters of other scripts. The user has entries of their own: a
# verb for folders, a program for .wav files, a value of .wav files and a shortcut in Send To.
programs="$work/quoxel 1.0 & 50%1 ünï Ωμέγα"
mkdir "$programs" && cp "$windows_dir/drop-files-here.exe" "$programs"
program=$(windows_path "$programs/drop-files-here.exe")
reg() { LC_ALL=C.UTF-8 "$wine" reg "$@" </dev/null >/dev/null 2>&1 || fail "reg $* failed"; }
reg add 'HKCU\Software\Classes\Directory\shell\theirs\command' /ve /d 'their.exe "%1"' /f
reg add 'HKCU\Software\Classes\.wav' /ve /d their.player /f
reg add 'HKCU\Software\Classes\SystemFileAssociations\.wav' /v PerceivedType /d audio /f
sendto=$(find "$WINEPREFIX/drive_c/users" -type d -name SendTo | head -n 1)
[ -d "$sendto" ] || fail "no Send To folder in $WINEPREFIX"
echo theirs >"$sendto/Their own.lnk"
shortcut="$sendto/Make converted copies (quoxel).lnk"
# classes NAME: the user's classes, as reg exports them in UTF-16, in $work/NAME in UTF-8.
classes() {
    reg export 'HKCU\Software\Classes' "$(windows_path "$work/$1.reg")" /y
    iconv -f UTF-16 -t UTF-8 "$work/$1.reg" | tr -d '\r' >"$work/$1"
}
# section KEY: the values of HKEY_CURRENT_USER\KEY in $work/added, one a line.
section() {
    head="[HKEY_CURRENT_USER\\$1]" awk '$0 == ENVIRON["head"] { on = 1; next } on && $0 == "" { exit } on' "$work/added"
}
no_window() { ! window; }
# Enter typed into the program's window until it closes. A key typed before the program waits
# for Enter is dropped, as the program clears what was typed before it waits.
enter_until_closed() { ! window || { xdotool key --window "$window" Return 2>/dev/null || true; false; }; }
# alone [KEY]: the program started on its own in its window, KEY and Enter typed, and the window
# closed; status 0.
alone() {
    within 10 no_window || fail "a window is left"
    LC_ALL=C.UTF-8 "$wine" wineconsole "$program" </dev/null >"$work/log" 2>&1 &
    pid=$!
    within 10 window || fail "no window for the program started on its own: $(cat "$work/log")"
    xdotool key --window "$window" "$@" Return 2>/dev/null || true
    within 30 enter_until_closed || fail "the window did not close after $* Enter: $(cat "$work/log")"
    ended 0
}
classes before
alone  # just Enter: nothing changes
classes unchanged
cmp -s "$work/before" "$work/unchanged" && [ ! -e "$shortcut" ] || fail "just Enter changed: $(diff "$work/before" "$work/unchanged")"

alone a
classes added
[ -f "$shortcut" ] || fail "no shortcut in Send To: $(ls "$sendto")"
# As reg exports a text: each backslash and quote after a backslash.
exported() { printf '%s' "$1" | sed 's/\\/\\\\/g; s/"/\\"/g'; }
command="\"$(printf '%s' "$program" | sed 's/%/%%/g')\" \"%1\""
for kind in 'Directory' 'SystemFileAssociations\.wav'; do
    key="Software\\Classes\\$kind\\shell\\quoxel"
    [ "$(section "$key")" = '@="Make converted copies (quoxel)"
"MultiSelectModel"="Single"' ] || fail "$key holds: $(section "$key")"
    [ "$(section "$key\\command")" = "@=\"$(exported "$command")\"" ] || fail "$key\\command holds: $(section "$key\\command")"
done

: >"$work/marker"
alone a
classes again
cmp -s "$work/added" "$work/again" || fail "a second add changed the classes: $(diff "$work/added" "$work/again")"
[ -z "$(find "$shortcut" -newer "$work/marker")" ] || fail "a second add wrote the shortcut again"

# The entries run as Explorer runs them: the right-click entry through the shell, which fills in
# its command line, on a folder and on a .wav file; the shortcut with two folders, as Send to
# passes them, in one window.
data="$work/sounds & 5% x"
mkdir -p "$data/one" "$data/two" && for f in one/a.wav two/b.wav c.wav; do head -c 3000 /dev/urandom >"$data/$f"; done
# entry COPY ARG...: shell_run.exe on ARG..., until COPY is made; then Enter, and the window closes.
entry() {
    copy=$1
    shift
    LC_ALL=C.UTF-8 "$wine" "$windows_dir/tests/shell_run.exe" "$@" </dev/null >"$work/log" 2>&1 &
    pid=$!
    within 60 test -f "$copy" || fail "no $copy from shell_run.exe $*: $(cat "$work/log")"
    within 30 enter_until_closed || fail "the window did not close: $(cat "$work/log")"
    ended 0
}
entry "$data/one/converted/a.wav" Directory quoxel "$(windows_path "$data/one")"
entry "$data/converted/c.wav" 'SystemFileAssociations\.wav' quoxel "$(windows_path "$data/c.wav")"
rm -r "$data/one/converted"
# The shortcut by its name on drive C:, as Explorer names it: Wine's shell runs no shortcut named
# through drive Z:.
entry "$data/two/converted/b.wav" "$(printf 'C:/%s' "${shortcut#"$WINEPREFIX/drive_c/"}" | tr / '\\')" \
    "$(windows_path "$data/one")" "$(windows_path "$data/two")"
[ -f "$data/one/converted/a.wav" ] || fail "Send to converted only the last folder"
for f in one/a.wav two/b.wav c.wav; do
    cp "$data/$f" "$work/check.wav" && "$tool" "$work/check.wav"
    cmp -s "$work/check.wav" "$data/$(dirname "$f")/converted/${f##*/}" || fail "the copy of $f is not converted"
done

alone r
classes after
cmp -s "$work/before" "$work/after" || fail "taking the entries away left: $(diff "$work/before" "$work/after")"
[ ! -e "$shortcut" ] && [ "$(cat "$sendto/Their own.lnk")" = theirs ] || fail "Send To holds: $(ls "$sendto")"
echo "console-test: the window shows the progress, waits for Enter, and Ctrl+C stops the drop cleanly ($made of 2000 done)"
echo "console-test: started on its own, it adds the right-click entries once, for itself where it is, and takes exactly them away"
