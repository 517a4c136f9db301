"""The film of a real run against the demo device, read back with Pillow: its
last frame is the screen the run saved at its end, and each frame begins
when the same run's JSON Lines trace has the device draw, within the 20 ms a
frame lasts at least and the centisecond its delay is rounded to.

    film_check.py QUILLON_RUN SCENARIO OUT
"""
import json
import pathlib
import subprocess
import sys

from PIL import Image

SHORTEST_MS = 20
ROUNDING_MS = 10
# Frames that ask or set up, and draw nothing.
NOT_DRAWING = {"READ SWITCHES", "SET CONTRAST AND REPLY MODE"}

program, scenario, out = sys.argv[1], sys.argv[2], pathlib.Path(sys.argv[3])
out.mkdir(parents=True, exist_ok=True)
subprocess.run([program, "--demo", "-q", "--scenario", scenario, "--artifacts", str(out), "--record-display",
                str(out / "film.gif"), "--trace", str(out / "trace.jsonl"), "--trace-format", "jsonl"], check=True)

film = Image.open(out / "film.gif")
starts, at = [], 0
for index in range(film.n_frames):
    film.seek(index)
    starts.append(at)
    at += film.info["duration"]
last = film.convert("RGB").resize((128, 64), Image.NEAREST)
saved = Image.open(out / "last.png").convert("RGB")
assert list(last.getdata()) == list(saved.getdata()), "the film's last frame is not the screen saved at the end"

rows = [json.loads(line) for line in (out / "trace.jsonl").read_text().splitlines()]
drawn = [row["t"] for row in rows if row["dir"] == "device" and row["kind"] == "frame" and row["name"] not in NOT_DRAWING]
assert len(starts) >= 4, f"only {len(starts)} frames for screens that changed"
# Before the device's first drawing the panel shows its own start-up screen,
# drawn as the link starts; the frames from the device's first drawing on
# follow the device.
for start in (start for start in starts[1:] if start >= drawn[0] - ROUNDING_MS):
    assert any(start - ROUNDING_MS <= t + SHORTEST_MS and t - ROUNDING_MS <= start for t in drawn), \
        f"a frame begins at {start} ms, when the device drew nothing (drawing at {drawn})"
assert starts[-1] <= drawn[-1] + SHORTEST_MS + ROUNDING_MS, "the film runs ahead of the device"
# The film is shown until the run ends, after the trace's last row.
assert at >= rows[-1]["t"] - ROUNDING_MS, f"the film lasts {at} ms, the run {rows[-1]['t']} ms at least"
print(f"{len(starts)} frames, each beginning as the device drew")
