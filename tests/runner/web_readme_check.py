"""Runs the README's example of the panel in a browser as written, on a free
port instead of 8080: quillon-run serving the demo, curl reading /text, and
the WebSocket script pressing the down key. PROGRAM serves in quillon-run's
place: quillon-run, or the desktop program, which takes the same options.

Usage: web_readme_check.py README [EMULATOR] PROGRAM
(EMULATOR: wine, for the Windows build.)
"""
import json
import pathlib
import re
import shlex
import socket
import subprocess
import sys

README, PROGRAM = pathlib.Path(sys.argv[1]), sys.argv[2:]
ROOT = README.parent


def example():
    text = README.read_text(encoding="utf-8")
    section = text[text.index("## The panel in a browser"):]
    start = section.index("```sh\n") + 6
    return section[start:section.index("```", start)].splitlines()


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return str(probe.getsockname()[1])


def main():
    port = free_port()
    lines = [shlex.split(line.replace("8080", port)) for line in example()]
    server, curl, script = lines
    assert server[0] == "build/release/runner/quillon-run" and server[-1] == "&", server
    program = subprocess.Popen([*PROGRAM, *server[1:-1]], stderr=subprocess.PIPE, text=True, cwd=ROOT)
    try:
        # An emulator may tell of itself first.
        address = f"http://127.0.0.1:{port}/"
        assert any(address in line for line in program.stderr), address
        rows = json.loads(subprocess.run(curl, capture_output=True, text=True, check=True, cwd=ROOT).stdout)["rows"]
        assert all({"page", "column", "text"} <= set(row) for row in rows), rows
        script[0] = sys.executable
        printed = subprocess.run(script, capture_output=True, text=True, check=True, cwd=ROOT).stdout
        assert re.search(r"^> Contrast", printed, re.M), printed
    finally:
        program.terminate()
        program.wait(10)
    print(printed)


main()
