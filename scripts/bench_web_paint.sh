#!/usr/bin/env bash
# How long after a display change the web page has painted it: one page in
# headless Chromium (started as the browser tests start it) on an optimised
# `quillon-run --demo --demo-busy --http 0`, whose main menu a WebSocket
# client (Debian's python3-websockets) moves down and up again without pause,
# so that the display keeps changing. The page echoes each display event's
# time once it has painted it, and the server answers how long after the
# change that was, on the clock that timed the change; CHANGES of these are
# collected, after the page's first WARM_UP, and their p50, p99 and worst
# printed. Figures are printed, never asserted.
#
#   scripts/bench_web_paint.sh                 1000 changes
#   CHANGES=200 scripts/bench_web_paint.sh
#   QUILLON_RUN=path/to/quillon-run scripts/bench_web_paint.sh   (no build)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/bench_program.sh

PYTHONPATH=tests/runner /usr/bin/python3 - "$program" "${CHANGES:-1000}" "${WARM_UP:-20}" <<'PY'
import asyncio
import re
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import headless_chromium
import websockets

program, changes, warm_up = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
LIMIT_SECONDS = 300


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(share * len(ordered)))]


async def move_the_menu(port, stop):
    async with websockets.connect(f"ws://127.0.0.1:{port}/ws", max_size=None) as socket:
        for key in ("down", "up") * 100_000:
            if stop.is_set():
                return
            await socket.send(f'{{"cmd": "click", "key": "{key}"}}')
            await socket.recv()


server = subprocess.Popen([program, "--demo", "--demo-busy", "-q", "--http", "0", "--run-for", f"{LIMIT_SECONDS}s"],
                          stderr=subprocess.PIPE, text=True)
try:
    port = int(re.search(r":(\d+)/", server.stderr.readline()).group(1))
    stop = threading.Event()
    mover = threading.Thread(target=lambda: asyncio.run(move_the_menu(port, stop)))
    mover.start()
    with tempfile.TemporaryDirectory() as profile:
        driver = headless_chromium.browser(profile, 1300, 820)
        try:
            driver.get(f"http://127.0.0.1:{port}/")
            started = time.monotonic()
            latencies = []
            while len(latencies) < warm_up + changes and time.monotonic() - started < LIMIT_SECONDS - 30:
                time.sleep(0.5)
                latencies = driver.execute_script("return window.quillonPaintLatencies")
            seconds = time.monotonic() - started
        finally:
            driver.quit()
    stop.set()
    mover.join(10)
finally:
    server.terminate()
    server.wait(10)

taken = latencies[warm_up:warm_up + changes]
assert taken, "the page told no latency"
print(f"## From a display change to the web page's paint ({len(taken)} changes, --demo --demo-busy)")
print()
print("| p50 | p99 | worst | mean | changes painted a second |")
print("|---|---|---|---|---|")
print(f"| {percentile(taken, 0.5):.2f} ms | {percentile(taken, 0.99):.2f} ms | {max(taken):.2f} ms | "
      f"{statistics.mean(taken):.2f} ms | {len(latencies) / seconds:.0f} |")
PY
echo
echo "- load after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
