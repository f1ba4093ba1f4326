# SPDX-License-Identifier: MIT
"""The checks kernel_test.py makes after a run, on made-up runs."""

import re
import types
import unittest

import kernel_log
import kernel_test
import test_program_report
import matrix
from kernel_test import Screendump, TestFailure
from matrix import OVER_AND_BACK, OVER_AND_BACK_FIRST_UNSEEN, REFUSED_AT_CRTC_1
from picture import Shown

HOST_OFFSET = 100.0   # host clock minus guest clock in the made-up runs
START = 2.0           # guest time /init starts the program


def records(calls, rmfb_time, extra=()):
    """A kernel log: start marker, one framebuffer, the SETCRTC calls, RMFB."""
    log = [kernel_log.Record(6, 1.0, "[drm] Initialized"),
           kernel_log.Record(4, START, kernel_log.PROGRAM_STARTS),
           kernel_log.Record(7, START + 0.1, "[drm:drm_mode_addfb2 [drm]] [FB:37]")]
    log += [kernel_log.Record(7, t, f"[drm:drm_mode_setcrtc [drm]] [CRTC:{30 + i}:crtc-{i}]")
            for t, i in calls]
    if rmfb_time is not None:
        log.append(kernel_log.Record(7, rmfb_time, "[drm:drm_mode_rmfb_work_fn [drm]] "
                                     "Removing [FB:37] from all active usage due to RMFB ioctl"))
    log += extra
    return sorted(log, key=lambda r: r.time)


def run_with(dumps):
    """The parts of a kernel_test.Run that the checks read."""
    return types.SimpleNamespace(
        dumps=[Screendump(guest_time + HOST_OFFSET, shown, "") for guest_time, shown in dumps],
        start_line=types.SimpleNamespace(time=START + HOST_OFFSET),
        machine=types.SimpleNamespace(started=HOST_OFFSET),
        display=types.SimpleNamespace(emulated_screen=True))


HANDOVER = OVER_AND_BACK
REFUSED = REFUSED_AT_CRTC_1
HANDOVER_CALLS = [(2.5, 0), (7.6, 1), (12.7, 0)]
HANDOVER_DUMPS = [(3.5, Shown.EXACT), (7.7, Shown.OTHER),  # mid-change, skipped
                  (9.0, Shown.BLACK), (13.0, Shown.OTHER), (14.0, Shown.EXACT),
                  (15.0, Shown.OTHER)]                        # after teardown began


class KernelLogCheckTest(unittest.TestCase):
    def check(self, plan, calls, rmfb_time=15.1, extra=(), dumps=HANDOVER_DUMPS):
        return kernel_test.check_kernel_log(run_with(dumps), plan,
                                            records(calls, rmfb_time, extra))

    def test_a_good_run_passes_with_notes(self) -> None:
        notes = self.check(HANDOVER, HANDOVER_CALLS,
                           extra=[kernel_log.Record(3, 1.5, "[drm:x] *ERROR* no firmware")])
        self.assertIn("before the program (not its doing): [drm:x] *ERROR* no firmware", notes)
        self.assertIn("SETCRTC: crtc-0 at 2.50 s, crtc-1 at 7.60 s, crtc-0 at 12.70 s", notes)

    def test_faults_are_caught(self) -> None:
        cases = (
            ("wrong order", dict(calls=[(2.5, 0), (7.6, 0), (12.7, 1)]), "SETCRTC named CRTCs"),
            ("one call short", dict(calls=HANDOVER_CALLS[:2]), "SETCRTC named CRTCs"),
            ("too fast", dict(calls=[(2.5, 0), (6.6, 1), (12.7, 0)]), "apart"),
            ("too slow", dict(calls=[(2.5, 0), (7.6, 1), (14.0, 0)]), "apart"),
            ("no RMFB", dict(calls=HANDOVER_CALLS, rmfb_time=None), "not taken down"),
            ("DRM error while running",
             dict(calls=HANDOVER_CALLS,
                  extra=[kernel_log.Record(3, 8.0, "[drm:radeon_crtc] *ERROR* bad")]),
             "kernel errors while the program ran"),
            ("warning before the program",
             dict(calls=HANDOVER_CALLS,
                  extra=[kernel_log.Record(4, 1.2, "WARNING: CPU: 0 at mm/x.c:1")]),
             "kernel trouble"),
        )
        for name, arguments, message in cases:
            with self.subTest(name), self.assertRaisesRegex(TestFailure, message):
                self.check(HANDOVER, **arguments)


