#!/usr/bin/env python3
"""Builds the inputs of Pellick.dll from the repository's sources.

    pellick_gen.py images OUTDIR          icons, menu bitmaps, Pellick.ico, Pellick16.ico
    pellick_gen.py rc STRINGS LANGID IMAGEDIR OUT.rc
    pellick_gen.py wizard OUT.bmp         the setup program's side picture
    pellick_gen.py preview OUTDIR         PNG sheets of every picture, for review

Pictures are drawn from signed distance fields: each shape knows its distance
to a pixel centre, and the coverage of a pixel is that distance clamped to one
pixel. That anti-aliases every edge at every size without supersampling, and
the same input always gives the same bytes (no time stamps, no randomness).
"""
import math
import re
import os
import struct
import sys
import zlib

# ---- strings -----------------------------------------------------------------

def read_strings(path):
    """Returns [(id, text)] from an `ID<TAB>text` file; the same rules as
    ReadStringTable in string_table.cpp, which the tests hold against this."""
    with open(path, 'rb') as f:
        data = f.read()
    text = data.decode('utf-8')  # strict: a bad byte stops the build
    entries, seen = [], set()
    for number, line in enumerate(text.split('\n'), 1):
        if line.endswith('\r'):
            line = line[:-1]
        if not line or line.startswith('#'):
            continue
        key, sep, value = line.partition('\t')
        if not sep or not re.fullmatch('[0-9]{1,5}', key) or int(key) > 65535 or not value:
            raise SystemExit(f'{path}:{number}: expected ID<TAB>text')
        ident = int(key)
        if ident in seen:
            raise SystemExit(f'{path}:{number}: identifier {ident} given twice')
        seen.add(ident)
        out, i = [], 0
        while i < len(value):
            c = value[i]
            if c == '\\':
                nxt = value[i + 1:i + 2]
                if nxt not in ('n', 't', '\\'):
                    raise SystemExit(f'{path}:{number}: unknown escape \\{nxt}')
                out.append({'n': '\n', 't': '\t', '\\': '\\'}[nxt])
                i += 2
            else:
                out.append(c)
                i += 1
        entries.append((ident, ''.join(out)))
    return entries


def rc_string(text):
    """A wide RC string literal. Everything but printable ASCII is written as a
    \\x escape of exactly four digits, so no following letter can extend it;
    quotes are doubled, as the resource compiler wants."""
    out = []
    for unit in utf16_units(text):
        ch = chr(unit)
        if ch == '"':
            out.append('""')
        elif ch == '\\':
            out.append('\\\\')
        elif 0x20 <= unit < 0x7f:
            out.append(ch)
        else:
            out.append('\\x%04x' % unit)
    return 'L"' + ''.join(out) + '"'


def utf16_units(text):
    data = text.encode('utf-16-le')
    return [data[i] | data[i + 1] << 8 for i in range(0, len(data), 2)]


LANGUAGES = {  # tag: (primary, sub) language of the string table
    'en-US': (0x09, 0x01),
    'de-DE': (0x07, 0x01),
    'fr-FR': (0x0c, 0x01),
    'es-ES': (0x0a, 0x03),  # modern sort, the Spanish of Windows
    'it-IT': (0x10, 0x01),
    'pt-BR': (0x16, 0x01),
    'nl-NL': (0x13, 0x01),
    'pl-PL': (0x15, 0x01),
    'ru-RU': (0x19, 0x01),
    'ja-JP': (0x11, 0x01),
    'zh-CN': (0x04, 0x02),
    'ko-KR': (0x12, 0x01),
}


def write_rc(strings_path, tag, image_dir, out_path):
    primary, sub = LANGUAGES[tag]
    lines = ['// Generated from ' + os.path.basename(strings_path) + '; do not edit.',
             'LANGUAGE 0x%02x, 0x%02x' % (primary, sub), '']
    image_dir = os.path.abspath(image_dir).replace('\\', '/')
    for ident in ICONS:
        lines.append('%d ICON "%s/icon_%d.ico"' % (ident, image_dir, ident))
    for ident in BITMAPS:
        lines.append('%d BITMAP "%s/bitmap_%d.bmp"' % (ident, image_dir, ident))
    lines += ['', 'STRINGTABLE', 'BEGIN']
    for ident, text in read_strings(strings_path):
        lines.append('  %d, %s' % (ident, rc_string(text)))
    lines += ['END', '']
    write_file(out_path, '\n'.join(lines).encode('ascii'))


