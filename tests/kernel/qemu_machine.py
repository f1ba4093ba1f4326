# SPDX-License-Identifier: MIT
"""One QEMU guest under software emulation: its serial console as timed
lines, keys typed on that console, and screendumps over QMP."""

import dataclasses
import json
import pathlib
import re
import shutil
import socket
import subprocess
import tempfile
import threading
import time

QEMU = "qemu-system-x86_64"
BASE_ARGS = (
    "-machine", "pc", "-accel", "tcg", "-m", "512M", "-smp", "1",
    "-display", "none", "-monitor", "none", "-no-reboot", "-nic", "none",
)
# Kernel messages up to "error" reach the console live (so a panic is seen
# even if /init never gets to print the log); the rest waits for dmesg.
# no_timer_check: under software emulation on a loaded host the kernel's
# check of the IO-APIC timer can miss its ticks and panic at boot ("IO-APIC
# + timer doesn't work!"); the emulated timer works.
KERNEL_ARGS = ("console=ttyS0,115200", "loglevel=4", "log_buf_len=1M", "panic=-1",
               "no_timer_check")


@dataclasses.dataclass(frozen=True)
class ConsoleLine:
    time: float   # host monotonic clock when the line was complete
    text: str


class QmpClient:
    """Just enough of the QEMU Machine Protocol for screendumps."""

    def __init__(self, path: pathlib.Path, timeout: float) -> None:
        deadline = time.monotonic() + timeout
        while True:
            try:
                self._sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                self._sock.connect(str(path))
                break
            except OSError:
                self._sock.close()
                if time.monotonic() > deadline:
                    raise TimeoutError(f"no QMP socket at {path}")
                time.sleep(0.05)
        self._sock.settimeout(timeout)
        self._reader = self._sock.makefile("rb")
        self._read_message()  # greeting
        self.execute("qmp_capabilities")

    def _read_message(self) -> dict:
        line = self._reader.readline()
        if not line:
            raise ConnectionError("QMP connection closed")
        return json.loads(line)

    def execute(self, command: str, **arguments) -> object:
        request = {"execute": command}
        if arguments:
            request["arguments"] = arguments
        self._sock.sendall(json.dumps(request).encode() + b"\n")
        while True:
            message = self._read_message()
            if "event" in message:
                continue
            if "error" in message:
                raise RuntimeError(f"QMP {command} failed: {message['error']}")
            return message.get("return")

    def close(self) -> None:
        self._reader.close()
        self._sock.close()


@dataclasses.dataclass(frozen=True)
class Picture:
    width: int
    height: int
    rgb: bytes    # 3 bytes per pixel, rows top to bottom


def parse_ppm(data: bytes) -> Picture:
    """A binary (P6) PPM with 8-bit samples, as QEMU's screendump writes it."""
    fields = []
    position = 0
    while len(fields) < 4:
        match = re.compile(rb"\s*(#[^\n]*\n\s*)*(\S+)").match(data, position)
        if not match:
            raise ValueError("truncated PPM header")
        fields.append(match.group(2))
        position = match.end()
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError(f"unsupported PPM header {fields!r}")
    width, height = int(fields[1]), int(fields[2])
    pixels = data[position + 1:]  # one whitespace byte ends the header
    if len(pixels) != width * height * 3:
        raise ValueError(f"PPM of {width}x{height} holds {len(pixels)} bytes")
    return Picture(width, height, pixels)


def command_line(kernel: pathlib.Path, initrd: pathlib.Path, device_args: list[str],
                 kernel_args: list[str]) -> list[str]:
    """QEMU's command line up to where the console goes."""
    return [QEMU, *BASE_ARGS, "-kernel", str(kernel), "-initrd", str(initrd),
            "-append", " ".join((*KERNEL_ARGS, *kernel_args)), *device_args]


class Machine:
    """A running guest. Use as a context manager: leaving it kills QEMU."""

    def __init__(self, kernel: pathlib.Path, initrd: pathlib.Path, device_args: list[str],
                 kernel_args: list[str], log_path: pathlib.Path | None = None) -> None:
        if shutil.which(QEMU) is None:
            raise RuntimeError(f"{QEMU} is not installed; run scripts/setup.sh")
        # A short private path: unix socket names are limited to 108 bytes.
        self._tmp = tempfile.TemporaryDirectory(prefix="crtc-relay-qmp-")
        qmp_path = pathlib.Path(self._tmp.name) / "qmp"
        argv = [*command_line(kernel, initrd, device_args, kernel_args),
                "-serial", "stdio", "-qmp", f"unix:{qmp_path},server=on,wait=off"]
        self.started = time.monotonic()
        self._process = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                         stderr=subprocess.STDOUT)
        self._lines: list[ConsoleLine] = []
        self._changed = threading.Condition()
        self._log = open(log_path, "w") if log_path else None
        self._reader = threading.Thread(target=self._read_console, daemon=True)
        self._reader.start()
        self._qmp: QmpClient | None = None
        try:
            self._qmp = QmpClient(qmp_path, timeout=30)
        except Exception:
            self.close()
            raise

    def __enter__(self) -> "Machine":
        return self

    def __exit__(self, *_exc) -> None:
        self.close()

    def _read_console(self) -> None:
        pending = b""
        for chunk in iter(lambda: self._process.stdout.read1(4096), b""):
            pending += chunk
            *complete, pending = pending.split(b"\n")
            now = time.monotonic()
            with self._changed:
                for raw in complete:
                    text = raw.decode("utf-8", "replace").rstrip("\r")
                    self._lines.append(ConsoleLine(now, text))
                    if self._log:
                        self._log.write(f"[{now - self.started:8.3f}] {text}\n")
                        self._log.flush()
                self._changed.notify_all()
        with self._changed:
            if pending:
                self._lines.append(ConsoleLine(time.monotonic(), pending.decode("utf-8", "replace")))
            self._changed.notify_all()

    @property
    def lines(self) -> list[ConsoleLine]:
        with self._changed:
            return list(self._lines)

    def wait_for_line(self, pattern: str, timeout: float, start: int = 0) -> tuple[int, ConsoleLine]:
        """The first console line from index `start` on that matches `pattern`."""
        regex = re.compile(pattern)
        deadline = time.monotonic() + timeout
        with self._changed:
            index = start
            while True:
                while index < len(self._lines):
                    if regex.search(self._lines[index].text):
                        return index, self._lines[index]
                    index += 1
                remaining = deadline - time.monotonic()
                if remaining <= 0 or not self._reader.is_alive():
                    raise TimeoutError(f"no console line matching {pattern!r} within {timeout:.0f} s")
                self._changed.wait(remaining)

    def type_keys(self, keys: bytes) -> None:
        """Type on the serial console, as a user at the terminal would."""
        self._process.stdin.write(keys)
        self._process.stdin.flush()

    def screendump(self, path: pathlib.Path, **arguments) -> Picture:
        assert self._qmp is not None
        self._qmp.execute("screendump", filename=str(path), **arguments)
        return parse_ppm(path.read_bytes())

    def running(self) -> bool:
        return self._process.poll() is None

    def wait_for_exit(self, timeout: float) -> int:
        returncode = self._process.wait(timeout)
        self._reader.join(5)
        return returncode

    def close(self) -> None:
        if self._process.poll() is None:
            self._process.kill()
            self._process.wait()
        if self._qmp:
            self._qmp.close()
        self._reader.join(5)
        if self._log:
            self._log.close()
        self._tmp.cleanup()

