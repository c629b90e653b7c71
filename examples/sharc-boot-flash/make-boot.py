#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes examples/sharc-boot-flash/boot.hex: a small boot image for the DSP's boot flash
as Intel HEX data records of 32 bytes. DSP instruction words are six bytes, and many of
them hold bytes 0xFA and above, which the station escapes on their way to the bridge.
Made, not compiled; deterministic. Usage: examples/sharc-boot-flash/make-boot.py [output]
"""
import random
import sys

LINE = 32


def record(address, kind, data):
    body = bytes([len(data)]) + address.to_bytes(2, "big") + bytes([kind]) + data
    return ":%s%02X" % (body.hex().upper(), (-sum(body)) & 0xFF)


def build():
    rnd = random.Random(21065)
    words = []
    for _ in range(1536):  # 9 KB of instruction words
        words.append(bytes([rnd.choice([0x0F, 0x3E, 0xFB, 0xFE, 0x8C, 0xFF])]) +
                     bytes(rnd.randrange(256) for _ in range(5)))
    image = b"".join(words)
    lines = []
    for off in range(0, len(image), LINE):
        lines.append(record(off, 0, image[off:off + LINE]))
    lines.append(":00000001FF")
    return "\r\n".join(lines) + "\r\n"


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else __file__.rsplit("/", 1)[0] + "/boot.hex"
    with open(out, "w", newline="") as f:
        f.write(build())