def write_file(path, data):
    with open(path, 'wb') as f:
        f.write(data)


# ---- drawing -----------------------------------------------------------------
# Shapes are functions of a point (x, y) in unit coordinates (0..1 across the
# picture, y downwards) returning a signed distance in the same units:
# negative inside.

def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def rbox(x0, y0, x1, y1, r):
    cx, cy, hw, hh = (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2 - r, (y1 - y0) / 2 - r
    def d(x, y):
        qx, qy = abs(x - cx) - hw, abs(y - cy) - hh
        return math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - r
    return d


def stroke(points, width):
    """A polyline with round caps and joins."""
    segs = list(zip(points, points[1:]))
    def d(x, y):
        best = 1e9
        for (ax, ay), (bx, by) in segs:
            dx, dy = bx - ax, by - ay
            t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
            best = min(best, math.hypot(x - ax - t * dx, y - ay - t * dy))
        return best - width / 2
    return d


def polygon(points):
    n = len(points)
    def d(x, y):
        dist = (x - points[0][0]) ** 2 + (y - points[0][1]) ** 2
        sign = 1.0
        j = n - 1
        for i in range(n):
            (xi, yi), (xj, yj) = points[i], points[j]
            ex, ey = xj - xi, yj - yi
            wx, wy = x - xi, y - yi
            t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
            bx, by = wx - ex * t, wy - ey * t
            dist = min(dist, bx * bx + by * by)
            c1, c2, c3 = y >= yi, y < yj, ex * wy > ey * wx
            if (c1 and c2 and c3) or (not c1 and not c2 and not c3):
                sign = -sign
            j = i
        return sign * math.sqrt(dist)
    return d


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def rgb(hexcode):
    return tuple(int(hexcode[i:i + 2], 16) / 255 for i in (1, 3, 5))


def vertical(top, bottom, y0=0.0, y1=1.0):
    a, b = rgb(top), rgb(bottom)
    def paint(x, y):
        t = max(0.0, min(1.0, (y - y0) / (y1 - y0)))
        return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))
    return paint


def flat(hexcode):
    c = rgb(hexcode)
    return lambda x, y: c


class Canvas:
    """Premultiplied RGBA in floats, composited layer by layer."""

    def __init__(self, size):
        self.size = size
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(size * size)]

    def _coverage(self, shape, x, y):
        return max(0.0, min(1.0, 0.5 - shape(x, y) * self.size))

    def fill(self, shape, paint, outline=None, outline_px=0.0):
        """Paints shape over the canvas; with an outline, a band of outline_px
        pixels along the inside of the edge in that colour."""
        n = self.size
        for j in range(n):
            for i in range(n):
                x, y = (i + 0.5) / n, (j + 0.5) / n
                d = shape(x, y) * n
                a = max(0.0, min(1.0, 0.5 - d))
                if a <= 0.0:
                    continue
                color = paint(x, y)
                if outline is not None:
                    t = max(0.0, min(1.0, -d - outline_px + 0.5))
                    o = outline(x, y)
                    color = tuple(o[k] + (color[k] - o[k]) * t for k in range(3))
                p = self.px[j * n + i]
                for k in range(3):
                    p[k] = color[k] * a + p[k] * (1 - a)
                p[3] = a + p[3] * (1 - a)

    def erase(self, shape):
        """Clears what lies inside shape, leaving a soft edge."""
        n = self.size
        for j in range(n):
            for i in range(n):
                x, y = (i + 0.5) / n, (j + 0.5) / n
                keep = max(0.0, min(1.0, 0.5 + shape(x, y) * n))
                p = self.px[j * n + i]
                for k in range(4):
                    p[k] *= keep

    def rgba8(self, premultiplied):
        """Rows top to bottom of (r, g, b, a) bytes."""
        out = []
        for p in self.px:
            a = p[3]
            if a <= 0.0:
                out.append((0, 0, 0, 0))
                continue
            c = p[:3] if premultiplied else [v / a for v in p[:3]]
            out.append(tuple(min(255, int(v * 255 + 0.5)) for v in (*c, a)))
        return out

