"""imutap-inspect on logs of the logger: the columns, the summary's verdict
and exit status, the CSV and the pictures."""

import csv
import io
import os
import re
import subprocess

import numpy as np
import pytest

from conftest import TOOL, write_log
import imutaplog
from imutaplog.plot import envelope

INSPECT = os.path.join(TOOL, "imutap-inspect")
PYTHON = "/usr/bin/python3"


def inspect(*args):
    done = subprocess.run([PYTHON, INSPECT] + list(args), capture_output=True,
                          text=True, timeout=120)
    assert "Traceback" not in done.stderr
    return done


def plain_lines(path, fields):
    """The lines of the log that hold `fields` numbers, read the slow way."""
    with open(path, "rb") as f:
        rows = [line.split() for line in f.read().split(b"\n")[:-1]]
    return [[float(x) for x in r] for r in rows if len(r) == fields]


@pytest.mark.parametrize("name, mode, fields, some_names", [
    ("angle_time", None, 16, ["time", "roll", "yaw", "gyro_z", "counter"]),
    ("angle_wrap", "a", 15, ["count", "pitch", "mag_x", "temperature"]),
    ("scaled_decimated", None, 12, ["gyro_x", "accel_y", "mag_z"]),
    ("scaled_thinned", "c", 13, ["time", "accel_x"]),
    ("voltage", "r", 12, ["ch1", "ch9", "temperature"]),
    ("voltage_clock", "r", 13, ["time", "ch5"]),
    ("missing", None, 15, ["roll"]),
    ("malformed", None, 16, ["roll"]),
])
def test_columns_and_csv_hold_the_logs_numbers(logs, tmp_path, name, mode,
                                               fields, some_names):
    log = imutaplog.read_log(logs[name], mode)
    expected = np.array(plain_lines(logs[name], fields))
    assert len(log.names) == fields and set(some_names) <= set(log.names)
    assert np.array_equal(log.table, expected.T)
    assert log.units.get("roll", "deg") == "deg" and log.units["counter"] == ""

    out = str(tmp_path / "log.csv")
    assert inspect("csv", logs[name], out, *(["-m", mode] if mode else [])
                   ).returncode == 0
    with open(out, newline="") as f:
        rows = list(csv.reader(f))
    assert rows[0] == log.labels()
    assert "time [s]" in rows[0] or "time" not in log.names
    assert np.array_equal(np.array(rows[1:], dtype=float), expected)


@pytest.mark.parametrize("name, args, status, said", [
    ("angle_time", [], 0, [r"angle mode, with a time column \(16 fields",
                           r"mean rate: 100\.000 lines/s",
                           r"^roll \[deg\] +-?\d+\.\d{6} ",
                           r"^complete: no packet missing, counter step 1 throughout$"]),
    ("angle_wrap", [], 0, [r"counter: 65501 to 114, usual step 1, wrapped 1 time from 65535 to 0",
                           r"^complete: "]),
    ("scaled_decimated", [], 0, [r"taken as scaled mode \(give -m r for voltage mode\)",
                                 r"usual step 3", r"^complete: .* step 3 "]),
    ("voltage", ["-m", "r"], 0, [r"voltage mode, no time column", r"^ch9 \[V\] +0\.625000 ",
                                 r"^complete: "]),
    ("voltage_clock", ["-m", "r"], 0, [r"with a time column \(13 fields", r"^complete: "]),
    ("scaled_thinned", [], 1, [r"^cannot judge completeness: the counter's step varies"]),
    ("cut_short", [], 1, [r"^line 200: cut short \(no line end\); skipped$",
                          r"^lines: 199 used, 1 skipped$", r"^incomplete: 1 line skipped$"]),
    ("malformed", [], 1, [r"^line 50: 4 fields where 16 are expected; skipped$",
                          r"^incomplete: 1 line skipped$"]),
    ("voltage", ["-m", "a"], 2, [r"lines of 12 fields are scaled mode \(-m c\) or"
                                 r" voltage mode \(-m r\), not angle mode \(-m a\)"]),
    ("angle_time", ["-m", "r"], 2, [r"are angle mode \(-m a\), not voltage mode \(-m r\)"]),
    ("noise", [], 1, [r"most lines have \d+ fields"]),
])
def test_summary(logs, name, args, status, said):
    done = inspect("summary", logs[name], *args)
    assert done.returncode == status, done.stdout + done.stderr
    for pattern in said:
        assert re.search(pattern, done.stdout + done.stderr, re.M), pattern


