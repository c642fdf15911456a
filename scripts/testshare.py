#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Prints the test code's share of the product code, tests/ and fuzz/ against
app/, terminal/, serial/, modem/, settings/ and transfer/ (fuzz corpora, artifacts and
build folders aside), in lines that are neither blank nor only a comment, and
in tokens outside comments (identifiers, numbers, string literals, operators),
which packing lines does not change. Usage: scripts/testshare.py [CHECKOUT]"""
import pathlib
import re
import sys

SOURCES = (".cpp", ".h", ".hpp", ".cc", ".sh", ".py", ".bash")
SKIPPED = {"corpus", "artifacts"}
TOKEN = re.compile(r'"(?:[^"\\\n]|\\.)*"|\'(?:[^\'\\\n]|\\.)*\'|\w+|[^\w\s]')


def without_comments(text, shell):
    if shell:
        return "\n".join(line for line in text.splitlines() if not line.strip().startswith("#"))
    text = re.sub(r'/\*.*?\*/', ' ', text, flags=re.S)
    return re.sub(r'(?m)^\s*//.*$|(?<=[;{}),\s])//[^\n]*', ' ', text)


def measure(root, folders):
    tokens = lines = chars = 0
    for folder in folders:
        for path in (root / folder).rglob("*"):
            parts = path.relative_to(root).parts
            if not path.is_file() or not path.name.endswith(SOURCES) \
                    or any(p in SKIPPED or p.startswith("build") for p in parts[:-1]):
                continue
            code = without_comments(path.read_text(encoding="utf-8", errors="replace"),
                                    path.name.endswith((".sh", ".py", ".bash")))
            kept = [line.strip() for line in code.splitlines() if line.strip()]
            tokens += len(TOKEN.findall(code))
            lines += len(kept)
            chars += sum(map(len, kept))
    return tokens, lines, chars


root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
tt, tl, tc = measure(root, ["tests", "fuzz"])
pt, pl, pc = measure(root, ["app", "terminal", "serial", "modem", "settings", "transfer"])
if not pt:
    sys.exit(f"{root}: no product code here (app/, terminal/, serial/, modem/, settings/); "
             "usage: scripts/testshare.py [CHECKOUT]")
print(f"lines:  tests {tl} / product {pl} = {tl / pl:.2f}   "
      f"(characters a line: tests {tc / max(tl, 1):.0f}, product {pc / pl:.0f})")
print(f"tokens: tests {tt} / product {pt} = {tt / pt:.2f}")
