#!/usr/bin/env python3
"""Writes the sample pictures beside this script: two that fit ci_configuration.json and one
too small for it. Plain grey images, built byte by byte so no image tool is needed."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def png(width, height):
    """8-bit greyscale, a horizontal ramp; every row after the first is filtered as 'Up' (zeros)."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    ramp = bytes(x * 255 // max(width - 1, 1) for x in range(width))
    rows = b"\x00" + ramp + (b"\x02" + bytes(width)) * (height - 1)
    header = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9))
            + chunk(b"IEND", b""))


def jpeg(width, height):
    """Baseline greyscale JFIF of mid-grey blocks: one-code Huffman tables, each 8x8 block coded
    as DC difference 0 ('0') followed by end-of-block ('0')."""
    def segment(marker, data):
        return bytes([0xFF, marker]) + struct.pack(">H", len(data) + 2) + data
    jfif = segment(0xE0, b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00")
    quantisation = segment(0xDB, b"\x00" + bytes([1] * 64))
    frame = segment(0xC0, struct.pack(">BHHB", 8, height, width, 1) + b"\x01\x11\x00")
    one_code = bytes([1] + [0] * 15) + b"\x00"
    dc_table = segment(0xC4, b"\x00" + one_code)
    ac_table = segment(0xC4, b"\x10" + one_code)
    scan = segment(0xDA, b"\x01\x01\x00\x00\x3f\x00")
    blocks = ((width + 7) // 8) * ((height + 7) // 8)
    bits = 2 * blocks
    data = bytearray(bits // 8)
    if bits % 8:
        data.append(0xFF >> (bits % 8))  # pad the last byte with one bits
    return (b"\xff\xd8" + jfif + quantisation + frame + dc_table + ac_table + scan + bytes(data)
            + b"\xff\xd9")


def main():
    pictures = {
        "landscape.png": png(640, 480),
        "portrait.jpg": jpeg(480, 640),
        "icon.png": png(32, 32),
    }
    for name, content in pictures.items():
        with open(os.path.join(HERE, name), "wb") as out:
            out.write(content)


if __name__ == "__main__":
    main()
