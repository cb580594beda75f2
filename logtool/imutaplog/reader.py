"""Reads an imutap log into named columns.

The logger writes every value with "%f" (a minus sign, digits, a point, six
digits) and the two counts with "%d", one blank between fields and a line feed
at the end. Lines of exactly that shape are converted all at once with numpy;
any other line is read on its own, and kept if it still holds the right number
of numbers (a time column of "nan", say), or reported with its line number.
"""

import numpy as np

from . import layout as cols


class LogError(Exception):
    """A log that cannot be read at all. status is the exit status to end with:
    1 for a log without usable lines, 2 for a wrong file name or mode."""

    def __init__(self, message, status=1):
        super().__init__(message)
        self.status = status


class Log:
    """The lines of a log as columns.

    log["roll"] (or log.column("roll")) is one column as a numpy array of
    doubles, log.names the column names in field order and log.units their
    units; log.table holds all columns, one row each. log.line_numbers gives
    each row's line in the file (from 1). log.problems lists the lines skipped,
    as (line number, reason), and log.notes what had to be assumed.
    """

    def __init__(self, path, mode, has_time, table, line_numbers, problems,
                 notes, source):
        self.path = path
        self.mode = mode
        self.has_time = has_time
        spec = cols.columns(mode, has_time)
        self.names = [name for name, _ in spec]
        self.units = dict(spec)
        self.table = table
        self.line_numbers = line_numbers
        self.problems = problems
        self.notes = notes
        self._source = source

    def __len__(self):
        return self.table.shape[1]

    def __getitem__(self, name):
        return self.column(name)

    def column(self, name):
        return self.table[self.names.index(name)]

    def labels(self):
        return [cols.label(name, self.units[name]) for name in self.names]

    def value_names(self):
        """The names of the measured values: all but the count, the time
        column and the unit's counter."""
        return [n for n in self.names if n not in ("count", "time", "counter")]

    def lines_as_csv(self):
        """The kept lines, fields joined by commas, as they stand in the log."""
        raw, starts, ends, verbatim, tokens = self._source
        rows = np.flatnonzero(verbatim)
        if len(rows) == len(starts):   # every line as the logger wrote it
            yield raw[starts[0]:ends[-1] + 1].replace(b" ", b",")
            return
        # Runs of verbatim lines go out in one piece, the others one by one.
        cut = np.flatnonzero(np.diff(rows) != 1) + 1
        runs = [(r[0], r[-1]) for r in np.split(rows, cut) if len(r)]
        pieces = [(first, raw[starts[first]:ends[last] + 1].replace(b" ", b","))
                  for first, last in runs]
        pieces += [(i, b",".join(t) + b"\n") for i, t in tokens.items()]
        for _, piece in sorted(pieces, key=lambda p: p[0]):
            yield piece


def read_log(path, mode=None):
    """Reads the log file at path. mode is "a", "c" or "r", or None to take
    it from the field count (scaled mode assumed for 12 or 13 fields)."""
    try:
        with open(path, "rb") as f:
            raw = f.read()
    except OSError as e:
        raise LogError("%s: %s" % (path, e.strerror or e), 2) from None
    return parse_log(raw, mode, path)


def _choose_layout(fields, mode, name):
    modes, has_time = cols.layout_of(fields)
    if modes is None:
        raise LogError("%s: most lines have %d fields; a log line has 12 or 13"
                       " (scaled or voltage mode) or 15 or 16 (angle mode)"
                       % (name, fields))
    notes = []
    if mode is None:
        mode = modes[0]
        if len(modes) > 1:
            notes.append("%s: %d fields a line is scaled or voltage mode; taken"
                         " as scaled mode (give -m r for voltage mode)"
                         % (name, fields))
    elif mode not in modes:
        told = " or ".join("%s mode (-m %s)" % (cols.MODE_NAMES[m], m)
                           for m in modes)
        raise LogError("%s: lines of %d fields are %s, not %s mode (-m %s)"
                       % (name, fields, told, cols.MODE_NAMES[mode], mode), 2)
    return mode, has_time, notes


def _digits(buf, first, step, most):
    """Reads the run of decimal digits at buf[first], buf[first+step], ...
    (at most `most`). Returns the value (most significant digit first when
    step is 1, last when -1) and the number of digits."""
    value = np.zeros(len(first), np.int64)
    count = np.zeros(len(first), np.int64)
    live = np.ones(len(first), bool)
    scale = 1
    for j in range(most + 1):
        d = buf[first + step * j] - np.uint8(48)
        live &= d <= 9
        if j == most or not live.any():
            break
        if step > 0:
            value = np.where(live, value * 10 + d, value)
        else:
            value += d.astype(np.int64) * (scale * live)
            scale *= 10
        count += live
    # still live after `most` digits: too long for the quick path
    return value, np.where(live, -1, count)


# Bytes looked at around each point: up to nine digits and a sign before it
# (and the blank in front), six digits and a blank or line feed after it.
BEFORE, AFTER = 12, 8
CHUNK = 1 << 18
_TENS = 10.0 ** np.arange(BEFORE - 1)


