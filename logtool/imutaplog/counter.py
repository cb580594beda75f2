"""Completeness of a log, proven from the unit's 16-bit sample counter, read
together with the time column when there is one.

The unit raises its counter by one with every packet and wraps from 65535 to
0; the logger writes one line per pass of `-d` packets. So in a complete log
the counter goes up by the same step (mod 65536) from line to line. A larger
step means packets are missing there; a step of 0 is a repeated line.

The counter alone cannot tell how often it wrapped in an outage: a step of
40,000 may be 40,000 packets or 105,536, or a step back by 25,536. The time
column tells: the step is taken as the one of these closest to the time that
passed, at the log's own packet interval. Without a time column a step of
32,768 or more is "at least" that many packets, or a step back. The time
column also shows what the counter cannot: a silence in which the counter
stood still (or a unit started again) is time that no packet accounts for.

Thinning with `-f` mixes steps of k and k+1 packets, which no count can tell
from losses: then the log cannot be judged.
"""

import numpy as np

WRAP = 65536

# Time that no packet accounts for is reported from this much on (and from
# 20 packet intervals): below it, a reconstructed time column (-t) catching
# up with the clock and a logger that was held up for a moment.
SILENCE_SECONDS = 0.25
# Packets read after a silent place within which the time has to stay ahead
# of the counter: a logger that was held up reads a backlog in no time and
# catches up again, a unit that was silent does not.
CATCH_UP_PACKETS = 2000


class Gap:
    """One place where the counter does not take its usual step, or where
    time passed that the counter does not show. line is the line after the
    place, count and counter are that line's, before the counter on the line
    before; skipped how many packets are missing (0 for a repeat, negative
    for a step back); at_least when the counter alone cannot tell how often
    it wrapped; seconds the time between the two lines (None without a time
    column), for a silence the time that no packet accounts for."""

    def __init__(self, kind, line, count, counter, before, skipped,
                 at_least=False, seconds=None):
        self.kind = kind            # "missing", "short", "repeat", "back", "silent"
        self.line = line
        self.count = count
        self.counter = counter
        self.before = before
        self.skipped = skipped
        self.at_least = at_least
        self.seconds = seconds

    def __repr__(self):
        return "Gap(%s, line %d, counter %d after %d)" % (
            self.kind, self.line, self.counter, self.before)


class Completeness:
    def __init__(self, step, steps_vary, gaps, wraps, advance, unwrapped=None,
                 interval=None):
        self.step = step              # usual step, None for fewer than 2 lines
        self.steps_vary = steps_vary  # thinned log: cannot be judged
        self.gaps = gaps
        self.wraps = wraps            # how often the counter passed 65535 -> 0
        self.advance = advance        # packets the unit sent from first to last line
        self.unwrapped = unwrapped    # the counter of each line, not wrapped
        self.interval = interval      # seconds per packet by the time column

    @property
    def missing(self):
        return sum(g.skipped for g in self.gaps if g.kind == "missing")

    @property
    def at_least(self):
        return any(g.at_least for g in self.gaps)

    @property
    def complete(self):
        return not self.steps_vary and not self.gaps


