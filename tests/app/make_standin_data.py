#!/usr/bin/env python3
"""Writes small stand-in data files (data/*.tga, data/*.txt) into a directory,
so that the real binary can run where it carries no data archive."""
import os
import struct
import sys


def tga(path, width, height, rgba):
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, width, height, 32, 8)
    with open(path, "wb") as f:
        f.write(header)
        f.write(bytes(rgba) * (width * height))


def main(out):
    data = os.path.join(out, "data")
    os.makedirs(data, exist_ok=True)
    tga(os.path.join(data, "koala.tga"), 256, 512, (120, 120, 130, 255))
    tga(os.path.join(data, "roobeer.tga"), 256, 512, (160, 100, 50, 255))
    tga(os.path.join(data, "sunbbqbeach.tga"), 256, 512, (90, 170, 230, 255))
    tga(os.path.join(data, "scrollfont.tga"), 368, 168, (255, 255, 255, 255))
    with open(os.path.join(data, "topscroller.txt"), "wb") as f:
        f.write(b" " * 68 + b"HELLO FROM THE BEACH")
    with open(os.path.join(data, "botscroller.txt"), "wb") as f:
        f.write((b" " * 68 + b"LINE ONE\r\n") + (b" " * 68 + b"LINE TWO\r\n"))


if __name__ == "__main__":
    main(sys.argv[1])
