"""The HTML report of runs that end in every way, read as text.

Usage: report_check.py CASE FOLDER QUILLON_RUN DATA

  hostile       a device's WRITE STRING and a scenario hold "<script>": the
                report shows them escaped, its own script its only one
  device-died   a --spawn device that prints markup and bytes that are not
                UTF-8, then exits 5: the report names its exit status and
                shows its output escaped, bad bytes replaced
  sigterm       a run ended by SIGTERM says so in its report
  keep-pass     --keep-artifacts on-failure on a passing run: no film, no
                pictures; the report keeps its summary and is the only
                attachment
  keep-fail     the same on a failing run: everything kept and attached
"""

import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys

CASE, FOLDER, PROGRAM, DATA = sys.argv[1], pathlib.Path(sys.argv[2]), sys.argv[3], pathlib.Path(sys.argv[4])


def run(*arguments, status):
    result = subprocess.run([PROGRAM, *arguments], capture_output=True, text=True, errors="replace", timeout=60)
    assert result.returncode == status, (result.returncode, result.stderr)
    return result


def frame(code, data):
    """A WRITE STRING block's frame as the device sends it."""
    body = [0x80 | code, len(data)] + list(data)
    return body + [(1 + sum(body)) % 256]


def attachments(junit):
    return re.findall(r"\[\[ATTACHMENT\|([^\]]+)\]\]", junit.read_text(encoding="utf-8"))


def hostile():
    recording = FOLDER / "hostile.recording"
    # Size 0, page 3, column 10.
    block = frame(1, [0x8A, 0x03] + list(b"<script>"))
    recording.write_text("quillon-recording 1\n0 " + " ".join(f"{b:02X}" for b in block) + "\n")
    scenario = FOLDER / "hostile.yaml"
    scenario.write_text('name: "<script>alert(1)</script>"\nsteps:\n  - wait-text: "<script>"\n'
                        '  - wait-text: "</script>"\n    timeout: 300ms\n')
    run("--replay", str(recording), "-q", "--scenario", str(scenario), "--report", str(FOLDER / "r.html"), status=1)
    html = (FOLDER / "r.html").read_text(encoding="utf-8")
    assert html.count("<script") == 1, html
    assert "&lt;script&gt;" in html and "alert(1)&lt;/script&gt;" in html
    assert "Nearest text on it: <q>&lt;script&gt;</q>" in html


def device_died():
    run("--tcp-listen", "0", "-q", "--timeout", "20s", "--scenario", str(DATA / "never.yaml"),
        "--artifacts", str(FOLDER), "--report", str(FOLDER / "r.html"),
        "--spawn", "echo '<script>alert(1)</script>'; printf 'bad \\377 byte\\n'; exit 5", status=3)
    html = (FOLDER / "r.html").read_text(encoding="utf-8")
    assert "the device ended before the run did: exited with status 5 (exit status 3)" in html, html
    assert html.count("<script") == 1
    assert "&lt;script&gt;alert(1)&lt;/script&gt;\nbad \ufffd byte\n" in html


def sigterm():
    report = FOLDER / "r.html"
    process = subprocess.Popen([PROGRAM, "--demo", "--scenario", str(DATA / "never.yaml"), "--report", str(report)],
                               stderr=subprocess.PIPE, text=True)
    # The demo device tells its first line once the panel runs.
    for line in process.stderr:
        if "demo device" in line:
            break
    process.send_signal(signal.SIGTERM)
    process.communicate(timeout=30)
    html = report.read_text(encoding="utf-8")
    assert "ended by SIGTERM before it was over" in html, html
    assert "stopped while waiting for" in html


def keep(scenario, status):
    junit = FOLDER / "junit.xml"
    run("--demo", "-q", "--scenario", str(DATA / scenario), "--artifacts", str(FOLDER), "--junit", str(junit),
        "--report", str(FOLDER / "r.html"), "--keep-artifacts", "on-failure", status=status)
    named = attachments(junit)
    assert named and all(os.path.isfile(path) for path in named), named
    return (FOLDER / "r.html").read_text(encoding="utf-8"), named


def keep_pass():
    html, named = keep("screenshot.yaml", 0)
    assert not (FOLDER / "r.gif").exists() and not (FOLDER / "menu.png").exists()
    assert named == [str(FOLDER / "r.html")], named
    assert "data:image" not in html and "r.gif" not in html
    assert "every scenario passed" in html and "wait-text &quot;MAIN MENU&quot;" in html


def keep_fail():
    html, named = keep("wrong_golden.yaml", 1)
    assert {os.path.basename(path) for path in named} == {
        "wrong_golden-blank.actual.txt", "wrong_golden-blank.diff.png", "r.html", "r.gif"}, named
    assert 'href="r.gif"' in html and 'id="golden"' in html


shutil.rmtree(FOLDER, ignore_errors=True)
FOLDER.mkdir(parents=True)
{"hostile": hostile, "device-died": device_died, "sigterm": sigterm, "keep-pass": keep_pass,
 "keep-fail": keep_fail}[CASE]()
print(CASE, "passed")
