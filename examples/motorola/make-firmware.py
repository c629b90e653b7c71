#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes examples/motorola/firmware.mhx: a small, plausible program for a board with a
resident S-record loader, as Motorola S2 records of 32 data bytes.

The image is made, not compiled: a vector table at 0x000000, code words from 0x000400, a
text table, and one erased (all 0xFF) line inside the code that the station does not send.
Deterministic, so the file never changes. Usage: examples/motorola/make-firmware.py [output]
"""
import random
import sys

LINE = 32


def srec(kind, address, data, address_bytes):
    body = bytes([address_bytes + len(data) + 1]) + address.to_bytes(address_bytes, "big") + data
    return "S%d%s%02X" % (kind, body.hex().upper(), 0xFF - (sum(body) & 0xFF))


def build():
    rnd = random.Random(1)
    chunks = {}
    vectors = b"".join((0x000400 + 8 * i).to_bytes(4, "big") for i in range(64))
    chunks[0x000000] = vectors
    code = bytes(rnd.randrange(256) for _ in range(6144))
    code = code[:2048] + b"\xff" * LINE + code[2048 + LINE:]
    chunks[0x000400] = code
    chunks[0x002000] = b"ProgStation example firmware for the MOTOROLA board\0" * 4
    lines = [srec(0, 0, b"firmware.mhx", 2)]
    for start, data in sorted(chunks.items()):
        for off in range(0, len(data), LINE):
            lines.append(srec(2, start + off, data[off:off + LINE], 3))
    lines.append(srec(8, 0x000400, b"", 3))
    return "\r\n".join(lines) + "\r\n"


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else __file__.rsplit("/", 1)[0] + "/firmware.mhx"
    with open(out, "w", newline="") as f:
        f.write(build())
