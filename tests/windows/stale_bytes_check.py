#!/usr/bin/env python3
"""quillon-run.exe opens a COM port that a device polled while it was closed.

The device's end of the line (a pseudo-terminal that Wine's COM port is
joined to) sends a block three times before the panel's port is open. On
opening the port quillon-run drops what queued up, says so in the trace's
row of the port opened, and a scenario that ends with expect-no-errors
passes: no stale byte reaches the panel to be refused.

  stale_bytes_check.py EMULATOR QUILLON_RUN COM_PORT DEVICE_END WORK_DIR
"""

import os
import re
import subprocess
import sys
import tty

# WRITE STRING "AB", ending its block.
BLOCK = bytes([0x81, 0x04, 0x00, 0x00, 0x41, 0x42, 0x09])
SENT = 3


def fail(message):
    print(f"FAIL: {message}")
    sys.exit(1)


def main():
    emulator, program, com, device_end, work = sys.argv[1:6]
    os.makedirs(work, exist_ok=True)
    scenario = os.path.join(work, "no_errors.yaml")
    with open(scenario, "w") as f:
        f.write("name: Stale bytes\nsteps:\n  - delay: 300ms\n  - expect-no-errors\n")
    trace = os.path.join(work, "trace.txt")
    # Held open throughout, so the line stays joined while the panel's port
    # is closed.
    fd = os.open(device_end, os.O_RDWR | os.O_NOCTTY)
    try:
        tty.setraw(fd)
        os.write(fd, BLOCK * SENT)
        run = subprocess.run([emulator, program, "--port", com, "-q", "--scenario", scenario, "--trace", trace],
                             capture_output=True, text=True, timeout=60)
    finally:
        os.close(fd)
    if run.returncode != 0:
        fail(f"quillon-run exited {run.returncode}: {run.stderr}")
    with open(trace) as f:
        rows = f.read()
    # Bytes an earlier test left on the line are dropped as well.
    told = re.search(r"port opened, (\d+) stale bytes dropped", rows)
    if not told or int(told.group(1)) < SENT * len(BLOCK):
        fail(f"the trace does not tell the {SENT * len(BLOCK)} stale bytes dropped:\n{rows}")
    print(f"{com}: {told.group(0)}")


if __name__ == "__main__":
    main()
