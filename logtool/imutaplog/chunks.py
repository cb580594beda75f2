"""Reads a long log a piece at a time, so that it never stands in memory
whole: read_chunks in this process, read_pieces on worker processes that
reduce each piece to what the command keeps. The layout is taken from lines
spread over the whole file."""

import io
import os

import numpy as np

from . import layout as cols
from .lines import choose_layout, fields_of, line_ends, parse_lines
from .log import Log, LogError


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
        mode, has_time, notes = choose_layout(fields_of(sample), mode, path)
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
            nl = line_ends(raw)
            table, numbers, problems, source = parse_lines(
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
        nl = line_ends(raw)
        table, numbers, problems, source = parse_lines(raw, nl, fields, 1)
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
