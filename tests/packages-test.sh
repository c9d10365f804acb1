#!/bin/sh
# packages-test.sh CPACK.deb DEBIAN.deb PACKAGE.rpm: the .deb of `cmake --workflow --preset deb`,
# the .deb built from debian/ and the RPM built from packaging/rpm/quoxel.spec install the same:
# the same files and links, with the same modes and owners, and, but for the programs, which
# each build compiles with its own flags, the same bytes. They carry the same version and the
# same long description, and the RPM's newest changelog entry is that of the Debian changelog:
# the same version, of the same day.
set -eu
. "$(dirname "$0")/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
names="cpack debian rpm"
cp "$1" "$work/cpack.deb" && cp "$2" "$work/debian.deb" && cp "$3" "$work/rpm.rpm"

# One line per file or link a package installs: mode, owner, path, and a link's target, a
# program's "program", or any other file's checksum. Folders are left out: a .deb lists all of
# them, an RPM those it owns. The RPM's links from /usr/lib/.build-id to its programs are RPM's own.
for name in cpack debian; do
    dpkg-deb --fsys-tarfile "$work/$name.deb" | tar -tvf - | grep -v '^d' |
        sed -E 's|^([^ ]+) ([^/ ]+)/([^ ]+) +[0-9]+ [^ ]+ [^ ]+ \./|\1 \2 \3 /|' >"$work/$name.modes"
    dpkg-deb -x "$work/$name.deb" "$work/$name"
done
rpm -qp --qf '[%{FILEMODES:perms} %{FILEUSERNAME} %{FILEGROUPNAME} %{FILENAMES}\n]' "$work/rpm.rpm" | grep -v '^d' |
    grep -v ' /usr/lib/\.build-id/' >"$work/rpm.modes"
mkdir "$work/rpm"
rpm2cpio "$work/rpm.rpm" | (cd "$work/rpm" && cpio -idm --quiet)
for name in $names; do
    LC_ALL=C sort "$work/$name.modes" | while IFS= read -r line; do
        path=${line#* * * } path=${path%% -> *}
        if [ -L "$work/$name$path" ]; then
            echo "$line"
        elif [ "$(od -An -tx1 -N4 "$work/$name$path" | tr -d ' ')" = 7f454c46 ]; then
            echo "$line program"
        else
            echo "$line $(cksum <"$work/$name$path")"
        fi
    done >"$work/$name.files"
    [ -s "$work/$name.files" ] || fail "$name installs nothing"
done
for name in debian rpm; do
    diff -u "$work/cpack.files" "$work/$name.files" >"$work/diff" ||
        fail "the CPack .deb (-) and the $name package (+) install different things: $(cat "$work/diff")"
done

# The version, and the long description, whose lines each packager wraps its own way: a word a
# line, with "." between paragraphs.
words() { sed -e 's/^ //' -e 's/^$/./' | tr -s ' \n' '\n\n'; }
for name in cpack debian; do
    dpkg-deb -f "$work/$name.deb" Version >"$work/$name.version"
    dpkg-deb -f "$work/$name.deb" Description | tail -n +2 | words >"$work/$name.description"
done
rpm -qp --qf '%{VERSION}\n' "$work/rpm.rpm" >"$work/rpm.version"
rpm -qp --qf '%{DESCRIPTION}\n' "$work/rpm.rpm" | words >"$work/rpm.description"
for name in debian rpm; do
    for what in version description; do
        diff -u "$work/cpack.$what" "$work/$name.$what" >"$work/diff" ||
            fail "the $name package's $what (+) is not the CPack .deb's (-): $(cat "$work/diff")"
    done
done

# The newest changelog entries: the Debian changelog's as the .deb installs it, the RPM's own.
version=$(cat "$work/cpack.version")
debian_day=$(zcat "$work/debian/usr/share/doc/quoxel/changelog.gz" | sed -n 's/^ -- .*>  //p' | head -n 1)
debian_day=$(date -u -d "$debian_day" +%F)
rpm_day=$(date -u -d "@$(rpm -qp --qf '%{CHANGELOGTIME}' "$work/rpm.rpm")" +%F)
rpm_entry=$(rpm -qp --qf '%{CHANGELOGNAME}' "$work/rpm.rpm")
[ "$rpm_day" = "$debian_day" ] || fail "the RPM's newest changelog entry is of $rpm_day, the Debian changelog's of $debian_day"
case $rpm_entry in *" - $version-"*) ;; *) fail "the RPM's newest changelog entry is not of version $version: $rpm_entry" ;; esac

echo "packages-test: the CPack .deb, the debian/ .deb and the RPM of $version install the same $(wc -l <"$work/cpack.files") files and links"
