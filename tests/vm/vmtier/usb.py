"""The FTDI USB adapter (the guest's ttyUSB0, Linux's ftdi_sio driver), the
emulated unit on the host's side of it, pulled out and plugged back through
QEMU's monitor as a hand pulls the plug. One boot runs guest/usb.sh."""

import os
import select
import time

from . import logs

AWAY_S = 3.0
LEAST_LINES = 150
STOP_LIMIT_CS = 150  # q or a stop signal ends a run about a second after it
PORT_LOST = "serial port lost; waiting for it to come back\n"
PORT_BACK = "serial port back; initialising AHRS\n"
ADAPTER = {"driver": "usb-serial", "chardev": "usb", "id": "adapter", "bus": "xhci.0",
           "port": "1", "serial": "FT000001"}
# What the driver does with a descriptor of the adapter after it is gone.
PROBE_EXPECTED = ["open: ok", "poll: POLLIN POLLOUT POLLERR POLLHUP", "read: 0",
                  "write: -1 EIO", "tcgetattr: -1 EIO", "tcsetattr: -1 EIO", "tcflush: -1 EIO",
                  "FIONREAD: -1 EIO", "TIOCMGET: -1 EIO", "close: 0"]


def devices(boot):
    unit = boot.add_unit("usb", [])
    # The same port and serial number each time the adapter is plugged in,
    # as the same adapter in the same socket.
    return ["-device", "qemu-xhci,id=xhci", "-chardev", f"serial,id=usb,path={unit.link}",
            "-device", ",".join(["usb-serial"] + [f"{key}={value}" for key, value in
                                                 ADAPTER.items() if key != "driver"])]


def throw_away_queue(unit):
    """The unit stops ("P"), and what it sent while the adapter was out,
    queued on the host's side, is read away: bytes a pulled cable would have
    lost. Returns the bytes."""
    line = unit.open_line()
    try:
        os.write(line, b"P")
        stream = b""
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            ready, _, _ = select.select([line], [], [], 0.3)
            if not ready:
                break
            stream += os.read(line, 65536)
        return stream
    finally:
        os.close(line)


def answerer(boot, seen):
    def answer(what, arguments, deadline):
        machine = boot.machine  # started after the answerer was made
        if what == "rate":
            seen[f"rate {arguments[0]}"] = boot.units["usb"].rate()
            return seen[f"rate {arguments[0]}"]
        if what == "unplug":
            machine.qmp_command("device_del", {"id": ADAPTER["id"]}, deadline)
            machine.qmp_wait_event("DEVICE_DELETED", ADAPTER["id"], deadline)
            seen["unplugged at"] = time.monotonic()
            return "gone"
        if what == "replug":
            time.sleep(max(0.0, seen["unplugged at"] + AWAY_S - time.monotonic()))
            seen["thrown away"] = throw_away_queue(boot.units["usb"])
            seen["away s"] = time.monotonic() - seen["unplugged at"]
            machine.qmp_command("device_add", ADAPTER, deadline)
            return "back"
        if what == "plug":
            machine.qmp_command("device_add", ADAPTER, deadline)
            return "back"
        raise RuntimeError(f"the guest asked for '{what}', which the USB cases never do")
    return answer


def read_text(path):
    try:
        with open(path, "rb") as text:
            return text.read().decode("ascii", "replace")
    except OSError as error:
        return f"({error})"


def run_problems(boot, name, stop_limit):
    result = boot.result(name)
    if result is None:
        return ["the case left no result"]
    problems = []
    if result["status"] != 0:
        problems.append(f"exit status {result['status']}")
    if result["stop_cs"] > stop_limit:
        problems.append(f"took {result['stop_cs'] / 100:.2f} s to end")
    return problems


def messages_problems(output, expected):
    """The port's messages, in the order expected."""
    said = [message for at, message in sorted(
        (at, message) for message in (PORT_LOST, PORT_BACK)
        for at in range(len(output)) if output.startswith(message, at))]
    return [] if said == expected else [f"said {said}, not {expected}"]


def gap_problems(gaps, stream, notes):
    """The one gap: the packet the unplug cut through, the packets sent
    while the adapter was out (read away on the host), and the answer to
    "G" of the new initialisation, nothing more."""
    if len(gaps) != 1:
        return [f"{len(gaps)} gaps in the counter, not one: {gaps}"]
    _, before, after = gaps[0]
    thrown, offset = logs.packets_in(stream, "c")
    if not thrown:
        return [f"no whole packets among the {len(stream)} bytes queued while away"]
    in_transit = (thrown[0] - before - 1) % logs.COUNTER_WRAP
    notes.append(f"gap: counter {before} to {after}; {in_transit} packet(s) cut off at the "
                 f"unplug ({offset} bytes of it queued), {len(thrown)} sent while away "
                 f"({thrown[0]} to {thrown[-1]}), then the answer to G")
    problems = []
    if any((b - a) % logs.COUNTER_WRAP != 1 for a, b in zip(thrown, thrown[1:])):
        problems.append("the packets queued while away are not one run")
    if in_transit > 1:
        problems.append(f"{in_transit} packets lost at the unplug beyond those sent while away")
    if (after - thrown[-1]) % logs.COUNTER_WRAP != 2:
        problems.append(f"logging went on at counter {after}, not {thrown[-1] + 2}")
    return problems


def check(boot, build_dir, seen):
    results = []

    problems = run_problems(boot, "replug", STOP_LIMIT_CS)
    notes = []
    if seen.get("rate replug") != 115200:
        problems.append(f"the host's side of the line was at {seen.get('rate replug')} baud")
    log_problems, _, gaps = logs.check_log(build_dir, boot.path("replug.txt"), "c",
                                           2 * LEAST_LINES, 1)
    problems += log_problems
    problems += gap_problems(gaps, seen.get("thrown away", b""), notes)
    output = read_text(boot.path("replug.out"))
    problems += messages_problems(output, [PORT_LOST, PORT_BACK, PORT_LOST])
    problems += logs.output_problems(boot.path("replug.out"))
    if read_text(boot.path("replug.nodes-away")).strip() != "":
        problems.append("a ttyUSB node stayed while the adapter was out: "
                        + read_text(boot.path("replug.nodes-away")))
    if read_text(boot.path("replug.nodes-back")).strip() != "/dev/ttyUSB0":
        problems.append("back as " + read_text(boot.path("replug.nodes-back")))
    if "away s" in seen:
        notes.append(f"away {seen['away s']:.2f} s")
    for note in notes:
        print(f"usb replug: {note}")
    results.append(("usb replug: pulled out 3 s, plugged back, then removed for good and q",
                    problems))

    problems = run_problems(boot, "removed", STOP_LIMIT_CS)
    problems += logs.check_log(build_dir, boot.path("removed.txt"), "a", LEAST_LINES, 0)[0]
    problems += messages_problems(read_text(boot.path("removed.out")), [PORT_LOST])
    problems += logs.output_problems(boot.path("removed.out"))
    held = read_text(boot.path("removed.nodes-held")).strip()
    if held != "/dev/ttyUSB1":
        problems.append(f"plugged in while the old device was held, it came back as {held!r}")
    results.append(("usb removed: removed for good, SIGTERM; back as ttyUSB1 while held",
                     problems))

    probe = read_text(boot.path("probe.txt")).splitlines()
    results.append(("usb probe: a descriptor of the removed adapter",
                    [] if probe == PROBE_EXPECTED else [f"the probe saw {probe}"]))
    return results
