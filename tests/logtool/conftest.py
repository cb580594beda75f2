"""Logs for the tests of imutap-inspect, made once per session by the logger
from the emulated unit. IMUTAP and IMUTAP_EMU name the programs (ctest sets
them); by default those of build/ in the source tree."""

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
    for name, (unit, options) in RUNS.items():
        path = str(folder / (name + ".txt"))
        rate = [] if "-r" in unit else ["-r", "0"]
        subprocess.run([emu, "-q", "-l", str(folder / (name + ".link"))] + rate
                       + unit + ["--keys", "q", "--", logger, path] + options,
                       stdout=subprocess.DEVNULL, check=True, timeout=60)
        made[name] = path
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
