#!/usr/bin/env python3
"""Draws the program's 32x32 icon and writes it as an indexed (256-colour) PNG.

The picture: a database drum (three stacked discs) squeezed by a press plate
with a downward arrow, for "repair and compact". Shapes are sampled 8x8 per
pixel for smooth edges, then reduced to one palette of at most 256 colours.
Run it again after changing the drawing:  python3 make_icon.py compactador.png
"""
import struct
import sys
import zlib

SIZE = 32
SUB = 8  # samples per pixel along each axis

DRUM_SIDE = (38, 92, 158)
DRUM_TOP = (92, 150, 214)
DRUM_RIM = (20, 52, 96)
BAND = (210, 228, 246)
PLATE = (64, 64, 72)
ARROW = (232, 120, 24)
ARROW_EDGE = (150, 64, 8)


def inside_ellipse(x, y, cx, cy, rx, ry):
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def sample(x, y):
    """Colour (r, g, b) of the drawing at point (x, y), or None where it is clear."""
    # Press plate across the top of the drum.
    if 3.0 <= x <= 29.0 and 10.0 <= y <= 12.5:
        return PLATE
    # Arrow pressing down on the plate: a shaft and a head.
    if 13.0 <= x <= 19.0 and 0.5 <= y <= 5.0:
        edge = x < 14.0 or x > 18.0
        return ARROW_EDGE if edge else ARROW
    if 5.0 <= y <= 9.5:
        half = 7.5 * (9.5 - y) / 4.5
        if abs(x - 16.0) <= half:
            return ARROW_EDGE if abs(x - 16.0) > half - 1.0 else ARROW
    # The drum: squat cylinder with its top ellipse and two bands.
    cx, rx, ry = 16.0, 12.5, 3.2
    top, bottom = 17.0, 27.0
    if inside_ellipse(x, y, cx, top, rx, ry):
        rim = not inside_ellipse(x, y, cx, top, rx - 1.1, ry - 1.1)
        return DRUM_RIM if rim else DRUM_TOP
    within_sides = abs(x - cx) <= rx and top <= y <= bottom
    if within_sides or inside_ellipse(x, y, cx, bottom, rx, ry):
        if abs(x - cx) > rx - 1.1 or not inside_ellipse(x, y, cx, bottom, rx - 1.1, ry - 1.1) and y > bottom:
            return DRUM_RIM
        for band_y in (20.5, 24.0):
            if inside_ellipse(x, y, cx, band_y, rx, ry) and not inside_ellipse(x, y, cx, band_y - 0.9, rx, ry):
                return BAND
        return DRUM_SIDE
    return None


def render():
    pixels = []
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            r = g = b = hits = 0
            for sy in range(SUB):
                for sx in range(SUB):
                    c = sample(px + (sx + 0.5) / SUB, py + (sy + 0.5) / SUB)
                    if c is not None:
                        r, g, b, hits = r + c[0], g + c[1], b + c[2], hits + 1
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                alpha = round(255 * hits / (SUB * SUB))
                row.append((round(r / hits), round(g / hits), round(b / hits), alpha))
        pixels.append(row)
    return pixels


def quantise(pixels, levels):
    step = 255 / (levels - 1)
    return [[tuple(round(round(v / step) * step) for v in p) if p[3] else (0, 0, 0, 0)
             for p in row] for row in pixels]


def to_palette(pixels):
    for levels in (256, 64, 32, 16, 8):
        q = quantise(pixels, levels)
        colours = sorted({p for row in q for p in row})
        if len(colours) <= 256:
            index = {c: i for i, c in enumerate(colours)}
            return colours, [[index[p] for p in row] for row in q]
    raise SystemExit("the drawing needs more than 256 colours")


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png(path, colours, rows):
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 3, 0, 0, 0)  # 8-bit indexed colour
    palette = b"".join(bytes(c[:3]) for c in colours)
    alphas = bytes(c[3] for c in colours)
    raw = b"".join(b"\x00" + bytes(row) for row in rows)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", header))
        out.write(chunk(b"PLTE", palette))
        out.write(chunk(b"tRNS", alphas))
        out.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        out.write(chunk(b"IEND", b""))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        raise SystemExit("usage: make_icon.py OUTPUT.png")
    colours, rows = to_palette(render())
    write_png(sys.argv[1], colours, rows)
    print(f"{sys.argv[1]}: {SIZE}x{SIZE}, {len(colours)} colours")
