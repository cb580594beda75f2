#!/usr/bin/env bash
# Times imutap against the emulated unit, beside a plain reader of the same
# stream measured in the same run, and checks that every packet the unit
# sent was logged once, in order.
#
#   bench/e2e.sh BUILD_DIR [PACKETS [RUNS]]
#
# 1. Full speed: the unit sends PACKETS angle-mode packets (default 2000000)
#    as fast as the pty takes them; imutap logs them (-m a -t 0.01). The
#    ceiling is a reader that only reads the same kind of stream from the
#    tty in 4 KiB reads and throws it away.
# 2. Paced: 1000 packets/s for 10 s; imutap's share of one core, beside the
#    plain reader's on the same paced stream, and the CPU per packet imutap
#    spends above it.
# 3. Silent: a unit that answers nothing, for 10 s; imutap's share of one
#    core and its wake-ups per second.
# 4. Port gone: the unit streams 10 packets, then its pty is hung up and
#    stays away; 10 s from the start, the same figures.
# Each is run RUNS times (default 3), the two readers taking turns, and the
# medians are reported. The "steal" column is the time the virtual machine's
# host gave to others during the run: runs with much of it are slowed down.
#
# Each logger run ends as a user would end it: after the stream imutap says
# that the unit fell silent, and the emulated unit then gives it the key q.
# Logs go to a fresh directory under TMPDIR (default /tmp) and are deleted
# once checked.
set -euo pipefail

usage="usage: bench/e2e.sh BUILD_DIR [PACKETS [RUNS]]"
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?$usage}
packets=${2:-2000000}
runs=${3:-3}
paced_rate=1000
paced_seconds=10
silent_seconds=10
gone_seconds=10
packet_bytes=30

# The programs, built first where missing or out of date (a new build
# directory is set up as the project's usual RelWithDebInfo build).
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
fi
cmake --build "$build" -j2 --target imutap imutap-emu imutap_plain_reader imutap_measure > /dev/null ||
    { echo "cannot build the programs in $build (set up with -DIMUTAP_BENCHMARKS=OFF?)" >&2; exit 1; }
build=$(cd "$build" && pwd)
build_type=$(awk -F= '/^CMAKE_BUILD_TYPE:/ { print $2 }' "$build/CMakeCache.txt")
emulator=$build/emulator/imutap-emu
logger=$build/src/imutap
reader=$build/bench/imutap_plain_reader
measure=$build/bench/imutap_measure

