# SPDX-License-Identifier: MIT
"""The manual pages render without a single groff warning, and a page whose
program has --help names exactly the options --help names.

usage: check_man_pages.py PAGE[=PROGRAM]...
"""
import re
import subprocess
import sys
import unittest

OPTION = re.compile(r"(?<![\w-])--[a-z][a-z-]*[a-z]")


def groff(page, device):
    # -ww: every warning; -rHY=0: no hyphenation, so options stay whole.
    return subprocess.run(["groff", "-man", "-ww", "-rHY=0", "-T" + device, "-P-cbou", page]
                          if device == "ascii" else
                          ["groff", "-man", "-ww", "-z", "-T" + device, page],
                          capture_output=True, text=True, check=False)


class ManPages(unittest.TestCase):
    pages = []  # (path, program or None)

    def test_render_without_warnings(self):
        for page, _ in self.pages:
            for device in ("utf8", "ascii"):
                with self.subTest(page=page, device=device):
                    result = groff(page, device)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertEqual(result.stderr, "")

    def test_options_match_help(self):
        for page, program in self.pages:
            if program is None:
                continue
            with self.subTest(page=page):
                help_text = subprocess.run([program, "--help"], capture_output=True, text=True,
                                           check=True).stdout
                documented = set(OPTION.findall(groff(page, "ascii").stdout))
                offered = set(OPTION.findall(help_text))
                self.assertTrue(offered, "--help names no options")
                self.assertEqual(sorted(offered - documented), [], "missing from the page")
                self.assertEqual(sorted(documented - offered), [], "not offered by --help")


if __name__ == "__main__":
    for arg in sys.argv[1:]:
        path, _, program = arg.partition("=")
        ManPages.pages.append((path, program or None))
    unittest.main(argv=sys.argv[:1])
