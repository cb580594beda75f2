#!/usr/bin/env bash
# Builds imutap and logs a unit in scaled mode with a 10 ms time column,
# showing the live line until q is pressed. With no device given, the
# emulated unit plays the unit on a pseudo-terminal.
#   scripts/demo.sh                      the emulated unit, log in demo-log.txt
#   scripts/demo.sh /dev/ttyUSB0 [LOG]   a real unit on that device
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

scripts/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target imutap imutap-emu

device=${1:-}
log=${2:-demo-log.txt}
echo "logging to $log; press q to end"
if [ -n "$device" ]; then
    exec build/src/imutap "$log" -m c -t 0.01 -c "$device"
fi
exec build/emulator/imutap-emu -r 100 -- build/src/imutap "$log" -m c -t 0.01
