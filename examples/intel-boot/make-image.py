#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes examples/intel-boot/program.hex: a small, plausible 8051 program for a boot monitor.

The image is made, not compiled: a reset jump and interrupt vectors, a start-up routine and a
body of instruction bytes, 3 KB from address 0 without gaps (the boot monitor takes its blocks
back to back, without addresses). Deterministic, so the file never changes between runs.
Usage: examples/intel-boot/make-image.py [output]
"""
import random
import sys

SIZE = 3 * 1024
START = 0x0100


def build():
    rnd = random.Random(2)
    image = bytearray()
    image += bytes([0x02, START >> 8, START & 0xFF])          # LJMP start
    for vector in range(0x03, 0x33, 8):                        # interrupt vectors: RETI
        image += bytes([0x00] * (vector - len(image))) + bytes([0x32])
    image += bytes([0x00] * (START - len(image)))
    # Start-up: stack pointer, clear the internal RAM, then the main loop.
    image += bytes([0x75, 0x81, 0x60, 0x78, 0x7F, 0xE4, 0xF6, 0xD8, 0xFD])
    opcodes = [0x74, 0xE5, 0xF5, 0x12, 0x80, 0x90, 0xE0, 0xF0, 0xA3, 0x24, 0x34, 0x22]
    while len(image) < SIZE:
        image += bytes([rnd.choice(opcodes), rnd.randrange(0x100)])
    return image[:SIZE]


def intel_hex(image, start=0):
    lines = []
    for first in range(0, len(image), 16):
        chunk = image[first:first + 16]
        address = start + first
        record = bytes([len(chunk), address >> 8 & 0xFF, address & 0xFF, 0]) + chunk
        lines.append(":" + record.hex().upper() + "%02X" % ((-sum(record)) & 0xFF))
    return lines


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "examples/intel-boot/program.hex"
    with open(out, "w", newline="") as f:
        f.write("\r\n".join(intel_hex(build()) + [":00000001FF"]) + "\r\n")


if __name__ == "__main__":
    main()
