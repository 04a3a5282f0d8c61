"""Small pictures and movies of our own, written byte by byte with the standard library.

Every picture is a pattern of coloured squares computed from a seed, so the same name and
variant always give the same bytes and a new variant (a published build) gives other bytes.
"""

import hashlib
import struct
import zlib


def palette_for(seed, count):
    """Returns `count` RGB colours derived from the seed text."""
    digest = hashlib.sha256(seed.encode("utf-8")).digest()
    while len(digest) < count * 3:
        digest += hashlib.sha256(digest).digest()
    return [tuple(digest[i * 3:i * 3 + 3]) for i in range(count)]


def checker(width, height, cell, colours):
    """Rows of palette indices: squares of `cell` pixels cycling through the colours."""
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            row.append(((x // cell) + 2 * (y // cell)) % len(colours))
        rows.append(row)
    return rows


# --- GIF ------------------------------------------------------------------------------------

def _lzw_codes(indices, min_code_size):
    """GIF variable-length LZW: yields (code, width) pairs."""
    clear = 1 << min_code_size
    end = clear + 1
    width = min_code_size + 1
    table = {bytes([i]): i for i in range(clear)}
    next_code = end + 1
    yield clear, width
    current = b""
    for index in indices:
        extended = current + bytes([index])
        if extended in table:
            current = extended
            continue
        yield table[current], width
        if next_code < 4096:
            table[extended] = next_code
            next_code += 1
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            yield clear, width
            table = {bytes([i]): i for i in range(clear)}
            next_code = end + 1
            width = min_code_size + 1
        current = bytes([index])
    if current:
        yield table[current], width
    yield end, width


def _pack_lsb_first(codes):
    out = bytearray()
    buffer = 0
    bits = 0
    for code, width in codes:
        buffer |= code << bits
        bits += width
        while bits >= 8:
            out.append(buffer & 0xFF)
            buffer >>= 8
            bits -= 8
    if bits:
        out.append(buffer & 0xFF)
    return bytes(out)


def gif(width, height, colours, rows):
    """An 89a GIF with a global colour table of 2..256 entries."""
    depth = 1
    while (1 << depth) < len(colours):
        depth += 1
    table = list(colours) + [(0, 0, 0)] * ((1 << depth) - len(colours))
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", width, height, 0x80 | 0x70 | (depth - 1), 0, 0)
    for rgb in table:
        out += bytes(rgb)
    out += struct.pack("<BHHHHB", 0x2C, 0, 0, width, height, 0)
    min_code_size = max(2, depth)
    data = _pack_lsb_first(_lzw_codes([i for row in rows for i in row], min_code_size))
    out.append(min_code_size)
    for start in range(0, len(data), 255):
        block = data[start:start + 255]
        out.append(len(block))
        out += block
    out += b"\x00\x3B"
    return bytes(out)


# --- PNG ------------------------------------------------------------------------------------

def _png_chunk(kind, payload):
    return (struct.pack(">I", len(payload)) + kind + payload +
            struct.pack(">I", zlib.crc32(kind + payload) & 0xFFFFFFFF))


def png(width, height, colours, rows):
    """An 8-bit RGB PNG without filtering."""
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for index in row:
            raw += bytes(colours[index])
    return (b"\x89PNG\r\n\x1a\n" +
            _png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            _png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
            _png_chunk(b"IEND", b""))


# --- JPEG -----------------------------------------------------------------------------------
# Baseline JPEG whose 8x8 blocks are each one flat colour: every block carries only its DC
# coefficient, so the entropy coder needs twelve DC categories and the end-of-block symbol.

def _bit_length(value):
    return abs(value).bit_length()


class _BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.buffer = 0
        self.bits = 0

    def write(self, value, width):
        for shift in range(width - 1, -1, -1):
            self.buffer = (self.buffer << 1) | ((value >> shift) & 1)
            self.bits += 1
            if self.bits == 8:
                self._emit()

    def _emit(self):
        self.out.append(self.buffer)
        if self.buffer == 0xFF:
            self.out.append(0x00)  # byte stuffing
        self.buffer = 0
        self.bits = 0

    def flush(self):
        while self.bits:
            self.write(1, 1)
        return bytes(self.out)


def _ycbcr(rgb):
    r, g, b = rgb
    y = 0.299 * r + 0.587 * g + 0.114 * b
    cb = 128 - 0.168736 * r - 0.331264 * g + 0.5 * b
    cr = 128 + 0.5 * r - 0.418688 * g - 0.081312 * b
    return [min(255, max(0, round(v))) for v in (y, cb, cr)]


def jpeg(width, height, colours, block_colour):
    """A JPEG of `width` x `height` (multiples of 8); block_colour(bx, by) picks a colour."""
    assert width % 8 == 0 and height % 8 == 0
    out = bytearray(b"\xFF\xD8")
    out += b"\xFF\xE0" + struct.pack(">H5sBBBHHBB", 16, b"JFIF\0", 1, 1, 0, 1, 1, 0, 0)
    out += b"\xFF\xDB" + struct.pack(">HB", 67, 0) + bytes([1] * 64)
    out += b"\xFF\xC0" + struct.pack(">HBHHB", 17, 8, height, width, 3)
    for component in (1, 2, 3):
        out += bytes([component, 0x11, 0])
    # DC table 0: categories 0..11, all four bits long; AC table 0: end-of-block only.
    out += b"\xFF\xC4" + struct.pack(">HB", 3 + 16 + 12, 0x00)
    out += bytes([0, 0, 0, 12] + [0] * 12) + bytes(range(12))
    out += b"\xFF\xC4" + struct.pack(">HB", 3 + 16 + 1, 0x10)
    out += bytes([1] + [0] * 15) + bytes([0x00])
    out += b"\xFF\xDA" + struct.pack(">HB", 12, 3)
    for component in (1, 2, 3):
        out += bytes([component, 0x00])
    out += bytes([0, 63, 0])
    writer = _BitWriter()
    previous = [0, 0, 0]
    for by in range(height // 8):
        for bx in range(width // 8):
            levels = _ycbcr(colours[block_colour(bx, by)])
            for c in range(3):
                dc = 8 * (levels[c] - 128)
                diff = dc - previous[c]
                previous[c] = dc
                size = _bit_length(diff)
                writer.write(size, 4)
                if size:
                    writer.write(diff if diff > 0 else diff + (1 << size) - 1, size)
                writer.write(0, 1)  # end of block
    out += writer.flush()
    out += b"\xFF\xD9"
    return bytes(out)


# --- SWF ------------------------------------------------------------------------------------

def swf(width, height, rgb):
    """An uncompressed one-frame Flash movie that only paints its background."""
    bits = max(v.bit_length() for v in (width * 20, height * 20)) + 1
    fields = [0, width * 20, 0, height * 20]
    value = bits
    total = 5
    for field in fields:
        value = (value << bits) | field
        total += bits
    pad = (-total) % 8
    rect = (value << pad).to_bytes((total + pad) // 8, "big")
    body = rect + struct.pack("<HH", 12 << 8, 1)
    body += struct.pack("<H", (9 << 6) | 3) + bytes(rgb)  # SetBackgroundColor
    body += struct.pack("<H", 1 << 6)  # ShowFrame
    body += struct.pack("<H", 0)  # End
    return b"FWS" + bytes([6]) + struct.pack("<I", 8 + len(body)) + body


# --- by file name ---------------------------------------------------------------------------

# Picture sizes by the folder a file lies in; other folders get 32 x 32.
_SIZES = {
    "images/scenes": (64, 48),
    "images/icons": (16, 16),
    "images/ui": (96, 24),
    "info/images": (120, 40),
    "info/img": (64, 32),
}


def _size_for(name):
    folder = name.rsplit("/", 1)[0]
    return _SIZES.get(folder, (32, 32))


def render(name, variant):
    """The bytes of site file `name` ("/" separated) in its `variant`-th edition."""
    lower = name.lower()
    seed = "%s#%d" % (lower, variant)
    width, height = _size_for(lower)
    if lower.endswith(".gif"):
        colours = palette_for(seed, 4)
        return gif(width, height, colours, checker(width, height, 4, colours))
    if lower.endswith(".png"):
        colours = palette_for(seed, 3)
        return png(width, height, colours, checker(width, height, 8, colours))
    if lower.endswith(".jpg") or lower.endswith(".jpeg"):
        colours = palette_for(seed, 5)
        return jpeg(width, height, colours, lambda bx, by: (bx + 3 * by) % len(colours))
    if lower.endswith(".swf"):
        return swf(550, 400, palette_for(seed, 1)[0])
    text = "Велмара: %s, выпуск %d.\r\n" % (name, variant)
    return text.encode("cp1251")
