"""The virtual machine: QEMU started with the kernel, the initramfs and the
host's share; its console read line by line; its monitor (QMP) for plugging
devices in and out. Every wait has a deadline, and QEMU dies with the test."""

import ctypes
import json
import os
import queue
import signal
import socket
import subprocess
import threading
import time

PR_SET_PDEATHSIG = 1
EVENT_PREFIX = "imutap-vm: "


def die_with_parent():
    """In the child before exec: killed when the test process ends, however."""
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def kvm_usable():
    return os.access("/dev/kvm", os.R_OK | os.W_OK)


class Machine:
    def __init__(self, vmlinux, initramfs, share, work, devices, accel):
        self.qmp_path = os.path.join(work, "qmp.sock")
        self.console = []  # (seconds since the start, line) of every console line so far
        self.events = queue.Queue()  # lines for the host: text after the prefix
        args = ["qemu-system-x86_64", "-nodefaults", "-no-user-config", "-no-reboot",
                "-accel", accel, "-cpu", "max" if accel == "tcg" else "host",
                "-m", "256", "-smp", "1", "-display", "none", "-monitor", "none",
                "-kernel", vmlinux, "-initrd", initramfs,
                "-append", "console=ttyS0 loglevel=4 panic=-1 rdinit=/init",
                "-chardev", "stdio,id=console,signal=off", "-serial", "chardev:console",
                "-virtfs", f"local,path={share},mount_tag=host,security_model=none,id=host",
                "-qmp", f"unix:{self.qmp_path},server=on,wait=off"] + devices
        self.started = time.monotonic()
        self.process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, preexec_fn=die_with_parent)
        self.reader = threading.Thread(target=self._read_console, daemon=True)
        self.reader.start()
        self.qmp = None
        self.qmp_events = []
        self.qmp_buffer = b""

    def _read_console(self):
        for raw in self.process.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            self.console.append((time.monotonic() - self.started, line))
            at = line.find(EVENT_PREFIX)
            if at >= 0:
                self.events.put(line[at + len(EVENT_PREFIX):])
        self.events.put(None)  # QEMU has ended

    def next_event(self, deadline):
        """The next line for the host; None when QEMU ended or the deadline
        passed."""
        try:
            return self.events.get(timeout=max(0.0, deadline - time.monotonic()))
        except queue.Empty:
            return None

    def running(self):
        return self.process.poll() is None

    def stop(self, grace=5.0):
        """Waits up to `grace` seconds for QEMU to end by itself, then kills it."""
        try:
            self.process.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.reader.join(timeout=5)
        if self.qmp:
            self.qmp.close()

    def console_text(self):
        """The console's lines, each after the seconds since QEMU started."""
        return "\n".join(f"{seconds:6.2f}  {line}" for seconds, line in self.console)

    # QMP: one JSON object a line; events may come between a command and its
    # answer.
    def _qmp_read(self, deadline):
        while b"\n" not in self.qmp_buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise TimeoutError("QEMU's monitor did not answer in time")
            self.qmp.settimeout(left)
            chunk = self.qmp.recv(65536)
            if not chunk:
                raise ConnectionError("QEMU's monitor closed")
            self.qmp_buffer += chunk
        line, self.qmp_buffer = self.qmp_buffer.split(b"\n", 1)
        return json.loads(line)

    def _qmp_connect(self, deadline):
        while True:
            try:
                self.qmp = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                self.qmp.connect(self.qmp_path)
                break
            except OSError:
                self.qmp.close()
                if time.monotonic() > deadline or not self.running():
                    raise
                time.sleep(0.05)
        self._qmp_read(deadline)  # the greeting
        self.qmp_command("qmp_capabilities", None, deadline)

    def qmp_command(self, command, arguments, deadline):
        if self.qmp is None:
            self._qmp_connect(deadline)
        message = {"execute": command}
        if arguments is not None:
            message["arguments"] = arguments
        self.qmp.sendall(json.dumps(message).encode() + b"\n")
        while True:
            reply = self._qmp_read(deadline)
            if "event" in reply:
                self.qmp_events.append(reply)
            elif "error" in reply:
                raise RuntimeError(f"{command}: {reply['error'].get('desc')}")
            else:
                return reply.get("return")

    def qmp_wait_event(self, name, device, deadline):
        """Waits for the event about this device (its id)."""
        while True:
            for event in self.qmp_events:
                if event["event"] == name and event.get("data", {}).get("device") == device:
                    self.qmp_events.remove(event)
                    return event
            self.qmp_events.append(self._qmp_read(deadline))


def kvm_works(vmlinux, initramfs, work):
    """A probe boot under KVM: true when the guest's /init runs and says so."""
    if not kvm_usable():
        return False
    share = os.path.join(work, "probe-share")
    os.makedirs(share, exist_ok=True)
    with open(os.path.join(share, "cases.sh"), "w", encoding="ascii") as cases:
        cases.write("exit 0\n")
    machine = Machine(vmlinux, initramfs, share, work, [], "kvm")
    deadline = time.monotonic() + 30
    works = False
    while True:
        event = machine.next_event(deadline)
        if event is None:
            break
        if event.startswith("done"):
            works = event == "done 0"
            break
    machine.stop(grace=2)
    return works
