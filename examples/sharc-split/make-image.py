#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes examples/sharc-split/dsp-flash.hex: a small, plausible image for the split 32-bit
flash of a SHARC board, in the station's record form.

Each line is "S", the count of 32-bit words, the 24-bit start word address and four bytes
a word, all in hex (no checksum). The image is made, not compiled: a boot header and a
program in page 0, a coefficient table in page 2 and a parameter block at the top of page 7,
deterministic so that the file never changes between runs.
Usage: examples/sharc-split/make-image.py [output]
"""
import math
import random
import struct
import sys

WORDS_PER_RECORD = 32


def build():
    rnd = random.Random(6)
    sections = {}
    # Page 0: a boot header (magic, entry, length) and the program's instruction words.
    program = [0x5348_4152, 0x0000_0100, 1500] + [0] * 253
    opcodes = [0x0F71_0000, 0x3E00_0000, 0x0C00_0000, 0x1400_0000, 0x0A3E_0000, 0x0601_0000]
    program += [rnd.choice(opcodes) | rnd.randrange(0x10000) for _ in range(1500)]
    sections[0x0000] = program
    # Page 2: a 1024-tap filter's coefficients as IEEE floats.
    taps = 1024
    coefficients = []
    for n in range(taps):
        x = n - (taps - 1) / 2
        sinc = 1.0 if x == 0 else math.sin(0.2 * math.pi * x) / (math.pi * x)
        window = 0.54 - 0.46 * math.cos(2 * math.pi * n / (taps - 1))
        coefficients.append(struct.unpack(">I", struct.pack(">f", 0.2 * sinc * window))[0])
    sections[2 * 0x8000] = coefficients
    # Page 7: the board's parameters, at its top.
    sections[8 * 0x8000 - 64] = [0x0001_C200, 0x0000_0008, 0x0000_0003] + list(range(61))
    return sections


def records(sections):
    lines = []
    for first, words in sorted(sections.items()):
        for at in range(0, len(words), WORDS_PER_RECORD):
            chunk = words[at:at + WORDS_PER_RECORD]
            data = b"".join(struct.pack(">I", w) for w in chunk)
            lines.append("S%02X%06X%s" % (len(chunk), first + at, data.hex().upper()))
    return "\r\n".join(lines) + "\r\n"


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "examples/sharc-split/dsp-flash.hex"
    with open(out, "w", newline="") as f:
        f.write(records(build()))


if __name__ == "__main__":
    main()
