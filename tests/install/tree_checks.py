"""Checks shared by the installed-tree and the package tests: what an
installed crtc-relay tree holds, and a bounded run of its programs on its
own default device description."""
import json
import os
import shutil
import subprocess

PROGRAMS = ("crtc-relay", "testpattern", "drmsim-run")
MAN_PAGES = tuple(f"share/man/man1/{program}.1.gz" for program in PROGRAMS)
DEVICES = "share/crtc-relay/devices"
DEFAULT_DEVICE = DEVICES + "/hdmi-3crtc.json"


def expected_files(source_dir, private_libdir):
    """Every file an installed tree holds, relative to its root."""
    files = {f"bin/{program}" for program in PROGRAMS}
    files |= set(MAN_PAGES)
    files.add(f"{private_libdir}/libdrmsim.so")
    files |= {"share/doc/crtc-relay/copyright", "share/doc/crtc-relay/changelog.gz"}
    files |= {f"{DEVICES}/{name}" for name in os.listdir(os.path.join(source_dir, "devices"))
              if name.endswith(".json")}
    return files


def files_under(root):
    found = set()
    for folder, _, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


def run_with_quiet_stdin(command):
    """Runs command with standard input a pipe that stays open and empty,
    so that nothing but the run's own bound ends it."""
    quiet_read, quiet_write = os.pipe()
    try:
        return subprocess.run(command, stdin=quiet_read, capture_output=True, text=True,
                              timeout=60, check=False)
    finally:
        os.close(quiet_read)
        os.close(quiet_write)


def read_journal(path):
    with open(path, encoding="utf-8") as lines:
        return [json.loads(line) for line in lines]


def crtcs_shown_on(calls):
    """The CRTC index of each SETCRTC that set a mode, in order."""
    return [call["crtc_index"] for call in calls
            if call["request"] == "SETCRTC" and call["mode"] is not None]


class TreeChecks:
    """Mixed into a unittest.TestCase."""

    def check_versions(self, root, version):
        for program in PROGRAMS:
            with self.subTest(program=program):
                result = subprocess.run([os.path.join(root, "bin", program), "--version"],
                                        capture_output=True, text=True, check=False)
                self.assertEqual((result.returncode, result.stdout, result.stderr),
                                 (0, f"{program} {version}\n", ""))

    def check_relay_on_default_device(self, root, work):
        """Runs the tree's drmsim-run and crtc-relay on the tree's default
        device twice: on the virtual clock with input at 12.5 s, and on the
        real clock with two quick handovers. Either way the screen goes to
        CRTCs 0, 1 and 2, and the program leaves nothing behind."""
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        runs = {
            "virtual-clock": (["--virtual-clock", "--event", "input@12.5"], []),
            "real-clock": ([], ["--handovers", "2", "--period", "0.05"]),
        }
        for name, (runner_options, program_options) in runs.items():
            with self.subTest(run=name):
                journal = os.path.join(work, name + ".journal")
                report = os.path.join(work, name + ".report")
                result = run_with_quiet_stdin(
                    [os.path.join(root, "bin", "drmsim-run"), *runner_options,
                     "--journal", journal, "--report", report, "--",
                     os.path.join(root, "bin", "crtc-relay"), *program_options,
                     os.path.join(root, DEFAULT_DEVICE)])
                self.assertEqual((result.returncode, result.stdout, result.stderr),
                                 (0, "Using screen HDMI-A-0, resolution 1920x1080\n", ""))
                calls = read_journal(journal)
                self.assertEqual(crtcs_shown_on(calls), [0, 1, 2])
                self.assertTrue(all(call["result"] == 0 for call in calls), calls)
                with open(report, encoding="utf-8") as f:
                    left = json.load(f)
                # Nothing left behind: closed, every list empty, every count 0.
                self.assertIs(left.pop("closed"), True)
                self.assertIn("framebuffers", left)
                self.assertEqual({key: value for key, value in left.items() if value}, {})
