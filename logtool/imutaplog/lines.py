"""Turns the bytes of complete log lines into a table of columns.

The logger writes every value with "%f" and the two counts with "%d", one
blank between fields and a line feed at the end. The lines are converted in
large blocks by numpy's reader; a block that holds a line it cannot take is
halved until that line is found, and such a line is read on its own: kept if
it still holds the right numbers (two blanks in a row, say), or reported with
its line number. The field count of most lines decides the layout.
"""

import io

import numpy as np

from . import layout as cols
from .log import LogError


def choose_layout(fields, mode, name):
    """(mode, has_time, notes) of lines of this many fields: mode as given,
    or None to take it from the count; name is the log's, for the messages."""
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


# Lines parsed at least together before a block with a bad line is split.
_SMALLEST_BLOCK = 64


def _read_block(text, offsets, lo, hi, out, slow):
    """Converts lines lo..hi-1 of text (line k at offsets[k]) into rows
    lo..hi-1 of out. A block that does not convert is halved until the bad
    lines are found; those go into slow, to be read one by one."""
    if hi <= lo:
        return
    try:
        out[lo:hi] = np.loadtxt(io.BytesIO(text[offsets[lo]:offsets[hi]]),
                                dtype=np.float64, delimiter=" ", comments=None,
                                ndmin=2)
    except ValueError:
        if hi - lo <= _SMALLEST_BLOCK:
            slow.extend(range(lo, hi))
        else:
            mid = (lo + hi) // 2
            _read_block(text, offsets, lo, mid, out, slow)
            _read_block(text, offsets, mid, hi, out, slow)


def line_ends(raw):
    buf = np.frombuffer(raw, np.uint8)
    return np.flatnonzero(buf == 10)


def fields_of(lines):
    """The field count most of these lines have."""
    counts = [len(line.split()) for line in lines]
    return max(set(counts), key=counts.count)


def parse_lines(raw, nl, fields, first_line):
    """Reads complete lines (raw ends with the line feed at nl[-1]); the first
    is line first_line of the file. Returns (table, line numbers, problems,
    source)."""
    lines = len(nl)
    starts = np.empty(lines, np.int64)      # each complete line: starts..nl
    starts[:1] = 0
    starts[1:] = nl[:-1] + 1
    # The quick way: all lines converted by numpy's reader in large blocks
    # (it refuses a block with a line of another field count or a field that
    # is not a number), and checked afterwards for whole counts; the lines
    # that spoil a block are read on their own.
    rows = np.empty((lines, fields))
    slow = []
    _read_block(raw[:nl[-1] + 1], np.append(starts, nl[-1] + 1), 0, lines,
                rows, slow)
    count, counter = rows[:, 0], rows[:, -1]
    whole = ((count == np.floor(count)) & (counter == np.floor(counter))
             & (counter >= 0) & (counter <= 65535))
    quick = np.ones(lines, bool)
    quick[slow] = False
    quick &= whole

    problems = []
    keep = quick.copy()
    slow_tokens = {}
    for i in np.flatnonzero(~quick):
        tokens, reason = _slow_line(raw[starts[i]:nl[i]], fields)
        if tokens is None:
            problems.append((int(i) + first_line, reason))
        else:
            keep[i] = True
            slow_tokens[int(i)] = tokens

    kept = np.flatnonzero(keep)
    if len(kept) == len(rows):      # every line converted in the quick way
        table = rows.T              # a view: one column is a strided row
    else:
        table = np.empty((fields, len(kept)))
        table[:, np.searchsorted(kept, np.flatnonzero(quick))] = \
            rows[quick].T
    del rows
    for i, tokens in slow_tokens.items():
        table[:, np.searchsorted(kept, i)] = [float(t) for t in tokens]
    source = (raw, starts, nl, quick, slow_tokens)
    return table, kept + first_line, problems, source
