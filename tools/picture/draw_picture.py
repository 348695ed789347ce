#!/usr/bin/env python3
"""Draws the setup window's character and its icon, and encodes them.

Writes resources/picture.lznt1 (the picture the program embeds: a 156 x 187,
16-colour BI_RLE4 bitmap without its file header, LZNT1-compressed behind its
unpacked size as a 4-byte little-endian number; the program unpacks it with
the platform's RtlDecompressBuffer) and resources/setup.ico (32 x 32, 16
colours). The outputs are committed, so the build never runs this; run it
again after changing the drawing:

    python3 tools/picture/draw_picture.py [output folder] [colours]

colours: "default", or "teal" (the second example brand's, into branding/example).
"""
import math
import os
import struct
import sys

# Colour table. Entry 1 is the key colour: the window paints it in its own
# button-face colour, so the character stands straight on the dialog.
PALETTE = [
    (0, 0, 0),        # 0 outline
    (0, 128, 128),    # 1 key colour (background)
    (255, 255, 255),  # 2 white
    (236, 140, 52),   # 3 fur
    (176, 92, 28),    # 4 dark fur
    (255, 223, 170),  # 5 belly
    (0, 0, 128),      # 6 eye
    (250, 204, 48),   # 7 beak and feet
    (240, 150, 150),  # 8 cheeks
    (96, 160, 64),    # 9 grass
    (60, 110, 40),    # 10 dark grass
    (149, 130, 99),   # 11 branch
    (200, 60, 60),    # 12 scarf
    (128, 128, 128),  # 13 shadow
    (255, 240, 200),  # 14 light
    (90, 50, 20),     # 15 deep brown
]
KEY = 1

# Colour sets a branding may pick: the same drawing in another maker's colours
# (entries replaced by index).
COLOURS = {
    "default": {},
    "teal": {3: (64, 168, 176), 4: (28, 104, 120), 5: (210, 240, 236), 12: (240, 180, 40), 15: (20, 60, 70)},
}


def ellipse(cx, cy, rx, ry):
    return lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def ring(cx, cy, rx, ry, width):
    outer = ellipse(cx, cy, rx, ry)
    inner = ellipse(cx, cy, rx - width, ry - width)
    return lambda x, y: outer(x, y) and not inner(x, y)


def triangle(a, b, c):
    def side(p, q, x, y):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])

    def inside(x, y):
        s1, s2, s3 = side(a, b, x, y), side(b, c, x, y), side(c, a, x, y)
        return (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)

    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def outlined(shapes, fill, shape, cx, cy, rx, ry, line=2):
    shapes.append((ellipse(cx, cy, rx + line, ry + line), 0))
    shapes.append((shape if shape else ellipse(cx, cy, rx, ry), fill))