class ScreendumpCheckTest(unittest.TestCase):
    def check(self, plan, calls, dumps, rmfb_time=15.1):
        log = records(calls, rmfb_time)
        kernel_test.check_screendumps(run_with(dumps), plan, log,
                                      kernel_log.setcrtc_calls(log), teardown=rmfb_time)

    def test_dumps_are_judged_by_the_crtc_driving_the_screen(self) -> None:
        self.check(HANDOVER, HANDOVER_CALLS, HANDOVER_DUMPS)

    def test_a_wrong_picture_fails(self) -> None:
        cases = (
            ("black while CRTC 0 drives", [(3.5, Shown.BLACK), (9.0, Shown.BLACK),
                                           (14.0, Shown.EXACT)], r"request 1 \(CRTC 0\)"),
            ("picture while CRTC 1 drives", [(3.5, Shown.EXACT), (9.0, Shown.EXACT),
                                             (14.0, Shown.EXACT)], r"request 2 \(CRTC 1\)"),
            ("wrong picture back on CRTC 0", [(3.5, Shown.EXACT), (9.0, Shown.BLACK),
                                              (14.0, Shown.OTHER)], r"request 3 \(CRTC 0\)"),
            ("nothing seen of CRTC 1", [(3.5, Shown.EXACT), (14.0, Shown.EXACT)],
             r"no screendump was taken after request 2 \(CRTC 1\)"),
        )
        for name, dumps, message in cases:
            with self.subTest(name), self.assertRaisesRegex(TestFailure, message):
                self.check(HANDOVER, HANDOVER_CALLS, dumps)

    def test_a_refused_handover_leaves_crtc_0_driving(self) -> None:
        calls = [(2.5, 0), (7.6, 1)]
        self.check(REFUSED, calls, [(3.5, Shown.EXACT), (8.5, Shown.EXACT)], rmfb_time=9.5)
        # Nothing need be seen after the refused request: the program ends.
        self.check(REFUSED, calls, [(3.5, Shown.EXACT)], rmfb_time=8.0)
        with self.assertRaisesRegex(TestFailure, r"request 2 \(CRTC 1\)"):
            self.check(REFUSED, calls, [(3.5, Shown.EXACT), (8.5, Shown.BLACK)], rmfb_time=9.5)

    def test_a_first_request_that_shows_nothing_new(self) -> None:
        # The console stays after the first request; the picture shows after the third.
        dumps = [(3.5, Shown.OTHER), (9.0, Shown.BLACK), (14.0, Shown.EXACT)]
        self.check(OVER_AND_BACK_FIRST_UNSEEN, HANDOVER_CALLS, dumps)
        for name, wrong, message in (
                ("picture at once", [(3.5, Shown.EXACT)] + dumps[1:], "request 1"),
                ("picture not back", dumps[:2] + [(14.0, Shown.OTHER)], "request 3")):
            with self.subTest(name), self.assertRaisesRegex(TestFailure, message):
                self.check(OVER_AND_BACK_FIRST_UNSEEN, HANDOVER_CALLS, wrong)
        with self.assertRaisesRegex(TestFailure, "request 1"):
            self.check(OVER_AND_BACK, HANDOVER_CALLS, dumps)


class ListingTest(unittest.TestCase):
    LISTING = ["crtc-relay-init: listing the device", "screens:",
               "  0 Virtual-0 (Virtual-1): id 34, connected, modes 1280x800@75 640x480@60",
               "crtcs:", "  0: id 33, active, mode 1280x800@75, framebuffer 42 at 0,0",
               "encoders:", "  id 35: crtc 0 (id 33), possible crtcs 0, screens Virtual-0 (in use)",
               "planes:", "  0: id 31, primary, crtc 0 (id 33), framebuffer 42, possible crtcs 0, "
               "formats XR24", "crtc-relay-init: listing ends with status 0"]

    def check(self, lines):
        run = types.SimpleNamespace(
            display=types.SimpleNamespace(screen="Virtual-0", width=1280, height=800),
            machine=types.SimpleNamespace(lines=[types.SimpleNamespace(text=t) for t in lines]),
            start_index=len(lines))
        return kernel_test.check_listing(run)

    def test_the_listing_before_the_program(self) -> None:
        self.assertEqual(self.check(self.LISTING), [
            "listed: 0: id 33, active, mode 1280x800@75, framebuffer 42 at 0,0",
            "listed: id 35: crtc 0 (id 33), possible crtcs 0, screens Virtual-0 (in use)"])
        listing = self.LISTING
        cases = (
            ("not listed", [], "did not list"),
            ("no end", listing[:-1], "did not end"),
            ("failed", listing[:1] + ["no screens found",
                                      "crtc-relay-init: listing ends with status 1"], "status 1"),
            ("section missing", listing[:5] + listing[7:], "sections"),
            ("other screen first", listing[:2] + [listing[2].replace("1280x800@75", "640x480@60")]
             + listing[3:], "screen 0"),
        )
        for name, lines, message in cases:
            with self.subTest(name), self.assertRaisesRegex(TestFailure, message):
                self.check(lines)

    JSON_LISTING = ["crtc-relay-init: listing as JSON",
                    '{"driver": {"name": "bochs-drm"}, "screens": [{"name": "Virtual-0",',
                    '"kernel_name": "Virtual-1", "connection": "connected",',
                    '"modes": [{"width": 1280, "height": 800}]}]}',
                    "crtc-relay-init: JSON listing ends with status 0",
                    "crtc-relay-init: connectors in sysfs: card0-Virtual-1"]

    def check_json(self, lines):
        run = types.SimpleNamespace(
            display=types.SimpleNamespace(screen="Virtual-0", width=1280, height=800),
            machine=types.SimpleNamespace(lines=[types.SimpleNamespace(text=t) for t in lines]),
            start_index=len(lines))
        return kernel_test.check_json_listing(run)

    def test_the_json_listing_names_what_sysfs_names(self) -> None:
        self.assertEqual(self.check_json(self.JSON_LISTING),
                         ["JSON listing: driver bochs-drm, kernel names ['Virtual-1']"])
        with_writeback = self.JSON_LISTING[:5] + [self.JSON_LISTING[5] + " card0-Writeback-1"]
        self.assertEqual(len(self.check_json(with_writeback)), 1)  # no screen: not listed
        listing = self.JSON_LISTING
        cases = (
            ("not listed", [], "did not list"),
            ("not JSON", listing[:1] + ["{"] + listing[4:], "not JSON"),
            ("other kernel name", listing[:5] + [listing[5].replace("Virtual-1", "Virtual-2")],
             "sysfs"),
            ("disconnected", [line.replace('"connected"', '"disconnected"') for line in listing],
             "screen 0"),
        )
        for name, lines, message in cases:
            with self.subTest(name), self.assertRaisesRegex(TestFailure, message):
                self.check_json(lines)


