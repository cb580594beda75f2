#!/usr/bin/env bash
# Makes the Windows zip from the mingw build and checks that it holds the
# program, the README with its picture, the licence, and imutap-inspect as a
# Python program with its note. Then the zip's imutap.exe logs the emulated
# unit under Wine, and the zip's own copy of imutap-inspect proves that log
# complete. No Python for Windows runs here (Debian has none): the zip's copy
# of the tool is run by this machine's Python 3, on the log the Windows
# program wrote.
#   windows_zip.sh BUILD_WINDOWS_DIR LINUX_BUILD_DIR (the zip is left in the first)
# LINUX_BUILD_DIR holds emulator/imutap-emu. Needs wine (64-bit) and
# /usr/bin/python3 with numpy and matplotlib.
set -euo pipefail
build=$(realpath "$1") linux_build=$2
. "$(dirname "$0")/common.sh"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
emulator=$(realpath "$linux_build/emulator/imutap-emu")
python=/usr/bin/python3

cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$build" > /dev/null || fail "cpack failed"
zip=$build/imutap-$version-win64.zip
[ -f "$zip" ] || fail "no $(basename "$zip") made"
listing=$(cmake -E tar tf "$zip")
for file in imutap.exe README.md LICENSE docs/imutap-inspect-plot.png docs/imutap-inspect-noise.png \
            imutap-inspect.py imutap-inspect.txt imutaplog/__init__.py imutaplog/cli.py; do
    grep -qx "imutap-$version-win64/$file" <<< "$listing" || fail "$file not in $(basename "$zip")"
done
echo "$zip: imutap.exe, README.md with its pictures, LICENSE, imutap-inspect.py with imutaplog/ and its note"

make_scratch
emulator_pid=
finish() {
    [ -z "$emulator_pid" ] || kill "$emulator_pid" 2> /dev/null || true
    timeout 30 wineserver -k > /dev/null 2>&1 || true
    rm -rf "$scratch"
}
trap finish EXIT
(cd "$scratch" && cmake -E tar xf "$zip")
unpacked=$scratch/imutap-$version-win64
grep -q "py -m pip install numpy matplotlib" "$unpacked/imutap-inspect.txt" ||
    fail "imutap-inspect.txt does not say how to get numpy and matplotlib"

# A Wine prefix whose COM1 is the emulated unit's link (declared in the
# registry, which Wine reads when it starts).
cd "$scratch"
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
timeout 240 wineboot -i > wineboot.txt 2>&1 || { cat wineboot.txt; fail "wineboot failed"; }
timeout 60 wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$scratch/unit" /f > reg.txt 2>&1 ||
    { cat reg.txt; fail "COM1 not set"; }
timeout 60 wineserver -w

# 300 angle-mode packets, then silence; q once the logger has said so.
"$emulator" -q -n 300 -r 0 -l "$scratch/unit" > emulator.txt 2>&1 &
emulator_pid=$!
for _ in $(seq 100); do
    [ -L "$scratch/unit" ] && break
    sleep 0.1
done
[ -L "$scratch/unit" ] || fail "the emulated unit did not start"
mkfifo keys
timeout 60 wine "$unpacked/imutap.exe" run.txt -m a -t 0.01 < keys > run.out 2> run.err &
logger=$!
exec {keyboard}> keys
for _ in $(seq 600); do
    grep -q "AHRS silent for 1 s" run.out 2> /dev/null && break
    kill -0 $logger 2> /dev/null || break
    sleep 0.1
done
(printf q >&"$keyboard") 2> /dev/null || true
exec {keyboard}>&-
status=0
wait $logger || status=$?
[ "$status" -eq 0 ] || { cat run.out run.err; fail "imutap.exe under Wine: status $status"; }
echo "imutap.exe under Wine logged $(wc -l < run.txt) lines"

"$python" "$unpacked/imutap-inspect.py" summary run.txt > summary.txt 2>&1 ||
    { cat summary.txt; fail "the zip's imutap-inspect.py summary: status $?"; }
cat summary.txt
grep -q "^lines: 300 used" summary.txt || fail "the summary does not count 300 lines"
grep -q "^complete: no packet missing" summary.txt || fail "the summary does not prove the log complete"
"$python" "$unpacked/imutap-inspect.py" plot run.txt -o run.png > plot.txt 2>&1 ||
    { cat plot.txt; fail "the zip's imutap-inspect.py plot: status $?"; }
[ -s run.png ] || fail "no picture drawn"
echo "the zip's imutap-inspect.py, run by $python, proved the Windows program's log complete and drew it"
