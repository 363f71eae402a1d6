#!/usr/bin/env python3
"""Draws modrik's icon and writes it as res/modrik.ico.

The icon: a rounded square tile (a superellipse) shaded from teal at the
top left to indigo at the bottom right, a faint ring standing for a disc,
and a large white play triangle with rounded corners and a soft shadow.
Only white on a dark, saturated tile, so that it still reads at 16 pixels.

The .ico holds one 128 x 128 image, 32 bits per pixel, as an uncompressed
device-independent bitmap (a 40-byte header with the height doubled, the
BGRA rows bottom-up, then the 1-bit AND mask): 67,624 bytes of image data,
67,646 bytes of file. Uses the standard library only, so the file can be
rebuilt anywhere:

    python3 res/icon/make_icon.py            # writes res/modrik.ico
    python3 res/icon/make_icon.py --preview out.png   # also a PNG sheet
"""
import argparse
import math
import os
import struct
import zlib

SIZE = 128
SAMPLES = 4  # supersampling per axis, for smooth edges

# Colours (red, green, blue), 0..1.
TEAL = (0.11, 0.80, 0.73)
BLUE = (0.12, 0.48, 0.80)
INDIGO = (0.16, 0.17, 0.52)
WHITE = (1.0, 1.0, 1.0)

# Tile: a superellipse |x/a|^n + |y/a|^n <= 1 around the centre.
TILE_CENTRE = 64.0
TILE_HALF = 61.0
TILE_POWER = 5.0

# Ring: a circle behind the triangle.
RING_RADIUS = 47.0
RING_WIDTH = 3.2
RING_OPACITY = 0.30

# Play triangle, pointing right, placed a little right of the centre so that
# it looks centred; corners rounded with CORNER.
TRIANGLE = ((47.0, 36.0), (97.0, 64.0), (47.0, 92.0))
CORNER = 6.0
SHADOW_OFFSET = (1.5, 3.0)
SHADOW_SOFTNESS = 6.0
SHADOW_OPACITY = 0.35


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def over(base, colour, opacity):
    """Paints colour with the given opacity over an opaque base colour."""
    return mix(base, colour, max(0.0, min(1.0, opacity)))


def smoothstep(e0, e1, x):
    t = max(0.0, min(1.0, (x - e0) / (e1 - e0)))
    return t * t * (3 - 2 * t)


def inset_triangle(points, amount):
    """The triangle moved inwards by amount on every side (for rounding)."""
    (ax, ay), (bx, by), (cx, cy) = points
    # Incentre and inradius: shrinking towards the incentre keeps the
    # sides parallel and moves each of them by the same distance.
    la = math.dist((bx, by), (cx, cy))
    lb = math.dist((ax, ay), (cx, cy))
    lc = math.dist((ax, ay), (bx, by))
    p = la + lb + lc
    ix = (la * ax + lb * bx + lc * cx) / p
    iy = (la * ay + lb * by + lc * cy) / p
    s = p / 2
    area = abs((bx - ax) * (cy - ay) - (cx - ax) * (by - ay)) / 2
    r = area / s
    k = (r - amount) / r
    return tuple((ix + (x - ix) * k, iy + (y - iy) * k) for x, y in points)


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def triangle_distance(px, py, tri):
    """Signed distance to a triangle given clockwise on screen: < 0 inside."""
    inside = True
    for i in range(3):
        (ax, ay), (bx, by) = tri[i], tri[(i + 1) % 3]
        if (bx - ax) * (py - ay) - (by - ay) * (px - ax) < 0:
            inside = False
    d = min(segment_distance(px, py, *tri[i], *tri[(i + 1) % 3]) for i in range(3))
    return -d if inside else d


INNER = inset_triangle(TRIANGLE, CORNER)


