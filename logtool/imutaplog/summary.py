"""The summary of a log: its extent, the range of every value and whether
the unit's counter proves it complete."""

import warnings

import numpy as np

from . import layout as cols
from .counter import check_counter


def _plural(n, word):
    return "%d %s%s" % (n, word, "" if n == 1 else "s")


def gap_text(g, step):
    where = "line %d (count %d, counter %d)" % (g.line, g.count, g.counter)
    if g.kind == "missing":
        return "%s: %s missing after counter %d" % (
            where, _plural(g.skipped, "packet"), g.before)
    if g.kind == "repeat":
        return "%s: counter repeated" % where
    if g.kind == "back":
        return "%s: counter goes back by %d from %d" % (where, -g.skipped, g.before)
    return "%s: counter step of %d after %d where %d is usual" % (
        where, (g.counter - g.before) % 65536, g.before, step)


def summarise(log, out):
    """Writes the summary of log to out; returns the exit status: 0 when the
    log is proven complete, 1 otherwise."""
    w = out.write
    n = len(log)
    w("%s: %s mode, %s (%d fields a line)\n" % (
        log.path, cols.MODE_NAMES[log.mode],
        "with a time column" if log.has_time else "no time column",
        len(log.names)))
    skipped = len(log.problems)
    w("lines: %d used%s\n" % (n, ", %d skipped" % skipped if skipped else ""))
    for line, reason in log.problems:
        w("line %d: %s; skipped\n" % (line, reason))
    if n == 0:
        w("incomplete: no usable line\n")
        return 1
    count = log["count"]
    w("count: %d to %d\n" % (count[0], count[-1]))
    judged = check_counter(log["counter"], count, log.line_numbers)
    if log.has_time:
        time = log["time"]
        span = time[-1] - time[0]
        w("time: %.6f to %.6f s (%.3f s)\n" % (time[0], time[-1], span))
        if n > 1 and span > 0:
            w("mean rate: %.3f lines/s, %.3f packets/s by the unit's counter\n"
              % ((n - 1) / span, judged.advance / span))
    else:
        w("mean rate: unknown (no time column)\n")
    if judged.step is not None:
        w("counter: %d to %d, usual step %d%s\n" % (
            log["counter"][0], log["counter"][-1], judged.step,
            ", wrapped %s from 65535 to 0" % _plural(judged.wraps, "time")
            if judged.wraps else ""))

    names = log.value_names()
    labels = [cols.label(name, log.units[name]) for name in names]
    width = max(len(label) for label in labels)
    w("%-*s %14s %14s %14s\n" % (width, "", "min", "mean", "max"))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        for name, label in zip(names, labels):
            v = log[name]
            w("%-*s %14.6f %14.6f %14.6f\n" % (
                width, label, np.nanmin(v), np.nanmean(v), np.nanmax(v)))

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
        parts.append("%s missing in %s" % (_plural(judged.missing, "packet"),
                                           _plural(places, "place")))
    for kind, word in (("repeat", "repeated counter"),
                       ("back", "step back"), ("short", "short step")):
        k = sum(1 for g in judged.gaps if g.kind == kind)
        if k:
            parts.append(_plural(k, word))
    if skipped:
        parts.append("%s skipped" % _plural(skipped, "line"))
    w("incomplete: %s\n" % ", ".join(parts))
    return 1
