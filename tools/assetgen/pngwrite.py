"""Minimal PNG writer: 8-bit RGB or RGBA, no filtering, zlib level 9.

The output depends only on the pixel bytes (no timestamps, no text chunks), so the same
image always gives the same file.
"""

import struct
import zlib


def _chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png(path, width, height, channels, pixels):
    """pixels: bytes or bytearray of height rows of width * channels bytes, first row on top."""
    if channels not in (3, 4):
        raise ValueError("channels must be 3 or 4")
    stride = width * channels
    if len(pixels) != stride * height:
        raise ValueError("pixel buffer has the wrong size")
    raw = bytearray()
    for row in range(height):
        raw.append(0)  # filter type None
        raw += pixels[row * stride:(row + 1) * stride]
    colour_type = 2 if channels == 3 else 6
    header = struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0)
    data = b"\x89PNG\r\n\x1a\n"
    data += _chunk(b"IHDR", header)
    data += _chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    data += _chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(data)
