#!/usr/bin/env bash
# What quillon-run costs on a TCP line where nothing is said, with no fault
# rule and with one: `quillon-run --run-for 10s --stats` listening with no
# device, listening with a device that connects and stays silent, connecting
# to a port that is not open (it keeps trying), and connecting to a device
# that accepts and stays silent; each without a rule, with
# `--fault drop-reply:every=3`, and with that rule on a line paced at 9600
# baud. The CPU is the process's own (`cpu_s` of --stats); a run of 1 s is
# taken from it, so that what is left is the idle line without the program's
# start-up (about 20 ms of CPU), which is given apart. Figures are printed,
# never asserted.
#
#   scripts/bench_idle_line.sh             10 s a run, 3 runs each (the median)
#   scripts/bench_idle_line.sh --quick     5 s a run, 1 run each
#   BUILD_DIR=build/bench scripts/bench_idle_line.sh
#   QUILLON_RUN=path/to/quillon-run scripts/bench_idle_line.sh   (no build)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=10
runs=3
if [ "${1:-}" = "--quick" ]; then
    seconds=5
    runs=1
fi
. scripts/bench_program.sh

python3 - "$program" "$seconds" "$runs" <<'PY'
import json
import shlex
import socket
import statistics
import subprocess
import sys
import tempfile
import threading

program, seconds, runs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
# The silent device's output (none) goes here.
artifacts = tempfile.mkdtemp(prefix="bench-idle-line-")

# A device that connects and says nothing, for quillon-run's --spawn.
SILENT_CLIENT = shlex.join([sys.executable, "-c",
                            "import socket, sys, time\n"
                            "line = socket.create_connection(('127.0.0.1', int(sys.argv[1])))\n"
                            "time.sleep(3600)\n", "{port}"])


def silent_listener():
    """A device that accepts the panel and says nothing; its port."""
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    held = []
    threading.Thread(target=lambda: held.append(server.accept()), daemon=True).start()
    return server, server.getsockname()[1]


def closed_port():
    """A port bound but not listening: connecting to it is refused."""
    held = socket.socket()
    held.bind(("127.0.0.1", 0))
    return held, held.getsockname()[1]


def cpu_seconds(line, extra, run_for):
    keep = None
    if line == "listen, no device":
        options = ["--tcp-listen", "0"]
    elif line == "listen, a silent device":
        options = ["--tcp-listen", "0", "--spawn", SILENT_CLIENT]
    elif line == "connect, port not open":
        keep, port = closed_port()
        options = ["--tcp-connect", f"127.0.0.1:{port}"]
    else:
        keep, port = silent_listener()
        options = ["--tcp-connect", f"127.0.0.1:{port}"]
    result = subprocess.run([program, *options, *extra, "-q", "--run-for", run_for, "--stats",
                             "--artifacts", artifacts], stderr=subprocess.PIPE, text=True, check=True)
    if keep:
        keep.close()
    return json.loads(result.stderr.strip().splitlines()[-1])["cpu_s"]


def idle_percent(line, extra):
    return (cpu_seconds(line, extra, f"{seconds}s") - cpu_seconds(line, extra, "1s")) / (seconds - 1) * 100


LINES = ["listen, no device", "listen, a silent device", "connect, port not open", "connect, a silent device"]
RULES = {"no rule": [], "drop-reply:every=3": ["--fault", "drop-reply:every=3"],
         "the rule, paced at 9600": ["--fault", "drop-reply:every=3", "--line-rate", "9600"]}

start = statistics.median(cpu_seconds("listen, no device", [], "300ms") for _ in range(5))
print(f"- start-up and 300 ms of an idle line: {start * 1000:.0f} ms of CPU (median of 5)")
print()
print(f"## An idle TCP line ({seconds} s a run less a 1 s run, median of {runs})")
print()
print("| line | " + " | ".join(RULES) + " |")
print("|---|" + "---|" * len(RULES))
for line in LINES:
    cells = [statistics.median(idle_percent(line, extra) for _ in range(runs)) for extra in RULES.values()]
    print(f"| {line} | " + " | ".join(f"{cell:.2f} % of a core" for cell in cells) + " |", flush=True)
PY
echo
echo "- load after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