def test_summary_names_every_place_where_packets_are_missing(logs):
    log = imutaplog.read_log(logs["missing"])
    counter, count = log["counter"].astype(int), log["count"].astype(int)
    expected = ["line %d (count %d, counter %d): %d packet%s missing after counter %d"
                % (log.line_numbers[i], count[i], counter[i], step - 1,
                   "" if step == 2 else "s", counter[i - 1])
                for i, step in enumerate(np.diff(counter, prepend=0), 0)
                if i and step != 1]
    done = inspect("summary", logs["missing"])
    assert done.returncode == 1
    told = re.findall(r"^line .* missing after counter \d+$", done.stdout, re.M)
    assert told == expected and len(told) >= 2
    assert "1 packet missing" in done.stdout       # the one bad checksum
    assert re.search(r"^incomplete: \d+ packets missing in %d places$" % len(told),
                     done.stdout, re.M)


@pytest.mark.parametrize("args", [
    [], ["summary"], ["summary", "/nonexistent/log.txt"], ["report", "x"],
    ["summary", "LOG", "-m", "x"], ["plot", "LOG", "-o", "picture.txt"],
    ["csv", "LOG", "LOG"],
])
def test_bad_usage_ends_with_status_2(logs, args):
    done = inspect(*[logs["angle_time"] if a == "LOG" else a for a in args])
    assert done.returncode == 2 and done.stderr


@pytest.mark.parametrize("name, args, picture, starts", [
    ("angle_time", [], "attitude.png", b"\x89PNG\r\n\x1a\n"),
    ("missing", [], "gaps.png", b"\x89PNG\r\n\x1a\n"),
    ("voltage", ["-m", "r"], "channels.svg", b"<svg"),
    ("scaled_decimated", [], "scaled.pdf", b"%PDF-"),
])
def test_plot_writes_a_picture(logs, tmp_path, name, args, picture, starts):
    out = tmp_path / picture
    done = inspect("plot", logs[name], "-o", str(out), *args)
    assert done.returncode == 0, done.stderr
    data = out.read_bytes()
    if picture.endswith(".svg"):
        assert re.search(rb"<svg[ >]", data) and data.rstrip().endswith(b"</svg>")
    else:
        assert data.startswith(starts) and len(data) > 1000


@pytest.mark.parametrize("outage", [False, True])
def test_envelope_of_a_long_log_keeps_a_single_spike_and_breaks_at_outages(outage):
    x = np.arange(1_000_000, dtype=float)
    if outage:
        x[500_000:] += 200_000         # a fifth of the axis without samples
    y = np.zeros((1, len(x)))
    y[0, 654_321] = 7.0
    xs, ys = envelope(x, y, 1000)
    assert len(xs) <= 2000 + outage and np.nanmax(ys) == 7.0 and np.nanmin(ys) == 0.0
    assert np.isnan(ys).any() == outage


def test_installed_command_finds_its_package(logs, tmp_path):
    build = os.environ.get("IMUTAP_BUILD_DIR")
    if not build:
        pytest.skip("IMUTAP_BUILD_DIR not set: the installed layout is not tried")
    subprocess.run(["cmake", "--install", build, "--prefix", str(tmp_path)],
                   check=True, capture_output=True, timeout=60)
    done = subprocess.run([str(tmp_path / "bin" / "imutap-inspect"), "summary",
                           logs["angle_time"]], capture_output=True, text=True,
                          cwd="/", env={"PATH": "/usr/bin:/bin"}, timeout=60)
    assert done.returncode == 0 and "complete:" in done.stdout


def _outage_log(path, kind):
    """Logs with an outage or a silence, at 100 packets/s."""
    n = np.arange(1000)
    if kind == "silent":               # counter stands still 1.8 s
        return write_log(path, np.arange(2000), np.r_[n, n + 1180] * 0.01)
    if kind == "held_up":              # the logger held up 3 s, then a backlog
        time = np.arange(2000) * 0.01
        time[1000:1300] = 12.99 + np.arange(300) * 1e-5
        return write_log(path, np.arange(2000), time)
    jump = {"400s": 40000, "wraps": 140000, "no_time": 40000}[kind]
    counter = np.r_[n, n + 999 + jump]
    return write_log(path, counter, None if kind == "no_time" else counter * 0.01)


