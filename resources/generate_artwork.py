#!/usr/bin/env python3
"""Draws Mailsheaf's artwork and writes it as Windows icon and cursor files.

    python3 resources/generate_artwork.py [output-folder]

Writes, into resources/ by default:
  mailsheaf.ico       the program icon: a tied stack of envelopes, 256 colours, 16/24/32/48 px
  hint.ico            16 x 16, beside the hint line: a folder
  guide.ico           16 x 16, beside the guide link: a question mark in a blue disc
  pointing_hand.cur   32 x 32, two colours, hot spot (5, 0): a hand pointing up

The build uses the committed files; run this again only to change the artwork. Python 3
standard library only.
"""

import os
import struct
import sys

TRANSPARENT = None

# --- colours ----------------------------------------------------------------------------------

INK = (28, 52, 110)            # outlines
PAPER_BACK = (214, 224, 240)   # the envelopes further back
PAPER_MIDDLE = (232, 238, 248)
PAPER_FRONT = (255, 252, 240)
FLAP = (240, 232, 204)
BAND = (196, 36, 36)
BAND_DARK = (128, 20, 20)


# --- drawing the program icon -----------------------------------------------------------------

class Canvas:
    """A square of pixels drawn by layers; later layers cover earlier ones. Geometry is given in
    a 48-unit square and snapped to whole pixels for rectangles, so the icon stays crisp at every
    size; only slanted strokes are smoothed, by 4 x 4 samples per pixel."""

    SAMPLES = 4

    def __init__(self, size):
        self.size = size
        self.layers = []

    def px(self, units):
        return round(units * self.size / 48.0)

    def stroke(self):
        return max(1, round(self.size / 24.0))

    def rect(self, x0, y0, x1, y1, colour):
        """A rectangle in pixel coordinates, right and bottom exclusive."""
        self.layers.append((lambda x, y: x0 <= x < x1 and y0 <= y < y1, colour))

    def framed_rect(self, units, fill):
        x0, y0, x1, y1 = (self.px(v) for v in units)
        s = self.stroke()
        self.rect(x0, y0, x1, y1, INK)
        self.rect(x0 + s, y0 + s, x1 - s, y1 - s, fill)
        return x0, y0, x1, y1

    def polygon(self, points, colour):
        pts = list(points)

        def inside(x, y):
            hit = False
            j = len(pts) - 1
            for i in range(len(pts)):
                xi, yi = pts[i]
                xj, yj = pts[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    hit = not hit
                j = i
            return hit

        self.layers.append((inside, colour))

    def line(self, a, b, width, colour):
        (ax, ay), (bx, by) = a, b
        dx, dy = bx - ax, by - ay
        length2 = dx * dx + dy * dy or 1e-9
        half = width / 2.0

        def near(x, y):
            t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
            cx, cy = ax + t * dx - x, ay + t * dy - y
            return cx * cx + cy * cy <= half * half

        self.layers.append((near, colour))

    def render(self):
        n = self.SAMPLES
        pixels = []
        for py in range(self.size):
            row = []
            for pxl in range(self.size):
                covered = []
                for sy in range(n):
                    for sx in range(n):
                        x = pxl + (sx + 0.5) / n
                        y = py + (sy + 0.5) / n
                        colour = TRANSPARENT
                        for test, c in self.layers:
                            if test(x, y):
                                colour = c
                        if colour is not TRANSPARENT:
                            covered.append(colour)
                if len(covered) * 2 < n * n:
                    row.append(TRANSPARENT)
                else:
                    row.append(tuple(round(sum(c[k] for c in covered) / len(covered))
                                     for k in range(3)))
            pixels.append(row)
        return pixels


def envelope_stack(size):
    c = Canvas(size)
    s = c.stroke()
    c.framed_rect((17, 4, 46, 24), PAPER_BACK)
    c.framed_rect((10, 10, 40, 31), PAPER_MIDDLE)
    x0, y0, x1, y1 = c.framed_rect((2, 17, 40, 45), PAPER_FRONT)
    # The front envelope's flap: a shaded triangle with an inked edge.
    middle = ((x0 + x1) / 2.0, y0 + (y1 - y0) * 0.58)
    c.polygon([(x0 + s, y0 + s), middle, (x1 - s, y0 + s)], FLAP)
    c.line((x0 + s / 2.0, y0 + s / 2.0), middle, s, INK)
    c.line(middle, (x1 - s / 2.0, y0 + s / 2.0), s, INK)
    # The band that ties the sheaf, drawn over the whole stack.
    b0, b1 = c.px(27), c.px(33)
    top, bottom = c.px(2), c.px(47)
    c.rect(b0, top, b1, bottom, BAND_DARK)
    c.rect(b0 + s, top + s, b1 - s, bottom - s, BAND)
    return c.render()


# --- pixel art ----------------------------------------------------------------------------------

def from_art(rows, colours):
    return [[colours[ch] for ch in row] for row in rows]


FOLDER_ART = [
    "................",
    "................",
    ".####...........",
    "#oooo#..........",
    "#ooooo#########.",
    "#oooooooooooooo#",
    "################",
    "#yyyyyyyyyyyyyy#",
    "#yyyyyyyyyyyyyy#",
    "#yyyyyyyyyyyyyy#",
    "#yyyyyyyyyyyyyY#",
    "#yyyyyyyyyyyyYY#",
    "#yyyyyyyyyyyYYY#",
    "################",
    "................",
    "................",
]
FOLDER_COLOURS = {
    ".": TRANSPARENT,
    "#": (120, 84, 12),
    "o": (224, 176, 56),
    "y": (252, 216, 96),
    "Y": (236, 196, 72),
}

QUESTION_ART = [
    ".....######.....",
    "...##++++++##...",
    "..#++++++++++#..",
    ".#++++wwww++++#.",
    ".#+++ww++ww+++#.",
    "#++++ww++ww++++#",
    "#++++++++ww++++#",
    "#+++++++ww+++++#",
    "#++++++ww++++++#",
    "#++++++ww++++++#",
    ".#++++++++++++#.",
    ".#+++++ww+++++#.",
    "..#++++ww++++#..",
    "...##++++++##...",
    ".....######.....",
    "................",
]
QUESTION_COLOURS = {
    ".": TRANSPARENT,
    "#": (16, 48, 128),
    "+": (48, 100, 200),
    "w": (255, 255, 255),
}

# The cursor: "X" black, "o" white, anything else transparent. The fingertip's top left pixel
# is the hot spot.
HAND_ART = [
    ".....XX.........",
    "....XooX........",
    "....XooX........",
    "....XooX........",
    "....XooX........",
    "....XooXXX......",
    "....XooXooXXX...",
    "....XooXooXooXX.",
    ".XX.XooXooXooXoX",
    "XooXXooooooooXoX",
    "XoooXooooooooooX",
    ".XooXooooooooooX",
    "..XoXooooooooooX",
    "..XoooooooooooX.",
    "...XooooooooooX.",
    "...XoooooooooX..",
    "....XooooooooX..",
    "....XooooooooX..",
    "....XXXXXXXXXX..",
]
HAND_HOT_SPOT = (5, 0)


# --- file formats -------------------------------------------------------------------------------

BLACK = (0, 0, 0)


def palette_of(pixels):
    """The palette for the opaque pixels: black first, then up to 255 other colours, coarsened
    until they fit. Transparent pixels take index 0, so they must be black: Windows draws an
    icon by AND-ing the mask and then XOR-ing the colours, and a transparent pixel of any other
    colour tints whatever lies under it."""
    step = 1
    while True:
        def snap(c):
            return tuple(min(255, (v // step) * step + step // 2) if step > 1 else v for v in c)
        colours = sorted({snap(c) for row in pixels for c in row if c is not TRANSPARENT} - {BLACK})
        if len(colours) <= 255:
            return [BLACK] + colours, snap
        step *= 2


def row_bytes(bits_per_row):
    return ((bits_per_row + 31) // 32) * 4


def and_mask(pixels):
    size = len(pixels[0])
    stride = row_bytes(size)
    out = bytearray()
    for row in reversed(pixels):
        line = bytearray(stride)
        for x, c in enumerate(row):
            if c is TRANSPARENT:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def icon_image_8bit(pixels):
    size = len(pixels)
    colours, snap = palette_of(pixels)
    index = {c: i for i, c in enumerate(colours)}
    palette = bytearray()
    for i in range(256):
        r, g, b = colours[i] if i < len(colours) else (0, 0, 0)
        palette += bytes((b, g, r, 0))
    stride = row_bytes(size * 8)
    xor = bytearray()
    for row in reversed(pixels):
        line = bytearray(stride)
        for x, c in enumerate(row):
            line[x] = 0 if c is TRANSPARENT else index[snap(c)]
        xor += line
    mask = and_mask(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, len(xor) + len(mask),
                         0, 0, 256, 0)
    return header + bytes(palette) + bytes(xor) + mask


def cursor_image_1bit(rows, size):
    # Transparent: AND 1, XOR 0. Black: AND 0, XOR 0. White: AND 0, XOR 1.
    grid = [[" "] * size for _ in range(size)]
    for y, row in enumerate(rows):
        for x, ch in enumerate(row):
            grid[y][x] = ch
    stride = row_bytes(size)
    xor = bytearray()
    mask = bytearray()
    for row in reversed(grid):
        xline = bytearray(stride)
        mline = bytearray(stride)
        for x, ch in enumerate(row):
            bit = 0x80 >> (x % 8)
            if ch == "o":
                xline[x // 8] |= bit
            elif ch != "X":
                mline[x // 8] |= bit
        xor += xline
        mask += mline
    palette = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 1, 0, len(xor) + len(mask),
                         0, 0, 2, 0)
    return header + palette + bytes(xor) + bytes(mask)


def icon_file(images):
    """images: pixel grids, each square; written 8 bits per pixel with a transparency mask."""
    blobs = [icon_image_8bit(p) for p in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for pixels, blob in zip(images, blobs):
        size = len(pixels)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 8, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


def cursor_file(rows, size, hot_spot):
    blob = cursor_image_1bit(rows, size)
    out = struct.pack("<HHH", 0, 2, 1)
    out += struct.pack("<BBBBHHII", size, size, 2, 0, hot_spot[0], hot_spot[1], len(blob), 22)
    return out + blob


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    files = {
        "mailsheaf.ico": icon_file([envelope_stack(s) for s in (16, 24, 32, 48)]),
        "hint.ico": icon_file([from_art(FOLDER_ART, FOLDER_COLOURS)]),
        "guide.ico": icon_file([from_art(QUESTION_ART, QUESTION_COLOURS)]),
        "pointing_hand.cur": cursor_file(HAND_ART, 32, HAND_HOT_SPOT),
    }
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
