"""Drives the demo device's menus through quillon-run's control socket."""
import base64
import struct


def menu_shown(panel):
    assert panel.request("wait-text", text="MAIN MENU", timeout_ms=5000)["ok"]
    assert panel.request("wait-text", text="Panel info", timeout_ms=2000)["ok"]


def test_reads_the_main_menu(panel):
    menu_shown(panel)
    rows = panel.request("text")["rows"]
    texts = [row["text"] for row in rows]
    assert "MAIN MENU" in texts
    highlighted = [row for row in rows if row["inverse"]]
    assert len(highlighted) == 1 and "Set point" in highlighted[0]["text"]


def test_click_opens_the_set_point_and_up_raises_it(panel):
    menu_shown(panel)
    assert panel.request("click", key="right")["ok"]
    assert panel.request("wait-text", text="SET POINT", timeout_ms=2000)["ok"]
    assert panel.request("wait-text", text="42\u00b0C", timeout_ms=2000)["ok"]
    assert panel.request("click", key="up")["ok"]
    assert panel.request("wait-text", text="43\u00b0C", timeout_ms=2000)["ok"]


def test_screenshot_is_a_png_of_the_display(panel):
    menu_shown(panel)
    reply = panel.request("screenshot", scale=2)
    png = base64.b64decode(reply["png"])
    assert png[:8] == b"\x89PNG\r\n\x1a\n"
    width, height = struct.unpack(">II", png[16:24])
    assert (width, height) == (reply["width"], reply["height"]) == (256, 128)


def test_display_memory_has_eight_pages(panel):
    menu_shown(panel)
    pages = panel.request("display")["pages"]
    assert len(pages) == 8 and all(len(page) == 256 for page in pages)
    # The header's rule: row 4 of page 0 at column 0.
    assert int(pages[0][0:2], 16) == 0x10


def test_events_show_frames_and_replies(panel):
    menu_shown(panel)
    assert panel.request("subscribe")["ok"]
    assert panel.request("click", key="down")["ok"]
    assert panel.request("wait-text", text="Contrast", inverse=True, timeout_ms=2000)["ok"]
    kinds = {event["event"] for event in panel.events}
    assert {"frame", "reply"} <= kinds
    replies = [event for event in panel.events if event["event"] == "reply"]
    assert any(event["key"] == "down" for event in replies)


def test_a_wait_that_times_out_says_so(panel):
    reply = panel.request("wait-text", text="NO SUCH TEXT", timeout_ms=200)
    assert not reply["ok"] and "timed out" in reply["error"]


def test_bad_lines_get_an_error_and_the_panel_keeps_working(panel):
    panel.send_line("this is not JSON")
    assert not panel.read()["ok"]
    panel.send_line("x" * (70 * 1024))
    reply = panel.read()
    assert not reply["ok"] and "longer than" in reply["error"]
    assert "unknown cmd" in panel.request("fly")["error"]
    assert "key" in panel.request("press", key="sideways")["error"]
    menu_shown(panel)


def test_quit_is_answered_before_the_runner_ends(panel):
    assert panel.request("quit")["ok"]
