# SPDX-License-Identifier: MIT
"""Run crtc-relay on a real Linux DRM driver inside QEMU and check what it does.

One run is one row of matrix.py: a kernel series, an emulated display, the
program's arguments and what it must do. The guest boots Debian's kernel
with an initramfs holding the program (see make_initramfs.py). The
program's standard input, output and error are the emulated serial
console, so this script reads its messages as a user at the terminal
would, and ends it by typing a key when the row says so. While it runs,
the emulated screen is read back over QMP and compared pixel by pixel
with the picture the testpattern tool draws for the same size. After the
guest powers off, its kernel log tells which CRTC each SETCRTC request
named and when, so every screendump can be matched to the CRTC that was
driving the screen at that moment.
"""

import argparse
import dataclasses
import json
import pathlib
import re
import subprocess
import sys
import time

import kernel_cache
import kernel_log
import later_runs
import make_initramfs
import picture
import program_report
import radeon_rom
import row_report
import vkms_build
from displays import DISPLAYS, Display
from format_sweeps import Sweep
from matrix import CASES, ENDINGS, PICTURE, Case, Expect
from picture import Shown
from qemu_machine import ConsoleLine, Machine, Picture

HANDOVER_PERIOD = 5.0
# A SETCRTC follows the previous one after the 5 s wait plus however long
# the previous mode set took under emulation.
HANDOVER_SLACK = 1.0
# Screendumps this close to a SETCRTC may show the change half done.
SETTLE = 0.6
BOOT_TIMEOUT = 120.0
FIRST_PICTURE_TIMEOUT = 20.0
SCREENDUMP_INTERVAL = 0.25
# How long a program that ends by itself may take beyond its requests.
SELF_END_SLACK = 10.0

_SCREEN_LINE = re.compile(r"^Using screen (\S+), resolution (\d+)x(\d+)$")
_EXIT_LINE = re.compile(r"crtc-relay-init: crtc-relay exit status: (\d+)$")
_LISTING_BEGINS = "crtc-relay-init: listing the device"
_LISTING_ENDS = re.compile(r"^crtc-relay-init: listing ends with status (\d+)$")
_JSON_LISTING_BEGINS = "crtc-relay-init: listing as JSON"
_JSON_LISTING_ENDS = re.compile(r"^crtc-relay-init: JSON listing ends with status (\d+)$")
_SYSFS_CONNECTORS = re.compile(r"^crtc-relay-init: connectors in sysfs: (.*)$")


class TestFailure(Exception):
    pass


def check(condition: bool, message: str) -> None:
    if not condition:
        raise TestFailure(message)


@dataclasses.dataclass
class Screendump:
    time: float       # host clock, middle of the request
    shown: Shown
    detail: str
    image: int = 0    # index into Run.images: the same picture shares one entry
    step: int | None = None   # the request whose result it shows, once judged


def reference_picture(testpattern: pathlib.Path, width: int, height: int,
                      work: pathlib.Path) -> Picture:
    raw_path = work / f"smpte-{width}x{height}.xr24"
    result = subprocess.run(
        [str(testpattern), "--pattern", "smpte", "--format", "XR24",
         "--size", f"{width}x{height}", "--output", str(raw_path)],
        capture_output=True, text=True)
    check(result.returncode == 0, f"testpattern failed: {result.stderr.strip()}")
    return Picture(width, height, picture.xr24_to_rgb(raw_path.read_bytes(), width, height))


