# SPDX-License-Identifier: MIT
"""What one row of the kernel matrix leaves for the label's HTML page: a
result.json beside its console log, and a PNG of the expected picture and
of each different screen content, in the row's work folder."""

import dataclasses
import json
import pathlib

import kernel_log
import png_file
from matrix import Case
from qemu_machine import Picture

RESULT_FILE = "result.json"


@dataclasses.dataclass
class ScreenSpan:
    """Consecutive screendumps of one picture after one request."""
    image: int
    first: float              # seconds from the program's start
    last: float
    count: int
    shown: str
    step: int | None          # the request it followed, None when not judged


def spans(dumps, start: float) -> list[ScreenSpan]:
    result: list[ScreenSpan] = []
    for dump in dumps:
        moment = dump.time - start
        if result and (result[-1].image, result[-1].step) == (dump.image, dump.step):
            result[-1].last = moment
            result[-1].count += 1
        else:
            result.append(ScreenSpan(dump.image, moment, moment, 1, dump.shown.value, dump.step))
    return result


class RowReport:
    """Filled in by the run as it gets along, written whatever the verdict."""

    def __init__(self, case: Case, work: pathlib.Path) -> None:
        self.case = case
        self.work = work
        self.kernel_version = ""
        self.expected: Picture | None = None
        self.run = None                      # kernel_test.Run once the guest is up
        self.records: list[kernel_log.Record] | None = None

    def _write_png(self, name: str, image: Picture) -> str:
        (self.work / name).write_bytes(png_file.encode_rgb(image.width, image.height, image.rgb))
        return name

    def _output(self) -> list[str]:
        run = self.run
        if run is None or run.start_line is None:
            return []
        lines = [line.text for line in run.machine.lines[run.start_index + 1:]]
        ends = [i for i, line in enumerate(lines) if line == kernel_log.LOG_BEGINS]
        return lines[:ends[0]] if ends else lines

    def _timeline(self) -> list[tuple[float, str]]:
        try:
            return kernel_log.timeline(self.records) if self.records else []
        except ValueError:
            return []

    def _screens(self) -> list[dict]:
        run = self.run
        if run is None or run.start_line is None:
            return []
        files = {}
        screens = []
        expect = self.case.expect
        for span in spans(run.dumps, run.start_line.time):
            if span.image not in files:
                files[span.image] = self._write_png(f"screen-{span.image:02}.png",
                                                    run.images[span.image])
            wanted = expect.shows[span.step].value if span.step is not None else ""
            screens.append({**dataclasses.asdict(span), "file": files[span.image],
                            "expected": wanted})
        return screens

    def write(self, passed: bool, message: str) -> None:
        self.work.mkdir(parents=True, exist_ok=True)
        case = self.case
        result = {
            "name": case.test_name, "kernel": case.kernel, "version": self.kernel_version,
            "display": case.display, "arguments": list(case.args),
            "ending": f"{case.end_with} typed" if case.end_with else "by itself",
            "requests": [f"CRTC {crtc}: {shows.value}"
                         for crtc, shows in zip(case.expect.crtcs, case.expect.shows)],
            "passed": passed, "message": message,
            "output": self._output(), "timeline": self._timeline(),
            "expected_picture": (self._write_png("expected.png", self.expected)
                                 if self.expected else None),
            "screens": self._screens(),
            # Format sweeps (later_runs.py): each format's last screen.
            "sweeps": [{"file": path.name, "expected": "expected-" + path.name.removeprefix("sweep-")}
                       for path in sorted(self.work.glob("sweep-*.png"))],
        }
        (self.work / RESULT_FILE).write_text(json.dumps(result, indent=1))
