# SPDX-License-Identifier: MIT
"""Checks the JSON Lines report that `crtc-relay --report -` writes, as a
CI job would read it (its schema is in the top-level README)."""

import json


def problems(lines: list[str], crtcs: tuple[int, ...], exit_status: int,
             verified: bool, crc: bool = False) -> list[str]:
    """What is wrong with the report of a run that ended after its last
    handover; empty when it is right. `crtcs` are the CRTC indices of the
    mode sets in order; `verified` says whether --verify was given, `crc`
    whether it checked CRCs (each set then carries 3 equal entries of
    advancing frames)."""
    events = []
    for number, line in enumerate(lines, 1):
        try:
            events.append(json.loads(line))
        except json.JSONDecodeError as error:
            return [f"line {number} is not JSON ({error}): {line!r}"]
    if len(events) != len(crtcs) + 2:
        return [f"{len(events)} lines, expected start, {len(crtcs)} sets and end"]
    found = []
    start, sets, end = events[0], events[1:-1], events[-1]
    if start.get("event") != "start":
        found.append(f"first line is not the start: {start}")
    cycle = sorted(set(crtcs))
    if [c.get("index") for c in start.get("crtcs", [])] != cycle:
        found.append(f"start lists CRTCs {start.get('crtcs')}, expected indices {cycle}")
    ids = {c.get("index"): c.get("id") for c in start.get("crtcs", [])}
    durations = []
    for step, (event, crtc) in enumerate(zip(sets, crtcs)):
        wanted = {"event": "set", "step": step, "crtc": {"index": crtc, "id": ids.get(crtc)},
                  "result": 0, "verified": True if verified else None}
        differing = {key: event.get(key) for key, value in wanted.items()
                     if event.get(key) != value}
        if differing:
            found.append(f"set {step}: {differing}, expected {wanted}")
        durations.append(event.get("duration_us"))
        entries, frames = event.get("crc"), event.get("frames")
        if crc and not (isinstance(entries, list) and len(entries) == 3 and entries[0]
                        and entries.count(entries[0]) == 3 and isinstance(frames, list)
                        and len(frames) == 3 and frames == sorted(set(frames))):
            found.append(f"set {step}: CRC entries {entries} of frames {frames}, expected 3 "
                         "equal ones of advancing frames")
    times = [event.get("t") for event in events]
    if not all(isinstance(t, (int, float)) for t in times) or times != sorted(times):
        found.append(f"times are not in order: {times}")
    wanted_end = {"event": "end", "reason": "handovers", "status": exit_status,
                  "sets": len(crtcs)}
    differing = {key: end.get(key) for key, value in wanted_end.items() if end.get(key) != value}
    if differing:
        found.append(f"end: {differing}, expected {wanted_end}")
    if all(isinstance(d, int) for d in durations) and durations:
        summary = {"min": min(durations), "median": sorted(durations)[(len(durations) - 1) // 2],
                   "max": max(durations)}
        if end.get("duration_us") != summary:
            found.append(f"end durations {end.get('duration_us')}, the sets give {summary}")
    else:
        found.append(f"set durations are not all whole microseconds: {durations}")
    return found
