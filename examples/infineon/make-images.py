#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the example's image files for examples/infineon (Intel HEX, deterministic).

firmware.hex   the project image: a program in the XC161CJ's internal flash (0xC00000) with a
               table in its last sector, and data in the external flash at 0x400000.
boot32C.hex    stand-ins for the three stage programs the station sends before it touches
loader1.hex    the flash. The real ones come from the chip's maker and are not part of this
loader2.hex    station; these only have the right size and place, which is all the
               simulated board looks at.

Usage: examples/infineon/make-images.py [folder]
"""
import os
import random
import sys


def hex_records(segments):
    """Intel HEX text of (address, bytes) segments, type 04 records for the upper address."""
    lines, upper = [], None
    def record(count, address, rtype, data):
        body = bytes([count, (address >> 8) & 0xFF, address & 0xFF, rtype]) + bytes(data)
        lines.append(":" + body.hex().upper() + "%02X" % ((-sum(body)) & 0xFF))
    for address, data in segments:
        for at in range(0, len(data), 16):
            a = address + at
            if a >> 16 != upper:
                upper = a >> 16
                record(2, 0, 4, [0x00, upper])
            record(len(data[at:at + 16]), a & 0xFFFF, 0, data[at:at + 16])
    lines.append(":00000001FF")
    return "\r\n".join(lines) + "\r\n"


def code(rnd, length):
    # Instruction-like words: mostly small opcodes, the odd long immediate.
    out = bytearray()
    while len(out) < length:
        out += bytes([rnd.choice([0xE6, 0xF2, 0xF6, 0x88, 0x98, 0xCB, 0x0D, 0xEA]), rnd.randrange(256)])
    return bytes(out[:length])


def stand_in(label, length, rnd):
    text = ("ProgStation stand-in: " + label + " ").encode()
    return (text + bytes(rnd.randrange(1, 255) for _ in range(length)))[:length]


def build(folder):
    rnd = random.Random(161)
    vectors = b"".join(bytes([0xFA, 0x00, 0x00, 0x02]) for _ in range(64))   # JMPS to 0x0200
    program = vectors + code(rnd, 6 * 1024 - len(vectors))
    table = bytes(rnd.randrange(256) for _ in range(1024))
    texts = b"".join(("Message %02d: ProgStation example for the XC161CJ\0" % i).encode()
                     for i in range(80))
    files = {
        "firmware.hex": [(0xC00000, program), (0xC10000, table), (0x400000, texts)],
        "boot32C.hex": [(0xFA40, stand_in("boot32C", 32, rnd))],
        "loader1.hex": [(0xE00000, stand_in("loader1", 2048, rnd))],
        "loader2.hex": [(0x100000, stand_in("loader2", 3 * 1024, rnd))],
    }
    for name, segments in files.items():
        with open(os.path.join(folder, name), "w", newline="") as f:
            f.write(hex_records(segments))


if __name__ == "__main__":
    build(sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__)))
