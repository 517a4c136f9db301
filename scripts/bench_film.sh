#!/usr/bin/env bash
# What filming the display (--record-display) and the report of the run
# (--report: its rows, its pictures and its films) cost quillon-run,
# measured side by side with runs with neither, alternating, in one session:
#
# - reply latency and CPU: line_bench plays the device over a
#   pseudo-terminal at 9600 baud, mixed blocks back to back (the line busy
#   all the time, the display changed by nearly every block), ROUNDS rounds;
# - the demo busy: `quillon-run --demo --demo-busy --stats` for SECONDS, its
#   CPU, replies and missed replies, ROUNDS rounds;
# - the size of a one-minute film of the demo (2x): on the main menu, and on
#   the status screen, whose trend moves by itself.
#
# Figures are printed, never asserted.
#
#   scripts/bench_film.sh                   3 rounds, 1500 blocks, 20 s demo runs
#   ROUNDS=1 BLOCKS=300 SECONDS_BUSY=5 FILM_SECONDS=10 scripts/bench_film.sh   (a quick pass)
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=${ROUNDS:-3}
blocks=${BLOCKS:-1500}
busy=${SECONDS_BUSY:-20}
film_seconds=${FILM_SECONDS:-60}
. scripts/bench_program.sh
line_bench=$build/bench/line_bench
if [ -z "${QUILLON_RUN:-}" ]; then
    cmake --build "$build" -j 2 --target line_bench
fi
work=$(mktemp -d /tmp/quillon-film-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

PYTHONPATH=scripts python3 - "$program" "$line_bench" "$work" "$rounds" "$blocks" "$busy" "$film_seconds" <<'PY'
import json
import os
import statistics
import subprocess
import sys

from line_bench_run import latency_table, line_bench_pass

program, line_bench, work = sys.argv[1:4]
rounds, blocks, busy, film_seconds = (int(v) for v in sys.argv[4:8])


MODES = ("plain", "film", "report")


def film_arguments(mode, name):
    if mode == "report":
        return ["--report", os.path.join(work, name.replace(".gif", ".html"))]
    return ["--record-display", os.path.join(work, name)] if mode == "film" else []


def line_round(mode, index):
    return line_bench_pass(line_bench, program, blocks, film_arguments(mode, f"line-{index}.gif"))


def busy_round(mode, index):
    command = [program, "--demo", "--demo-busy", "-q", "--run-for", f"{busy}s", "--stats"]
    command += film_arguments(mode, f"busy-{index}.gif")
    errors = subprocess.run(command, stderr=subprocess.PIPE, text=True, check=True).stderr
    stats = json.loads(errors.strip().splitlines()[-1])
    return stats["cpu_s"] / busy * 100, stats["replies"], stats["demo_missed_replies"], stats["late_ticks"]


def gif_frames(path):
    """The number of images in a GIF file, walking its blocks."""
    data = open(path, "rb").read()
    at = 13 + ((3 << ((data[10] & 7) + 1)) if data[10] & 0x80 else 0)
    frames = 0
    while data[at] != 0x3B:
        if data[at] == 0x2C:
            frames += 1
            at += 11
        else:
            at += 2
        while data[at]:
            at += data[at] + 1
        at += 1
    return frames


def median(values):
    return statistics.median(values)


latency_table(f"Reply latency at line rate, with neither, the film, and the report ({rounds} rounds of {blocks} mixed blocks)",
              "unanswered or error replies", MODES, rounds, line_round, True)
film_sizes = [os.path.getsize(os.path.join(work, f"line-{i}.gif")) for i in range(rounds)]
print()
print(f"- films of the line runs: {min(film_sizes)} to {max(film_sizes)} bytes")
print()
print(f"## The demo busy, with neither, the film, and the report ({rounds} rounds of {busy} s)")
print()
print("| run | CPU | replies | missed replies | late ticks |")
print("|---|---|---|---|---|")
demo = {mode: [] for mode in MODES}
for index in range(rounds):
    for mode in MODES:
        cpu, replies, missed, late = busy_round(mode, index)
        demo[mode].append(cpu)
        print(f"| {mode} {index + 1} | {cpu:.2f} % | {replies} | {missed} | {late} |", flush=True)
print("| median CPU | " + ", ".join(f"{mode} {median(demo[mode]):.2f} %" for mode in MODES) + " | | | |")
print()
print(f"## A film of the demo, {film_seconds} s at 2x")
print()
status_screen = ["--scenario", "bench/scenarios/status_screen.yaml", "--timeout", f"{film_seconds + 30}s"]
for name, extra in (("main menu", []), ("status screen", status_screen)):
    path = os.path.join(work, "demo.gif")
    subprocess.run([program, "--demo", "-q", "--run-for", f"{film_seconds}s", "--record-display", path] + extra,
                   check=True, stderr=subprocess.DEVNULL)
    print(f"- {name}: {os.path.getsize(path)} bytes, {gif_frames(path)} frames")
PY
echo
echo "- load after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
