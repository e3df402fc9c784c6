#!/usr/bin/env python3
"""Checks that a PNG screenshot is not blank: the share of pixels that differ from
the most common (background) colour must reach the given minimum. Standard library
only: 8-bit RGB or RGBA, not interlaced, as browsers write screenshots."""
import struct
import sys
import zlib
from collections import Counter


def pixels(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit(f"{path}: not a PNG file")
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour not in (2, 6) or interlace:
                raise SystemExit(f"{path}: unexpected PNG format")
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    previous = bytearray(stride)
    rows = []
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        previous = line
    for line in rows:
        for x in range(0, stride, channels):
            yield line[x:x + 3]


def main():
    path, minimum = sys.argv[1], float(sys.argv[2])
    counts = Counter(pixels(path))
    total = sum(counts.values())
    background, most = counts.most_common(1)[0]
    ink = 1 - most / total
    print(f"{path}: {total} pixels, {ink:.1%} not background")
    if ink < minimum:
        raise SystemExit(f"{path}: the screenshot is blank ({ink:.1%} < {minimum:.0%} not background)")


main()
