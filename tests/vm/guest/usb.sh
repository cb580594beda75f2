# The USB adapter (ttyUSB0, the ftdi_sio driver): pulled out mid-run and
# plugged back, then removed for good.
port=/dev/ttyUSB0

usb_nodes() {
    ls /dev/ttyUSB* 2>/dev/null | tr '\n' ' '
}

# said NAME TEXT COUNT: until imutap has said TEXT COUNT times (10 s at most).
said() {
    wait_for "[ \$(times_said $1 '$2') -ge $3 ]" 100 || say "case $1: '$2' not said $3 times"
}

wait_for "[ -e $port ]" 100 || say "no $port"

# Pulled out for 3 s, plugged back, and at the end removed for good: q.
start_logger replug -m c -b 115200 -c "$port"
wait_lines replug 150 || say "case replug: fewer than 150 lines in 20 s"
ask rate replug
ask unplug
said replug 'serial port lost' 1
echo "$(usb_nodes)" >/host/replug.nodes-away
ask replug
said replug 'serial port back' 1
echo "$(usb_nodes)" >/host/replug.nodes-back
wait_lines replug $(($(lines_in /tmp/replug.txt) + 150)) || say "case replug: logging did not go on"
ask unplug
said replug 'serial port lost' 2
stop_logger replug q

# Plugged in once more; removed for good while a stop signal ends the run. A
# probe holds the port too and reports what the driver does once it has gone;
# it lets go when its standard input (descriptor 4 here) is closed.
ask plug
wait_for "[ -e $port ]" 100 || say "no $port after plugging in"
rm -f /tmp/probe.hold
mkfifo /tmp/probe.hold
removed-port-probe "$port" </tmp/probe.hold >/tmp/probe.txt 2>&1 &
probe_pid=$!
exec 4>/tmp/probe.hold
start_logger removed -m a -c "$port"
wait_lines removed 150 || say "case removed: fewer than 150 lines in 20 s"
ask unplug
said removed 'serial port lost' 1
stop_logger removed TERM

# Plugged in while the probe still holds the removed device: the adapter
# comes back under another name.
ask plug
wait_for "[ -n \"\$(usb_nodes)\" ]" 100 || say "no ttyUSB node after plugging in"
echo "$(usb_nodes)" >/host/removed.nodes-held
say "plugged in while held: $(usb_nodes)"
exec 4>&-
wait "$probe_pid"
say "the probe has let go"
cp /tmp/probe.txt /host/
