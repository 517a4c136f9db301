#!/usr/bin/env python3
"""The example firmware under QEMU drives the desktop program, started with
--spawn on a TCP line the program listens on, and a test framework drives the
window through its control socket: the menu read by its text, a key clicked,
a fault given and told in the trace, and the figures at the end.

    desktop_control.py QUILLON QEMU FIRMWARE WORKDIR
"""
import json
import os
import re
import shlex
import socket
import subprocess
import sys
import time


def main(quillon, qemu, firmware, workdir):
    os.makedirs(workdir, exist_ok=True)
    trace = os.path.join(workdir, "desktop-trace.jsonl")
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=workdir, XDG_RUNTIME_DIR=workdir)
    device = shlex.join([qemu, "-M", "lm3s6965evb", "-display", "none", "-monitor", "none", "-kernel", firmware,
                         "-serial"]) + " tcp:127.0.0.1:{port},nodelay=on"
    program = subprocess.Popen(
        [quillon, "--tcp-listen", "0", "--spawn", device, "--control-tcp", "0", "--trace", trace, "--trace-format",
         "jsonl", "--stats"], cwd=workdir, env=environment, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        port = None
        for line in program.stdout:
            found = re.search(r"control socket on 127\.0\.0\.1:(\d+)", line)
            if found:
                port = int(found.group(1))
                break
        assert port, "the program told no control socket"
        with socket.create_connection(("127.0.0.1", port), timeout=60) as control:
            replies = control.makefile("r")

            def ask(request):
                control.sendall((json.dumps(request) + "\n").encode())
                while True:
                    reply = json.loads(replies.readline())
                    if "event" not in reply:
                        assert reply.get("ok"), f"{request} gave {reply}"
                        return reply

            ask({"cmd": "wait-text", "text": "QEMU FIRMWARE", "timeout_ms": 20000})
            ask({"cmd": "wait-text", "text": "Counter", "inverse": True})
            ask({"cmd": "fault", "kind": "drop-reply", "at": 1})
            ask({"cmd": "click", "key": "down"})
            ask({"cmd": "wait-text", "text": "Step", "inverse": True})
            status = ask({"cmd": "status"})
            assert status["faults"] == ["drop-reply:at=1"], status
            ask({"cmd": "quit"})
        assert program.wait(timeout=30) == 0, program.stderr.read()
        stats = json.loads(program.stderr.read().strip().splitlines()[-1])
        assert stats["replies"] > 0 and stats["faults"] == {"drop-reply": 1}, stats
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()
    rows = [json.loads(line) for line in open(trace, encoding="utf-8")]
    assert any(row.get("kind") == "fault" and row.get("fault") == "drop-reply" for row in rows), "no fault row"
    assert os.path.exists(os.path.join(workdir, "device.log"))


def device_that_ends(quillon, workdir):
    """A device that ends first is told in the monitor's rows and the trace,
    and the window stays: its screenshot is taken two seconds later."""
    trace = os.path.join(workdir, "ended-trace.txt")
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=workdir, XDG_RUNTIME_DIR=workdir)
    run = subprocess.run(
        [quillon, "--tcp-listen", "0", "--spawn", "exit 3", "--trace", trace, "--screenshot",
         os.path.join(workdir, "ended.png"), "--screenshot-after", "2"],
        cwd=workdir, env=environment, capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert "quillon: the device ended: exited with status 3" in run.stdout, run.stdout
    assert "the device ended" in open(trace, encoding="utf-8").read()


if __name__ == "__main__":
    started = time.monotonic()
    main(*sys.argv[1:5])
    device_that_ends(sys.argv[1], sys.argv[4])
    print(f"passed in {time.monotonic() - started:.1f} s")
