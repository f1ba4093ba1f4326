# SPDX-License-Identifier: MIT
"""The runs a row's boot goes on with after the row's own (matrix.Case.then):
format sweeps, whose screen is read back over QMP while each format is up
and compared with the generator's RGB rendering of that format (testpattern
--png), and runs the program must refuse up front. One boot serves them
all, so the label does not pay a boot per check."""

import dataclasses
import json
import pathlib
import re
import subprocess
import time

import kernel_log
import png_file
from displays import Display
from format_sweeps import Showing, Sweep
from picture import differences
from qemu_machine import Machine, Picture

START = r"^crtc-relay-init: starting crtc-relay$"
EXIT = re.compile(r"crtc-relay-init: crtc-relay exit status: (\d+)$")
_EVENT_OR_EXIT = r'^\{.*"event":"format"|crtc-relay-init: crtc-relay exit status'
# A format's screen is read this long after its event line and this long
# before the next format's mode set is due.
SETTLE = 0.5
# How long a run may take beyond its formats' periods (start, teardown).
RUN_SLACK = 30.0
# What a run with options says on standard error when its cycle has one
# CRTC (a one-CRTC device, or --capable keeping one).
ONE_CRTC = re.compile(r"crtc-relay: the cycle has one distinct CRTC \(\d+\): "
                      r"each handover sets it again")
# Formats whose screen is read back.
_DUMPED = (Showing.EXACT, Showing.WITHOUT_PLANE, Showing.NOT_SHOWN)


class Failure(Exception):
    pass


def _check(condition: bool, message: str) -> None:
    if not condition:
        raise Failure(message)


@dataclasses.dataclass(frozen=True)
class Refusal:
    """A run refused before any mode set: its status and what it prints
    after "Using screen" (a string exactly, a compiled pattern in full)."""
    args: tuple[str, ...]
    exit_status: int
    output: tuple[str | re.Pattern, ...]


@dataclasses.dataclass(frozen=True)
class SweepDump:
    format: str
    time: float        # host clock when the screendump was back
    picture: Picture


@dataclasses.dataclass
class Followed:
    planned: Sweep | Refusal
    start: int         # console line of its start
    end: int           # console line of its exit status
    dumps: list[SweepDump]


def compose(screen: Picture, plane: Picture, x: int, y: int) -> Picture:
    """`plane` drawn opaque over `screen` at x,y (the SMPTE pattern has no
    translucent pixels)."""
    rgb = bytearray(screen.rgb)
    width = min(plane.width, screen.width - x)
    for row in range(min(plane.height, screen.height - y)):
        start = ((y + row) * screen.width + x) * 3
        rgb[start:start + width * 3] = plane.rgb[row * plane.width * 3:
                                                 (row * plane.width + width) * 3]
    return Picture(screen.width, screen.height, bytes(rgb))


def references(sweeps: tuple[Sweep, ...], display: Display, screen: Picture,
               testpattern: pathlib.Path, work: pathlib.Path) -> dict[tuple[str, str], Picture]:
    """What the screen shows, every pixel, when each format of each sweep
    is shown faithfully: the format's picture as testpattern converts it to
    RGB, on a cursor plane over the screen's own picture at 0,0."""
    pictures = {}
    for sweep in sweeps:
        width, height = sweep.size or (display.width, display.height)
        for fmt in sweep.formats:
            if fmt.showing not in _DUMPED:
                continue
            path = work / f"expected-{sweep.plane}-{fmt.name}.png"
            result = subprocess.run(
                [str(testpattern), "--pattern", "smpte", "--format", fmt.name,
                 "--size", f"{width}x{height}", "--png", "--output", str(path)],
                capture_output=True, text=True)
            _check(result.returncode == 0, f"testpattern {fmt.name} failed: {result.stderr}")
            picture = Picture(*png_file.decode_rgb(path.read_bytes()))
            if sweep.plane != "primary":
                picture = compose(screen, picture, 0, 0)
            pictures[sweep.plane, fmt.name] = picture
    return pictures