class Run:
    def __init__(self, machine: Machine, display: Display, expected: Picture,
                 work: pathlib.Path) -> None:
        self.machine = machine
        self.display = display
        self.expected = expected
        self.work = work
        self.dumps: list[Screendump] = []
        self.images: list[Picture] = []   # each different screen content, in order
        self.start_index = 0
        self.start_line: ConsoleLine | None = None

    def wait_for_program(self) -> None:
        try:
            self.start_index, self.start_line = self.machine.wait_for_line(
                r"^crtc-relay-init: (starting crtc-relay|no |insmod )", BOOT_TIMEOUT)
        except TimeoutError as error:
            raise TestFailure(f"the guest did not get to the program: {error}") from None
        check(kernel_log.PROGRAM_STARTS in self.start_line.text,
              f"the guest could not start the program: {self.start_line.text}")

    def check_screen_line(self) -> None:
        _, line = self.machine.wait_for_line(
            r"^(Using screen|.*failed|.*ERROR)", 30, self.start_index)
        match = _SCREEN_LINE.match(line.text)
        check(match is not None, f"the program did not report its screen: {line.text!r}")
        name, width, height = match.group(1), int(match.group(2)), int(match.group(3))
        wanted = (self.display.screen, self.display.width, self.display.height)
        check((name, width, height) == wanted,
              f"program uses screen {name} {width}x{height}, expected "
              f"{wanted[0]} {wanted[1]}x{wanted[2]}")

    def screendump(self) -> Screendump:
        path = self.work / "screen.ppm"
        before = time.monotonic()
        shown_picture = self.machine.screendump(path, **self.display.screendump)
        moment = (before + time.monotonic()) / 2
        shown = picture.classify(shown_picture, self.expected)
        detail = "" if shown != Shown.OTHER else picture.differences(shown_picture, self.expected)
        if not self.images or self.images[-1] != shown_picture:
            self.images.append(shown_picture)
        dump = Screendump(moment, shown, detail, image=len(self.images) - 1)
        if shown == Shown.OTHER and not any(d.shown == Shown.OTHER for d in self.dumps):
            path.rename(self.work / "first-mismatch.ppm")  # kept for a look
        self.dumps.append(dump)
        return dump

    def watch(self, expect: Expect, ends_by_itself: bool,
              period: float = HANDOVER_PERIOD) -> None:
        """Read the screen back until the expected requests have happened.

        The clock starts when the picture first appears, after the first
        request that shows it; the other requests follow every period."""
        if not expect.crtcs or not self.display.emulated_screen:
            # Refused before any request, or no screen to look at: wait
            # for the program to end by itself.
            limit = SELF_END_SLACK + FIRST_PICTURE_TIMEOUT + len(expect.crtcs) * (
                period + expect.step_slack)
            deadline = time.monotonic() + limit
            while not self.exited():
                check(time.monotonic() < deadline, "the program did not end by itself in time")
                time.sleep(SCREENDUMP_INTERVAL)
            return
        first = expect.shows.index(PICTURE)
        timeout = FIRST_PICTURE_TIMEOUT + first * (period + HANDOVER_SLACK)
        deadline = time.monotonic() + timeout
        while self.screendump().shown != Shown.EXACT:
            check(time.monotonic() < deadline,
                  f"the picture did not appear within {timeout:.0f} s: "
                  f"{self.dumps[-1].shown.value} {self.dumps[-1].detail}")
            check(self.machine.running(), "the guest stopped before the picture appeared")
            time.sleep(SCREENDUMP_INTERVAL)
        picture_seen = self.dumps[-1].time
        later = len(expect.crtcs) - 1 - first
        if ends_by_itself:
            stop = lambda: self.exited()
            limit = picture_seen + later * (period + HANDOVER_SLACK) + SELF_END_SLACK
        else:
            # Stop half way to the next handover so the sequence is exact.
            end = picture_seen + later * period + period / 2
            stop = lambda: time.monotonic() >= end
            limit = end + 5
        while not stop():
            check(time.monotonic() < limit, "the program did not do what was expected in time")
            check(self.machine.running(), "the guest stopped while the program should run")
            self.screendump()
            time.sleep(SCREENDUMP_INTERVAL)

    def exited(self) -> bool:
        return any(_EXIT_LINE.search(line.text) for line in self.machine.lines[self.start_index:])

    def program_output(self) -> list[str]:
        lines = [line.text for line in self.machine.lines[self.start_index + 1:]]
        for index, line in enumerate(lines):
            if _EXIT_LINE.search(line):
                return lines[:index]
        raise TestFailure("the guest did not report the program's exit status")

    def exit_status(self) -> int:
        for line in self.machine.lines[self.start_index:]:
            match = _EXIT_LINE.search(line.text)
            if match:
                return int(match.group(1))
        raise TestFailure("the guest did not report the program's exit status")


