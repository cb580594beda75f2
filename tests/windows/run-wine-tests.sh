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

packets=200            # packets the unit streams after "C" before it falls silent
wine_limit=60          # seconds any one Wine call may take
wineboot_limit=240     # the first start of a prefix takes longer
silent_message='AHRS silent for 1 s; initialising it again'

work=$(mktemp -d "${TMPDIR:-/tmp}/imutap-wine.XXXXXX")
# Wine maps the current folder to drive Z:, where the absolute paths given
# to the program lead too.
cd "$work" || exit 2
com1=$work/com1 # Wine's COM1 is this link; it is pointed at the unit before each run
ln -s "$work/no-unit" "$com1"

export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

passed=0
failed=0
emulator_pid=
started=$(date +%s)

stop_emulator() {
    if [ -n "$emulator_pid" ]; then
        kill "$emulator_pid" 2>/dev/null
        wait "$emulator_pid" 2>/dev/null
        emulator_pid=
    fi
}

finish() {
    stop_emulator
    timeout 30 wineserver -k >/dev/null 2>&1
    if [ "$failed" -eq 0 ]; then
        rm -rf "$work"
    else
        echo "outputs kept in $work"
    fi
}
trap finish EXIT
trap 'exit 130' INT TERM HUP

pass() {
    passed=$((passed + 1))
    echo "PASS: $1"
}

fail() {
    failed=$((failed + 1))
    echo "FAIL: $1"
}

# Text mode puts "\r" before every "\n" of the Windows program's output.
without_cr() {
    perl -0777 -pe 's/\r\n/\n/g' "$1"
}

same_text() { # windows-output linux-output
    cmp -s <(without_cr "$1") "$2"
}

# Starts the emulated unit and waits for its link.
start_emulator() { # link emulator-options...
    local link=$1
    shift
    rm -f "$link"
    "$emulator" "$@" -v -q -l "$link" >"$link.emulator.out" 2>"$link.emulator.err" &
    emulator_pid=$!
    local tries=0
    while [ ! -L "$link" ]; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ] || ! kill -0 "$emulator_pid" 2>/dev/null; then
            return 1
        fi
        sleep 0.1
    done
}

# Whether the log's count column runs 1, 2, 3 ... and its last line is whole.
counts_in_order() { # log
    [ -s "$1" ] && [ "$(tail -c 1 "$1" | od -An -c | tr -d ' ')" = '\n' ] &&
        awk '$1 != NR { exit 1 }' "$1"
}

# Runs a logger with standard input and output on pipes until it reports the
# silent unit (after the line $wait_after, when set), then types q. The
# logger flushes its reports on the unit and the port at once, even into a
# pipe. Leaves its exit status in $work/NAME.status.
wait_after=
run_until_silent() { # name command...
    local name=$1
    shift
    local keys=$work/$name.keys out=$work/$name.out
    mkfifo "$keys"
    (
        "$@" <"$keys" 2>"$work/$name.err" | cat >"$out"
        echo "${PIPESTATUS[0]}" >"$work/$name.status"
    ) &
    local runner=$!
    local keyboard
    exec {keyboard}>"$keys"
    local deadline=$(($(date +%s) + wine_limit))
    while ! awk -v after="$wait_after" -v silent="$silent_message" \
        'after == "" || index($0, after) { seen = 1 } seen && index($0, silent) { found = 1 } END { exit !found }' \
        "$out" 2>/dev/null; do
        if ! kill -0 "$runner" 2>/dev/null || [ "$(date +%s)" -gt "$deadline" ]; then
            break
        fi
        sleep 0.1
    done
    # In a subshell: a logger that has already ended would make the write
    # raise SIGPIPE.
    (printf q >&"$keyboard") 2>/dev/null
    exec {keyboard}>&-
    wait "$runner"
}

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

# (a) Help: no arguments, one character read, status 1.
printf '\n' | timeout "$wine_limit" wine "$exe" >"$work/help.win.out" 2>"$work/help.win.err"
win_status=$?
printf '\n' | "$linux_imutap" >"$work/help.linux.out" 2>&1
linux_status=$?
if [ "$win_status" -eq 1 ] && [ "$linux_status" -eq 1 ] && grep -q '^usage: imutap' "$work/help.linux.out" &&
    same_text "$work/help.win.out" "$work/help.linux.out"; then
    pass "help text and status 1"
else
    fail "help text and status 1 (status $win_status, Linux $linux_status)"
fi

# (b) A port that does not exist: "COMx".
timeout "$wine_limit" wine "$exe" "$work/nonexistent.win.log" -c x </dev/null \
    >"$work/nonexistent.win.out" 2>"$work/nonexistent.win.err"
win_status=$?
"$linux_imutap" "$work/nonexistent.linux.log" -c x </dev/null >"$work/nonexistent.linux.out" 2>&1
linux_status=$?
if [ "$win_status" -eq 1 ] && [ "$linux_status" -eq 1 ] &&
    [ "$(without_cr "$work/nonexistent.win.out" | tail -n 1)" = "could not open serial port, 2" ] &&
    same_text "$work/nonexistent.win.out" "$work/nonexistent.linux.out" &&
    [ -f "$work/nonexistent.win.log" ] && [ ! -s "$work/nonexistent.win.log" ]; then
    pass "-c x: could not open serial port, 2; status 1; empty log"
else
    fail "-c x (status $win_status, Linux $linux_status)"
