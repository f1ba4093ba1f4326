#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Request kinds, object types and property names are compared or looked up
only through the tables that define them: no `== "SETCRTC"`, no
`find_request("setcrtc")`, no `commit.set(plane, "FB_ID", ...)` anywhere in
app/, kms/ or sim/ outside those tables."""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])


def names(path, pattern):
    found = re.findall(pattern, (root / path).read_text())
    if not found:
        sys.exit(f"no names found in {path}: the table changed shape, update this test")
    return set(found)


requests = names("sim/model/requests.cpp", r'\.name = "(\w+)"')
requests |= {n.upper() for n in requests}
objects = names("sim/model/object_types.cpp", r'"(\w+)"')
properties = names("sim/model/device.cpp", r'add_atomic\("(\w+)"')
properties |= names("kms/atomic.cpp", r'"([A-Z][A-Z_]+)"')
tables = {"sim/model/requests.cpp", "sim/model/object_types.cpp", "sim/model/device.cpp",
          "sim/model/device_writeback.cpp",
          "kms/atomic.cpp"}


def alternatives(words):
    return "|".join(sorted(map(re.escape, words)))


compared = re.compile(r'[=!]=\s*"(%s)"|"(%s)"\s*[=!]=' % ((alternatives(requests | objects | properties),) * 2))
# A request given to what takes one (find_request("setcrtc"),
# counts_["mmap"], starts_with("setcrtc:")), or a property as any call's
# argument (set(object, "FB_ID", 0)).
looked_up = re.compile(
    r'(?:find_request|failure|delay_ms|request_count|signal_at|starts_with|counts_)'
    r'[(\[]\s*"(%s)[":]|[(,]\s*"(%s)"' % (alternatives(requests), alternatives(properties)))

failures = []
for folder in ("app", "kms", "sim"):
    for path in sorted((root / folder).rglob("*")):
        if path.suffix not in (".cpp", ".h") or str(path.relative_to(root)) in tables:
            continue
        for number, line in enumerate(path.read_text().splitlines(), 1):
            line = re.sub(r"(^|\s)//\s.*$", "", line)
            if compared.search(line) or looked_up.search(line):
                failures.append(f"{path.relative_to(root)}:{number}: {line.strip()}")
if failures:
    print("named by a string literal outside its table:\n" + "\n".join(failures))
    sys.exit(1)
print(f"{len(requests) // 2} requests, {len(objects)} object types, {len(properties)} properties: "
      "named only through their tables")