def check_kernel_log(run: Run, expect: Expect, records: list[kernel_log.Record],
                     period: float = HANDOVER_PERIOD) -> list[str]:
    """Checks on the kernel's side; returns notes for the report."""
    notes = []
    trouble = kernel_log.trouble(records)
    check(not trouble, "kernel trouble:\n" + "\n".join(r.text for r in trouble))
    during = kernel_log.program_records(records)
    before = records[:next(i for i, record in enumerate(records) if record is during[0])]
    for record in kernel_log.errors(before):
        notes.append(f"before the program (not its doing): {record.text}")
    program_errors = kernel_log.errors(during)
    check(not program_errors,
          "kernel errors while the program ran:\n" + "\n".join(r.text for r in program_errors))

    setcrtcs = kernel_log.setcrtc_calls(during)
    if expect.api == "atomic":
        check(not setcrtcs, f"SETCRTC requests in an atomic run: {len(setcrtcs)}")
        calls = kernel_log.atomic_commits(during)
    else:
        calls = setcrtcs
    request = "SETCRTC" if expect.api == "legacy" else "atomic commits"
    check(tuple(c.crtc_index for c in calls) == expect.crtcs,
          f"{request} named CRTCs {[c.crtc_index for c in calls]}, expected {list(expect.crtcs)}")
    steps = [later.time - earlier.time for earlier, later in zip(calls, calls[1:])]
    for step in steps:
        check(period - 0.05 <= step <= period + expect.step_slack,
              f"handovers {', '.join(f'{s:.2f}' for s in steps)} s apart, "
              f"expected about {period:g} s")
    notes.append(f"{request}: " + ", ".join(f"crtc-{c.crtc_index} at {c.time:.2f} s"
                                            for c in calls))

    added = kernel_log.framebuffers_added(during)
    removed = kernel_log.framebuffers_removed_in_use(during)
    check(len(added) == expect.framebuffers_added,
          f"expected {expect.framebuffers_added} framebuffer(s), the kernel added {added}")
    if not expect.crtcs:  # refused before any request: nothing was shown
        return notes
    taken_down = [fb for fb, _ in removed]
    check(taken_down == added if expect.framebuffers_added == 1
          else bool(taken_down) and set(taken_down) <= set(added),
          f"framebuffer {added} was not taken down by the program "
          f"(removed by RMFB: {taken_down})")
    if run.display.emulated_screen:
        check_screendumps(run, expect, records, calls, teardown=removed[0][1])
    return notes


def check_screendumps(run: Run, expect: Expect, records: list[kernel_log.Record],
                      calls: list[kernel_log.SetCrtc], teardown: float) -> None:
    """Each screendump against what the request before it should show."""
    marker = next(r for r in records if kernel_log.PROGRAM_STARTS in r.text)
    assert run.start_line is not None
    offset = run.start_line.time - marker.time  # host clock minus guest clock
    counted = [0] * len(calls)
    for dump in run.dumps:
        if any(abs(dump.time - (call.time + offset)) < SETTLE for call in calls):
            continue
        if dump.time > teardown + offset - SETTLE:
            continue  # the program is taking its framebuffer down
        step = sum(1 for call in calls if call.time + offset <= dump.time) - 1
        if step < 0:
            continue  # before the first mode set
        dump.step = step
        wanted = expect.shows[step]
        check(wanted.accepts(dump.shown),
              f"{dump.time - run.machine.started:.2f} s after boot, after request {step + 1} "
              f"(CRTC {calls[step].crtc_index}), the screen showed {dump.shown.value} "
              f"instead of {wanted.value} {dump.detail}")
        counted[step] += 1
    # A refused request ends the program at once, and so does the last of
    # --handovers: nothing to see after it.
    seen = len(calls) - 1 if expect.refused or expect.ends_after_last else len(calls)
    for step in range(seen):
        check(counted[step] > 0, f"no screendump was taken after request {step + 1} "
              f"(CRTC {calls[step].crtc_index})")


def check_listing(run: Run) -> list[str]:
    """`crtc-relay --list`, run by /init before the program: status 0, the
    four sections, and screen 0 connected with its first mode. Returns the
    CRTC and encoder lines for the notes."""
    lines = [line.text for line in run.machine.lines[:run.start_index]]
    check(_LISTING_BEGINS in lines, "the guest did not list the device")
    listing = lines[lines.index(_LISTING_BEGINS) + 1:]
    ends = next((i for i, line in enumerate(listing) if _LISTING_ENDS.match(line)), None)
    check(ends is not None, "the listing did not end")
    status = int(_LISTING_ENDS.match(listing[ends]).group(1))
    listing = listing[:ends]
    check(status == 0, f"crtc-relay --list exited with status {status}:\n" + "\n".join(listing))
    headings = [line for line in listing if not line.startswith(" ")]
    check(headings == ["screens:", "crtcs:", "encoders:", "planes:"],
          f"listing sections {headings}")
    display = run.display
    screen = re.compile(rf"  0 {re.escape(display.screen)} \(\S+\): id \d+, connected, "
                        rf"modes {display.width}x{display.height}@\d+( .*)?")
    check(screen.fullmatch(listing[1]) is not None,
          f"listing shows screen 0 as {listing[1]!r}, expected {display.screen} connected at "
          f"{display.width}x{display.height} first")
    crtcs = listing.index("crtcs:")
    return [f"listed: {line.strip()}" for line in listing[crtcs + 1:listing.index("planes:")]
            if line != "encoders:"]


