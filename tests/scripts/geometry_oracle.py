#!/usr/bin/env python3
"""Independent turn-angle and bearing oracle for the geometry helpers.

Prints one line per case:
  unit x1 y1 x2 y2 x3 y3 turn rawturn bearing
unit is 'deg' or 'grad'; turn is the whole-degree turn angle (0 for an undefined
course), rawturn the unrounded course difference ('nan' when undefined),
bearing the bearing P1 -> P2 in radians. Floats are printed with repr, which
round-trips exactly.
"""
import math
import random
import sys

DEG = 0.017453292519943295
GRAD = 0.015707963267948967
R2D = 57.29577951308232
TWO_PI = 6.283185307179586


def radicand(lon1, lat1, lon2, lat2):
    sa = math.sin((lat1 - lat2) / 2)
    sb = math.sin((lon1 - lon2) / 2)
    return sa * sa + math.cos(lat1) * math.cos(lat2) * sb * sb


def course(ax, ay, bx, by):
    cos_ay = math.cos(ay)
    if cos_ay < 1e-30:
        return 270.0 if ay > 0 else 90.0
    r = radicand(ax, ay, bx, by)
    # a latitude beyond the pole makes the course undefined
    if not (math.cos(ay) >= 0 and math.cos(by) >= 0 and r >= 0):
        return None
    s = math.sqrt(r)
    if not s < 1:
        s = 1.0
    d = 2 * math.asin(s)
    denom = math.sin(d) * cos_ay
    if denom == 0:
        return None
    h = (math.sin(by) - math.sin(ay) * math.cos(d)) / denom
    if not math.isfinite(h):
        return None
    if h >= 1:
        h = 1.0
    elif h < -1:
        h = -1.0
    a = math.acos(h)
    if math.sin(bx - ax) < 0:
        return a * R2D
    return (TWO_PI - a) * R2D


def turn(p, f):
    (x1, y1), (x2, y2), (x3, y3) = [(x * f, y * f) for x, y in p]
    c1 = course(x1, y1, x2, y2)
    c2 = course(x2, y2, x3, y3)
    if c1 is None or c2 is None:
        return 0, float("nan")
    raw = c2 - c1
    t = round(raw)  # halves to even
    while t < 0:
        t += 360
    while t >= 360:
        t -= 360
    return t, raw


def bearing(p1, p2, f):
    lon1, lat1, lon2, lat2 = p1[0] * f, p1[1] * f, p2[0] * f, p2[1] * f
    delta = lon1 - lon2
    b = math.atan2(math.sin(delta) * math.cos(lat2),
                   math.cos(lat1) * math.sin(lat2) - math.sin(lat1) * math.cos(lat2) * math.cos(delta))
    if b >= 0:
        return b - math.trunc(b / TWO_PI) * TWO_PI
    return b + math.trunc(1 - b / TWO_PI) * TWO_PI


def random_triple(rng, lat_max, lon_max):
    kind = rng.randrange(6)
    pt = lambda: (rng.uniform(-lon_max, lon_max), rng.uniform(-lat_max, lat_max))
    p1 = pt()
    if kind == 0:  # near a pole
        p1 = (p1[0], math.copysign(lat_max - rng.uniform(0, lat_max * 1e-3), p1[1]))
        p2 = (rng.uniform(-lon_max, lon_max), math.copysign(lat_max - rng.uniform(0, lat_max * 1e-2), p1[1]))
        p3 = pt()
    elif kind == 1:  # near-antipodal step
        p2 = (p1[0] + lon_max * (1 if p1[0] < 0 else -1) + rng.uniform(-1e-6, 1e-6), -p1[1])
        p3 = pt()
    elif kind == 2:  # repeated point
        p2 = p1 if rng.random() < 0.5 else pt()
        p3 = p2 if p2 is not p1 else pt()
    elif kind == 3:  # short local steps, as on a road
        step = lambda p: (p[0] + rng.uniform(-1e-3, 1e-3), p[1] + rng.uniform(-1e-3, 1e-3))
        p2 = step(p1)
        p3 = step(p2)
    else:
        p2 = pt()
        p3 = pt()
    return p1, p2, p3


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 10000
    rng = random.Random(20261210)
    out = []
    for unit, f, lat_max, lon_max in (("deg", DEG, 90.0, 180.0), ("grad", GRAD, 100.0, 200.0)):
        for _ in range(n):
            p = random_triple(rng, lat_max, lon_max)
            t, raw = turn(p, f)
            b = bearing(p[0], p[1], f)
            vals = [p[0][0], p[0][1], p[1][0], p[1][1], p[2][0], p[2][1]]
            out.append(" ".join([unit] + [repr(v) for v in vals] + [str(t), repr(raw), repr(b)]))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
