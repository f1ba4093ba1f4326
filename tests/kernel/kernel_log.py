# SPDX-License-Identifier: MIT
"""Reading the guest's kernel log as /init prints it (`dmesg -r`)."""

import dataclasses
import re

LOG_BEGINS = "crtc-relay-init: kernel log begins"
LOG_ENDS = "crtc-relay-init: kernel log ends"
PROGRAM_STARTS = "crtc-relay-init: starting crtc-relay"

_RAW_LINE = re.compile(r"^<(\d+)>\[\s*(\d+\.\d+)\] (.*)$")
_SETCRTC = re.compile(r"\[drm:drm_mode_setcrtc \[drm\]\] \[CRTC:(\d+):crtc-(\d+)\]")
_ADDFB = re.compile(r"\[drm:drm_mode_addfb2 \[drm\]\] \[FB:(\d+)\]")
_RMFB = re.compile(r"Removing \[FB:(\d+)\] from all active usage due to RMFB ioctl")
# Debug category ATOMIC: a commit's state being made, a CRTC given a mode in
# it through its MODE_ID property (the kernel's own commits, such as the
# console taking the screen back, set modes with drm_atomic_set_mode_for_crtc
# instead), and the commit itself; a TEST_ONLY commit is checked but never
# committed. The guest prints state addresses as "(____ptrval____)" (its
# pointer hashing never gets its key), so one state is told from the next
# by the order of the lines: the program's commits come one at a time.
_ATOMIC_STATE_BEGINS = re.compile(r"\[drm:drm_atomic_state_init \[drm\]\] Allocated atomic state ")
_ATOMIC_MODE = re.compile(r"\[drm:drm_atomic_set_mode_prop_for_crtc \[drm\]\] "
                          r"Set \[MODE:[^\]]*\] for \[CRTC:(\d+):crtc-(\d+)\]")
_ATOMIC_COMMIT = re.compile(r"\[drm:drm_atomic_commit \[drm\]\] committing ")
_EXIT = re.compile(r"crtc-relay-init: crtc-relay exit status: \d+")

# printk levels
KERN_ERR = 3
KERN_WARNING = 4

# Signs of a kernel in trouble, wherever they appear.
_KERNEL_TROUBLE = ("Oops", "BUG:", "WARNING:", "Kernel panic", "Call Trace:",
                   "general protection fault", "divide error")


@dataclasses.dataclass(frozen=True)
class Record:
    level: int     # printk level, 0 (emergency) to 7 (debug)
    time: float    # seconds since boot, guest clock
    text: str


@dataclasses.dataclass(frozen=True)
class SetCrtc:
    time: float
    crtc_index: int   # N of the kernel's "crtc-N" name, i.e. its index on the device


def parse(console: list[str]) -> list[Record]:
    """The records between /init's markers; raises if the log is missing."""
    try:
        start = console.index(LOG_BEGINS) + 1
        end = console.index(LOG_ENDS, start)
    except ValueError:
        raise ValueError("the console holds no complete kernel log") from None
    records = []
    for line in console[start:end]:
        match = _RAW_LINE.match(line)
        if match:
            priority, time, text = match.groups()
            records.append(Record(int(priority) & 7, float(time), text))
        elif records:
            # A record with embedded newlines continues on the next line.
            last = records[-1]
            records[-1] = Record(last.level, last.time, last.text + "\n" + line)
    return records


def run_records(records: list[Record], run: int) -> list[Record]:
    """The records of the program's run number `run` (0 for the row's own,
    then the runs the boot goes on with): from /init starting it up to its
    exit status, or to the end of the log if it never ended."""
    starts = [index for index, record in enumerate(records) if PROGRAM_STARTS in record.text]
    if len(starts) <= run:
        raise ValueError(f"the kernel log does not show the program starting (run {run + 1})")
    during = records[starts[run]:]
    ends = next((index for index, record in enumerate(during) if _EXIT.search(record.text)), None)
    return during if ends is None else during[:ends + 1]


def program_records(records: list[Record]) -> list[Record]:
    """The records of the row's own run of the program."""
    return run_records(records, 0)


def trouble(records: list[Record]) -> list[Record]:
    """Oopses, warnings and bugs anywhere in the log."""
    return [r for r in records if any(sign in r.text for sign in _KERNEL_TROUBLE)]


def errors(records: list[Record]) -> list[Record]:
    """DRM errors and other error-level messages."""
    return [r for r in records
            if r.level <= KERN_ERR or "*ERROR*" in r.text
            or ("[drm:" in r.text and r.level <= KERN_WARNING)]


def setcrtc_calls(records: list[Record]) -> list[SetCrtc]:
    """Each SETCRTC request as the DRM core logs it (debug category KMS)."""
    calls = []
    for record in records:
        match = _SETCRTC.search(record.text)
        if match:
            calls.append(SetCrtc(record.time, int(match.group(2))))
    return calls


def atomic_commits(records: list[Record]) -> list[SetCrtc]:
    """Each atomic commit that gave a CRTC a mode through MODE_ID, at the
    time it was committed (debug category ATOMIC). TEST_ONLY commits are not
    counted; neither are commits that only switch CRTCs off, nor the
    kernel's own."""
    modes: list[int] = []
    commits = []
    for record in records:
        if _ATOMIC_STATE_BEGINS.search(record.text):
            modes = []
        elif match := _ATOMIC_MODE.search(record.text):
            modes.append(int(match.group(2)))
        elif _ATOMIC_COMMIT.search(record.text):
            commits.extend(SetCrtc(record.time, crtc) for crtc in modes)
            modes = []
    return commits


def framebuffers_added(records: list[Record]) -> list[int]:
    return [int(m.group(1)) for r in records if (m := _ADDFB.search(r.text))]


def framebuffers_removed_in_use(records: list[Record]) -> list[tuple[int, float]]:
    """Framebuffers that an RMFB request took off the screen, and when."""
    return [(int(m.group(1)), r.time) for r in records if (m := _RMFB.search(r.text))]



def timeline(records: list[Record]) -> list[tuple[float, str]]:
    """What the program did, as the kernel saw it, in seconds from its start:
    its framebuffer, each SETCRTC, the RMFB, its exit, and any error."""
    during = program_records(records)
    start = during[0].time
    events = []
    for record in during:
        if (_ADDFB.search(record.text) or _SETCRTC.search(record.text) or _RMFB.search(record.text)
                or _ATOMIC_COMMIT.search(record.text)
                or _EXIT.search(record.text) or record in errors([record])
                or record in trouble([record]) or record is during[0]):
            events.append((record.time - start, record.text))
    return events
