"""The device's end of the line goes and comes back at the same path: a
symbolic link the panel opens, pointed at a pseudo-terminal that is closed
and then at a new one. With --reconnect the panel answers the next block
within 2 s and the trace tells the hang-up and the port opened again once
each; without it, the block goes unanswered and the trace tells neither.
Either way the trace opens with the port opened.

With "missing", the port is a path where nothing is: the program is let run
to its end, and its trace tells that the port could not be opened.

Usage: reconnect_check.py reconnect|no-reconnect|missing FOLDER PROGRAM [ARGUMENT...]
PROGRAM (quillon-run or the desktop program) is started with --port LINK
--trace FILE --trace-format jsonl added, and ended with SIGTERM.
"""

import json
import os
import pty
import select
import signal
import subprocess
import sys
import time
import tty

BLOCK = bytes([0x85, 0x01, 0x00, 0x87])


def new_line(link):
    device, port = pty.openpty()
    tty.setraw(port)
    os.set_blocking(device, False)
    staged = link + ".new"
    os.symlink(os.ttyname(port), staged)
    os.replace(staged, link)
    return device, port


def reply_within(device, seconds):
    os.write(device, BLOCK)
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        ready, _, _ = select.select([device], [], [], 0.05)
        if ready:
            try:
                if os.read(device, 64):
                    return True
            except OSError:
                return False
    return False


def notes_in(trace):
    with open(trace, encoding="utf-8") as rows:
        return [json.loads(line)["meaning"] for line in rows if '"kind":"note"' in line]


def missing_port(folder, program):
    trace = os.path.join(folder, "missing.jsonl")
    run = subprocess.run(program + ["--port", os.path.join(folder, "nothing-here"), "--trace", trace,
                                    "--trace-format", "jsonl"], capture_output=True, text=True, timeout=60)
    notes = notes_in(trace)
    if notes != ["port could not be opened"]:
        sys.exit(f"notes: {notes}; {run.stderr}")
    print(f"notes: {notes}")


def main():
    mode, folder, program = sys.argv[1], sys.argv[2], sys.argv[3:]
    if mode == "missing":
        os.makedirs(folder, exist_ok=True)
        missing_port(folder, program)
        return
    os.makedirs(folder, exist_ok=True)
    link = os.path.join(folder, "line")
    trace = os.path.join(folder, "trace.jsonl")
    for stale in (link, trace):
        if os.path.lexists(stale):
            os.remove(stale)
    device, port = new_line(link)
    arguments = program + ["--port", link, "--trace", trace, "--trace-format", "jsonl"]
    if mode == "reconnect":
        arguments.append("--reconnect")
    panel = subprocess.Popen(arguments, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    try:
        started = time.monotonic()
        while not reply_within(device, 0.2):
            if time.monotonic() - started > 20 or panel.poll() is not None:
                panel.kill()
                sys.exit("the panel never answered on the first line: " + panel.communicate()[1])
        os.close(device)
        os.close(port)
        time.sleep(0.3)
        device, port = new_line(link)
        answered = reply_within(device, 2)
    finally:
        panel.send_signal(signal.SIGTERM)
        _, errors = panel.communicate(timeout=20)
    notes = notes_in(trace)
    if notes[:1] != ["port opened"] or notes.count("port opened") != 1:
        sys.exit(f"the port's opening is not told once, first: {notes}")
    hung_up = notes.count("port hung up")
    opened = notes.count("port opened again")
    if mode == "reconnect" and not (answered and hung_up == 1 and opened == 1):
        sys.exit(f"answered: {answered}; notes: {notes}; {errors}")
    if mode != "reconnect" and (answered or hung_up or opened):
        sys.exit(f"without --reconnect, answered: {answered}; notes: {notes}; {errors}")
    print(f"answered again: {answered}; notes: {notes}")


main()
