#!/usr/bin/env bash
# Makes the Windows zip from the mingw build and checks that it holds the
# program, the README and the licence.
#   windows_zip.sh BUILD_WINDOWS_DIR (the zip is left there)
set -euo pipefail
build=$1
. "$(dirname "$0")/common.sh"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")

cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$build" > /dev/null || fail "cpack failed"
zip=$build/imutap-$version-win64.zip
[ -f "$zip" ] || fail "no $(basename "$zip") made"
listing=$(cmake -E tar tf "$zip")
for file in imutap.exe README.md LICENSE; do
    grep -qx "imutap-$version-win64/$file" <<< "$listing" || fail "$file not in $(basename "$zip")"
done
echo "$zip: imutap.exe, README.md, LICENSE"
