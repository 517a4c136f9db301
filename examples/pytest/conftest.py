"""Starts `quillon-run --demo` with a control socket for each test.

Only Python's standard library and pytest. QUILLON_RUN names the program;
without it the debug build's path is tried.
"""
import json
import os
import socket
import subprocess
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]


def quillon_run():
    return os.environ.get("QUILLON_RUN", str(ROOT / "build/debug/runner/quillon-run"))


class Panel:
    """A JSON Lines client of the control socket."""

    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(20)
        # The socket file appears when it is bound, a moment before it listens.
        deadline = time.monotonic() + 10
        while True:
            try:
                self.sock.connect(str(path))
                break
            except ConnectionRefusedError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.02)
        self.reader = self.sock.makefile("r", encoding="utf-8")
        self.next_id = 1
        self.events = []

    def send_line(self, line):
        self.sock.sendall(line.encode("utf-8") + b"\n")

    def read(self):
        line = self.reader.readline()
        if not line:
            raise ConnectionError("quillon-run closed the control socket")
        return json.loads(line)

    def request(self, cmd, **args):
        """Sends one request and returns its reply; events that come first are kept."""
        request_id = self.next_id
        self.next_id += 1
        self.send_line(json.dumps({"id": request_id, "cmd": cmd, **args}))
        while True:
            message = self.read()
            if "event" in message:
                self.events.append(message)
            elif message.get("id") == request_id:
                return message

    def close(self):
        self.reader.close()
        self.sock.close()


@pytest.fixture
def panel(tmp_path):
    path = tmp_path / "panel.sock"
    process = subprocess.Popen([quillon_run(), "--demo", "-q", "--control", str(path)])
    try:
        deadline = time.monotonic() + 10
        while not path.exists():
            assert process.poll() is None, "quillon-run ended at start"
            assert time.monotonic() < deadline, "no control socket after 10 s"
            time.sleep(0.02)
        client = Panel(path)
        yield client
        client.close()
    finally:
        process.terminate()
        assert process.wait(timeout=10) == 0
