"""Runs the commands of the README's QEMU section as written: each shell
block in turn and the run.sh example, from the repository's folder, with
port 5555 replaced by a free one, so that the tests may run side by side, and
the artifacts folder by one of the test's own. The release build's paths the
commands give are replaced by QUILLON_RUN and FIRMWARE when these are set (a
build of the tests runs them with its own), and kept as they are otherwise
(the release build runs them)."""
import os
import socket
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
SECTION = "## Your firmware under QEMU"
QUILLON_RUN = "build/release/runner/quillon-run"
FIRMWARE = "build/release/examples/firmware/firmware.elf"


def section():
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    start = text.index(SECTION)
    return text[start:text.find("\n## ", start + len(SECTION))]


def shell_blocks():
    return section().split("```sh\n")[1:]


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
    commands = (block.replace(QUILLON_RUN, os.environ.get("QUILLON_RUN", QUILLON_RUN))
                .replace(FIRMWARE, os.environ.get("FIRMWARE", FIRMWARE))
                .replace("5555", str(free_port()))
                .replace("firmware-results", str(tmp_path)))
    result = subprocess.run(["bash", "-c", commands], cwd=ROOT, timeout=60)
    assert result.returncode == 0


def test_run_script_example_passes(tmp_path):
    """run.sh takes the programs from QUILLON_RUN and FIRMWARE itself, and
    from the release build's paths without them."""
    lines = [line.strip() for line in section().splitlines() if line.strip().startswith("examples/firmware/run.sh ")]
    assert len(lines) == 1
    command = lines[0].replace("5555", str(free_port())) + f" --artifacts '{tmp_path}'"
    result = subprocess.run(["bash", "-c", command], cwd=ROOT, timeout=60)
    assert result.returncode == 0
