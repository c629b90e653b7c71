#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes examples/sharc-hostboot/boot.bin: a small, plausible host-boot image for a SHARC
DSP, as the station streams it: 16-bit words stored low byte first.

The image is made, not assembled: a boot kernel of 256 48-bit instructions (three 16-bit
words each) followed by tagged blocks of 48-bit code and 32-bit data, deterministic so that
the file never changes between runs. Usage: examples/sharc-hostboot/make-image.py [output]
"""
import random
import struct
import sys


def words48(values):
    out = b""
    for v in values:
        out += struct.pack("<HHH", v & 0xFFFF, (v >> 16) & 0xFFFF, (v >> 32) & 0xFFFF)
    return out


def build():
    rnd = random.Random(9)
    opcodes = [0x0F71_0000_0000, 0x3E00_0000_0000, 0x0C00_0000_0000, 0x1400_0000_0000,
               0x0A3E_0000_0000, 0x063E_0004_0000, 0x0000_0000_0000]
    kernel = [rnd.choice(opcodes) | rnd.randrange(1 << 32) for _ in range(256)]
    image = words48(kernel)
    # Tagged blocks: tag, word count, address; then the block's words.
    code = [rnd.choice(opcodes) | rnd.randrange(1 << 32) for _ in range(600)]
    image += struct.pack("<HHI", 0x0001, len(code), 0x0002_0000) + words48(code)
    data = [rnd.randrange(1 << 32) for _ in range(300)]
    image += struct.pack("<HHI", 0x0002, len(data), 0x000C_0000)
    image += b"".join(struct.pack("<I", d) for d in data)
    image += struct.pack("<HHI", 0x0000, 0, 0x0002_0000)  # final block: start at the code
    return image


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "examples/sharc-hostboot/boot.bin"
    with open(out, "wb") as f:
        f.write(build())


if __name__ == "__main__":
    main()