# ---- the pictures ------------------------------------------------------------

BLUE_TOP, BLUE_BOTTOM, BLUE_EDGE = '#4aa3f0', '#1c6fd1', '#0f4f9e'
GREY_TOP, GREY_BOTTOM, GREY_EDGE = '#b4b9bf', '#8a9097', '#5f656c'
GREEN, RED, AMBER, NAVY, SLATE = '#1e9e48', '#d63a2f', '#e59a00', '#0d4ea6', '#5a6472'
WHITE = '#ffffff'


def cloud(dx=0.0, dy=0.0, s=1.0):
    def at(x, y):
        return dx + 0.5 + (x - 0.5) * s, dy + 0.5 + (y - 0.5) * s
    def scale(v):
        return v * s
    parts = [circle(*at(0.30, 0.60), scale(0.19)), circle(*at(0.54, 0.46), scale(0.26)),
             circle(*at(0.78, 0.61), scale(0.17))]
    x0, y0 = at(0.08, 0.56)
    x1, y1 = at(0.94, 0.80)
    parts.append(rbox(x0, y0, x1, y1, scale(0.12)))
    return union(*parts)


def edge_px(size):
    return max(1.0, size / 20)


def draw_cloud(c, grey=False, **where):
    top, bottom, edge = (GREY_TOP, GREY_BOTTOM, GREY_EDGE) if grey else (BLUE_TOP, BLUE_BOTTOM, BLUE_EDGE)
    c.fill(cloud(**where), vertical(top, bottom, 0.25, 0.85), flat(edge), edge_px(c.size))


BADGE = (0.72, 0.72, 0.27)  # centre and radius of a state badge


def badge(c, colour, glyphs):
    cx, cy, r = BADGE
    c.erase(circle(cx, cy, r + max(0.06, 1.0 / c.size)))
    c.fill(circle(cx, cy, r), flat(colour))
    for g in glyphs:
        c.fill(g, flat(WHITE))


def check_mark(cx, cy, r, w):
    return stroke([(cx - 0.50 * r, cy + 0.02 * r), (cx - 0.14 * r, cy + 0.38 * r),
                   (cx + 0.50 * r, cy - 0.34 * r)], w)


def exclamation(cx, cy, r, w):
    return [stroke([(cx, cy - 0.52 * r), (cx, cy + 0.12 * r)], w),
            circle(cx, cy + 0.50 * r, w * 0.62)]


def arrow(cx, top, bottom, half, w, up):
    """A vertical arrow from top to bottom with its head at one end."""
    tip, tail = (top, bottom) if up else (bottom, top)
    head = half * 1.0
    base = tip + head if up else tip - head
    return union(stroke([(cx, tail), (cx, base)], w),
                 polygon([(cx - half, base), (cx, tip), (cx + half, base)] if up
                         else [(cx - half, base), (cx + half, base), (cx, tip)]))


def tray_icon(state, size):
    c = Canvas(size)
    cx, cy, r = BADGE
    w = max(0.085, 1.35 / size)
    if state == 'signed_out':
        draw_cloud(c, grey=True)
        c.erase(circle(cx, cy, r + max(0.06, 1.0 / size)))
        c.fill(circle(cx, cy, r), flat(SLATE))
        c.fill(stroke([(cx - 0.45 * r, cy), (cx + 0.45 * r, cy)], w), flat(WHITE))
        return c
    draw_cloud(c)
    if state == 'completed':
        badge(c, GREEN, [check_mark(cx, cy, r, w)])
    elif state == 'error':
        badge(c, RED, exclamation(cx, cy, r, w))
    elif state == 'busy':
        if size < 24:
            # Two arrows side by side blur into one blot at 16 px; one shaft
            # with a head at each end still reads as "both ways".
            top, bottom, half = cy - 0.68 * r, cy + 0.68 * r, 0.42 * r
            glyph = union(stroke([(cx, top + half), (cx, bottom - half)], w),
                          polygon([(cx - half, top + half), (cx, top), (cx + half, top + half)]),
                          polygon([(cx - half, bottom - half), (cx + half, bottom - half), (cx, bottom)]))
            badge(c, NAVY, [glyph])
        else:
            half = 0.32 * r
            badge(c, NAVY, [arrow(cx - 0.30 * r, cy - 0.55 * r, cy + 0.55 * r, half, w * 0.9, True),
                            arrow(cx + 0.30 * r, cy - 0.55 * r, cy + 0.55 * r, half, w * 0.9, False)])
    return c


