#!/usr/bin/env bash
# End-to-end tests of the Windows program under Wine, against the emulated
# unit, compared with the Linux program run the same way.
#
#   tests/windows/run-wine-tests.sh WINDOWS_PROGRAM LINUX_BUILD_DIR
#
# WINDOWS_PROGRAM is imutap.exe (cross-built with cmake/mingw-w64.cmake) or
# the build folder holding it in src/; LINUX_BUILD_DIR holds src/imutap and
# emulator/imutap-emu. Needs wine (64-bit), wineserver, timeout and perl.
# Wine's COM1 leads, through a fixed symbolic link in the working folder, to
# the emulated unit's pseudo-terminal and to nothing else; no other COM port
# is ever opened.
#
# Every unit here leaves its pty with software flow control on in both
# directions, as a terminal program leaves a serial line (Wine reports it as
# XON/XOFF in the port's state), and starts at sequence number 4371 (counter
# 0x1113): the answer to "G" holds 0x11 and 0x13, every packet of the first 236
# holds 0x11 and packet 256 holds 0x13. The logger must set the line raw to
# see every byte.
#
# Wine's known limits, left as they are (not worked around in the program, not
# tested here): Wine does not refuse a second open of a port that is open
# already; it cannot send the close, logoff and shutdown console events; and
# on SIGTERM or SIGHUP it ends the program outright, without the program's
# own shutdown.
#
# This script checks its arguments, prepares Wine's prefix and tallies the
# cases: the settings and helpers they share are in wine_common.sh, the cases
# without a unit in wine_without_unit.sh, those against the emulated unit in
# wine_with_unit.sh.
# shellcheck source-path=SCRIPTDIR
set -u

if [ $# -ne 2 ]; then
    echo "usage: $0 WINDOWS_PROGRAM LINUX_BUILD_DIR" >&2
    exit 2
fi
if [ -d "$1" ]; then
    exe=$(realpath "$1/src/imutap.exe")
else
    exe=$(realpath "$1")
fi
linux_imutap=$(realpath "$2/src/imutap")
emulator=$(realpath "$2/emulator/imutap-emu")
for program in "$exe" "$linux_imutap" "$emulator"; do
    if [ ! -f "$program" ]; then
        echo "missing $program" >&2
        exit 2
    fi
done

here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")

# shellcheck source=wine_common.sh
. "$here/wine_common.sh"

echo "preparing the Wine prefix in $work"
if ! timeout "$wineboot_limit" wineboot -i >"$work/wineboot.log" 2>&1; then
    echo "wineboot failed; see $work/wineboot.log" >&2
    failed=1
    exit 1
fi
# A link in dosdevices alone is put back by Wine at every start: COM1 is
# declared in the registry, which Wine reads when it starts.
timeout "$wine_limit" wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$com1" /f \
    >"$work/reg.log" 2>&1
timeout "$wine_limit" wineserver -w
# One server for all the runs, so that Wine starts (and sets up COM1) once.
wineserver -p 2>"$work/wineserver.err"
echo "prefix ready after $(($(date +%s) - started)) s"

# shellcheck source=wine_without_unit.sh
. "$here/wine_without_unit.sh"

# shellcheck source=wine_with_unit.sh
. "$here/wine_with_unit.sh"

echo "Wine part took $(($(date +%s) - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
