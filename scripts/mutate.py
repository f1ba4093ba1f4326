#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Mutation testing: do the tests notice a planted fault?

Plants one realistic single-operator fault at a time in the given C++ files
(a comparison or boundary flipped, a condition dropped, a call or an
assignment deleted, two arguments swapped, a constant off by one), rebuilds
only the test programs that cover the file, runs the CTest labels covering
it, and records whether a test failed (killed) or none did (survived). The
file is restored after each mutant and the tree is checked clean at the end.

    nice scripts/mutate.py                      # files changed since main
    nice scripts/mutate.py app/verify.cpp kms/  # files, or every source in a folder
    nice scripts/mutate.py --max 40 --seed 7 app kms sim

Run it from a scratch clone or worktree of its own with a configured build
(`cmake --preset test && cmake --build --preset test`): it edits the files
in place while it runs. Mutants that do not compile are skipped and not
counted. Mutants listed in scripts/mutate-equivalents.txt (no input can tell
them from the original) are reported as equivalent and not counted either.
"""

import argparse
import json
import random
import re
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
EQUIVALENTS = ROOT / "scripts" / "mutate-equivalents.txt"

# The labels whose tests exercise a folder, cheapest first: a killed mutant
# stops at the first label that fails.
LABELS_BY_FOLDER = {
    "app": ["app"],
    "kms": ["kms", "app"],
    "sim": ["sim", "kms", "app"],
    "pattern": ["pattern", "app"],
    "tools": ["pattern"],
    "util": ["sim", "pattern"],
}

KEYWORDS = {"if", "for", "while", "switch", "return", "sizeof", "case", "else", "do",
            "static_cast", "reinterpret_cast", "const_cast", "alignof", "decltype", "catch"}


@dataclass
class Mutant:
    path: str      # relative to the tree
    line: int      # 1-based
    operator: str  # cmp, logic, cond, call, assign, swap, const
    original: str  # the whole line before
    mutated: str   # the whole line after
    result: str = ""
    detail: str = ""
    seconds: float = 0.0

    def key(self):
        return (self.path, self.original.strip(), self.mutated.strip())

    def change(self):
        a, b = self.original.strip(), self.mutated.strip()
        return f"{a}  =>  {b}" if b else f"{a}  =>  (deleted)"


# --- Finding mutation sites -------------------------------------------------

def masked_lines(text):
    """The file's lines with comments, string and character literals and
    preprocessor lines blanked out (same lengths), so that operators are
    only found in code."""
    out, in_block = [], False
    for line in text.split("\n"):
        chars, i, n = list(line), 0, len(line)
        if not in_block and line.lstrip().startswith("#"):
            out.append(" " * n)
            continue
        while i < n:
            if in_block:
                end = line.find("*/", i)
                stop = n if end < 0 else end + 2
                chars[i:stop] = " " * (stop - i)
                in_block, i = end < 0, stop
            elif line.startswith("//", i):
                chars[i:] = " " * (n - i)
                break
            elif line.startswith("/*", i):
                in_block = True
            elif line[i] in "\"'":
                quote, j = line[i], i + 1
                if quote == "'" and i > 0 and line[i - 1].isalnum():
                    i += 1  # digit separator 1'000
                    continue
                while j < n and line[j] != quote:
                    j += 2 if line[j] == "\\" else 1
                chars[i + 1:min(j, n)] = "_" * (min(j, n) - i - 1)
                i = j + 1
            else:
                i += 1
        out.append("".join(chars))
    return out


def matching_paren(code, start):
    depth = 0
    for i in range(start, len(code)):
        if code[i] == "(":
            depth += 1
        elif code[i] == ")":
            depth -= 1
            if depth == 0:
                return i
    return -1


def top_level_split(code, start, end, operators):
    """Positions of the given binary operators at parenthesis depth 0 in
    code[start:end]."""
    depth, found = 0, []
    for i in range(start, end):
        c = code[i]
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
        elif depth == 0:
            for op in operators:
                if code.startswith(op, i):
                    found.append((i, op))
    return found


def replace(line, start, end, text):
    return line[:start] + text + line[end:]


COMPARISONS = {" < ": " <= ", " <= ": " < ", " > ": " >= ", " >= ": " > ",
               " == ": " != ", " != ": " == "}
ASSIGNMENT = re.compile(r"^\s*(\*?[A-Za-z_][\w.\[\]>-]*)\s*(=|\+=|-=|\*=|/=|\|=|&=|\^=|<<=|>>=)\s[^;]*;\s*$")
STEP = re.compile(r"^\s*(\+\+|--)?[A-Za-z_][\w.\[\]>-]*(\+\+|--)?;\s*$")
CALL_STATEMENT = re.compile(r"^\s*[A-Za-z_][\w:.\[\]>-]*\s*\(.*\);\s*$")
TWO_ARGS = re.compile(r"\b([A-Za-z_]\w*)\(([^(), ]+), ([^(), ]+)\)")
INTEGER = re.compile(r"(?<![\w.])(\d+)([uUlL]*)(?![\w.'])")


def statement_start(masked, index):
    """Whether masked[index] starts a statement (the code before it ends one)."""
    for prev in reversed(masked[:index]):
        if prev.strip():
            s = prev.rstrip()
            return s.endswith((";", "{", "}", ")", ":")) or s.endswith("else")
    return True


def line_mutants(path, lines, masked, index):
    line, code = lines[index], masked[index]
    number, found = index + 1, []

    def add(op, mutated):
        if mutated != line:
            found.append(Mutant(path, number, op, line, mutated))

    for op, other in COMPARISONS.items():
        for m in re.finditer(re.escape(op), code):
            add("cmp", replace(line, m.start(), m.end(), other))
    for op, other in ((" && ", " || "), (" || ", " && ")):
        for m in re.finditer(re.escape(op), code):
            add("logic", replace(line, m.start(), m.end(), other))

    # A dropped condition: one operand of an if's && / || chain left out,
    # or an if with a single condition never taken.
    for m in re.finditer(r"\bif \(", code):
        open_at = m.end() - 1
        close_at = matching_paren(code, open_at)
        if close_at < 0:
            continue
        # if (init; condition): keep the init statement.
        semi = top_level_split(code, open_at + 1, close_at, ("; ",))
        start = semi[-1][0] + 2 if semi else open_at + 1
        parts = top_level_split(code, start, close_at, (" && ", " || "))
        if not parts:
            add("cond", replace(line, start, close_at, "false"))
            continue
        if len({op for _, op in parts}) != 1:
            continue
        bounds = [start] + [p + len(op) for p, op in parts]
        ends = [p for p, _ in parts] + [close_at]
        for k in range(len(bounds)):
            if k == 0:
                add("cond", replace(line, bounds[0], bounds[1], ""))
            else:
                add("cond", replace(line, ends[k - 1], ends[k], ""))

    # Deleted statements: a call, an assignment, an increment.
    first = code.strip().split("(")[0].split(" ")[0]
    if statement_start(masked, index) and first not in KEYWORDS and first != "delete":
        if (ASSIGNMENT.match(code) or STEP.match(code)) and "==" not in code.split("=")[0]:
            add("assign", line[:len(line) - len(line.lstrip())] + "{}")
        elif CALL_STATEMENT.match(code) and matching_paren(code, code.index("(")) == len(code.rstrip()) - 2:
            add("call", line[:len(line) - len(line.lstrip())] + "{}")

    for m in TWO_ARGS.finditer(code):
        if m.group(1) in KEYWORDS or m.group(2).strip() == m.group(3).strip():
            continue
        a, b = m.span(2), m.span(3)
        add("swap", line[:a[0]] + line[b[0]:b[1]] + ", " + line[a[0]:a[1]] + line[b[1]:])

    for m in INTEGER.finditer(code):
        if m.start() > 0 and code[m.start() - 1] in "xX":
            continue
        value = int(m.group(1))
        for other in ([1] if value == 0 else [value - 1, value + 1]):
            add("const", replace(line, m.start(1), m.end(1), str(other)))
    return found


def file_mutants(path):
    text = (ROOT / path).read_text()
    lines, masked = text.split("\n"), masked_lines(text)
    mutants = []
    for index in range(len(lines)):
        # static_assert and tables of constants checked at compile time are
        # not behaviour: skip them.
        if "static_assert" in masked[index]:
            continue
        mutants += line_mutants(path, lines, masked, index)
    return mutants


# --- Running ----------------------------------------------------------------

def run(cmd, timeout=None):
    return subprocess.run(cmd, cwd=ROOT, capture_output=True, text=True, timeout=timeout)


def git_clean(paths):
    return run(["git", "diff", "--quiet", "--", *paths]).returncode == 0


def source_files(args):
    names = args.files
    if not names:
        out = run(["git", "diff", "--name-only", args.base, "--", *LABELS_BY_FOLDER])
        if out.returncode != 0:
            sys.exit(f"mutate.py: git diff against {args.base} failed: {out.stderr.strip()}")
        names = out.stdout.split()
    files = []
    for name in names:
        p = (ROOT / name).resolve()
        found = sorted(p.rglob("*")) if p.is_dir() else [p]
        files += [str(f.relative_to(ROOT)) for f in found
                  if f.suffix in (".cpp", ".h") and f.is_file()]
    return files


def labels_for(path, override):
    if override:
        return override
    return LABELS_BY_FOLDER.get(Path(path).parts[0], ["app"])


def targets_for(build, labels):
    """The programs the labels' tests run, which a rebuild must bring up to
    date (their own dependencies follow)."""
    out = run(["ctest", "--test-dir", str(build), "--show-only=json-v1",
               "-L", "^(" + "|".join(labels) + ")$"])
    targets = set()
    for test in json.loads(out.stdout or "{}").get("tests", []):
        command = test.get("command") or []
        if command and Path(command[0]).resolve().is_relative_to(build.resolve()):
            targets.add(Path(command[0]).name)
    return sorted(targets)


def run_labels(build, labels, timeout):
    """The first label whose tests fail, with the failing test's name."""
    resources = ROOT / "tests" / "resources.json"
    for label in labels:
        cmd = ["ctest", "--test-dir", str(build), "-L", f"^{label}$", "-j2",
               "--stop-on-failure", "--timeout", str(timeout), "--no-tests=error"]
        if resources.exists():
            cmd += ["--resource-spec-file", str(resources)]
        out = run(cmd)
        if out.returncode != 0:
            failed = re.findall(r"^\s*\d+ - (\S+).*\((?:Failed|Timeout|SEGFAULT|Subprocess aborted|"
                                r"Exception|ILLEGAL)", out.stdout, re.M)
            return f"{label}: {failed[0] if failed else 'failed'}"
    return None