def follow(machine: Machine, display: Display, runs: tuple, first_start: int,
           work: pathlib.Path) -> list[Followed]:
    """Wait for each later run in turn; while a sweep shows a format that
    the screen should show, read the screen twice, clear of the mode sets."""
    if not runs:
        return []
    index, _ = machine.wait_for_line(EXIT.pattern, RUN_SLACK, first_start)
    followed = []
    for planned in runs:
        steps = len(planned.formats) * planned.step_limit if isinstance(planned, Sweep) else 0
        limit = RUN_SLACK + steps
        try:
            start, _ = machine.wait_for_line(START, RUN_SLACK, index + 1)
            dumps = []
            position = start + 1
            while isinstance(planned, Sweep) and display.emulated_screen:
                position, line = machine.wait_for_line(_EVENT_OR_EXIT, limit, position)
                if EXIT.search(line.text):
                    break
                dumps += _read_screen(machine, display, planned, line, work)
                position += 1
            end, _ = machine.wait_for_line(EXIT.pattern, limit, start)
        except TimeoutError as error:
            raise Failure(f"run {len(followed) + 2} ({' '.join(planned.args)}): {error}") from None
        followed.append(Followed(planned, start, end, dumps))
        index = end
    return followed


def _read_screen(machine: Machine, display: Display, sweep: Sweep, line, work: pathlib.Path
                 ) -> list[SweepDump]:
    try:
        event = json.loads(line.text)
    except json.JSONDecodeError:
        return []  # judged with the report after the run
    fmt = next((f for f in sweep.formats if f.name == event.get("format")), None)
    if fmt is None or fmt.showing not in _DUMPED or event.get("result") != "pass":
        return []
    dumps = []
    for offset in (SETTLE, sweep.period - SETTLE):
        time.sleep(max(0.0, line.time + offset - time.monotonic()))
        picture = machine.screendump(work / "screen.ppm", **display.screendump)
        dumps.append(SweepDump(fmt.name, time.monotonic(), picture))
    return dumps


def _lines_match(output: list[str], wanted: list[str | re.Pattern]) -> bool:
    return len(output) == len(wanted) and all(
        line == want if isinstance(want, str) else want.fullmatch(line)
        for line, want in zip(output, wanted))


def summary_line(sweep: Sweep) -> str:
    """The program's last line of a sweep, as its formats should give it."""
    failed = [f.name for f in sweep.events() if f.showing is Showing.REFUSED]
    skipped = [f.name for f in sweep.events() if f.showing is Showing.SKIPPED]
    passed = len(sweep.formats) - len(failed) - len(skipped)
    text = f"formats: {passed} passed, {len(failed)} failed"
    text += f" ({', '.join(failed)})" if failed else ""
    text += f", {len(skipped)} skipped"
    return text + (f" (not drawn by the generator: {', '.join(skipped)})" if skipped else "")


def check_events(sweep: Sweep, events: list[dict]) -> list[str]:
    """What is wrong with a sweep's report; empty when it is right."""
    found = []
    formats = [e for e in events if e.get("event") == "format"]
    names = [e.get("format") for e in formats]
    wanted = [f.name for f in sweep.events()]
    if names != wanted:
        return [f"format events for {names}, expected {wanted}"]
    for event, fmt in zip(formats, sweep.events()):
        if fmt.showing is Showing.SKIPPED:
            good = event.get("result") == "skip"
        elif fmt.showing is Showing.REFUSED:
            good = event.get("result") == "fail" and f"{-fmt.errno}" in str(event.get("reason"))
        else:
            good = event.get("result") == "pass" and event.get("verified") is True
        if not good:
            found.append(f"{fmt.name}: {event}, expected {fmt.result}")
    end = events[-1] if events else {}
    if (end.get("event"), end.get("reason"), end.get("status")) != ("end", "formats",
                                                                    sweep.exit_status):
        found.append(f"the report ends with {end}, expected reason formats and status "
                     f"{sweep.exit_status}")
    return found


def judge_dumps(sweep: Sweep, dumps: list[SweepDump], events: list[tuple[float, str]],
                pictures: dict[tuple[str, str], Picture], screen: Picture) -> list[str]:
    """Each screendump against what its format should show; `events` are
    the host times and formats of the run's format lines, then its end."""
    found = []
    for fmt in sweep.formats:
        if fmt.showing not in _DUMPED:
            continue
        shown_at = next((t for t, name in events if name == fmt.name), None)
        next_at = min((t for t, _ in events if shown_at is not None and t > shown_at),
                      default=float("inf"))
        judged = [d for d in dumps if d.format == fmt.name and d.time < next_at - 0.2]
        if not judged:
            found.append(f"{sweep.plane} {fmt.name}: no screendump while it was shown")
        expected = pictures[sweep.plane, fmt.name]
        for dump in judged:
            exact = dump.picture == expected
            if fmt.showing is Showing.EXACT:
                good = exact
            elif fmt.showing is Showing.WITHOUT_PLANE:
                good = dump.picture == screen and not exact
            else:
                good = not exact
            if not good:
                found.append(f"{sweep.plane} {fmt.name}: the screen is not "
                             f"{fmt.showing.value} ({_differences(dump.picture, expected)})")
                break
    return found


