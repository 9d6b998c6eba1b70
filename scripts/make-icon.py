#!/usr/bin/env python3
"""Draws the program icon, two interlocked chain links, at every size the desktop theme uses.

Writes app/resources/icons/hicolor/<N>x<N>/apps/vantorel.png for each size in SIZES, laid out as the
installed icon theme is.
The 32 x 32 PNG (the window's icon) has an 8-bit palette that keeps soft edges through per-entry
alpha (tRNS). The other sizes are truecolour with alpha, where a 256-entry palette would band the
shading.
Standard library only, and the output is the same on every run.
"""

import math
import struct
import sys
import zlib
from pathlib import Path

SIZES = (16, 24, 32, 48, 64, 128, 256)
SIZE = 32  # the drawing is laid out on this grid and scaled; at this size it also gets a palette
SUPERSAMPLE = 4  # samples per pixel along each axis

AXIS = (1 / math.sqrt(2), -1 / math.sqrt(2))  # lower left to upper right (y grows downwards)
ACROSS = (-AXIS[1], AXIS[0])
LINK_OFFSET = 5.0  # link centres from the icon centre, along the axis
HALF_STRAIGHT = 4.3  # half length of a link's straight sides
RADIUS = 5.4  # radius of a link's centre line
STROKE = 3.4  # width of the metal
OUTLINE = 1.1  # dark rim around the metal

LINKS = {
    # name: (centre offset along the axis, dark rim, face colour at the lit side, at the far side)
    "blue": (-LINK_OFFSET, (18, 46, 96), (120, 178, 245), (36, 92, 186)),
    "orange": (LINK_OFFSET, (104, 44, 8), (255, 196, 110), (222, 110, 24)),
}


def link_distance(name, x, y):
    """Signed distance from the centre line of a link (negative inside the stadium)."""
    c = SIZE / 2 + LINKS[name][0] * AXIS[0], SIZE / 2 + LINKS[name][0] * AXIS[1]
    dx, dy = x - c[0], y - c[1]
    along = dx * AXIS[0] + dy * AXIS[1]
    across = dx * ACROSS[0] + dy * ACROSS[1]
    along = max(-HALF_STRAIGHT, min(HALF_STRAIGHT, along))
    return math.hypot(dx - along * AXIS[0], dy - along * AXIS[1]) - RADIUS, across


def link_colour(name, x, y):
    """Colour of a link at (x, y), or None where the link is not."""
    distance, across = link_distance(name, x, y)
    ring = abs(distance)
    if ring > STROKE / 2 + OUTLINE:
        return None
    _, rim, lit, far = LINKS[name]
    if ring > STROKE / 2:
        return rim
    # Light from the upper left: the outer edge on that side shines.
    t = max(0.0, min(1.0, 0.5 + across / (2 * (RADIUS + STROKE))))
    t = max(0.0, min(1.0, t + (0.25 if distance > 0 else -0.1)))
    return tuple(round(f + (l - f) * t) for l, f in zip(lit, far))


def sample(x, y):
    """Colour of the picture at (x, y): orange lies over blue except where blue passes in front."""
    blue = link_colour("blue", x, y)
    orange = link_colour("orange", x, y)
    if blue and orange:
        _, across = link_distance("blue", x, y)
        return blue if across < 0 else orange
    return orange or blue


def render(size):
    """RGBA pixels of a size x size icon, row by row, by averaging SUPERSAMPLE^2 samples a pixel."""
    pixels = []
    step = 1 / SUPERSAMPLE
    scale = SIZE / size
    for py in range(size):
        for px in range(size):
            hits = []
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    colour = sample((px + (sx + 0.5) * step) * scale, (py + (sy + 0.5) * step) * scale)
                    if colour:
                        hits.append(colour)
            if not hits:
                pixels.append((0, 0, 0, 0))
                continue
            rgb = tuple(round(sum(c[i] for c in hits) / len(hits)) for i in range(3))
            pixels.append(rgb + (round(255 * len(hits) / SUPERSAMPLE**2),))
    return pixels


def quantise(pixels):
    """Palette of at most 256 RGBA entries (entry 0 fully transparent) and one index a pixel."""
    for shift in range(0, 8):
        def reduce(p):
            if p[3] == 0:
                return (0, 0, 0, 0)
            keep = lambda v: min(255, ((v >> shift) << shift) + ((1 << shift) >> 1))
            alpha = 255 if p[3] == 255 else min(254, keep(p[3]))
            return (keep(p[0]), keep(p[1]), keep(p[2]), alpha)

        reduced = [reduce(p) for p in pixels]
        palette = [(0, 0, 0, 0)] + sorted(set(reduced) - {(0, 0, 0, 0)})
        if len(palette) <= 256:
            index = {entry: i for i, entry in enumerate(palette)}
            return palette, [index[p] for p in reduced]
    raise SystemExit("make-icon: too many colours")


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png_bytes(size, colour_type, rows, *chunks):
    header = struct.pack(">IIBBBBB", size, size, 8, colour_type, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + b"".join(chunks)
            + png_chunk(b"IDAT", zlib.compress(rows, 9)) + png_chunk(b"IEND", b""))


def palette_png_bytes(palette, indices):
    rows = b"".join(b"\0" + bytes(indices[y * SIZE:(y + 1) * SIZE]) for y in range(SIZE))
    alphas = bytes(entry[3] for entry in palette).rstrip(b"\xff")
    return png_bytes(SIZE, 3, rows,
                     png_chunk(b"PLTE", b"".join(bytes(entry[:3]) for entry in palette)),
                     png_chunk(b"tRNS", alphas))


def rgba_png_bytes(size, pixels):
    rows = b"".join(b"\0" + b"".join(bytes(p) for p in pixels[y * size:(y + 1) * size])
                    for y in range(size))
    return png_bytes(size, 6, rows)


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "app" / "resources"
    for size in SIZES:
        folder = out / "icons" / "hicolor" / f"{size}x{size}" / "apps"
        folder.mkdir(parents=True, exist_ok=True)
        if size == SIZE:
            palette, indices = quantise(render(size))
            (folder / "vantorel.png").write_bytes(palette_png_bytes(palette, indices))
        else:
            (folder / "vantorel.png").write_bytes(rgba_png_bytes(size, render(size)))
    print(f"make-icon: {len(SIZES)} sizes, {len(palette)} palette entries at {SIZE}, written to {out}")


if __name__ == "__main__":
    main()
