"""The web server of quillon-run under clients that misbehave.

On a busy demo line a WebSocket client subscribes and then stops reading,
while another client keeps asking: every request is answered and the panel
goes on replying to its device. Bad input gets a JSON error and the
connection goes on; the connection past the limit is refused with a reason.
When the stalled client reads again, the rows it could not be given are
counted in a "not-shown" row.

Usage: web_check.py QUILLON_RUN
"""

import asyncio
import base64
import json
import os
import re
import socket
import subprocess
import sys

import websockets

PROGRAM = sys.argv[1]
LIMIT = 32


def raw_websocket(port, receive_buffer=None):
    """A WebSocket opened by hand, so that it can stop reading."""
    connection = socket.socket()
    if receive_buffer:
        connection.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    connection.connect(("127.0.0.1", port))
    key = base64.b64encode(os.urandom(16)).decode()
    connection.sendall((f"GET /ws HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\n"
                        f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n")
                       .encode())
    answer = b""
    while b"\r\n\r\n" not in answer:
        answer += connection.recv(1)
    assert answer.startswith(b"HTTP/1.1 101"), answer
    return connection


def send_text(connection, text):
    payload, mask = text.encode(), os.urandom(4)
    assert len(payload) < 126
    connection.sendall(bytes([0x81, 0x80 | len(payload)]) + mask +
                       bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))


def http(port, request):
    connection = socket.create_connection(("127.0.0.1", port))
    connection.sendall(request)
    answer = b""
    while chunk := connection.recv(65536):
        answer += chunk
    connection.close()
    return answer.decode(errors="replace")


async def keep_asking(port):
    async with websockets.connect(f"ws://127.0.0.1:{port}/ws", max_size=None) as client:
        async def ask(message):
            await client.send(message)
            while True:
                reply = json.loads(await client.recv())
                if "event" not in reply:
                    return reply
        first = (await ask('{"cmd": "status"}'))["replies"]
        assert (await ask('{"cmd": "wait-text", "text": "MAIN MENU", "timeout_ms": 10000}'))["ok"]
        assert (await ask('{"cmd": "click", "key": "down"}'))["ok"]
        assert "not JSON" in (await ask("{nope"))["error"]
        assert "longer than 65536 bytes" in (await ask("x" * 70000))["error"]
        replies = first
        for _ in range(100):
            replies = (await ask('{"cmd": "status"}'))["replies"]
            if replies > first + 500:
                break
            await asyncio.sleep(0.1)
        assert replies > first, (first, replies)
        return replies - first


def check_connection_limit(port, held):
    extra = [raw_websocket(port) for _ in range(LIMIT - held)]
    refused = http(port, f"GET /text HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
    assert refused.startswith("HTTP/1.1 503") and "too many connections" in refused, refused
    for connection in extra:
        connection.close()


def read_until_not_shown(connection):
    connection.settimeout(10)
    seen = b""
    while b'"event":"not-shown"' not in seen:
        chunk = connection.recv(1 << 20)
        assert chunk, ("the stalled client was never told of the rows it missed", len(seen), seen[-300:])
        seen = seen[-200:] + chunk


def main():
    program = subprocess.Popen([PROGRAM, "--demo", "--demo-busy", "-q", "--http", "0", "--run-for", "60s"],
                               stderr=subprocess.PIPE, text=True)
    try:
        port = int(re.search(r":(\d+)/", program.stderr.readline()).group(1))
        stalled = raw_websocket(port, receive_buffer=4096)
        send_text(stalled, '{"cmd": "subscribe"}')
        answered = asyncio.run(keep_asking(port))
        bad = http(port, b"NOT HTTP AT ALL\r\n\r\n")
        assert bad.startswith("HTTP/1.1 400") and '"ok":false' in bad, bad
        check_connection_limit(port, held=1)
        read_until_not_shown(stalled)
        stalled.close()
        assert program.poll() is None, "quillon-run ended"
    finally:
        program.terminate()
        program.wait(10)
    print(f"the panel answered {answered} blocks while a client stalled; bad input refused; limit held")


main()