def app_icon(size):
    c = Canvas(size)
    c.fill(rbox(0.03, 0.03, 0.97, 0.97, 0.22), vertical(BLUE_TOP, BLUE_BOTTOM), flat(BLUE_EDGE), edge_px(size) * 0.8)
    c.fill(cloud(0.0, 0.02, 0.80), flat(WHITE))
    return c


def menu_bitmap(ident):
    n = 16
    c = Canvas(n)
    w = 1.9 / n
    if ident == 50:    # errors
        c.fill(circle(0.5, 0.5, 0.44), flat(RED))
        for g in exclamation(0.5, 0.5, 0.44, w):
            c.fill(g, flat(WHITE))
    elif ident == 51:  # cancel
        c.fill(circle(0.5, 0.5, 0.44), flat(SLATE))
        d = 0.17
        c.fill(stroke([(0.5 - d, 0.5 - d), (0.5 + d, 0.5 + d)], w), flat(WHITE))
        c.fill(stroke([(0.5 - d, 0.5 + d), (0.5 + d, 0.5 - d)], w), flat(WHITE))
    elif ident in (52, 56):  # download, upload progress
        c.fill(arrow(0.5, 0.08, 0.70, 0.28, 2.2 / n, ident == 56), flat(BLUE_BOTTOM))
        c.fill(stroke([(0.14, 0.90), (0.86, 0.90)], 1.6 / n), flat(SLATE))
    elif ident == 53:  # pause
        c.fill(rbox(0.22, 0.16, 0.42, 0.84, 0.05), flat(SLATE))
        c.fill(rbox(0.58, 0.16, 0.78, 0.84, 0.05), flat(SLATE))
    elif ident == 54:  # resume
        c.fill(polygon([(0.24, 0.12), (0.86, 0.5), (0.24, 0.88)]), flat(GREEN))
    elif ident == 55:  # finished
        c.fill(circle(0.5, 0.5, 0.44), flat(GREEN))
        c.fill(check_mark(0.5, 0.5, 0.44, w), flat(WHITE))
    return c


# The small-icon slot at 100, 125, 150, 200 and 250 % (16 to 40) and the
# large icon up to 200 % (32 to 64): every one drawn for its size, so the
# shell never has to scale a picture into a slot.
ICON_SIZES = (16, 20, 24, 28, 32, 40, 48, 64)
TRAY_STATES = {21: 'idle', 23: 'completed', 24: 'error', 25: 'busy', 26: 'signed_out'}
ICONS = (20, 21, 23, 24, 25, 26)
BITMAPS = (50, 51, 52, 53, 54, 55, 56)


def icon_canvases(ident):
    if ident == 20:
        return [app_icon(s) for s in ICON_SIZES]
    return [tray_icon(TRAY_STATES[ident], s) for s in ICON_SIZES]

# ---- file formats ------------------------------------------------------------

