"""One line_bench pass over a pseudo-terminal against a quillon-run, for the
benchmark scripts: mixed blocks back to back at 9600 baud, the program given
more options, and the figures of the pass read from line_bench's report."""
import re
import subprocess


def line_bench_pass(line_bench, program, blocks, arguments=()):
    """Reply latency p50 and p99 (ms), the program's CPU (% of a core) and the
    blocks left unanswered or answered with an error."""
    command = [line_bench, "--quillon", program, "--platform", "offscreen", "--blocks", str(blocks),
               "--heavy-blocks", "0", "--idle-seconds", "0", "--arg", "--run-for", "--arg", "1800s"]
    for argument in arguments:
        command += ["--arg", argument]
    out = subprocess.run(command, capture_output=True, text=True, check=True).stdout
    phase = out.split("###")[1]
    latency = re.search(r"reply latency min / p50 / p90 / p99 / max \| ([\d.]+) / ([\d.]+) / ([\d.]+) / ([\d.]+)",
                        phase)
    cpu = re.search(r"program CPU \(utime\+stime, all threads\) \| ([\d.]+) %", phase)
    unanswered = re.search(r"unanswered blocks, error replies \| (\d+), (\d+)", phase)
    return (float(latency.group(2)), float(latency.group(4)), float(cpu.group(1)),
            int(unanswered.group(1)) + int(unanswered.group(2)))
