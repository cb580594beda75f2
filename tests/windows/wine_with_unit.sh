# shellcheck shell=bash
# Sourced by run-wine-tests.sh: the runs against the emulated unit on Wine's
# COM1: whole runs in every mode and with bad packets, logged as on Linux, an
# interrupt, the unit unplugged and plugged in again, and the port's output
# held for good. The programs, settings and helpers come from
# run-wine-tests.sh and wine_common.sh (wait_after is run_until_silent's).
# shellcheck disable=SC2034,SC2154

# (c) Full runs: the unit streams `packets` packets and falls silent; q is
# typed once the logger has said so. Both logs must hold every packet, byte
# for byte the same. In the run with faults a lone bad packet is dropped, and
# six in a row initialise the unit again; the unit is paced there, so that
# "P" stops it before its next packet on both systems.
# shellcheck disable=SC2054 # 20,95-100 is one option: the packets to spoil
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
