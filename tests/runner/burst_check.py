"""A device that has sent for long before the panel opens its port: 6,000
bytes of READ SWITCHES blocks wait in a pseudo-terminal when quillon-run
opens it. Every byte must be told in the trace, in a frame row or in a row of
bytes with its count, and no event may be lost on the way.

Usage: burst_check.py QUILLON_RUN OUTPUT_FOLDER
"""

import json
import os
import pty
import re
import subprocess
import sys
import tty

QUEUED = 6000


def frame(code, data, last):
    body = bytes([code | (0x80 if last else 0), len(data)]) + bytes(data)
    return body + bytes([(1 + sum(body)) & 0xFF])


def main():
    program, folder = sys.argv[1], sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    trace = os.path.join(folder, "burst.jsonl")
    device, port = pty.openpty()
    # Raw at once, as the panel sets it: the queued bytes stay as they are.
    tty.setraw(port)
    block = frame(5, [0], True)
    queued = block * (QUEUED // len(block))
    written = os.write(device, queued)
    if written != len(queued):
        sys.exit(f"the pseudo-terminal took {written} of {len(queued)} bytes")
    run = subprocess.run([program, "--port", os.ttyname(port), "-q", "--run-for", "1s", "--trace", trace,
                          "--trace-format", "jsonl"], capture_output=True, text=True, timeout=30)
    if run.returncode != 0:
        sys.exit(f"quillon-run exited with {run.returncode}: {run.stderr}")
    told = 0
    frames = 0
    with open(trace, encoding="utf-8") as rows:
        for line in rows:
            row = json.loads(line)
            if "events lost" in (row["meaning"] or ""):
                sys.exit(f"events were lost: {line}")
            if row["dir"] != "device":
                continue
            shown = len(row["bytes"].split())
            if row["kind"] == "frame":
                frames += 1
                told += shown
            elif row["kind"] == "bytes":
                count = re.search(r": (\d+) bytes, the first \d+ shown", row["meaning"])
                told += int(count.group(1)) if count else shown
    if told != len(queued):
        sys.exit(f"{told} of {len(queued)} bytes told in the trace ({frames} frame rows)")
    print(f"{told} bytes told, in {frames} frame rows and the rest in rows of refused bytes")


main()
