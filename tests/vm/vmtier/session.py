"""One boot: the emulated units on the host, the machine wired to them, the
guest's cases run to their end while the host answers what they ask. A guest
that hangs or a boot that runs past its time fails with the console shown;
nothing is left running."""

import os
import shutil
import subprocess
import termios
import time

from . import machine as vm

RATES = {getattr(termios, name): int(name[1:]) for name in dir(termios)
         if name.startswith("B") and name[1:].isdigit()}


class Unit:
    """The emulated unit on a pty, its tty at `link`."""

    def __init__(self, build_dir, link, options):
        emulator = os.path.join(build_dir, "emulator", "imutap-emu")
        self.link = link
        self.error_path = link + ".err"
        with open(self.error_path, "wb") as errors:
            self.process = subprocess.Popen([emulator, "-q", "-v", "-l", link] + options,
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                            stderr=errors, preexec_fn=vm.die_with_parent)
        deadline = time.monotonic() + 10
        while not os.path.islink(link):
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise RuntimeError(f"the emulated unit did not come up on {link}")
            time.sleep(0.02)

    def open_line(self):
        """A descriptor of the unit's tty, the side QEMU holds."""
        return os.open(self.link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)

    def rate(self):
        """The baud rate set on the host's side of the line."""
        line = self.open_line()
        try:
            return RATES.get(termios.tcgetattr(line)[5], 0)
        finally:
            os.close(line)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class Boot:
    def __init__(self, build_dir, source_dir, work, tier):
        self.build_dir = build_dir
        self.work = work
        shutil.rmtree(work, ignore_errors=True)
        self.share = os.path.join(work, "share")
        os.makedirs(self.share)
        guest = os.path.join(source_dir, "tests", "vm", "guest")
        for script in ("lib.sh", f"{tier}.sh"):
            shutil.copy(os.path.join(guest, script), self.share)
        with open(os.path.join(self.share, "cases.sh"), "w", encoding="ascii") as cases:
            cases.write(f". /host/lib.sh\n. /host/{tier}.sh\n")
        self.units = {}
        self.machine = None
        self.asked = []  # (number, what, arguments, answer)

    def add_unit(self, name, options):
        self.units[name] = Unit(self.build_dir, os.path.join(self.work, name), options)
        return self.units[name]

    def path(self, name):
        return os.path.join(self.share, name)

    def run(self, vmlinux, initramfs, devices, accel, answer, limit_s):
        """Boots and serves the guest's questions with answer(what, args)
        until the cases end. Returns (ended in order, why not, seconds)."""
        self.machine = vm.Machine(vmlinux, initramfs, self.share, self.work, devices, accel)
        deadline = time.monotonic() + limit_s
        why = None
        try:
            while True:
                event = self.machine.next_event(deadline)
                if event is None:
                    why = (f"no end within {limit_s} s" if self.machine.running()
                           else "QEMU ended before the cases did")
                    break
                if event.startswith("done"):
                    if event != "done 0":
                        why = f"the guest's cases ended with '{event}'"
                    break
                if event.startswith("ask "):
                    _, number, what, *arguments = event.split(" ")
                    reply = answer(what, arguments, deadline)
                    self.asked.append((number, what, arguments, reply))
                    with open(self.path(f"answer.{number}.new"), "w", encoding="ascii") as out:
                        out.write(f"{reply}\n")
                    os.rename(self.path(f"answer.{number}.new"), self.path(f"answer.{number}"))
        except Exception as error:  # a failure of the host's side ends the boot too
            why = f"{type(error).__name__}: {error}"
        finally:
            self.machine.stop(grace=5 if why is None else 0)
            for unit in self.units.values():
                unit.stop()
            with open(os.path.join(self.work, "console.txt"), "w", encoding="utf-8") as out:
                out.write(self.console_text() + "\n")
        return why is None, why, time.monotonic() - self.machine.started

    def console_text(self):
        return self.machine.console_text() if self.machine else ""

    def result(self, name):
        """{"status": S, "stop_cs": C} a case left, or None."""
        try:
            with open(self.path(f"{name}.result"), encoding="ascii") as result:
                words = result.read().split()
        except OSError:
            return None
        return {words[i]: int(words[i + 1]) for i in range(0, len(words) - 1, 2)}