def read_equivalents():
    """(path, original line, mutated line) -> why no input tells them apart."""
    known = {}
    if EQUIVALENTS.exists():
        for raw in EQUIVALENTS.read_text().splitlines():
            if raw.strip() and not raw.startswith("#"):
                parts = [p.strip() for p in raw.split("\t")]
                if len(parts) == 4:
                    known[tuple(parts[:3])] = parts[3]
    return known


def test_mutant(m, build, labels, targets, timeout):
    path = ROOT / m.path
    original = path.read_bytes()
    lines = original.decode().split("\n")
    lines[m.line - 1] = m.mutated
    started = time.monotonic()
    try:
        path.write_text("\n".join(lines))
        built = run(["cmake", "--build", str(build), "--target", *targets])
        if built.returncode != 0:
            m.result, m.detail = "skipped", "does not compile"
        else:
            killer = run_labels(build, labels, timeout)
            m.result = "killed" if killer else "survived"
            m.detail = killer or ""
    finally:
        path.write_bytes(original)
    m.seconds = time.monotonic() - started


def print_table(tested):
    print(f"\n{'result':<10} {'where':<28} {'op':<6} change / detail")
    for m in tested:
        print(f"{m.result:<10} {m.path + ':' + str(m.line):<28} {m.operator:<6} {m.change()}")
        if m.detail:
            print(f"{'':<46} {m.detail}")
    folders = sorted({Path(m.path).parts[0] for m in tested})
    print()
    for folder in folders + [None]:
        group = [m for m in tested if folder is None or Path(m.path).parts[0] == folder]
        killed = sum(m.result == "killed" for m in group)
        survived = sum(m.result == "survived" for m in group)
        counted = killed + survived
        rate = f"{100.0 * killed / counted:.0f} %" if counted else "n/a"
        print(f"{folder or 'all':<8} killed {killed} of {counted} ({rate}); "
              f"equivalent {sum(m.result == 'equivalent' for m in group)}, "
              f"not compiling {sum(m.result == 'skipped' for m in group)}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("files", nargs="*", help="files or folders (default: changed since --base)")
    parser.add_argument("--base", default="main", help="commit to compare with (default main)")
    parser.add_argument("--build", default="build/test", help="configured build folder")
    parser.add_argument("--labels", nargs="+", help="CTest labels to run instead of the folder's")
    parser.add_argument("--max", type=int, default=0, help="stop after N compiled mutants")
    parser.add_argument("--seed", type=int, default=1, help="shuffle the mutants with this seed")
    parser.add_argument("--operators", nargs="+", help="only these (cmp logic cond call assign swap const)")
    parser.add_argument("--timeout", type=int, default=120, help="seconds per test")
    parser.add_argument("--list", action="store_true", help="print the mutants, run nothing")
    parser.add_argument("--record", help="write the results to this JSON file")
    parser.add_argument("--again", help="run only the survivors of a recorded run, found by their text")
    args = parser.parse_args()

    files = source_files(args)
    if not files:
        sys.exit(f"mutate.py: no C++ sources changed since {args.base}; name files or folders")
    if not git_clean(files):
        sys.exit("mutate.py: commit or stash the changes to these files first")
    mutants = [m for f in files for m in file_mutants(f)
               if not args.operators or m.operator in args.operators]
    random.Random(args.seed).shuffle(mutants)
    if args.again:
        survivors = {tuple(r["key"]) for r in json.loads(Path(args.again).read_text())
                     if r["result"] == "survived"}
        mutants = [m for m in mutants if m.key() in survivors]
    if args.list:
        for m in mutants:
            print(f"{m.path}:{m.line} {m.operator} {m.change()}")
        print(f"{len(mutants)} mutants in {len(files)} files")
        return 0

    build = (ROOT / args.build)
    equivalents = read_equivalents()
    targets_cache, tested, compiled = {}, [], 0
    try:
        for m in mutants:
            if args.max and compiled >= args.max:
                break
            if m.key() in equivalents:
                m.result, m.detail = "equivalent", equivalents[m.key()]
                tested.append(m)
                continue
            labels = tuple(labels_for(m.path, args.labels))
            if labels not in targets_cache:
                targets_cache[labels] = targets_for(build, labels)
            test_mutant(m, build, list(labels), targets_cache[labels], args.timeout)
            compiled += m.result != "skipped"
            tested.append(m)
            print(f"[{compiled}] {m.result:<9} {m.path}:{m.line} {m.operator} "
                  f"({m.seconds:.0f} s) {m.detail}", flush=True)
    finally:
        if not git_clean(files):
            print("mutate.py: the tree is not clean after restoring!", file=sys.stderr)
            return 1
        # Leave the build matching the tree, not the last mutant.
        for targets in targets_cache.values():
            run(["cmake", "--build", str(build), "--target", *targets])
    print_table(tested)
    if args.record:
        Path(args.record).write_text(json.dumps(
            [{"key": m.key(), "line": m.line, "operator": m.operator, "result": m.result,
              "detail": m.detail} for m in tested], indent=1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
