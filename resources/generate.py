#!/usr/bin/env python3
"""Draws Quorvane's own assets: the icon (.ico, hicolor PNGs and SVG), the hand pointer
HAND-M.CUR, the example skin and the sample pair. Standard library only.

Run from this folder: python3 generate.py"""

import math
import struct
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent

TEAL = (31, 122, 140)
PAGE = (250, 252, 255)
EDGE = (20, 60, 80)
LINE = (60, 130, 200)


def inside_round_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def page_pixel(u, v, ox, oy):
    """A page with a folded corner, offset by (ox, oy); None outside it."""
    x0, y0, x1, y1 = 0.24 + ox, 0.16 + oy, 0.66 + ox, 0.72 + oy
    fold = 0.12
    if not (x0 <= u <= x1 and y0 <= v <= y1):
        return None
    if u - (x1 - fold) > v - y0:  # cut corner
        return None
    border = 0.025
    if (u < x0 + border or u > x1 - border or v < y0 + border or v > y1 - border
            or abs((u - (x1 - fold)) - (v - y0)) < border):
        return EDGE
    return PAGE


def icon_pixel(u, v, opaque):
    """RGBA of the icon at (u, v) in the unit square."""
    bg = inside_round_rect(u, v, 0.02, 0.02, 0.98, 0.98, 0.18)
    colour = TEAL if (bg or opaque) else None
    # Three pages, the front one with lines of text.
    for i, (ox, oy) in enumerate(((0.16, 0.16), (0.08, 0.08), (0.0, 0.0))):
        p = page_pixel(u, v, ox, oy)
        if p is not None:
            colour = p
            if i == 2 and p == PAGE and 0.30 < u < 0.54:
                for line_y in (0.30, 0.40, 0.50, 0.60):
                    if abs(v - line_y) < 0.022:
                        colour = LINE
    if colour is None:
        return (0, 0, 0, 0)
    return colour + (255,)


def render(size, pixel):
    """Rows top to bottom of RGBA tuples, 4x4 supersampled."""
    rows = []
    n = 4
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    r, g, b, a = pixel((x + (sx + 0.5) / n) / size, (y + (sy + 0.5) / n) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / (n * n)
            if acc[3]:
                row.append(tuple(round(c / acc[3]) for c in acc[:3]) + (round(alpha),))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def svg():
    """The icon as icon_pixel draws it, scalable, on a 256 unit canvas."""
    def hexa(colour):
        return "#%02x%02x%02x" % colour

    def page(ox, oy):
        # The bitmap's border lies inside the page: the outline is inset by half its width.
        border = 0.025
        inset = border / 2
        x0, y0, x1, y1 = 0.24 + ox + inset, 0.16 + oy + inset, 0.66 + ox - inset, 0.72 + oy - inset
        fold = 0.12
        points = ((x0, y0), (x1 - fold, y0), (x1, y0 + fold), (x1, y1), (x0, y1))
        path = " ".join("%g,%g" % (x * 256, y * 256) for x, y in points)
        return (f'  <polygon points="{path}" fill="{hexa(PAGE)}" stroke="{hexa(EDGE)}" '
                f'stroke-width="{border * 256:g}"/>\n')

    lines = "".join(f'  <rect x="{0.30 * 256:g}" y="{(y - 0.022) * 256:g}" '
                    f'width="{0.24 * 256:g}" height="{0.044 * 256:g}" fill="{hexa(LINE)}"/>\n'
                    for y in (0.30, 0.40, 0.50, 0.60))
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" '
            'viewBox="0 0 256 256">\n'
            f'  <rect x="{0.02 * 256:g}" y="{0.02 * 256:g}" width="{0.96 * 256:g}" '
            f'height="{0.96 * 256:g}" rx="{0.18 * 256:g}" fill="{hexa(TEAL)}"/>\n'
            + page(0.16, 0.16) + page(0.08, 0.08) + page(0.0, 0.0) + lines + '</svg>\n')


