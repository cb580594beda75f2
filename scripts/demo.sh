#!/usr/bin/env bash
# Builds imutap and logs a unit in scaled mode with a 10 ms time column,
# showing the live line until q is pressed. With no device given, the
# emulated unit plays the unit on a pseudo-terminal.
#   scripts/demo.sh                      the emulated unit, log in build-demo/demo-log.txt
#   scripts/demo.sh /dev/ttyUSB0 [LOG]   a real unit on that device
# It installs only what building the programs takes (a compiler, CMake, make)
# and builds in build-demo/ (Release, no tests or benchmarks), so the other
# builds are left as they are; the log stays there too, out of git's sight.
set -euo pipefail
caller=$PWD
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

scripts/setup-debian.sh --programs
build="build-demo"
cmake -S . -B $build -DCMAKE_BUILD_TYPE=Release -DIMUTAP_TESTS=OFF -DIMUTAP_BENCHMARKS=OFF >/dev/null
cmake --build $build -j2 --target imutap imutap-emu

device=${1:-}
log=${2:-$top/$build/demo-log.txt}
[ "${log#/}" != "$log" ] || log=$caller/$log
# A path as the caller sees it: short when under the folder the script was started in.
shown() { if [ "${1#"$caller"/}" != "$1" ]; then echo "${1#"$caller"/}"; else echo "$1"; fi; }
echo "logging to $(shown "$log"); press q to end"
status=0
if [ -n "$device" ]; then
    $build/src/imutap "$log" -m c -t 0.01 -c "$device" || status=$?
else
    $build/emulator/imutap-emu -r 100 -- $build/src/imutap "$log" -m c -t 0.01 || status=$?
fi

inspect=$(shown "$top/logtool/imutap-inspect")
echo "the log is $(shown "$log") ($(wc -l 2>/dev/null < "$log" || echo 0) lines); look at it with"
echo "    $inspect summary -m c $(shown "$log")"
echo "    $inspect plot -m c $(shown "$log") -o $(shown "${log%.txt}.png")"
if ! /usr/bin/python3 -c "import numpy, matplotlib" 2>/dev/null; then
    echo "(Python 3 with numpy and matplotlib: apt-get install python3-numpy python3-matplotlib)"
fi
exit $status
