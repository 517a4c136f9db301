"""The panel's web page, opened in headless Chromium against quillon-run --demo.

The page's display equals the display memory read through the control
protocol; the down key clicked on the page and the arrow keys move the menu's
selection; a second page sees the change a first one made; the log's rows are
the trace's; the page echoes the changes it painted and keeps the latencies
the server answers; a read-only page's click is refused; a server off
loopback answers 401 without its token, and the WebSocket refuses a foreign
Origin. A picture of the page, the demo's main menu with the log beside it,
is saved for the README.

Usage: web_browser_check.py QUILLON_RUN SCREENSHOT
"""

import asyncio
import json
import pathlib
import re
import subprocess
import sys
import tempfile
import urllib.error
import urllib.request

import websockets
import headless_chromium
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

PROGRAM, SCREENSHOT = sys.argv[1], pathlib.Path(sys.argv[2])
# The middle of the down key, the lower half of the round middle key, on the
# panel picture at 1x.
DOWN_KEY = (140, 228)


def start(*options):
    program = subprocess.Popen([PROGRAM, "--demo", "-q", "--run-for", "90s", *options],
                               stderr=subprocess.PIPE, text=True)
    line = program.stderr.readline()
    found = re.search(r"http://[^:]+:(\d+)/(\?token=\w+)?", line)
    assert found, line
    return program, int(found.group(1))


async def ask(port, *requests, headers=None):
    """The replies to requests over the WebSocket, events left out."""
    async with websockets.connect(f"ws://127.0.0.1:{port}/ws", extra_headers=headers or {}) as socket:
        replies = []
        for number, request in enumerate(requests):
            await socket.send(json.dumps({"id": number, **request}))
            while True:
                reply = json.loads(await socket.recv())
                if reply.get("id") == number:
                    replies.append(reply)
                    break
        return replies


def control(port, *requests):
    return asyncio.run(ask(port, *requests))


def selected(port, text):
    reply = control(port, {"cmd": "wait-text", "text": text, "inverse": True, "timeout_ms": 5000})[0]
    assert reply["ok"], reply


def memory_bits(pages):
    return "".join("1" if int(pages[y // 8][x * 2:x * 2 + 2], 16) >> (y % 8) & 1 else "0"
                   for y in range(64) for x in range(128))


# The page's display read back from its canvas: a pixel is ink when it is dark.
PAGE_BITS = """
const canvas = document.getElementById('panel');
const zoom = canvas.width / 302;
const data = canvas.getContext('2d').getImageData(80 * zoom, 118 * zoom, 128 * zoom, 64 * zoom).data;
let bits = '';
for (let y = 0; y < 64; y++) {
  for (let x = 0; x < 128; x++) {
    const at = ((y * zoom) * 128 * zoom + x * zoom) * 4;
    bits += data[at] + data[at + 1] + data[at + 2] < 200 ? '1' : '0';
  }
}
return bits;
"""


def page_matches_memory(driver, port):
    """Waits until the page has painted the display memory as it was read, and compares them."""
    painted = lambda d: d.execute_script("return window.quillonPainted.changes")
    for _ in range(20):
        display = control(port, {"cmd": "display"})[0]
        WebDriverWait(driver, 10).until(lambda d: painted(d) >= display["changes"])
        bits = driver.execute_script(PAGE_BITS)
        if painted(driver) == display["changes"]:
            assert bits == memory_bits(display["pages"])
            return
    raise AssertionError("the display kept changing")


def click_down(driver):
    canvas = driver.find_element(By.ID, "panel")
    zoom = driver.execute_script("return arguments[0].width / 302", canvas)
    size = canvas.size
    ActionChains(driver).move_to_element_with_offset(canvas, DOWN_KEY[0] * zoom - size["width"] / 2,
                                                     DOWN_KEY[1] * zoom - size["height"] / 2).click().perform()


def check_keys_and_two_pages(driver, port):
    driver.get(f"http://127.0.0.1:{port}/")
    selected(port, "Set point")
    page_matches_memory(driver, port)
    first = driver.current_window_handle
    driver.switch_to.new_window("window")
    driver.get(f"http://127.0.0.1:{port}/")
    WebDriverWait(driver, 10).until(lambda d: d.execute_script("return window.quillonPainted.changes") > 0)
    click_down(driver)
    selected(port, "Contrast")
    page_matches_memory(driver, port)
    driver.switch_to.window(first)
    page_matches_memory(driver, port)
    driver.find_element(By.TAG_NAME, "body").send_keys(Keys.ARROW_UP)
    selected(port, "Set point")
    page_matches_memory(driver, port)
    WebDriverWait(driver, 5).until(lambda d: len(d.find_elements(By.CSS_SELECTOR, "#log-rows > .row")) > 10)
    # The log's rows are the trace's, worded as the protocol monitor words them.
    directions = set(driver.execute_script(
        "return [...document.querySelectorAll('#log-rows > .row > span:nth-child(2)')].map((cell) => cell.textContent)"))
    assert {"device → panel", "panel → device"} <= directions, directions
    # The page echoed the changes it painted and kept the latencies it was told.
    latencies = driver.execute_script("return window.quillonPaintLatencies")
    assert latencies and all(latency >= 0 for latency in latencies), latencies
    driver.save_screenshot(str(SCREENSHOT))


def check_read_only(driver, port):
    driver.get(f"http://127.0.0.1:{port}/")
    selected(port, "Set point")
    assert not driver.find_element(By.ID, "unplug").is_displayed()
    click_down(driver)
    WebDriverWait(driver, 5).until(lambda d: "read-only" in d.find_element(By.ID, "message").text)
    assert control(port, {"cmd": "status"})[0]["keys"] == 0
    selected(port, "Set point")


async def refusal(target, headers):
    try:
        async with websockets.connect(target, extra_headers=headers):
            return None
    except websockets.exceptions.InvalidStatusCode as error:
        return error.status_code


def check_token_and_origin(port, token, loopback_port):
    for headers, status in (({}, 401), ({"Authorization": "Bearer " + token}, 200)):
        try:
            status_got = urllib.request.urlopen(
                urllib.request.Request(f"http://127.0.0.1:{port}/text", headers=headers)).status
        except urllib.error.HTTPError as error:
            status_got = error.code
        assert status_got == status, (headers, status_got)
    for target, headers in ((f"ws://127.0.0.1:{port}/ws", {}),
                            (f"ws://127.0.0.1:{loopback_port}/ws", {"Origin": "http://evil.example"})):
        assert asyncio.run(refusal(target, headers)) in (401, 403), (target, headers)


def main():
    servers = [start("--http", "0"), start("--http", "0", "--http-read-only"),
               start("--http", "0.0.0.0:0", "--http-token", "t0ken")]
    try:
        with tempfile.TemporaryDirectory() as profile:
            driver = headless_chromium.browser(profile, 1300, 820)
            try:
                check_keys_and_two_pages(driver, servers[0][1])
                check_read_only(driver, servers[1][1])
            finally:
                driver.quit()
        check_token_and_origin(servers[2][1], "t0ken", servers[0][1])
    finally:
        for program, _ in servers:
            program.terminate()
            program.wait(10)
    print("the page works in the browser; its picture is", SCREENSHOT)


main()
