#!/usr/bin/env python3
"""Checks that a rendered card picture is a real image of the card's proportions.

    scripts/png_check.py PICTURE.png SX SY

The PNG must decode (8-bit RGB or RGBA, as SVG renderers write it), its width
over height must be SX over SY within 1 %, and it must not be blank: the card,
its texts and their boxes give it dark pixels and several colours.
Standard library only.
"""
import struct
import sys
import zlib


def fail(message):
    print(f"png_check: {message}", file=sys.stderr)
    sys.exit(1)


def read_png(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail(f"{path} is not a PNG")
    at, header, compressed = 8, None, b""
    while at < len(data):
        (length,) = struct.unpack(">I", data[at:at + 4])
        kind = data[at + 4:at + 8]
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            compressed += body
        at += 12 + length
    if header is None or not compressed:
        fail(f"{path} has no image header or no image data")
    width, height, depth, colour, _, _, interlace = header
    channels = {2: 3, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace != 0:
        fail(f"{path}: only 8-bit non-interlaced RGB/RGBA is read (depth {depth}, colour type {colour})")
    raw = zlib.decompress(compressed)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                predictor = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + predictor) & 0xFF
        rows.append(line)
        previous = line
    return width, height, channels, rows


def main():
    if len(sys.argv) != 4:
        fail("usage: png_check.py PICTURE.png SX SY")
    path, sx, sy = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    width, height, channels, rows = read_png(path)
    if width == 0 or height == 0:
        fail(f"{path} is empty ({width} x {height})")
    wanted, got = sx / sy, width / height
    if abs(got - wanted) > wanted * 0.01:
        fail(f"{path} is {width} x {height} (ratio {got:.4f}); the card {sx} x {sy} has ratio {wanted:.4f}")
    colours, dark = set(), 0
    for line in rows:
        for x in range(0, len(line), channels):
            pixel = bytes(line[x:x + 3])
            colours.add(pixel)
            if max(pixel) < 80 and (channels == 3 or line[x + 3] > 128):
                dark += 1
    if len(colours) < 4 or dark < width:
        fail(f"{path} looks blank: {len(colours)} colour(s), {dark} dark pixel(s)")
    print(f"png_check: {path} {width} x {height}, ratio {got:.4f} (card {wanted:.4f}), "
          f"{len(colours)} colours, {dark} dark pixels")


if __name__ == "__main__":
    main()
