"""Presses the down key of a panel that quillon-run --http serves, through
its WebSocket, and prints the text on the screen afterwards.

Usage: press_down.py ws://127.0.0.1:8080/ws
"""
import asyncio
import json
import sys

import websockets


async def main(address):
    async with websockets.connect(address) as panel:
        async def ask(**request):
            await panel.send(json.dumps(request))
            reply = json.loads(await panel.recv())
            assert reply["ok"], reply["error"]
            return reply

        await ask(cmd="wait-text", text="MAIN MENU", timeout_ms=10000)
        await ask(cmd="click", key="down")
        for row in (await ask(cmd="text"))["rows"]:
            print(("> " if row["inverse"] else "  ") + row["text"].strip())


asyncio.run(main(sys.argv[1]))