fi

# (c) Full runs: the unit streams `packets` packets and falls silent; q is
# typed once the logger has said so. Both logs must hold every packet, byte
# for byte the same.
for mode in c a; do
    test_name="mode $mode: $packets packets logged as on Linux"
    unit=$work/unit-$mode
    if ! start_emulator "$unit.linux" -n "$packets" -r 0; then
        fail "$test_name (the emulated unit did not start)"
        stop_emulator
        continue
    fi
    run_until_silent "run-$mode.linux" timeout "$wine_limit" \
        "$linux_imutap" "$work/run-$mode.linux.log" -m "$mode" -c "$unit.linux"
    stop_emulator

    if ! start_emulator "$unit.win" -n "$packets" -r 0; then
        fail "$test_name (the emulated unit did not start)"
        stop_emulator
        continue
    fi
    ln -sfn "$(readlink -f "$unit.win")" "$com1"
    run_until_silent "run-$mode.win" timeout "$wine_limit" wine "$exe" "$work/run-$mode.win.log" -m "$mode"
    stop_emulator
    ln -sfn "$work/no-unit" "$com1"

    win_status=$(cat "$work/run-$mode.win.status" 2>/dev/null || echo none)
    linux_status=$(cat "$work/run-$mode.linux.status" 2>/dev/null || echo none)
    win_lines=$(wc -l <"$work/run-$mode.win.log" 2>/dev/null || echo 0)
    linux_lines=$(wc -l <"$work/run-$mode.linux.log" 2>/dev/null || echo 0)
    # Everything up to the report of the silent unit is the same on both.
    win_start=$(without_cr "$work/run-$mode.win.out" | sed "/$silent_message/q")
    linux_start=$(sed "/$silent_message/q" "$work/run-$mode.linux.out")
    if [ "$win_status" = 0 ] && [ "$linux_status" = 0 ] &&
        [ "$win_lines" -eq "$packets" ] && [ "$linux_lines" -eq "$packets" ] &&
        cmp -s "$work/run-$mode.win.log" "$work/run-$mode.linux.log" &&
        [ "$win_start" = "$linux_start" ] &&
        grep -q "$silent_message" "$work/run-$mode.win.out"; then
        pass "$test_name"
    else
        fail "$test_name (status $win_status, Linux $linux_status; lines $win_lines, Linux $linux_lines)"
    fi
done

# (d) An interrupt (Ctrl-C; Wine turns SIGINT into the console event) ends
# the run at once, in order: status 0, every line logged whole.
test_name="interrupt: status 0, log complete"
if start_emulator "$work/unit-interrupt" -r 200; then
    ln -sfn "$(readlink -f "$work/unit-interrupt")" "$com1"
    timeout "$wine_limit" wine "$exe" "$work/interrupt.win.log" -m c </dev/null \
        >"$work/interrupt.win.out" 2>"$work/interrupt.win.err" &
    logger=$!
    deadline=$(($(date +%s) + wine_limit))
    # The log reaches the disk in blocks: wait for the first.
    while [ ! -s "$work/interrupt.win.log" ] && kill -0 "$logger" 2>/dev/null &&
        [ "$(date +%s)" -le "$deadline" ]; do
        sleep 0.1
    done
    interrupted=$(date +%s%N)
    kill -INT "$logger" 2>/dev/null # timeout hands the signal on to Wine
    wait "$logger"
    win_status=$?
    took_ms=$((($(date +%s%N) - interrupted) / 1000000))
    stop_emulator
    ln -sfn "$work/no-unit" "$com1"
    if [ "$win_status" -eq 0 ] && [ "$took_ms" -lt 3000 ] && counts_in_order "$work/interrupt.win.log"; then
        pass "$test_name (ended $took_ms ms after the signal)"
    else
        fail "$test_name (status $win_status, $took_ms ms after the signal)"
    fi
else
    fail "$test_name (the emulated unit did not start)"
    stop_emulator
fi

# (e) The unit unplugged and plugged in again: the loss is reported, the
# port opened again and the run goes on. Wine's COM1 follows the emulator's
# own link here, which it points at the new pty; the port is opened again
# only seconds after the loss (a second of silence, then a second's wait),
# long after the link has moved.
test_name="unplugged and plugged in again: the run goes on"
if start_emulator "$work/unit-replug" -n 400 -r 500 --replug 100:300; then
    ln -sfn "$work/unit-replug" "$com1"
    wait_after='serial port back; initialising AHRS'
    run_until_silent replug.win timeout "$wine_limit" wine "$exe" "$work/replug.win.log" -m c
    wait_after=
    stop_emulator
    ln -sfn "$work/no-unit" "$com1"
    win_status=$(cat "$work/replug.win.status" 2>/dev/null || echo none)
    win_lines=$(wc -l <"$work/replug.win.log" 2>/dev/null || echo 0)
    if [ "$win_status" = 0 ] && grep -q 'serial port lost; waiting for it to come back' "$work/replug.win.out" &&
        grep -q 'serial port back; initialising AHRS' "$work/replug.win.out" &&
        [ "$win_lines" -ge 300 ] && [ "$win_lines" -le 400 ]; then
        pass "$test_name ($win_lines lines)"
    else
        fail "$test_name (status $win_status, $win_lines lines)"
    fi
else
    fail "$test_name (the emulated unit did not start)"
    stop_emulator
fi

echo "Wine part took $(($(date +%s) - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
