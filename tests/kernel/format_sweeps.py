# SPDX-License-Identifier: MIT
"""What each emulated driver shows of every format its planes list: the
program's `--formats all --verify` sweep of the primary plane and of the
cursor plane, per kernel and display, with each format's expected result.

A sweep runs in the boot of a matrix row, after the row's own run
(matrix.py); later_runs.py watches the screen while it runs and checks it.
`format_sweeps.py --table` prints the README's table of these results.
"""

import dataclasses
import enum
import sys

# Each format is shown this long (--period): long enough for two
# screendumps well clear of the mode sets on either side.
PERIOD = 2.0


class Showing(enum.Enum):
    """What the emulated screen shows while a format is up."""
    EXACT = "shown exactly"
    # The screen shows its own picture without the plane: QEMU draws the
    # cursor in its user interface, not into the screen it dumps.
    WITHOUT_PLANE = "shown without the plane"
    NOT_SHOWN = "not shown"
    # No emulated screen (vkms): the program's pixel checks judge it.
    UNSEEN = "checked by the program only"
    REFUSED = "refused"
    SKIPPED = "skipped"


@dataclasses.dataclass(frozen=True)
class Format:
    name: str            # the generator's name, as the plane lists it
    showing: Showing = Showing.EXACT
    why: str = ""        # what differs and why: anything but EXACT
    errno: int = 0       # REFUSED: what the kernel answered

    def __post_init__(self) -> None:
        if (self.showing is Showing.EXACT) != (not self.why):
            raise ValueError(f"{self.name}: a format shown otherwise than exactly says why, "
                             "an exact one does not")
        if (self.showing is Showing.REFUSED) != (self.errno != 0):
            raise ValueError(f"{self.name}: a refusal names its errno, nothing else does")

    @property
    def result(self) -> str:
        """The README's words for it."""
        if self.showing is Showing.EXACT:
            return self.showing.value
        if self.showing is Showing.REFUSED:
            return f"refused ({-self.errno}): {self.why}"
        return f"{self.showing.value}: {self.why}"


@dataclasses.dataclass(frozen=True)
class Sweep:
    plane: str                       # "primary" or "cursor", as --plane takes it
    formats: tuple[Format, ...]      # every format the plane lists, in its order
    # The plane's picture size: a cursor's is the largest the driver
    # reports; a primary plane's is the mode's (None).
    size: tuple[int, int] | None = None
    verify: str = "state"            # what --verify checks
    options: tuple[str, ...] = ()    # more of the program's options
    period: float = PERIOD           # how long each format is up

    @property
    def label(self) -> str:
        """The plane, and the checks where they are not the state's."""
        return self.plane if self.verify == "state" else f"{self.plane}, --verify={self.verify}"

    @property
    def step_limit(self) -> float:
        """The longest one format may take: its period, the mode set, and
        the pixel checks' wait (--verify-timeout) under emulation."""
        waits = "crc" in self.verify or "writeback" in self.verify
        return self.period + 2 + (15 if waits else 0)

    @property
    def args(self) -> tuple[str, ...]:
        plane = () if self.plane == "primary" else ("--plane", self.plane)
        return ("--formats", "all", f"--verify={self.verify}", "--period", f"{self.period:g}",
                *plane, *self.options, "--report", "-")

    @property
    def exit_status(self) -> int:
        return 1 if any(f.showing is Showing.REFUSED for f in self.formats) else 0

    def events(self) -> list[Format]:
        """The formats in the order of the report's format events: those
        the generator cannot draw first."""
        return ([f for f in self.formats if f.showing is Showing.SKIPPED]
                + [f for f in self.formats if f.showing is not Showing.SKIPPED])


# QEMU's virtio-gpu and qxl pass the cursor to the user interface, which
# draws it over the screen; a screendump holds the screen alone.
CURSOR_NOT_DUMPED = ("QEMU hands the cursor to its user interface and leaves it out of "
                     "the screendump")
CURSOR = Sweep("cursor", (Format("AR24", Showing.WITHOUT_PLANE, CURSOR_NOT_DUMPED),),
               size=(64, 64))

# Linux 6.12's radeon: the sweep's first mode set has the mode the console
# left on CRTC 0, so the driver only moves the scan-out base (no full mode
# set), and the emulated screen stays black; from the second format on the
# picture shows. (XR24 and AR24 give the same RGB picture, so whether the
# screen follows each base move late by one cannot be told from them.)
RADEON_FIRST_BASE_MOVE = ("the screen stays black: the mode is the console's, so radeon only "
                          "moves the scan-out base, which the emulated screen does not show")

