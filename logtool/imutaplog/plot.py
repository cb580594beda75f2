"""One picture of a log: stacked panels over a shared time (or count) axis,
places of missing packets marked."""

import os

import numpy as np
import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.collections import LineCollection  # noqa: E402

from . import layout as cols  # noqa: E402
from .counter import check_counter  # noqa: E402

WIDTH_INCHES, DPI = 11.0, 100


def panels(log):
    """(title, unit, names) of each panel, top to bottom."""
    if log.mode == "r":
        chans = [["ch%d" % (3 * p + k) for k in (1, 2, 3)] for p in range(3)]
        out = [("channels %s" % "-".join((c[0][2:], c[-1][2:])), "V", c)
               for c in chans]
    else:
        out = [("angular rate", "deg/s", ["gyro_x", "gyro_y", "gyro_z"]),
               ("acceleration", "g", ["accel_x", "accel_y", "accel_z"]),
               ("magnetic field", "gauss", ["mag_x", "mag_y", "mag_z"])]
        if log.mode == "a":
            out.insert(0, ("attitude", "deg", ["roll", "pitch", "yaw"]))
    return out + [("temperature", "degC", ["temperature"])]


def envelope(x, ys, columns):
    """Thins x and the rows of ys to at most `columns` groups of equal size:
    each group becomes two points, its least and its greatest value at the
    group's first x, so that one spike in a million lines still shows."""
    n = len(x)
    if n <= 2 * columns:
        return x, ys
    size = -(-n // columns)
    starts = np.arange(0, n, size)
    with np.errstate(invalid="ignore"):
        low = np.minimum.reduceat(ys, starts, axis=1)
        high = np.maximum.reduceat(ys, starts, axis=1)
    xs = np.repeat(x[starts], 2)
    both = np.empty((ys.shape[0], 2 * len(starts)))
    both[:, 0::2], both[:, 1::2] = low, high
    return xs, both


def plot_log(log, path, title=None):
    """Draws log into path; PNG, SVG or PDF by the name's extension."""
    spec = panels(log)
    xname = "time" if log.has_time else "count"
    x = log[xname]
    judged = check_counter(log["counter"], log["count"], log.line_numbers)
    fig, axes = plt.subplots(len(spec), 1, sharex=True, squeeze=False,
                             figsize=(WIDTH_INCHES, 1.9 * len(spec) + 0.8),
                             dpi=DPI)
    axes = axes[:, 0]
    fig.subplots_adjust(left=0.08, right=0.86, top=0.93, bottom=0.07,
                        hspace=0.12)
    columns = int(axes[0].get_window_extent().width)
    gap_rows = np.searchsorted(log.line_numbers,
                               [g.line for g in judged.gaps
                                if g.kind == "missing"])
    gap_x = x[gap_rows] if len(x) else []
    for ax, (name, unit, names) in zip(axes, spec):
        xs, ys = envelope(x, np.array([log[n] for n in names]), columns)
        for label, y in zip(names, ys):
            ax.plot(xs, y, linewidth=0.7, label=label)
        ax.set_ylabel("%s\n[%s]" % (name, unit))
        ax.grid(True, linewidth=0.3, alpha=0.6)
        if len(names) > 1:
            ax.legend(loc="upper left", bbox_to_anchor=(1.005, 1.0),
                      fontsize="small", frameon=False)
        if len(gap_x):
            marks = LineCollection([[(g, 0), (g, 1)] for g in gap_x],
                                   transform=ax.get_xaxis_transform(),
                                   colors="red", linewidths=0.8, alpha=0.7)
            ax.add_collection(marks, autolim=False)
    axes[-1].set_xlabel(cols.label(xname, log.units[xname]))
    if judged.steps_vary:
        state = "completeness cannot be judged (counter steps vary)"
    elif judged.missing:
        state = "%d packets missing in %d places (red lines)" % (
            judged.missing, len(gap_x))
    elif judged.gaps:
        state = "counter out of step at %d places" % len(judged.gaps)
    else:
        state = "no packet missing"
    fig.suptitle(title or "%s: %s mode, %d lines, %s" % (
        os.path.basename(log.path), cols.MODE_NAMES[log.mode], len(log),
        state), fontsize="medium")
    fig.savefig(path)
    plt.close(fig)
