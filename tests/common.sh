# Sourced by the test scripts: their one failure idiom, and the file names that users have.

fail() { printf 'FAIL: %s\n' "$*"; exit 1; }

# Names that Windows and POSIX both allow and that shells, cmd.exe and code pages get wrong:
# spaces, the characters cmd.exe gives meanings to, a leading dash, letters of other scripts,
# an emoji, and the extension in capitals. One per line.
awkward_names='a b.wav
a&b.wav
50%off.wav
x%PATH%y.wav
a^b.wav
wow!.wav
;semi.wav
(paren).wav
-dash.wav
файл.wav
日本語.wav
🎵.wav
UPPER.WAV'

# each_name COMMAND [ARG...]: runs COMMAND ARG... NAME for each of $awkward_names.
each_name() {
    printf '%s\n' "$awkward_names" | while IFS= read -r name; do "$@" "$name" || exit 1; done
}
