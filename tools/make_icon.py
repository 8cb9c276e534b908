#!/usr/bin/env python3
"""Draws the application icon and writes platform/win32/resources/app.ico.

The picture is a small monitor with a mouse in front of it whose right button
is lit, which is the one thing the program reacts to. Everything is computed
from the shapes below (no image files, no third-party modules), so running the
script again gives byte-identical output.

    python3 tools/make_icon.py            # rewrite the icon in the tree
    python3 tools/make_icon.py -o x.ico   # write somewhere else
"""

import argparse
import struct
from pathlib import Path

SIZES = (16, 32, 48)
# Samples per pixel along each axis; enough for smooth edges at 16 px.
SUPERSAMPLE = 8

OUTLINE = (34, 38, 46)
BEZEL = (58, 64, 76)
SCREEN_TOP = (96, 170, 240)
SCREEN_BOTTOM = (36, 96, 186)
MOUSE_BODY = (242, 244, 247)
RIGHT_BUTTON = (255, 128, 0)

# Shapes in a unit square, y pointing down.
MONITOR = (0.02, 0.04, 0.76, 0.62, 0.07)  # left, top, right, bottom, corner radius
NECK = (0.33, 0.60, 0.45, 0.72)
BASE = (0.18, 0.70, 0.60, 0.78)
MOUSE = (0.42, 0.28, 0.98, 0.98, 0.27)
BUTTON_LINE = 0.58  # buttons above this height
DIVIDER = 0.70      # left/right button split


def rounded_box_distance(x, y, box):
    """Signed distance from (x, y) to a rounded rectangle, negative inside."""
    left, top, right, bottom, radius = box
    cx, cy = (left + right) / 2, (top + bottom) / 2
    hx, hy = (right - left) / 2 - radius, (bottom - top) / 2 - radius
    qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
    outside = (max(qx, 0.0) ** 2 + max(qy, 0.0) ** 2) ** 0.5
    return outside + min(max(qx, qy), 0.0) - radius


def inside_box(x, y, box):
    left, top, right, bottom = box
    return left <= x < right and top <= y < bottom


def mix(a, b, t):
    return tuple(p + (q - p) * t for p, q in zip(a, b))


def colour_at(x, y, line):
    """Colour of the picture at a point, or None where it is transparent.

    line is the outline width in picture units, so edges stay about one pixel
    wide at 16 px and do not get thin at 48 px.
    """
    colour = None

    if inside_box(x, y, NECK) or inside_box(x, y, BASE):
        colour = BEZEL
    d = rounded_box_distance(x, y, MONITOR)
    if d < 0:
        if d > -line * 1.3:
            colour = BEZEL
        else:
            top, bottom = MONITOR[1], MONITOR[3]
            colour = mix(SCREEN_TOP, SCREEN_BOTTOM, (y - top) / (bottom - top))

    # The mouse sits in front, so it is painted last.
    d = rounded_box_distance(x, y, MOUSE)
    if d < 0:
        if d > -line:
            colour = OUTLINE
        elif abs(y - BUTTON_LINE) < line / 2:
            colour = OUTLINE
        elif y < BUTTON_LINE and abs(x - DIVIDER) < line / 2:
            colour = OUTLINE
        elif y < BUTTON_LINE and x > DIVIDER:
            colour = RIGHT_BUTTON
        else:
            colour = MOUSE_BODY
    return colour


def render(size, supersample=SUPERSAMPLE):
    """Rows of (r, g, b, a) tuples, top row first, straight (not premultiplied) alpha."""
    line = max(1.0, size / 24) / size
    step = 1.0 / (size * supersample)
    samples = supersample * supersample
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            red = green = blue = covered = 0
            for sy in range(supersample):
                y = (py * supersample + sy + 0.5) * step
                for sx in range(supersample):
                    x = (px * supersample + sx + 0.5) * step
                    colour = colour_at(x, y, line)
                    if colour is not None:
                        red += colour[0]
                        green += colour[1]
                        blue += colour[2]
                        covered += 1
            if covered == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(red / covered), round(green / covered), round(blue / covered),
                            round(255 * covered / samples)))
        rows.append(row)
    return rows


def dib_image(rows):
    """One icon image as Windows stores it: BITMAPINFOHEADER, BGRA pixels, AND mask.

    The header height counts both the colour rows and the mask rows, and rows
    run bottom-up. The mask only matters to code that ignores alpha; it marks
    fully transparent pixels.
    """
    size = len(rows)
    mask_stride = ((size + 31) // 32) * 4
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (r, g, b, a) in enumerate(row):
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return header + bytes(pixels) + bytes(mask)


def build_ico(sizes=SIZES, supersample=SUPERSAMPLE):
    """The bytes of an .ico file holding one 32-bit image per size."""
    images = [dib_image(render(size, supersample)) for size in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        # A width or height byte of 0 means 256.
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    for image in images:
        out += image
    return bytes(out)


def main():
    default = Path(__file__).resolve().parent.parent / "platform" / "win32" / "resources" / "app.ico"
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-o", "--output", type=Path, default=default)
    args = parser.parse_args()
    args.output.write_bytes(build_ico())
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
