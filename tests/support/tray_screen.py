#!/usr/bin/env python3
"""Reads what a tray test needs off screenshots of a Wine virtual desktop
(X window dumps as `xwd -root` writes them).

    tray_screen.py png SHOT.xwd OUT.png            the screenshot as PNG
    tray_screen.py icon SHOT.xwd                   the tray picture at the right
                                                   end of the taskbar: 21, 23, 24,
                                                   25, 26, "none" or "unknown"
    tray_screen.py drawn SHOT.xwd ID               the size of Pellick.dll's picture
                                                   ID that the slot shows pixel for
                                                   pixel, or "scaled"
    tray_screen.py strip OUT.png SHOT.xwd...       the taskbar's right end of each
                                                   shot, enlarged, side by side
    tray_screen.py crop SHOT.xwd OUT.png X Y W H   a part of the screenshot as PNG
    tray_screen.py colourful SHOT.xwd X Y W H      how many pixels of that part are
                                                   coloured (menu pictures; text,
                                                   lines and background are grey)
"""
import functools
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'resources'))
import pellick_gen  # noqa: E402  (the pictures as drawn for Pellick.dll)


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


def near(px, colour, limit):
    return sum((a - b) ** 2 for a, b in zip(px, colour)) <= limit * limit


# Wine's taskbar is as high as an icon slot: the small-icon size and a
# 2-pixel border around it (20 pixels at 100 %, 28 at 150 %, 36 at 200 %).
SLOT_BORDER = 2
LAST_ROWS = 48


def slot_size(rows):
    middle = len(rows[-1]) // 2
    height = 0
    # Rows left unread (read_xwd's last_rows) are empty and end the taskbar.
    while height < min(LAST_ROWS, len(rows)) and rows[-1 - height][middle:middle + 1] == [rows[-1][middle]]:
        height += 1
    return height


def icon_cell(rows):
    """The rightmost icon slot of Wine's taskbar, at the bottom right."""
    height, width, slot = len(rows), len(rows[-1]), slot_size(rows)
    return crop(rows, width - slot, height - slot, slot, slot)


@functools.lru_cache(maxsize=None)
def drawn_picture(ident, size):
    return pellick_gen.tray_icon(pellick_gen.TRAY_STATES[ident], size).rgba8(False)


def picture_error(cell, ident):
    """(largest, mean) channel difference between the slot and Pellick.dll's
    picture ID drawn for the slot's size over the taskbar's colour."""
    size = len(cell) - 2 * SLOT_BORDER
    background = cell[0][0]
    picture = drawn_picture(ident, size)
    largest = total = 0
    for j in range(size):
        for i in range(size):
            r, g, b, a = picture[j * size + i]
            want = [round((p * a + q * (255 - a)) / 255) for p, q in zip((r, g, b), background)]
            for x, y in zip(want, cell[SLOT_BORDER + j][SLOT_BORDER + i]):
                largest = max(largest, abs(x - y))
                total += abs(x - y)
    return largest, total / (3 * size * size)


def classify(cell):
    """The picture the slot shows, by the nearest of the five; a picture
    scaled from another size still comes nearest to its own (mean difference
    below 3 against 17 or more for the others)."""
    background = cell[0][0]
    if sum(1 for row in cell for px in row if not near(px, background, 12)) < 20:
        return 'none'
    mean, ident = min((picture_error(cell, ident)[1], ident) for ident in pellick_gen.TRAY_STATES)
    return str(ident) if mean < 12 else 'unknown'


def drawn_size(cell, ident):
    """The picture's own size when the slot shows it unscaled, else None."""
    return len(cell) - 2 * SLOT_BORDER if picture_error(cell, ident)[0] <= 6 else None


def main(argv):
    if len(argv) == 4 and argv[1] == 'png':
        write_png(argv[3], read_xwd(argv[2])[2])
    elif len(argv) == 3 and argv[1] == 'icon':
        print(classify(icon_cell(read_xwd(argv[2], LAST_ROWS)[2])))
    elif len(argv) == 4 and argv[1] == 'drawn':
        print(drawn_size(icon_cell(read_xwd(argv[2], LAST_ROWS)[2]), int(argv[3])) or 'scaled')
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
