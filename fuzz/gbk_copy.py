#!/usr/bin/env python3
"""Copies a UTF-8 source file as GB18030 bytes, so clang compiles its Chinese literals to the
same GBK bytes g++ gives them with -fexec-charset=GB18030 (clang takes only UTF-8 there).

Usage: gbk_copy.py <source> <copy>

Refuses a character whose encoding holds a backslash byte: inside a literal it would start an
escape, at the end of a comment it would join the next line."""
import os
import sys


def main():
    source, copy = sys.argv[1], sys.argv[2]
    with open(source, encoding="utf-8", newline="") as f:
        text = f.read()
    for line_number, line in enumerate(text.splitlines(), 1):
        for ch in line:
            if ord(ch) > 0x7F and b"\\" in ch.encode("gb18030"):
                sys.exit(f"{source}:{line_number}: {ch!r} encodes with a backslash byte")
    data = text.encode("gb18030")
    os.makedirs(os.path.dirname(copy), exist_ok=True)
    with open(copy, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
