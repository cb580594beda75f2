"""Checking what the guest's imutap logged: the count column, the unit's
counter, and every value against the host's imutap logging the same packets
from the emulated unit (the unit's values depend only on the counter)."""

import os
import subprocess
import tempfile

COUNTER_WRAP = 65536
PACKET_LENGTH = {"a": 30, "c": 24, "r": 24}
# Messages that must not show in a clean run.
PROBLEMS = ["packet size incorrect", "unrecognized header byte", "bad checksum",
            "unrecognized packet type", "AHRS silent", "does not", "error", "could not"]


def read_lines(path):
    """The log's lines; a last line without its line end counts as a fault."""
    with open(path, "rb") as log:
        text = log.read().decode("ascii", "replace")
    lines = text.split("\n")
    if lines[-1] != "":
        raise ValueError(f"{os.path.basename(path)}: the last line has no line end")
    return lines[:-1]


def counter_of(line):
    return int(line.split(" ")[-1])


def count_column_problems(lines):
    for number, line in enumerate(lines, 1):
        if line.split(" ")[0] != str(number):
            return [f"line {number} has count {line.split(' ')[0]}"]
    return []


def counter_gaps(lines):
    """(line number, last counter before, first after) for every step that
    is not one."""
    gaps = []
    for number in range(1, len(lines)):
        before, after = counter_of(lines[number - 1]), counter_of(lines[number])
        if (after - before) % COUNTER_WRAP != 1:
            gaps.append((number + 1, before, after))
    return gaps


def reference_lines(build_dir, mode, first_counter, count):
    """{counter: the log line without its count}: the host's imutap logging
    the emulated unit's packets first_counter .. first_counter+count-1."""
    build_dir = os.path.abspath(build_dir)
    emulator = os.path.join(build_dir, "emulator", "imutap-emu")
    imutap = os.path.join(build_dir, "src", "imutap")
    with tempfile.TemporaryDirectory() as work:
        # The unit's answer to "G" takes the sequence number before the first.
        start = (first_counter - 1) % COUNTER_WRAP
        subprocess.run([emulator, "-q", "-r", "0", "-n", str(count), "--start-seq", str(start),
                        "-l", os.path.join(work, "unit"), "--keys", "q", "--",
                        imutap, os.path.join(work, "log.txt"), "-m", mode],
                       cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60, check=True)
        lines = read_lines(os.path.join(work, "log.txt"))
    return {counter_of(line): line.split(" ", 1)[1] for line in lines}


# Per mode: the reference lines made so far, kept for the next log.
references = {}


def reference_for(build_dir, mode, first, span):
    """The reference lines for counters first .. first+span-1, from one run
    of the host's imutap over everything asked for in this mode so far."""
    wanted = [(first + step) % COUNTER_WRAP for step in range(span)]
    known = references.get(mode, {})
    if not all(counter in known for counter in wanted):
        start, end = first, first + span  # counters without the wrap
        if known:
            low, high = min(known), max(known) + 1
            if high - low < COUNTER_WRAP // 2 and end <= COUNTER_WRAP:
                start, end = min(start, low), max(end, high)
        references[mode] = reference_lines(build_dir, mode, start, end - start)
    return references[mode]


def value_problems(lines, reference):
    for number, line in enumerate(lines, 1):
        counter = counter_of(line)
        expected = reference.get(counter)
        if expected is None:
            return [f"line {number}: counter {counter} not in the reference"]
        if line.split(" ", 1)[1] != expected:
            return [f"line {number}: {line!r}, the unit sent {expected!r}"]
    return []


def check_log(build_dir, path, mode, least_lines, gaps_allowed):
    """(problems, lines, gaps) of a log that must hold at least least_lines
    lines, every value as the unit sent it."""
    try:
        lines = read_lines(path)
    except (OSError, ValueError) as error:
        return [str(error)], [], []
    if len(lines) < least_lines:
        return [f"{len(lines)} lines, fewer than {least_lines}"], lines, []
    problems = count_column_problems(lines)
    gaps = counter_gaps(lines)
    if len(gaps) > gaps_allowed:
        problems.append(f"{len(gaps)} steps of the counter that are not one (line, before, "
                        f"after): {gaps[:5]}")
    first = counter_of(lines[0])
    span = (counter_of(lines[-1]) - first) % COUNTER_WRAP + 1
    problems += value_problems(lines, reference_for(build_dir, mode, first, span))
    return problems, lines, gaps


def output_problems(path):
    """The messages of a clean run's output that say something went wrong."""
    try:
        with open(path, "rb") as output:
            text = output.read().decode("ascii", "replace")
    except OSError as error:
        return [str(error)]
    return [f"said {problem!r}" for problem in PROBLEMS if problem in text]


def packets_in(stream, mode):
    """The counters of the whole, good packets in a byte stream that may
    begin in the middle of one, and how many bytes came before the first."""
    length = PACKET_LENGTH[mode]

    def good(at):
        packet = stream[at:at + length]
        return (len(packet) == length and packet[0] == 0xFF
                and sum(packet[1:-1]) % 256 == packet[-1])

    for offset in range(min(length, len(stream))):
        if all(good(at) for at in range(offset, len(stream) - length + 1, length)) and \
                (len(stream) - offset) % length == 0:
            counters = [stream[at + length - 3] << 8 | stream[at + length - 2]
                        for at in range(offset, len(stream), length)]
            return counters, offset
    return None, len(stream)