def character(width, height):
    """The mascot: a round little owl on a branch, waving hello."""
    s = width / 156.0
    def E(cx, cy, rx, ry):
        return ellipse(cx * s, cy * s, rx * s, ry * s)
    shapes = []
    # branch and grass tuft
    shapes.append((rect(0, 158 * s, width, 166 * s), 0))
    shapes.append((rect(0, 160 * s, width, 164 * s), 11))
    shapes.append((E(78, 182, 70, 10), 10))
    shapes.append((E(78, 184, 64, 7), 9))
    scenery = len(shapes)
    # ear tufts
    shapes.append((triangle((40 * s, 50 * s), (44 * s, 14 * s), (66 * s, 38 * s)), 0))
    shapes.append((triangle((44 * s, 46 * s), (47 * s, 21 * s), (62 * s, 38 * s)), 4))
    shapes.append((triangle((116 * s, 50 * s), (112 * s, 14 * s), (90 * s, 38 * s)), 0))
    shapes.append((triangle((112 * s, 46 * s), (109 * s, 21 * s), (94 * s, 38 * s)), 4))
    # waving wing (left), resting wing (right)
    shapes.append((E(28, 84, 16, 30), 0))
    shapes.append((E(28, 84, 13, 27), 4))
    shapes.append((E(132, 112, 13, 28), 0))
    shapes.append((E(132, 112, 10, 25), 4))
    # body
    shapes.append((E(78, 100, 52, 62), 0))
    shapes.append((E(78, 100, 49, 59), 3))
    shapes.append((E(78, 120, 32, 38), 5))
    # belly feathers
    for i, (fx, fy) in enumerate([(66, 112), (78, 112), (90, 112), (72, 124), (84, 124), (78, 136)]):
        shapes.append((ring(fx * s, fy * s, 5 * s, 3 * s, 1.2), 4))
    # scarf
    shapes.append((E(78, 80, 42, 8), 0))
    shapes.append((E(78, 80, 40, 6), 12))
    shapes.append((rect(96 * s, 80 * s, 104 * s, 100 * s), 0))
    shapes.append((rect(97 * s, 81 * s, 103 * s, 99 * s), 12))
    # eyes
    for ex in (60, 96):
        shapes.append((E(ex, 56, 17, 17), 0))
        shapes.append((E(ex, 56, 15, 15), 2))
        shapes.append((E(ex + 2, 58, 8, 9), 6))
        shapes.append((E(ex + 5, 54, 3, 3), 2))
    # cheeks
    shapes.append((E(46, 72, 6, 4), 8))
    shapes.append((E(110, 72, 6, 4), 8))
    # beak
    shapes.append((triangle((70 * s, 68 * s), (86 * s, 68 * s), (78 * s, 82 * s)), 0))
    shapes.append((triangle((72 * s, 69 * s), (84 * s, 69 * s), (78 * s, 79 * s)), 7))
    # feet on the branch
    for fx in (62, 94):
        for toe in (-5, 0, 5):
            shapes.append((E(fx + toe, 159, 3, 5), 0))
            shapes.append((E(fx + toe, 159, 2, 4), 7))
    # a light spot on the head
    shapes.append((E(60, 30, 8, 4), 14))

    # The owl stands a little smaller at the left, so that the window's
    # thank-you text, which overlaps the picture's right part, stays clear.
    scale, shift = 0.85, -2.0
    pixels = [[KEY] * width for _ in range(height)]
    for y in range(height):
        for x in range(width):
            px, py = x + 0.5, y + 0.5
            ox, oy = (px - shift) / scale, (py - height) / scale + height
            for i, (inside, colour) in enumerate(shapes):
                if (inside(px, py) if i < scenery else inside(ox, oy)):
                    pixels[y][x] = colour
    return pixels


def icon_face(size):
    """The owl's face alone, for the 32 x 32 icon."""
    s = size / 32.0
    def E(cx, cy, rx, ry):
        return ellipse(cx * s, cy * s, rx * s, ry * s)
    shapes = [
        (triangle((4 * s, 12 * s), (6 * s, 1 * s), (13 * s, 8 * s)), 4),
        (triangle((28 * s, 12 * s), (26 * s, 1 * s), (19 * s, 8 * s)), 4),
        (E(16, 18, 14.5, 13.5), 0),
        (E(16, 18, 13.5, 12.5), 3),
        (E(16, 24, 8, 6), 5),
        (E(10.5, 15, 5, 5), 0),
        (E(10.5, 15, 4.2, 4.2), 2),
        (E(11, 15.5, 2, 2.2), 6),
        (E(21.5, 15, 5, 5), 0),
        (E(21.5, 15, 4.2, 4.2), 2),
        (E(22, 15.5, 2, 2.2), 6),
        (triangle((13.5 * s, 19 * s), (18.5 * s, 19 * s), (16 * s, 24 * s)), 7),
    ]
    pixels = [[None] * size for _ in range(size)]
    for y in range(size):
        for x in range(size):
            for inside, colour in shapes:
                if inside(x + 0.5, y + 0.5):
                    pixels[y][x] = colour
    return pixels


