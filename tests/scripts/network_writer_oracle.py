#!/usr/bin/env python3
"""Independent model of a plain network directory (no key): node numbering,
coord.bin, link.bin, node.bin, coord3.bin, coord3i.bin and the external-id
pair index1.bin / index2.bin, written from a text description of the links.

Usage: network_writer_oracle.py <description> <output folder>

Description lines:
  link x0 y0 x1 y1 ...      a polyline (a zero-length one is a rejected object)
  rejected                  a rejected object
  buckets N                 hash buckets of index2.bin (default 256)
  int32 v1 v2 ...           Int32 external ids, one per link
  int64 v1 v2 ...           Int64 external ids
  text W PAD id1 id2 ...    text ids of width W padded with unit PAD (hex);
                            each id is its UTF-16 units in hex joined by ':'
                            ('-' for the empty id)
The k-th id line (from 0) gives index1.bin and index2.bin in <output>/ids<k>/.
"""
import os
import struct
import sys


def main():
    desc, out = sys.argv[1], sys.argv[2]
    links = []          # list of point lists; [] = rejected
    buckets = 256
    ids = []            # (kind, values, width, pad) per id line
    for line in open(desc):
        f = line.split()
        if not f:
            continue
        if f[0] == 'link':
            v = [float(t) for t in f[1:]]
            links.append(list(zip(v[0::2], v[1::2])))
        elif f[0] == 'rejected':
            links.append([])
        elif f[0] == 'buckets':
            buckets = int(f[1])
        elif f[0] in ('int32', 'int64'):
            ids.append((f[0], [int(t) for t in f[1:]], 0, 0))
        elif f[0] == 'text':
            texts = [[] if t == '-' else [int(u, 16) for u in t.split(':')] for t in f[3:]]
            ids.append(('text', texts, int(f[1]), int(f[2], 16)))

    # A link is valid when its points are not all the same (length not 0).
    valid = [len(p) >= 2 and any(q != p[0] for q in p) for p in links]
    degree = {}
    for p, ok in zip(links, valid):
        if ok:
            for e in (p[0], p[-1]):
                degree[e] = degree.get(e, 0) + 1
    order = sorted(degree, key=lambda q: (-degree[q], q[0], q[1]))
    node_id = {q: i + 1 for i, q in enumerate(order)}

    def put(name, data):
        with open(os.path.join(out, name), 'wb') as fh:
            fh.write(data)

    put('coord.bin', b''.join(struct.pack('<dd', *q) for q in order))
    put('link.bin', b''.join(
        struct.pack('<II', node_id[p[0]], node_id[p[-1]]) if ok else struct.pack('<II', 0, 0)
        for p, ok in zip(links, valid)))

    # node.bin: D, the last id of each degree from D down to 1, then the slots.
    d_max = max(degree.values(), default=0)
    head = [d_max] + [max([node_id[q] for q in order if degree[q] >= d], default=0)
                      for d in range(d_max, 0, -1)]
    slots = {q: [] for q in order}
    for number, (p, ok) in enumerate(zip(links, valid), start=1):
        if ok:
            slots[p[0]].append(number)
            slots[p[-1]].append(number)
    body = [l for q in order for l in sorted(slots[q])]
    put('node.bin', struct.pack('<%di' % (len(head) + len(body)), *(head + body)))

    coord3 = []
    index = [0]
    for p, ok in zip(links, valid):
        if ok:
            coord3.extend(p[1:-1])
        index.append(len(coord3))
    put('coord3.bin', b''.join(struct.pack('<dd', *q) for q in coord3))
    put('coord3i.bin', struct.pack('<%di' % len(index), *index))

    for k, i in enumerate(ids):
        folder = os.path.join(out, 'ids%d' % k)
        os.makedirs(folder, exist_ok=True)
        write_ids(folder, i, buckets)


def write_ids(out, ids, buckets):
    def put(name, data):
        with open(os.path.join(out, name), 'wb') as fh:
            fh.write(data)

    kind, values, width, pad = ids
    mask = buckets - 1
    groups = [[] for _ in range(buckets)]
    if kind == 'text':
        stored = [(v + [pad] * width)[:width] for v in values]

        def trimmed(s):
            b, e = 0, len(s)
            while b < e and s[b] <= 0x20:
                b += 1
            while e > b and s[e - 1] <= 0x20:
                e -= 1
            return s[b:e]

        for link, v in enumerate(values, start=1):
            h = 0
            for c in v:
                h = (h * 17 + c) & mask
            groups[h].append(link)
        for g in groups:
            g.sort(key=lambda l: trimmed(stored[l - 1]))   # lists compare unit by unit
        header = struct.pack('<i', width)
        records = b''.join(struct.pack('<%dH' % width, *s) for s in stored)
    else:
        for link, v in enumerate(values, start=1):
            groups[(v & mask)].append(link)      # Python's & on negatives is two's complement
        for g in groups:
            g.sort(key=lambda l: values[l - 1])
        fmt = '<i' if kind == 'int32' else '<q'
        header = struct.pack('<i', 0 if kind == 'int32' else -1)
        records = b''.join(struct.pack(fmt, v) for v in values)
    put('index1.bin', header + records)
    starts, pos = [], 4 + 4 * buckets
    for g in groups:
        starts.append(pos)
        pos += 4 * len(g)
    entries = [l for g in groups for l in g]
    put('index2.bin', struct.pack('<i', buckets) + struct.pack('<%di' % buckets, *starts) +
        struct.pack('<%di' % len(entries), *entries))


if __name__ == '__main__':
    main()
