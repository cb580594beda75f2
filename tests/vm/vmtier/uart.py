"""The 16550 UART (the guest's ttyS1, Linux's 8250 driver), the emulated unit
on the host's side of it. One boot runs every case of guest/uart.sh in turn;
each is checked on its own."""

from . import logs

# (case, mode, baud); the port left dirty comes first.
CASES = [("dirty", "a", 38400)] + [(f"{mode}-{baud}", mode, baud)
                                  for baud in (38400, 115200) for mode in "acr"]
LEAST_LINES = 150
# What stty left on the port before the first case: software flow control,
# 7 bits with parity, canonical mode.
DIRTY_FLAGS = ["ixon", "ixoff", "cs7", "parenb", "icanon"]


def devices(boot):
    # Packets 4371 on hold 0x11 (XON) and 0x13 (XOFF) bytes in their counter.
    unit = boot.add_unit("uart", ["--start-seq", "4371"])
    return ["-chardev", f"serial,id=uart,path={unit.link}", "-serial", "chardev:uart"]


def answerer(boot, rates_seen):
    def answer(what, arguments, deadline):
        del deadline
        if what == "rate":
            rates_seen[arguments[0]] = boot.units["uart"].rate()
            return rates_seen[arguments[0]]
        raise RuntimeError(f"the guest asked for '{what}', which the UART cases never do")
    return answer


def check(boot, build_dir, rates_seen):
    """[(case, problems)]."""
    results = []
    for name, mode, baud in CASES:
        problems = []
        result = boot.result(name)
        if result is None:
            problems.append("the case left no result")
        elif result["status"] != 0:
            problems.append(f"exit status {result['status']}")
        if rates_seen.get(name) != baud:
            problems.append(f"the host's side of the line was at {rates_seen.get(name)} baud")
        log_problems, _, _ = logs.check_log(build_dir, boot.path(f"{name}.txt"), mode,
                                            LEAST_LINES, 0)
        problems += log_problems + logs.output_problems(boot.path(f"{name}.out"))
        if name == "dirty":
            try:
                with open(boot.path("dirty.stty"), encoding="ascii") as stty:
                    left = stty.read().split()
                problems += [f"stty did not leave {flag}" for flag in DIRTY_FLAGS
                             if flag not in left]
            except OSError as error:
                problems.append(str(error))
        results.append((f"uart {name} (-m {mode} -b {baud})", problems))
    return results
