"""One picture of a log: stacked panels over a shared time axis (or, without
a time column, the unit's counter unwrapped), the trace broken and shaded
where packets are missing, and a strip of the share of packets lost."""

import os

import numpy as np
import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

from . import layout as cols  # noqa: E402
from .counter import check_counter  # noqa: E402
from .summary import plural  # noqa: E402

WIDTH_INCHES, DPI = 11.0, 100
PANEL_NAMES = {"attitude": "attitude", "gyro": "angular rate",
               "accel": "acceleration", "mag": "magnetic field",
               "temperature": "temperature"}


class PlotError(Exception):
    pass


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


def chosen_panels(log, channels):
    """The panels narrowed to the columns or panels named in channels."""
    spec = panels(log)
    if not channels:
        return spec
    wanted = [c.strip() for c in channels.split(",") if c.strip()]
    known = set(log.value_names()) | set(PANEL_NAMES)
    unknown = [c for c in wanted if c not in known]
    if unknown or not wanted:
        raise PlotError("--channels %s: no such column or panel (columns: %s;"
                        " panels: %s)" % (",".join(unknown) or channels,
                                          " ".join(log.value_names()),
                                          " ".join(PANEL_NAMES)))
    titles = {PANEL_NAMES[c] for c in wanted if c in PANEL_NAMES}
    out = []
    for title, unit, names in spec:
        keep = names if title in titles else [n for n in names if n in wanted]
        if keep:
            out.append((title, unit, keep))
    return out


def envelope(x, ys, columns):
    """Thins x and the rows of ys to `columns` bins of equal width in x: each
    bin becomes two points, its least and its greatest value, so that one
    spike in a million lines still shows. An empty bin (an outage) breaks the
    trace (a NaN point)."""
    n = len(x)
    if n <= 2 * columns:
        return x, ys
    lo, hi = x[0], x[-1]
    if not hi > lo:
        return x[:1].repeat(2), np.repeat(np.nanmin(ys, axis=1, keepdims=True), 2, 1)
    bins = np.minimum(((x - lo) * (columns / (hi - lo))).astype(np.int64),
                      columns - 1)
    if np.any(np.diff(bins) < 0):           # a counter that stepped back
        order = np.argsort(bins, kind="stable")
        bins, ys = bins[order], ys[:, order]
    starts = np.flatnonzero(np.diff(bins, prepend=-1))
    with np.errstate(invalid="ignore"):
        low = np.fmin.reduceat(ys, starts, axis=1)
        high = np.fmax.reduceat(ys, starts, axis=1)
    used = bins[starts]
    broken = np.flatnonzero(np.diff(used) > 1) + 1   # empty bins before these
    width = (hi - lo) / columns
    left = lo + used * width
    xs = np.empty(2 * len(starts) + len(broken))
    pos = 2 * np.arange(len(starts)) + np.searchsorted(broken, np.arange(len(starts)),
                                                       side="right")
    xs[pos], xs[pos + 1] = left, left + 0.5 * width
    both = np.empty((ys.shape[0], len(xs)))
    both[:, pos], both[:, pos + 1] = low, high
    gap = pos[broken] - 1
    xs[gap] = left[broken] - width
    both[:, gap] = np.nan
    return xs, both


def _broken(x, ys, rows):
    """x and ys with a NaN point before each of rows, so the trace breaks."""
    if not len(rows):
        return x, ys
    return (np.insert(x, rows, x[rows]),
            np.insert(ys, rows, np.nan, axis=1))


