# SPDX-License-Identifier: MIT
"""Reading the guest's `dmesg -r` output."""

import unittest

import kernel_log

CONSOLE = [
    "crtc-relay exit noise before the log",
    kernel_log.LOG_BEGINS,
    "<6>[    0.000000] Linux version 6.1.0",
    "<3>[    1.765629] [drm:r100_cp_init.cold [radeon]] *ERROR* Failed to load firmware!",
    "<4>[    1.765700] radeon 0000:00:02.0: Direct firmware load failed with error -2",
    "<12>[    2.000000] " + kernel_log.PROGRAM_STARTS,
    "<7>[    2.100000] bochs-drm 0000:00:02.0: [drm:drm_mode_addfb2 [drm]] [FB:37]",
    "<7>[    2.200000] [drm:drm_mode_setcrtc [drm]] [CRTC:35:crtc-0]",
    "<7>[    2.200100] [drm:drm_mode_setcrtc [drm]] [CONNECTOR:31:Virtual-1]",
    "<7>[    7.250000] [drm:drm_mode_setcrtc [drm]] [CRTC:36:crtc-1]",
    "<7>[    7.260000] [drm:drm_atomic_check_only [drm]] [CRTC:36:crtc-1] mode changed",
    "<7>[    7.300000] bochs-drm 0000:00:02.0: [drm:drm_mode_rmfb_work_fn [drm]] "
    "Removing [FB:37] from all active usage due to RMFB ioctl",
    "<12>[    7.400000] crtc-relay-init: crtc-relay exit status: 1",
    kernel_log.LOG_ENDS,
    "[    7.500000] reboot: Power down",
]


# An atomic run as the guest logs it: the TEST_ONLY check of a handover,
# its commit, and a teardown commit that sets no mode.
_STATE = "[drm:drm_atomic_state_init [drm]] Allocated atomic state (____ptrval____)"
ATOMIC = [
    (2.10, _STATE),
    (2.10, "[drm:drm_atomic_set_mode_prop_for_crtc [drm]] Set [MODE:1280x800] for "
           "[CRTC:38:crtc-0] state (____ptrval____)"),
    (2.11, "[drm:drm_atomic_check_only [drm]] checking (____ptrval____)"),
    (2.11, "[drm:__drm_atomic_state_free [drm]] Freeing atomic state (____ptrval____)"),
    (2.12, _STATE),
    (2.12, "[drm:drm_atomic_set_mode_prop_for_crtc [drm]] Set [MODE:1280x800] for "
           "[CRTC:39:crtc-1] state (____ptrval____)"),
    (2.13, "[drm:drm_atomic_check_only [drm]] checking (____ptrval____)"),
    (2.14, "[drm:drm_atomic_commit [drm]] committing (____ptrval____)"),
    (7.20, _STATE),
    (7.20, "[drm:drm_atomic_set_mode_prop_for_crtc [drm]] Set [NOMODE] for "
           "[CRTC:39:crtc-1] state (____ptrval____)"),
    (7.21, "[drm:drm_atomic_commit [drm]] committing (____ptrval____)"),
    # the console takes the screen back after the program closed the device
    (7.30, _STATE),
    (7.30, "[drm:drm_atomic_set_mode_for_crtc [drm]] Set [MODE:1280x800] for "
           "[CRTC:38:crtc-0] state (____ptrval____)"),
    (7.31, "[drm:drm_atomic_commit [drm]] committing (____ptrval____)"),
]


