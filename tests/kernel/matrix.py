# SPDX-License-Identifier: MIT
"""The kernel test matrix: one row per run of the program, naming the
kernel series, the emulated display, the program's arguments and what the
program and the screen must do. CMake makes one test of each row
(`kernel.SERIES.DISPLAY[.NAME]`); tests/kernel/README.md explains the rows.

Adding a kernel, a display or a program mode is one more row here (and, for
a new kernel, its source in kernel_cache.KERNELS; for a new display, its
QEMU device in displays.py).
"""

import dataclasses
import enum
import re
import sys

import kernel_cache
from displays import DISPLAYS
from format_sweeps import SWEEPS, Sweep
from later_runs import Refusal
from picture import Shown


class Screen(enum.Enum):
    """What the emulated screen must show after a mode-setting request."""
    PICTURE = "the program's picture, every pixel exact"
    BLACK = "black, at the screen's size"
    NOT_PICTURE = "anything but the program's picture"
    # No emulated screen shows the driver's output (vkms): the program's
    # --verify=crc,writeback looks at the pixels instead.
    UNSEEN = "nothing: no emulated screen shows it"

    def accepts(self, shown: Shown) -> bool:
        if self is Screen.UNSEEN:
            return True
        if self is Screen.PICTURE:
            return shown == Shown.EXACT
        if self is Screen.BLACK:
            return shown == Shown.BLACK
        return shown != Shown.EXACT


PICTURE, BLACK, NOT_PICTURE, UNSEEN = (Screen.PICTURE, Screen.BLACK, Screen.NOT_PICTURE,
                                       Screen.UNSEEN)

# What the program prints when the kernel refuses a handover.
REFUSED_HANDOVER = "kms_screen_set() failed: -22"
# What it prints when the driver has no atomic mode setting.
NO_ATOMIC = "atomic mode setting not supported by this device"


@dataclasses.dataclass(frozen=True)
class Expect:
    """What one run must do, as the kernel log and the screen show it."""
    # CRTC index named by each SETCRTC request, in order.
    crtcs: tuple[int, ...]
    # What the screen shows after each request, until the next one.
    shows: tuple[Screen, ...]
    # The last request is refused (EINVAL) and ends the program.
    refused: bool = False
    # --handovers ends the program right after the last request: nothing to
    # see after it.
    ends_after_last: bool = False
    exit_status: int = 0
    # Lines the program prints after "Using screen NAME, resolution WxH":
    # a string is matched exactly, a compiled pattern in full.
    output: tuple[str | re.Pattern, ...] = ()
    # The output is the report of --report - instead (program_report.py
    # checks it, with a verdict on every request when --verify is given).
    report: bool = False
    # How the requests are made and read from the log: "legacy" SETCRTC
    # calls, or "atomic" commits (the TEST_ONLY checks are not requests).
    api: str = "legacy"
    # Framebuffers the program adds: none for a run refused before drawing,
    # else its picture, and with --verify=writeback the capture (which no
    # plane shows, so its RMFB is not logged as taking it off the screen).
    framebuffers: int | None = None
    # How much later than the period a request may follow the one
    # before: the mode set's own time, and the pixel checks after it.
    step_slack: float = 1.0

    @property
    def framebuffers_added(self) -> int:
        if self.framebuffers is not None:
            return self.framebuffers
        return 1 if self.crtcs else 0

    def __post_init__(self) -> None:
        if len(self.crtcs) != len(self.shows):
            raise ValueError(f"{len(self.crtcs)} requests but {len(self.shows)} screens")
        if self.api not in ("legacy", "atomic"):
            raise ValueError(f"unknown api {self.api!r}")
        if not self.crtcs and self.exit_status == 0:
            raise ValueError("a run without requests is a refusal: its exit status is not 0")
        if self.crtcs and PICTURE not in self.shows and set(self.shows) != {UNSEEN}:
            raise ValueError("a run must show the picture at least once")


