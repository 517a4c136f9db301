"""Runs the commands of the README's QEMU section as written: each shell
block in turn, with the release build's paths replaced by the tested build's,
port 5555 by a free one, so that the tests may run side by side, and the
artifacts folder by one of the test's own."""
import os
import socket
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
SECTION = "## Your firmware under QEMU"


def shell_blocks():
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    start = text.index(SECTION)
    section = text[start:text.find("\n## ", start + len(SECTION))]
    return section.split("```sh\n")[1:]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def test_the_section_has_both_orders_and_the_one_command():
    blocks = [block[:block.index("```")] for block in shell_blocks()]
    assert "--spawn" in blocks[0] and "{port},nodelay=on" in blocks[0] and "--line-rate 9600" in blocks[0]
    assert any("--tcp-connect" in block and "server=on,wait=on,nodelay=on" in block for block in blocks)
    assert any("--tcp-listen" in block and "nodelay=on" in block for block in blocks)


@pytest.mark.parametrize("index", [0, 1, 2])
def test_readme_commands_pass(index, tmp_path):
    block = shell_blocks()[index]
    block = block[:block.index("```")]
    commands = (block.replace("build/release/runner/quillon-run", os.environ["QUILLON_RUN"])
                .replace("build/release/examples/firmware/firmware.elf", os.environ["FIRMWARE"])
                .replace("5555", str(free_port()))
                .replace("firmware-results", str(tmp_path)))
    result = subprocess.run(["bash", "-c", commands], cwd=ROOT, timeout=60)
    assert result.returncode == 0