def encode_rle4(rows_bottom_up):
    """BI_RLE4: encoded runs, absolute runs for mixed stretches, end of line
    after every row and end of bitmap at the end."""
    out = bytearray()
    for row in rows_bottom_up:
        i, n = 0, len(row)
        while i < n:
            run = 1
            while i + run < n and run < 255 and row[i + run] == row[i]:
                run += 1
            if run >= 3 or n - i <= 2:
                out += bytes([run, (row[i] << 4) | row[i]])
                i += run
                continue
            # gather a mixed stretch until a run of four or more begins
            j = i
            while j < n and j - i < 255:
                k = 1
                while j + k < n and row[j + k] == row[j]:
                    k += 1
                if k >= 4:
                    break
                j += min(k, 255 - (j - i))
            count = j - i
            if count < 3:
                out += bytes([run, (row[i] << 4) | row[i]])
                i += run
                continue
            out += bytes([0, count])
            chunk = row[i:j] + ([0] if count % 2 else [])
            packed = bytes((chunk[k] << 4) | chunk[k + 1] for k in range(0, len(chunk), 2))
            if len(packed) % 2:
                packed += b"\x00"
            out += packed
            i = j
        out += b"\x00\x00"
    out[-2:] = b"\x00\x01"
    return bytes(out)


def decode_rle4(data, width, height):
    """Reference decoder, to check the encoder before writing anything."""
    rows = [[0] * width for _ in range(height)]
    x = y = p = 0
    while p < len(data):
        a, b = data[p], data[p + 1]
        p += 2
        if a:
            for k in range(a):
                rows[y][x] = (b >> 4) if k % 2 == 0 else (b & 15)
                x += 1
        elif b == 0:
            x, y = 0, y + 1
        elif b == 1:
            break
        elif b == 2:
            x, y = x + data[p], y + data[p + 1]
            p += 2
        else:
            nbytes = (b + 1) // 2
            for k in range(b):
                byte = data[p + k // 2]
                rows[y][x] = (byte >> 4) if k % 2 == 0 else (byte & 15)
                x += 1
            p += nbytes + (nbytes % 2)
    return rows


# LZNT1: chunks of at most 4096 unpacked bytes, each behind a 16-bit header
# (size - 1 in bits 0-11, signature 3, bit 15 set when compressed); inside a
# compressed chunk a flag byte tells for each of the next eight items whether
# it is a literal byte or a 16-bit back reference, whose split between offset
# and length bits depends on the position in the chunk.
LZNT1_CHUNK = 4096


def lznt1_split(pos):
    """Length bits and the largest length at a chunk position (pos >= 1)."""
    shift = 12
    p = pos - 1
    while p >= 0x10:
        shift -= 1
        p >>= 1
    return shift, (1 << shift) - 1 + 3


def lznt1_compress_chunk(data):
    """The chunk's smallest coding: the longest match at every position, then
    the cheapest path through them (a literal costs 9 bits, a reference 17),
    which beats taking the longest match at each step by a few per cent."""
    n = len(data)
    heads = {}
    longest = [(0, 0)] * n
    for pos in range(n):
        key = data[pos:pos + 3]
        if pos > 0 and pos + 3 <= n:
            shift, max_len = lznt1_split(pos)
            max_off = 1 << (16 - shift)
            limit = min(max_len, n - pos)
            best_len, best_off = 0, 0
            for start in reversed(heads.get(key, [])):
                off = pos - start
                if off > max_off:
                    break
                length = 3
                while length < limit and data[start + length] == data[pos + length]:
                    length += 1
                if length > best_len:
                    best_len, best_off = length, off
                    if length == limit:
                        break
            longest[pos] = (best_len, best_off)
        heads.setdefault(key, []).append(pos)
    # Cheapest coding of each tail; any length up to the longest match is a
    # match too.
    cost = [0] * (n + 1)
    step = [(1, 0)] * n
    for pos in range(n - 1, -1, -1):
        best, choice = 9 + cost[pos + 1], (1, 0)
        length, off = longest[pos]
        for k in range(3, length + 1):
            if 17 + cost[pos + k] < best:
                best, choice = 17 + cost[pos + k], (k, off)
        cost[pos], step[pos] = best, choice
    out = bytearray()
    pos = 0
    while pos < n:
        flag_at = len(out)
        out.append(0)
        flags = 0
        for bit in range(8):
            if pos >= n:
                break
            length, off = step[pos]
            if length >= 3:
                shift, _ = lznt1_split(pos)
                out += struct.pack("<H", ((off - 1) << shift) | (length - 3))
                flags |= 1 << bit
            else:
                out.append(data[pos])
            pos += length
        out[flag_at] = flags
    return bytes(out)


def lznt1_compress(data):
    out = bytearray()
    for at in range(0, len(data), LZNT1_CHUNK):
        chunk = data[at:at + LZNT1_CHUNK]
        packed = lznt1_compress_chunk(chunk)
        if len(packed) < len(chunk):
            out += struct.pack("<H", 0xB000 | (len(packed) - 1)) + packed
        else:
            out += struct.pack("<H", 0x3000 | (len(chunk) - 1)) + chunk
    return bytes(out)


def lznt1_decompress(data):
    """Reference decoder, to check the encoder before writing anything."""
    out = bytearray()
    p = 0
    while p + 2 <= len(data):
        header = struct.unpack_from("<H", data, p)[0]
        if header == 0:
            break
        size = (header & 0xFFF) + 1
        body = data[p + 2:p + 2 + size]
        p += 2 + size
        if not header & 0x8000:
            out += body
            continue
        chunk = bytearray()
        q = 0
        while q < len(body):
            flags = body[q]
            q += 1
            for bit in range(8):
                if q >= len(body):
                    break
                if flags >> bit & 1:
                    token = struct.unpack_from("<H", body, q)[0]
                    q += 2
                    shift, _ = lznt1_split(len(chunk))
                    off = (token >> shift) + 1
                    for _ in range((token & ((1 << shift) - 1)) + 3):
                        chunk.append(chunk[-off])
                else:
                    chunk.append(body[q])
                    q += 1
        out += chunk
    return bytes(out)


def colour_table():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)


