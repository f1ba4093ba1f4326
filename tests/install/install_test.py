# SPDX-License-Identifier: MIT
"""`cmake --install` of this build tree into a scratch prefix: the files
it puts in place, the programs' versions, a run of the installed
drmsim-run and crtc-relay on the installed default device, in place and
after the whole tree was moved elsewhere; the libraries, their headers and
the example built against them; bash completion driven as bash drives it.

usage: install_test.py --build DIR --source DIR --work DIR --version V --private-libdir DIR
                       --libdir DIR --config BUILD_TYPE
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import unittest

import jsonschema

from tree_checks import (TreeChecks, expected_files, files_under, run_with_quiet_stdin, COMPLETIONS,
                         DEFAULT_DEVICE, DEVICES, EXAMPLES)

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
                         expected_files(ARGS.source, ARGS.private_libdir, ARGS.libdir, ARGS.version,
                                        ARGS.config))
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

    def test_libraries_headers_and_example(self):
        self.check_libraries(self.prefix, ARGS.libdir)
        self.check_headers(os.path.join(self.prefix, "include"))
        self.check_example(self.prefix, os.path.join(self.prefix, EXAMPLES), ARGS.libdir,
                           os.path.join(ARGS.work, "example"),
                           dict(os.environ, LD_LIBRARY_PATH=os.path.join(self.prefix, ARGS.libdir)))

    def complete(self, cword, *words):
        """What bash-completion offers for words[cword] of the command line."""
        script = """
            source /usr/share/bash-completion/bash_completion
            source "$1/%s/$2"
            PATH=$1/bin:$PATH COMP_CWORD=$3
            shift 3
            COMP_WORDS=("$@") COMP_LINE="$*"
            COMP_POINT=$(( $(printf '%%s ' "${COMP_WORDS[@]:0:COMP_CWORD+1}" | wc -c) - 1 ))
            $(complete -p "$1" | sed -E 's/.* -F ([^ ]+) .*/\\1/') "$1" "${COMP_WORDS[COMP_CWORD]}" \
                "${COMP_WORDS[COMP_CWORD-1]}"
            printf '%%s\\n' "${COMPREPLY[@]}"
            """ % COMPLETIONS
        result = subprocess.run(["bash", "-c", script, "bash", self.prefix, words[0], str(cword), *words],
                                capture_output=True, text=True, timeout=60, check=False)
        self.assertEqual(result.stderr, "")
        return set(result.stdout.split())

    def test_bash_completion(self):
        devices = os.path.join(self.prefix, DEVICES)
        screens = os.path.join(devices, "three-screens.json")
        cases = [
            ((1, "crtc-relay", "--ha"), {"--handovers"}),
            ((2, "crtc-relay", "--screen", "", screens), set()),  # not a device outside drmsim-run
            ((2, "testpattern", "--format", "XR"), {"XR12", "XR15", "XR24", "XR30", "XR4H"}),
            ((2, "testpattern", "--pattern", ""), {"tiles", "plain", "smpte", "gradient"}),
            ((1, "drmsim-run", "--vir"), {"--virtual-clock"}),
            ((6, "drmsim-run", "--journal", "j", "--", "testpattern", "--format", "NV1"),
             {"NV12", "NV16"}),
            ((4, "drmsim-run", "--", "crtc-relay", "-s", "", screens),
             {"HDMI-A-0", "HDMI-A-1", "DisplayPort-0", "Unknown-0"}),
            ((4, "drmsim-run", "--", "crtc-relay", "-V", "hdmi"), {devices + "/hdmi-3crtc.json"}),
            ((2, "crtc-relay", "--pattern", "t"), {"tiles"}),
            ((4, "drmsim-run", "--", "crtc-relay", "--format", "X", screens), {"XR24", "XB24"}),
            ((2, "crtc-relay", "--report", self.prefix + "/share/doc/crtc-relay/R"),
             {self.prefix + "/share/doc/crtc-relay/README.md"}),
        ]
        for (cword, *words), expected in cases:
            with self.subTest(line=" ".join(words)):
                self.assertEqual(self.complete(cword, *words), expected)
        options = self.complete(1, "crtc-relay", "--")
        self.assertTrue({"--help", "--list", "--screen", "--atomic"} <= options, options)

    def test_reports_match_the_installed_schema(self):
        with open(os.path.join(self.prefix, "share/doc/crtc-relay/report.schema.json"),
                  encoding="utf-8") as f:
            validator = jsonschema.Draft202012Validator(json.load(f))
        runs = {"passing": [], "failing": ["--fail", "setcrtc:2:ignore"]}
        for name, runner_options in runs.items():
            with self.subTest(run=name):
                report = os.path.join(ARGS.work, name + ".jsonl")
                run_with_quiet_stdin([os.path.join(self.prefix, "bin", "drmsim-run"), *runner_options,
                                      "--", os.path.join(self.prefix, "bin", "crtc-relay"), "--verify",
                                      "--handovers", "2", "--period", "0.01", "--report", report,
                                      os.path.join(self.prefix, DEFAULT_DEVICE)])
                with open(report, encoding="utf-8") as f:
                    lines = [json.loads(line) for line in f]
                self.assertEqual(lines[-1]["status"], 0 if name == "passing" else 1)
                for line in lines:
                    self.assertEqual([error.message for error in validator.iter_errors(line)], [], line)

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
    for option in ("--build", "--source", "--work", "--version", "--private-libdir", "--libdir",
                   "--config"):
        parser.add_argument(option, required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=sys.argv[:1] + rest)
