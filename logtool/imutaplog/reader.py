"""Reads an imutap log into named columns.

The logger writes every value with "%f" and the two counts with "%d", one
blank between fields and a line feed at the end. The lines are converted in
large blocks by numpy's reader; a block that holds a line it cannot take is
halved until that line is found, and such a line is read on its own: kept if
it still holds the right numbers (two blanks in a row, say), or reported with
its line number.
"""

import io
import os

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


# Lines whose field counts decide the layout, spread over the log.
_SAMPLE = 1001
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


def _line_ends(raw):
    buf = np.frombuffer(raw, np.uint8)
    return np.flatnonzero(buf == 10)


def _fields_of(lines):
    """The field count most of these lines have."""
    counts = [len(line.split()) for line in lines]
    return max(set(counts), key=counts.count)


def _parse_lines(raw, nl, fields, first_line):
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


def parse_log(raw, mode=None, name="log"):
    """Reads the bytes of a log; see read_log."""
    if mode is not None and mode not in cols.MODE_NAMES:
        raise LogError("unknown mode -m %s: a, c or r" % mode, 2)
    nl = _line_ends(raw)
    lines = len(nl)
    if lines == 0:
        raise LogError("%s: no complete line" % name)
    sample = np.unique(np.linspace(0, lines - 1, _SAMPLE).astype(np.int64))
    fields = _fields_of([raw[(nl[i - 1] + 1 if i else 0):nl[i]]
                         for i in sample])
    mode, has_time, notes = _choose_layout(fields, mode, name)
    table, numbers, problems, source = _parse_lines(raw, nl, fields, 1)
    if nl[-1] != len(raw) - 1:
        problems.append((lines + 1, "cut short (no line end)"))
    return Log(name, mode, has_time, table, numbers, problems, notes, source)


# Bytes of the file read and converted at a time by read_chunks and
# read_pieces (about 110,000 lines).
CHUNK_BYTES = 16 << 20


# Lines spread over a file that decide its layout, read one by one.
_FILE_SAMPLE = 201


def _sample_lines(f, size):
    """About _FILE_SAMPLE complete lines spread over the open file."""
    lines = []
    for offset in np.unique(np.linspace(0, size - 1, _FILE_SAMPLE).astype(np.int64)):
        piece = os.pread(f.fileno(), 1024, int(offset))
        if offset:
            start = piece.find(b"\n") + 1
            if start == 0:
                continue
            piece = piece[start:]
        end = piece.find(b"\n")
        if end >= 0:
            lines.append(piece[:end])
    return lines


def _open_log(path, mode):
    """Opens the log at path and takes its layout from lines spread over the
    whole file: (file, size, mode, has_time, notes)."""
    if mode is not None and mode not in cols.MODE_NAMES:
        raise LogError("unknown mode -m %s: a, c or r" % mode, 2)
    try:
        f = open(path, "rb")
    except OSError as e:
        raise LogError("%s: %s" % (path, e.strerror or e), 2) from None
    try:
        size = os.fstat(f.fileno()).st_size
        sample = _sample_lines(f, size) if size else []
        if not sample:
            raise LogError("%s: no complete line" % path)
        mode, has_time, notes = _choose_layout(_fields_of(sample), mode, path)
    except BaseException:
        f.close()
        raise
    return f, size, mode, has_time, notes


def read_chunks(path, mode=None, chunk_bytes=CHUNK_BYTES):
    """Reads the log file at path a piece at a time, so that a long log never
    stands in memory whole: yields a Log for each run of complete lines (its
    line_numbers and problems count from the file's first line). The layout
    is taken from lines spread over the whole file; the first Log carries the
    notes, the last the report of a line cut short."""
    f, size, mode, has_time, notes = _open_log(path, mode)
    with f:
        f.seek(0)
        rest, line = b"", 1
        while True:
            piece = f.read(chunk_bytes)
            raw = rest + piece if rest else piece
            if not piece:
                if raw:
                    yield Log(path, mode, has_time,
                              np.empty((len(cols.columns(mode, has_time)), 0)),
                              np.empty(0, np.int64),
                              [(line, "cut short (no line end)")], [], None)
                return
            end = raw.rfind(b"\n") + 1
            if end == 0:
                rest = raw
                continue
            rest = raw[end:]
            raw = raw[:end]
            nl = _line_ends(raw)
            table, numbers, problems, source = _parse_lines(
                raw, nl, len(cols.columns(mode, has_time)), line)
            line += len(nl)
            yield Log(path, mode, has_time, table, numbers, problems, notes,
                      source)
            notes = []


