"""A log as CSV: a header row of column names with units, then the lines."""


def write_csv(log, out):
    """Writes to a binary stream. The numbers are the log's own text."""
    out.write((",".join(log.labels()) + "\n").encode())
    for piece in log.lines_as_csv():
        out.write(piece)