def write_picture(path, pixels):
    height, width = len(pixels), len(pixels[0])
    rows = list(reversed(pixels))
    bits = encode_rle4(rows)
    if decode_rle4(bits, width, height) != rows:
        sys.exit("RLE4 round trip failed")
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 2, len(bits), 2835, 2835, 16, 16)
    dib = header + colour_table() + bits
    packed = lznt1_compress(dib)
    if lznt1_decompress(packed) != dib:
        sys.exit("LZNT1 round trip failed")
    with open(path, "wb") as f:
        f.write(struct.pack("<I", len(dib)) + packed)
    return len(dib), len(packed)


def write_icon(path, pixels):
    size = len(pixels)
    xor = bytearray()
    mask = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for x in range(0, size, 2):
            a = row[x] if row[x] is not None else 0
            b = row[x + 1] if row[x + 1] is not None else 0
            line.append((a << 4) | b)
        xor += line
        bitsrow = 0
        for x in range(size):
            bitsrow = (bitsrow << 1) | (1 if row[x] is None else 0)
        mask += struct.pack(">I", bitsrow)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = header + colour_table() + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 22)
    with open(path, "wb") as f:
        f.write(directory + image)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "resources")
    colours = sys.argv[2] if len(sys.argv) > 2 else "default"
    if colours not in COLOURS:
        sys.exit("colours: one of " + ", ".join(sorted(COLOURS)))
    for index, rgb in COLOURS[colours].items():
        PALETTE[index] = rgb
    dib, packed = write_picture(os.path.join(root, "picture.lznt1"), character(156, 187))
    write_icon(os.path.join(root, "setup.ico"), icon_face(32))
    print("picture.lznt1: %d bytes of bitmap in %d" % (dib, packed + 4))


if __name__ == "__main__":
    main()
