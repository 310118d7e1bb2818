#!/usr/bin/env python3
"""Draws the program's icon group: a telephone handset over a modem, at 32x32 in 16 colours,
32x32 monochrome, 32x16 monochrome and 16x16 in 16 colours. Writes res/vudizeri.ico, and with
--png DIR a preview of each image."""
import struct, sys, zlib, os

# The standard 16-colour palette.
PALETTE = [(0,0,0),(128,0,0),(0,128,0),(128,128,0),(0,0,128),(128,0,128),(0,128,128),(192,192,192),
           (128,128,128),(255,0,0),(0,255,0),(255,255,0),(0,0,255),(255,0,255),(0,255,255),(255,255,255)]
BLACK, GREEN, NAVY, SILVER, GRAY, LIME, WHITE = 0, 2, 4, 7, 8, 10, 15

def draw(w, h):
    """Returns rows of palette indices, None for transparent."""
    img = [[None] * w for _ in range(h)]
    sx, sy = w / 32.0, h / 32.0
    def inside(px, py, x0, y0, x1, y1):
        return x0 * sx <= px + 0.5 < x1 * sx and y0 * sy <= py + 0.5 < y1 * sy
    for y in range(h):
        for x in range(w):
            cx, cy = (x + 0.5) / sx, (y + 0.5) / sy  # in 32-unit space
            # Modem body with a dark outline, a front panel and two lights.
            if 3 <= cx < 29 and 18 <= cy < 29:
                edge = cx < 4 or cx >= 28 or cy < 19 or cy >= 28
                img[y][x] = BLACK if edge else SILVER
                if 5 <= cx < 27 and 24 <= cy < 26:
                    img[y][x] = GRAY
                if 6 <= cx < 8 and 21 <= cy < 23 or 10 <= cx < 12 and 21 <= cy < 23:
                    img[y][x] = LIME
            # The handset: an arch whose two ends are the ear and mouth pieces.
            dx, dy = cx - 16, cy - 15
            r2 = dx * dx + dy * dy
            if cy < 12 and 9.5 ** 2 <= r2 < 13.5 ** 2 and abs(dx) < 11:
                img[y][x] = NAVY
            if (2 <= cx < 10 or 22 <= cx < 30) and 9 <= cy < 15:
                img[y][x] = NAVY
            if (4 <= cx < 8 or 24 <= cx < 28) and 15 <= cy < 17:
                img[y][x] = BLACK
    return img

def bmp_rows(img, bpp):
    h, w = len(img), len(img[0])
    out = b''
    for row in reversed(img):
        bits = []
        for v in row:
            if bpp == 4:
                bits.append(0 if v is None else v)
            else:  # monochrome: black where drawn
                bits.append(0 if v is not None else 1)
        if bpp == 4:
            data = bytes((bits[i] << 4) | (bits[i + 1] if i + 1 < w else 0) for i in range(0, w, 2))
        else:
            data = bytes(int(''.join(str(b) for b in (bits[i:i + 8] + [0] * 8)[:8]), 2) for i in range(0, w, 8))
        out += data + b'\0' * ((4 - len(data) % 4) % 4)
    return out

def mask_rows(img, mono):
    w = len(img[0])
    out = b''
    for row in reversed(img):
        bits = [1 if (v is None and not mono) else 0 for v in row]
        data = bytes(int(''.join(str(b) for b in (bits[i:i + 8] + [0] * 8)[:8]), 2) for i in range(0, w, 8))
        out += data + b'\0' * ((4 - len(data) % 4) % 4)
    return out

def image(w, h, bpp):
    img = draw(w, h)
    colours = 16 if bpp == 4 else 2
    palette = PALETTE if bpp == 4 else [(0,0,0),(255,255,255)]
    xor = bmp_rows(img, bpp)
    andm = mask_rows(img, bpp == 1)
    header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, bpp, 0, len(xor) + len(andm), 0, 0, colours, 0)
    pal = b''.join(struct.pack('BBBB', b, g, r, 0) for (r, g, b) in palette)
    return img, header + pal + xor + andm, colours

def png(path, img, mono):
    h, w = len(img), len(img[0])
    raw = b''
    for row in img:
        raw += b'\0'
        for v in row:
            if v is None:
                raw += bytes((255, 255, 255) if mono else (255, 0, 255))
            else:
                raw += bytes((0, 0, 0) if mono else PALETTE[v])
    def chunk(t, d):
        return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0))
                + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))

def main():
    here = os.path.dirname(os.path.abspath(__file__))
    sizes = [(32, 32, 4), (32, 32, 1), (32, 16, 1), (16, 16, 4)]
    images = [image(*s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (w, h, bpp), (_, data, colours) in zip(sizes, images):
        out += struct.pack('<BBBBHHII', w, h, colours if colours < 256 else 0, 0, 1, bpp, len(data), offset)
        offset += len(data)
    out += b''.join(d for _, d, _ in images)
    with open(os.path.join(here, '..', 'res', 'vudizeri.ico'), 'wb') as f:
        f.write(out)
    if len(sys.argv) == 3 and sys.argv[1] == '--png':
        for (w, h, bpp), (img, _, _) in zip(sizes, images):
            png(os.path.join(sys.argv[2], 'icon-%dx%d-%dbpp.png' % (w, h, bpp)), img, bpp == 1)

main()
