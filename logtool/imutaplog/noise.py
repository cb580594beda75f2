"""The noise of a unit lying still: per gyro and accelerometer axis the
static bias and spread, the overlapping Allan deviation at octave-spaced
averaging times and the noise terms read from it, the noise density from the
spectrum, and the timing of the samples. Only complete stretches of the log
are analysed: the longest, or all of them pooled."""

import math
import os

import numpy as np

from . import layout as cols
from .allan import FLAT_DEVIATION, allan_deviation, noise_terms, octaves
from .counter import check_counter
from .summary import skipped_lines

G = 9.80665                       # m/s^2 per g
RAD = math.pi / 180
AXES = ["gyro_x", "gyro_y", "gyro_z", "accel_x", "accel_y", "accel_z"]
# Stretches shorter than this many lines are left out when pooling.
SHORTEST = 16
# Samples per segment of the spectrum, and per block of segments.
SEGMENT = 4096
BLOCK = 1 << 20


class NoiseError(Exception):
    pass


class Sensor:
    """How one sensor's figures are shown: rows of (label, field factor,
    SI factor) for white noise, bias instability and random walk."""

    def __init__(self, name, unit, white, instability, walk, si_unit):
        self.name, self.unit = name, unit
        self.white, self.instability, self.walk = white, instability, walk
        self.si_unit = si_unit


GYRO = Sensor(
    "gyroscopes", "deg/s",
    ("angle random walk", "deg/sqrt(h)", 60.0, "rad/s/sqrt(Hz)", RAD),
    ("bias instability", "deg/h", 3600.0, "rad/s", RAD),
    ("rate random walk", "deg/h/sqrt(h)", 3600.0 * 60.0, "rad/s^2/sqrt(Hz)", RAD),
    RAD)
ACCEL = Sensor(
    "accelerometers", "g",
    ("velocity random walk", "ug/sqrt(Hz)", 1e6, "m/s^2/sqrt(Hz)", G),
    ("bias instability", "ug", 1e6, "m/s^2", G),
    ("acceleration random walk", "ug/s/sqrt(Hz)", 1e6, "m/s^3/sqrt(Hz)", G),
    G)


def noise_piece(log):
    """What noise keeps of one piece of a log (in a worker process): count,
    time and counter in small types, line numbers, the six axes as float32
    rows, the first of its skipped lines."""
    if log.mode == "r":
        return {"problems": [], "skipped": 0}
    lines = np.asarray(log.line_numbers)
    return {"count": log["count"].astype(np.int32),
            "time": log["time"].copy() if log.has_time else None,
            "counter": log["counter"].astype(np.uint16),
            "line": lines.astype(np.int64 if len(lines) and lines[-1] >= 2 ** 31
                                 else np.int32),
            "axes": np.array([log[a] for a in AXES], np.float32),
            "problems": log.problems[:20], "skipped": len(log.problems)}


def load(pieces):
    """(the Log of the layout, count, time or None, counter, line numbers,
    the six axes as float32 rows, the first skipped lines, how many were
    skipped) from read_pieces(path, mode, noise_piece)."""
    pieces = iter(pieces)
    first = next(pieces)
    if first.mode == "r":
        raise NoiseError("%s: a voltage-mode log has no gyro or accelerometer"
                         " values; noise needs angle or scaled mode" % first.path)
    keep = {"count": [], "time": [], "counter": [], "line": [], "axes": []}
    problems, skipped = [], 0
    for piece in pieces:
        for name in keep:
            if piece[name] is not None and len(piece["count"]):
                keep[name].append(piece[name])
        skipped += piece["skipped"]
        problems.extend(piece["problems"][:max(0, 20 - len(problems))])
    if not keep["count"]:
        raise NoiseError("%s: no usable line" % first.path)
    whole = {"axes": Rows(keep.pop("axes"))}
    for name in keep:               # one column at a time: less memory at once
        whole[name] = np.concatenate(keep[name]) if keep[name] else None
        keep[name] = None
    return (first, whole["count"], whole["time"], whole["counter"],
            whole["line"], whole["axes"], problems, skipped)


