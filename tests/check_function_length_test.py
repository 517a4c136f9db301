#!/usr/bin/env python3
"""The function length check on a small tree of its own: it finds long bodies
of every form, and leaves data tables, short functions and excused ones be."""

import pathlib
import subprocess
import sys
import tempfile

CHECK = pathlib.Path(__file__).with_name("check_function_length.py")


def body(lines):
    return "".join(f"    x += {i}; // {{ not a brace\n" for i in range(lines))


SOURCES = {
    "runner/long.cpp": (
        "namespace quillon {\n"
        "namespace {\n"
        f"int OneOver(int x)\n{{\n{body(80)}    return x;\n}}\n"
        f"int AtTheLimit(int x)\n{{\n{body(80)}}}\n"
        "const int kTable[] = {\n" + "    1,\n" * 201 + "};\n"
        "} // namespace\n"
        f"Panel::Panel(int a) : a_{{a}}, b_(a)\n{{\n{body(90)}}}\n"
        "} // namespace quillon\n"
    ),
    "ui/widget.h": (
        "class Widget final : public Base {\n"
        "public:\n"
        f"    int Inline() const\n    {{\n        auto f = [] {{ return 1; }};\n{body(85)}    }}\n"
        "};\n"
    ),
    "link/excused.cpp": f'void Excused()\n{{\n    const char* s = "}}}}";\n{body(100)}}}\n',
    "docs/outside.cpp": f"void NotLooked()\n{{\n{body(100)}}}\n",
}
EXCEPTIONS = "# known\nlink/excused.cpp Excused\nserial/gone.cpp Gone\n"
EXPECTED = [
    "runner/long.cpp:3: OneOver is 81 lines",
    "runner/long.cpp:374: Panel is 90 lines",
    "ui/widget.h:3: Inline is 86 lines",
    "serial/gone.cpp: Gone is listed as an exception but is no longer over 80 lines",
]


def main():
    with tempfile.TemporaryDirectory() as root:
        for name, text in SOURCES.items():
            path = pathlib.Path(root, name)
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(text)
        pathlib.Path(root, "exceptions.txt").write_text(EXCEPTIONS)
        run = subprocess.run(
            [sys.executable, str(CHECK), root, "--exceptions", str(pathlib.Path(root, "exceptions.txt"))],
            capture_output=True,
            text=True,
        )
    found = run.stdout.splitlines()[1:]
    if run.returncode != 1 or sorted(found) != sorted(EXPECTED):
        print("expected status 1 and:", *EXPECTED, sep="\n  ")
        print(f"got status {run.returncode} and:", *found, sep="\n  ")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
