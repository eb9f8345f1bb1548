#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico files.

MAINICON: 16, 24, 32, 48 and 256 pixels in 32-bit colour (256 as PNG).
FORM1ICON: 48 and 32 pixels in 24-bit colour, 16 pixels in 8-bit colour.
The picture: a blue rounded tile with a white arrow pointing down into a tray.
Output is deterministic, so the committed icons can be checked by rerunning.
"""
import struct
import sys
import zlib
from pathlib import Path

SAMPLES = 4  # supersampling per axis


def inside_rounded(x, y, r):
    cx = min(max(x, r), 1 - r)
    cy = min(max(y, r), 1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def inside_arrow(x, y):
    shaft = 0.43 <= x <= 0.57 and 0.16 <= y <= 0.50
    head = 0.46 <= y <= 0.68 and abs(x - 0.5) <= (0.68 - y) * 1.1
    return shaft or head


def inside_tray(x, y):
    base = 0.74 <= y <= 0.84 and 0.2 <= x <= 0.8
    sides = 0.60 <= y <= 0.84 and (0.2 <= x <= 0.3 or 0.7 <= x <= 0.8)
    return base or sides


def pixel(size, px, py):
    """Average colour (r, g, b, a) of one pixel."""
    acc = [0.0, 0.0, 0.0, 0.0]
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (px + (sx + 0.5) / SAMPLES) / size
            y = (py + (sy + 0.5) / SAMPLES) / size
            if not inside_rounded(x, y, 0.18):
                continue
            if inside_arrow(x, y) or inside_tray(x, y):
                c = (255, 255, 255)
            else:
                t = y
                c = (int(30 + 20 * t), int(110 - 40 * t), int(210 - 60 * t))
            acc[0] += c[0]
            acc[1] += c[1]
            acc[2] += c[2]
            acc[3] += 255
    n = SAMPLES * SAMPLES
    a = acc[3] / n
    if a == 0:
        return (0, 0, 0, 0)
    k = 255.0 / acc[3]
    return (round(acc[0] * k), round(acc[1] * k), round(acc[2] * k), round(a))


def render(size):
    return [[pixel(size, x, y) for x in range(size)] for y in range(size)]


def and_mask(img, size, threshold=128):
    row_bytes = ((size + 31) // 32) * 4
    out = bytearray()
    for y in reversed(range(size)):
        row = bytearray(row_bytes)
        for x in range(size):
            if img[y][x][3] < threshold:
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


def bmp_header(size, bpp, colours=0):
    return struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bpp, 0, 0, 0, 0, colours, 0)


def dib32(img, size):
    data = bytearray()
    for y in reversed(range(size)):
        for r, g, b, a in img[y]:
            data += bytes((b, g, r, a))
    return bmp_header(size, 32) + bytes(data) + and_mask(img, size)


def flatten(c, bg=(240, 240, 240)):
    r, g, b, a = c
    return tuple(round((v * a + w * (255 - a)) / 255) for v, w in zip((r, g, b), bg))


def dib24(img, size):
    data = bytearray()
    pad = (4 - (size * 3) % 4) % 4
    for y in reversed(range(size)):
        for c in img[y]:
            r, g, b = flatten(c)
            data += bytes((b, g, r))
        data += bytes(pad)
    return bmp_header(size, 24) + bytes(data) + and_mask(img, size)


def palette_6x6x6():
    levels = [0, 51, 102, 153, 204, 255]
    pal = [(r, g, b) for r in levels for g in levels for b in levels]
    pal += [(i * 6, i * 6, i * 6) for i in range(256 - len(pal))]
    return pal


def dib8(img, size):
    pal = palette_6x6x6()
    table = b''.join(bytes((b, g, r, 0)) for r, g, b in pal)
    data = bytearray()
    pad = (4 - size % 4) % 4
    for y in reversed(range(size)):
        for c in img[y]:
            r, g, b = flatten(c)
            data.append(min(range(len(pal)), key=lambda i: sum((p - q) ** 2 for p, q in zip(pal[i], (r, g, b)))))
        data += bytes(pad)
    return bmp_header(size, 8, 256) + table + bytes(data) + and_mask(img, size)


def png(img, size):
    raw = b''.join(b'\0' + b''.join(bytes(p) for p in row) for row in img)

    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))

    ihdr = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')


def ico(images):
    """images: list of (size, bpp, colours, data)."""
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b''
    for size, bpp, colours, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack('<BBBBHHII', dim, dim, colours if colours < 256 else 0, 0, 1, bpp, len(data), offset)
        offset += len(data)
        body += data
    return out + body


def main(outdir):
    outdir = Path(outdir)
    renders = {s: render(s) for s in (16, 24, 32, 48, 256)}
    main_icon = [(s, 32, 0, dib32(renders[s], s)) for s in (16, 24, 32, 48)]
    main_icon.append((256, 32, 0, png(renders[256], 256)))
    (outdir / 'mainicon.ico').write_bytes(ico(main_icon))
    form_icon = [(48, 24, 0, dib24(renders[48], 48)), (32, 24, 0, dib24(renders[32], 32)),
                 (16, 8, 256, dib8(renders[16], 16))]
    (outdir / 'form1.ico').write_bytes(ico(form_icon))


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / 'app' / 'resources')
