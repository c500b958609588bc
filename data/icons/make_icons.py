#!/usr/bin/env python3
"""Draws the program's icon: a radar scope whose sweep has just found a host
that answers. 32 x 32 pixels in the 16 colours of the classic desktop
palette; the window enlarges it without smoothing on dense screens. Writes
quorvex-32.png next to this script. quorvex.svg beside it is the same scope
drawn for the large sizes of the desktop entry."""

import math
import os
import struct
import zlib

# Colours of the classic 16-colour palette; index 0 of the file is transparency.
BLACK, GREEN, GREY, SILVER, LIME, YELLOW, WHITE = range(1, 8)
PALETTE = [
    (0, 0, 0),        # transparent
    (0, 0, 0),        # black
    (0, 128, 0),      # green
    (128, 128, 128),  # grey
    (192, 192, 192),  # silver
    (0, 255, 0),      # lime
    (255, 255, 0),    # yellow
    (255, 255, 255),  # white
]

SIZE = 32
CX = CY = 16.0                   # the scope's centre, between pixels
SWEEP = math.radians(-40)        # where the beam points, y down
BLIP_R, BLIP_A = 8.5, math.radians(-58)   # the host that answered, just swept


def angle_behind_sweep(a):
    """How far, in radians, angle a trails the beam (0 .. 2 pi)."""
    return (SWEEP - a) % (2 * math.pi)


def pixel(x, y):
    px, py = x + 0.5 - CX, y + 0.5 - CY
    r = math.hypot(px, py)
    a = math.atan2(py, px)
    if r > 15.6:
        return 0
    if r > 14.4:
        # A bezel lit from the top left.
        return WHITE if (px + py) < -6 else GREY if (px + py) > 6 else SILVER
    if r > 13.5:
        return BLACK
    bx, by = BLIP_R * math.cos(BLIP_A), BLIP_R * math.sin(BLIP_A)
    d = math.hypot(px - bx, py - by)
    if d < 1.9:
        return WHITE if d < 1.0 else YELLOW
    # The echo: arcs going out from the host, on its side away from the centre.
    outward = (px - bx) * bx + (py - by) * by > 0.3 * d * BLIP_R
    if outward and abs(d - 3.6) < 0.55 and r < 13.4:
        return YELLOW
    # The beam itself, and the fading trail it leaves behind.
    along = px * math.cos(SWEEP) + py * math.sin(SWEEP)
    across = -px * math.sin(SWEEP) + py * math.cos(SWEEP)
    if along > 0 and abs(across) < 0.6:
        return LIME
    behind = angle_behind_sweep(a)
    if r > 1 and behind < math.radians(28):
        return GREEN
    if r > 1 and behind < math.radians(60) and (x + y) % 2 == 0:
        return GREEN
    if abs(r - 9.0) < 0.45 or abs(r - 4.5) < 0.45:
        return GREEN
    if (abs(px) < 0.5 or abs(py) < 0.5) and int(r) % 2 == 0:
        return GREEN
    return BLACK


def png(rows, scale):
    width = SIZE * scale
    raw = bytearray()
    for row in rows:
        line = bytearray()
        for index in row:
            line += bytes([index]) * scale
        packed = bytearray(
            (line[i] << 4) | (line[i + 1] if i + 1 < len(line) else 0) for i in range(0, len(line), 2))
        for _ in range(scale):
            raw += b"\0" + packed

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, width, 4, 3, 0, 0, 0)
    plte = b"".join(bytes(c) for c in PALETTE)
    trns = bytes([0] + [255] * (len(PALETTE) - 1))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"PLTE", plte) + chunk(b"tRNS", trns) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "quorvex-%d.png" % SIZE), "wb") as out:
        out.write(png(rows, 1))


if __name__ == "__main__":
    main()