def dib(canvas, premultiplied, icon):
    """BITMAPINFOHEADER and 32-bit bottom-up BGRA rows; an icon image doubles
    the height and appends the AND mask (set where fully transparent), which
    Windows before XP and some scalers still read."""
    n = canvas.size
    px = canvas.rgba8(premultiplied)
    header = struct.pack('<IiiHHIIiiII', 40, n, n * 2 if icon else n, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for j in reversed(range(n)):
        rows.append(b''.join(struct.pack('BBBB', b, g, r, a) for r, g, b, a in px[j * n:(j + 1) * n]))
    data = header + b''.join(rows)
    if icon:
        stride = (n + 31) // 32 * 4
        for j in reversed(range(n)):
            bits = bytearray(stride)
            for i in range(n):
                if px[j * n + i][3] == 0:
                    bits[i // 8] |= 0x80 >> (i % 8)
            data += bytes(bits)
    return data


def ico_bytes(canvases):
    images = [dib(c, False, True) for c in canvases]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, img in zip(canvases, images):
        out += struct.pack('<BBBBHHII', c.size % 256, c.size % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    return out + b''.join(images)


def bmp_bytes(canvas):
    # Menus draw 32-bit bitmaps with premultiplied alpha.
    info = dib(canvas, True, False)
    return struct.pack('<2sIHHI', b'BM', 14 + len(info), 0, 0, 54) + info


def write_images(out_dir):
    os.makedirs(out_dir, exist_ok=True)
    for ident in ICONS:
        write_file(os.path.join(out_dir, 'icon_%d.ico' % ident), ico_bytes(icon_canvases(ident)))
    for ident in BITMAPS:
        write_file(os.path.join(out_dir, 'bitmap_%d.bmp' % ident), bmp_bytes(menu_bitmap(ident)))
    write_file(os.path.join(out_dir, 'Pellick.ico'), ico_bytes([app_icon(s) for s in ICON_SIZES]))
    write_file(os.path.join(out_dir, 'Pellick16.ico'), ico_bytes([app_icon(16)]))

def wizard_bmp():
    """The setup's welcome and finish pages' picture, 164 x 314 (what they
    show at 96 dpi): the application's white cloud on its blue, 24-bit."""
    width, height, top = 164, 314, 56
    sky = vertical(BLUE_TOP, BLUE_BOTTOM)
    c = Canvas(width)
    c.fill(cloud(0.0, 0.0, 0.70), flat(WHITE))
    px = c.rgba8(True)
    rows = []
    for j in reversed(range(height)):
        row = bytearray()
        for i in range(width):
            r, g, b = (v * 255 for v in sky((i + 0.5) / width, (j + 0.5) / height))
            if top <= j < top + width:
                cr, cg, cb, ca = px[(j - top) * width + i]
                r, g, b = (cv + v * (255 - ca) / 255 for cv, v in ((cr, r), (cg, g), (cb, b)))
            row += struct.pack('BBB', *(min(255, int(v + 0.5)) for v in (b, g, r)))
        rows.append(bytes(row))  # 164 * 3 is a multiple of 4: no padding
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, 0, 0, 0, 0, 0) + b''.join(rows)
    return struct.pack('<2sIHHI', b'BM', 14 + len(info), 0, 0, 54) + info

# ---- review sheets -------------------------------------------------------------

def png(width, height, rgba_rows):
    raw = b''.join(b'\0' + bytes(v for p in row for v in p) for row in rgba_rows)
    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))


def write_preview(out_dir, zoom=4):
    """One sheet per background (light, dark): every icon at every size and
    every bitmap, each pixel drawn zoom times, so single pixels can be judged."""
    rows = [icon_canvases(i) for i in ICONS] + [[app_icon(s) for s in ICON_SIZES]]
    rows.append([menu_bitmap(i) for i in BITMAPS])
    cell = max(ICON_SIZES) + 8
    width = cell * max(len(r) for r in rows) * zoom
    height = cell * len(rows) * zoom
    os.makedirs(out_dir, exist_ok=True)
    for name, bg in (('light', (240, 240, 240)), ('dark', (32, 32, 40))):
        img = [[bg + (255,) for _ in range(width)] for _ in range(height)]
        for r, canvases in enumerate(rows):
            for k, c in enumerate(canvases):
                px = c.rgba8(False)
                for j in range(c.size):
                    for i in range(c.size):
                        pr, pg, pb, pa = px[j * c.size + i]
                        a = pa / 255
                        col = tuple(int(p * a + q * (1 - a) + 0.5) for p, q in zip((pr, pg, pb), bg)) + (255,)
                        for yy in range(zoom):
                            row = img[(r * cell + 4 + j) * zoom + yy]
                            x0 = (k * cell + 4 + i) * zoom
                            row[x0:x0 + zoom] = [col] * zoom
        with open(os.path.join(out_dir, 'preview-%s.png' % name), 'wb') as f:
            f.write(png(width, height, img))


def main(argv):
    if len(argv) == 3 and argv[1] == 'images':
        write_images(argv[2])
    elif len(argv) == 6 and argv[1] == 'rc':
        write_rc(argv[2], argv[3], argv[4], argv[5])
    elif len(argv) == 3 and argv[1] == 'wizard':
        write_file(argv[2], wizard_bmp())
    elif len(argv) == 3 and argv[1] == 'preview':
        write_preview(argv[2])
    else:
        raise SystemExit(__doc__)


if __name__ == '__main__':
    main(sys.argv)
