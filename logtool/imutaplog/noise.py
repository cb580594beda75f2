"""The noise of a unit lying still: per gyro and accelerometer axis the
static bias and spread, the overlapping Allan deviation at octave-spaced
averaging times and the noise terms read from it, the noise density from the
spectrum, and the timing of the samples. Only complete stretches of the log
are analysed: the longest, or all of them pooled. The read-out is
noise_report.py's, the picture noise_plot.py's."""

import math

import numpy as np

from .allan import allan_deviation, noise_terms, octaves
from .counter import check_counter

AXES = ["gyro_x", "gyro_y", "gyro_z", "accel_x", "accel_y", "accel_z"]
# Stretches shorter than this many lines are left out when pooling.
SHORTEST = 16
# Samples per segment of the spectrum, and per block of segments.
SEGMENT = 4096
BLOCK = 1 << 20


class NoiseError(Exception):
    pass


def noise_piece(log):
    """What noise keeps of one piece of a log (in a worker process): count,
    time and counter in small types, line numbers, the six axes as float32
    rows, the first of its skipped lines."""
    if log.mode == "r":
        return {"problems": [], "skipped": 0}
    lines = np.asarray(log.line_numbers)
    return {"count": log["count"].astype(np.int32),
            "time": log["time"].copy() if log.has_time else None,
            "counter": log["counter"].astype(np.uint16),
            "line": lines.astype(np.int64 if len(lines) and lines[-1] >= 2 ** 31
                                 else np.int32),
            "axes": np.array([log[a] for a in AXES], np.float32),
            "problems": log.problems[:20], "skipped": len(log.problems)}


def load(pieces):
    """(the Log of the layout, count, time or None, counter, line numbers,
    the six axes as float32 rows, the first skipped lines, how many were
    skipped) from read_pieces(path, mode, noise_piece)."""
    pieces = iter(pieces)
    first = next(pieces)
    if first.mode == "r":
        raise NoiseError("%s: a voltage-mode log has no gyro or accelerometer"
                         " values; noise needs angle or scaled mode" % first.path)
    keep = {"count": [], "time": [], "counter": [], "line": [], "axes": []}
    problems, skipped = [], 0
    for piece in pieces:
        for name in keep:
            if piece[name] is not None and len(piece["count"]):
                keep[name].append(piece[name])
        skipped += piece["skipped"]
        problems.extend(piece["problems"][:max(0, 20 - len(problems))])
    if not keep["count"]:
        raise NoiseError("%s: no usable line" % first.path)
    whole = {"axes": Rows(keep.pop("axes"))}
    for name in keep:               # one column at a time: less memory at once
        whole[name] = np.concatenate(keep[name]) if keep[name] else None
        keep[name] = None
    return (first, whole["count"], whole["time"], whole["counter"],
            whole["line"], whole["axes"], problems, skipped)


class Rows:
    """The six axes as the pieces of the log brought them, never joined
    whole: rows[k, a:b] joins only that stretch of axis k."""

    def __init__(self, pieces):
        self.pieces = pieces
        self.starts = np.cumsum([0] + [p.shape[1] for p in pieces])

    def __getitem__(self, where):
        k, span = where
        a, b, _ = span.indices(int(self.starts[-1]))
        first = int(np.searchsorted(self.starts, a, side="right")) - 1
        parts = []
        for i in range(max(first, 0), len(self.pieces)):
            lo, hi = self.starts[i], self.starts[i + 1]
            if lo >= b:
                break
            parts.append(self.pieces[i][k, max(a - lo, 0):min(b, hi) - lo])
        return parts[0] if len(parts) == 1 else np.concatenate(parts)


def stretches(judged, rows):
    """(first row, end row) of each stretch between two places where the
    counter or the time shows an outage."""
    cuts = sorted({int(np.searchsorted(rows, g.line)) for g in judged.gaps})
    bounds = [0] + cuts + [len(rows)]
    return [(a, b) for a, b in zip(bounds[:-1], bounds[1:]) if b > a]


class Result:
    pass


