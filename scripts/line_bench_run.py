"""One line_bench pass over a pseudo-terminal against a quillon-run, for the
benchmark scripts: mixed blocks back to back at 9600 baud, the program given
more options, and the figures of the pass read from line_bench's report."""
import re
import statistics
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


def latency_table(title, last_column, modes, rounds, run_round, total_last):
    """Prints a Markdown table of run_round(mode, index) -> (p50, p99, CPU,
    last column) for every mode in turn, rounds times over, so that the modes
    share the machine's moments alike; then each mode's medians, and its
    last column summed when total_last is true."""
    print(f"## {title}")
    print()
    print(f"| run | reply latency p50 | reply latency p99 | program CPU | {last_column} |")
    print("|---|---|---|---|---|")
    runs = {mode: [] for mode in modes}
    for index in range(rounds):
        for mode in modes:
            p50, p99, cpu, last = run_round(mode, index)
            runs[mode].append((p50, p99, cpu, last))
            print(f"| {mode} {index + 1} | {p50:.2f} ms | {p99:.2f} ms | {cpu:.2f} % | {last} |", flush=True)
    for mode in modes:
        rows = runs[mode]
        total = sum(r[3] for r in rows) if total_last else ""
        print(f"| {mode}, median | {statistics.median(r[0] for r in rows):.2f} ms | "
              f"{statistics.median(r[1] for r in rows):.2f} ms | {statistics.median(r[2] for r in rows):.2f} % | "
              f"{total} |")
