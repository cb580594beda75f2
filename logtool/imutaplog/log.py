"""A log's lines as named columns: the Log that every way of reading a log
gives, and LogError for a log that cannot be read at all."""

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
        # A carriage return before a line end is left out: the CSV's lines
        # all end in a line feed, whatever the log's did.
        if len(rows) == len(starts):   # every line as the logger wrote it
            yield raw[starts[0]:ends[-1] + 1].replace(b" ", b",").replace(
                b"\r", b"")
            return
        # Runs of verbatim lines go out in one piece, the others one by one.
        cut = np.flatnonzero(np.diff(rows) != 1) + 1
        runs = [(r[0], r[-1]) for r in np.split(rows, cut) if len(r)]
        pieces = [(first, raw[starts[first]:ends[last] + 1].replace(
            b" ", b",").replace(b"\r", b"")) for first, last in runs]
        pieces += [(i, b",".join(t) + b"\n") for i, t in tokens.items()]
        for _, piece in sorted(pieces, key=lambda p: p[0]):
            yield piece
