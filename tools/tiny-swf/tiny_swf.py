#!/usr/bin/env python3
"""Writes a tiny Flash movie byte by byte: one frame, a background colour and one rectangle.

The client's Flash tests and the demo site's game movie use it: a player that shows the movie
paints the background colour over the whole movie area and the rectangle's colour inside it,
so one screenshot pixel of each tells whether the movie really played.

    python3 tools/tiny-swf/tiny_swf.py OUT.swf [--size 550x400] [--background 1E90C8]
            [--shape-colour D0342C] [--shape 100,80,300,200]

Sizes and the rectangle (left, top, width, height) are in pixels; colours are RRGGBB.
"""

import argparse
import struct
import sys

TWIPS = 20  # SWF lengths are in twentieths of a pixel

# Defaults shared with the tests: a blue background and a red rectangle.
DEFAULT_SIZE = (550, 400)
DEFAULT_BACKGROUND = (0x1E, 0x90, 0xC8)
DEFAULT_SHAPE = (100, 80, 300, 200)
DEFAULT_SHAPE_COLOUR = (0xD0, 0x34, 0x2C)

TAG_END = 0
TAG_SHOW_FRAME = 1
TAG_DEFINE_SHAPE = 2
TAG_SET_BACKGROUND_COLOR = 9
TAG_PLACE_OBJECT2 = 26


class BitWriter:
    """SWF bit fields: most significant bit first, padded to a whole byte by flush()."""

    def __init__(self):
        self.value = 0
        self.count = 0

    def unsigned(self, value, bits):
        if value < 0 or value >= 1 << bits:
            raise ValueError("%d does not fit in %d unsigned bits" % (value, bits))
        self.value = (self.value << bits) | value
        self.count += bits

    def signed(self, value, bits):
        if not -(1 << (bits - 1)) <= value < 1 << (bits - 1):
            raise ValueError("%d does not fit in %d signed bits" % (value, bits))
        self.unsigned(value & ((1 << bits) - 1), bits)

    def flush(self):
        pad = (-self.count) % 8
        data = (self.value << pad).to_bytes((self.count + pad) // 8, "big")
        self.value = 0
        self.count = 0
        return data


def signed_bits(*values):
    """The fewest bits that hold every value as a signed field."""
    return max(max(v, -v - 1).bit_length() for v in values) + 1


def rect(xmin, xmax, ymin, ymax):
    bits = signed_bits(xmin, xmax, ymin, ymax)
    writer = BitWriter()
    writer.unsigned(bits, 5)
    for value in (xmin, xmax, ymin, ymax):
        writer.signed(value, bits)
    return writer.flush()


def tag(code, body=b""):
    if len(body) < 0x3F:
        return struct.pack("<H", (code << 6) | len(body)) + body
    return struct.pack("<HI", (code << 6) | 0x3F, len(body)) + body


def define_shape(shape_id, left, top, width, height, colour):
    """A rectangle filled with one solid colour, drawn as four straight edges."""
    x0, y0, w, h = (v * TWIPS for v in (left, top, width, height))
    body = struct.pack("<H", shape_id) + rect(x0, x0 + w, y0, y0 + h)
    body += bytes([1, 0x00]) + bytes(colour)  # one solid fill style
    body += bytes([0])  # no line styles
    body += bytes([(1 << 4) | 0])  # 1 fill style bit, 0 line style bits
    writer = BitWriter()
    # Style change: move to the top left corner and pick fill style 1.
    writer.unsigned(0, 1)  # not an edge
    writer.unsigned(0b00101, 5)  # new styles, line style, fill 1, fill 0, move to
    move_bits = signed_bits(x0, y0)
    writer.unsigned(move_bits, 5)
    writer.signed(x0, move_bits)
    writer.signed(y0, move_bits)
    writer.unsigned(1, 1)  # fill style 1
    # Clockwise on the screen: right, down, left, up.
    for vertical, delta in ((False, w), (True, h), (False, -w), (True, -h)):
        bits = max(signed_bits(delta), 2)
        writer.unsigned(1, 1)  # edge
        writer.unsigned(1, 1)  # straight
        writer.unsigned(bits - 2, 4)
        writer.unsigned(0, 1)  # not a general line
        writer.unsigned(1 if vertical else 0, 1)
        writer.signed(delta, bits)
    writer.unsigned(0, 6)  # end of shape
    body += writer.flush()
    return tag(TAG_DEFINE_SHAPE, body)


def place_object(character_id, depth):
    # Has character and matrix; the matrix is the identity (no scale, no rotation, no move).
    return tag(TAG_PLACE_OBJECT2, struct.pack("<BHH", 0x06, depth, character_id) + b"\x00")


def tiny_swf(size=DEFAULT_SIZE, background=DEFAULT_BACKGROUND, shape=DEFAULT_SHAPE,
             shape_colour=DEFAULT_SHAPE_COLOUR, version=6):
    """The bytes of an uncompressed ("FWS") one-frame movie."""
    width, height = size
    body = rect(0, width * TWIPS, 0, height * TWIPS)
    body += struct.pack("<HH", 12 << 8, 1)  # 12 frames per second, one frame
    body += tag(TAG_SET_BACKGROUND_COLOR, bytes(background))
    body += define_shape(1, *shape, shape_colour)
    body += place_object(1, 1)
    body += tag(TAG_SHOW_FRAME)
    body += tag(TAG_END)
    return b"FWS" + bytes([version]) + struct.pack("<I", 8 + len(body)) + body


def _colour(text):
    value = int(text, 16)
    if len(text) != 6 or value < 0:
        raise argparse.ArgumentTypeError("a colour is six hexadecimal digits: RRGGBB")
    return ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF)


def _numbers(separator, count):
    def parse(text):
        parts = text.split(separator)
        if len(parts) != count or not all(p.isdigit() for p in parts):
            raise argparse.ArgumentTypeError("expected %d numbers separated by %r" %
                                             (count, separator))
        return tuple(int(p) for p in parts)
    return parse


def main(argv):
    parser = argparse.ArgumentParser(description="Write a tiny one-frame Flash movie.")
    parser.add_argument("output")
    parser.add_argument("--size", type=_numbers("x", 2), default=DEFAULT_SIZE)
    parser.add_argument("--background", type=_colour, default=DEFAULT_BACKGROUND)
    parser.add_argument("--shape", type=_numbers(",", 4), default=DEFAULT_SHAPE)
    parser.add_argument("--shape-colour", type=_colour, default=DEFAULT_SHAPE_COLOUR)
    args = parser.parse_args(argv)
    data = tiny_swf(args.size, args.background, args.shape, args.shape_colour)
    with open(args.output, "wb") as out:
        out.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
