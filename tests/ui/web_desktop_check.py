"""The desktop program's --http: the window's panel served as a web page.

quillon --demo --http 0 under the offscreen platform prints the page's
address; the page is served, the screen is read at /text and the down key
pressed over the WebSocket moves the window's menu.

Usage: web_desktop_check.py QUILLON
"""
import asyncio
import json
import re
import subprocess
import sys
import urllib.request

import websockets


async def press_down(port):
    async with websockets.connect(f"ws://127.0.0.1:{port}/ws") as panel:
        async def ask(**request):
            await panel.send(json.dumps(request))
            return json.loads(await panel.recv())

        assert (await ask(cmd="wait-text", text="MAIN MENU", timeout_ms=10000))["ok"]
        assert (await ask(cmd="click", key="down"))["ok"]
        assert (await ask(cmd="wait-text", text="Contrast", inverse=True, timeout_ms=5000))["ok"]
        assert "not taken" in (await ask(cmd="quit"))["error"]


def main():
    program = subprocess.Popen([sys.argv[1], "--demo", "--http", "0"], stderr=subprocess.PIPE, text=True)
    try:
        for line in program.stderr:
            found = re.search(r"quillon: http://127\.0\.0\.1:(\d+)/", line)
            if found:
                break
        port = int(found.group(1))
        page = urllib.request.urlopen(f"http://127.0.0.1:{port}/").read().decode()
        assert "<canvas id=\"panel\"" in page
        asyncio.run(press_down(port))
        rows = json.loads(urllib.request.urlopen(f"http://127.0.0.1:{port}/text").read())["rows"]
        assert any(row["inverse"] and "Contrast" in row["text"] for row in rows), rows
        assert program.poll() is None
    finally:
        program.terminate()
        program.wait(10)
    print("the window's panel was served and pressed from the web")


main()
