"""Runs the README's scenarios, commands and control-socket exchanges as
written."""
import json
import re
import subprocess

from conftest import ROOT, quillon_run

SECTION = "## Testing your firmware in CI"
FAULTS = "## Faults on purpose"


def readme_section(title=SECTION):
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    start = text.index(title)
    end = text.find("\n## ", start + len(title))
    return text[start:end]


def code_block(section, language):
    start = section.index("```" + language + "\n") + len(language) + 4
    return section[start:section.index("```", start)]


def test_readme_scenario_passes_against_the_demo(tmp_path):
    scenario = tmp_path / "readme.yaml"
    scenario.write_text(code_block(readme_section(), "yaml"), encoding="utf-8")
    result = subprocess.run([quillon_run(), "--demo", "-q", "--scenario", str(scenario)], timeout=60)
    assert result.returncode == 0


def run_exchange(panel, lines):
    """Sends each request of an exchange and checks its reply has the fields
    shown, and the same error when one is shown."""
    for index, line in enumerate(lines):
        if not line.startswith("→ "):
            continue
        request = json.loads(line[2:])
        wanted = next(json.loads(later[2:]) for later in lines[index + 1:]
                      if later.startswith("← ") and '"event"' not in later)
        panel.send_line(line[2:])
        reply = panel.read()
        while "event" in reply:
            panel.events.append(reply)
            reply = panel.read()
        assert reply.get("id") == request.get("id")
        assert reply["ok"] == wanted["ok"], reply
        assert set(wanted) <= set(reply), reply
        if "error" in wanted:
            assert reply["error"] == wanted["error"]


def test_readme_control_exchange(panel):
    lines = code_block(readme_section(), "text").splitlines()
    run_exchange(panel, lines)
    # The events the README shows after subscribe come with the fields shown.
    shown = [json.loads(line[2:]) for line in lines if line.startswith("← ") and "event" in line]
    panel.request("click", key="up")
    for event in shown:
        seen = [e for e in panel.events if e["event"] == event["event"]]
        assert seen and set(event) <= set(seen[-1]), event["event"]


def test_readme_option_table_has_every_option_of_the_help():
    shown = subprocess.run([quillon_run(), "--help"], capture_output=True, text=True, timeout=60, check=True).stdout
    options = set(re.findall(r"^ +(?:-[a-z],)?(--[a-z-]+)", shown, re.MULTILINE))
    assert {"--port", "--scenario", "--control"} <= options
    table = "\n".join(line for line in readme_section().splitlines() if line.startswith("| `-"))
    assert sorted(option for option in options if "`" + option not in table) == []


def test_readme_commands_use_the_build_the_two_commands_make():
    assert "build/debug/" not in (ROOT / "README.md").read_text(encoding="utf-8")


def test_readme_fault_command_passes_and_traces_its_faults(tmp_path):
    section = readme_section(FAULTS)
    trace = tmp_path / "faults.jsonl"
    command = (code_block(section, "sh").replace("build/release/runner/quillon-run", quillon_run())
               .replace("faults.jsonl", str(trace)))
    result = subprocess.run(["bash", "-c", command], cwd=ROOT, capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    stats = json.loads(result.stderr.strip().splitlines()[-1])
    assert stats["faults"]["drop-reply"] >= 1
    rows = [json.loads(line) for line in trace.read_text(encoding="utf-8").splitlines()]
    faults = [row for row in rows if row["kind"] == "fault"]
    shown = json.loads(code_block(section, "json"))
    assert faults and all(set(shown) <= set(row) for row in faults)
    # Each dropped reply's row follows the row of the reply itself.
    for index, row in enumerate(rows):
        if row["kind"] == "fault" and row["fault"] == "drop-reply":
            assert rows[index - 1]["kind"] == "reply" and rows[index - 1]["bytes"] == row["bytes"]


def test_readme_fault_exchange(panel):
    section = readme_section(FAULTS)
    exchange = section[section.index("```text\n→ "):]
    run_exchange(panel, code_block(exchange, "text").splitlines())


REPORT = "### The report of a run"


def ci_blocks():
    """The README's CI lines: each block's quillon-run command, the paths it
    keeps, and the JUnit file it hands over, if it names one."""
    section = readme_section()[readme_section().index(REPORT):]
    blocks = []
    for block in section.split("```yaml\n")[1:]:
        block = block[:block.index("```")]
        command = re.search(r"quillon-run (.*)", block).group(1).split()
        kept = re.findall(r"(?:^ *- |path: )(results/\S*)$", block, re.MULTILINE)
        junit = re.search(r"junit: (\S+)", block)
        blocks.append((command, kept, junit.group(1) if junit else None))
    return blocks


def test_readme_ci_lines_keep_the_files_the_run_writes(tmp_path):
    blocks = ci_blocks()
    assert len(blocks) == 2
    for index, (command, kept, junit) in enumerate(blocks):
        folder = tmp_path / str(index)
        (folder / "examples").mkdir(parents=True)
        (folder / "examples" / "scenarios").symlink_to(ROOT / "examples" / "scenarios")
        result = subprocess.run([quillon_run(), "-q", *command], cwd=folder, timeout=60)
        assert result.returncode == 0
        written = {str(path.relative_to(folder)) for path in folder.rglob("*") if path.is_file()}
        assert written, command
        # Everything the run wrote is under a kept path, and the JUnit file
        # handed over is the one it wrote.
        assert all(any(path.startswith(root) for root in kept) for path in written), (written, kept)
        junit_written = command[command.index("--junit") + 1]
        assert junit in (None, junit_written) and junit_written in written
        report = command[command.index("--report") + 1]
        attached = re.findall(r"\[\[ATTACHMENT\|([^\]]+)\]\]", (folder / junit_written).read_text())
        assert report in attached and set(attached) <= written, attached
        film = report.replace(".html", ".gif")
        assert (film in written) == ("--keep-artifacts" not in command)
