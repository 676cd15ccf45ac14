#!/usr/bin/python3
"""Writes a receipt as the printer's page command stream: paper path, LINES
dot lines of 72 bytes (text-like plain lines, blank RLE8 lines, repeats) and
the page end with a cut. Usage: make_stream.py OUT LINES SEED"""
import random
import sys

out, lines, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(seed)
stream = bytearray(b"\x1b\xf0\x0d\x02\x00\x04")
for n in range(lines):
    kind = rng.randrange(4)
    if kind == 0:  # a blank line: RLE8 run of 72 zero bytes
        stream += b"\x1b\xf0\x03\x02\xc8\x00"
    elif kind == 1 and n > 0:  # the line before, again
        stream += b"\x1b\xf0\x04\x01" + bytes([rng.randrange(1, 4)])
    else:  # a text line: plain bytes
        stream += b"\x1b\xf0\x02\x48" + bytes(rng.randrange(256) for _ in range(72))
stream += b"\x1b\xf0\x06\x01\x02"
open(out, "wb").write(stream)
