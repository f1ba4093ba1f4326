"""`cmake --install` of this build tree into a scratch prefix: the files
it puts in place, the programs' versions, and a run of the installed
drmsim-run and crtc-relay on the installed default device, in place and
after the whole tree was moved elsewhere.

usage: install_test.py --build DIR --source DIR --work DIR --version V --private-libdir DIR
"""
import argparse
import os
import shutil
import subprocess
import sys
import unittest

from tree_checks import TreeChecks, expected_files, files_under, DEVICES

ARGS = None


class InstalledTree(unittest.TestCase, TreeChecks):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(ARGS.work, ignore_errors=True)
        cls.prefix = os.path.join(ARGS.work, "prefix")
        subprocess.run(["cmake", "--install", ARGS.build, "--prefix", cls.prefix],
                       check=True, stdout=subprocess.DEVNULL)

    def test_files_in_place(self):
        self.assertEqual(files_under(self.prefix),
                         expected_files(ARGS.source, ARGS.private_libdir))
        for program in ("crtc-relay", "testpattern", "drmsim-run"):
            with self.subTest(program=program):
                self.assertTrue(os.access(os.path.join(self.prefix, "bin", program), os.X_OK))

    def test_no_build_or_source_path_in_drmsim_run(self):
        with open(os.path.join(self.prefix, "bin", "drmsim-run"), encoding="utf-8") as f:
            script = f.read()
        for tree in (os.path.realpath(ARGS.build), os.path.realpath(ARGS.source)):
            self.assertNotIn(tree, script)

    def test_help_names_the_installed_devices(self):
        result = subprocess.run([os.path.join(self.prefix, "bin", "drmsim-run"), "--help"],
                                capture_output=True, text=True, check=True)
        self.assertIn("device descriptions: " + os.path.realpath(os.path.join(self.prefix, DEVICES))
                      + "\n", result.stdout)

    def test_versions(self):
        self.check_versions(self.prefix, ARGS.version)

    def test_runs_in_place_and_moved(self):
        self.check_relay_on_default_device(self.prefix, os.path.join(ARGS.work, "in-place"))
        moved = os.path.join(ARGS.work, "moved")
        shutil.copytree(self.prefix, moved, symlinks=True)
        try:
            self.check_relay_on_default_device(moved, os.path.join(ARGS.work, "moved-run"))
        finally:
            shutil.rmtree(moved)

    def test_missing_preload_library_is_named(self):
        broken = os.path.join(ARGS.work, "broken")
        shutil.copytree(self.prefix, broken, symlinks=True)
        library = os.path.join(broken, ARGS.private_libdir, "libdrmsim.so")
        os.remove(library)
        result = subprocess.run([os.path.join(broken, "bin", "drmsim-run"), "--", "true"],
                                capture_output=True, text=True, check=False)
        shutil.rmtree(broken)
        self.assertEqual(result.returncode, 2)
        self.assertIn(os.path.realpath(library) + " is missing", result.stderr)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for option in ("--build", "--source", "--work", "--version", "--private-libdir"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=sys.argv[:1] + rest)
