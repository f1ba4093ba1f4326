# SPDX-License-Identifier: MIT
"""The matrix table: rows are checked when it is read, and names are stable."""

import pathlib
import unittest

import format_sweeps
import matrix
from format_sweeps import Format, Showing, Sweep
from matrix import BLACK, NOT_PICTURE, PICTURE, Case, Expect, SAME_CRTC_AGAIN
from picture import Shown


class ExpectTest(unittest.TestCase):
    def test_what_each_screen_expectation_accepts(self) -> None:
        table = {
            PICTURE: {Shown.EXACT},
            BLACK: {Shown.BLACK},
            NOT_PICTURE: {Shown.BLACK, Shown.OTHER},
        }
        for screen, accepted in table.items():
            for shown in Shown:
                with self.subTest(screen=screen.name, shown=shown.name):
                    self.assertEqual(screen.accepts(shown), shown in accepted)

    def test_malformed_expectations(self) -> None:
        with self.assertRaisesRegex(ValueError, "2 requests but 1 screens"):
            Expect((0, 1), (PICTURE,))
        with self.assertRaisesRegex(ValueError, "at least once"):
            Expect((0, 1), (BLACK, NOT_PICTURE))
        with self.assertRaisesRegex(ValueError, "unknown api"):
            Expect((0,), (PICTURE,), api="ioctl")
        with self.assertRaisesRegex(ValueError, "is a refusal"):
            Expect((), ())
        Expect((), (), exit_status=1, api="atomic")  # refused before any request


class TableTest(unittest.TestCase):
    def test_names_and_listing(self) -> None:
        self.assertEqual(Case("6.1", "bochs", SAME_CRTC_AGAIN).test_name, "6.1.bochs")
        self.assertEqual(Case("6.12", "bochs", SAME_CRTC_AGAIN, name="ctrl_c").test_name,
                         "6.12.bochs.ctrl_c")
        self.assertEqual(list(matrix.CASES), [case.test_name for case in matrix.MATRIX])

    def test_the_period_comes_from_the_arguments(self) -> None:
        self.assertEqual(Case("6.1", "bochs", SAME_CRTC_AGAIN).period, 5.0)
        self.assertEqual(Case("6.1", "bochs", SAME_CRTC_AGAIN, args=matrix.ATOMIC_ARGS).period, 2.5)
        self.assertEqual(Case("6.1", "bochs", SAME_CRTC_AGAIN, args=("-p", "0.5")).period, 0.5)

    def test_every_kernel_runs_every_display(self) -> None:
        kernels = {case.kernel for case in matrix.MATRIX}
        for kernel in kernels:
            displays = {case.display for case in matrix.MATRIX if case.kernel == kernel}
            with self.subTest(kernel):
                self.assertEqual(displays, set(matrix.DISPLAYS))

    def test_bad_rows_are_refused(self) -> None:
        cases = (
            ("unknown kernel", [Case("5.10", "bochs", SAME_CRTC_AGAIN)], "unknown kernel"),
            ("unknown display", [Case("6.1", "vmwgfx", SAME_CRTC_AGAIN)], "unknown display"),
            ("unknown ending", [Case("6.1", "bochs", SAME_CRTC_AGAIN, end_with="q")],
             "unknown ending"),
            ("key after a refusal", [Case("6.1", "qxl", matrix.REFUSED_AT_CRTC_1)],
             "ends the program by itself"),
            ("same name twice", [Case("6.1", "bochs", SAME_CRTC_AGAIN)] * 2, "two rows"),
            ("later runs after a key", [Case("6.1", "bochs", SAME_CRTC_AGAIN,
                                             then=(matrix.NO_CRC,))], "later runs follow"),
        )
        for name, rows, message in cases:
            with self.subTest(name), self.assertRaisesRegex(ValueError, message):
                matrix.validate(tuple(rows))


class FormatSweepsTest(unittest.TestCase):
    def test_a_result_says_why_exactly_when_it_differs(self) -> None:
        with self.assertRaisesRegex(ValueError, "says why"):
            Format("XR24", why="looks fine")
        with self.assertRaisesRegex(ValueError, "says why"):
            Format("XR24", Showing.NOT_SHOWN)
        with self.assertRaisesRegex(ValueError, "names its errno"):
            Format("C8", Showing.REFUSED, "no colour table")
        self.assertEqual(Format("C8", Showing.REFUSED, "no table", errno=22).result,
                         "refused (-22): no table")

    def test_every_driver_sweeps_its_formats_once_per_kernel(self) -> None:
        swept = [(case.kernel, case.display) for case in matrix.MATRIX
                 if any(isinstance(run, Sweep) and run.plane == "primary" for run in case.then)]
        wanted = [(kernel, name) for kernel in ("6.1", "6.12") for name in matrix.DISPLAYS]
        self.assertCountEqual(swept, wanted)

    def test_the_table_merges_the_kernels_lists_in_the_planes_order(self) -> None:
        sweeps = {("6.1", "d"): (Sweep("primary", (Format("XR24"), Format("RG16"))),),
                  ("6.12", "d"): (Sweep("primary", (Format("AR24"), Format("XR24"), Format(
                      "RG16", Showing.NOT_SHOWN, "black"))),)}
        self.assertEqual(format_sweeps.table(sweeps).splitlines()[2:], [
            "| `d` | primary | AR24 | not listed | shown exactly |",
            "| `d` | primary | XR24 | shown exactly | shown exactly |",
            "| `d` | primary | RG16 | shown exactly | not shown: black |"])

    def test_the_readme_table_is_the_generated_one(self) -> None:
        readme = (pathlib.Path(__file__).parent / "README.md").read_text()
        self.assertIn(format_sweeps.table(), readme,
                      "run format_sweeps.py --table and put its output in README.md")



if __name__ == "__main__":
    unittest.main()
