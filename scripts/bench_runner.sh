#!/usr/bin/env bash
# How many headless panels run side by side at line rate: N instances of
# `quillon-run --demo --demo-busy` at once (the demo device asking for the
# keys without pause, 9600 baud), each for a while, then per instance the
# replies, the replies the device missed (none within 500 ms), the ticks that
# started a whole period late, CPU and resident memory; and the time from the
# start of the program to its first reply. Figures are printed, never
# asserted.
#
#   scripts/bench_runner.sh                 N = 8 16 32 48 64, 20 s each
#   scripts/bench_runner.sh --quick         N = 4 8, 5 s each
#   BUILD_DIR=build/bench scripts/bench_runner.sh
#   QUILLON_RUN=path/to/quillon-run scripts/bench_runner.sh   (no build)
set -euo pipefail
cd "$(dirname "$0")/.."

counts=(8 16 32 48 64)
seconds=20
if [ "${1:-}" = "--quick" ]; then
    counts=(4 8)
    seconds=5
fi
. scripts/bench_program.sh

python3 - "$program" "$seconds" "${counts[@]}" <<'PY'
import json
import statistics
import subprocess
import sys
import time

program, seconds, counts = sys.argv[1], int(sys.argv[2]), [int(n) for n in sys.argv[3:]]


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def run(count):
    command = [program, "--demo", "--demo-busy", "-q", "--run-for", f"{seconds}s", "--stats"]
    processes = [subprocess.Popen(command, stderr=subprocess.PIPE, text=True) for _ in range(count)]
    time.sleep(seconds * 0.75)
    memory = [rss_kib(p.pid) for p in processes]
    stats = []
    for process in processes:
        _, errors = process.communicate(timeout=seconds + 30)
        stats.append(json.loads(errors.strip().splitlines()[-1]))
    return stats, memory


print("## Time to first reply (one instance at a time, 20 starts)")
print()
first = []
for _ in range(20):
    result = subprocess.run([program, "--demo", "-q", "--run-for", "300ms", "--stats"],
                            stderr=subprocess.PIPE, text=True, check=True)
    first.append(json.loads(result.stderr.strip().splitlines()[-1])["first_reply_ms"])
print(f"- from the program's start to its first reply: median {statistics.median(first):.1f} ms, "
      f"worst {max(first):.1f} ms")
print()
print(f"## Instances side by side at line rate ({seconds} s each)")
print()
print("| instances | replies per instance | missed replies | late ticks (all) | worst tick lateness | "
      "CPU per instance | memory per instance |")
print("|---|---|---|---|---|---|---|")
for count in counts:
    stats, memory = run(count)
    replies = statistics.mean(s["replies"] for s in stats)
    missed = sum(s["demo_missed_replies"] for s in stats)
    late = sum(s["late_ticks"] for s in stats)
    worst = max(s["worst_tick_lateness_ms"] for s in stats)
    cpu = statistics.mean(s["cpu_s"] for s in stats) / seconds * 100
    print(f"| {count} | {replies:.0f} | {missed} | {late} | {worst:.1f} ms | {cpu:.1f} % of a core | "
          f"{statistics.mean(memory) / 1024:.1f} MiB |", flush=True)
PY
echo
echo "- load after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
