#!/usr/bin/env python3
"""Writes the program icon as an .ico file: 16, 24, 32, 48 and 256 pixels,
32-bit with alpha (the 256-pixel image PNG-compressed, as Windows expects).

Drawn in code so that the build needs no image tools: a blue tile with a
white page and a green check mark, the picture of "a font brought up to date".
Windows picks the image that matches the size it draws at: 16 and 32 at
100 % scaling, 24 and 48 at 150 %, 256 for Explorer's large views.
"""
import struct
import sys
import zlib

SIZES = [256, 48, 32, 24, 16]


def on_segment(u, v, a, b, half_width):
    (ax, ay), (bx, by) = a, b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((u - ax) * dx + (v - ay) * dy) / (dx * dx + dy * dy)))
    return (u - ax - t * dx) ** 2 + (v - ay - t * dy) ** 2 < half_width * half_width


def in_check(u, v):
    # Two strokes meeting at the bottom of the mark.
    return on_segment(u, v, (8, 16), (13, 22), 2.0) or on_segment(u, v, (13, 22), (25, 6), 2.0)


def ground(u, v):
    # Everything but the check mark, on a 32-unit design grid with the origin
    # at the top left: the tile and the page with three lines of text, whose
    # bands fall on whole pixels at 16, 24 and 32 pixels alike.
    if u < 1 or v < 1 or u >= 31 or v >= 31:
        return (0, 0, 0, 0)
    if 7 <= u < 23 and 4 <= v < 27:
        if 10 <= u < 20 and any(top <= v < top + 1.5 for top in (7, 11, 15)):
            return (90, 90, 90, 255)
        return (250, 250, 250, 255)
    return (30, 70, min(int(120 + v * 3), 230), 255)


def pixel(size, x, y):
    # The tile and the page are sampled at the pixel's centre, which keeps
    # their edges crisp; the slanted check mark is laid over them by how
    # much of the pixel it covers.
    scale = 32.0 / size
    base = ground((x + 0.5) * scale, (y + 0.5) * scale)
    n = 2 if size > 64 else 4
    covered = sum(in_check((x + (i + 0.5) / n) * scale, (y + (j + 0.5) / n) * scale)
                  for j in range(n) for i in range(n))
    if covered == 0:
        return base
    k = covered / (n * n)
    mark = (40, 170, 60)
    if base[3] == 0:
        return mark + (round(255 * k),)
    return tuple(round(m * k + c * (1 - k)) for m, c in zip(mark, base[:3])) + (255,)


def rows(size):
    return [[pixel(size, x, y) for x in range(size)] for y in range(size)]


def bmp_image(size, pixels):
    xor = b"".join(b"".join(struct.pack("BBBB", b, g, r, a) for (r, g, b, a) in row)
                   for row in reversed(pixels))  # bottom-up, as bitmaps are stored
    # The AND mask marks the fully transparent pixels, for whatever draws
    # the icon without its alpha.
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        line = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + bytes(mask)


def png_image(size, pixels):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + b"".join(struct.pack("BBBB", *p) for p in row) for row in pixels)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(out):
    images = []
    for size in SIZES:
        pixels = rows(size)
        images.append(png_image(size, pixels) if size >= 256 else bmp_image(size, pixels))
    data = struct.pack("<HHH", 0, 1, len(SIZES))
    offset = 6 + 16 * len(SIZES)
    for size, img in zip(SIZES, images):
        side = size if size < 256 else 0  # 0 stands for 256
        data += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    data += b"".join(images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