def plot_log(log, path, title=None, start=None, end=None, channels=None):
    """Draws log into path; PNG, SVG or PDF by the name's extension. start
    and end limit the x axis (seconds, or the unit's counter without a time
    column); channels names the columns or panels to draw."""
    spec = chosen_panels(log, channels)
    judged = check_counter(log["counter"], log["count"], log.line_numbers,
                           log["time"] if log.has_time else None)
    if log.has_time:
        x, xlabel = log["time"], cols.label("time", "s")
    else:
        x = judged.unwrapped.astype(np.float64)
        xlabel = "unit's counter, unwrapped (no time column)"
    outages = [g for g in judged.gaps if g.kind in ("missing", "silent")]
    rows = np.searchsorted(log.line_numbers, [g.line for g in outages]
                           ).astype(np.int64)
    lost = np.array([g.skipped for g in outages], np.int64)
    pick = np.ones(len(x), bool)
    if start is not None:
        pick &= x >= start
    if end is not None:
        pick &= x <= end
    if not pick.any():
        raise PlotError("nothing to draw between --from and --to (%s %g to %g)"
                        % ("time" if log.has_time else "counter",
                           x[0], x[-1]))
    first, last = np.flatnonzero(pick)[[0, -1]]
    inside = (rows > first) & (rows <= last)
    rows, lost, outages = rows[inside], lost[inside], \
        [g for g, i in zip(outages, inside) if i]
    x_all = x
    x = x[first:last + 1]
    rows = rows - first

    strip = len(outages) > 0
    heights = [1.9] * len(spec) + ([0.7] if strip else [])
    fig, axes = plt.subplots(len(heights), 1, sharex=True, squeeze=False,
                             figsize=(WIDTH_INCHES, sum(heights) + 0.9),
                             dpi=DPI, gridspec_kw={"height_ratios": heights})
    axes = axes[:, 0]
    height = sum(heights) + 0.9
    fig.subplots_adjust(left=0.08, right=0.86, top=1 - 0.45 / height,
                        bottom=0.55 / height, hspace=0.12)
    columns = int(axes[0].get_window_extent().width)
    span = (x[-1] - x[0]) or 1.0
    pixel = span / columns
    wide = [(x_all[first + r - 1], x_all[first + r]) for r in rows
            if x_all[first + r] - x_all[first + r - 1] > pixel]
    for ax, (name, unit, names) in zip(axes, spec):
        ys = np.array([log[n][first:last + 1] for n in names])
        if len(x) <= 2 * columns:
            xs, ys = _broken(x, ys, rows)
        else:
            xs, ys = envelope(x, ys, columns)
        for label, y in zip(names, ys):
            ax.plot(xs, y, linewidth=0.7, label=label)
        for a, b in wide:
            ax.axvspan(a, b, color="red", alpha=0.15, linewidth=0)
        ax.set_ylabel("%s\n[%s]" % (name, unit))
        ax.grid(True, linewidth=0.3, alpha=0.6)
        if len(names) > 1:
            ax.legend(loc="upper left", bbox_to_anchor=(1.005, 1.0),
                      fontsize="small", frameon=False)
    if strip:
        _loss_strip(axes[-1], x, rows, lost, columns, judged, log.has_time)
    axes[-1].set_xlabel(xlabel)
    axes[-1].set_xlim(x[0], x[-1])
    if judged.steps_vary:
        state = "completeness cannot be judged (counter steps vary)"
    elif outages:                   # those drawn, between --from and --to
        silent = sum(1 for g in outages if g.kind == "silent")
        state = "%s%s missing in %s%s (shaded, and the strip below)" % (
            "at least " if any(g.at_least for g in outages) else "",
            plural(int(lost.sum()), "packet"),
            plural(len(outages) - silent, "place"),
            ", %s the counter does not show" % plural(
                silent, "time gap") if silent else "")
    elif judged.gaps:
        state = "counter out of step at %s" % plural(len(judged.gaps), "place")
    else:
        state = "no packet missing"
    fig.suptitle(title or "%s: %s mode, %s, %s" % (
        os.path.basename(log.path), cols.MODE_NAMES[log.mode],
        plural(len(log), "line"), state), fontsize="medium")
    fig.savefig(path)
    plt.close(fig)


def _loss_strip(ax, x, rows, lost, columns, judged, has_time):
    """Share of the unit's packets missing in each pixel column, in percent:
    the places where packets are missing, however many, as one strip."""
    lo, hi = x[0], x[-1]
    width = (hi - lo) / columns if hi > lo else 1.0
    edges = lo + width * np.arange(columns + 1)
    where = np.minimum(((x[rows] - lo) / width).astype(np.int64), columns - 1)
    missing = np.bincount(where, weights=lost, minlength=columns)
    if has_time and judged.interval:
        sent = width / judged.interval          # packets per column by time
    else:
        sent = width                           # the x axis counts packets
    share = np.minimum(100.0 * missing / max(sent, 1e-12), 100.0)
    # An outage longer than a column fills the columns it spans.
    for r, n in zip(rows, lost):
        a, b = x[r - 1], x[r]
        if b - a > width:
            i, j = np.searchsorted(edges, [a, b])
            share[max(i - 1, 0):j] = 100.0
    ax.fill_between(edges[:-1], share, step="post", color="red", alpha=0.6,
                    linewidth=0)
    ax.set_ylim(0, max(5.0, min(100.0, share.max() * 1.15)))
    ax.set_ylabel("lost\n[%]")
    ax.grid(True, linewidth=0.3, alpha=0.6)
