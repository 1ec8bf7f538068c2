#!/usr/bin/env python3
"""Cuts an area out of a screen dump (xwd, 24 or 32 bits a pixel, true colour)
and writes it as a PNG; fails if the area is nearly one colour, as an editor
that drew nothing would be.

    xwd_to_png.py SCREEN.xwd OUT.png X Y WIDTH HEIGHT
"""
import struct
import sys
import zlib


def main():
    source, out = sys.argv[1], sys.argv[2]
    x, y, width, height = map(int, sys.argv[3:7])
    with open(source, "rb") as f:
        data = f.read()
    header = struct.unpack_from(">25I", data, 0)
    header_size, byte_order, bits_per_pixel, bytes_per_line = header[0], header[7], header[11], header[12]
    masks, colours = header[14:17], header[19]
    screen_width, screen_height = header[4], header[5]
    if bits_per_pixel not in (24, 32):
        raise SystemExit(f"xwd_to_png: {bits_per_pixel} bits a pixel are not handled")
    pixels = header_size + 12 * colours
    step = bits_per_pixel // 8
    endian = "little" if byte_order == 0 else "big"
    shifts = [(m & -m).bit_length() - 1 for m in masks]

    rows, seen = [], set()
    for row in range(y, min(y + height, screen_height)):
        line = bytearray([0])  # no filter
        start = pixels + row * bytes_per_line
        for column in range(x, min(x + width, screen_width)):
            at = start + column * step
            value = int.from_bytes(data[at:at + step], endian)
            rgb = bytes((value & m) >> s for m, s in zip(masks, shifts))
            line += rgb
            seen.add(rgb)
        rows.append(bytes(line))
    width = min(width, screen_width - x)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, len(rows), 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
    with open(out, "wb") as f:
        f.write(png)
    print(f"wrote {out}: {width} x {len(rows)} pixels, {len(seen)} colours")
    if len(seen) < 64:
        raise SystemExit("xwd_to_png: the area is nearly one colour: the editor drew nothing")


if __name__ == "__main__":
    main()
