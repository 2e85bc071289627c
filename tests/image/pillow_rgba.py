#!/usr/bin/python3
"""Pillow's reading of pictures, for the tests that hold ours against an independent decoder.

Usage: pillow_rgba.py FILE...

For every file, in order, writes to standard output a record of: width and height (32 bits
each, little-endian), one byte that is 1 when the picture has an alpha channel of its own
(Pillow's mode RGBA, LA, PA or a palette with transparency) and 0 when Pillow reads it as
opaque, then width x height x 4 bytes of 8-bit RGBA, rows from the top. A file Pillow
cannot read gives width and height 0, no more bytes, and its reason on standard error.
Exit status 0 when every file was read, 1 otherwise.
"""
import struct
import sys

from PIL import Image


def main():
    status = 0
    out = sys.stdout.buffer
    for name in sys.argv[1:]:
        try:
            with Image.open(name) as picture:
                picture.load()
                alpha = picture.mode in ("RGBA", "LA", "PA") or "transparency" in picture.info
                rgba = picture.convert("RGBA")
                out.write(struct.pack("<IIB", rgba.width, rgba.height, 1 if alpha else 0))
                out.write(rgba.tobytes())
        except Exception as error:  # every reason Pillow has is a refusal of this file
            print(f"{name}: {error}", file=sys.stderr)
            out.write(struct.pack("<IIB", 0, 0, 0))
            status = 1
    out.flush()
    return status


if __name__ == "__main__":
    sys.exit(main())
