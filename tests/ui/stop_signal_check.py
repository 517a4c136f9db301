"""The desktop program ended by SIGTERM or SIGINT closes its files whole:
its film ends with the GIF trailer and every line of its JSON Lines trace is
JSON, and the program still ends by that signal.

Usage: stop_signal_check.py FOLDER PROGRAM
"""
import json
import os
import signal
import subprocess
import sys
import time


def run(folder, program, stop):
    film = os.path.join(folder, f"{stop.name}.gif")
    trace = os.path.join(folder, f"{stop.name}.jsonl")
    for stale in (film, trace):
        if os.path.exists(stale):
            os.remove(stale)
    panel = subprocess.Popen([program, "--demo", "--record-display", film, "--trace", trace, "--trace-format",
                              "jsonl"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    started = time.monotonic()
    while not (os.path.exists(trace) and "MAIN MENU" in open(trace, encoding="utf-8").read()):
        if time.monotonic() - started > 20 or panel.poll() is not None:
            panel.kill()
            sys.exit(f"{stop.name}: the menu was never drawn: {panel.communicate()[1]}")
        time.sleep(0.05)
    panel.send_signal(stop)
    _, errors = panel.communicate(timeout=20)
    if panel.returncode != -stop:
        sys.exit(f"{stop.name}: ended with status {panel.returncode}: {errors}")
    with open(film, "rb") as gif:
        if not gif.read().endswith(b";"):
            sys.exit(f"{stop.name}: the film was not closed")
    with open(trace, encoding="utf-8") as rows:
        for row in rows:
            json.loads(row)


def main():
    folder, program = sys.argv[1], sys.argv[2]
    os.makedirs(folder, exist_ok=True)
    for stop in (signal.SIGTERM, signal.SIGINT):
        run(folder, program, stop)
    print("the film and the trace closed whole on SIGTERM and SIGINT")


main()
