"""Reading imutap logs into named columns, and judging them by the unit's
sample counter.

    import imutaplog
    log = imutaplog.read_log("run.txt")        # or read_log(path, "r")
    log.names, log.units                       # column names, their units
    log["time"], log["roll"], log["counter"]   # numpy arrays
    imutaplog.check_counter(log["counter"], log["count"], log.line_numbers,
                            log["time"])      # the time column, when there is one
    for piece in imutaplog.read_chunks("day.txt"):   # a long log a piece at a time
        ...
"""

from .layout import columns
from .counter import check_counter
from .reader import Log, LogError, parse_log, read_chunks, read_log

__all__ = ["Log", "LogError", "check_counter", "columns", "parse_log",
           "read_chunks", "read_log"]
