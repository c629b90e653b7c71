#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes examples/91360-loader/firmware.mhx: a plausible flash image for a 91360 board in
Motorola S-records ("S2", 24-bit addresses), as the flash loader writes it.

The image is made, not compiled: a vector table and program at the start of the flash
(0x180000), a parameter table that straddles the sector boundary at 0x1B8000, and a data
block in the second flash device at 0x1C0000, about 50 KB in all, deterministic so that the
file never changes. Usage: make-firmware.py [output]
"""
import random
import sys

NAME = b"firmware.mhx"

FLASH = 0x180000
CODE_BYTES = 40 * 1024
PARAMETERS = 0x1B7F00   # 512 bytes: half in sector 3, half in sector 4
DATA = 0x1C0000
DATA_BYTES = 6 * 1024


def s_records(blocks):
    header = bytes([3 + len(NAME), 0, 0]) + NAME
    lines = ["S0" + header.hex().upper() + "%02X" % (~sum(header) & 0xFF)]
    for address, data in blocks:
        for first in range(0, len(data), 32):
            chunk = data[first:first + 32]
            a = address + first
            record = bytes([len(chunk) + 4, a >> 16 & 0xFF, a >> 8 & 0xFF, a & 0xFF]) + chunk
            lines.append("S2" + record.hex().upper() + "%02X" % (~sum(record) & 0xFF))
    lines.append("S804%06X%02X" % (FLASH, ~(4 + (FLASH >> 16) + (FLASH >> 8 & 0xFF) + (FLASH & 0xFF)) & 0xFF))
    return "\r\n".join(lines) + "\r\n"


def build():
    rnd = random.Random(1360)
    code = bytearray()
    for vector in range(64):                  # reset stack, reset PC, then the handlers
        target = FLASH + 0x400 + 8 * (vector if vector > 1 else 0)
        code += target.to_bytes(4, "big")
    opcodes = [0x4E71, 0x2040, 0x3200, 0x4A80, 0x6600, 0xD081, 0x4E75, 0x41F9, 0x2F00]
    while len(code) < CODE_BYTES:
        op = rnd.choice(opcodes) ^ rnd.randrange(0x100)
        code += bytes([op >> 8, op & 0xFF])
    parameters = bytes((i * 37 + 11) & 0xFF for i in range(512))
    data = bytes(rnd.randrange(0x100) for _ in range(DATA_BYTES))
    return [(FLASH, bytes(code)), (PARAMETERS, parameters), (DATA, data)]


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "firmware.mhx"
    with open(out, "w", newline="") as f:
        f.write(s_records(build()))


if __name__ == "__main__":
    main()
