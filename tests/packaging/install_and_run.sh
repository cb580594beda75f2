#!/usr/bin/env bash
# Installs the build into a scratch prefix, then runs the installed programs:
# --version, --help, and a short run of the logger against the emulated unit.
#   install_and_run.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
. "$(dirname "$0")/common.sh"
make_scratch
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" > "$scratch/install.txt"

for file in bin/imutap bin/imutap-emu share/man/man1/imutap.1 share/man/man1/imutap-emu.1 \
            share/man/man1/imutap-inspect.1 \
            share/doc/imutap/README.md share/doc/imutap/LICENSE; do
    [ -f "$prefix/$file" ] || fail "$file not installed"
done
grep -q '^\.TH IMUTAP 1 .*"imutap '"$version"'"' "$prefix/share/man/man1/imutap.1" ||
    fail "imutap.1 does not carry version $version"

banner="AHRS Inertial Unit data reading $version"
[ "$("$prefix/bin/imutap" --version)" = "$banner" ] || fail "--version: not the banner"
"$prefix/bin/imutap" --help > "$scratch/help.txt" || fail "--help: status $?"
[ "$(sed -n 2p "$scratch/help.txt")" = "usage: imutap <file> <options>" ] || fail "--help: no usage line"

cd "$scratch"
timeout 30 "$prefix/bin/imutap-emu" -q -l "$scratch/unit" -n 50 -r 0 --keys q -- \
    "$prefix/bin/imutap" log.txt > run.txt || fail "the run ended with status $?"
lines=$(wc -l < log.txt)
[ "$lines" -eq 50 ] || fail "log.txt has $lines lines, not 50"
echo "installed into $prefix: imutap $version ran, 50 lines logged"
