#!/usr/bin/python3
"""Times imutap-inspect on a long angle-mode log made by the logger from the
emulated unit: summary, noise, plot and csv, each beside a baseline taken in
the same run (the interpreter starting, importing numpy and reading the
file's bytes, the least any such tool pays).

    bench/inspect_bench.py BUILD_DIR [LINES] [REPEATS]

The log (LINES lines, default 1,000,000, with a time column) is made once and
kept as BUILD_DIR/bench/inspect-LINES.txt. For each command: the median wall
time and CPU time of REPEATS runs (default 3), the peak memory, and the wall
time as a multiple of the baseline's. The load average is printed before and
after, since the machine may be shared. Above 2,000,000 lines only summary
and noise are timed, which read the log a piece at a time (plot and csv
hold it whole), and the baseline reads the file a piece at a time too.
"""

import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

TOP = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
INSPECT = os.path.join(TOP, "logtool", "imutap-inspect")
PYTHON = "/usr/bin/python3"


def make_log(build, lines):
    path = os.path.join(build, "bench", "inspect-%d.txt" % lines)
    if os.path.exists(path):
        return path
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run([os.path.join(build, "emulator", "imutap-emu"), "-q", "-r",
                    "0", "-n", str(lines), "--keys", "q", "--",
                    os.path.join(build, "src", "imutap"), path + ".part",
                    "-m", "a", "-t", "0.01"],
                   stdout=subprocess.DEVNULL, check=True)
    with open(path + ".part", "rb") as f:
        made = sum(chunk.count(b"\n") for chunk in iter(lambda: f.read(1 << 20), b""))
    if made != lines:
        sys.exit("the logger wrote %d lines, not %d" % (made, lines))
    os.rename(path + ".part", path)
    return path


def tree_rss(root):
    """Resident bytes of root and all its descendants now (shared pages
    counted in each process: an upper bound)."""
    parents, rss = {}, {}
    page = os.sysconf("SC_PAGE_SIZE")
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            with open("/proc/%s/statm" % entry) as f:
                rss[int(entry)] = int(f.read().split()[1]) * page
        except (OSError, IndexError, ValueError):
            continue
        parents[int(entry)] = int(fields[1])
    total, stack = 0, [root]
    while stack:
        pid = stack.pop()
        total += rss.get(pid, 0)
        stack += [child for child, parent in parents.items() if parent == pid]
    return total


def run_once(argv):
    """(wall s, CPU s, peak RSS bytes) of one run of argv: the CPU time of
    the command and the worker processes it started; the peak of the
    resident memory of all of them together, sampled every 20 ms, or the
    largest single process's from wait4 when that is more."""
    start = time.perf_counter()
    child = subprocess.Popen(argv, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    peak, done = [0], threading.Event()

    def sample():
        while not done.wait(0.02):
            peak[0] = max(peak[0], tree_rss(child.pid))
    sampler = threading.Thread(target=sample)
    sampler.start()
    _, status, usage = os.wait4(child.pid, 0)
    done.set()
    sampler.join()
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode not in (0, 1):
        sys.exit("%s ended with status %d" % (" ".join(argv), child.returncode))
    return (wall, usage.ru_utime + usage.ru_stime,
            max(peak[0], usage.ru_maxrss * 1024))


def measure(argv, repeats):
    runs = [run_once(argv) for _ in range(repeats)]
    return (statistics.median(r[0] for r in runs),
            statistics.median(r[1] for r in runs), max(r[2] for r in runs))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = sys.argv[1]
    lines = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    repeats = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    log = make_log(build, lines)
    size = os.path.getsize(log)
    out = tempfile.mkdtemp(prefix="imutap-inspect-bench.")
    print("log: %s, %d lines, %.1f MB; %d runs each; load average %.2f %.2f %.2f"
          % (log, lines, size / 1e6, repeats, *os.getloadavg()))
    whole = lines <= 2_000_000
    read = ("open(sys.argv[1], 'rb').read()" if whole else
            "f = open(sys.argv[1], 'rb')\nwhile f.read(48 << 20): pass")
    base = measure([PYTHON, "-c", "import sys, numpy\n" + read, log], repeats)
    cases = [("baseline", base),
             ("summary", measure([PYTHON, INSPECT, "summary", log], repeats)),
             ("noise", measure([PYTHON, INSPECT, "noise", log], repeats))]
    if whole:
        cases += [("plot", measure([PYTHON, INSPECT, "plot", log, "-o",
                                    os.path.join(out, "log.png")], repeats)),
                  ("csv", measure([PYTHON, INSPECT, "csv", log,
                                   os.path.join(out, "log.csv")], repeats))]
    print("%-9s %9s %9s %10s %12s %12s" % ("", "wall s", "CPU s", "peak MB",
                                         "peak/file", "wall/base"))
    for name, (wall, cpu, rss) in cases:
        print("%-9s %9.2f %9.2f %10.0f %12.2f %12.1f" % (
            name, wall, cpu, rss / 1e6, rss / size, wall / base[0]))
    print("load average after: %.2f %.2f %.2f" % os.getloadavg())
    for name in ("log.png", "log.csv"):
        if os.path.exists(os.path.join(out, name)):
            os.remove(os.path.join(out, name))
    os.rmdir(out)


if __name__ == "__main__":
    main()