def analyse(chunks, rate=None, combine=False, spectrum=True):
    """Reads a log (as pieces) and works out its noise; returns a Result."""
    log, count, time, counter, lines, axes, problems, skipped = load(chunks)
    r = Result()
    r.log, r.problems, r.skipped, r.notes = log, problems, skipped, []
    judged = check_counter(counter, count, lines, time)
    if judged.steps_vary:
        raise NoiseError("%s: the counter's step varies from line to line (a log"
                         " thinned with -f?): the samples are not evenly spaced"
                         % log.path)
    if len(count) < 2 * 4:
        raise NoiseError("%s: %d lines are too few for noise figures"
                         % (log.path, len(count)))
    step = judged.step
    r.step = step
    if judged.interval is not None and rate is None:
        r.packet_rate = 1.0 / judged.interval
        r.rate_from = "by the counter over the time column"
    else:
        r.packet_rate = rate or 100.0
        r.rate_from = ("as given with --rate" if rate else
                       "assumed: no time column, give --rate")
    r.tau0 = step / r.packet_rate
    r.time = None
    if time is not None:
        intervals = np.diff(time)
        r.time = (time[-1] - time[0], float(np.mean(intervals)),
                  float(np.std(intervals)), float(np.max(intervals)),
                  judged.advance / (time[-1] - time[0])
                  if time[-1] > time[0] else float("nan"))
    parts = stretches(judged, lines)
    r.stretch_count = len(parts)
    longest = max(parts, key=lambda p: p[1] - p[0])
    if combine:
        use = [p for p in parts if p[1] - p[0] >= SHORTEST] or [longest]
    else:
        use = [longest]
    if longest[1] - longest[0] < 8:
        raise NoiseError("%s: the longest complete stretch has %d lines, too"
                         " few for noise figures" % (log.path,
                                                     longest[1] - longest[0]))
    r.combined = combine
    r.used = [(int(lines[a]), int(lines[b - 1]), b - a) for a, b in use]
    r.longest = (int(lines[longest[0]]), int(lines[longest[1] - 1]),
                 longest[1] - longest[0])
    r.samples = sum(b - a for a, b in use)
    r.ms = octaves(longest[1] - longest[0])
    r.taus = r.ms * r.tau0
    r.adev, r.terms, r.figures, r.bias, r.std, r.density = [], [], [], [], [], []
    for k in range(len(AXES)):
        pieces = [axes[k, a:b] for a, b in use]
        values = np.concatenate(pieces).astype(np.float64)
        r.bias.append(float(values.mean()))
        r.std.append(float(values.std(ddof=1)))
        del values
        adev, terms = allan_deviation(pieces, r.ms)
        r.adev.append(adev)
        r.terms.append(terms)
        r.figures.append(noise_terms(r.taus, adev, terms, r.ms))
    r.spectrum = None
    if spectrum:
        r.spectrum = _spectrum(axes, use, r.packet_rate / step)
        if r.spectrum is None:
            r.notes.append("spectrum skipped: it needs scipy (Debian:"
                           " python3-scipy)")
    return r


def _spectrum(axes, use, fs):
    """Noise density of each axis from Welch's spectrum (two-sided, so that
    white noise reads as the Allan deviation's N), averaged over the upper
    part of the band; None without scipy."""
    try:
        from scipy.signal import welch
    except ImportError:
        return None
    out = []
    segment = min(SEGMENT, max(b - a for a, b in use))
    for k in range(len(AXES)):
        total, weight, freqs = 0, 0, None
        for a, b in use:
            if b - a < max(segment, 64):
                continue
            # In blocks, so that the segments' transforms stay small.
            for start in range(a, b, BLOCK):
                end = min(b, start + BLOCK)
                if end - start < segment:
                    continue
                freqs, psd = welch(axes[k, start:end].astype(np.float64),
                                   fs=fs, nperseg=segment)
                total = total + psd * (end - start)
                weight += end - start
        if freqs is None:
            return None
        band = (freqs >= fs / 20) & (freqs <= 0.4 * fs)
        out.append(math.sqrt(float(np.mean(total[band] / weight)) / 2))
    return out
