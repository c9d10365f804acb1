# Sourced by the test scripts and the benchmark: their one failure idiom, the file names that
# users have, and the scratch files the recipe and drop tests convert.

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

# add_file NAME SIZE: a file of SIZE random bytes in the folder $dir, a copy of it as it was in
# $originals, and a copy converted once by the build host's $tool in $expect. NAME may lead
# through folders, which are made in all three.
add_file() {
    mkdir -p "$(dirname "$dir/$1")" "$(dirname "$originals/$1")" "$(dirname "$expect/$1")"
    head -c "$2" /dev/urandom > "$dir/$1"
    cp "$dir/$1" "$originals/$1"
    cp "$dir/$1" "$expect/$1"
    [ "$2" -lt 4 ] || "$tool" "$expect/$1"
}