class Rows:
    """The six axes as the pieces of the log brought them, never joined
    whole: rows[k, a:b] joins only that stretch of axis k."""

    def __init__(self, pieces):
        self.pieces = pieces
        self.starts = np.cumsum([0] + [p.shape[1] for p in pieces])

    def __getitem__(self, where):
        k, span = where
        a, b, _ = span.indices(int(self.starts[-1]))
        first = int(np.searchsorted(self.starts, a, side="right")) - 1
        parts = []
        for i in range(max(first, 0), len(self.pieces)):
            lo, hi = self.starts[i], self.starts[i + 1]
            if lo >= b:
                break
            parts.append(self.pieces[i][k, max(a - lo, 0):min(b, hi) - lo])
        return parts[0] if len(parts) == 1 else np.concatenate(parts)


def stretches(judged, rows):
    """(first row, end row) of each stretch between two places where the
    counter or the time shows an outage."""
    cuts = sorted({int(np.searchsorted(rows, g.line)) for g in judged.gaps})
    bounds = [0] + cuts + [len(rows)]
    return [(a, b) for a, b in zip(bounds[:-1], bounds[1:]) if b > a]


class Result:
    pass


def analyse(chunks, rate=None, combine=False, spectrum=True):
    """Reads a log (as pieces) and works out its noise; returns a Result."""
    log, count, time, counter, lines, axes, problems, skipped = load(chunks)
    r = Result()
    r.log, r.problems, r.skipped, r.notes = log, problems, skipped, []
    judged = check_counter(counter, count, lines, time)
    if judged.steps_vary:
        raise NoiseError("%s: the counter's step varies from line to line (a log"
                         " thinned with -f?): the samples are not evenly spaced"
                         % log.path)
    if len(count) < 2 * 4:
        raise NoiseError("%s: %d lines are too few for noise figures"
                         % (log.path, len(count)))
    step = judged.step
    r.step = step
    if judged.interval is not None and rate is None:
        r.packet_rate = 1.0 / judged.interval
        r.rate_from = "by the counter over the time column"
    else:
        r.packet_rate = rate or 100.0
        r.rate_from = ("as given with --rate" if rate else
                       "assumed: no time column, give --rate")
    r.tau0 = step / r.packet_rate
    r.time = None
    if time is not None:
        intervals = np.diff(time)
        r.time = (time[-1] - time[0], float(np.mean(intervals)),
                  float(np.std(intervals)), float(np.max(intervals)),
                  judged.advance / (time[-1] - time[0])
                  if time[-1] > time[0] else float("nan"))
    parts = stretches(judged, lines)
    r.stretch_count = len(parts)
    longest = max(parts, key=lambda p: p[1] - p[0])
    if combine:
        use = [p for p in parts if p[1] - p[0] >= SHORTEST] or [longest]
    else:
        use = [longest]
    if longest[1] - longest[0] < 8:
        raise NoiseError("%s: the longest complete stretch has %d lines, too"
                         " few for noise figures" % (log.path,
                                                     longest[1] - longest[0]))
    r.combined = combine
    r.used = [(int(lines[a]), int(lines[b - 1]), b - a) for a, b in use]
    r.longest = (int(lines[longest[0]]), int(lines[longest[1] - 1]),
                 longest[1] - longest[0])
    r.samples = sum(b - a for a, b in use)
    r.ms = octaves(longest[1] - longest[0])
    r.taus = r.ms * r.tau0
    r.adev, r.terms, r.figures, r.bias, r.std, r.density = [], [], [], [], [], []
    for k in range(len(AXES)):
        pieces = [axes[k, a:b] for a, b in use]
        values = np.concatenate(pieces).astype(np.float64)
        r.bias.append(float(values.mean()))
        r.std.append(float(values.std(ddof=1)))
        del values
        adev, terms = allan_deviation(pieces, r.ms)
        r.adev.append(adev)
        r.terms.append(terms)
        r.figures.append(noise_terms(r.taus, adev, terms, r.ms))
    r.spectrum = None
    if spectrum:
        r.spectrum = _spectrum(axes, use, r.packet_rate / step)
        if r.spectrum is None:
            r.notes.append("spectrum skipped: it needs scipy (Debian:"
                           " python3-scipy)")
    return r


