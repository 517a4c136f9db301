#!/usr/bin/env python3
"""Faults on every kind of line, paced and not, in both programs.

A case is a program (quillon-run, or the desktop program on Qt's offscreen
platform), a line, a line rate and a fault, the demo device at the other end.
quillon-run passes when it walks the menu (walk.yaml); the desktop program,
which walks nowhere, when its trace shows the menu drawn. In both the fault
must have struck, the link must be healthy at the end, the panel must never
have gone silent, and the device must have missed no reply the fault does
not explain.

  fault_matrix.py --list [--all]     the cases, one name a line: a set that
                                     meets every pair of values, or all
  fault_matrix.py --check-pairs      fails unless that set meets every pair
  fault_matrix.py [--all] [NAME...]  runs the named cases (without names,
                                     the set, or all)

The programs are taken from --quillon-run, --quillon and --demo-device;
each case works in a folder of its own under --work.
"""
import argparse
import itertools
import json
import os
import re
import shlex
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

WALK = Path(__file__).resolve().with_name("walk.yaml")

PROGRAMS = ["run", "desktop"]
# tcp-listen: the panel listens, the device connects. tcp-connect: the device
# listens before the panel starts; tcp-connect-late: a second after, so the
# panel keeps trying.
LINES = ["pty", "virtual", "tcp-listen", "tcp-connect", "tcp-connect-late", "demo"]
RATES = ["free", "9600"]
# Each strikes once, early, so a case takes seconds rather than a time-out
# per fault. The line goes dead once the device talks on every kind of line,
# a late device and a slow window among them (the device speaks at least once
# a second).
FAULTS = {
    "none": None,
    "drop": "drop-reply:at=5",
    "corrupt": "corrupt-reply:at=4",
    "flip": "flip-bit:at=200",
    "unplug": "unplug:for=1s,after=1500ms",
}
# The replies the device may miss: a dropped or corrupted reply is one; a
# changed byte or a dead line may cost more, as they do on a real line.
MISSED_ALLOWED = {"none": 0, "drop": 1, "corrupt": 1, "flip": None, "unplug": None}
# Faults the panel itself never sees: its replies stay error-free.
UNSEEN_BY_PANEL = {"none", "drop", "corrupt"}

# How long the desktop program runs before it takes its picture and ends.
DESKTOP_SECONDS = {"unplug": 6}
DESKTOP_SECONDS_DEFAULT = 4
LATE_DEVICE_SECONDS = 1
CASE_SECONDS = 60

DIMENSIONS = [PROGRAMS, LINES, RATES, list(FAULTS)]


def name_of(case):
    return ".".join(case)


def all_cases():
    return list(itertools.product(*DIMENSIONS))


def pairs_of(case):
    return {((i, case[i]), (j, case[j])) for i, j in itertools.combinations(range(len(case)), 2)}


def all_pairs():
    pairs = set()
    for case in all_cases():
        pairs |= pairs_of(case)
    return pairs


def pairwise_cases():
    """One case per line and fault (the largest pair of dimensions), the program
    and rate of each chosen to meet the most pairs not met yet; among equals the
    program and rate least used together so far, then the first in order, so
    that each program at each rate meets many lines and faults. Deterministic."""
    uncovered = all_pairs()
    cases = []
    for line, fault in itertools.product(LINES, FAULTS):
        choices = [(program, line, rate, fault) for program in PROGRAMS for rate in RATES]

        def worth(case):
            used = sum(1 for earlier in cases if (earlier[0], earlier[2]) == (case[0], case[2]))
            return len(pairs_of(case) & uncovered), -used

        best = max(choices, key=worth)
        uncovered -= pairs_of(best)
        cases.append(best)
    return cases


def missing_pairs(cases):
    met = set()
    for case in cases:
        met |= pairs_of(case)
    return all_pairs() - met


class Process:
    """A program started with its output kept, line by line, in a file."""

    def __init__(self, command, log, env=None):
        self.log_path = log
        self.lines = []
        self.changed = threading.Condition()
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                        env=env, start_new_session=True)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        with open(self.log_path, "w") as log:
            for line in self.process.stdout:
                log.write(line)
                log.flush()
                with self.changed:
                    self.lines.append(line.rstrip("\n"))
                    self.changed.notify_all()

    def wait_for(self, pattern, timeout=10):
        """The first match of pattern in a line of output, waited for."""
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                for line in self.lines:
                    match = re.search(pattern, line)
                    if match:
                        return match
                left = deadline - time.monotonic()
                if left <= 0 or self.process.poll() is not None:
                    raise CaseFailed(f"no line matching {pattern!r} from {self.log_path.name}")
                self.changed.wait(min(left, 0.1))

    def wait(self, timeout):
        try:
            status = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise CaseFailed(f"{self.log_path.name}: still running after {timeout} s")
        self.reader.join(5)
        return status

    def output(self):
        return "\n".join(self.lines)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.reader.join(5)


