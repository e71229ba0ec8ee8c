#!/usr/bin/env python3
"""Puts the fault matrix's figures into a document: each block between
"<!-- fault-matrix: NAME -->" and "<!-- end -->" is replaced by the
Markdown the matrix wrote for that run (kestrova_fault_matrix --markdown)."""
import re
import sys


def main():
    if len(sys.argv) < 4 or len(sys.argv) % 2 != 0:
        sys.exit("usage: matrix_report.py DOCUMENT NAME FILE [NAME FILE ...]")
    document = sys.argv[1]
    text = open(document, encoding="utf-8").read()
    for name, path in zip(sys.argv[2::2], sys.argv[3::2]):
        figures = open(path, encoding="utf-8").read().strip()
        pattern = re.compile(r"(<!-- fault-matrix: " + re.escape(name) + r" -->\n).*?(<!-- end -->)", re.S)
        text, count = pattern.subn(lambda m: m.group(1) + figures + "\n" + m.group(2), text)
        if count != 1:
            sys.exit(f"matrix_report.py: {document} has {count} blocks named {name!r}, not one")
    open(document, "w", encoding="utf-8").write(text)


if __name__ == "__main__":
    main()
