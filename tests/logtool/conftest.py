"""Logs for the tests of imutap-inspect, made once per session by the logger
from the emulated unit. IMUTAP and IMUTAP_EMU name the programs (ctest sets
them); by default those of build/ in the source tree."""

import concurrent.futures
import os
import subprocess
import sys

import pytest

TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TOOL = os.path.join(TOP, "logtool")
sys.path.insert(0, TOOL)

# name: (emulated unit's options, logger's options)
RUNS = {
    "angle_time": (["-n", "200"], ["-m", "a", "-t", "0.01"]),
    "angle_wrap": (["-n", "150", "--start-seq", "65500"], ["-m", "a"]),
    "scaled_decimated": (["-n", "300"], ["-m", "c", "-d", "3"]),
    "scaled_thinned": (["-n", "100", "--start-seq", "65530"],
                       ["-m", "c", "-t", "0.01", "-f", "0.03"]),
    "voltage": (["-n", "100"], ["-m", "r"]),
    "voltage_clock": (["-n", "100"], ["-m", "r", "-D"]),
    # bad packets and a dropped byte; paced, so that the logger catches up
    "missing": (["-n", "100", "-r", "1000", "--bad-checksum", "5,50-51",
                 "--drop-byte", "20"], ["-m", "a"]),
    # the unit silent for 1.8 s, its counter standing still
    "silent": (["-n", "400", "-r", "1000", "--silence", "200:1800"],
               ["-m", "a", "-t", "0.001"]),
    # a unit lying still with known noise, 2000 s at 100 packets/s (-t 0.01),
    # sent as fast as the pty takes it
    "still": (["-n", "200000", "--still-gyro", "0.01:0.002",
               "--still-accel", "0.0002:0.00005"], ["-m", "c", "-t", "0.01"]),
}


def program(variable, relative):
    path = os.environ.get(variable, os.path.join(TOP, "build", relative))
    if not os.access(path, os.X_OK):
        pytest.skip("%s not built (%s); set %s" % (relative, path, variable))
    return path


@pytest.fixture(scope="session")
def logs(tmp_path_factory):
    emu = program("IMUTAP_EMU", "emulator/imutap-emu")
    logger = program("IMUTAP", "src/imutap")
    folder = tmp_path_factory.mktemp("logs")
    made = {}
    # Each run ends a second after its unit falls silent: they run side by
    # side, a few at a time, each on its own pty.
    def record(name):
        unit, options = RUNS[name]
        path = str(folder / (name + ".txt"))
        rate = [] if "-r" in unit else ["-r", "0"]
        subprocess.run([emu, "-q", "-l", str(folder / (name + ".link"))] + rate
                       + unit + ["--keys", "q", "--", logger, path] + options,
                       stdout=subprocess.DEVNULL, check=True, timeout=60)
        return name, path
    with concurrent.futures.ThreadPoolExecutor(max_workers=4) as runs:
        made.update(runs.map(record, RUNS))
    with open(made["angle_time"], "rb") as f:
        text = f.read()
    made["cut_short"] = str(folder / "cut_short.txt")
    with open(made["cut_short"], "wb") as f:
        f.write(text[:-25])      # a run killed outright, in the last line
    made["malformed"] = str(folder / "malformed.txt")
    lines = text.splitlines(True)
    with open(made["malformed"], "wb") as f:
        f.write(b"".join(lines[:49] + [b"12 0.5 \x00\xff garbage\n"] + lines[49:]))
    made["noise"] = str(folder / "noise.txt")
    with open(made["noise"], "wb") as f:
        f.write(bytes(range(256)) * 8)
    return made


def write_log(path, counter, time=None, values=None, angles=None):
    """A log as the logger writes it: count, time (when given), roll, pitch,
    yaw (when given: angle mode, else scaled mode), nine values (gyros,
    accelerometers, magnetometers; zeros unless given as rows), temperature,
    the unit's counter (wrapped)."""
    import numpy as np
    n = len(counter)
    table = [np.arange(1, n + 1)] + ([] if time is None else [time])
    table += [] if angles is None else list(np.asarray(angles, float))
    rows = np.zeros((9, n)) if values is None else np.asarray(values, float)
    table += list(rows) + [np.full(n, 25.0), np.asarray(counter) % 65536]
    fmt = (["%d"] + ([] if time is None else ["%.6f"])
           + ["%.6f"] * (len(table) - 2 - (time is not None)) + ["%d"])
    np.savetxt(path, np.column_stack(table), fmt=fmt, delimiter=" ")
    return str(path)
