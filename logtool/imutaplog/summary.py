"""The summary of a log: its extent, the range of every value and whether
the unit's counter proves it complete. The log is read a piece at a time:
only the count, time and counter columns are kept whole."""

import numpy as np

from . import layout as cols
from .counter import WRAP, check_counter

# Skipped lines listed one by one; the rest are counted.
LISTED = 20
ANGLES = ("roll", "pitch", "yaw")


def plural(n, word, words=None):
    return "%d %s" % (n, word if n == 1 else words or word + "s")


def skipped_lines(problems, total, write):
    """Lists the first LISTED of the skipped lines, then counts the rest."""
    for line, reason in problems[:LISTED]:
        write("line %d: %s; skipped\n" % (line, reason))
    if total > LISTED:
        write("and {:,} more\n".format(total - LISTED))


def gap_text(g, step):
    where = "line %d (count %d, counter %d)" % (g.line, g.count, g.counter)
    if g.kind == "missing":
        if g.at_least:
            return ("%s: at least %s missing after counter %d (or the counter"
                    " went back by %d)" % (where, plural(g.skipped, "packet"),
                                           g.before, WRAP - g.skipped - step))
        return "%s: %s missing after counter %d%s" % (
            where, plural(g.skipped, "packet"), g.before,
            "" if g.seconds is None else " (a gap of %.3f s)" % g.seconds)
    if g.kind == "silent":
        return ("%s: %.3f s without packets that the counter does not show"
                " (the unit silent, or started again)" % (where, g.seconds))
    if g.kind == "repeat":
        return "%s: counter repeated" % where
    if g.kind == "back":
        return "%s: counter goes back by %d from %d" % (where, -g.skipped, g.before)
    return "%s: counter step of %d after %d where %d is usual" % (
        where, (g.counter - g.before) % WRAP, g.before, step)


class Stats:
    """Least, greatest, mean and standard deviation of columns, gathered a
    piece at a time (pieces merged as by Chan et al.); for angles the mean
    and spread on the circle."""

    def __init__(self, names):
        self.names = names
        k = len(names)
        self.n = np.zeros(k)
        self.mean = np.zeros(k)
        self.m2 = np.zeros(k)
        self.low = np.full(k, np.inf)
        self.high = np.full(k, -np.inf)
        self.sin = np.zeros(k)
        self.cos = np.zeros(k)
        self.angle = np.array([n in ANGLES for n in names])

    def add(self, rows):
        """rows: one row per name."""
        finite = np.isfinite(rows)
        if finite.all():
            self._add_finite(rows)
            return
        n = finite.sum(axis=1).astype(float)
        if not n.any():
            return
        values = np.where(finite, rows, 0.0)
        with np.errstate(invalid="ignore", divide="ignore"):
            mean = values.sum(axis=1) / n
            m2 = np.where(finite, rows - mean[:, None], 0.0)
            m2 = (m2 * m2).sum(axis=1)
        low = np.where(finite, rows, np.inf).min(axis=1)
        high = np.where(finite, rows, -np.inf).max(axis=1)
        sin, cos = np.zeros(len(n)), np.zeros(len(n))
        if self.angle.any():
            radians = np.radians(values[self.angle])
            sin[self.angle] = np.where(finite[self.angle], np.sin(radians),
                                       0).sum(axis=1)
            cos[self.angle] = np.where(finite[self.angle], np.cos(radians),
                                       0).sum(axis=1)
        self._merge(n, np.nan_to_num(mean), m2, low, high, sin, cos)

    def _add_finite(self, rows):
        n = np.full(len(rows), float(rows.shape[1]))
        mean = rows.mean(axis=1)
        centred = rows - mean[:, None]
        m2 = np.einsum("ij,ij->i", centred, centred)
        del centred
        sin, cos = np.zeros(len(n)), np.zeros(len(n))
        if self.angle.any():
            radians = np.radians(rows[self.angle])
            sin[self.angle] = np.sin(radians).sum(axis=1)
            cos[self.angle] = np.cos(radians).sum(axis=1)
        self._merge(n, mean, m2, rows.min(axis=1), rows.max(axis=1), sin, cos)

    def merge(self, other):
        """Takes in what another Stats of the same columns gathered."""
        self._merge(other.n, other.mean, other.m2, other.low, other.high,
                    other.sin, other.cos)

    def _merge(self, n, mean, m2, low, high, sin, cos):
        with np.errstate(invalid="ignore", divide="ignore"):
            total = self.n + n
            delta = mean - self.mean
            seen = n > 0
            self.mean = np.where(seen, self.mean + delta * n / total, self.mean)
            self.m2 = np.where(seen, self.m2 + m2 + delta * delta * self.n * n
                               / total, self.m2)
        self.n = total
        self.low = np.minimum(self.low, low)
        self.high = np.maximum(self.high, high)
        self.sin += sin
        self.cos += cos

    def rows(self):
        """(name, min, mean, std, max) of each column; NaN where nothing
        was seen."""
        with np.errstate(invalid="ignore", divide="ignore"):
            mean = np.where(self.n > 0, self.mean, np.nan)
            std = np.sqrt(self.m2 / (self.n - 1))
            length = np.hypot(self.sin, self.cos) / self.n
            circular = np.degrees(np.arctan2(self.sin, self.cos))
            spread = np.degrees(np.sqrt(-2 * np.log(np.minimum(length, 1.0))))
        mean = np.where(self.angle, circular, mean)
        std = np.where(self.angle, spread, std)
        low = np.where(self.n > 0, self.low, np.nan)
        high = np.where(self.n > 0, self.high, np.nan)
        return list(zip(self.names, low, mean, std, high))


