#!/usr/bin/env python3
"""Writes the program icon (32x32 and 16x16, 32-bit) as an .ico file.

Drawn in code so that the build needs no image tools: a blue tile with a
white page and a green check mark, the picture of "a font brought up to date".
"""
import struct
import sys


def pixel(size, x, y):
    # Coordinates scaled to a 32-pixel design grid, origin at the top left.
    u = x * 32.0 / size
    v = y * 32.0 / size
    if u < 1 or v < 1 or u >= 31 or v >= 31:
        return (0, 0, 0, 0)
    # The check mark: two strokes, drawn over everything else.
    if abs((v - 22) - (u - 12) * -1.0) < 2.2 and 8 <= u <= 13:
        return (40, 170, 60, 255)
    if abs((v - 22) - (u - 12) * -1.4) < 2.4 and 12 <= u <= 25:
        return (40, 170, 60, 255)
    # The page.
    if 7 <= u < 23 and 4 <= v < 27:
        if 10 <= u < 20 and int(v) in (8, 11, 14):
            return (90, 90, 90, 255)
        return (250, 250, 250, 255)
    shade = int(120 + v * 3)
    return (30, 70, min(shade, 230), 255)


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up, as bitmaps are stored
        row = b"".join(struct.pack("BBBB", b, g, r, a)
                       for (r, g, b, a) in (pixel(size, x, y) for x in range(size)))
        rows.append(row)
    xor = b"".join(rows)
    and_stride = ((size + 31) // 32) * 4
    mask = b"\x00" * (and_stride * size)  # alpha carries the transparency
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


def main(out):
    sizes = [32, 16]
    images = [image(s) for s in sizes]
    data = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, img in zip(sizes, images):
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    data += b"".join(images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
