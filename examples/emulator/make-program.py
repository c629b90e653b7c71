#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes examples/emulator/program.hex: a small 8051-style program for the emulator as
Intel HEX data records of 16 bytes, in two stretches (code at 0x0000, a table at 0x4000),
with the end record. Made, not compiled; deterministic.
Usage: examples/emulator/make-program.py [output]
"""
import random
import sys

LINE = 16


def record(address, kind, data):
    body = bytes([len(data)]) + address.to_bytes(2, "big") + bytes([kind]) + data
    return ":%s%02X" % (body.hex().upper(), (-sum(body)) & 0xFF)


def build():
    rnd = random.Random(8051)
    code = bytes([0x02, 0x00, 0x30]) + bytes(rnd.randrange(256) for _ in range(5117))
    table = bytes(range(256)) * 8
    lines = []
    for start, data in ((0x0000, code), (0x4000, table)):
        for off in range(0, len(data), LINE):
            lines.append(record(start + off, 0, data[off:off + LINE]))
    lines.append(":00000001FF")
    return "\r\n".join(lines) + "\r\n"


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else __file__.rsplit("/", 1)[0] + "/program.hex"
    with open(out, "w", newline="") as f:
        f.write(build())
