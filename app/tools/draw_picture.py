#!/usr/bin/env python3
"""Draws Quillet's 129x130 picture: a closed-caption strip whose text blocks pass,
through an arrow, onto a page of lines.

Only the standard library is used (zlib for the PNG), so the picture can be redrawn on
any machine:  python3 app/tools/draw_picture.py app/resources/Quillet.png
Shapes are drawn at 4x and averaged down, which keeps the edges smooth at this size.
"""
import math
import struct
import sys
import zlib

WIDTH, HEIGHT = 129, 130
SCALE = 4

TILE = (36, 70, 107)        # deep blue background tile
STRIP = (16, 22, 30)        # the caption strip, as captions are shown on screen
CAPTION = (250, 250, 250)   # caption text blocks
ACCENT = (245, 176, 65)     # the arrow
PAPER = (251, 250, 245)
FOLD = (214, 220, 228)
INK = (96, 120, 148)        # lines of text on the page


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        # premultiplied-free RGBA floats, transparent to start with
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(w * h)]

    def fill(self, inside, colour, box):
        """Paints every pixel whose centre `inside(x, y)` accepts, within box (in picture units)."""
        x0, y0, x1, y1 = box
        sx0, sy0 = max(0, int(x0 * SCALE) - 1), max(0, int(y0 * SCALE) - 1)
        sx1, sy1 = min(self.w, int(math.ceil(x1 * SCALE)) + 1), min(self.h, int(math.ceil(y1 * SCALE)) + 1)
        r, g, b = (c / 255.0 for c in colour)
        for sy in range(sy0, sy1):
            y = (sy + 0.5) / SCALE
            row = sy * self.w
            for sx in range(sx0, sx1):
                x = (sx + 0.5) / SCALE
                if inside(x, y):
                    self.px[row + sx] = [r, g, b, 1.0]

    def downsample(self):
        out = bytearray()
        n = SCALE * SCALE
        for y in range(HEIGHT):
            out.append(0)  # PNG filter: none
            for x in range(WIDTH):
                acc = [0.0, 0.0, 0.0, 0.0]
                for dy in range(SCALE):
                    row = (y * SCALE + dy) * self.w
                    for dx in range(SCALE):
                        p = self.px[row + x * SCALE + dx]
                        a = p[3]
                        acc[0] += p[0] * a
                        acc[1] += p[1] * a
                        acc[2] += p[2] * a
                        acc[3] += a
                alpha = acc[3] / n
                if acc[3] > 0:
                    rgb = [acc[i] / acc[3] for i in range(3)]
                else:
                    rgb = [0.0, 0.0, 0.0]
                out.extend(int(round(v * 255)) for v in rgb)
                out.append(int(round(alpha * 255)))
        return bytes(out)


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside, (x0, y0, x1, y1)


def polygon(points):
    def inside(x, y):
        hit = False
        n = len(points)
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                hit = not hit
        return hit
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return inside, (min(xs), min(ys), max(xs), max(ys))


def letter_c(cx, cy, radius, thickness):
    """A "C": a ring open towards the right."""
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if abs(d - radius) > thickness / 2:
            return False
        angle = math.degrees(math.atan2(y - cy, x - cx))
        return abs(angle) > 50
    pad = radius + thickness
    return inside, (cx - pad, cy - pad, cx + pad, cy + pad)


def draw():
    c = Canvas(WIDTH * SCALE, HEIGHT * SCALE)

    def paint(shape, colour):
        inside, box = shape
        c.fill(inside, colour, box)

    paint(rounded_rect(1, 1, 128, 129, 16), TILE)

    # The caption strip with a "CC" badge and two rows of caption text.
    paint(rounded_rect(10, 12, 119, 50, 6), STRIP)
    paint(rounded_rect(16, 20, 42, 42, 4), CAPTION)
    paint(rounded_rect(18.2, 22.2, 39.8, 39.8, 2.4), STRIP)
    paint(letter_c(24.6, 31, 4.8, 2.4), CAPTION)
    paint(letter_c(34.0, 31, 4.8, 2.4), CAPTION)
    for x0, x1 in ((49, 69), (73, 88), (92, 112)):
        paint(rounded_rect(x0, 21.5, x1, 27.5, 1.5), CAPTION)
    for x0, x1 in ((49, 59), (63, 93), (97, 106)):
        paint(rounded_rect(x0, 34.5, x1, 40.5, 1.5), CAPTION)

    # The arrow from the strip down to the page.
    paint(polygon([(59.5, 55), (69.5, 55), (69.5, 63), (78, 63), (64.5, 76), (51, 63), (59.5, 63)]), ACCENT)

    # The page: a sheet with a folded corner and lines of text.
    fold = 13
    paint(polygon([(27, 80), (102 - fold, 80), (102, 80 + fold), (102, 122), (27, 122)]), PAPER)
    paint(polygon([(102 - fold, 80), (102 - fold, 80 + fold), (102, 80 + fold)]), FOLD)
    for y, x1 in ((89, 82), (97, 94), (105, 90), (113, 70)):
        paint(rounded_rect(35, y - 1.6, x1, y + 1.6, 1.6), INK)
    return c.downsample()


def write_png(path, raw):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 6, 0, 0, 0)  # 8-bit RGBA
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    target = sys.argv[1] if len(sys.argv) > 1 else "Quillet.png"
    write_png(target, draw())