def check_json_listing(run: Run) -> list[str]:
    """`crtc-relay --list --json`, run by /init after --list: status 0, one
    JSON document whose screen 0 is the display's, connected, with its
    first mode, and whose kernel names are the connectors sysfs shows
    (card0-HDMI-A-1). Returns a note of the names."""
    lines = [line.text for line in run.machine.lines[:run.start_index]]
    check(_JSON_LISTING_BEGINS in lines, "the guest did not list the device as JSON")
    listing = lines[lines.index(_JSON_LISTING_BEGINS) + 1:]
    ends = next((i for i, line in enumerate(listing) if _JSON_LISTING_ENDS.match(line)), None)
    check(ends is not None, "the JSON listing did not end")
    status = int(_JSON_LISTING_ENDS.match(listing[ends]).group(1))
    check(status == 0, f"crtc-relay --list --json exited with status {status}:\n" +
          "\n".join(listing[:ends]))
    try:
        document = json.loads("\n".join(listing[:ends]))
    except json.JSONDecodeError as error:
        raise TestFailure(f"--list --json is not JSON: {error}") from None
    screens = document.get("screens") or [{}]
    first = screens[0]
    display = run.display
    modes = first.get("modes") or [{}]
    check(first.get("name") == display.screen and first.get("connection") == "connected" and
          (modes[0].get("width"), modes[0].get("height")) == (display.width, display.height),
          f"--list --json shows screen 0 as {first}, expected {display.screen} connected at "
          f"{display.width}x{display.height} first")
    check(bool(document.get("driver", {}).get("name")), f"no driver name in {document.get('driver')}")
    sysfs = next((m.group(1) for m in map(_SYSFS_CONNECTORS.match, listing[ends:]) if m), None)
    check(sysfs is not None, "the guest did not list the connectors in sysfs")
    # Writeback connectors (vkms's) have their sysfs entry too, but the
    # kernel shows them only to clients that ask for them: no screens.
    in_sysfs = sorted(name.removeprefix("card0-") for name in sysfs.split()
                      if not name.startswith("card0-Writeback-"))
    kernel_names = sorted(screen.get("kernel_name") for screen in screens)
    check(kernel_names == in_sysfs,
          f"--list --json names the connectors {kernel_names}, sysfs {in_sysfs}")
    return [f"JSON listing: driver {document['driver']['name']}, kernel names {kernel_names}"]


def check_program_output(run: Run, expect: Expect, args: tuple[str, ...] = (),
                         one_crtc: bool = False) -> None:
    output = [line for line in run.program_output() if line.strip()]
    notices = [line for line in output if later_runs.ONE_CRTC.fullmatch(line)]
    check(len(notices) == one_crtc, f"{len(notices)} notices of a one-CRTC cycle in the "
          f"output, expected {int(one_crtc)}:\n" + "\n".join(output))
    output = [line for line in output if line not in notices]
    if expect.report:
        # "Using screen" goes to standard error, the report to standard
        # output: on the console they interleave only by line.
        wanted_screen = (f"Using screen {run.display.screen}, resolution "
                         f"{run.display.width}x{run.display.height}")
        check(wanted_screen in output, f"no {wanted_screen!r} in the output:\n" + "\n".join(output))
        output.remove(wanted_screen)
        checks = next((a.removeprefix("--verify=").split(",") for a in args
                       if a.startswith("--verify=")), ["state"] if "--verify" in args else [])
        found = program_report.problems(output, expect.crtcs, expect.exit_status,
                                        verified=bool(checks), crc="crc" in checks)
        check(not found, "the report is not right:\n  " + "\n  ".join(found) +
              "\nreport:\n  " + "\n  ".join(output))
        return
    wanted = [f"Using screen {run.display.screen}, resolution "
              f"{run.display.width}x{run.display.height}", *expect.output]
    matches = len(output) == len(wanted) and all(
        line == want if isinstance(want, str) else want.fullmatch(line)
        for line, want in zip(output, wanted))
    shown = [want if isinstance(want, str) else f"/{want.pattern}/" for want in wanted]
    check(matches,
          "program output:\n  " + "\n  ".join(output) + "\nexpected:\n  " + "\n  ".join(shown))