# Over to CRTC 1 and back; the emulated screen shows only CRTC 0.
OVER_AND_BACK = Expect(crtcs=(0, 1, 0), shows=(PICTURE, BLACK, PICTURE))
# Linux 6.12's radeon: the first mode set on CRTC 0 has the console's mode,
# so the driver only moves the scan-out base, and the screen keeps showing
# the console. What the screen shows while CRTC 1 drives it varies from run
# to run (black at 1280x800, or 640x480); the full mode set back to CRTC 0
# shows the picture.
OVER_AND_BACK_FIRST_UNSEEN = Expect(crtcs=(0, 1, 0), shows=(NOT_PICTURE, NOT_PICTURE, PICTURE))
# One CRTC: the same request again after 5 s.
SAME_CRTC_AGAIN = Expect(crtcs=(0, 0), shows=(PICTURE, PICTURE))
# Each CRTC has an encoder of its own: CRTC 1 cannot take screen 0.
REFUSED_AT_CRTC_1 = Expect(crtcs=(0, 1), shows=(PICTURE, PICTURE), refused=True,
                           exit_status=1, output=(REFUSED_HANDOVER,))

# Rows that choose their options hand over every 2.5 s instead of the
# default 5 s: the same checks in half the time (the plain runs keep 5 s).
SHORT_PERIOD = ("--period", "2.5")
# --verify --handovers 2 --report -: two handovers, each read back and found
# in effect, then the program ends by itself.
VERIFY_ARGS = ("--verify", "--handovers", "2", *SHORT_PERIOD, "--report", "-")
VERIFIED_OVER_AND_BACK = dataclasses.replace(
    OVER_AND_BACK, ends_after_last=True, report=True)
# Linux 6.12's radeon shows the picture only from the return to CRTC 0 on,
# so its handover test goes one handover further to see it. Every request
# reads back as in effect, the unseen first one too: the kernel's state
# says CRTC 0 scans out our framebuffer.
VERIFY_ARGS_3 = ("--verify", "--handovers", "3", *SHORT_PERIOD, "--report", "-")
VERIFIED_OVER_AND_BACK_FIRST_UNSEEN = Expect(
    crtcs=(0, 1, 0, 1), shows=(NOT_PICTURE, NOT_PICTURE, PICTURE, NOT_PICTURE),
    ends_after_last=True, report=True)
VERIFIED_SAME_CRTC = Expect(crtcs=(0, 0, 0), shows=(PICTURE, PICTURE, PICTURE),
                            ends_after_last=True, report=True)
# --atomic --verify --handovers 2 on one CRTC: three commits, each shown,
# and the program ends by itself.
ATOMIC_SAME_CRTC_TWICE_MORE = Expect(crtcs=(0, 0, 0), shows=(PICTURE, PICTURE, PICTURE),
                                     ends_after_last=True, api="atomic")
ATOMIC_ARGS = ("--atomic", "--verify", "--handovers", "2", *SHORT_PERIOD)
# A driver without atomic mode setting: refused before any request.
ATOMIC_REFUSED = Expect(crtcs=(), shows=(), exit_status=1, output=(NO_ATOMIC,), api="atomic")

# vkms: four atomic commits on its one CRTC, each read back and its CRC
# entries checked. Under software emulation vkms composes far fewer than
# its 60 frames a second (its log says "vblank timer overrun"; about one
# a second on a loaded host), hence the longer wait for its entries.
PIXELS_ARGS = ("--atomic", "--verify=state,crc", "--verify-timeout", "15", "--handovers", "3",
               *SHORT_PERIOD, "--report", "-")
PIXELS_CHECKED = Expect(crtcs=(0, 0, 0, 0), shows=(UNSEEN,) * 4, ends_after_last=True,
                        report=True, api="atomic", step_slack=16.0)
# vkms of 6.1 and 6.12 leaves every encoder's possible_clones at the core's
# default (itself alone), so the atomic core's clone check
# (drm_atomic_check_valid_clones) refuses its writeback encoder beside the
# screen's on one CRTC: the handover with its capture fails TEST_ONLY.
WRITEBACK_BESIDE_SCREEN_REFUSED = Expect(
    crtcs=(), shows=(), exit_status=1, api="atomic", framebuffers=2,
    output=("kms_atomic_screen_set() TEST_ONLY failed: -22",))