class CaseFailed(Exception):
    pass


def closed_port():
    """A socket bound to a port the system chose, not listening: connecting to
    it is refused until it is closed and the device listens there."""
    held = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    held.bind(("127.0.0.1", 0))
    return held


class Case:
    def __init__(self, case, tools, folder):
        self.program, self.line, self.rate, self.fault = case
        self.tools = tools
        self.folder = folder
        self.processes = []
        self.device_logs = []

    def start(self, command, log, env=None):
        process = Process(command, self.folder / log, env)
        self.processes.append(process)
        return process

    def device(self, *line):
        log = f"device-{len(self.device_logs) + 1}.log"
        self.device_logs.append(self.folder / log)
        return self.start([self.tools.demo_device, *line], log)

    def spawned_device(self, line):
        """The device as quillon-run's --spawn starts it, its output in device.log."""
        self.device_logs.append(self.folder / "device.log")
        return ["--spawn", shlex.join([self.tools.demo_device, *line])]

    def run(self):
        try:
            return self._run()
        finally:
            for process in reversed(self.processes):
                process.stop()

    def _run(self):
        options = []
        if self.rate != "free":
            options += ["--line-rate", self.rate]
        if FAULTS[self.fault]:
            options += ["--fault", FAULTS[self.fault]]
        trace = self.folder / "trace.jsonl"
        options += ["--trace", str(trace), "--trace-format", "jsonl"]
        program = self.run_program(options) if self.program == "run" else self.run_desktop(options)
        self.check(program, trace)

    def line_before_program(self):
        """Starts what must be there before the program; its line options."""
        if self.line == "pty":
            socat = self.start(["socat", f"pty,raw,echo=0,link={self.folder}/panel",
                                f"pty,raw,echo=0,link={self.folder}/device"], "socat.log")
            deadline = time.monotonic() + 10
            while not ((self.folder / "panel").exists() and (self.folder / "device").exists()):
                if time.monotonic() > deadline or socat.process.poll() is not None:
                    raise CaseFailed("socat made no pty pair")
                time.sleep(0.02)
            return ["--port", str(self.folder / "panel")]
        if self.line == "tcp-connect":
            device = self.device("--tcp-listen", "0")
            port = device.wait_for(r"listening on 127\.0\.0\.1:(\d+)").group(1)
            return ["--tcp-connect", f"127.0.0.1:{port}"]
        if self.line == "tcp-connect-late":
            self.held = closed_port()
            return ["--tcp-connect", f"127.0.0.1:{self.held.getsockname()[1]}"]
        if self.line == "demo":
            return ["--demo"]
        return []

    def device_after_program(self, program):
        """Starts the device that comes once the program is there."""
        if self.line == "pty":
            self.device("--port", str(self.folder / "device"))
        elif self.line == "tcp-connect-late":
            time.sleep(LATE_DEVICE_SECONDS)
            port = self.held.getsockname()[1]
            self.held.close()
            self.device("--tcp-listen", str(port))
        elif self.line == "virtual" and self.program == "desktop":
            self.device("--port", program.wait_for(r"^(/\S+)$").group(1))
        elif self.line == "tcp-listen" and self.program == "desktop":
            port = program.wait_for(r"waiting for the device on 127\.0\.0\.1:(\d+)").group(1)
            self.device("--tcp-connect", f"127.0.0.1:{port}")

    def run_program(self, options):
        line = self.line_before_program()
        if self.line == "virtual":
            line = ["--virtual-port", *self.spawned_device(["--port", "{port}"])]
        elif self.line == "tcp-listen":
            line = ["--tcp-listen", "0", *self.spawned_device(["--tcp-connect", "127.0.0.1:{port}"])]
        program = self.start([self.tools.quillon_run, *line, *options, "--scenario", str(WALK), "--timeout", "30s",
                              "--stats", "--artifacts", str(self.folder)], "program.log")
        self.device_after_program(program)
        status = program.wait(CASE_SECONDS)
        if status != 0:
            raise CaseFailed(f"quillon-run ended with status {status}")
        return program

    def run_desktop(self, options):
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=str(self.folder / "config"),
                   XDG_RUNTIME_DIR=str(self.folder / "runtime"))
        (self.folder / "runtime").mkdir(mode=0o700)
        line = self.line_before_program()
        if self.line == "virtual":
            line = ["--virtual-port"]
        elif self.line == "tcp-listen":
            line = ["--tcp-listen", "0"]
        seconds = DESKTOP_SECONDS.get(self.fault, DESKTOP_SECONDS_DEFAULT)
        program = self.start([self.tools.quillon, *line, *options, "--screenshot", str(self.folder / "panel.png"),
                              "--screenshot-after", str(seconds)], "program.log", env)
        self.device_after_program(program)
        status = program.wait(CASE_SECONDS)
        if status != 0:
            raise CaseFailed(f"quillon ended with status {status}")
        return program

    def check(self, program, trace):
        rows = [json.loads(line) for line in trace.read_text().splitlines()]
        replies = [row for row in rows if row["kind"] == "reply"]
        if not any(row["kind"] == "frame" and '"MAIN MENU"' in row["meaning"] for row in rows):
            raise CaseFailed("the menu was never drawn")
        struck = [row["meaning"] for row in rows if row["kind"] == "fault"]
        given = FAULTS[self.fault].split(":")[0] if FAULTS[self.fault] else None
        # A block the device finished just as the line went is answered into
        # the unplugged line: a row of its own, whenever the timing has it so.
        struck = [text for text in struck if not text.startswith("reply not sent: the line is unplugged")]
        # A rule with at= strikes once; an unplug is told when the line goes
        # and when it comes back.
        rows_told = {"none": 0, "unplug": 2}.get(self.fault, 1)
        if len(struck) != rows_told or any(f"(fault {given} " not in text for text in struck):
            raise CaseFailed(f"{len(struck)} fault rows, not {rows_told} of {given}: {struck}")
        lost = [int(n) for text in struck for n in re.findall(r"plugged back in; (\d+) device bytes lost", text)]
        if self.fault == "unplug" and not any(lost):
            raise CaseFailed("the line was dead while the device said nothing")
        silences = [row for row in replies if row["error"] and "10 s" in row["error"]]
        if silences:
            raise CaseFailed(f"the panel went silent at {silences[0]['t']} ms")
        if self.fault in UNSEEN_BY_PANEL:
            bad = [row for row in replies if row["error"] or "no error" not in row["meaning"]]
            if bad:
                raise CaseFailed(f"reply at {bad[0]['t']} ms: {bad[0]['meaning']} {bad[0]['error'] or ''}")
        if not replies or replies[-1]["error"] or "no error" not in replies[-1]["meaning"]:
            raise CaseFailed("the link did not end healthy: " + (replies[-1]["meaning"] if replies else "no reply"))
        if self.line == "tcp-connect-late" and "waiting for the device at 127.0.0.1:" not in program.output():
            raise CaseFailed("the panel never waited for the late device")
        outputs = [program.output()] + [log.read_text() for log in self.device_logs if log.exists()]
        missed = sum(text.count("no reply to a block") for text in outputs)
        allowed = MISSED_ALLOWED[self.fault]
        if allowed is not None and missed > allowed:
            raise CaseFailed(f"the device missed {missed} replies, {allowed} explained by the fault")