work=$(mktemp -d "${TMPDIR:-/tmp}/imutap-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT
link=$work/unit
report=$work/report.txt

# The value of one "name value" line of a report.
value() { awk -v name="$1" '$1 == name { print $2 }' "$2"; }

median() {
    sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The machine's steal and total time so far, in clock ticks.
cpu_ticks() { awk '/^cpu / { total = 0; for (i = 2; i <= NF; ++i) total += $i; print $9, total }' /proc/stat; }
steal_percent() {
    local before=$1
    awk -v before="$before" -v after="$(cpu_ticks)" 'BEGIN {
        split(before, b, " "); split(after, a, " ")
        printf "%.1f", (a[2] > b[2]) ? 100 * (a[1] - b[1]) / (a[2] - b[2]) : 0 }'
}

# The log holds `expected` lines: counts 1, 2, 3 ..., the unit's counter
# (the last field) one up each line modulo 65536, 16 fields a line.
check_log() {
    local log=$1 expected=$2
    awk -v expected="$expected" '
        failed == "" && NF != 16 { failed = "line " NR " has " NF " fields" }
        failed == "" && $1 != NR { failed = "line " NR " has the count " $1 }
        failed == "" && NR > 1 && $16 != (previous + 1) % 65536 {
            failed = "line " NR ": counter " $16 " after " previous
        }
        { previous = $16 }
        END {
            if (failed == "" && NR != expected) failed = NR " lines for " expected " packets"
            if (failed != "") { print "log check failed: " failed; exit 1 }
        }' "$log" >&2
}

# Standard output holds nothing but the banner, the header, display lines
# and the report of the silent unit: no diagnostic about a packet.
check_output() {
    local output=$1
    local number='-?[0-9]+\.[0-9]{2}'
    local known="^$|^AHRS Inertial Unit data reading 1\.0$|^ +ROLL .* TEMP$|^ *$number( +$number){12} $"
    known+="|^AHRS silent for 1 s; initialising it again$"
    if tr '\r' '\n' < "$output" | grep -Eqv "$known"; then
        echo "unexpected output from imutap:" >&2
        tr '\r' '\n' < "$output" | grep -Ev "$known" | head -5 >&2
        return 1
    fi
}

# The plain reader on `count` packets at `rate` packets/s (0: as fast as
# they go). Leaves packets/s, CPU microseconds per packet and its share of a
# core (%) in $work/plain.txt.
plain_run() {
    local count=$1 rate=$2
    "$emulator" -q --streaming -r "$rate" -n "$count" -l "$link" -- \
        "$reader" $((count * packet_bytes)) > "$work/reader.txt"
    awk -v size=$packet_bytes -v n="$count" \
        '{ printf "%.0f %.4f %.4f\n", $2 / size / $4, $6 * 1e6 / n, 100 * $6 / $4 }' \
        "$work/reader.txt" > "$work/plain.txt"
}

# imutap on `count` packets at `rate` packets/s, measured into $report;
# the log and the output checked.
logger_run() {
    local count=$1 rate=$2
    rm -f "$work/log.txt"
    "$emulator" -q -r "$rate" -n "$count" -l "$link" --keys q -- \
        "$measure" "$report" "$work/output.txt" -- "$logger" "$work/log.txt" -m a -t 0.01
    check_log "$work/log.txt" "$count"
    check_output "$work/output.txt"
    rm -f "$work/log.txt"
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'),"\
     "Linux $(uname -r); ${build_type:-no} build type; logs on $(df -T "$work" | awk 'NR == 2 { print $2 }')"

echo "== $packets angle-mode packets as fast as they go"
printf "%-4s %12s %12s %7s %12s %12s %12s %8s %6s\n" run "plain pkt/s" "imutap pkt/s" ratio \
    "us/pkt all" "us/pkt strm" "plain us/pkt" "RSS kB" steal%
: > "$work/fast.txt"
for run in $(seq 1 "$runs"); do
    ticks=$(cpu_ticks)
    plain_run "$packets" 0
    read -r plain_rate plain_cpu _ < "$work/plain.txt"
    logger_run "$packets" 0
    line=$(awk -v n="$packets" -v before="$(value packets_before_output "$report")" \
        -v stream="$(value stream_seconds "$report")" -v user="$(value user_seconds "$report")" \
        -v sys="$(value system_seconds "$report")" -v rss="$(value max_rss_kb "$report")" \
        -v stream_cpu="$(value stream_cpu_seconds "$report")" -v plain_rate="$plain_rate" \
        -v plain_cpu="$plain_cpu" -v steal="$(steal_percent "$ticks")" \
        'BEGIN { rate = (n - before) / stream
                 printf "%.0f %.0f %.3f %.3f %.3f %.3f %d %s\n", plain_rate, rate, rate / plain_rate,
                        (user + sys) * 1e6 / n, stream_cpu * 1e6 / (n - before), plain_cpu, rss, steal }')
    echo "$line" >> "$work/fast.txt"
    # shellcheck disable=SC2086
    printf "%-4s %12s %12s %7s %12s %12s %12s %8s %6s\n" "$run" $line
done
column_median() { awk -v c="$1" '{ print $c }' "$work/$2" | median; }
printf "median: plain reader %.0f packets/s, imutap %.0f packets/s: %.3f of the plain reader\n" \
    "$(column_median 1 fast.txt)" "$(column_median 2 fast.txt)" "$(column_median 3 fast.txt)"
printf "median: imutap %.3f us CPU per packet all included (%.3f while streaming; plain reader %.3f), max RSS %s kB\n" \
    "$(column_median 4 fast.txt)" "$(column_median 5 fast.txt)" "$(column_median 6 fast.txt)" \
    "$(column_median 7 fast.txt)"

paced_packets=$((paced_rate * paced_seconds))
echo "== $paced_rate packets/s for $paced_seconds s"
printf "%-4s %12s %12s %7s %12s %12s %12s %6s\n" run "plain %core" "imutap %core" ratio "us/pkt" \
    "us/pkt above" "wake-ups/s" steal%
: > "$work/paced.txt"
for run in $(seq 1 "$runs"); do
    ticks=$(cpu_ticks)
    plain_run "$paced_packets" "$paced_rate"
    read -r _ _ plain_share < "$work/plain.txt"
    logger_run "$paced_packets" "$paced_rate"
    # "above": imutap's CPU per packet less the plain reader's, both from
    # their shares of a core at the same rate.
    line=$(awk -v cpu="$(value stream_cpu_seconds "$report")" -v span="$(value stream_seconds "$report")" \
        -v switches="$(value voluntary_switches "$report")" -v wall="$(value wall_seconds "$report")" \
        -v rate=$paced_rate -v plain="$plain_share" -v steal="$(steal_percent "$ticks")" \
        'BEGIN { share = 100 * cpu / span
                 printf "%.3f %.3f %.2f %.2f %.2f %.0f %s\n", plain, share, share / plain, cpu * 1e6 / (span * rate),
                        (share - plain) * 1e4 / rate, switches / wall, steal }')
    echo "$line" >> "$work/paced.txt"
    # shellcheck disable=SC2086
    printf "%-4s %12s %12s %7s %12s %12s %12s %6s\n" "$run" $line
done
printf "median: imutap %.3f %% of one core while streaming, the plain reader %.3f %%: %.2f times; %.2f us a packet above it; %.0f wake-ups/s\n" \
    "$(column_median 2 paced.txt)" "$(column_median 1 paced.txt)" "$(column_median 3 paced.txt)" \
    "$(column_median 5 paced.txt)" "$(column_median 6 paced.txt)"

# imutap on a unit started with these emulator options, ended with q after
# `seconds`; one line of figures appended to $work/$name.txt.
idle_run() {
    local name=$1 seconds=$2
    shift 2
    local ticks
    ticks=$(cpu_ticks)
    rm -f "$work/log.txt"
    "$emulator" -q "$@" -l "$link" --keys q --keys-delay $((seconds * 1000)) -- \
        "$measure" "$report" "$work/output.txt" -- "$logger" "$work/log.txt" -m a -t 0.01
    line=$(awk -v user="$(value user_seconds "$report")" -v sys="$(value system_seconds "$report")" \
        -v wall="$(value wall_seconds "$report")" -v switches="$(value voluntary_switches "$report")" \
        -v rss="$(value max_rss_kb "$report")" -v steal="$(steal_percent "$ticks")" \
        'BEGIN { printf "%.3f %.1f %d %s %.2f\n", 100 * (user + sys) / wall, switches / wall, rss, steal, wall }')
    echo "$line" >> "$work/$name.txt"
    # shellcheck disable=SC2086
    printf "%-4s %12s %12s %8s %6s %8s\n" "$run" $line
}

echo "== a unit that answers nothing, $silent_seconds s"
printf "%-4s %12s %12s %8s %6s %8s\n" run "imutap %core" "wake-ups/s" "RSS kB" steal% "wall s"
: > "$work/silent.txt"
for run in $(seq 1 "$runs"); do
    idle_run silent "$silent_seconds" -n 0
done
printf "median: imutap %.3f %% of one core, %.1f wake-ups/s\n" \
    "$(column_median 1 silent.txt)" "$(column_median 2 silent.txt)"

echo "== the port gone after 10 packets, $gone_seconds s in all"
printf "%-4s %12s %12s %8s %6s %8s\n" run "imutap %core" "wake-ups/s" "RSS kB" steal% "wall s"
: > "$work/gone.txt"
for run in $(seq 1 "$runs"); do
    idle_run gone "$gone_seconds" -r 100 --replug 10:3600000
done
printf "median: imutap %.3f %% of one core, %.1f wake-ups/s\n" \
    "$(column_median 1 gone.txt)" "$(column_median 2 gone.txt)"
