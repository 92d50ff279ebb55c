#!/usr/bin/env python3
"""Independent model of the spatial-index builder: reads a plain network
directory (no key) and writes the "spatialindex.bin" it must get.

Usage: quadtree_oracle.py <network folder> <max nodes per cell> <output file> ...
(one triple per network; python starts once for all of them)

The root is the settings' bounds widened to every node and every vertex of
coord3.bin; a cell holding more than the capacity is cut at its midlines
(ties east and north) unless it lies 16 levels deep; cells are numbered in
pre-order; each segment of a link of non-zero length is offered to every
cell from the root down, by the end-point, edge and corner-sign test.
"""
import os
import struct
import sys


def main():
    args = sys.argv[1:]
    for i in range(0, len(args) - 2, 3):
        model(args[i], int(args[i + 1]), args[i + 2])


def model(folder, cap, out):
    def read(name):
        with open(os.path.join(folder, name), 'rb') as fh:
            return fh.read()

    raw = read('coord.bin')
    coord = [None] + [struct.unpack_from('<dd', raw, 16 * i) for i in range(len(raw) // 16)]
    settings = {}
    for line in open(os.path.join(folder, 'kovra_config.ini')):
        if '=' in line:
            key, value = line.strip().split('=', 1)
            settings[key] = value
    raw = read('coord3i.bin')
    first = [struct.unpack_from('<i', raw, 4 * i)[0] for i in range(len(raw) // 4)]
    links = len(first) - 1
    raw = read('coord3.bin')
    vertices = [struct.unpack_from('<dd', raw, 16 * i) for i in range(len(raw) // 16)]
    lengths = struct.unpack('<%df' % links, read('length.bin'))
    ends = struct.unpack('<%dI' % (2 * links), read('link.bin'))

    box = [float(settings[k]) for k in ('xmin', 'ymin', 'xmax', 'ymax')]
    for x, y in coord[1:] + vertices:
        box = [min(box[0], x), min(box[1], y), max(box[2], x), max(box[3], y)]

    cells = []  # pre-order

    def split(rect, nodes, depth):
        cell = {'rect': rect, 'id': len(cells) + 1, 'nodes': nodes, 'kids': None, 'runs': []}
        cells.append(cell)
        if len(nodes) <= cap or depth > 15:
            return cell
        xmin, ymin, xmax, ymax = rect
        mx = xmin + (xmax - xmin) * 0.5
        my = ymin + (ymax - ymin) * 0.5
        parts = [[], [], [], []]
        for v in nodes:
            x, y = coord[v]
            if x >= mx and y >= my:
                parts[0].append(v)
            elif x < mx and y >= my:
                parts[1].append(v)
            elif x < mx and y < my:
                parts[2].append(v)
            else:
                parts[3].append(v)
        cell['nodes'] = []
        quarters = [(mx, my, xmax, ymax), (xmin, my, mx, ymax), (xmin, ymin, mx, my), (mx, ymin, xmax, my)]
        cell['kids'] = []
        for q, part in zip(quarters, parts):
            cell['kids'].append(split(q, part, depth + 1))
        return cell

    root = split(tuple(box), list(range(1, len(coord))), 0)

    def meets(rect, p, q):
        xmin, ymin, xmax, ymax = rect
        (x1, y1), (x2, y2) = p, q
        if xmin <= x1 <= xmax and ymin <= y1 <= ymax:
            return True
        if xmin <= x2 <= xmax and ymin <= y2 <= ymax:
            return True
        if (x1 < xmin and x2 < xmin) or (y1 < ymin and y2 < ymin) or \
           (x1 > xmax and x2 > xmax) or (y1 > ymax and y2 > ymax):
            return False
        c1, c2, c3 = y1 - y2, x2 - x1, x1 * y2 - x2 * y1
        signs = set((c1 * x + c2 * y + c3) > 0 for x, y in
                    ((xmin, ymin), (xmin, ymax), (xmax, ymin), (xmax, ymax)))
        return len(signs) == 2

    def add(cell, link, s, p, q):
        if not meets(cell['rect'], p, q):
            return
        if cell['kids']:
            for kid in cell['kids']:
                add(kid, link, s, p, q)
            return
        runs = cell['runs']
        if runs and runs[-1][0] == link and runs[-1][2] == s:
            runs[-1][2] += 1
        else:
            runs.append([link, s, s + 1])

    for link in range(1, links + 1):
        if lengths[link - 1] == 0:
            continue
        line = [coord[ends[2 * link - 2]]] + vertices[first[link - 1]:first[link]] + [coord[ends[2 * link - 1]]]
        for s in range(len(line) - 1):
            add(root, link, s, line[s], line[s + 1])

    data = [struct.pack('<i', len(cells))]
    for c in cells:
        data.append(struct.pack('<4diB', *c['rect'], c['id'], 1 if c['kids'] else 0))
        if not c['kids']:
            data.append(struct.pack('<H', len(c['nodes']) + len(c['runs'])))
            data.extend(struct.pack('<iHH', v, 0, 0) for v in c['nodes'])
            data.extend(struct.pack('<iHH', *r) for r in c['runs'])
    with open(out, 'wb') as fh:
        fh.write(b''.join(data))


if __name__ == '__main__':
    main()