def _spectrum(axes, use, fs):
    """Noise density of each axis from Welch's spectrum (two-sided, so that
    white noise reads as the Allan deviation's N), averaged over the upper
    part of the band; None without scipy."""
    try:
        from scipy.signal import welch
    except ImportError:
        return None
    out = []
    segment = min(SEGMENT, max(b - a for a, b in use))
    for k in range(len(AXES)):
        total, weight, freqs = 0, 0, None
        for a, b in use:
            if b - a < max(segment, 64):
                continue
            # In blocks, so that the segments' transforms stay small.
            for start in range(a, b, BLOCK):
                end = min(b, start + BLOCK)
                if end - start < segment:
                    continue
                freqs, psd = welch(axes[k, start:end].astype(np.float64),
                                   fs=fs, nperseg=segment)
                total = total + psd * (end - start)
                weight += end - start
        if freqs is None:
            return None
        band = (freqs >= fs / 20) & (freqs <= 0.4 * fs)
        out.append(math.sqrt(float(np.mean(total[band] / weight)) / 2))
    return out


def _row(w, label, values, fmt="%14.6g"):
    w("  %-38s%s\n" % (label, "".join(fmt % v for v in values)))


def report(r, out):
    """The read-out of a Result, on out."""
    w = out.write
    log = r.log
    w("%s: %s mode, %s\n" % (log.path, cols.MODE_NAMES[log.mode],
                             "with a time column" if log.has_time
                             else "no time column"))
    if r.skipped:
        w("lines skipped: %d\n" % r.skipped)
        skipped_lines(r.problems, r.skipped, w)
    first, last, n = r.longest
    if r.combined and len(r.used) > 1:
        w("analysed: %d complete stretches pooled, %d lines (%.3f s); the"
          " longest lines %d to %d\n" % (len(r.used), r.samples,
                                         r.samples * r.tau0, first, last))
    elif r.stretch_count > 1:
        w("analysed: lines %d to %d, %d lines (%.3f s), the longest of %d"
          " complete stretches (--combine pools them)\n"
          % (first, last, n, n * r.tau0, r.stretch_count))
    else:
        w("analysed: lines %d to %d, %d lines (%.3f s), complete\n"
          % (first, last, n, n * r.tau0))
    w("sample interval: %.6f s (%.3f packets/s %s, counter step %d)\n"
      % (r.tau0, r.packet_rate, r.rate_from, r.step))
    if r.time is not None:
        span, mean, spread, largest, rate = r.time
        w("timing: effective rate %.3f packets/s by the counter over %.3f s;"
          " line intervals %.6f s mean, %.6f s std, %.6f s largest\n"
          % (rate, span, mean, spread, largest))
    w("Allan deviation: %d averaging times, %.6g to %.6g s\n"
      % (len(r.taus), r.taus[0], r.taus[-1]))
    notes = []
    for sensor, axes in ((GYRO, range(0, 3)), (ACCEL, range(3, 6))):
        w("%-40s%14s%14s%14s\n" % (sensor.name, "x", "y", "z"))
        _row(w, "bias [%s]" % sensor.unit, [r.bias[k] for k in axes])
        _row(w, "std [%s]" % sensor.unit, [r.std[k] for k in axes])
        f = [r.figures[k] for k in axes]
        for (label, unit, factor, si_unit, si), values in (
                (sensor.white, [t.white for t in f]),
                (sensor.instability, [t.instability for t in f]),
                (sensor.walk, [t.walk for t in f])):
            _row(w, "%s [%s]" % (label, unit), [v * factor for v in values])
            _row(w, "%s [%s]" % (label, si_unit), [v * si for v in values])
            if label == "bias instability":
                _row(w, "  at tau [s]", [t.instability_tau for t in f])
        if r.spectrum is not None:
            white = sensor.white
            _row(w, "spectrum density [%s]" % white[1],
                 [r.spectrum[k] * white[2] for k in axes])
            _row(w, "spectrum density [%s]" % white[3],
                 [r.spectrum[k] * white[4] for k in axes])
        for k in axes:
            if r.figures[k].instability_bound:
                notes.append("%s: the deviation still falls at the longest tau:"
                             " its bias instability is an upper bound" % AXES[k])
            if r.figures[k].walk_bound:
                notes.append("%s: no random walk seen in this length: its"
                             " random walk is an upper bound" % AXES[k])
    for note in notes + r.notes:
        w(note + "\n")


