#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes examples/574-boot/firmware.mhx: a small program for a board with the 574 boot
loader, as Motorola S1 records of 16 data bytes (16-bit addresses), with a header and an
end record. Made, not compiled; deterministic. Usage: examples/574-boot/make-firmware.py [output]
"""
import random
import sys

LINE = 16


def srec(kind, address, data):
    body = bytes([2 + len(data) + 1]) + address.to_bytes(2, "big") + data
    return "S%d%s%02X" % (kind, body.hex().upper(), 0xFF - (sum(body) & 0xFF))


def build():
    rnd = random.Random(574)
    image = bytes([0x02, 0x80, 0x40]) + bytes(rnd.randrange(256) for _ in range(3581))
    image += b"574 boot example\0"
    lines = [srec(0, 0, b"firmware")]
    for off in range(0, len(image), LINE):
        lines.append(srec(1, 0x8000 + off, image[off:off + LINE]))
    lines.append(srec(9, 0x8000, b""))
    return "\r\n".join(lines) + "\r\n"


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else __file__.rsplit("/", 1)[0] + "/firmware.mhx"
    with open(out, "w", newline="") as f:
        f.write(build())
