#!/usr/bin/env python3
"""quillon.exe given an option it does not know, under Wine on an X server.

With somewhere to print (standard error redirected, as from a console) it
prints the option's message and exits 2, as on Linux. Started the way
Explorer starts a program (`start /wait`: no console and no standard
handles) it shows the message in a message box captioned "Quillon"; closed
the Windows way, the box lets the program end, still with status 2.

  bad_option_check.py QUILLON_EXE
"""

import os
import subprocess
import sys
import time

OPTION = "--no-such-option"


def fail(message):
    print(f"FAIL: {message}")
    sys.exit(1)


def windows_named(title):
    """The X windows whose name is title, as xwininfo lists them."""
    tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True).stdout
    return [row.strip() for row in tree.splitlines() if f'"{title}":' in row]


def main():
    exe = sys.argv[1]
    environment = dict(os.environ)
    environment.pop("QT_QPA_PLATFORM", None)

    printed = subprocess.run(["wine", exe, OPTION], env=environment, capture_output=True, text=True, timeout=60)
    expected = "quillon: Unknown option 'no-such-option'.\nTry 'quillon --help' for the options.\n"
    if printed.returncode != 2 or expected not in printed.stderr:
        fail(f"with standard error redirected: exit {printed.returncode}, {printed.stderr!r}")

    if windows_named("Quillon"):
        fail("a window named Quillon is open before the program starts")
    program = subprocess.Popen(["wine", "start", "/wait", "/unix", exe, OPTION], env=environment,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 60
    while not windows_named("Quillon") and program.poll() is None and time.monotonic() < deadline:
        time.sleep(0.1)
    shown = windows_named("Quillon")
    if not shown:
        program.kill()
        fail(f"no message box named Quillon was shown (the program ended with {program.poll()})")
    subprocess.run(["wine", "taskkill", "/im", os.path.basename(exe)], env=environment, capture_output=True)
    try:
        status = program.wait(timeout=30)
    except subprocess.TimeoutExpired:
        program.kill()
        fail("quillon.exe did not end when its message box was closed")
    if status != 2:
        fail(f"exit status {status} after the message box, expected 2")
    print(f"printed with standard error redirected; without it, a message box: {shown[0]}")


if __name__ == "__main__":
    main()
