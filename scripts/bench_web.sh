#!/usr/bin/env bash
# What web viewers cost the panel: two `quillon-run --demo --demo-busy --http 0`
# side by side for the same seconds, one with no viewer and one with VIEWERS
# light WebSocket clients (Debian's python3-websockets, in one process of
# their own) that subscribe and read everything, the display events among
# it. Per instance: replies, replies the demo device missed (none within
# 500 ms), ticks a whole period late, the worst tick lateness and the CPU of
# the process (the web server's thread included); and what the viewers were
# sent.
#
# With `latency`, the reply latency the device sees with no viewer and with
# VIEWERS, in one session: line_bench plays the device to quillon-run over a
# pseudo-terminal, mixed blocks back to back (as scripts/bench_film.sh does),
# ROUNDS rounds alternating between no viewer and VIEWERS subscribed to the
# same program's --http port, which is picked free beforehand so that the
# viewers know it. Per run: reply latency p50 and p99 and the program's CPU.
#
# Figures are printed, never asserted.
#
#   scripts/bench_web.sh                  20 viewers, 20 s
#   VIEWERS=5 RUN_SECONDS=5 scripts/bench_web.sh
#   scripts/bench_web.sh latency          20 viewers, 3 rounds of 1000 blocks
#   ROUNDS=1 BLOCKS=300 scripts/bench_web.sh latency
#   QUILLON_RUN=path/to/quillon-run scripts/bench_web.sh   (no build)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/bench_program.sh

if [ "${1:-}" = latency ]; then
    line_bench=$build/bench/line_bench
    if [ -z "${QUILLON_RUN:-}" ]; then
        cmake --build "$build" -j 2 --target line_bench
    fi
    PYTHONPATH=scripts exec /usr/bin/python3 - "$program" "$line_bench" "${ROUNDS:-3}" "${BLOCKS:-1000}" "${VIEWERS:-20}" <<'PY'
import asyncio
import json
import socket
import sys
import threading

import websockets
from line_bench_run import latency_table, line_bench_pass

program, line_bench = sys.argv[1:3]
rounds, blocks, viewers = (int(v) for v in sys.argv[3:6])


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


async def viewer(port, stop, counts):
    """Connects once the program serves, subscribes and reads everything."""
    while not stop.is_set():
        try:
            async with websockets.connect(f"ws://127.0.0.1:{port}/ws", max_size=None) as client:
                await client.send('{"cmd": "subscribe"}')
                async for message in client:
                    kind = json.loads(message).get("event", "reply")
                    counts[kind] = counts.get(kind, 0) + 1
        except (OSError, websockets.WebSocketException):
            await asyncio.sleep(0.02)


def watch(port, stop, counts):
    async def all_viewers():
        tasks = [asyncio.create_task(viewer(port, stop, counts)) for _ in range(viewers)]
        while not stop.is_set():
            await asyncio.sleep(0.1)
        for task in tasks:
            task.cancel()
        await asyncio.gather(*tasks, return_exceptions=True)
    asyncio.run(all_viewers())


def line_round(watched):
    port = free_port()
    stop, counts = threading.Event(), {}
    thread = threading.Thread(target=watch, args=(port, stop, counts))
    if watched:
        thread.start()
    try:
        p50, p99, cpu, _ = line_bench_pass(line_bench, program, blocks, ["--http", f"127.0.0.1:{port}"])
    finally:
        stop.set()
        if watched:
            thread.join(30)
    return p50, p99, cpu, sum(counts.values())


MODES = ("no viewer", f"{viewers} viewers")
latency_table(f"Reply latency with {viewers} web viewers against none ({rounds} rounds of {blocks} mixed blocks)",
              "messages to the viewers", MODES, rounds, lambda mode, index: line_round(mode != MODES[0]), False)
PY
fi

/usr/bin/python3 - "$program" "${RUN_SECONDS:-20}" "${VIEWERS:-20}" <<'PY'
import asyncio
import json
import re
import subprocess
import sys
import threading

import websockets

program, seconds, viewers = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])


def start():
    process = subprocess.Popen([program, "--demo", "--demo-busy", "-q", "--http", "0", "--run-for", f"{seconds}s",
                                "--stats"], stderr=subprocess.PIPE, text=True)
    port = int(re.search(r":(\d+)/", process.stderr.readline()).group(1))
    return process, port


async def viewer(port, counts):
    async with websockets.connect(f"ws://127.0.0.1:{port}/ws", max_size=None) as socket:
        await socket.send('{"cmd": "subscribe"}')
        try:
            async for message in socket:
                kind = json.loads(message).get("event", "reply")
                counts[kind] = counts.get(kind, 0) + 1
        except websockets.ConnectionClosed:
            pass


def watch(port, counts):
    async def all_viewers():
        await asyncio.gather(*(viewer(port, counts) for _ in range(viewers)), return_exceptions=True)
    asyncio.run(all_viewers())


alone, _ = start()
watched, port = start()
counts = {}
thread = threading.Thread(target=watch, args=(port, counts))
thread.start()
results = {}
for name, process in (("no viewer", alone), (f"{viewers} viewers", watched)):
    _, errors = process.communicate(timeout=seconds + 30)
    results[name] = json.loads(errors.strip().splitlines()[-1])
thread.join(30)

print(f"## {viewers} web viewers against none, side by side ({seconds} s, --demo --demo-busy)")
print()
print("| instance | replies | missed replies | late ticks | worst tick lateness | CPU |")
print("|---|---|---|---|---|---|")
for name, stats in results.items():
    print(f"| {name} | {stats['replies']} | {stats['demo_missed_replies']} | {stats['late_ticks']} | "
          f"{stats['worst_tick_lateness_ms']:.1f} ms | {stats['cpu_s'] / seconds * 100:.1f} % of a core |")
print()
shown = ", ".join(f"{kind} {count / viewers:.0f}" for kind, count in sorted(counts.items()))
print(f"- what each viewer was sent, on average: {shown}")
PY