def run_cases(cases, tools, work):
    failed = []
    for case in cases:
        folder = work / name_of(case)
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        start = time.monotonic()
        try:
            Case(case, tools, folder).run()
            print(f"{name_of(case)}: passed in {time.monotonic() - start:.1f} s", flush=True)
        except CaseFailed as failure:
            failed.append(case)
            print(f"{name_of(case)}: FAILED after {time.monotonic() - start:.1f} s: {failure}", flush=True)
            for log in sorted(folder.glob("*.log")):
                print(f"--- {log.name}\n{log.read_text()[-3000:]}", flush=True)
    print(f"{len(cases) - len(failed)} passed, {len(failed)} failed", flush=True)
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("names", nargs="*")
    parser.add_argument("--all", action="store_true", help="every case, not a pairwise set")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--check-pairs", action="store_true")
    parser.add_argument("--quillon-run")
    parser.add_argument("--quillon")
    parser.add_argument("--demo-device")
    parser.add_argument("--work", type=Path)
    tools = parser.parse_args()
    cases = all_cases() if tools.all else pairwise_cases()
    if tools.list:
        print("\n".join(name_of(case) for case in cases))
        return 0
    if tools.check_pairs:
        missing = missing_pairs(pairwise_cases())
        for (_, a), (_, b) in sorted(missing):
            print(f"not met: {a} with {b}")
        return 1 if missing else 0
    if tools.names:
        known = {name_of(case): case for case in all_cases()}
        unknown = [name for name in tools.names if name not in known]
        if unknown:
            parser.error(f"no case {', '.join(unknown)}")
        cases = [known[name] for name in tools.names]
    work = tools.work or Path(tempfile.mkdtemp(prefix="fault-matrix-"))
    return run_cases(cases, tools, work)


if __name__ == "__main__":
    sys.exit(main())
