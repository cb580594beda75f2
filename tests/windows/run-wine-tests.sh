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

packets=300            # packets the unit streams after "C" before it falls silent
# The line as an earlier program left it, and a stream that carries XON and XOFF bytes.
line_options=(--line xonxoff --start-seq 4371)
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
    "$emulator" "${line_options[@]}" "$@" -v -q -l "$link" >"$link.emulator.out" 2>"$link.emulator.err" &
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

# The log file named as the file standard output goes into, or as the port's
# path when nothing is there yet: refused, and nothing is created.
timeout "$wine_limit" wine "$exe" "$work/stdout.win.txt" -c x </dev/null \
    >"$work/stdout.win.txt" 2>"$work/stdout.win.err"
win_status=$?
timeout "$wine_limit" wine "$exe" "$work/later" -c "$work/later" </dev/null \
    >"$work/later.win.out" 2>"$work/later.win.err"
later_status=$?
if [ "$win_status" -eq 1 ] &&
    [ "$(without_cr "$work/stdout.win.txt" | tail -n 1)" = "log file $work/stdout.win.txt is standard output" ] &&
    [ "$later_status" -eq 1 ] && [ ! -e "$work/later" ] &&
    [ "$(without_cr "$work/later.win.out" | tail -n 1)" = "log file $work/later is the serial port" ]; then
    pass "log file refused as standard output's file and as the port's path"
else
    fail "log file as standard output's file or the port's path (status $win_status, $later_status)"
fi

# A path through a folder that does not exist: the system's number, 3 on Windows.
# The last run's log is left exactly as it was, its time included.
printf '1 0.5 2.5 3\r\n' >"$work/nofolder.win.log"
touch -d '2020-01-02 03:04:05' "$work/nofolder.win.log"
before=$(stat -c '%s %Y' "$work/nofolder.win.log")
timeout "$wine_limit" wine "$exe" "$work/nofolder.win.log" -c "$work/no-folder/unit" </dev/null \
    >"$work/nofolder.win.out" 2>"$work/nofolder.win.err"
win_status=$?
if [ "$win_status" -eq 1 ] &&
    [ "$(without_cr "$work/nofolder.win.out" | tail -n 1)" = "could not open serial port, 3" ] &&
    [ "$(stat -c '%s %Y' "$work/nofolder.win.log")" = "$before" ] &&
    [ "$(cat "$work/nofolder.win.log")" = $'1 0.5 2.5 3\r' ]; then
    pass "-c through a missing folder: could not open serial port, 3; the last log kept"
else
    fail "-c through a missing folder (status $win_status)"
fi

# (c) Full runs: the unit streams `packets` packets and falls silent; q is
# typed once the logger has said so. Both logs must hold every packet, byte
# for byte the same. In the run with faults a lone bad packet is dropped, and
# six in a row initialise the unit again; the unit is paced there, so that
# "P" stops it before its next packet on both systems.
fault_options=(-r 100 --bad-checksum 20,95-100)
for mode in c a r faults; do
    unit_options=(-n "$packets" -r 0)
    logger_mode=$mode
    expected_lines=$packets
    expected_gets=1
    test_name="mode $mode: $packets packets logged as on Linux"
    if [ "$mode" = faults ]; then
        unit_options=(-n "$packets" "${fault_options[@]}")
        logger_mode=c
        expected_lines=$((packets - 7))
        expected_gets=2
        test_name="bad packets and initialisation again: logged as on Linux"
    fi
    unit=$work/unit-$mode
    if ! start_emulator "$unit.linux" "${unit_options[@]}"; then
        fail "$test_name (the emulated unit did not start)"
        stop_emulator
        continue
    fi
    run_until_silent "run-$mode.linux" timeout "$wine_limit" \
        "$linux_imutap" "$work/run-$mode.linux.log" -m "$logger_mode" -c "$unit.linux"
    stop_emulator

    if ! start_emulator "$unit.win" "${unit_options[@]}"; then
        fail "$test_name (the emulated unit did not start)"
        stop_emulator
        continue
    fi
    ln -sfn "$(readlink -f "$unit.win")" "$com1"
    run_until_silent "run-$mode.win" timeout "$wine_limit" wine "$exe" "$work/run-$mode.win.log" -m "$logger_mode"
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
        [ "$win_lines" -eq "$expected_lines" ] && [ "$linux_lines" -eq "$expected_lines" ] &&
        [ "$(grep -c 'G: one' "$unit.win.emulator.err")" -eq "$expected_gets" ] &&
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
# port opened again and the run goes on, logged as on Linux. Wine's COM1
# follows the emulator's own link here, which it points at the new pty (left
# as the first was); the port is opened again only seconds after the loss (a
# second of silence, then a second's wait), long after the link has moved.
test_name="unplugged and plugged in again: the run goes on, logged as on Linux"
replug_options=(-n 400 -r 500 --replug 100:300)
wait_after='serial port back; initialising AHRS'
if start_emulator "$work/unit-replug.linux" "${replug_options[@]}"; then
    run_until_silent replug.linux timeout "$wine_limit" \
        "$linux_imutap" "$work/replug.linux.log" -m c -c "$work/unit-replug.linux"
