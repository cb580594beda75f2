"""The read-out of a unit's noise figures (noise.py's Result): the text
report, the noise model for calibration tools (YAML) and the Allan deviation
of each axis as CSV."""

import math

from . import layout as cols
from .noise import AXES
from .summary import skipped_lines

G = 9.80665                       # m/s^2 per g
RAD = math.pi / 180


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
              " of the three axes, SI units\n" % (name, used_text(r)))
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


def used_text(r):
    """The lines the figures come from, for the YAML's heading and the
    picture's title."""
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