def _bounds(f, size, chunk_bytes):
    """Offsets that cut the file into pieces of about chunk_bytes, each
    piece ending at a line end (the last at the file's end)."""
    out = [0]
    pos = chunk_bytes
    while pos < size:
        f.seek(pos)
        while True:
            piece = f.read(1 << 16)
            if not piece:
                pos = size
                break
            found = piece.find(b"\n")
            if found >= 0:
                pos += found + 1
                break
            pos += len(piece)
        if pos >= size:
            break
        out.append(pos)
        pos += chunk_bytes
    out.append(size)
    return out


def _whole_piece(raw, fields):
    """The table of complete lines converted in one go, or None when a line
    is not as the logger writes it (then they are read the careful way)."""
    try:
        rows = np.loadtxt(io.BytesIO(raw), dtype=np.float64, delimiter=" ",
                          comments=None, ndmin=2)
    except ValueError:
        return None
    # numpy's reader passes over empty lines: every line must be a row.
    if rows.shape[1] != fields or rows.shape[0] != raw.count(b"\n"):
        return None
    count, counter = rows[:, 0], rows[:, -1]
    if not np.all((count == np.floor(count)) & (counter == np.floor(counter))
                  & (counter >= 0) & (counter <= 65535)):
        return None
    return rows.T


def _piece_job(job):
    """Reads one piece of the file and reduces it (in a worker process):
    (lines in the piece, reduce's answer with line numbers from 1)."""
    path, start, end, mode, has_time, reduce = job
    with open(path, "rb") as f:
        f.seek(start)
        raw = f.read(end - start)
    fields = len(cols.columns(mode, has_time))
    cut = raw.rfind(b"\n") + 1
    tail, raw = raw[cut:], raw[:cut]
    table = _whole_piece(raw, fields) if raw else None
    if table is not None:           # every line as the logger writes them
        lines = table.shape[1]
        numbers = np.arange(1, lines + 1)
        problems, source = [], None
    elif raw:
        nl = _line_ends(raw)
        table, numbers, problems, source = _parse_lines(raw, nl, fields, 1)
        lines = len(nl)
    else:
        table, numbers = np.empty((fields, 0)), np.empty(0, np.int64)
        problems, source, lines = [], None, 0
    if tail:
        problems.append((lines + 1, "cut short (no line end)"))
        lines += 1
    log = Log(path, mode, has_time, table, numbers, problems, [], source)
    return lines, reduce(log)


def _keep_freed_memory():
    """Asks the C library (glibc) to keep memory that is freed for the next
    piece instead of handing it back to the system at once: a piece's
    arrays of a few MB each would otherwise be mapped and faulted in anew
    every time, which cost a third of the CPU time. The peak stays the
    same. Elsewhere nothing is changed."""
    try:
        import ctypes
        libc = ctypes.CDLL("libc.so.6")
        libc.mallopt(-3, 32 << 20)      # M_MMAP_THRESHOLD: the most glibc takes
        libc.mallopt(-1, 1 << 30)       # M_TRIM_THRESHOLD
        libc.mallopt(-2, 64 << 20)      # M_TOP_PAD
    except (OSError, AttributeError):
        pass


def read_pieces(path, mode, reduce, workers=None, chunk_bytes=CHUNK_BYTES):
    """Reads a long log a piece at a time, on up to `workers` processes (by
    default one per processor, at most two): first yields a Log without rows
    (its layout and notes), then reduce(log) for each piece in order.
    reduce runs in the worker and answers with a dict; its "line" array and
    its "problems" list are turned into the file's line numbers here."""
    f, size, mode, has_time, notes = _open_log(path, mode)
    with f:
        bounds = _bounds(f, size, chunk_bytes)
    fields = len(cols.columns(mode, has_time))
    yield Log(path, mode, has_time, np.empty((fields, 0)),
              np.empty(0, np.int64), [], notes, None)
    jobs = [(path, a, b, mode, has_time, reduce)
            for a, b in zip(bounds[:-1], bounds[1:])]
    import multiprocessing
    _keep_freed_memory()
    workers = workers or min(2, os.cpu_count() or 1)
    # Worker processes where they can be forked (not on Windows).
    if (workers > 1 and len(jobs) > 1
            and "fork" in multiprocessing.get_all_start_methods()):
        pool = multiprocessing.get_context("fork").Pool(workers)
        answers = pool.imap(_piece_job, jobs)
    else:
        pool, answers = None, map(_piece_job, jobs)
    try:
        before = 0
        for lines, answer in answers:
            if "line" in answer:
                answer["line"] += before
            answer["problems"] = [(line + before, reason)
                                  for line, reason in answer.get("problems", [])]
            before += lines
            yield answer
    finally:
        if pool is not None:
            pool.terminate()