def run_case(case: Case, program: pathlib.Path, testpattern: pathlib.Path,
             work: pathlib.Path, cache: pathlib.Path | None, report: row_report.RowReport
             ) -> list[str]:
    display = DISPLAYS[case.display]
    expect = case.expect
    work.mkdir(parents=True, exist_ok=True)
    kernel = kernel_cache.ensure_kernel(cache, case.kernel)
    report.kernel_version = kernel.version
    if case.display == "vkms":
        vkms_build.ensure_vkms(kernel)  # built once per kernel, beside it
    initrd = work / "initramfs.cpio"
    initrd.write_bytes(make_initramfs.build(kernel, program, case.args, (case.display,),
                                            tuple(later.args for later in case.then)))
    expected = reference_picture(testpattern, display.width, display.height, work)
    report.expected = expected
    sweeps = tuple(later for later in case.then if isinstance(later, Sweep))
    sweep_pictures = later_runs.references(sweeps, display, expected, testpattern, work)
    rom = work / "radeon.rom"
    rom.write_bytes(radeon_rom.build_rom())
    device_args = [arg.replace("{rom}", str(rom)) for arg in display.qemu_args]

    kernel_args = [f"relay_driver={case.display}"]
    if expect.api == "atomic":
        # The console's blinking cursor makes fbdev commit its damage every
        # 200 ms on some drivers; such a commit logged in the middle of one
        # of the program's would hide it (their lines cannot be told apart).
        kernel_args.append("vt.global_cursor_default=0")
    with Machine(kernel.vmlinux, initrd, device_args, kernel_args,
                 log_path=work / "console.log") as machine:
        run = Run(machine, display, expected, work)
        report.run = run
        run.wait_for_program()
        booted = run.start_line.time - machine.started
        run.check_screen_line()
        run.watch(expect, ends_by_itself=case.end_with is None, period=case.period)
        followed = later_runs.follow(machine, display, case.then, run.start_index, work)
        if case.end_with is not None:
            machine.type_keys(ENDINGS[case.end_with])
        try:
            machine.wait_for_exit(60)
        except subprocess.TimeoutExpired:
            raise TestFailure("the guest did not power off after the program") from None
        records = kernel_log.parse([line.text for line in machine.lines])
        report.records = records
        status = run.exit_status()
        check(status == expect.exit_status,
              f"the program exited with status {status}, expected {expect.exit_status}")
        check_program_output(run, expect, case.args, case.one_crtc)
        listed = check_listing(run) + check_json_listing(run)
        notes = check_kernel_log(run, expect, records, case.period)
        notes += later_runs.check(followed, machine.lines, records, display, sweep_pictures,
                                  expected, work)
        total = time.monotonic() - machine.started

    initrd.unlink()  # 20 MB; the console log and screendumps stay for a look
    exact = sum(1 for d in run.dumps if d.shown == Shown.EXACT)
    black = sum(1 for d in run.dumps if d.shown == Shown.BLACK)
    ending = f" after {case.end_with}" if case.end_with else ""
    return [f"kernel {kernel.version}, {display.driver}: program started {booted:.1f} s after boot, "
            f"whole run {total:.1f} s",
            f"{len(run.dumps)} screendumps: {exact} exact, {black} black, "
            f"{len(run.dumps) - exact - black} other",
            f"exit status {status}{ending}", *notes, *listed]


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--case", choices=sorted(CASES), required=True,
                        help="row of matrix.py: SERIES.DISPLAY[.NAME]")
    parser.add_argument("--program", type=pathlib.Path, required=True)
    parser.add_argument("--testpattern", type=pathlib.Path, required=True)
    parser.add_argument("--work", type=pathlib.Path, required=True,
                        help="folder for the image, console log and screendumps")
    parser.add_argument("--cache", type=pathlib.Path, default=None, help="kernel cache folder")
    parser.add_argument("--page", type=pathlib.Path, default=None,
                        help="the HTML page the label writes at its end, named on failure")
    args = parser.parse_args(argv[1:])
    case = CASES[args.case]
    work = args.work.resolve()
    report = row_report.RowReport(case, work)
    try:
        notes = run_case(case, args.program.resolve(), args.testpattern.resolve(),
                         work, args.cache, report)
    except (TestFailure, later_runs.Failure, kernel_cache.KernelUnavailable, RuntimeError,
            ValueError) as error:
        report.write(passed=False, message=str(error))
        print(f"FAIL {case.test_name}: {error}", file=sys.stderr)
        print(f"console log: {work / 'console.log'}", file=sys.stderr)
        if args.page:
            print(f"screens and kernel log, at the end of the run: {args.page}", file=sys.stderr)
        return 1
    report.write(passed=True, message="\n".join(notes))
    print(f"PASS {case.test_name}")
    for note in notes:
        print(f"  {note}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
