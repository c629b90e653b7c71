#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes examples/91360-boot/program.mhx: a small, plausible program for a 91360 target's RAM
in Motorola S-records ("S2", 24-bit addresses), as the boot ROM loads it.

The image is made, not compiled: a start-up block at 0x03E400 (where the boot ROM starts the
program), a body of 16-bit instruction words, and a text table after a gap, about 3 KB in
all, deterministic so that the file never changes. Usage: make-program.py [output]
"""
import random
import sys

NAME = b"program.mhx"

START = 0x03E400
CODE_WORDS = 1300
TABLE = 0x03F000
TEXT = b"ProgStation example program for a 91360 target\0" \
       b"loaded by the boot ROM, started at 0x3E400\0"


def s_records(blocks):
    header = bytes([3 + len(NAME), 0, 0]) + NAME
    lines = ["S0" + header.hex().upper() + "%02X" % (~sum(header) & 0xFF)]
    for address, data in blocks:
        for first in range(0, len(data), 32):
            chunk = data[first:first + 32]
            a = address + first
            record = bytes([len(chunk) + 4, a >> 16 & 0xFF, a >> 8 & 0xFF, a & 0xFF]) + chunk
            lines.append("S2" + record.hex().upper() + "%02X" % (~sum(record) & 0xFF))
    lines.append("S804%06X%02X" % (START, ~(4 + (START >> 16) + (START >> 8 & 0xFF) + (START & 0xFF)) & 0xFF))
    return "\r\n".join(lines) + "\r\n"


def build():
    rnd = random.Random(91360)
    code = bytearray([0x4F, 0xF9, 0x00, 0x03, 0xFF, 0xF0,   # LEA stack top, A7
                      0x46, 0xFC, 0x27, 0x00])              # MOVE #$2700, SR
    opcodes = [0x4E71, 0x2040, 0x3200, 0x4A80, 0x6600, 0xD081, 0x4E75, 0x41F9, 0x2F00]
    for _ in range(CODE_WORDS):
        op = rnd.choice(opcodes) ^ rnd.randrange(0x100)
        code += bytes([op >> 8, op & 0xFF])
    return [(START, bytes(code)), (TABLE, TEXT)]


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "program.mhx"
    with open(out, "w", newline="") as f:
        f.write(s_records(build()))


if __name__ == "__main__":
    main()
