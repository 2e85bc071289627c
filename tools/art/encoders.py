"""File writers for the program's own art: GIF (LZW), ICO (4 bits per pixel),
indexed PNG, and an AVI clip with RLE8 frames.

Every writer takes an image as a list of rows of palette indices (top row first) and a
palette as a list of (r, g, b) tuples. Only the standard library is used.
"""

import struct
import zlib


# ----------------------------------------------------------------------------- GIF

def _lzw_compress(indices, min_code_size):
    """Variable-length-code LZW as GIF uses it: codes grow from min_code_size + 1 up to
    12 bits, and a clear code restarts the table when it is full."""
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    bit_buffer = 0
    bit_count = 0

    def emit(code, size):
        nonlocal bit_buffer, bit_count
        bit_buffer |= code << bit_count
        bit_count += size
        while bit_count >= 8:
            out.append(bit_buffer & 0xFF)
            bit_buffer >>= 8
            bit_count -= 8

    def fresh_table():
        return {(i,): i for i in range(clear)}

    table = fresh_table()
    next_code = end + 1
    code_size = min_code_size + 1
    emit(clear, code_size)

    current = ()
    for value in indices:
        candidate = current + (value,)
        if candidate in table:
            current = candidate
            continue
        emit(table[current], code_size)
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            # The decoder adds this entry one code later, so the width grows once
            # the newest code no longer fits in the current width.
            if next_code > (1 << code_size) and code_size < 12:
                code_size += 1
        else:
            emit(clear, code_size)
            table = fresh_table()
            next_code = end + 1
            code_size = min_code_size + 1
        current = (value,)
    if current:
        emit(table[current], code_size)
    emit(end, code_size)
    if bit_count:
        out.append(bit_buffer & 0xFF)
    return bytes(out)


def lzw_decompress(data, min_code_size):
    """The matching decoder, used to check every GIF written before it is kept."""
    clear = 1 << min_code_size
    end = clear + 1
    code_size = min_code_size + 1
    table = [(i,) for i in range(clear)] + [(), ()]
    result = []
    previous = None
    bit_buffer = 0
    bit_count = 0
    pos = 0
    while True:
        while bit_count < code_size:
            if pos >= len(data):
                return result
            bit_buffer |= data[pos] << bit_count
            pos += 1
            bit_count += 8
        code = bit_buffer & ((1 << code_size) - 1)
        bit_buffer >>= code_size
        bit_count -= code_size
        if code == clear:
            table = [(i,) for i in range(clear)] + [(), ()]
            code_size = min_code_size + 1
            previous = None
            continue
        if code == end:
            return result
        if code < len(table):
            entry = table[code]
            if previous is not None:
                table.append(previous + entry[:1])
        else:
            entry = previous + previous[:1]
            table.append(entry)
        result.extend(entry)
        previous = entry
        if len(table) == (1 << code_size) and code_size < 12:
            code_size += 1


def write_gif(path, rows, palette, transparent=None):
    height = len(rows)
    width = len(rows[0])
    bits = max(1, (len(palette) - 1).bit_length())
    table_size = 1 << bits
    colours = list(palette) + [(0, 0, 0)] * (table_size - len(palette))

    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", width, height, 0x80 | ((bits - 1) << 4) | (bits - 1), 0, 0)
    for r, g, b in colours:
        out += bytes((r, g, b))
    if transparent is not None:
        out += bytes((0x21, 0xF9, 4, 0x01, 0, 0, transparent, 0))
    out += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)

    min_code_size = max(2, bits)
    flat = [v for row in rows for v in row]
    data = _lzw_compress(flat, min_code_size)
    if lzw_decompress(data, min_code_size) != flat:
        raise AssertionError(f"GIF round trip failed for {path}")
    out.append(min_code_size)
    for start in range(0, len(data), 255):
        block = data[start:start + 255]
        out.append(len(block))
        out += block
    out += b"\x00\x3b"
    with open(path, "wb") as f:
        f.write(out)


# ----------------------------------------------------------------------------- ICO

def _bmp_rows_4bpp(rows):
    data = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for x in range(0, len(row), 2):
            hi = row[x]
            lo = row[x + 1] if x + 1 < len(row) else 0
            line.append((hi << 4) | lo)
        while len(line) % 4:
            line.append(0)
        data += line
    return bytes(data)


def _bmp_mask_rows(mask_rows):
    data = bytearray()
    for row in reversed(mask_rows):
        line = bytearray()
        for x in range(0, len(row), 8):
            byte = 0
            for bit in range(8):
                if x + bit < len(row) and row[x + bit]:
                    byte |= 0x80 >> bit
            line.append(byte)
        while len(line) % 4:
            line.append(0)
        data += line
    return bytes(data)


def write_ico(path, images, palette):
    """images: list of (rows, mask_rows); mask 1 = transparent. 16-colour images only."""
    assert len(palette) == 16
    blobs = []
    for rows, mask in images:
        h = len(rows)
        w = len(rows[0])
        xor = _bmp_rows_4bpp(rows)
        andmask = _bmp_mask_rows(mask)
        header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 4, 0, len(xor) + len(andmask), 0, 0, 16, 0)
        pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
        blobs.append((w, h, header + pal + xor + andmask))
    out = bytearray(struct.pack("<HHH", 0, 1, len(blobs)))
    offset = 6 + 16 * len(blobs)
    for w, h, blob in blobs:
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    for _, _, blob in blobs:
        out += blob
    with open(path, "wb") as f:
        f.write(out)