def write_yaml(r, out, name):
    """The noise model in the layout visual-inertial calibration tools read
    (SI units); each figure the largest of the three axes."""
    def worst(k0, what, si):
        return max(getattr(r.figures[k], what) for k in range(k0, k0 + 3)) * si
    bounds = any(t.walk_bound for t in r.figures)
    out.write("# noise model of %s by imutap-inspect noise: %s; the largest"
              " of the three axes, SI units\n" % (name, _used_text(r)))
    if bounds:
        out.write("# a random walk not seen in this length is given as its"
                  " upper bound\n")
    out.write("rostopic: /imu0\n")
    out.write("update_rate: %.6f\n" % (1.0 / r.tau0))
    out.write("accelerometer_noise_density: %.6e  # m/s^2/sqrt(Hz)\n"
              % worst(3, "white", G))
    out.write("accelerometer_random_walk: %.6e  # m/s^3/sqrt(Hz)\n"
              % worst(3, "walk", G))
    out.write("gyroscope_noise_density: %.6e  # rad/s/sqrt(Hz)\n"
              % worst(0, "white", RAD))
    out.write("gyroscope_random_walk: %.6e  # rad/s^2/sqrt(Hz)\n"
              % worst(0, "walk", RAD))


def _used_text(r):
    if len(r.used) > 1:
        return "%d stretches pooled, %d lines" % (len(r.used), r.samples)
    first, last, n = r.used[0]
    return "lines %d to %d" % (first, last)


def write_csv(r, out, units):
    out.write(",".join(["tau [s]"] + ["%s [%s]" % (a, units[a]) for a in AXES])
              + "\n")
    for i, tau in enumerate(r.taus):
        out.write(",".join(["%.9g" % tau] + ["%.9g" % r.adev[k][i]
                                              for k in range(len(AXES))])
                  + "\n")


def plot_adev(r, path):
    """The Allan deviation of each axis, log-log, with the fitted white noise
    (slope -1/2) and random walk (slope +1/2) and the read-outs marked."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.lines import Line2D

    fig, panels = plt.subplots(1, 2, figsize=(11, 5.2), dpi=100)
    colors = ["tab:blue", "tab:orange", "tab:green"]
    key = [Line2D([], [], color="0.3", linestyle="--", marker="s",
                  markerfacecolor="none", label="white noise N: slope -1/2,"
                  " its value at 1 s"),
           Line2D([], [], color="0.3", linestyle=":", marker="^",
                  markerfacecolor="none", label="random walk K: slope +1/2,"
                  " its value at 3 s"),
           Line2D([], [], color="0.3", linestyle="", marker="v",
                  label="least deviation: 0.664 x bias instability")]
    for ax, sensor, k0 in ((panels[0], GYRO, 0), (panels[1], ACCEL, 3)):
        shown = []
        for j in range(3):
            k = k0 + j
            t, c = r.figures[k], colors[j]
            ax.loglog(r.taus, r.adev[k], "o-", color=c, markersize=3,
                      linewidth=1.2, label=AXES[k])
            taus = r.taus
            ax.loglog(taus, t.white / np.sqrt(taus), "--", color=c,
                      linewidth=0.8, alpha=0.8)
            ax.plot([1.0], [t.white], "s", color=c, markerfacecolor="none",
                    markersize=9)
            shown += list(r.adev[k]) + [t.white]
            if not t.walk_bound:
                ax.loglog(taus, t.walk * np.sqrt(taus / 3), ":", color=c,
                          linewidth=1.0, alpha=0.9)
                ax.plot([3.0], [t.walk], "^", color=c, markerfacecolor="none",
                        markersize=9)
                shown.append(t.walk)
            ax.plot([t.instability_tau], [t.instability * FLAT_DEVIATION], "v",
                    color=c, markersize=9)
        shown = np.array(shown)
        shown = shown[np.isfinite(shown) & (shown > 0)]
        if len(shown):
            ax.set_ylim(shown.min() / 2, shown.max() * 2)
        ax.set_xlabel("averaging time tau [s]")
        ax.set_ylabel("Allan deviation [%s]" % sensor.unit)
        ax.set_title(sensor.name, fontsize="medium")
        ax.grid(True, which="both", linewidth=0.3, alpha=0.6)
        axes_key = ax.legend(fontsize="small", loc="upper right")
        ax.add_artist(axes_key)
        ax.legend(handles=key, fontsize="x-small", loc="lower left")
    fig.suptitle("%s: Allan deviation of a unit lying still, %s, sample"
                 " interval %.6g s" % (os.path.basename(r.log.path),
                                       _used_text(r), r.tau0),
                 fontsize="medium")
    fig.tight_layout(rect=(0, 0, 1, 0.95))
    fig.savefig(path)
    plt.close(fig)