def _packet_interval(steps, step, time):
    """Seconds per packet, first guess: the usual line interval (the median
    over the lines that took the usual step), or where that is 0 (lines
    read in bursts) their mean, leaving out steps that took far longer."""
    usual = np.diff(time)[steps == step]
    if not len(usual):
        return None
    # The median of at most a million of them, spread over the log.
    middle = float(np.median(usual[::max(1, len(usual) // 1_000_000)]))
    if middle > 0:
        return middle / step
    usual = usual[usual <= SILENCE_SECONDS]
    total = float(np.sum(usual))
    return total / (len(usual) * step) if total > 0 else None


def _silences(time, unwrapped, interval, step):
    """(row, seconds) of each place where the time ran ahead of the counter
    for good: time that no packet accounts for."""
    ahead = unwrapped.astype(np.float64)
    ahead -= unwrapped[0]
    ahead *= -interval
    ahead += time
    least = max(SILENCE_SECONDS, 20 * interval * step)
    jumps = np.diff(ahead)
    jumps = np.flatnonzero(jumps > least) + 1
    out = []
    for row in jumps:
        end = np.searchsorted(unwrapped, unwrapped[row] + CATCH_UP_PACKETS,
                              side="right")
        stays = float(np.min(ahead[row:max(end, row + 1)]) - ahead[row - 1])
        if stays > least:
            out.append((int(row), stays))
    return out


def _unwrap(counter, steps, time, interval):
    """The counter of each line unwrapped: the packets the unit sent from
    line to line added up."""
    if interval is not None:
        # The number of wraps that brings the step closest to the time passed.
        wraps_in = np.diff(time)
        wraps_in /= interval
        wraps_in -= steps
        wraps_in /= WRAP
        np.round(wraps_in, out=wraps_in)
        np.maximum(wraps_in, -1, out=wraps_in)
        advances = wraps_in.astype(np.int64)
        del wraps_in
        advances *= WRAP
        advances += steps
    else:
        # Taken forward: a step back cannot be told from an outage here.
        advances = steps
    unwrapped = np.empty(len(counter), np.int64)
    unwrapped[0] = counter[0]
    np.cumsum(advances, out=unwrapped[1:])
    unwrapped[1:] += counter[0]
    return unwrapped


def check_counter(counter, counts, line_numbers, time=None):
    """Judges the counter column, with the time column when given. counts and
    line_numbers go with each row, for the report."""
    counter = np.asarray(counter).astype(np.int32)
    steps = np.diff(counter)
    steps %= WRAP
    if len(steps) == 0:
        return Completeness(None, False, [], 0, 0, counter.copy())
    forward = steps[(steps > 0) & (steps < WRAP // 2)]
    step = int(np.argmax(np.bincount(forward))) if len(forward) else 1
    # Steps between the usual one and twice it come from thinning, not loss.
    uneven = np.count_nonzero((steps != step) & (steps > 0) & (steps < 2 * step))
    steps_vary = uneven >= 2 and uneven >= 0.1 * len(steps)
    interval = None
    if time is not None and not steps_vary:
        time = np.asarray(time, dtype=np.float64)
        interval = _packet_interval(steps, step, time)
    unwrapped = _unwrap(counter, steps, time, interval)
    if interval is not None:
        # Then over the whole log, less the time no packet accounts for.
        silent = sum(s for _, s in _silences(time, unwrapped, interval, step))
        span = float(time[-1] - time[0]) - silent
        sent = int(unwrapped[-1] - unwrapped[0])
        if span > 0 and sent > 0:
            interval = span / sent
            advances = unwrapped = None
            unwrapped = _unwrap(counter, steps, time, interval)
    advance = int(unwrapped[-1] - unwrapped[0])
    advances = np.diff(unwrapped)
    odd = np.flatnonzero(advances != step)
    odd_advances = advances[odd]
    del advances
    wraps = int(np.sum(np.maximum(np.diff(unwrapped // WRAP), 0)))
    gaps = []
    if not steps_vary:
        for i, s in zip(odd, odd_advances):
            s = int(s)
            at_least = False
            if s == 0:
                kind, skipped = "repeat", 0
            elif s < 0:
                kind, skipped = "back", s
            elif s < step:
                kind, skipped = "short", 0
            else:
                kind, skipped = "missing", s - step
                at_least = interval is None and s >= WRAP // 2
            seconds = (float(time[i + 1] - time[i]) if interval is not None
                       else None)
            gaps.append(Gap(kind, int(line_numbers[i + 1]), int(counts[i + 1]),
                            int(counter[i + 1]), int(counter[i]), skipped,
                            at_least, seconds))
        if interval is not None:
            for row, seconds in _silences(time, unwrapped, interval, step):
                gaps.append(Gap("silent", int(line_numbers[row]),
                                int(counts[row]), int(counter[row]),
                                int(counter[row - 1]), 0, False, seconds))
            gaps.sort(key=lambda g: (g.line, g.kind == "silent"))
    return Completeness(step, steps_vary, gaps, wraps, advance, unwrapped,
                        interval)