# The other drivers offer neither check: refused before any request.
NO_CRC = Refusal(("--verify=crc",), 2, (re.compile(
    r"crtc-relay: --verify=crc: CRTC 0 has no CRC source \(no /sys/kernel/debug/dri/\d+/"
    r"crtc-0/crc/control\): the driver offers none"),))
NO_WRITEBACK = Refusal(("--verify=writeback",), 2, (
    "crtc-relay: --verify=writeback: the device has no writeback connector",))
WRITEBACK_WITHOUT_ATOMIC = Refusal(("--verify=writeback",), 2, (
    "crtc-relay: --verify=writeback needs atomic mode setting, which this device refuses: "
    "Operation not supported",))

# How a run ends: a key typed once the expected requests have happened, or
# (None) the program ends by itself.
ENDINGS = {"enter": b"\n", "ctrl-c": b"\x03"}


@dataclasses.dataclass(frozen=True)
class Case:
    kernel: str                       # series, a key of kernel_cache.KERNELS
    display: str                      # a key of displays.DISPLAYS
    expect: Expect
    args: tuple[str, ...] = ()        # program arguments before the device
    end_with: str | None = "enter"    # a key of ENDINGS, or None
    name: str = ""                    # tells apart rows of one kernel and display
    # Runs of the program in the same boot after the row's own, which must
    # end by itself: format sweeps and refusals (later_runs.py).
    then: tuple[Sweep | Refusal, ...] = ()

    @property
    def period(self) -> float:
        """Seconds between the program's mode sets (--period, else 5)."""
        for option, value in zip(self.args, self.args[1:]):
            if option in ("--period", "-p"):
                return float(value)
        return 5.0

    @property
    def one_crtc(self) -> bool:
        """Whether the run says its cycle has one CRTC (ONE_CRTC)."""
        return bool(self.args) and (DISPLAYS[self.display].crtcs == 1 or "--capable" in self.args)

    @property
    def test_name(self) -> str:
        return ".".join(part for part in (self.kernel, self.display, self.name) if part)


MATRIX: tuple[Case, ...] = (
    Case("6.1", "virtio_gpu", REFUSED_AT_CRTC_1, end_with=None),
    Case("6.1", "radeon", OVER_AND_BACK),
    Case("6.1", "bochs", SAME_CRTC_AGAIN),
    Case("6.1", "cirrus", SAME_CRTC_AGAIN),
    Case("6.1", "qxl", REFUSED_AT_CRTC_1, end_with=None),
    Case("6.1", "bochs", SAME_CRTC_AGAIN, end_with="ctrl-c", name="ctrl_c"),
    Case("6.12", "virtio_gpu", REFUSED_AT_CRTC_1, end_with=None),
    Case("6.12", "radeon", OVER_AND_BACK_FIRST_UNSEEN),
    Case("6.12", "bochs", SAME_CRTC_AGAIN),
    Case("6.12", "cirrus", SAME_CRTC_AGAIN),
    Case("6.12", "qxl", REFUSED_AT_CRTC_1, end_with=None),
    # The handover test as a CI would run it. virtio-gpu and qxl keep only
    # the CRTC their screen's encoder allows (--capable).
    Case("6.1", "virtio_gpu", VERIFIED_SAME_CRTC, args=(*VERIFY_ARGS, "--capable"),
         end_with=None, name="verify_capable"),
    Case("6.1", "radeon", VERIFIED_OVER_AND_BACK, args=VERIFY_ARGS, end_with=None, name="verify"),
    Case("6.1", "bochs", VERIFIED_SAME_CRTC, args=VERIFY_ARGS, end_with=None, name="verify"),
    Case("6.1", "cirrus", VERIFIED_SAME_CRTC, args=VERIFY_ARGS, end_with=None, name="verify"),
    Case("6.1", "qxl", VERIFIED_SAME_CRTC, args=(*VERIFY_ARGS, "--capable"),
         end_with=None, name="verify_capable"),
    Case("6.12", "virtio_gpu", VERIFIED_SAME_CRTC, args=(*VERIFY_ARGS, "--capable"),
         end_with=None, name="verify_capable"),
    Case("6.12", "radeon", VERIFIED_OVER_AND_BACK_FIRST_UNSEEN, args=VERIFY_ARGS_3,
         end_with=None, name="verify"),
    Case("6.12", "bochs", VERIFIED_SAME_CRTC, args=VERIFY_ARGS, end_with=None, name="verify"),
    Case("6.12", "cirrus", VERIFIED_SAME_CRTC, args=VERIFY_ARGS, end_with=None, name="verify"),
    Case("6.12", "qxl", VERIFIED_SAME_CRTC, args=(*VERIFY_ARGS, "--capable"),
         end_with=None, name="verify_capable"),
)
# Each handover one atomic commit, checked with TEST_ONLY first and read
# back; virtio_gpu and qxl keep the one CRTC that can drive screen 0.
MATRIX += tuple(
    Case(kernel, display, ATOMIC_SAME_CRTC_TWICE_MORE,
         args=ATOMIC_ARGS + (("--capable",) if display in ("virtio_gpu", "qxl") else ()),
         end_with=None, name="atomic")
    for kernel in ("6.1", "6.12") for display in ("virtio_gpu", "bochs", "cirrus", "qxl")
) + tuple(
    Case(kernel, "radeon", ATOMIC_REFUSED, args=("--atomic",), end_with=None, name="atomic")
    for kernel in ("6.1", "6.12")
)