class ProgramOutputTest(unittest.TestCase):
    def check(self, expect, lines):
        run = types.SimpleNamespace(
            display=types.SimpleNamespace(screen="Virtual-0", width=1280, height=800),
            program_output=lambda: lines)
        kernel_test.check_program_output(run, expect)

    def test_the_report_instead(self) -> None:
        screen = "Using screen Virtual-0, resolution 1280x800"
        report = test_program_report.report()
        verified = matrix.Expect((0, 1, 0), (matrix.PICTURE,) * 3, ends_after_last=True,
                                 report=True)
        run = types.SimpleNamespace(
            display=types.SimpleNamespace(screen="Virtual-0", width=1280, height=800),
            program_output=lambda: [report[0], screen, *report[1:]])
        kernel_test.check_program_output(run, verified, ("--verify",))
        with self.assertRaisesRegex(TestFailure, "set 0"):
            kernel_test.check_program_output(run, verified, ())

    def test_lines_after_the_screen_line(self) -> None:
        screen = "Using screen Virtual-0, resolution 1280x800"
        self.check(REFUSED, [screen, "", "kms_screen_set() failed: -22"])
        with_pattern = matrix.Expect((0,), (matrix.PICTURE,),
                                     output=(re.compile(r"verified \d+ frames"),))
        self.check(with_pattern, [screen, "verified 12 frames"])
        cases = (
            ("message missing", REFUSED, [screen]),
            ("other errno", REFUSED, [screen, "kms_screen_set() failed: -16"]),
            ("other screen", OVER_AND_BACK, ["Using screen Virtual-1, resolution 1280x800"]),
            ("pattern not met", with_pattern, [screen, "verified many frames"]),
            ("extra line", OVER_AND_BACK, [screen, "kms_screen_set() failed: -22"]),
        )
        for name, expect, lines in cases:
            with self.subTest(name), self.assertRaisesRegex(TestFailure, "program output"):
                self.check(expect, lines)

    def test_a_one_crtc_cycle_is_said_exactly_when_expected(self) -> None:
        screen = "Using screen Virtual-0, resolution 1280x800"
        notice = "crtc-relay: the cycle has one distinct CRTC (0): each handover sets it again"
        run = types.SimpleNamespace(
            display=types.SimpleNamespace(screen="Virtual-0", width=1280, height=800),
            program_output=lambda: [screen, notice, "kms_screen_set() failed: -22"])
        kernel_test.check_program_output(run, REFUSED, one_crtc=True)
        with self.assertRaisesRegex(TestFailure, "1 notices of a one-CRTC cycle"):
            kernel_test.check_program_output(run, REFUSED)
        self.assertTrue(matrix.Case("6.1", "qxl", REFUSED, args=("--capable",)).one_crtc)
        self.assertFalse(matrix.Case("6.1", "qxl", REFUSED, args=("--verify",)).one_crtc)
        self.assertFalse(matrix.Case("6.1", "bochs", REFUSED).one_crtc)  # the plain run


if __name__ == "__main__":
    unittest.main()
