#!/usr/bin/env python3
"""Makes a Windows icon file from 16-colour palette PNGs (the application icon's images), with
each image as a 4-bit device-independent bitmap and a transparency mask, the form every Windows
version reads. Palette index 0 with alpha 0 (tRNS) is transparent.

Usage: make_ico.py OUT.ico IN.png...
"""
import struct
import sys
import zlib


def read_png(path):
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    pos, idat, palette, alpha = 8, b"", [], b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 4 or colour != 3 or interlace != 0:
                raise SystemExit(f"{path}: not a 4-bit palette PNG")
        elif kind == b"PLTE":
            palette = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b"tRNS":
            alpha = body
        elif kind == b"IDAT":
            idat += body
    raw = zlib.decompress(idat)
    stride = (width + 1) // 2
    rows, previous = [], bytes(stride)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        kind, row = line[0], bytearray(line[1:])
        for i in range(stride):
            left = row[i - 1] if i > 0 else 0
            up, corner = previous[i], previous[i - 1] if i > 0 else 0
            if kind == 1:
                row[i] = (row[i] + left) & 0xFF
            elif kind == 2:
                row[i] = (row[i] + up) & 0xFF
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                row[i] = (row[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 0xFF
        previous = bytes(row)
        rows.append([(row[x // 2] >> (4 if x % 2 == 0 else 0)) & 0xF for x in range(width)])
    palette += [(0, 0, 0)] * (16 - len(palette))
    clear = {i for i, a in enumerate(alpha) if a == 0}
    return width, height, palette, rows, clear


def dib(width, height, palette, rows, clear):
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    pixels = b""
    mask = b""
    mask_stride = ((width + 31) // 32) * 4
    for row in reversed(rows):  # bottom-up
        packed = bytes(((0 if row[x] in clear else row[x]) << 4) |
                       (0 if row[x + 1] in clear else row[x + 1]) for x in range(0, width, 2))
        pixels += packed + bytes((-len(packed)) % 4)
        bits = bytearray(mask_stride)
        for x in range(width):
            if row[x] in clear:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + colours + pixels + mask


def main():
    out, inputs = sys.argv[1], sys.argv[2:]
    images = [read_png(path) for path in inputs]
    bitmaps = [dib(*image) for image in images]
    ico = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (width, height, *_), bitmap in zip(images, bitmaps):
        ico += struct.pack("<BBBBHHII", width % 256, height % 256, 16, 0, 1, 4, len(bitmap), offset)
        offset += len(bitmap)
    with open(out, "wb") as f:
        f.write(ico + b"".join(bitmaps))


main()
