"""Completeness of a log, proven from the unit's 16-bit sample counter.

The unit raises its counter by one with every packet and wraps from 65535 to
0; the logger writes one line per pass of `-d` packets. So in a complete log
the counter goes up by the same step (mod 65536) from line to line. A larger
step means packets are missing there; a step of 0 is a repeated line, a step
of 32768 or more one that goes back. Thinning with `-f` mixes steps of k and
k+1 packets, which no count can tell from losses: then the log cannot be
judged.
"""

import numpy as np

WRAP = 65536


class Gap:
    """One place where the counter does not take its usual step. line is the
    line after the place, count and counter are that line's, skipped how many
    packets are missing (0 for a repeat, negative for a step back)."""

    def __init__(self, kind, line, count, counter, before, skipped):
        self.kind = kind            # "missing", "short", "repeat", "back"
        self.line = line
        self.count = count
        self.counter = counter
        self.before = before
        self.skipped = skipped

    def __repr__(self):
        return "Gap(%s, line %d, counter %d after %d)" % (
            self.kind, self.line, self.counter, self.before)


class Completeness:
    def __init__(self, step, steps_vary, gaps, wraps, advance):
        self.step = step              # usual step, None for fewer than 2 lines
        self.steps_vary = steps_vary  # thinned log: cannot be judged
        self.gaps = gaps
        self.wraps = wraps            # how often the counter passed 65535 -> 0
        self.advance = advance        # packets the unit sent from first to last line

    @property
    def missing(self):
        return sum(g.skipped for g in self.gaps if g.kind == "missing")

    @property
    def complete(self):
        return not self.steps_vary and not self.gaps


def check_counter(counter, counts, line_numbers):
    """Judges the counter column. counts and line_numbers go with each row,
    for the report."""
    counter = np.asarray(counter, dtype=np.int64)
    steps = np.diff(counter) % WRAP
    if len(steps) == 0:
        return Completeness(None, False, [], 0, 0)
    forward = steps[(steps > 0) & (steps < WRAP // 2)]
    step = int(np.argmax(np.bincount(forward))) if len(forward) else 1
    # Steps between the usual one and twice it come from thinning, not loss.
    uneven = np.count_nonzero((steps != step) & (steps > 0) & (steps < 2 * step))
    steps_vary = uneven >= 2 and uneven >= 0.1 * len(steps)
    wraps = int(np.count_nonzero((counter[1:] < counter[:-1])
                                 & (steps < WRAP // 2)))
    advance = int(np.sum(np.where(steps < WRAP // 2, steps, steps - WRAP)))
    gaps = []
    if not steps_vary:
        for i in np.flatnonzero(steps != step):
            s = int(steps[i])
            if s == 0:
                kind, skipped = "repeat", 0
            elif s >= WRAP // 2:
                kind, skipped = "back", s - WRAP
            elif s < step:
                kind, skipped = "short", 0
            else:
                kind, skipped = "missing", s - step
            gaps.append(Gap(kind, int(line_numbers[i + 1]), int(counts[i + 1]),
                            int(counter[i + 1]), int(counter[i]), skipped))
    return Completeness(step, steps_vary, gaps, wraps, advance)
