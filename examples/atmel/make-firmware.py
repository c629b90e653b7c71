#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes examples/atmel/firmware.hex: a small, plausible ATmega32 program image in Intel HEX.

The image is made, not compiled: a vector table of JMP instructions, a start-up routine,
a body of instruction words and a text table, about 6 KB in all, deterministic so that the
file never changes between runs. Usage: examples/atmel/make-firmware.py [output]
"""
import random
import sys

VECTORS = 21          # ATmega32 interrupt vectors, two words each
CODE_WORDS = 2600     # body of the program
TEXT = b"ProgStation example firmware for ATmega32\0" \
       b"Press START to program, CONTINUE to go on\0"


def jmp(word_address):
    # JMP k: 1001 010k kkkk 110k, then the low 16 bits of k; little-endian words.
    return bytes([0x0C, 0x94, word_address & 0xFF, (word_address >> 8) & 0xFF])


def build():
    rnd = random.Random(32)
    image = bytearray()
    start = VECTORS * 2                       # word address of the start-up routine
    image += jmp(start)                       # reset
    for _ in range(1, VECTORS):
        image += jmp(start + 40)              # every interrupt to one handler
    # Start-up: clear r1, set SREG, the stack pointer to RAMEND (0x085F), then the body.
    image += bytes([0x11, 0x24, 0x1F, 0xBE, 0xCF, 0xE5, 0xD8, 0xE0,
                    0xDE, 0xBF, 0xCD, 0xBF])
    while len(image) < (start + 40) * 2:
        image += bytes([0x00, 0x00])          # NOP
    image += bytes([0x18, 0x95])              # RETI: the shared interrupt handler
    opcodes = [0x0E94, 0x8091, 0x9093, 0x2F08, 0x0F1F, 0xE0E0, 0x9508, 0xCFFF, 0x3081]
    for _ in range(CODE_WORDS):
        op = rnd.choice(opcodes) ^ rnd.randrange(0x100)
        image += bytes([op & 0xFF, op >> 8])
    image += TEXT
    if len(image) % 2:
        image += b"\0"
    return image


def intel_hex(image):
    lines = []
    for first in range(0, len(image), 16):
        chunk = image[first:first + 16]
        record = bytes([len(chunk), first >> 8, first & 0xFF, 0]) + chunk
        checksum = (-sum(record)) & 0xFF
        lines.append(":" + record.hex().upper() + "%02X" % checksum)
    lines.append(":00000001FF")
    return "\r\n".join(lines) + "\r\n"


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "examples/firmware.hex"
    with open(out, "w", newline="") as f:
        f.write(intel_hex(build()))


if __name__ == "__main__":
    main()