# The pixel checks: proven on vkms on both kernels; refused on the other
# five drivers, CRC on 6.12 and writeback on 6.1 (the same on either, as
# their drivers have neither).
MATRIX += tuple(
    # Its boot goes on with format sweeps of its primary and cursor planes.
    Case(kernel, "vkms", PIXELS_CHECKED, args=PIXELS_ARGS, end_with=None, name="pixels",
         then=SWEEPS[kernel, "vkms"])
    for kernel in ("6.1", "6.12")
) + tuple(
    Case(kernel, "vkms", WRITEBACK_BESIDE_SCREEN_REFUSED,
         args=("--verify=writeback", "--handovers", "3"), end_with=None, name="writeback")
    for kernel in ("6.1", "6.12")
)

# The boot of each handover test goes on with the pixel checks the driver
# must refuse and the format sweeps of its planes (format_sweeps.py): more
# checks without more boots.
MATRIX = tuple(
    dataclasses.replace(case, then=(
        NO_CRC, WRITEBACK_WITHOUT_ATOMIC if case.display == "radeon" else NO_WRITEBACK,
        *SWEEPS[case.kernel, case.display]))
    if case.name.startswith("verify") else case
    for case in MATRIX
)


def validate(matrix: tuple[Case, ...]) -> dict[str, Case]:
    """The rows by test name; raises on a row that names something unknown."""
    cases: dict[str, Case] = {}
    for case in matrix:
        if case.kernel not in kernel_cache.KERNELS:
            raise ValueError(f"{case.test_name}: unknown kernel {case.kernel!r}")
        if case.display not in DISPLAYS:
            raise ValueError(f"{case.test_name}: unknown display {case.display!r}")
        if case.end_with is not None and case.end_with not in ENDINGS:
            raise ValueError(f"{case.test_name}: unknown ending {case.end_with!r}")
        if (case.expect.refused or case.expect.ends_after_last) and case.end_with is not None:
            raise ValueError(f"{case.test_name}: a refused request ends the program by itself")
        if case.then and (case.end_with is not None or case.expect.exit_status != 0):
            raise ValueError(f"{case.test_name}: later runs follow only a run that ends by "
                             "itself with status 0")
        if case.test_name in cases:
            raise ValueError(f"two rows are named {case.test_name}")
        cases[case.test_name] = case
    return cases


CASES = validate(MATRIX)


def main(argv: list[str]) -> int:
    """Prints "NAME SERIES" for each row, for CMake."""
    if argv[1:] != ["--list"]:
        print("usage: matrix.py --list", file=sys.stderr)
        return 2
    for case in MATRIX:
        print(case.test_name, case.kernel)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
