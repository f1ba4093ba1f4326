# SPDX-License-Identifier: MIT
"""Puts an SPDX-License-Identifier line at the top of every tracked source
file that lacks one (after a #! line), in the file's comment syntax.

usage: scripts/add_spdx.py [SOURCE_DIR]
"""
import os
import subprocess
import sys

LINE = "SPDX-License-Identifier: MIT"
EXEMPT_SUFFIXES = (".json", ".md", ".1.in", ".lintian-overrides")
EXEMPT_NAMES = {"LICENSE", "copyright", "changelog.in", ".gitignore", ".clang-format"}
SLASH_COMMENTS = (".cpp", ".h", ".c")
BLOCK_COMMENTS = (".map",)


def comment(path):
    if path.endswith(SLASH_COMMENTS):
        return f"// {LINE}\n"
    if path.endswith(BLOCK_COMMENTS):
        return f"/* {LINE} */\n"
    return f"# {LINE}\n"


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else "."
    listed = subprocess.run(["git", "-C", source, "ls-files", "-z"], capture_output=True, text=True,
                            check=True).stdout.split("\0")
    for path in listed:
        if not path or path.endswith(EXEMPT_SUFFIXES) or os.path.basename(path) in EXEMPT_NAMES:
            continue
        full = os.path.join(source, path)
        with open(full, encoding="utf-8") as f:
            lines = f.readlines()
        if any(LINE in line for line in lines[:3]):
            continue
        at = 1 if lines and lines[0].startswith("#!") else 0
        lines.insert(at, comment(path))
        with open(full, "w", encoding="utf-8") as f:
            f.writelines(lines)
        print("added to", path)


if __name__ == "__main__":
    main()
