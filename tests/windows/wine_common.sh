# shellcheck shell=bash
# Sourced by run-wine-tests.sh: the settings every Wine case shares, the
# scratch folder with Wine's prefix and COM1 link, the tally of passes and
# failures, and the helpers that start the emulated unit and run a logger
# until the unit falls silent. Needs $emulator (the emulated unit) set.
# The settings are the cases' (shellcheck: not used here).
# shellcheck disable=SC2034,SC2154

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