@pytest.mark.parametrize("kind, status, said", [
    ("400s", 1, [r"^line 1001 \(count 1001, counter 40999\): 39999 packets missing"
                 r" after counter 999 \(a gap of 400\.000 s\)$",
                 r"100\.000 packets/s by the unit's counter",
                 r"^incomplete: 39999 packets missing in 1 place$"]),
    ("wraps", 1, [r": 139999 packets missing after counter 999 \(a gap of 1400\.000 s\)$",
                  r"wrapped 2 times from 65535 to 0", r"100\.000 packets/s"]),
    ("no_time", 1, [r": at least 39999 packets missing after counter 999 \(or the"
                    r" counter went back by 25536\)$",
                    r"^incomplete: at least 39999 packets missing in 1 place$"]),
    ("silent", 1, [r"^line 1001 \(count 1001, counter 1000\): 1\.800 s without packets"
                   r" that the counter does not show",
                   r"^incomplete: 1 time gap the counter does not show$"]),
    ("held_up", 0, [r"^complete: "]),
    ("emulated_silence", 1, [r"\d\.\d{3} s without packets that the counter does not show",
                             r"^incomplete: .*1 time gap the counter does not show$"]),
])
def test_completeness_is_right_at_any_outage(logs, tmp_path, kind, status, said):
    path = (logs["silent"] if kind == "emulated_silence"
            else _outage_log(tmp_path / "log.txt", kind))
    done = inspect("summary", path)
    assert done.returncode == status, done.stdout + done.stderr
    for pattern in said:
        assert re.search(pattern, done.stdout, re.M), (pattern, done.stdout)
    assert "goes back" not in done.stdout


@pytest.mark.parametrize("what, said", [
    ("yaw_through_180", [r"^yaw \[deg\] +-179\.000000 +(-?180\.0000|179\.9999)\d* +1\.0000\d* +179\.000000$",
                         r"^ +min +mean +std +max$"]),
    ("many_skipped", [r"^line 20: 4 fields where 12 are expected; skipped\nand 1,005 more$",
                      r"^lines: 974 used, 1025 skipped$",
                      r"^incomplete: 1025 lines skipped$"]),
    ("one_each", [r"^incomplete: 1 packet missing in 1 place, 1 line skipped$"]),
    ("empty_line", [r"^line 1001: empty line; skipped$", r"^lines: 1998 used, 1 skipped$"]),
])
def test_summary_reads(tmp_path, what, said):
    path = str(tmp_path / "log.txt")
    n = np.arange(2000)
    if what == "yaw_through_180":
        write_log(path, n, n * 0.01, angles=[n * 0, n * 0, np.where(n % 2, 179.0, -179.0)])
    else:
        write_log(path, np.delete(n, 500), None)
        with open(path, "rb") as f:
            lines = f.read().splitlines(True)
        bad = {"many_skipped": 1025, "one_each": 1}.get(what, 0)
        if what == "empty_line":
            lines[1000] = b"\n"
        with open(path, "wb") as f:
            f.write(b"".join(b"1 2 3 4\n" if i < bad else line
                             for i, line in enumerate(lines)))
    done = inspect("summary", path)
    for pattern in said:
        assert re.search(pattern, done.stdout, re.M), (pattern, done.stdout)


def test_csv_lines_end_alike_whatever_the_logs_did(tmp_path):
    path = write_log(tmp_path / "log.txt", np.arange(100), np.arange(100) * 0.01)
    with open(path, "rb") as f:
        lines = f.read().splitlines(True)
    lines[3:50] = [line.replace(b"\n", b"\r\n") for line in lines[3:50]]
    lines[60] = b"61 0.6 bad\r\n"
    with open(path, "wb") as f:
        f.write(b"".join(lines))
    done = subprocess.run([PYTHON, INSPECT, "csv", path], capture_output=True,
                          timeout=60)
    assert done.returncode == 0 and b"\r" not in done.stdout
    assert done.stdout.count(b"\n") == 100


@pytest.mark.parametrize("name, args, status", [
    ("missing", ["--channels", "gyro_x,accel,temperature"], 0),   # no time: counter axis
    ("angle_time", ["--from", "0.5", "--to", "1.2"], 0),
    ("silent", ["--channels", "attitude"], 0),
    ("angle_time", ["--channels", "gyro_q"], 2),
    ("angle_time", ["--from", "1000"], 2),
])
def test_plot_picks_what_to_draw(logs, tmp_path, name, args, status):
    done = inspect("plot", logs[name], "-o", str(tmp_path / "p.png"), *args)
    assert done.returncode == status, done.stderr
    assert (tmp_path / "p.png").exists() == (status == 0)


@pytest.mark.parametrize("name", ["malformed", "cut_short", "silent"])
def test_reading_in_pieces_says_what_reading_whole_says(logs, name):
    from imutaplog.reader import read_pieces
    from imutaplog.summary import summarise, summary_piece
    told = []
    for workers, chunk in [(1, 1 << 30), (2, 3000)]:
        out = io.StringIO()
        status = summarise(read_pieces(logs[name], None, summary_piece,
                                       workers=workers, chunk_bytes=chunk), out)
        told.append((status, out.getvalue()))
    assert told[0] == told[1] and "line" in told[0][1]