def sample(x, y):
    """Colour and coverage (0 or 1) of one sample point."""
    dx, dy = (x - TILE_CENTRE) / TILE_HALF, (y - TILE_CENTRE) / TILE_HALF
    if abs(dx) ** TILE_POWER + abs(dy) ** TILE_POWER > 1.0:
        return None
    # Diagonal shade, teal -> blue -> indigo.
    t = max(0.0, min(1.0, (x + y) / (2.0 * SIZE)))
    colour = mix(TEAL, BLUE, t * 2) if t < 0.5 else mix(BLUE, INDIGO, (t - 0.5) * 2)
    # A soft light from the top.
    colour = over(colour, WHITE, 0.10 * (1 - smoothstep(10, 70, y)))
    # The ring.
    r = math.hypot(x - TILE_CENTRE, y - TILE_CENTRE)
    if abs(r - RING_RADIUS) <= RING_WIDTH / 2:
        colour = over(colour, WHITE, RING_OPACITY)
    # Shadow of the triangle, then the triangle.
    sd = triangle_distance(x - SHADOW_OFFSET[0], y - SHADOW_OFFSET[1], INNER) - CORNER
    colour = over(colour, (0.05, 0.05, 0.20), SHADOW_OPACITY * (1 - smoothstep(-2, SHADOW_SOFTNESS, sd)))
    if triangle_distance(x, y, INNER) <= CORNER:
        colour = WHITE
    return colour


def render():
    """Rows top-down of (r, g, b, a) floats, straight (not premultiplied) alpha."""
    rows = []
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            acc = [0.0, 0.0, 0.0]
            hits = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = sample(px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES)
                    if c is None:
                        continue
                    hits += 1
                    for i in range(3):
                        acc[i] += c[i]
            if hits:
                row.append((acc[0] / hits, acc[1] / hits, acc[2] / hits, hits / SAMPLES ** 2))
            else:
                row.append((0.0, 0.0, 0.0, 0.0))
        rows.append(row)
    return rows


def byte(v):
    return max(0, min(255, int(round(v * 255))))


def dib_image(rows):
    """The icon image as stored in an .ico file or an RT_ICON resource."""
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for row in reversed(rows):  # bottom-up
        for r, g, b, a in row:
            alpha = byte(a)
            colour += bytes((byte(b), byte(g), byte(r), alpha)) if alpha else b"\0\0\0\0"
    mask = bytearray()
    stride = ((SIZE + 31) // 32) * 4
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if byte(a) == 0:  # fully transparent: set in the AND mask
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(colour) + bytes(mask)


def ico_file(image):
    head = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return head + entry + image


def png_file(rows, scale_to=None):
    """A PNG of the rows (for looking at the design; not part of the build)."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    height, width = len(rows), len(rows[0])
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((byte(r), byte(g), byte(b), byte(a)))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def downscale(rows, size):
    """Box-filtered smaller copy, with premultiplied averaging."""
    f = SIZE // size
    out = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for yy in range(y * f, (y + 1) * f):
                for xx in range(x * f, (x + 1) * f):
                    r, g, b, a = rows[yy][xx]
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            a = acc[3] / (f * f)
            row.append((acc[0] / acc[3], acc[1] / acc[3], acc[2] / acc[3], a) if acc[3] else (0, 0, 0, 0))
        out.append(row)
    return out


def preview_sheet(rows):
    """The icon at 128, 64, 48, 32 and 16 pixels side by side on grey."""
    sizes = [128, 64, 32, 16]
    width = sum(sizes) + 10 * (len(sizes) + 1)
    sheet = [[(0.85, 0.85, 0.85, 1.0)] * width for _ in range(SIZE + 20)]
    x0 = 10
    for s in sizes:
        img = rows if s == SIZE else downscale(rows, s)
        for y in range(s):
            for x in range(s):
                r, g, b, a = img[y][x]
                br, bg, bb, _ = sheet[10 + y][x0 + x]
                sheet[10 + y][x0 + x] = (br + (r - br) * a, bg + (g - bg) * a, bb + (b - bb) * a, 1.0)
        x0 += s + 10
    return sheet


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--output", default=os.path.join(here, "..", "modrik.ico"))
    parser.add_argument("--preview", help="also write a PNG sheet of the icon at several sizes")
    args = parser.parse_args()
    rows = render()
    image = dib_image(rows)
    assert len(image) == 67624, len(image)
    with open(args.output, "wb") as f:
        f.write(ico_file(image))
    if args.preview:
        with open(args.preview, "wb") as f:
            f.write(png_file(preview_sheet(rows)))


if __name__ == "__main__":
    main()
