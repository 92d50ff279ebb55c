#!/usr/bin/env python3
"""Independent count of the links and nodes an import of shapefiles makes,
read straight from the .shp bytes: nodes are the distinct end points of the
usable lines, compared as exact 16-byte keys (-0.0 taken as 0.0).

Usage: shp_nodes_oracle.py [--allow-loops] [--histogram] [--nodes] file.shp ...

Prints "links N", "loops N" (closed lines rejected as loop links), "nodes N",
"maxdegree D"; with --histogram then "degree D N" for each degree D from 1 to
the largest; with --nodes then one line per node in id order (descending
degree, then ascending x, y): "x y degree" with x and y as float.hex().
"""
import struct
import sys


def key(x, y):
    # -0.0 and 0.0 are one point.
    return struct.pack('<dd', x + 0.0, y + 0.0)


def records(path):
    data = open(path, 'rb').read()
    pos = 100
    while pos + 8 <= len(data):
        length = struct.unpack('>i', data[pos + 4:pos + 8])[0] * 2
        body = data[pos + 8:pos + 8 + length]
        pos += 8 + length
        yield body


def main():
    args = sys.argv[1:]
    allow_loops = '--allow-loops' in args
    list_nodes = '--nodes' in args
    histogram = '--histogram' in args
    files = [a for a in args if not a.startswith('--')]
    links = loops = 0
    degree = {}
    first_bits = {}
    for path in files:
        for body in records(path):
            links += 1
            if len(body) < 4:
                continue
            shape = struct.unpack('<i', body[:4])[0]
            if shape not in (3, 13, 23):
                continue
            nparts, npoints = struct.unpack('<ii', body[36:44])
            if nparts != 1 or npoints < 2 or npoints > 65535:
                continue
            base = 44 + 4 * nparts
            pts = [struct.unpack('<dd', body[base + 16 * i:base + 16 * i + 16]) for i in range(npoints)]
            # Repeated vertices go before the rules.
            kept = [pts[0]]
            for p in pts[1:]:
                if p != kept[-1]:
                    kept.append(p)
            if len(kept) < 2:
                continue
            if kept[0] == kept[-1] and not allow_loops:
                loops += 1
                continue
            for p in (kept[0], kept[-1]):
                k = key(*p)
                degree[k] = degree.get(k, 0) + 1
                first_bits.setdefault(k, p)
    print('links', links)
    print('loops', loops)
    print('nodes', len(degree))
    print('maxdegree', max(degree.values()) if degree else 0)
    if histogram:
        counts = {}
        for d in degree.values():
            counts[d] = counts.get(d, 0) + 1
        for d in range(1, max(counts, default=0) + 1):
            print('degree', d, counts.get(d, 0))
    if list_nodes:
        order = sorted(degree, key=lambda k: (-degree[k],) + struct.unpack('<dd', k))
        for k in order:
            x, y = first_bits[k]
            print(float.hex(x), float.hex(y), degree[k])


if __name__ == '__main__':
    main()