class KernelLogTest(unittest.TestCase):
    def test_atomic_commits_count_committed_modes_only(self) -> None:
        records = [kernel_log.Record(7, t, text) for t, text in ATOMIC]
        self.assertEqual(kernel_log.atomic_commits(records), [kernel_log.SetCrtc(2.14, 1)])

    def setUp(self) -> None:
        self.records = kernel_log.parse(CONSOLE)

    def test_parse_keeps_only_the_log_with_levels_and_times(self) -> None:
        self.assertEqual(len(self.records), 11)
        first, marker = self.records[0], self.records[3]
        self.assertEqual((first.level, first.time, first.text), (6, 0.0, "Linux version 6.1.0"))
        # User-space messages carry facility 1: <12> is level 4.
        self.assertEqual((marker.level, marker.time), (4, 2.0))

    def test_continuation_lines_join_their_record(self) -> None:
        records = kernel_log.parse([kernel_log.LOG_BEGINS, "<4>[ 1.0] WARNING: at x",
                                    "Modules linked in: drm", kernel_log.LOG_ENDS])
        self.assertEqual(len(records), 1)
        self.assertEqual(records[0].text, "WARNING: at x\nModules linked in: drm")

    def test_missing_log_or_program_start(self) -> None:
        with self.assertRaisesRegex(ValueError, "no complete kernel log"):
            kernel_log.parse(CONSOLE[:-2])
        with self.assertRaisesRegex(ValueError, "program starting"):
            kernel_log.program_records(self.records[:3])

    def test_program_records_start_at_the_marker(self) -> None:
        during = kernel_log.program_records(self.records)
        self.assertIn(kernel_log.PROGRAM_STARTS, during[0].text)
        self.assertEqual(len(during), 8)

    def test_each_run_of_a_boot_ends_at_its_exit_status(self) -> None:
        second = [kernel_log.Record(4, 8.0, kernel_log.PROGRAM_STARTS),
                  kernel_log.Record(7, 8.1, "[drm:drm_mode_setcrtc [drm]] [CRTC:35:crtc-0]")]
        records = self.records + second
        self.assertEqual(kernel_log.program_records(records)[-1].text,
                         "crtc-relay-init: crtc-relay exit status: 1")
        self.assertEqual(kernel_log.run_records(records, 1), second)  # it never ended
        with self.assertRaisesRegex(ValueError, "run 3"):
            kernel_log.run_records(records, 2)

    def test_errors_and_trouble(self) -> None:
        cases = (
            # (level, text, is error, is trouble)
            (3, "[drm:r100_cp_init [radeon]] *ERROR* Failed to load firmware!", True, False),
            (7, "[drm:drm_mode_setcrtc [drm]] [CRTC:35:crtc-0]", False, False),
            (4, "[drm:drm_crtc_helper_set_config [drm_kms_helper]] failed", True, False),
            (6, "[drm] *ERROR* at info level", True, False),
            (2, "some driver: crit failure", True, False),
            (4, "WARNING: CPU: 0 PID: 93 at drivers/gpu/drm/drm_atomic.c:1", False, True),
            (1, "BUG: kernel NULL pointer dereference, address: 0000000000000000", True, True),
            (4, "Oops: 0000 [#1] PREEMPT SMP NOPTI", False, True),
            (4, "divide error: 0000 [#1] PREEMPT SMP NOPTI", False, True),
            (6, "fbcon: radeondrmfb (fb0) is primary device", False, False),
        )
        for level, text, is_error, is_trouble in cases:
            record = kernel_log.Record(level, 1.0, text)
            with self.subTest(text):
                self.assertEqual(bool(kernel_log.errors([record])), is_error)
                self.assertEqual(bool(kernel_log.trouble([record])), is_trouble)

    def test_setcrtc_calls_and_framebuffers(self) -> None:
        calls = kernel_log.setcrtc_calls(self.records)
        self.assertEqual([(c.time, c.crtc_index) for c in calls], [(2.2, 0), (7.25, 1)])
        self.assertEqual(kernel_log.framebuffers_added(self.records), [37])
        self.assertEqual(kernel_log.framebuffers_removed_in_use(self.records), [(37, 7.3)])

    def test_timeline_of_the_program_from_its_start(self) -> None:
        events = [(round(moment, 3), text.split("] ", 1)[-1][:22])
                  for moment, text in kernel_log.timeline(self.records)]
        self.assertEqual(events, [
            (0.0, "crtc-relay-init: start"),
            (0.1, "[FB:37]"),
            (0.2, "[CRTC:35:crtc-0]"),
            (5.25, "[CRTC:36:crtc-1]"),
            (5.3, "Removing [FB:37] from "),
            (5.4, "crtc-relay-init: crtc-"),
        ])
        error = kernel_log.Record(3, 3.0, "[drm:x] *ERROR* lost")
        with_error = sorted(self.records + [error], key=lambda r: r.time)
        self.assertIn((1.0, error.text), kernel_log.timeline(with_error))


if __name__ == "__main__":
    unittest.main()
