#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes examples/intel-loader-flash/firmware.hex: a small, plausible banked firmware image.

The image is made, not compiled. The common code (4 KB at 0xC000, always in the CPU's common
window, which holds the last bank of the 128 KB flash) and three banks switched into the
bank window at 0x4000 (8 KB, 4 KB and 2 KB), each announced by a type 02 record whose first
data byte carries the bank in its high four bits. Deterministic, so the file never changes.
Usage: examples/intel-loader-flash/make-image.py [output]
"""
import random
import sys

# (bank or None for the common window, CPU address, size)
SEGMENTS = [(None, 0xC000, 4096), (0, 0x4000, 8192), (1, 0x4000, 4096), (2, 0x4000, 2048)]


def body(seed, size):
    rnd = random.Random(seed)
    opcodes = [0x3E, 0x21, 0xCD, 0xC3, 0x7E, 0x77, 0x23, 0x10, 0xC9, 0xD3, 0xDB]
    image = bytearray()
    while len(image) < size:
        image += bytes([rnd.choice(opcodes), rnd.randrange(0x100)])
    return image[:size]


def record(kind, address, data):
    rec = bytes([len(data), address >> 8 & 0xFF, address & 0xFF, kind]) + data
    return ":" + rec.hex().upper() + "%02X" % ((-sum(rec)) & 0xFF)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "examples/intel-loader-flash/firmware.hex"
    lines = []
    for seed, (bank, address, size) in enumerate(SEGMENTS):
        if bank is not None:
            lines.append(record(0x02, 0, bytes([bank << 4, 0x00])))
        data = body(seed, size)
        for first in range(0, size, 16):
            lines.append(record(0x00, address + first, data[first:first + 16]))
    lines.append(":00000001FF")
    with open(out, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")


if __name__ == "__main__":
    main()
