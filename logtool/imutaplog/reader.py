"""Reads an imutap log into named columns: a whole log at once (read_log,
parse_log), or a long one a piece at a time (read_chunks, read_pieces, from
chunks.py)."""

import numpy as np

from . import layout as cols
from .chunks import CHUNK_BYTES, read_chunks, read_pieces
from .lines import choose_layout, fields_of, line_ends, parse_lines
from .log import Log, LogError

__all__ = ["CHUNK_BYTES", "Log", "LogError", "parse_log", "read_chunks",
           "read_log", "read_pieces"]


def read_log(path, mode=None):
    """Reads the log file at path. mode is "a", "c" or "r", or None to take
    it from the field count (scaled mode assumed for 12 or 13 fields)."""
    try:
        with open(path, "rb") as f:
            raw = f.read()
    except OSError as e:
        raise LogError("%s: %s" % (path, e.strerror or e), 2) from None
    return parse_log(raw, mode, path)


# Lines whose field counts decide the layout, spread over the log.
_SAMPLE = 1001


def parse_log(raw, mode=None, name="log"):
    """Reads the bytes of a log; see read_log."""
    if mode is not None and mode not in cols.MODE_NAMES:
        raise LogError("unknown mode -m %s: a, c or r" % mode, 2)
    nl = line_ends(raw)
    lines = len(nl)
    if lines == 0:
        raise LogError("%s: no complete line" % name)
    sample = np.unique(np.linspace(0, lines - 1, _SAMPLE).astype(np.int64))
    fields = fields_of([raw[(nl[i - 1] + 1 if i else 0):nl[i]]
                        for i in sample])
    mode, has_time, notes = choose_layout(fields, mode, name)
    table, numbers, problems, source = parse_lines(raw, nl, fields, 1)
    if nl[-1] != len(raw) - 1:
        problems.append((lines + 1, "cut short (no line end)"))
    return Log(name, mode, has_time, table, numbers, problems, notes, source)
