#!/usr/bin/env python3
"""Draws Chiroscope's application icon, a blue glove in front of a scope screen with a green
trace, as 16-colour palette PNGs of 32x32 and 16x16 pixels (icon-32.png, icon-16.png).

Palette: the classic 16-colour display palette, with purple given up for transparency.
Run from this directory: ./make_icon.py
"""
import math
import struct
import zlib

CLEAR, BLACK, MAROON, GREEN, OLIVE, NAVY, TEAL, SILVER = range(8)
GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)
PALETTE = [
    (0, 0, 0), (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# Geometry per size, inclusive pixel coordinates.
SIZES = {
    32: dict(corner=3, grid=8, trace=(11, 4.0, 3.2),
             fingers=[(8, 12, 7), (12, 16, 4), (16, 20, 5), (20, 23, 9)],
             palm=(8, 14, 23, 24), thumb=(4, 16, 8, 21), cuff=(8, 24, 23, 28)),
    16: dict(corner=2, grid=5, trace=(5, 2.0, 1.6),
             fingers=[(4, 6, 3), (6, 8, 2), (8, 10, 2), (10, 12, 4)],
             palm=(4, 7, 12, 12), thumb=(2, 8, 4, 11), cuff=(4, 12, 12, 14)),
}


def draw(size):
    g = SIZES[size]
    img = [[CLEAR] * size for _ in range(size)]
    last = size - 1
    r = g["corner"]

    def inside_rounded(x, y):
        cx = min(max(x, r), last - r)
        cy = min(max(y, r), last - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r + 1

    # The scope screen with its border and grid.
    for y in range(size):
        for x in range(size):
            if inside_rounded(x, y):
                edge = not all(inside_rounded(x + dx, y + dy)
                               for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
                if edge:
                    img[y][x] = SILVER
                elif x % g["grid"] == 0 or y % g["grid"] == 0:
                    img[y][x] = GREEN if (x + y) % 2 == 0 else BLACK
                else:
                    img[y][x] = BLACK
    base, amplitude, period = g["trace"]
    previous = None
    for x in range(2, last - 1):
        y = base + round(amplitude * math.sin(x / period))
        span = [y] if previous is None else range(min(previous, y), max(previous, y) + 1)
        for yy in span:
            img[yy][x] = LIME
        previous = y

    def box(x0, y0, x1, y1, fill, border):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                on_edge = x in (x0, x1) or y in (y0, y1)
                img[y][x] = border if on_edge else fill

    # The glove: fingers, palm and thumb in blue with a navy seam, the cuff in white.
    px0, py0, px1, py1 = g["palm"]
    for x0, x1, top in g["fingers"]:
        box(x0, top, x1, py0, BLUE, NAVY)
        if x1 - x0 >= 3:
            for y in range(top + 1, py0):
                img[y][x0 + 1] = AQUA
    box(px0, py0, px1, py1, BLUE, NAVY)
    for x0, x1, _ in g["fingers"]:
        for x in range(x0 + 1, x1):
            img[py0][x] = BLUE
    tx0, ty0, tx1, ty1 = g["thumb"]
    box(tx0, ty0, tx1, ty1, BLUE, NAVY)
    for y in range(ty0 + 1, ty1):
        img[y][tx1] = BLUE
    cx0, cy0, cx1, cy1 = g["cuff"]
    box(cx0, cy0, cx1, cy1, WHITE, GREY)
    for x in range(cx0 + 1, cx1):
        img[(cy0 + cy1) // 2][x] = SILVER
    return img


def write_png(path, img):
    size = len(img)
    raw = b""
    for row in img:
        packed = bytes((row[i] << 4) | row[i + 1] for i in range(0, size, 2))
        raw += b"\x00" + packed

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 4, 3, 0, 0, 0))
    png += chunk(b"PLTE", b"".join(bytes(c) for c in PALETTE))
    png += chunk(b"tRNS", b"\x00")
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


for size in SIZES:
    write_png(f"icon-{size}.png", draw(size))
