#!/bin/sh
# install-test.sh BUILD_DIR: cmake --install with a prefix and DESTDIR places a working tool in
# bin/ and its compressed manual page in share/man/man1/, and nothing outside DESTDIR; removing
# what install_manifest.txt lists, as the README says to uninstall, leaves no file behind.
set -eu
build=$1
root=$(mktemp -d)
# The install rewrites the build's list of installed files; it is put back as it was, so that a
# real install's list still serves to uninstall it.
manifest=$build/install_manifest.txt
[ ! -e "$manifest" ] || cp "$manifest" "$root/manifest.kept"
trap 'if [ -e "$root/manifest.kept" ]; then cp "$root/manifest.kept" "$manifest"; else rm -f "$manifest"; fi
      rm -rf "$root"' EXIT

DESTDIR=$root/stage cmake --install "$build" --prefix /opt/quoxel >/dev/null
tool=$root/stage/opt/quoxel/bin/quoxel
page=$root/stage/opt/quoxel/share/man/man1/quoxel.1.gz
[ -x "$tool" ] || { echo "no executable $tool"; exit 1; }
[ -f "$page" ] || { echo "no manual page $page"; exit 1; }

printf 'HEAD\022\064' > "$root/f.wav"
"$tool" "$root/f.wav"
# 'HEAD' is kept, 0x12 0x34 become 0x21 0x43
[ "$(od -An -tx1 "$root/f.wav" | tr -d ' \n')" = "484541442143" ] || { echo "installed tool did not convert"; exit 1; }

if command -v man >/dev/null; then
    MANWIDTH=80 man -l "$page" 2>&1 | grep -q 'quoxel - exchange the 4-bit halves' || { echo "man -l does not render the page"; exit 1; }
fi
sed "s#^#$root/stage#" "$manifest" | xargs rm
[ -z "$(find "$root/stage" -type f)" ] || { echo "files left after the uninstall: $(find "$root/stage" -type f)"; exit 1; }
echo "installed and ran $tool, and uninstalled it"