fi
stop_emulator
if start_emulator "$work/unit-replug" "${replug_options[@]}"; then
    ln -sfn "$work/unit-replug" "$com1"
    run_until_silent replug.win timeout "$wine_limit" wine "$exe" "$work/replug.win.log" -m c
    stop_emulator
    ln -sfn "$work/no-unit" "$com1"
    win_status=$(cat "$work/replug.win.status" 2>/dev/null || echo none)
    linux_status=$(cat "$work/replug.linux.status" 2>/dev/null || echo none)
    win_lines=$(wc -l <"$work/replug.win.log" 2>/dev/null || echo 0)
    if [ "$win_status" = 0 ] && [ "$linux_status" = 0 ] &&
        grep -q 'serial port lost; waiting for it to come back' "$work/replug.win.out" &&
        grep -q 'serial port back; initialising AHRS' "$work/replug.win.out" &&
        [ "$win_lines" -eq 400 ] && cmp -s "$work/replug.win.log" "$work/replug.linux.log"; then
        pass "$test_name ($win_lines lines)"
    else
        fail "$test_name (status $win_status, Linux $linux_status; $win_lines lines)"
    fi
else
    fail "$test_name (the emulated unit did not start)"
    stop_emulator
fi
wait_after=

# (f) The port's output held for good (the unit sends XOFF on a line that has
# software flow control again): each command's write gives up within a
# second, and q through the pipe or Ctrl-C ends the run about a second later
# at most, the log whole.
for ending in q interrupt; do
    test_name="output held: $ending ends the run within about a second"
    if ! start_emulator "$work/unit-held-$ending" -n 200 -r 1000 --hold-output 100:600000; then
        fail "$test_name (the emulated unit did not start)"
        stop_emulator
        continue
    fi
    ln -sfn "$(readlink -f "$work/unit-held-$ending")" "$com1"
    keys=$work/held-$ending.keys
    mkfifo "$keys"
    timeout "$wine_limit" wine "$exe" "$work/held-$ending.win.log" -m c <"$keys" \
        >"$work/held-$ending.win.out" 2>"$work/held-$ending.win.err" &
    logger=$!
    exec {keyboard}>"$keys"
    deadline=$(($(date +%s) + wine_limit))
    # A command has waited a second for the held line.
    while ! grep -q 'AHRS does not acknowledge mode c' "$work/held-$ending.win.out" 2>/dev/null &&
        kill -0 "$logger" 2>/dev/null && [ "$(date +%s)" -le "$deadline" ]; do
        sleep 0.1
    done
    asked=$(date +%s%N)
    if [ "$ending" = q ]; then
        (printf q >&"$keyboard") 2>/dev/null
    else
        kill -INT "$logger" 2>/dev/null
    fi
    wait "$logger"
    win_status=$?
    took_ms=$((($(date +%s%N) - asked) / 1000000))
    exec {keyboard}>&-
    stop_emulator
    ln -sfn "$work/no-unit" "$com1"
    win_lines=$(wc -l <"$work/held-$ending.win.log" 2>/dev/null || echo 0)
    if [ "$win_status" -eq 0 ] && [ "$took_ms" -lt 2000 ] && [ "$win_lines" -eq 100 ] &&
        counts_in_order "$work/held-$ending.win.log"; then
        pass "$test_name (ended $took_ms ms after it)"
    else
        fail "$test_name (status $win_status, $took_ms ms after it, $win_lines lines)"
    fi
done

echo "Wine part took $(($(date +%s) - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
