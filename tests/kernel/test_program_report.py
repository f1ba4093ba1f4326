# SPDX-License-Identifier: MIT
"""The report check: a right report passes, and each kind of wrong one is
named."""

import json
import unittest

import program_report


def report(**changes) -> list[str]:
    """A right report of CRTCs 0, 1, 0 with --verify, with `changes` as
    (line index, key) -> value."""
    events = [
        {"event": "start", "t": 0.1, "device": "/dev/dri/card0",
         "crtcs": [{"index": 0, "id": 40}, {"index": 1, "id": 41}]},
        {"event": "set", "t": 0.2, "step": 0, "crtc": {"index": 0, "id": 40}, "result": 0,
         "duration_us": 300, "verified": True},
        {"event": "set", "t": 5.2, "step": 1, "crtc": {"index": 1, "id": 41}, "result": 0,
         "duration_us": 100, "verified": True},
        {"event": "set", "t": 10.2, "step": 2, "crtc": {"index": 0, "id": 40}, "result": 0,
         "duration_us": 200, "verified": True},
        {"event": "end", "t": 10.3, "reason": "handovers", "status": 0, "sets": 3,
         "duration_us": {"min": 100, "median": 200, "max": 300}},
    ]
    for (index, key), value in changes.get("set", {}).items():
        events[index][key] = value
    return [json.dumps(event) for event in events]


class ReportCheckTest(unittest.TestCase):
    def check(self, lines: list[str]) -> list[str]:
        return program_report.problems(lines, (0, 1, 0), exit_status=0, verified=True)

    def test_a_right_report_passes(self) -> None:
        self.assertEqual(self.check(report()), [])

    def test_wrong_reports_are_named(self) -> None:
        cases = {
            "not JSON": (report()[:2] + ["Using screen"] + report()[3:], "line 3 is not JSON"),
            "a set missing": (report()[:2] + report()[3:], "4 lines, expected"),
            "not verified": (report(set={(2, "verified"): False}), "set 1"),
            "refused": (report(set={(3, "result"): -22}), "set 2"),
            "wrong CRTC": (report(set={(2, "crtc"): {"index": 0, "id": 40}}), "set 1"),
            "ended by a signal": (report(set={(4, "reason"): "signal"}), "end:"),
            "time going back": (report(set={(3, "t"): 1.0}), "not in order"),
            "wrong median": (report(set={(4, "duration_us"): {"min": 100, "median": 300,
                                                              "max": 300}}), "end durations"),
        }
        for name, (lines, message) in cases.items():
            with self.subTest(name):
                found = self.check(lines)
                self.assertTrue(any(message in problem for problem in found), found)

    def test_without_verify_the_verdict_is_null(self) -> None:
        lines = report(set={(1, "verified"): None, (2, "verified"): None, (3, "verified"): None})
        self.assertEqual(program_report.problems(lines, (0, 1, 0), 0, verified=False), [])
        self.assertNotEqual(program_report.problems(report(), (0, 1, 0), 0, verified=False), [])

    def test_crc_entries_must_be_equal_with_advancing_frames(self) -> None:
        good = {(i, key): value for i in (1, 2, 3) for key, value in
                (("crc", [[7], [7], [7]]), ("frames", [10 * i, 10 * i + 1, 10 * i + 2]))}
        self.assertEqual(program_report.problems(report(set=good), (0, 1, 0), 0, True, crc=True),
                         [])
        for name, change in {"a CRC differs": ((2, "crc"), [[7], [8], [7]]),
                             "a frame repeats": ((3, "frames"), [5, 5, 6]),
                             "entries missing": ((1, "crc"), [[7]])}.items():
            with self.subTest(name):
                found = program_report.problems(report(set={**good, change[0]: change[1]}),
                                                (0, 1, 0), 0, True, crc=True)
                self.assertTrue(any("CRC entries" in problem for problem in found), found)


if __name__ == "__main__":
    unittest.main()
