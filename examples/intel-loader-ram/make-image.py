#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes examples/intel-loader-ram/program.hex: a small, plausible program for the RAM loader.

The image is made, not compiled: 4 KB of code from 0x8000 (where the loader starts it) and a
512-byte table at 0x9800, with erased RAM between them that the station does not send.
Deterministic, so the file never changes between runs.
Usage: examples/intel-loader-ram/make-image.py [output]
"""
import random
import sys

CODE_START, CODE_SIZE = 0x8000, 4096
TABLE_START, TABLE_SIZE = 0x9800, 512


def code():
    rnd = random.Random(3)
    image = bytearray([0x75, 0x81, 0x60, 0x90, 0x98, 0x00])    # stack, DPTR := the table
    opcodes = [0x74, 0xE5, 0xF5, 0x12, 0x80, 0xE0, 0xF0, 0xA3, 0x24, 0x34, 0x22]
    while len(image) < CODE_SIZE:
        image += bytes([rnd.choice(opcodes), rnd.randrange(0x100)])
    return image[:CODE_SIZE]


def table():
    return bytes((i * 37 + 11) & 0x7F for i in range(TABLE_SIZE))


def intel_hex(image, start):
    lines = []
    for first in range(0, len(image), 16):
        chunk = image[first:first + 16]
        address = start + first
        record = bytes([len(chunk), address >> 8 & 0xFF, address & 0xFF, 0]) + chunk
        lines.append(":" + record.hex().upper() + "%02X" % ((-sum(record)) & 0xFF))
    return lines


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "examples/intel-loader-ram/program.hex"
    lines = intel_hex(code(), CODE_START) + intel_hex(table(), TABLE_START) + [":00000001FF"]
    with open(out, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")


if __name__ == "__main__":
    main()