def _differences(shown: Picture, expected: Picture) -> str:
    if shown == expected:
        return "it is the expected picture"
    return differences(shown, expected, limit=2)


def check(followed: list[Followed], lines: list, records: list[kernel_log.Record],
          display: Display, pictures: dict[tuple[str, str], Picture], screen: Picture,
          work: pathlib.Path) -> list[str]:
    """Every later run against its expectation; returns notes, raises
    Failure with everything that is wrong."""
    notes, found = [], []
    using = f"Using screen {display.screen}, resolution {display.width}x{display.height}"
    for number, run in enumerate(followed, 1):
        planned = run.planned
        name = f"run {number + 1} (" + (f"{planned.plane} sweep" if isinstance(planned, Sweep)
                                        else " ".join(planned.args)) + ")"
        status = int(EXIT.search(lines[run.end].text).group(1))
        output = [line.text for line in lines[run.start + 1:run.end] if line.text.strip()]
        during = kernel_log.run_records(records, number)
        problems = [f"kernel error: {r.text}" for r in kernel_log.errors(during)]
        if status != planned.exit_status:
            problems.append(f"exit status {status}, expected {planned.exit_status}")
        if isinstance(planned, Refusal):
            if not _lines_match(output, [using, *planned.output]):
                problems.append("output:\n  " + "\n  ".join(output))
            if kernel_log.framebuffers_added(during):
                problems.append("framebuffers added before the refusal")
            notes.append(f"{name}: refused, status {status}")
        else:
            problems += _check_sweep(planned, run, lines, output, using, display, pictures, screen)
            problems += sweep_requests(planned, during)
            if not problems:
                shown = "; ".join(f"{f.name} {f.result}" for f in planned.formats)
                notes.append(f"{name}: {shown}")
        # The last screen of each format, for the page beside its expected
        # picture (expected-PLANE-FORMAT.png).
        for dump in run.dumps:
            (work / f"sweep-{planned.plane}-{dump.format}.png").write_bytes(png_file.encode_rgb(
                dump.picture.width, dump.picture.height, dump.picture.rgb))
        if problems:
            found.append(f"{name}:\n  " + "\n  ".join(problems))
    _check(not found, "\n".join(found))
    return notes


def sweep_requests(sweep: Sweep, during: list[kernel_log.Record]) -> list[str]:
    """The kernel's side of a legacy sweep: one SETCRTC and one framebuffer
    per format drawn (and the screen's own under another plane), and the
    program's framebuffers taken down by the program itself."""
    drawn = sum(1 for f in sweep.formats if f.showing is not Showing.SKIPPED)
    if "writeback" in sweep.verify or not drawn:
        return []  # atomic: its commits are checked by the program's report
    found = []
    setcrtcs = len(kernel_log.setcrtc_calls(during))
    if setcrtcs != drawn:
        found.append(f"{setcrtcs} SETCRTC requests for {drawn} formats")
    added = kernel_log.framebuffers_added(during)
    if len(added) != drawn + (sweep.plane != "primary"):
        found.append(f"framebuffers added: {added}, for {drawn} formats on the {sweep.plane} plane")
    removed = [fb for fb, _ in kernel_log.framebuffers_removed_in_use(during)]
    if not removed or not set(removed) <= set(added):
        found.append(f"the program did not take its framebuffers {added} down (RMFB: {removed})")
    return found


def _check_sweep(sweep: Sweep, run: Followed, lines: list, output: list[str], using: str,
                 display: Display, pictures: dict[tuple[str, str], Picture],
                 screen: Picture) -> list[str]:
    events, other = [], []
    for text in output:
        try:
            events.append(json.loads(text))
        except json.JSONDecodeError:
            other.append(text)
    problems = check_events(sweep, events)
    # A sweep's cycle is every CRTC of the device, so one-CRTC devices say so.
    wanted = [using, *([ONE_CRTC] if display.crtcs == 1 else []), summary_line(sweep)]
    if not _lines_match(other, wanted) and not (
            sweep.exit_status and other[:1] == [using] and other[-1:] == wanted[-1:]):
        problems.append("output besides the report:\n  " + "\n  ".join(other))
    if display.emulated_screen and not problems:
        moments = [(line.time, json.loads(line.text).get("format"))
                   for line in lines[run.start + 1:run.end] if '"event":"format"' in line.text]
        moments.append((lines[run.end].time, ""))
        problems += judge_dumps(sweep, run.dumps, moments, pictures, screen)
    return problems
