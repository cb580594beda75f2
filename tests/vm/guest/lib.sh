# What the guest's cases share: asking the host for something, waiting with a
# bound, running imutap with its keys on a pipe and its results in the share.
# Console lines that start with "imutap-vm: " are for the host.

asked=0
answer=

say() {
    echo "imutap-vm: $*"
}

# wait_for CONDITION TENTHS: true once the shell condition holds, false when it
# still does not after TENTHS tenths of a second.
wait_for() {
    tries=0
    while ! eval "$1"; do
        tries=$((tries + 1))
        [ "$tries" -gt "$2" ] && return 1
        sleep 0.1
    done
    return 0
}

# ask WHAT ARGS...: the host does it and answers through the share; the
# answer is in $answer. False when no answer came within a minute.
ask() {
    asked=$((asked + 1))
    say "ask $asked $*"
    if ! wait_for "[ -e /host/answer.$asked ]" 600; then
        say "no answer to: $*"
        return 1
    fi
    answer=$(cat "/host/answer.$asked")
}

# Hundredths of a second since the guest started.
now_cs() {
    read -r up rest </proc/uptime
    echo "${up%.*}${up#*.}"
}

lines_in() {
    if [ -e "$1" ]; then wc -l <"$1"; else echo 0; fi
}

# How often imutap has said TEXT so far.
times_said() { # name text
    grep -c "$2" "/tmp/$1.out" 2>/dev/null
}

# start_logger NAME ARGS...: imutap logs into /tmp/NAME.txt, its output in
# /tmp/NAME.out, its keys from the pipe held open on descriptor 3.
start_logger() {
    name=$1
    shift
    rm -f "/tmp/$name.keys"
    mkfifo "/tmp/$name.keys"
    # Descriptors 3 and 4 hold pipes open for keys; the logger gets none.
    imutap "/tmp/$name.txt" "$@" <"/tmp/$name.keys" >"/tmp/$name.out" 2>&1 3>&- 4>&- &
    logger_pid=$!
    exec 3>"/tmp/$name.keys"
}

# wait_lines NAME COUNT: until the log holds COUNT lines (20 s at most).
wait_lines() {
    wait_for "[ \$(lines_in /tmp/$1.txt) -ge $2 ]" 200
}

# stop_logger NAME q|SIGNAL: ends the run with the key q or the signal and
# leaves the log, the output and "status S stop_cs C" (how long the end took,
# in hundredths of a second) in the share.
stop_logger() {
    name=$1
    started=$(now_cs)
    if [ "$2" = q ]; then
        echo q >&3
    else
        kill -s "$2" "$logger_pid"
    fi
    # A logger that does not end is killed after 20 s (status 137). The
    # watchdog holds no pipe open, or its sleep would keep it from ending.
    (sleep 20; kill -9 "$logger_pid" 2>/dev/null) 3>&- 4>&- &
    watchdog=$!
    wait "$logger_pid"
    status=$?
    ended=$(now_cs)
    kill "$watchdog" 2>/dev/null
    exec 3>&-
    cp "/tmp/$name.txt" "/tmp/$name.out" /host/ 2>/dev/null
    echo "status $status stop_cs $((ended - started))" >"/host/$name.result"
    say "case $name ended, status $status"
}