# ----------------------------------------------------------------------------- PNG

def _png_chunk(kind, payload):
    body = kind + payload
    return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png_indexed(path, rows, palette, transparent=None):
    h = len(rows)
    w = len(rows[0])
    raw = b"".join(b"\x00" + bytes(row) for row in rows)
    out = b"\x89PNG\r\n\x1a\n"
    out += _png_chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 3, 0, 0, 0))
    out += _png_chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    if transparent is not None:
        alpha = bytes(0 if i == transparent else 255 for i in range(len(palette)))
        out += _png_chunk(b"tRNS", alpha)
    out += _png_chunk(b"IDAT", zlib.compress(raw, 9))
    out += _png_chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(out)


def write_png_rgba(path, pixels):
    """pixels: rows of (r, g, b, a). Used for previews."""
    h = len(pixels)
    w = len(pixels[0])
    raw = b"".join(b"\x00" + b"".join(bytes(p) for p in row) for row in pixels)
    out = b"\x89PNG\r\n\x1a\n"
    out += _png_chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
    out += _png_chunk(b"IDAT", zlib.compress(raw, 9))
    out += _png_chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(out)


# ----------------------------------------------------------------------------- RLE8

def rle8_encode(rows):
    """Encodes one 8-bit frame (top row first) as a bottom-up RLE8 stream: runs of two
    or more equal pixels as encoded runs, everything else as absolute runs of three or
    more, end-of-line after every line and end-of-bitmap at the end."""
    out = bytearray()
    for row in reversed(rows):
        x = 0
        n = len(row)
        literal = []

        def flush_literal():
            start = 0
            while start < len(literal):
                chunk = literal[start:start + 255]
                start += len(chunk)
                if len(chunk) < 3:
                    for v in chunk:
                        out.extend((1, v))
                else:
                    out.extend((0, len(chunk)))
                    out.extend(chunk)
                    if len(chunk) % 2:
                        out.append(0)
            literal.clear()

        while x < n:
            run = 1
            while x + run < n and row[x + run] == row[x] and run < 255:
                run += 1
            if run >= 2:
                flush_literal()
                out.extend((run, row[x]))
            else:
                literal.append(row[x])
            x += run
        flush_literal()
        out.extend((0, 0))
    out[-2:] = b"\x00\x01"
    return bytes(out)


def rle8_decode(data, width, height):
    """Reference decoder for checking the encoder (bottom-up, top row first on return)."""
    image = [[0] * width for _ in range(height)]
    x = y = 0
    i = 0
    while i + 1 < len(data):
        count, value = data[i], data[i + 1]
        i += 2
        if count:
            for _ in range(count):
                if x < width and y < height:
                    image[y][x] = value
                x += 1
        elif value == 0:
            x, y = 0, y + 1
        elif value == 1:
            break
        elif value == 2:
            x += data[i]
            y += data[i + 1]
            i += 2
        else:
            for k in range(value):
                if x < width and y < height:
                    image[y][x] = data[i + k]
                x += 1
            i += value + (value % 2)
    return list(reversed(image))


# ----------------------------------------------------------------------------- AVI

def _chunk(fourcc, payload):
    data = fourcc + struct.pack("<I", len(payload)) + payload
    if len(payload) % 2:
        data += b"\x00"
    return data


def _list(kind, payload):
    return b"LIST" + struct.pack("<I", len(payload) + 4) + kind + payload


def write_avi_rle8(path, frames, palette, width, height, usec_per_frame, rate, scale):
    """One video stream of RLE8 frames, every frame a key frame, with an idx1 index."""
    encoded = []
    for rows in frames:
        data = rle8_encode(rows)
        if rle8_decode(data, width, height) != rows:
            raise AssertionError("RLE8 round trip failed")
        encoded.append(data)
    biggest = max(len(e) for e in encoded)
    count = len(frames)
    colours = len(palette)

    avih = struct.pack("<IIIIIIIIII4I",
                       usec_per_frame,
                       biggest * rate // scale + 1,  # max bytes per second
                       0,                            # padding granularity
                       0x10,                         # has an index
                       count, 0, 1, biggest, width, height, 0, 0, 0, 0)
    strh = (b"vids" + b"mrle" +
            struct.pack("<IHHIIIIIIiI", 0, 0, 0, 0, scale, rate, 0, count, biggest, -1, 0) +
            struct.pack("<hhhh", 0, 0, width, height))
    bih = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 1, 0, 0, 0, colours, colours)
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    strl = _list(b"strl", _chunk(b"strh", strh) + _chunk(b"strf", bih + pal))
    hdrl = _list(b"hdrl", _chunk(b"avih", avih) + strl)

    movi_body = bytearray()
    index = bytearray()
    for data in encoded:
        # Offsets in the index count from the "movi" list type.
        offset = 4 + len(movi_body)
        movi_body += _chunk(b"00dc", data)
        index += b"00dc" + struct.pack("<III", 0x10, offset, len(data))
    movi = _list(b"movi", bytes(movi_body))
    body = b"AVI " + hdrl + movi + _chunk(b"idx1", bytes(index))
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)
    return len(body) + 8
