#!/usr/bin/env python3
"""Area in km2 of rectangles between two (longitude, latitude) corners in
degrees, on a sphere of radius 6378.13 km, worked out independently of the
program: the quadrilateral is split along the diagonal from (x1, y2) to
(x2, y1) into two great-circle triangles, whose sides come from the haversine
formula and whose excess comes from L'Huilier's theorem.

Usage: mbr_area_oracle.py COUNT SEED
Prints COUNT lines "x1 y1 x2 y2 area" of random rectangles (longitude
-180..180, latitude -80..80, sides 1e-6..30 degrees, corners in random
order), numbers as repr() (shortest round trip).
"""
import math
import random
import sys

R = 6378.13


def side(p, q):
    """Great-circle distance in radians (haversine)."""
    h = math.sin((q[1] - p[1]) / 2) ** 2 + math.cos(p[1]) * math.cos(q[1]) * math.sin((q[0] - p[0]) / 2) ** 2
    return 2 * math.asin(math.sqrt(min(1.0, h)))


def excess(p, q, r):
    a, b, c = side(q, r), side(p, r), side(p, q)
    s = (a + b + c) / 2
    t = math.tan(s / 2) * math.tan((s - a) / 2) * math.tan((s - b) / 2) * math.tan((s - c) / 2)
    return 4 * math.atan(math.sqrt(max(t, 0.0)))


def area(x1, y1, x2, y2):
    x1, y1, x2, y2 = (math.radians(v) for v in (x1, y1, x2, y2))
    A, B, C, D = (x1, y1), (x1, y2), (x2, y1), (x2, y2)
    return R * R * (excess(A, B, C) + excess(B, C, D))


def main():
    count, seed = int(sys.argv[1]), int(sys.argv[2])
    rnd = random.Random(seed)
    for _ in range(count):
        w = 10 ** rnd.uniform(-6, math.log10(30))
        h = 10 ** rnd.uniform(-6, math.log10(30))
        x = rnd.uniform(-180, 180 - w)
        y = rnd.uniform(-80, 80 - h)
        x1, x2 = (x, x + w) if rnd.random() < 0.5 else (x + w, x)
        y1, y2 = (y, y + h) if rnd.random() < 0.5 else (y + h, y)
        print(repr(x1), repr(y1), repr(x2), repr(y2), repr(area(x1, y1, x2, y2)))


if __name__ == '__main__':
    main()