def summary_piece(log):
    """What the summary keeps of one piece of a log (in a worker process):
    the Stats of its values, its count, time and counter columns in small
    types, its line numbers and the first of its skipped lines."""
    stats = Stats(log.value_names())
    if len(log):
        stats.add(np.array([log[n] for n in stats.names]))
    lines = np.asarray(log.line_numbers)
    return {"stats": stats, "count": log["count"].astype(np.int32),
            "counter": log["counter"].astype(np.uint16),
            "time": log["time"].copy() if log.has_time else None,
            "line": lines.astype(np.int64 if len(lines) and lines[-1] >= 2 ** 31
                                 else np.int32),
            "problems": log.problems[:LISTED], "skipped": len(log.problems)}


def gather(pieces):
    """Reads the pieces of a log (from read_pieces with summary_piece): (the
    Log of its layout, Stats of the values, the count, time and counter
    columns and line numbers whole, the first skipped lines, how many were
    skipped)."""
    pieces = iter(pieces)
    first = next(pieces)
    stats, problems, skipped = Stats(first.value_names()), [], 0
    keep = {"count": [], "time": [], "counter": [], "line": []}
    for piece in pieces:
        stats.merge(piece["stats"])
        for name in keep:
            if piece[name] is not None:
                keep[name].append(piece[name])
        skipped += piece["skipped"]
        problems.extend(piece["problems"][:max(0, LISTED - len(problems))])
    whole = {}
    for name in keep:               # one column at a time: less memory at once
        whole[name] = np.concatenate(keep[name]) if keep[name] else np.empty(0)
        keep[name] = None
    return first, stats, whole, problems, skipped


def summarise(pieces, out):
    """Writes the summary of a log, given as read_pieces(path, mode,
    summary_piece) gives it, to out; returns the exit status: 0 when the log
    is proven complete, 1 otherwise."""
    log, stats, whole, problems, skipped = gather(pieces)
    w = out.write
    count, counter, time = whole["count"], whole["counter"], whole["time"]
    n = len(count)
    w("%s: %s mode, %s (%d fields a line)\n" % (
        log.path, cols.MODE_NAMES[log.mode],
        "with a time column" if log.has_time else "no time column",
        len(log.names)))
    w("lines: %d used%s\n" % (n, ", %d skipped" % skipped if skipped else ""))
    skipped_lines(problems, skipped, w)
    if n == 0:
        w("incomplete: no usable line\n")
        return 1
    w("count: %d to %d\n" % (count[0], count[-1]))
    judged = check_counter(counter, count, whole["line"],
                           time if log.has_time else None)
    if log.has_time:
        span = time[-1] - time[0]
        w("time: %.6f to %.6f s (%.3f s)\n" % (time[0], time[-1], span))
        if n > 1 and span > 0:
            w("mean rate: %.3f lines/s, %.3f packets/s by the unit's counter\n"
              % ((n - 1) / span, judged.advance / span))
    else:
        w("mean rate: unknown (no time column)\n")
    if judged.step is not None:
        w("counter: %d to %d, usual step %d%s\n" % (
            counter[0], counter[-1], judged.step,
            ", wrapped %s from 65535 to 0" % plural(judged.wraps, "time")
            if judged.wraps else ""))

    rows = stats.rows()
    labels = [cols.label(name, log.units[name]) for name in stats.names]
    width = max(len(label) for label in labels)
    w("%-*s %14s %14s %14s %14s\n" % (width, "", "min", "mean", "std", "max"))
    for label, (_, low, mean, std, high) in zip(labels, rows):
        w("%-*s %14.6f %14.6f %14.6f %14.6f\n" % (width, label, low, mean,
                                                  std, high))
    if log.mode == "a":
        w("(roll, pitch, yaw: mean and std on the circle, so that yaw through"
          " +-180 deg averages right)\n")

    for g in judged.gaps:
        w(gap_text(g, judged.step) + "\n")
    if n < 2:
        w("incomplete: one line cannot show a step of the counter\n")
        return 1
    if judged.steps_vary:
        w("cannot judge completeness: the counter's step varies from line to"
          " line (a log thinned with -f?)\n")
        return 1
    if judged.complete and not skipped:
        w("complete: no packet missing, counter step %d throughout\n"
          % judged.step)
        return 0
    parts = []
    if judged.missing:
        places = sum(1 for g in judged.gaps if g.kind == "missing")
        parts.append("%s%s missing in %s" % (
            "at least " if judged.at_least else "",
            plural(judged.missing, "packet"), plural(places, "place")))
    for kind, word, words in (
            ("repeat", "repeated counter", None), ("back", "step back", None),
            ("short", "short step", None),
            ("silent", "time gap the counter does not show",
             "time gaps the counter does not show")):
        k = sum(1 for g in judged.gaps if g.kind == kind)
        if k:
            parts.append(plural(k, word, words))
    if skipped:
        parts.append("%s skipped" % plural(skipped, "line"))
    w("incomplete: %s\n" % ", ".join(parts))
    return 1
