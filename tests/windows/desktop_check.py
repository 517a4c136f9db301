#!/usr/bin/env python3
"""quillon.exe under Wine on a COM port that Wine maps onto a pseudo-terminal.

A WRITE STRING block goes in from the Linux end of the line; the reply must
come back byte for byte, and the program's screenshot must show on its display
exactly what the Linux program shows after the same block (played from a
recording). A second run is closed the way Windows closes a window, and its
settings must then be in the registry as three REG_DWORD values. A port that
does not exist and a command with no program to take it are refused as on
Linux.

  desktop_check.py QUILLON_EXE LINUX_QUILLON COM_NUMBER LINE_PATH WORK_DIR
"""

import os
import select
import struct
import subprocess
import sys
import termios
import time
import tty
import zlib

# WRITE STRING "AB" in size 0 at page 0, column 0, ending its block; and the
# short status reply with no key and no error that answers it.
BLOCK = bytes([0x81, 0x04, 0x00, 0x00, 0x41, 0x42, 0x09])
REPLY = bytes([0x05, 0x01, 0x00, 0x07])
# Where the display lies in the panel picture, and the panel's size.
DISPLAY_X, DISPLAY_Y, DISPLAY_W, DISPLAY_H = 80, 118, 128, 64
PANEL_W, PANEL_H = 302, 305
SETTINGS_KEY = r"HKCU\Software\Ostrel\Quillon"


def fail(message):
    print(f"FAIL: {message}")
    sys.exit(1)


def read_png(path):
    """Width, height and rows of (r, g, b) of an 8-bit RGB or RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail(f"{path} is not a PNG")
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    if depth != 8 or colour not in (2, 6) or interlace:
        fail(f"{path}: a PNG of depth {depth}, colour type {colour}, interlace {interlace}")
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + pred) & 0xFF
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def display_of(path):
    """The display's 128 x 64 pixels in a window picture: the panel is the
    window's lower part, below its menu bar."""
    width, height, rows = read_png(path)
    if width != PANEL_W or height <= PANEL_H:
        fail(f"{path} is {width} x {height}, not a window showing the {PANEL_W} x {PANEL_H} panel")
    top = height - PANEL_H + DISPLAY_Y
    return [row[DISPLAY_X:DISPLAY_X + DISPLAY_W] for row in rows[top:top + DISPLAY_H]]


def open_line(path):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    attributes = termios.tcgetattr(fd)
    attributes[4] = attributes[5] = termios.B9600
    termios.tcsetattr(fd, termios.TCSANOW, attributes)
    return fd


def exchange(fd, deadline):
    """Sends the block until the panel answers; the answer's bytes."""
    while time.monotonic() < deadline:
        os.write(fd, BLOCK)
        answer = b""
        wait_until = time.monotonic() + 2
        while len(answer) < len(REPLY) and time.monotonic() < wait_until:
            ready, _, _ = select.select([fd], [], [], 0.1)
            if ready:
                answer += os.read(fd, 64)
        if answer:
            return answer
    fail("the panel never answered the block")


def wine(*arguments, **options):
    return subprocess.run(["wine", *arguments], capture_output=True, text=True, **options)


def main():
    exe, linux_quillon, com, line, work = sys.argv[1:6]
    os.makedirs(work, exist_ok=True)
    environment = dict(os.environ)
    environment.pop("QT_QPA_PLATFORM", None)
    fd = open_line(line)

    # The reply, and the screenshot once the block has been drawn.
    shot = os.path.join(work, "windows.png")
    program = subprocess.Popen(["wine", exe, "--port", f"COM{com}", "--screenshot", shot,
                                "--screenshot-after", "6"], env=environment,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    answer = exchange(fd, time.monotonic() + 60)
    if answer != REPLY:
        fail(f"reply {answer.hex(' ')}, expected {REPLY.hex(' ')}")
    try:
        out, err = program.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        program.kill()
        fail("quillon.exe did not take its screenshot")
    if program.returncode != 0 or not os.path.exists(shot):
        fail(f"quillon.exe --screenshot exited {program.returncode}: {out} {err}")

    # The Linux program's picture of the same block.
    recording = os.path.join(work, "block.rec")
    with open(recording, "w") as f:
        f.write("quillon-recording 1\n1000 " + BLOCK.hex(" ").upper() + "\n# reply\n")
    reference = os.path.join(work, "linux.png")
    linux = subprocess.run([linux_quillon, "--replay", recording, "--screenshot", reference],
                           env={**environment, "QT_QPA_PLATFORM": "offscreen"},
                           capture_output=True, text=True, timeout=60)
    if linux.returncode != 0:
        fail(f"the Linux program's screenshot failed: {linux.stderr}")
    windows_display, linux_display = display_of(shot), display_of(reference)
    differing = sum(a != b for wr, lr in zip(windows_display, linux_display) for a, b in zip(wr, lr))
    if differing:
        fail(f"{differing} of the display's pixels differ from the Linux program's")
    # The text is there, not a blank display: the two colours both appear
    # in the cells "AB" was written to.
    if len({pixel for row in windows_display[:8] for pixel in row[:12]}) < 2:
        fail("the display shows no text where the block wrote it")

    # Closed as Windows closes a window, the settings are written.
    wine("reg", "delete", SETTINGS_KEY, "/f")
    program = subprocess.Popen(["wine", exe, "--port", f"COM{com}"], env=environment,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    exchange(fd, time.monotonic() + 60)
    wine("taskkill", "/im", "quillon.exe")
    try:
        program.wait(timeout=30)
    except subprocess.TimeoutExpired:
        program.kill()
        fail("quillon.exe did not close when asked")
    query = wine("reg", "query", SETTINGS_KEY)
    values = {}
    for row in query.stdout.splitlines():
        parts = row.split()
        if len(parts) >= 3 and parts[-2].startswith("REG_"):
            values[" ".join(parts[:-2])] = (parts[-2], parts[-1])
    for name in ("COM", "Synch Required", "Save Settings"):
        if name not in values or values[name][0] != "REG_DWORD":
            fail(f"registry value {name} is {values.get(name)}: {query.stdout}")

    # Refused as on Linux: a COM port that does not exist, with Windows's
    # reason below the message; a command with no program to take it.
    missing = wine(exe, "--port", "COM99", "--screenshot", os.path.join(work, "missing.png"),
                   env=environment, timeout=60)
    if "Error Initialising COM99" not in missing.stderr or "There is no such port" not in missing.stderr:
        fail(f"a missing port was reported as: {missing.stderr!r}")
    command = wine(exe, "--send-command", "32806", env=environment, timeout=60)
    if command.returncode != 1 or "no running Quillon" not in command.stderr:
        fail(f"--send-command with no program running: exit {command.returncode}, {command.stderr!r}")
    os.close(fd)
    print(f"quillon.exe on COM{com}: reply {answer.hex(' ')}, display identical to Linux, "
          f"settings {', '.join(f'{k}={v[1]}' for k, v in sorted(values.items()))}")


if __name__ == "__main__":
    main()
