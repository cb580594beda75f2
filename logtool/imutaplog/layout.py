"""Column names and units of the log lines, by mode and time column."""

MODE_NAMES = {"a": "angle", "c": "scaled", "r": "voltage"}

# Values after the prefix, in the order the logger writes them.
_ANGLES = [("roll", "deg"), ("pitch", "deg"), ("yaw", "deg")]
_TRIADS = ([("gyro_" + axis, "deg/s") for axis in "xyz"]
           + [("accel_" + axis, "g") for axis in "xyz"]
           + [("mag_" + axis, "gauss") for axis in "xyz"])
_CHANNELS = [("ch%d" % n, "V") for n in range(1, 10)]
_END = [("temperature", "degC"), ("counter", "")]


def columns(mode, has_time):
    """(name, unit) of every field of a line, in order."""
    prefix = [("count", "")] + ([("time", "s")] if has_time else [])
    values = (_ANGLES + _TRIADS if mode == "a"
              else _TRIADS if mode == "c" else _CHANNELS)
    return prefix + values + _END


def field_count(mode, has_time):
    return len(columns(mode, has_time))


def layout_of(fields):
    """(modes, has_time) that a line of this many fields can hold."""
    return {15: ("a", False), 16: ("a", True),
            12: ("cr", False), 13: ("cr", True)}.get(fields, (None, None))


def label(name, unit):
    return "%s [%s]" % (name, unit) if unit else name
