#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets: short scripts built from the
protocol's example frames. Run it after changing the script operations of a
target; the seeds are committed so a fuzz run starts from known-good blocks.

    fuzz/make_seeds.py            # rewrites fuzz/corpus/<target>/
"""

import pathlib
import struct

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"

# Operations of link_stream_fuzzer.cpp, in their order there.
(FEED, FEED_FRAME, PASSES, TICK, STEP, LONG_STEP, TOGGLE_LINK, KEYS, SYNCH_MODE,
 PORT_FAULTS, LINE_RATE, ONE_PASS) = range(12)

# Operations of send_packet_fuzzer.cpp, in their order there.
(SELECT_FUNCTION, SELECT_LENGTH, SELECT_DATA, TEXT, WAIT, SP_KEYS, SP_SYNCH_MODE,
 SP_TOGGLE_LINK, SEND) = range(9)

# Operations of send_packet_dialog_fuzzer.cpp, in their order there.
(CHOOSE_FUNCTION, CHOOSE_LENGTH, CHOOSE_DATA, CLICK_WRITE_STRING, TYPE, CLICK_AUTO_CHECKSUM,
 CHOOSE_CHECKSUM, DIALOG_WAIT, DIALOG_KEYS, DIALOG_SEND) = range(10)

START_CLOCK = struct.pack("<I", 1000)


def checksum(frame):
    return (1 + sum(frame)) % 256


def frame(code, data, last=True):
    head = [code | 0x80 if last else code, len(data)] + list(data)
    return head + [checksum(head)]


class Stream:
    """A link_stream_fuzzer script."""

    def __init__(self, start=START_CLOCK):
        self.bytes = bytearray(start)

    def feed(self, data):
        data = list(data)
        while data:
            chunk, data = data[:64], data[64:]
            self.bytes += bytes([FEED, len(chunk) - 1] + chunk)
        return self

    def receive(self, data):
        """Feeds the bytes and lets the reader take all of them."""
        self.feed(data)
        count = len(list(data))
        while count > 0:
            self.bytes += bytes([PASSES, min(count, 256) - 1])
            count -= 256
        return self

    def tick(self, ms=10):
        self.bytes += bytes([STEP, ms, TICK])
        return self

    def wait(self, ms):
        """Ticks through ms milliseconds of quiet in long steps."""
        while ms > 0:
            step = min(ms, 20000)
            self.bytes += bytes([LONG_STEP]) + struct.pack("<H", step) + bytes([TICK])
            ms -= step
        return self

    def op(self, *values):
        self.bytes += bytes(values)
        return self


def link_stream_seeds():
    read_switches = [0x85, 0x01, 0x00, 0x87]
    seeds = {
        "one_frame_block": Stream().receive(read_switches).tick(),
        "two_frames": Stream().receive([0x05, 0x01, 0x00, 0x07] + read_switches).tick(),
        "string_then_switches": Stream().receive([0x01, 0x03, 0x00, 0x00, 0x41, 0x46] + read_switches).tick(),
        "write_string_passes": Stream().receive([0x81, 0x03, 0x00, 0x00, 0x41, 0xC6]).tick(),
        "checksum_error": Stream().receive([0x81, 0x03, 0x00, 0x00, 0x41, 0xC5]).tick(),
        "long_status_frame": Stream().op(KEYS, 0).receive(frame(14, [0x20, 0x01, 0x00])).tick(),
        "single_byte_mode": Stream().receive(frame(14, [0x20, 0xFF, 0xFF])).tick().receive(read_switches).tick(),
        "full_buffer_then_overflow": Stream().receive(frame(2, [0, 0] + [0x55] * 115, last=False) + [0x01])
        .tick(121).tick(),
        "bad_function_code": Stream().receive([0x00]).tick(120).tick(1).receive(read_switches).tick(),
        "bad_length": Stream().receive([0x02, 118]).tick(121),
        "silence": Stream().wait(10001).wait(10001),
        "byte_during_complete_block": Stream().receive(read_switches + [0x33]).tick().tick(121),
        "synch_required": Stream().op(SYNCH_MODE, 1).wait(2001).wait(2001).receive(read_switches).tick(),
        "key_latched": Stream().op(KEYS, 2 | 0x10).receive(read_switches).tick(),
        "port_faults": Stream().op(PORT_FAULTS, 2).receive(read_switches).op(PORT_FAULTS, 0)
        .receive(read_switches).tick().op(PORT_FAULTS, 1).wait(10001),
        "paused_link": Stream().receive(read_switches).op(TOGGLE_LINK).receive([0x85]).tick().op(TOGGLE_LINK)
        .receive([0x01, 0x87]).tick().tick(121),
        "line_rate": Stream().feed(read_switches * 8).op(LINE_RATE, 20),
        # The index wraps round onto frames counted but not yet processed.
        "wrap_over_counted_frames": Stream().receive(frame(2, [10, 2, 0x3C, 0x42], last=False)
                                                     + frame(5, [0], last=False) + frame(5, [0], last=False))
        .receive([0] * 241 + read_switches).tick().tick(121),
    }
    commands = {
        "write_array": frame(2, [10, 3, 0xFF, 0x81]),
        "write_array_clipped": frame(2, [126, 0, 1, 2, 3, 4, 5]),
        "write_array_page_8": frame(2, [0, 8, 0xAA]),
        "write_string_clear": frame(1, [0x85, 0x0A, 0x41, 0x42]),
        "write_string_size_5": frame(1, [0x80, 0x2E, 0x41]),
        "write_string_size_2": frame(1, [0x80, 0x10, 0x41]),
        "blank_area": frame(4, [0x1A]),
        "blank_area_reversed": frame(4, [0x13]),
        "setup_display": frame(3, [0x80]),
        "set_contrast": frame(6, [200]),
        "slider_7": frame(8, [7, 2, 1, 2, 3]),
        "slider_42": frame(8, [42, 2, 1, 2, 3]),
        "slider_100": frame(8, [100, 2, 1, 2, 3]),
        "slider_two_pages": frame(8, [5, 9, 1, 2, 3, 4, 5, 6]),
        "draw_and_repeat": frame(10, [0, 0, 3, 0x0F, 0xF0]),
        "draw_and_repeat_127": frame(10, [0, 1, 127, 0xFF]),
        "draw_and_repeat_128": frame(10, [0, 1, 128, 0xFF]),
        "draw_and_repeat_clipped": frame(10, [100, 2, 19, 1, 2]),
        "draw_icon_41": frame(11, [0, 0, 41]),
        "draw_icon_42": frame(11, [0, 0, 42]),
        "frame_header": frame(9, list(b"Main Menu")),
        "reply_mode_single": frame(14, [0x20, 0xFF, 0xFF]),
    }
    for name, block in commands.items():
        seeds["command_" + name] = Stream().receive(block).tick()
    return seeds


def send_packet_seeds():
    def script(*values):
        return bytearray(START_CLOCK) + bytes(values)

    return {
        "send_after_opening": script(SEND),
        "write_array": script(SELECT_FUNCTION, 1, SELECT_LENGTH, 2, SELECT_DATA, 0, 0x10, SELECT_DATA, 1, 0x20,
                              SELECT_DATA, 2, 0x30, SEND),
        "string_form": script(TEXT, 1, 2) + b"AB" + bytes([SEND]),
        "string_form_empty": script(TEXT, 1, 0, SEND),
        "string_then_array": script(TEXT, 1, 2) + b"AB" + bytes([SELECT_FUNCTION, 1, SEND]),
        "blank_area": script(SELECT_FUNCTION, 3, SELECT_LENGTH, 5, SELECT_DATA, 0, 0x1A, SEND),
        "longest_text": script(TEXT, 1, 115) + b"x" * 115 + bytes([SEND]),
        "single_byte_mode": script(SP_SYNCH_MODE, 1, SP_KEYS, 3, SEND),
        "paused_link": script(SP_TOGGLE_LINK, SEND, SP_TOGGLE_LINK, WAIT, 10, 0, SEND),
    }


def send_packet_dialog_seeds():
    def script(*values):
        return bytearray(START_CLOCK) + bytes(values)

    return {
        "send_after_opening": script(DIALOG_SEND),
        "write_array": script(CHOOSE_FUNCTION, 1, CHOOSE_LENGTH, 2, CHOOSE_DATA, 0, 0x10, CHOOSE_DATA, 1, 0x20,
                              CHOOSE_DATA, 2, 0x30, DIALOG_SEND),
        "string_form": script(CLICK_WRITE_STRING, TYPE, 2) + b"AB" + bytes([DIALOG_SEND]),
        "string_form_empty": script(CLICK_WRITE_STRING, DIALOG_SEND),
        "string_then_array": script(CLICK_WRITE_STRING, TYPE, 2) + b"AB" + bytes([CHOOSE_FUNCTION, 1, DIALOG_SEND]),
        "blank_area": script(CHOOSE_LENGTH, 5, CHOOSE_FUNCTION, 3, CHOOSE_DATA, 0, 0x1A, DIALOG_SEND),
        "text_too_long": script(CLICK_WRITE_STRING, TYPE, 130) + b"y" * 130 + bytes([DIALOG_SEND]),
        "hand_checksum": script(CLICK_AUTO_CHECKSUM, CHOOSE_CHECKSUM, 0x55, DIALOG_SEND),
        "longest_array": script(CHOOSE_FUNCTION, 1, CHOOSE_LENGTH, 24, CHOOSE_DATA, 24, 0xFF, DIALOG_SEND),
    }


def settings_seeds():
    return {
        "saved_off": b"[General]\nCOM=1\nSave%20Settings=0\nSynch%20Required=0\n",
        "saved_on": b"[General]\nCOM=5\nSave%20Settings=1\nSynch%20Required=1\n",
        "device_path": b"[General]\nCOM=1\nDevice=/dev/ttyUSB0\nSave%20Settings=1\nSynch%20Required=0\n",
        "synch_missing": b"[General]\nCOM=7\nSave%20Settings=1\n",
        "not_a_number": b"[General]\nSave%20Settings=yes\nCOM=7\n",
        "out_of_range": b"[General]\nCOM=4294967296\nSave%20Settings=1\nSynch%20Required=-1\n",
        "truncated": b"[General]\nCOM=5\nSave%20Sett",
        "other_group": b"[General]\nSave%20Settings=1\n[Other]\nkept=yes\n",
        "typed_values": b"[General]\nCOM=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\nSave%20Settings=@ByteArray(1)\n",
        "unclosed_group": b"@\n[",
    }


def write(target, seeds):
    directory = CORPUS / target
    directory.mkdir(parents=True, exist_ok=True)
    for old in directory.iterdir():
        old.unlink()
    for name, data in seeds.items():
        (directory / name).write_bytes(bytes(data.bytes if isinstance(data, Stream) else data))


if __name__ == "__main__":
    write("link_stream_fuzzer", link_stream_seeds())
    write("send_packet_fuzzer", send_packet_seeds())
    write("send_packet_dialog_fuzzer", send_packet_dialog_seeds())
    write("settings_fuzzer", settings_seeds())
