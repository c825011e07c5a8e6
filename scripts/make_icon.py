#!/usr/bin/env python3
"""Draws the application icon: a white box with a red minus on a blue tile.

Writes an .ico with exactly two images: 16x16 at 24 bits and 32x32 at 8 bits.
"""
import struct
import sys

BLUE, DARK, WHITE, RED, CLEAR = (0x2f, 0x6f, 0xd6), (0x1b, 0x3f, 0x86), (0xff, 0xff, 0xff), (0xd8, 0x32, 0x2a), None


def pixel(x, y, size):
    s = size / 32.0
    inside = lambda a, b, c, d: a * s <= x < c * s and b * s <= y < d * s
    corner = 4 * s
    # Rounded tile: cut the corners.
    for cx, cy in ((corner, corner), (size - corner, corner), (corner, size - corner), (size - corner, size - corner)):
        if (x < corner or x >= size - corner) and (y < corner or y >= size - corner):
            if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 > corner ** 2 and abs(x + 0.5 - cx) <= corner and abs(y + 0.5 - cy) <= corner:
                return CLEAR
    if inside(7, 16, 25, 20):
        return RED
    if inside(5, 6, 27, 27):
        return WHITE if not inside(6, 7, 26, 26) else (WHITE if inside(7, 8, 25, 25) else DARK)
    return BLUE


def image(size, bits):
    rows = [[pixel(x, y, size) for x in range(size)] for y in range(size)]
    palette = [BLUE, DARK, WHITE, RED]
    xor = b""
    for row in reversed(rows):  # bottom-up
        line = b""
        for p in row:
            c = p or (0, 0, 0)
            if bits == 24:
                line += bytes((c[2], c[1], c[0]))
            else:
                line += bytes((palette.index(c) if p else 0,))
        line += b"\0" * ((4 - len(line) % 4) % 4)
        xor += line
    mask = b""
    for row in reversed(rows):
        bitsrow = 0
        line = bytearray((size + 31) // 32 * 4)
        for x, p in enumerate(row):
            if p is None:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(line)
    colours = 256 if bits == 8 else 0
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, len(xor) + len(mask), 0, 0, colours, 0)
    table = b""
    if bits == 8:
        for i in range(256):
            c = palette[i] if i < len(palette) else (0, 0, 0)
            table += bytes((c[2], c[1], c[0], 0))
    return header + table + xor + mask


def main(path):
    images = [(16, 24), (32, 8)]
    blobs = [image(size, bits) for size, bits in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, bits), blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", size, size, 0 if bits == 24 else 0, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "res/remover.ico")