def png(rows):
    size_y, size_x = len(rows), len(rows[0])
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size_x, size_y, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def dib(rows, bits):
    """A BITMAPINFOHEADER image with its AND mask, as icon and cursor files hold it."""
    h, w = len(rows), len(rows[0])
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, bits, 0, 0, 0, 0, 0, 0)
    colour = b""
    for row in reversed(rows):
        line = b"".join(bytes((b, g, r, a)) if bits == 32 else bytes((b, g, r))
                        for r, g, b, a in row)
        colour += line + b"\0" * ((4 - len(line) % 4) % 4)
    mask = b""
    for row in reversed(rows):
        bits_row = 0
        line = bytearray((w + 31) // 32 * 4)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(line)
    return header + colour + mask


def directory(kind, images):
    """ICONDIR for kind 1 (icon) or 2 (cursor); images are (size, fields, data)."""
    out = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    for size, (f1, f2), data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, f1, f2, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in images)


def hand_shape(x, y):
    """A pointing hand on a 32 x 32 grid: 2 outline, 1 fill, 0 outside."""

    def fill(px, py):
        finger = inside_round_rect(px, py, 9, 1, 14, 16, 2.5)
        palm = inside_round_rect(px, py, 7, 12, 24, 27, 3)
        knuckles = any(inside_round_rect(px, py, k, 10, k + 4.5, 16, 2.2) for k in (14, 18.5))
        thumb = inside_round_rect(px, py, 3, 14, 10, 19, 2.5)
        return finger or palm or knuckles or thumb

    if fill(x + 0.5, y + 0.5):
        near_edge = not all(fill(x + 0.5 + dx, y + 0.5 + dy)
                            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
        return 2 if near_edge else 1
    return 0


def main():
    icons = {size: render(size, lambda u, v, s=size: icon_pixel(u, v, opaque=s == 32))
             for size in (16, 24, 32, 48, 64, 128, 256)}
    images = [(32, (1, 24), dib(icons[32], 24))]
    images += [(s, (1, 32), dib(icons[s], 32)) for s in (48, 128, 256)]
    (HERE / "quorvane.ico").write_bytes(directory(1, images))
    icon_dir = HERE / "icons"
    icon_dir.mkdir(exist_ok=True)
    for size, rows in icons.items():
        (icon_dir / f"quorvane-{size}.png").write_bytes(png(rows))
    (icon_dir / "quorvane.svg").write_text(svg())

    colours = {0: (0, 0, 0, 0), 1: (255, 255, 255, 255), 2: (0, 0, 0, 255)}
    hand = [[colours[hand_shape(x, y)] for x in range(32)] for y in range(32)]
    # The hot spot is the tip of the index finger.
    (HERE / "HAND-M.CUR").write_bytes(directory(2, [(32, (11, 1), dib(hand, 32))]))

    (HERE / "x" / "example.cjs").write_text(
        "/* Quorvane example skin: a Qt style sheet, for the window and its message boxes. */\n"
        "QWidget { color: #12324a; }\n"
        "QGroupBox { font-weight: bold; }\n"
        "QPushButton { border: 1px solid #5a7d99; border-radius: 3px; background: #ffffff; }\n"
        "QPushButton:hover { border-color: #1f7a8c; background: #f2f8fa; }\n"
        "QPushButton:pressed { background: #e3eef2; }\n"
        "QPushButton:focus { border: 2px solid #1f7a8c; }\n"
        "QDialog QPushButton { padding: 4px 14px; min-width: 64px; }\n"
        "QLineEdit { border: 1px solid #9db3c4; background: #ffffff; }\n")
    (HERE / "Samples" / "sample.txt").write_bytes(
        b"This is Quorvane's sample file to duplicate.\r\n"
        b"Start Saving copies it to every path listed in filelist.txt.\r\n")
    # Drive Z: is the Linux root; every Windows has C:\Users\Public.
    for name, folder in (("filelist.txt", b"Z:\\tmp"),
                         ("filelist-windows.txt", b"C:\\Users\\Public")):
        (HERE / "Samples" / name).write_bytes(b"".join(
            folder + b"\\quorvane-sample-copy-%d.txt\r\n" % i for i in (1, 2, 3)))


if __name__ == "__main__":
    main()
