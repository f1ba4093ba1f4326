# SPDX-License-Identifier: MIT
"""Judging the runs a boot goes on with: format sweeps and refusals."""

import unittest

import kernel_log
import later_runs
from format_sweeps import CURSOR, Format, Showing, Sweep
from later_runs import SweepDump
from qemu_machine import Picture

SCREEN = Picture(4, 2, bytes(range(24)))
CURSOR_PICTURE = Picture(2, 2, b"\xff" * 12)
OVER = later_runs.compose(SCREEN, CURSOR_PICTURE, 0, 0)
OTHER = Picture(4, 2, bytes(24))


class ComposeTest(unittest.TestCase):
    def test_the_plane_covers_its_place_and_is_clipped_at_the_edge(self) -> None:
        self.assertEqual(OVER.rgb, b"\xff" * 6 + SCREEN.rgb[6:12] + b"\xff" * 6 + SCREEN.rgb[18:])
        clipped = later_runs.compose(SCREEN, CURSOR_PICTURE, 3, 1)
        self.assertEqual(clipped.rgb, SCREEN.rgb[:21] + b"\xff" * 3)


class JudgeTest(unittest.TestCase):
    def judge(self, sweep: Sweep, shown: Picture, at: float = 1.0) -> list[str]:
        events = [(0.0, sweep.formats[0].name), (2.0, "")]
        pictures = {(sweep.plane, sweep.formats[0].name): OVER}
        return later_runs.judge_dumps(sweep, [SweepDump(sweep.formats[0].name, at, shown)],
                                      events, pictures, SCREEN)

    def test_each_expectation_against_each_screen(self) -> None:
        exact = Sweep("primary", (Format("XR24"),))
        unseen = Sweep("primary", (Format("XR24", Showing.NOT_SHOWN, "black"),))
        cases = (  # sweep, what the screen shows, judged right
            (exact, OVER, True), (exact, OTHER, False),
            (CURSOR, SCREEN, True), (CURSOR, OVER, False), (CURSOR, OTHER, False),
            (unseen, OTHER, True), (unseen, OVER, False),
        )
        for sweep, shown, right in cases:
            with self.subTest(f"{sweep.formats[0].showing.name} {shown.rgb[:2].hex()}"):
                self.assertEqual(self.judge(sweep, shown) == [], right)

    def test_a_screendump_near_the_next_format_is_not_judged(self) -> None:
        sweep = Sweep("primary", (Format("XR24"),))
        self.assertEqual(self.judge(sweep, OTHER, at=1.9),
                         ["primary XR24: no screendump while it was shown"])


class ReportTest(unittest.TestCase):
    SWEEP = Sweep("primary", (Format("XR24"), Format("XR48", Showing.SKIPPED, "not drawn"),
                              Format("C8", Showing.REFUSED, "no colour table", errno=22)))

    def events(self, **changes) -> list[dict]:
        formats = {"XR48": {"result": "skip"}, "XR24": {"result": "pass", "verified": True},
                   "C8": {"result": "fail", "reason": "kms_screen_set() failed: -22"}}
        for name, change in changes.items():
            formats[name].update(change)
        return ([{"event": "start"}]
                + [{"event": "format", "format": name, **fields} for name, fields in formats.items()]
                + [{"event": "end", "reason": "formats", "status": 1}])

    def test_the_report_of_a_right_sweep_passes(self) -> None:
        self.assertEqual(later_runs.check_events(self.SWEEP, self.events()), [])
        self.assertEqual(later_runs.summary_line(self.SWEEP),
                         "formats: 1 passed, 1 failed (C8), 1 skipped "
                         "(not drawn by the generator: XR48)")

    def test_each_fault_is_named(self) -> None:
        cases = (
            ("unverified", {"XR24": {"verified": None}}, "XR24: "),
            ("other errno", {"C8": {"reason": "kms_screen_set() failed: -28"}}, "C8: "),
            ("refused format passes", {"C8": {"result": "pass", "verified": True}}, "C8: "),
        )
        for name, changes, message in cases:
            with self.subTest(name):
                found = later_runs.check_events(self.SWEEP, self.events(**changes))
                self.assertEqual(len(found), 1, found)
                self.assertTrue(found[0].startswith(message), found)
        events = self.events()
        self.assertIn("expected ['XR48', 'XR24', 'C8']",
                      later_runs.check_events(self.SWEEP, events[:1] + events[2:])[0])
        events[-1]["status"] = 0
        self.assertIn("expected reason formats and status 1",
                      later_runs.check_events(self.SWEEP, events)[0])


class RequestsTest(unittest.TestCase):
    def test_one_setcrtc_and_framebuffer_per_format_and_the_teardown(self) -> None:
        def record(text: str) -> kernel_log.Record:
            return kernel_log.Record(7, 1.0, text)
        setcrtc = record("[drm:drm_mode_setcrtc [drm]] [CRTC:35:crtc-0]")
        added = [record(f"[drm:drm_mode_addfb2 [drm]] [FB:{fb}]") for fb in (40, 41)]
        rmfb = record("Removing [FB:41] from all active usage due to RMFB ioctl")
        two = Sweep("primary", (Format("XR24"), Format("AR24")))
        self.assertEqual(later_runs.sweep_requests(two, [added[0], setcrtc, added[1], setcrtc,
                                                         rmfb]), [])
        found = later_runs.sweep_requests(two, [added[0], setcrtc, rmfb])
        self.assertEqual(found, ["1 SETCRTC requests for 2 formats",
                                 "framebuffers added: [40], for 2 formats on the primary plane",
                                 "the program did not take its framebuffers [40] down (RMFB: [41])"])
        self.assertEqual(later_runs.sweep_requests(CURSOR, [*added, setcrtc, rmfb]), [])


if __name__ == "__main__":
    unittest.main()
