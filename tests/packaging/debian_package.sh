#!/usr/bin/env bash
# Builds the Debian package with cpack and checks its metadata and files with
# dpkg-deb, and with lintian where it is installed: not a single tag, down to
# the pedantic and informational ones.
#   debian_package.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
. "$(dirname "$0")/common.sh"
for tool in dpkg-deb dpkg-shlibdeps; do
    command -v $tool > /dev/null || { echo "$tool not installed (dpkg-dev): not checked"; exit 77; }
done
make_scratch

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch" > "$scratch/cpack.txt" ||
    { cat "$scratch/cpack.txt"; fail "cpack failed"; }
deb=$scratch/imutap_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb") made"

dpkg-deb --field "$deb" > "$scratch/fields.txt"
cat "$scratch/fields.txt"
for field in "Package: imutap" "Version: $version" "Section: science" "Priority: optional" \
             "Maintainer: .*<.*@.*>" "Depends: .*libc6" "Description: .*serial port"; do
    grep -q "^$field" "$scratch/fields.txt" || fail "no field \"$field\""
done

dpkg-deb --contents "$deb" | awk '{ print $1, $NF }' > "$scratch/contents.txt"
for file in usr/bin/imutap usr/bin/imutap-emu \
            usr/share/man/man1/imutap.1.gz usr/share/man/man1/imutap-emu.1.gz \
            usr/share/man/man1/imutap-inspect.1.gz \
            usr/share/doc/imutap/copyright usr/share/doc/imutap/changelog.gz \
            usr/share/doc/imutap/README.md.gz usr/share/doc/imutap/docs/imutap-inspect-plot.png; do
    grep -q "^-rw.* \./$file\$" "$scratch/contents.txt" || fail "$file missing"
done
mkdir "$scratch/root"
dpkg-deb --extract "$deb" "$scratch/root"
copyright=$scratch/root/usr/share/doc/imutap/copyright
grep -qx "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" "$copyright" ||
    fail "the copyright file is not in Debian's machine-readable format"
grep -q "^ Permission is hereby granted" "$copyright" || fail "the copyright file lacks the licence"
zcat "$scratch/root/usr/share/man/man1/imutap.1.gz" | grep -q "^\.SH DIAGNOSTICS" ||
    fail "imutap.1.gz is not the manual page"
# Every picture the installed README shows is installed where its link leads.
doc=$scratch/root/usr/share/doc/imutap
zcat "$doc/README.md.gz" > "$scratch/README.md"
grep -qx "# imutap" "$scratch/README.md" || fail "README.md.gz is not the README"
for picture in $(sed -n 's/.*!\[[^]]*\](\([^)]*\)).*/\1/p' "$scratch/README.md"); do
    [ -f "$doc/$picture" ] || fail "the README shows $picture, which is not installed"
done

if ! command -v lintian > /dev/null; then
    echo "lintian not installed: package checked with dpkg-deb only"
    exit 0
fi
lintian --display-info --pedantic "$deb" > "$scratch/lintian.txt" 2>&1 || true
cat "$scratch/lintian.txt"
if grep -q "^[EWIPX]: " "$scratch/lintian.txt"; then
    fail "lintian tags the package"
fi
echo "$(basename "$deb"): no lintian tag (--display-info --pedantic)"
