"""imutap-inspect: summary, CSV and picture of an imutap log."""

import argparse
import os
import sys

from .reader import LogError, read_log

FORMATS = (".png", ".svg", ".pdf")


def _parser():
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("log", help="log file written by imutap")
    common.add_argument("-m", dest="mode", choices="acr",
                        help="the logger's mode, for 12 or 13 fields a line:"
                        " c scaled (assumed if not given) or r voltage")
    p = argparse.ArgumentParser(
        prog="imutap-inspect",
        description="Look at a log of imutap: is it complete, what is in it.")
    sub = p.add_subparsers(dest="command", required=True, metavar="COMMAND")
    sub.add_parser("summary", parents=[common],
                   help="lines, spans, rates, min/mean/max, missing packets;"
                   " status 0 only when the unit's counter proves it complete")
    c = sub.add_parser("csv", parents=[common],
                       help="the log as CSV with a header row")
    c.add_argument("out", nargs="?", help="CSV file (default: standard output)")
    g = sub.add_parser("plot", parents=[common],
                       help="one picture of every value over time")
    g.add_argument("-o", dest="out", help="picture file, .png (default),"
                   " .svg or .pdf (default: the log's name with .png)")
    return p


def _same_file(a, b):
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False


def _report(log, stream):
    for note in log.notes:
        stream.write(note + "\n")


def _skipped(log):
    for line, reason in log.problems:
        sys.stderr.write("%s: line %d: %s; skipped\n" % (log.path, line, reason))


def run(argv):
    args = _parser().parse_args(argv)
    if args.command == "plot":
        out = args.out or os.path.splitext(args.log)[0] + ".png"
        if not args.out and _same_file(out, args.log):
            out = args.log + ".png"
        if os.path.splitext(out)[1].lower() not in FORMATS:
            sys.stderr.write("imutap-inspect: %s: the picture's name must end"
                             " in .png, .svg or .pdf\n" % out)
            return 2
    else:
        out = getattr(args, "out", None)
    if out and _same_file(out, args.log):
        sys.stderr.write("imutap-inspect: %s: would overwrite the log\n" % out)
        return 2
    log = read_log(args.log, args.mode)
    _report(log, sys.stderr)
    if args.command == "summary":
        from .summary import summarise
        return summarise(log, sys.stdout)
    _skipped(log)
    if len(log) == 0:
        sys.stderr.write("%s: no usable line\n" % log.path)
        return 1
    if args.command == "csv":
        from .csvout import write_csv
        if args.out:
            with open(args.out, "wb") as f:
                write_csv(log, f)
        else:
            write_csv(log, sys.stdout.buffer)
            sys.stdout.flush()
        return 0
    from .plot import plot_log
    plot_log(log, out)
    sys.stderr.write("%s: written\n" % out)
    return 0


def main(argv=None):
    try:
        return run(sys.argv[1:] if argv is None else argv)
    except LogError as e:
        sys.stderr.write("imutap-inspect: %s\n" % e)
        return e.status
    except BrokenPipeError:
        # The reader of standard output went away (| head): not our fault.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
    except OSError as e:
        sys.stderr.write("imutap-inspect: %s: %s\n" % (
            e.filename or "", e.strerror or e))
        return 1
