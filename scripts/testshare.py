#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Prints the test code's share of the product code: lines that are neither
blank nor only a comment, in tests/ and fuzz/ against app/, terminal/,
serial/, modem/ and settings/; fuzz corpora, artifacts and build folders
aside. Usage: scripts/testshare.py [CHECKOUT]"""
import pathlib
import sys

SOURCES = {".cpp", ".h", ".sh", ".py"}
SKIPPED = {"corpus", "artifacts"}


def counted(path):
    hash_comments = path.suffix in (".sh", ".py")
    n, in_block = 0, False
    for line in path.read_text(encoding="utf-8", errors="replace").splitlines():
        text = line.strip()
        if in_block:
            in_block = "*/" not in text
        elif text.startswith("/*") and not hash_comments:
            in_block = "*/" not in text
        elif text and not text.startswith("#" if hash_comments else "//"):
            n += 1
    return n


def total(root, folders):
    return sum(counted(p) for folder in folders for p in (root / folder).rglob("*")
               if p.is_file() and p.suffix in SOURCES
               and not any(part in SKIPPED or part.startswith("build") for part in p.relative_to(root).parts))


root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
tests = total(root, ["tests", "fuzz"])
product = total(root, ["app", "terminal", "serial", "modem", "settings"])
if product == 0:
    sys.exit(f"{root}: no product code here (app/, terminal/, serial/, modem/, settings/); "
             "usage: scripts/testshare.py [CHECKOUT]")
print(f"tests {tests} / product {product} = {tests / product:.3f}")