SWEEPS: dict[tuple[str, str], tuple[Sweep, ...]] = {}
for _kernel in ("6.1", "6.12"):
    SWEEPS[_kernel, "virtio_gpu"] = (Sweep("primary", (Format("XR24"),)), CURSOR)
    SWEEPS[_kernel, "qxl"] = (Sweep("primary", (Format("XR24"), Format("AR24"))), CURSOR)
    SWEEPS[_kernel, "bochs"] = (Sweep("primary", (Format("XR24"), Format("BX24"))),)
    SWEEPS[_kernel, "cirrus"] = (
        Sweep("primary", (Format("RG16"), Format("RG24"), Format("XR24"))),)
SWEEPS["6.1", "radeon"] = (Sweep("primary", (Format("XR24"), Format("AR24"))),)
SWEEPS["6.12", "radeon"] = (Sweep("primary", (
    Format("XR24", Showing.NOT_SHOWN, RADEON_FIRST_BASE_MOVE), Format("AR24"))),)


# vkms has no emulated screen: its sweeps check every format with the
# program's own CRC and writeback checks. Its encoders cannot be clones
# (possible_clones is each one alone), so the atomic core's clone check
# refuses the writeback connector beside the screen's on the one CRTC:
# every format the generator draws is refused at the TEST_ONLY check.
# Under emulation vkms composes about one frame a second, hence the long
# wait for CRC entries.
CLONE_CHECK = "the atomic core's clone check refuses the writeback connector beside the screen's"
NOT_DRAWN = "not drawn by the generator"


def _vkms(plane: str, names: str, verify: str = "crc,writeback") -> Sweep:
    drawn = (Format(name, Showing.UNSEEN, CRC_PER_FORMAT) if verify == "crc"
             else Format(name, Showing.REFUSED, CLONE_CHECK, errno=22) for name in names.split())
    formats = tuple(Format(name, Showing.SKIPPED, NOT_DRAWN) if name.endswith("48") else fmt
                    for name, fmt in zip(names.split(), drawn))
    return Sweep(plane, formats, verify=verify, options=("--verify-timeout", "15"),
                 period=1.0)


# Without the writeback check each format passes: the CRC of the frame vkms
# composes arrives, stays the same over 3 frames, and is that format's own
# picture's (RG16's colours differ from the 8-bit formats').
CRC_PER_FORMAT = "vkms's CRC of the composed frame, 3 equal entries of advancing frames"

for _kernel, _primary in (("6.1", "XR24 XR48 RG16"), ("6.12", "AR24 XR24 XR48 AR48 RG16")):
    SWEEPS[_kernel, "vkms"] = (_vkms("primary", _primary, verify="crc"),
                               _vkms("primary", _primary),
                               _vkms("cursor", "AR24 XR24 XR48 AR48 RG16"))


def table(sweeps: dict[tuple[str, str], tuple[Sweep, ...]] = SWEEPS) -> str:
    """The README's table: display, plane and format down, kernels across."""
    kernels = sorted({kernel for kernel, _ in sweeps}, key=lambda k: tuple(map(int, k.split("."))))
    # Per display and plane, the formats of every kernel merged in the
    # planes' order: one a kernel lacks goes after the one before it.
    orders: dict[tuple[str, str], list[str]] = {}
    results: dict[tuple[str, str, str], dict[str, str]] = {}
    for (kernel, display), planes in sweeps.items():
        for sweep in planes:
            order = orders.setdefault((display, sweep.label), [])
            place = 0
            for fmt in sweep.formats:
                if fmt.name not in order:
                    order.insert(place, fmt.name)
                place = order.index(fmt.name) + 1
                results.setdefault((display, sweep.label, fmt.name), {})[kernel] = fmt.result
    lines = ["| display | plane (checks) | format | " + " | ".join(f"Linux {k}" for k in kernels) + " |",
             "|---|---|---|" + "---|" * len(kernels)]
    for (display, plane), order in orders.items():
        for name in order:
            cells = [results[display, plane, name].get(kernel, "not listed") for kernel in kernels]
            lines.append(f"| `{display}` | {plane} | {name} | " + " | ".join(cells) + " |")
    return "\n".join(lines) + "\n"


def main(argv: list[str]) -> int:
    if argv[1:] != ["--table"]:
        print("usage: format_sweeps.py --table", file=sys.stderr)
        return 2
    sys.stdout.write(table())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
