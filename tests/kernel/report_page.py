# SPDX-License-Identifier: MIT
"""The kernel label's HTML page: one self-contained file (pictures inline
as PNG data) with a section per row of the matrix that ran: verdict, the
program's output, the handover timeline from the kernel log, and each
screen content beside the expected picture.

    report_page.py --clear ROWS          before the label: forget earlier runs
    report_page.py --write ROWS PAGE     after it: write PAGE and print its path
"""

import argparse
import base64
import html
import json
import pathlib
import sys

from matrix import MATRIX
from row_report import RESULT_FILE

STYLE = """
body { font-family: sans-serif; margin: 1em 2em; }
table { border-collapse: collapse; margin: 0.5em 0; }
td, th { border: 1px solid #999; padding: 0.2em 0.6em; text-align: left; vertical-align: top; }
.pass { background: #cfc; } .fail { background: #fcc; } .none { color: #888; }
pre { background: #f4f4f4; padding: 0.4em; white-space: pre-wrap; }
figure { display: inline-block; margin: 0.3em 1em 0.3em 0; }
figure img { width: 400px; image-rendering: pixelated; border: 1px solid #666; }
.pair { margin: 0.6em 0; }
"""


def _results(rows: pathlib.Path) -> dict[str, dict]:
    results = {}
    for path in sorted(rows.glob(f"*/{RESULT_FILE}")):
        result = json.loads(path.read_text())
        result["folder"] = path.parent
        results[result["name"]] = result
    return results


def _image(folder: pathlib.Path, name: str | None, alt: str) -> str:
    if not name or not (folder / name).exists():
        return f"<p class=none>({html.escape(alt)}: none)</p>"
    data = base64.b64encode((folder / name).read_bytes()).decode()
    return f'<img src="data:image/png;base64,{data}" alt="{html.escape(alt)}">'


def _summary(results: dict[str, dict]) -> str:
    kernels = list(dict.fromkeys(case.kernel for case in MATRIX))
    rows = list(dict.fromkeys((case.display, case.name) for case in MATRIX))
    by_cell = {(case.kernel, case.display, case.name): case.test_name for case in MATRIX}
    out = ["<table><tr><th>display</th>"
           + "".join(f"<th>Linux {html.escape(k)}</th>" for k in kernels) + "</tr>"]
    for display, name in rows:
        label = display + (f" ({name})" if name else "")
        cells = []
        for kernel in kernels:
            test = by_cell.get((kernel, display, name))
            result = results.get(test) if test else None
            if result is None:
                cells.append("<td class=none>" + ("not run" if test else "") + "</td>")
            else:
                verdict = "pass" if result["passed"] else "fail"
                cells.append(f'<td class={verdict}><a href="#{html.escape(test)}">'
                             f"{verdict.upper()}</a></td>")
        out.append(f"<tr><td>{html.escape(label)}</td>{''.join(cells)}</tr>")
    out.append("</table>")
    return "\n".join(out)


def _section(result: dict) -> str:
    folder = result["folder"]
    verdict = "pass" if result["passed"] else "fail"
    out = [f'<h2 id="{html.escape(result["name"])}">{html.escape(result["name"])}: '
           f'<span class={verdict}>{verdict.upper()}</span></h2>',
           "<p>kernel " + html.escape(result["version"] or result["kernel"])
           + ", display " + html.escape(result["display"])
           + ", arguments " + html.escape(" ".join(result["arguments"]) or "(none)")
           + ", run ended: " + html.escape(result["ending"]) + "</p>",
           "<p>expected requests: " + html.escape("; ".join(result["requests"])) + "</p>",
           f"<pre>{html.escape(result['message'])}</pre>",
           "<h3>program output</h3>",
           f"<pre>{html.escape(chr(10).join(result['output'])) or '(none)'}</pre>",
           "<h3>timeline (kernel log, seconds from the program's start)</h3><table>"]
    out += [f"<tr><td>{moment:.3f}</td><td>{html.escape(text)}</td></tr>"
            for moment, text in result["timeline"]]
    out.append("</table><h3>screen (left) and expected picture (right)</h3>")
    expected = _image(folder, result["expected_picture"], "expected picture")
    for screen in result["screens"]:
        step = screen["step"]
        judged = (f"after request {step + 1}, expected {screen['expected']}"
                  if step is not None else "not judged (before the first request, "
                  "during a mode set or the teardown)")
        out.append(
            f'<div class=pair><p>{screen["first"]:.2f} to {screen["last"]:.2f} s '
            f'({screen["count"]} screendumps): {html.escape(screen["shown"])}; '
            f"{html.escape(judged)}</p><figure>"
            + _image(folder, screen["file"], "screen") + "</figure><figure>" + expected
            + "</figure></div>")
    if result.get("sweeps"):
        out.append("<h3>format sweeps: each format's screen (left) and its picture as "
                   "testpattern converts it to RGB (right)</h3>")
    for sweep in result.get("sweeps", []):
        name = sweep["file"].removeprefix("sweep-").removesuffix(".png")
        out.append(f"<div class=pair><p>{html.escape(name)}</p><figure>"
                   + _image(folder, sweep["file"], "screen") + "</figure><figure>"
                   + _image(folder, sweep["expected"], "expected") + "</figure></div>")
    return "\n".join(out)


def write_page(rows: pathlib.Path, page: pathlib.Path) -> int:
    results = _results(rows)
    ordered = [results[c.test_name] for c in MATRIX if c.test_name in results]
    body = [f"<h1>crtc-relay on real kernels: {len(ordered)} runs, "
            f"{sum(not r['passed'] for r in ordered)} failed</h1>", _summary(results)]
    body += [_section(result) for result in ordered]
    page.write_text("<!DOCTYPE html>\n<html><head><meta charset=utf-8>"
                    f"<title>crtc-relay kernel matrix</title><style>{STYLE}</style></head>"
                    "<body>\n" + "\n".join(body) + "\n</body></html>\n")
    return len(ordered)


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--clear", type=pathlib.Path, metavar="ROWS")
    parser.add_argument("--write", type=pathlib.Path, nargs=2, metavar=("ROWS", "PAGE"))
    args = parser.parse_args(argv[1:])
    if args.clear:
        for pattern in (f"*/{RESULT_FILE}", "*/*.png"):
            for path in args.clear.glob(pattern):
                path.unlink()
    if args.write:
        count = write_page(*args.write)
        print(f"kernel matrix page ({count} runs): {args.write[1].resolve()}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
