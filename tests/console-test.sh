#!/bin/sh
# console-test.sh TOOL WINDOWS_DIR WINE WINESERVER: drop-files-here.exe in a console window of its own, as
# Explorer starts it for a drop: under Xvfb, Wine's wineconsole gives it a real console window,
# and xdotool reads the window's title and types into it. A drop there shows its progress in the
# title and waits for Enter before its window closes; Ctrl+C typed into the window stops it
# cleanly: no temporary copy stays, every copy is whole, and the status is 130 once Enter is
# pressed. TOOL, the build host's quoxel, checks the copies. It has a Wine prefix of its own,
# since the desktop of a prefix is made by the first program that Wine starts there: one started
# without an X display gives no program of that prefix a window.
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
echo "console-test: the window shows the progress, waits for Enter, and Ctrl+C stops the drop cleanly ($made of 2000 done)"
