"""imutap-inspect: summary, CSV, picture and noise figures of an imutap log."""

import argparse
import os
import sys

from .reader import LogError, read_log, read_pieces
from .summary import skipped_lines

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
                   help="lines, spans, rates, min/mean/std/max, missing packets;"
                   " status 0 only when the unit's counter proves it complete")
    c = sub.add_parser("csv", parents=[common],
                       help="the log as CSV with a header row")
    c.add_argument("out", nargs="?", help="CSV file (default: standard output)")
    g = sub.add_parser("plot", parents=[common],
                       help="one picture of every value over time")
    g.add_argument("-o", dest="out", help="picture file, .png (default),"
                   " .svg or .pdf (default: the log's name with .png)")
    g.add_argument("--from", dest="start", type=float, metavar="X",
                   help="draw from this time [s] (or unit's counter, without"
                   " a time column) on")
    g.add_argument("--to", dest="end", type=float, metavar="X",
                   help="draw up to this time [s] (or unit's counter)")
    g.add_argument("--channels", metavar="NAMES",
                   help="comma-separated columns to draw (gyro_x,accel_z,...)"
                   " or panels (attitude, gyro, accel, mag, temperature)")
    n = sub.add_parser("noise", parents=[common],
                       help="Allan deviation, noise densities, bias"
                       " instability and random walks of a unit lying still")
    n.add_argument("-o", dest="out", help="picture of the Allan deviation"
                   " (.png, .svg or .pdf)")
    n.add_argument("--yaml", help="noise model for visual-inertial"
                   " calibration (imu.yaml)")
    n.add_argument("--csv", help="tau and each axis's Allan deviation")
    n.add_argument("--rate", type=float, metavar="HZ",
                   help="packets per second, for a log without a time column"
                   " (default 100)")
    n.add_argument("--combine", action="store_true",
                   help="pool every complete stretch instead of taking the"
                   " longest")
    return p


def _same_file(a, b):
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False


def _skipped(log):
    def write(text):
        sys.stderr.write("%s: %s" % (log.path, text))
    skipped_lines(log.problems, len(log.problems), write)


def _with_notes(pieces):
    """Passes the pieces of a log on, saying its notes on the way (they come
    with the first, the Log of its layout)."""
    pieces = iter(pieces)
    first = next(pieces)
    for note in first.notes:
        sys.stderr.write(note + "\n")
    yield first
    yield from pieces


def _picture_name(name):
    if os.path.splitext(name)[1].lower() not in FORMATS:
        sys.stderr.write("imutap-inspect: %s: the picture's name must end"
                         " in .png, .svg or .pdf\n" % name)
        return False
    return True


def _noise(args):
    from .noise import NoiseError, analyse, noise_piece
    from .noise_plot import plot_adev
    from .noise_report import report, write_csv, write_yaml
    if args.rate is not None and not args.rate > 0:
        sys.stderr.write("imutap-inspect: --rate must be above 0\n")
        return 2
    try:
        result = analyse(_with_notes(read_pieces(args.log, args.mode,
                                                 noise_piece)),
                         args.rate, args.combine)
    except NoiseError as e:
        sys.stderr.write("imutap-inspect: %s\n" % e)
        return 1
    report(result, sys.stdout)
    sys.stdout.flush()
    if args.csv:
        with open(args.csv, "w", newline="") as f:
            write_csv(result, f, result.log.units)
        sys.stderr.write("%s: written\n" % args.csv)
    if args.yaml:
        with open(args.yaml, "w") as f:
            write_yaml(result, f, os.path.basename(args.log))
        sys.stderr.write("%s: written\n" % args.yaml)
    if args.out:
        plot_adev(result, args.out)
        sys.stderr.write("%s: written\n" % args.out)
    return 0


def run(argv):
    args = _parser().parse_args(argv)
    outs = []
    if args.command == "plot":
        out = args.out or os.path.splitext(args.log)[0] + ".png"
        if not args.out and _same_file(out, args.log):
            out = args.log + ".png"
        if not _picture_name(out):
            return 2
        outs = [out]
    elif args.command == "noise":
        if args.out and not _picture_name(args.out):
            return 2
        outs = [args.out, args.yaml, args.csv]
    else:
        outs = [getattr(args, "out", None)]
    for out in outs:
        if out and _same_file(out, args.log):
            sys.stderr.write("imutap-inspect: %s: would overwrite the log\n" % out)
            return 2
    if args.command == "summary":
        from .summary import summarise, summary_piece
        return summarise(_with_notes(read_pieces(args.log, args.mode,
                                                 summary_piece)), sys.stdout)
    if args.command == "noise":
        return _noise(args)
    log = read_log(args.log, args.mode)
    for note in log.notes:
        sys.stderr.write(note + "\n")
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
    from .plot import PlotError, plot_log
    try:
        plot_log(log, outs[0], start=args.start, end=args.end,
                 channels=args.channels)
    except PlotError as e:
        sys.stderr.write("imutap-inspect: %s\n" % e)
        return 2
    sys.stderr.write("%s: written\n" % outs[0])
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
