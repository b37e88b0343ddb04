#!/usr/bin/env python3
"""Draws the component's palette image and writes it as a Windows bitmap.

The image is a DE-9 serial connector seen from the front: the metal flange
with its two screw holes, the trapezoid shell around five pins over four, and
a short cable leaving the hood below. It is 24 x 24 pixels with a palette of
256 colours, the form the designer's palette expects.

The result is committed as src/package/TTARNSERIALPORT.bmp, so the build does
not need Python. Run this again after changing the drawing:

    tools/make_palette_bitmap.py src/package/TTARNSERIALPORT.bmp
    tools/make_palette_bitmap.py --png preview.png   # 16 times enlarged

Only the standard library is used.
"""

import argparse
import struct
import sys
import zlib

SIZE = 24

# One letter per colour. The background is the colour of the bottom-left
# pixel, which palette renderers take as the transparent colour; nothing in
# the drawing itself uses it.
COLOURS = {
    ".": (255, 255, 255),  # background
    "K": (36, 38, 46),  # outlines
    "L": (226, 229, 234),  # lit metal
    "M": (172, 176, 184),  # metal
    "D": (112, 116, 126),  # metal in shadow
    "I": (28, 44, 96),  # insulator inside the shell
    "G": (240, 196, 64),  # pin
    "g": (160, 120, 28),  # pin in shadow
    "H": (20, 20, 24),  # screw hole
    "C": (48, 48, 56),  # cable
    "c": (104, 106, 118),  # cable highlight
}

# Top row first, as a person reads it; the bitmap stores rows bottom-up.
DRAWING = [
    "........................",
    "........................",
    ".KKKKKKKKKKKKKKKKKKKKKK.",
    "KLLLLLLLLLLLLLLLLLLLLLMK",
    "KLMMKKKKKKKKKKKKKKKKMMDK",
    "KLMMKIIIIIIIIIIIIIIKMMDK",
    "KLMMKGGIGGIGGIGGIGGKMMDK",
    "KHHMKGgIGgIGgIGgIGgKMHHK",
    "KHHMKIIIIIIIIIIIIIIKMHHK",
    "KLMMMKGGIGGIIGGIGGKMMMDK",
    "KLMMMKGgIGgIIGgIGgKMMMDK",
    "KLMMMMKIIIIIIIIIIKMMMMDK",
    "KLMMMMMKKKKKKKKKKMMMMMDK",
    "KLMMMMMMMMMMMMMMMMMMMMDK",
    "KMDDDDDDDDDDDDDDDDDDDDDK",
    ".KKKKKKKKKKKKKKKKKKKKKK.",
    "........KMMMMMMK........",
    "........KDDDDDDK........",
    ".........KCccCK.........",
    ".........KCccCK.........",
    ".........KCccCK.........",
    ".........KCccCK.........",
    ".........KCccCK.........",
    ".........KCccCK.........",
]


def palette():
    """The drawing's colours first, then a colour cube and a grey ramp, so
    that the table has exactly 256 distinct entries like any 8-bit palette."""
    entries = list(dict.fromkeys(COLOURS.values()))
    levels = (0, 51, 102, 153, 204, 255)
    candidates = [(r, g, b) for r in levels for g in levels for b in levels]
    candidates += [(v, v, v) for v in range(8, 256, 8)]
    for colour in candidates:
        if len(entries) == 256:
            break
        if colour not in entries:
            entries.append(colour)
    assert len(entries) == 256
    return entries


def check_drawing():
    if len(DRAWING) != SIZE or any(len(row) != SIZE for row in DRAWING):
        sys.exit("the drawing must be %d x %d" % (SIZE, SIZE))
    unknown = {ch for row in DRAWING for ch in row} - COLOURS.keys()
    if unknown:
        sys.exit("colour letters without a colour: " + "".join(sorted(unknown)))
    if DRAWING[-1][0] != ".":
        sys.exit("the bottom-left pixel must be background")
    if list(COLOURS.values()).count(COLOURS["."]) != 1:
        sys.exit("the background colour must not be used for drawing")


def bitmap_bytes():
    colours = palette()
    index = {letter: colours.index(rgb) for letter, rgb in COLOURS.items()}
    # 24 one-byte pixels make a row of 24 bytes, already a multiple of four,
    # so the rows need no padding.
    pixels = b"".join(bytes(index[ch] for ch in row) for row in reversed(DRAWING))
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in colours)
    info = struct.pack(
        "<IiiHHIIiiII",
        40,  # biSize: BITMAPINFOHEADER
        SIZE,  # biWidth
        SIZE,  # biHeight, positive: bottom-up rows
        1,  # biPlanes
        8,  # biBitCount
        0,  # biCompression: BI_RGB
        len(pixels),  # biSizeImage
        2835,  # biXPelsPerMeter: 72 dpi
        2835,  # biYPelsPerMeter
        256,  # biClrUsed
        0,  # biClrImportant: all
    )
    offset = 14 + len(info) + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + table + pixels


def png_bytes(scale):
    """The drawing as an RGB PNG, enlarged, for looking at it."""
    raw = bytearray()
    for row in DRAWING:
        line = b"".join(bytes(COLOURS[ch]) * scale for ch in row)
        for _ in range(scale):
            raw += b"\0" + line

    def chunk(kind, data):
        crc = zlib.crc32(kind + data) & 0xFFFFFFFF
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", crc)

    size = SIZE * scale
    header = struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b""))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bmp", nargs="?", help="the bitmap file to write")
    parser.add_argument("--png", help="also write an enlarged PNG preview")
    parser.add_argument("--scale", type=int, default=16, help="enlargement of the preview")
    args = parser.parse_args()
    if not args.bmp and not args.png:
        parser.error("nothing to write")
    check_drawing()
    if args.bmp:
        with open(args.bmp, "wb") as out:
            out.write(bitmap_bytes())
    if args.png:
        with open(args.png, "wb") as out:
            out.write(png_bytes(args.scale))


if __name__ == "__main__":
    main()
