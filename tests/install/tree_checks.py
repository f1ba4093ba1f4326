"""Checks shared by the installed-tree and the package tests: what an
installed crtc-relay tree holds, and a bounded run of its programs on its
own default device description."""
import json
import os
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


class TreeChecks:
    """Mixed into a unittest.TestCase."""

    def check_versions(self, root, version, programs=("testpattern", "drmsim-run")):
        for program in programs:
            with self.subTest(program=program):
                result = subprocess.run([os.path.join(root, "bin", program), "--version"],
                                        capture_output=True, text=True, check=False)
                self.assertEqual((result.returncode, result.stdout, result.stderr),
                                 (0, f"{program} {version}\n", ""))

    def check_relay_on_default_device(self, root, work):
        """Runs the tree's drmsim-run and crtc-relay on the tree's default
        device on the virtual clock, with input at 12.5 s: the screen goes
        to CRTCs 0, 1 and 2, and the program leaves nothing behind."""
        os.makedirs(work, exist_ok=True)
        journal, report = os.path.join(work, "journal"), os.path.join(work, "report.json")
        for stale in (journal, report):
            if os.path.exists(stale):
                os.remove(stale)
        command = [os.path.join(root, "bin", "drmsim-run"), "--virtual-clock",
                   "--event", "input@12.5", "--journal", journal, "--report", report, "--",
                   os.path.join(root, "bin", "crtc-relay"), os.path.join(root, DEFAULT_DEVICE)]
        # Standard input: a pipe that stays open and empty, so that only the
        # scheduled input event ends the run.
        quiet_read, quiet_write = os.pipe()
        try:
            result = subprocess.run(command, stdin=quiet_read, capture_output=True, text=True,
                                    timeout=60, check=False)
        finally:
            os.close(quiet_read)
            os.close(quiet_write)
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (0, "Using screen HDMI-A-0, resolution 1920x1080\n", ""))
        with open(journal, encoding="utf-8") as lines:
            calls = [json.loads(line) for line in lines]
        shown_on = [call["crtc_index"] for call in calls
                    if call["request"] == "SETCRTC" and call["mode"] is not None]
        self.assertEqual(shown_on, [0, 1, 2])
        self.assertTrue(all(call["result"] == 0 for call in calls), calls)
        with open(report, encoding="utf-8") as f:
            self.assertEqual(json.load(f), {"closed": True, "framebuffers": [],
                                            "dumb_buffers": [], "mappings": 0})
