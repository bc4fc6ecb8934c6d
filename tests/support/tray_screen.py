#!/usr/bin/env python3
"""Reads what a tray test needs off screenshots of a Wine virtual desktop
(X window dumps as `xwd -root` writes them).

    tray_screen.py png SHOT.xwd OUT.png            the screenshot as PNG
    tray_screen.py icon SHOT.xwd                   the tray picture at the right
                                                   end of the taskbar: 21, 23, 24,
                                                   25, 26, "none" or "unknown"
    tray_screen.py strip OUT.png SHOT.xwd...       the taskbar's right end of each
                                                   shot, enlarged, side by side
    tray_screen.py crop SHOT.xwd OUT.png X Y W H   a part of the screenshot as PNG
    tray_screen.py colourful SHOT.xwd X Y W H      how many pixels of that part are
                                                   coloured (menu pictures; text,
                                                   lines and background are grey)
"""
import os
import struct
import sys
import zlib


def read_xwd(path, last_rows=None):
    """(width, height, rows of (r, g, b)) of a 24/32-bit TrueColor dump; with
    last_rows, only that many rows at the bottom (the others are empty)."""
    data = open(path, 'rb').read()
    fields = struct.unpack('>25I', data[:100])
    header_size, bpp, bytes_per_line = fields[0], fields[11], fields[12]
    width, height, byte_order, ncolors = fields[4], fields[5], fields[7], fields[19]
    masks = fields[14:17]
    if bpp not in (24, 32):
        raise SystemExit('unsupported xwd: %d bits per pixel' % bpp)
    step = bpp // 8
    offset = header_size + 12 * ncolors
    order = 'little' if byte_order == 0 else 'big'
    shifts = [(m & -m).bit_length() - 1 for m in masks]
    rows = []
    for y in range(height):
        if last_rows is not None and y < height - last_rows:
            rows.append([])
            continue
        line = data[offset + y * bytes_per_line: offset + y * bytes_per_line + step * width]
        values = [int.from_bytes(line[i:i + step], order) for i in range(0, step * width, step)]
        rows.append([tuple((v & m) >> s for m, s in zip(masks, shifts)) for v in values])
    return width, height, rows


def write_png(path, rows):
    height, width = len(rows), len(rows[0])
    raw = b''.join(b'\x00' + bytes(c for px in row for c in px) for row in rows)
    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)
    png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)) +
           chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))
    with open(path, 'wb') as out:
        out.write(png)


def crop(rows, x, y, w, h):
    return [row[x:x + w] for row in rows[y:y + h]]


def enlarge(rows, k):
    return [[px for px in row for _ in range(k)] for row in rows for _ in range(k)]


# The pictures' own colours (resources/pellick_gen.py).
GREY_EDGE, SLATE = (0x5f, 0x65, 0x6c), (0x5a, 0x64, 0x72)
GREEN, RED, NAVY = (0x1e, 0x9e, 0x48), (0xd6, 0x3a, 0x2f), (0x0d, 0x4e, 0xa6)
BLUE_TOP, BLUE_BOTTOM = (0x4a, 0xa3, 0xf0), (0x1c, 0x6f, 0xd1)


def near(px, colour, limit):
    return sum((a - b) ** 2 for a, b in zip(px, colour)) <= limit * limit


def icon_cell(rows):
    """The rightmost icon slot of Wine's taskbar (20 pixels high at the
    bottom of the screen): its last 20 x 20 pixels."""
    height, width = len(rows), len(rows[-1])
    return crop(rows, width - 20, height - 20, 20, 20)


def classify(cell):
    pixels = [px for row in cell for px in row]
    background = max(set(pixels), key=pixels.count)
    picture = [px for px in pixels if not near(px, background, 12)]
    if len(picture) < 20:
        return 'none'
    count = lambda colour, limit=40: sum(1 for px in picture if near(px, colour, limit))
    if count(RED) >= 6:
        return '24'
    if count(GREEN) >= 6:
        return '23'
    if count(SLATE, 30) + count(GREY_EDGE, 30) >= 6 and count(BLUE_TOP, 60) < 3:
        return '26'
    # A navy badge carries white arrows; the plain cloud has no white.
    whites = sum(1 for px in picture if min(px) >= 200)
    if count(BLUE_TOP, 60) + count(BLUE_BOTTOM, 60) >= 6:
        return '25' if whites >= 2 and count(NAVY, 30) >= 6 else '21'
    return 'unknown'


def main(argv):
    if len(argv) == 4 and argv[1] == 'png':
        write_png(argv[3], read_xwd(argv[2])[2])
    elif len(argv) == 3 and argv[1] == 'icon':
        print(classify(icon_cell(read_xwd(argv[2], 20)[2])))
    elif len(argv) >= 4 and argv[1] == 'strip':
        cells = []
        for path in argv[3:]:
            rows = read_xwd(path, 20)[2]
            cells.append(enlarge(crop(rows, len(rows[-1]) - 40, len(rows) - 20, 40, 20), 3))
        gap = [(255, 255, 255)] * 8
        strip = [sum((cell[y] + gap for cell in cells), [])[:-8] for y in range(len(cells[0]))]
        write_png(argv[2], strip)
    elif len(argv) == 8 and argv[1] == 'crop':
        x, y, w, h = map(int, argv[4:8])
        write_png(argv[3], crop(read_xwd(argv[2])[2], x, y, w, h))
    elif len(argv) == 7 and argv[1] == 'colourful':
        x, y, w, h = map(int, argv[3:7])
        part = crop(read_xwd(argv[2])[2], x, y, w, h)
        print(sum(1 for row in part for px in row if max(px) - min(px) > 60))
    else:
        raise SystemExit(__doc__)


if __name__ == '__main__':
    main(sys.argv)
