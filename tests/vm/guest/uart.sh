# The 16550 UART (ttyS1, the 8250 driver): the unit on the host's side of it.
port=/dev/ttyS1

uart_case() { # name mode baud
    start_logger "$1" -m "$2" -b "$3" -c "$port"
    # Once it logs, the host reads the rate its side of the line was set to.
    if wait_lines "$1" 150; then
        ask rate "$1"
    else
        say "case $1: fewer than 150 lines in 20 s"
    fi
    stop_logger "$1" q
}

# A port left as a terminal program leaves it: software flow control,
# 7 bits with parity, canonical mode.
stty -F "$port" ixon ixoff cs7 parenb icanon
stty -F "$port" -a >/host/dirty.stty
uart_case dirty a 38400

for baud in 38400 115200; do
    for mode in a c r; do
        uart_case "$mode-$baud" "$mode" "$baud"
    done
done
