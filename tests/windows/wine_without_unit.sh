# shellcheck shell=bash
# Sourced by run-wine-tests.sh: the cases without a unit, each compared with
# the Linux program where both can run: the help, a port that cannot be
# opened and a log file that is refused or left as it was. The programs,
# settings and helpers come from run-wine-tests.sh and wine_common.sh.
# shellcheck disable=SC2154

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
# shellcheck disable=SC2094 # the log is named as the file it writes to
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
