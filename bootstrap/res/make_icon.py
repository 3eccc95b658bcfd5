#!/usr/bin/env python3
"""Writes setup.ico: one 32x32 image in 16 colours (4 bits per pixel), the program icon of
SETUP.EXE. The picture is a setup disk: a blue diskette with a white label and a metal
shutter, drawn on a transparent background. Run it again after changing the drawing:

    python3 make_icon.py setup.ico
"""
import struct
import sys

# The standard 16-colour palette, as B, G, R, 0.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, GREY, SILVER, BLUE, WHITE, RED = 0, 4, 8, 7, 12, 15, 9
SIZE = 32


def draw():
    """Rows top to bottom; None is transparent."""
    pixels = [[None] * SIZE for _ in range(SIZE)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                pixels[y][x] = colour

    fill(3, 3, 29, 29, BLACK)        # outline
    fill(4, 4, 28, 28, BLUE)         # body
    fill(4, 4, 5, 28, NAVY)          # shade on the left edge
    fill(9, 4, 23, 13, SILVER)       # shutter
    fill(18, 6, 21, 11, GREY)        # shutter window
    fill(7, 16, 25, 28, WHITE)       # label
    for y in (19, 22, 25):
        fill(9, y, 23, y + 1, RED)   # lines on the label
    pixels[4][27] = pixels[5][27] = BLACK  # write-protect notch
    return pixels


def icon_bytes(pixels):
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    xor_rows, and_rows = [], []
    for row in reversed(pixels):  # bottom-up
        nibbles = [0 if c is None else c for c in row]
        xor_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c is None else 0)
        and_rows.append(bits.to_bytes(4, "big"))
    image = header + palette + b"".join(xor_rows) + b"".join(and_rows)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    with open(sys.argv[1] if len(sys.argv) > 1 else "setup.ico", "wb") as out:
        out.write(icon_bytes(draw()))
