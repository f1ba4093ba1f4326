# SPDX-License-Identifier: MIT
"""Every tracked source, script and build file names its licence on an
SPDX-License-Identifier line among its first three lines; only data and
documentation are exempt.

usage: check_spdx.py SOURCE_DIR
"""
import os
import subprocess
import sys
import unittest

LINE = "SPDX-License-Identifier: MIT"
# Files that cannot hold a comment, or are documentation, or state the
# licence themselves.
EXEMPT_SUFFIXES = (".json", ".md", ".1.in", ".lintian-overrides")
EXEMPT_NAMES = {"LICENSE", "copyright", "changelog.in", ".gitignore", ".clang-format"}


class SpdxLines(unittest.TestCase):
    source = None

    def test_every_tracked_source_has_its_line(self):
        listed = subprocess.run(["git", "-C", self.source, "ls-files", "-z"], capture_output=True,
                                text=True, check=True).stdout.split("\0")
        sources = [path for path in listed if path and not path.endswith(EXEMPT_SUFFIXES)
                   and os.path.basename(path) not in EXEMPT_NAMES]
        self.assertGreater(len(sources), 100)
        lacking = []
        for path in sources:
            with open(os.path.join(self.source, path), encoding="utf-8") as f:
                if not any(LINE in f.readline() for _ in range(3)):
                    lacking.append(path)
        self.assertEqual(lacking, [])


if __name__ == "__main__":
    SpdxLines.source = sys.argv.pop(1)
    unittest.main()