def _quick_values(buf, dots):
    """The "%f" numbers around the points at dots, and which are well-formed.
    Works through the points a chunk at a time, each point with the bytes
    around it as one row."""
    rows = np.lib.stride_tricks.sliding_window_view(buf, BEFORE + AFTER)
    values = np.empty(len(dots))
    ok = np.empty(len(dots), bool)
    for first in range(0, len(dots), CHUNK):
        at = slice(first, first + CHUNK)
        r = rows[dots[at] - BEFORE]               # the point is r[:, BEFORE]
        digit = r - np.uint8(48)
        is_digit = digit <= 9
        frac = digit[:, BEFORE + 1:BEFORE + 7].astype(np.float64) @ _TENS[5::-1]
        good = is_digit[:, BEFORE + 1:BEFORE + 7].all(axis=1)
        end = r[:, BEFORE + 7]
        good &= (end == 32) | (end == 10)
        # The digits in front of the point, nearest first, up to a non-digit.
        run = np.logical_and.accumulate(is_digit[:, BEFORE - 1::-1], axis=1)
        count = run.sum(axis=1)
        good &= (count >= 1) & (count <= BEFORE - 3)
        whole = (digit[:, BEFORE - 1:0:-1] * run[:, :-1]) @ _TENS
        lead = np.minimum(count, BEFORE - 3)
        line = np.arange(len(r))
        sign = r[line, BEFORE - 1 - lead]
        negative = sign == 45
        sep = np.where(negative, r[line, BEFORE - 2 - lead], sign)
        good &= (sep == 32) | (sep == 10)
        # whole * 10**6 + frac is exact below 2**53, and so is 10**6: their
        # quotient is the double nearest the decimal, as strtod gives.
        value = (whole * 1e6 + frac) / 1e6
        values[at] = np.where(negative, -value, value)
        ok[at] = good
    return values, ok


def _slow_line(text, fields):
    """(tokens, None) for a line that holds the right numbers, else
    (None, reason)."""
    tokens = text.split()
    if not tokens:
        return None, "empty line"
    if len(tokens) != fields:
        return None, "%d fields where %d are expected" % (len(tokens), fields)
    for k, token in enumerate(tokens):
        try:
            if k in (0, fields - 1):
                number = int(token)
                if k and not 0 <= number <= 65535:
                    return None, "counter %s out of 0..65535" % token.decode()
            else:
                float(token)
        except ValueError:
            return None, "%r is not a %s" % (
                token.decode("ascii", "replace"),
                "whole number" if k in (0, fields - 1) else "number")
    return tokens, None


def parse_log(raw, mode=None, name="log"):
    """Reads the bytes of a log; see read_log."""
    if mode is not None and mode not in cols.MODE_NAMES:
        raise LogError("unknown mode -m %s: a, c or r" % mode, 2)
    # A line feed in front of the first line, so that every line starts after
    # one, and zeros around, so that looking a few bytes further stays inside.
    front = BEFORE + 4
    buf = np.zeros(front + len(raw) + 2 * (BEFORE + AFTER), np.uint8)
    buf[front - 1] = 10
    buf[front:front + len(raw)] = np.frombuffer(raw, np.uint8)
    nl = np.flatnonzero(buf == 10)
    starts, ends = nl[:-1] + 1, nl[1:]      # each complete line, in buf
    lines = len(ends)
    problems = []
    if nl[-1] != front + len(raw) - 1:
        problems.append((lines + 1, "cut short (no line end)"))
    if lines == 0:
        raise LogError("%s: no complete line" % name)

    spaces = np.add.reduceat(buf[:nl[-1] + 1] == 32, starts, dtype=np.int32)
    fields = int(np.argmax(np.bincount(np.minimum(spaces, 64)))) + 1
    mode, has_time, notes = _choose_layout(fields, mode, name)
    fields = cols.field_count(mode, has_time)

    # The quick path: right number of blanks and points, every number well-formed.
    dots = np.flatnonzero(buf[:nl[-1]] == 46)
    per_line = np.diff(np.searchsorted(dots, nl))
    line_of_dot = np.repeat(np.arange(lines), per_line)
    quick = (spaces == fields - 1) & (per_line == fields - 2)
    values, ok = _quick_values(buf, dots)
    quick[line_of_dot[~ok]] = False
    neg = buf[starts] == 45
    count, digits = _digits(buf, starts + neg, 1, 10)
    quick &= (digits >= 1) & (buf[starts + neg + np.maximum(digits, 0)] == 32)
    count = np.where(neg, -count, count)
    counter, digits = _digits(buf, ends - 1, -1, 5)
    quick &= (digits >= 1) & (buf[ends - 1 - np.maximum(digits, 0)] == 32)
    quick &= counter <= 65535

    keep = quick.copy()
    slow_tokens = {}
    for i in np.flatnonzero(~quick):
        tokens, reason = _slow_line(raw[starts[i] - front:ends[i] - front],
                                    fields)
        if tokens is None:
            problems.append((int(i) + 1, reason))
        else:
            keep[i] = True
            slow_tokens[int(i)] = tokens
    problems.sort()

    rows = np.flatnonzero(keep)
    table = np.empty((fields, len(rows)))
    at = np.searchsorted(rows, np.flatnonzero(quick))
    table[0, at] = count[quick]
    table[fields - 1, at] = counter[quick]
    table[1:fields - 1, at] = values[quick[line_of_dot]].reshape(
        -1, fields - 2).T
    for i, tokens in slow_tokens.items():
        table[:, np.searchsorted(rows, i)] = [float(t) for t in tokens]
    source = (raw, starts - front, ends - front, quick, slow_tokens)
    return Log(name, mode, has_time, table, rows + 1, problems, notes, source)
