#!/usr/bin/env python3
"""Fails when a function body in the program's sources runs over 80 lines.

A function longer than a screen is one a reader cannot hold; it should be
split along the lines of what it does. The check finds bodies by matching
braces at namespace and class level: a brace opened after a parameter list
(and its qualifiers or a constructor's initialisers) opens a function, one
after `namespace`, `class`, `struct` or `union` opens a scope that is looked
into, and any other (an initialised table, an enum) is data and skipped.
Lambdas and local classes count towards the function that holds them.

Known exceptions, one `folder/file.cpp Name` a line, are read from the file
given with --exceptions; an exception that no longer runs over is reported
too, so the list only ever shrinks.
"""

import argparse
import pathlib
import re
import sys

FOLDERS = ("protocol", "display", "link", "serial", "trace", "runner", "ui", "tools", "demo", "host")
LIMIT = 80

QUALIFIERS = re.compile(
    r"\)\s*(?:const|volatile|noexcept(?:\(\))?|override|final|mutable|&&|&|->[^;{}]*|\s)*$"
)
INIT_LIST = re.compile(r"\)\s*(?:noexcept(?:\(\))?\s*)?:(?!:)")
SCOPE = re.compile(r"\b(namespace|class|struct|union)\b")


def strip_code(text):
    """Blanks comments, literals and preprocessor lines, keeping every newline."""
    out = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c == "#":
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    out.append("\n")
                    i += 2
                    continue
                i += 1
            continue
        if c in " \t":
            out.append(c)
            i += 1
            continue
        line_start = c == "\n"
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
            continue
        if text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append("\n" * text.count("\n", i, end))
            i = end
            continue
        raw = re.match(r'(?:u8|u|U|L)?R"([^(\s]*)\(', text[i:i + 24])
        if raw and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            close = ")" + raw.group(1) + '"'
            end = text.find(close, i + raw.end())
            end = n if end < 0 else end + len(close)
            out.append('""' + "\n" * text.count("\n", i, end))
            i = end
            continue
        if c == '"' or (c == "'" and not (i > 0 and text[i - 1].isalnum())):
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(c + c)
            i = j + 1
            continue
        out.append(c)
        i += 1
    return "".join(out)


def collapse_parens(header):
    """The header with every parenthesised part emptied, so `=` in a default
    argument or braces in a parameter do not mislead."""
    out, depth = [], 0
    for c in header:
        if c == "(":
            if depth == 0:
                out.append("(")
            depth += 1
        elif c == ")":
            depth = max(depth - 1, 0)
            if depth == 0:
                out.append(")")
        elif depth == 0:
            out.append(c)
    return "".join(out)


def function_name(header):
    flat = collapse_parens(header)
    names = re.findall(r"((?:operator\s*[^\s(]+|~?[A-Za-z_]\w*)(?:\s*::\s*~?[A-Za-z_]\w*)*)\s*\(\)", flat)
    if not names:
        return "?"
    return re.sub(r"\s+", "", names[0]).split("::")[-1]


def classify(header):
    flat = re.sub(r"operator\s*(?:==|!=|<=|>=|=|\(\)|\[\])", "operator", collapse_parens(header)).strip()
    if "=" in flat:
        return "data"
    if QUALIFIERS.search(flat) or INIT_LIST.search(flat):
        return "function"
    if SCOPE.search(flat) or re.search(r"\bextern\s*\"\"$", flat):
        return "scope"
    return "data"


def matching(code, start):
    depth = 0
    for k in range(start, len(code)):
        if code[k] == "{":
            depth += 1
        elif code[k] == "}":
            depth -= 1
            if depth == 0:
                return k
    return len(code) - 1


def functions(code):
    """Yields (name, line of its name, body lines) for each function."""
    header_start = 0
    i = 0
    while i < len(code):
        c = code[i]
        if c in ";}":
            header_start = i + 1
        elif c == "{":
            header = code[header_start:i]
            flat = collapse_parens(header)
            in_init_list = INIT_LIST.search(flat) and re.search(r"[\w>]\s*$", header)
            kind = classify(header)
            if kind == "function" and in_init_list:
                i = matching(code, i) + 1
                continue
            if kind == "scope":
                header_start = i + 1
            else:
                end = matching(code, i)
                if kind == "function":
                    first = code.count("\n", 0, i) + 1
                    last = code.count("\n", 0, end) + 1
                    named = code.count("\n", 0, header_start + max(header.find("("), 0)) + 1
                    yield function_name(header), named, max(last - first - 1, 0)
                header_start = end + 1
                i = end
        i += 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("source_dir", type=pathlib.Path)
    parser.add_argument("--exceptions", type=pathlib.Path)
    args = parser.parse_args()

    allowed = set()
    if args.exceptions:
        for line in args.exceptions.read_text().splitlines():
            line = line.split("#", 1)[0].strip()
            if line:
                path, name = line.split()
                allowed.add((path, name))

    offenders, excused = [], set()
    for folder in FOLDERS:
        for path in sorted((args.source_dir / folder).rglob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            relative = path.relative_to(args.source_dir).as_posix()
            code = strip_code(path.read_text(encoding="utf-8"))
            for name, line, length in functions(code):
                if length <= LIMIT:
                    continue
                if (relative, name) in allowed:
                    excused.add((relative, name))
                    continue
                offenders.append(f"{relative}:{line}: {name} is {length} lines")

    stale = sorted(allowed - excused)
    for path, name in stale:
        offenders.append(f"{path}: {name} is listed as an exception but is no longer over {LIMIT} lines")
    if offenders:
        print(f"Functions over {LIMIT} lines (split them along what they do):")
        print("\n".join(offenders))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
