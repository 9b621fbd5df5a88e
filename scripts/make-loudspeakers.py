#!/usr/bin/env python3
"""Draws the loudspeaker pictures of the input list's "playable" column into
resources/images/: "loudspeaker-small" (the file that plays, sound waves
coming out) and "loudspeaker-small-muted" (the file that will play, silent).
16 x 16 RGBA PNG, anti-aliased by sampling each pixel 8 x 8 times.
Usage: scripts/make-loudspeakers.py [FOLDER]"""
import math
import os
import struct
import sys
import zlib

SIZE = 16
SUB = 8


def inside_polygon(x, y, points):
    # Even-odd rule.
    result = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            result = not result
        j = i
    return result


def on_arc(x, y, cx, cy, radius, width, half_angle):
    dx, dy = x - cx, y - cy
    if dx <= 0:
        return False
    if abs(math.hypot(dx, dy) - radius) > width / 2:
        return False
    return abs(math.degrees(math.atan2(dy, dx))) <= half_angle


def on_segment(x, y, a, b, width):
    (ax, ay), (bx, by) = a, b
    vx, vy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * vx + (y - ay) * vy) / (vx * vx + vy * vy)))
    return math.hypot(x - ax - t * vx, y - ay - t * vy) <= width / 2


# The speaker: a box and a cone opening to the right.
BOX = [(1.5, 5.5), (5.0, 5.5), (5.0, 10.5), (1.5, 10.5)]
CONE = [(5.0, 5.5), (9.0, 2.0), (9.0, 14.0), (5.0, 10.5)]


def draw(layers):
    """layers: (test(x, y), (r, g, b)) from bottom to top."""
    rows = []
    for py in range(SIZE):
        row = bytearray([0])  # filter: none
        for px in range(SIZE):
            r = g = b = a = 0.0
            for sy in range(SUB):
                for sx in range(SUB):
                    x = px + (sx + 0.5) / SUB
                    y = py + (sy + 0.5) / SUB
                    colour = None
                    for test, rgb in layers:
                        if test(x, y):
                            colour = rgb
                    if colour:
                        r += colour[0]
                        g += colour[1]
                        b += colour[2]
                        a += 1
            n = SUB * SUB
            if a:
                row += bytes([round(r / a), round(g / a), round(b / a), round(255 * a / n)])
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return b"".join(rows)


def png(pixels):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(pixels, 9)) + chunk(b"IEND", b"")


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "resources", "images")
    speaker = lambda x, y: inside_polygon(x, y, BOX) or inside_polygon(x, y, CONE)
    dark = (0x33, 0x3B, 0x45)
    blue = (0x1E, 0x6F, 0xD9)
    grey = (0x8C, 0x93, 0x9B)
    playing = [
        (speaker, dark),
        (lambda x, y: on_arc(x, y, 7.5, 8.0, 3.6, 1.3, 50), blue),
        (lambda x, y: on_arc(x, y, 7.5, 8.0, 6.3, 1.3, 45), blue),
    ]
    # Silent: the speaker in grey with a small cross where the waves were.
    muted = [
        (speaker, grey),
        (lambda x, y: on_segment(x, y, (10.8, 6.0), (14.2, 10.0), 1.3)
         or on_segment(x, y, (10.8, 10.0), (14.2, 6.0), 1.3), grey),
    ]
    for name, layers in (("loudspeaker-small", playing), ("loudspeaker-small-muted", muted)):
        path = os.path.join(folder, name + ".png")
        with open(path, "wb") as out:
            out.write(png(draw(layers)))
        print("wrote", path)


if __name__ == "__main__":
    main()
