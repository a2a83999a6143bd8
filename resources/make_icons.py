#!/usr/bin/env python3
"""Draws the tool's .ico files from the text pixel maps in resources/icons.

Usage: python3 make_icons.py [--png SIZE] OUTDIR MAP...

With --png, each map is written as SIZE x SIZE PNG instead, for the README's
icon legend.

A map is plain text:

    # comment
    size 16x16
    bpp 8
    colour . transparent
    colour k 3c3c3c
    rows
    ....kkkk....
    ...

Every image is palette-based (4 or 8 bits per pixel) with its AND mask. A
16 x 16 map (the tray pictures) is also drawn at 20, 24, 32, 40 and 48 pixels
by nearest neighbour, without blending, so that the tray stays sharp from 125 to
300 percent scaling; the tool picks the size from the taskbar's scaling. Larger
maps give one image.
"""

import os
import struct
import sys
import zlib


class MapError(Exception):
    pass


def parse_map(text, name):
    width = height = bpp = None
    colours = {}  # char -> (r, g, b) or None for transparent
    rows = None
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.rstrip()
        where = "%s:%d" % (name, number)
        if rows is not None:
            if not line or line.startswith("#"):
                continue
            rows.append((where, line))
            continue
        if not line or line.startswith("#"):
            continue
        words = line.split()
        if words[0] == "size" and len(words) == 2:
            parts = words[1].lower().split("x")
            if len(parts) != 2 or not all(p.isdigit() for p in parts):
                raise MapError("%s: size must read WxH" % where)
            width, height = int(parts[0]), int(parts[1])
            if not (1 <= width <= 256 and 1 <= height <= 256):
                raise MapError("%s: size out of range" % where)
        elif words[0] == "bpp" and len(words) == 2:
            if words[1] not in ("4", "8"):
                raise MapError("%s: bpp must be 4 or 8" % where)
            bpp = int(words[1])
        elif words[0] == "colour" and len(words) == 3 and len(words[1]) == 1:
            char, value = words[1], words[2].lower()
            if char in colours:
                raise MapError("%s: colour %r given twice" % (where, char))
            if value == "transparent":
                colours[char] = None
            elif len(value) == 6 and all(c in "0123456789abcdef" for c in value):
                colours[char] = (int(value[0:2], 16), int(value[2:4], 16), int(value[4:6], 16))
            else:
                raise MapError("%s: colour must be RRGGBB or transparent" % where)
        elif words[0] == "rows" and len(words) == 1:
            rows = []
        else:
            raise MapError("%s: cannot read %r" % (where, line))
    if width is None or bpp is None or rows is None:
        raise MapError("%s: needs size, bpp and rows" % name)
    if len(rows) != height:
        raise MapError("%s: %d rows, expected %d" % (name, len(rows), height))
    pixels = []
    for where, row in rows:
        if len(row) != width:
            raise MapError("%s: row is %d wide, expected %d" % (where, len(row), width))
        for char in row:
            if char not in colours:
                raise MapError("%s: colour %r is not declared" % (where, char))
        pixels.append(row)
    solid = sorted({c for row in pixels for c in row if colours[c] is not None})
    # Index 0 stays black: transparent pixels use it, so the XOR pass leaves the
    # screen untouched where the AND mask keeps it.
    if len(solid) + 1 > (1 << bpp):
        raise MapError("%s: %d colours do not fit in %d bits" % (name, len(solid), bpp))
    return width, height, bpp, colours, solid, pixels


def row_stride(width, bits):
    return ((width * bits + 31) // 32) * 4


TRAY_SIZES = (16, 20, 24, 32, 40, 48)  # as kTrayPictureSizes in monitor/tray_icon.h


def scaled(pixels, width, height, size):
    """The map drawn at size x size by nearest neighbour: every pixel stays one colour."""
    return ["".join(pixels[y * height // size][x * width // size] for x in range(size)) for y in range(size)]


def encode_image(width, height, bpp, colours, solid, pixels):
    palette = [(0, 0, 0)] + [colours[c] for c in solid]
    palette += [(0, 0, 0)] * ((1 << bpp) - len(palette))
    index = {c: i + 1 for i, c in enumerate(solid)}

    xor_stride = row_stride(width, bpp)
    and_stride = row_stride(width, 1)
    xor_data = bytearray()
    and_data = bytearray()
    for row in reversed(pixels):  # DIB rows run bottom-up
        xor_row = bytearray(xor_stride)
        and_row = bytearray(and_stride)
        for x, char in enumerate(row):
            if colours[char] is None:
                value = 0
                and_row[x // 8] |= 0x80 >> (x % 8)
            else:
                value = index[char]
            if bpp == 8:
                xor_row[x] = value
            else:
                xor_row[x // 2] |= value << (4 if x % 2 == 0 else 0)
        xor_data += xor_row
        and_data += and_row

    header = struct.pack(
        "<IiiHHIIiiII", 40, width, height * 2, 1, bpp, 0, len(xor_data) + len(and_data), 0, 0, 0, 0
    )
    return header + b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette) + xor_data + and_data


def encode_ico(width, height, bpp, colours, solid, pixels):
    if (width, height) == (16, 16):
        images = [(size, encode_image(size, size, bpp, colours, solid, scaled(pixels, width, height, size)))
                  for size in TRAY_SIZES]
    else:
        images = [(width, encode_image(width, height, bpp, colours, solid, pixels))]
    directory = struct.pack("<HHH", 0, 1, len(images))
    entries = b""
    offset = len(directory) + 16 * len(images)
    for size, image in images:
        h = size if len(images) > 1 else height
        entries += struct.pack("<BBBBHHII", size % 256, h % 256, (1 << bpp) if bpp < 8 else 0, 0, 1, bpp,
                               len(image), offset)
        offset += len(image)
    return directory + entries + b"".join(image for _, image in images)


def encode_png(width, height, bpp, colours, solid, pixels, size):
    """The map as an RGBA PNG of size x size, nearest neighbour like the tray sizes."""
    rows = b""
    for row in scaled(pixels, width, height, size):
        rows += b"\0" + b"".join(bytes(colours[c]) + b"\xff" if colours[c] else b"\0\0\0\0" for c in row)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")


def main(argv):
    png_size = 0
    if len(argv) > 2 and argv[1] == "--png":
        if not argv[2].isdigit() or not 1 <= int(argv[2]) <= 1024:
            sys.stderr.write("make_icons: --png needs a size of 1 to 1024\n")
            return 2
        png_size = int(argv[2])
        argv = argv[:1] + argv[3:]
    if len(argv) < 3:
        sys.stderr.write("usage: make_icons.py [--png SIZE] OUTDIR MAP...\n")
        return 2
    out_dir = argv[1]
    os.makedirs(out_dir, exist_ok=True)
    for map_path in argv[2:]:
        name = os.path.splitext(os.path.basename(map_path))[0]
        try:
            with open(map_path, encoding="utf-8") as handle:
                parsed = parse_map(handle.read(), map_path)
        except (OSError, UnicodeDecodeError, MapError) as error:
            sys.stderr.write("make_icons: %s\n" % error)
            return 1
        if png_size:
            data = encode_png(*parsed, png_size)
            target = os.path.join(out_dir, name + ".png")
        else:
            data = encode_ico(*parsed)
            target = os.path.join(out_dir, name + ".ico")
        # Write beside the target first so a failed run never leaves half an icon.
        temporary = target + ".tmp"
        with open(temporary, "wb") as handle:
            handle.write(data)
        os.replace(temporary, target)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
