#!/usr/bin/env python3
"""Reads a plain (not enciphered) network directory by the layouts of
docs/network-format.md alone, with struct, checks what that note says holds
between the files, and prints the counts:

    network_format.py NETDIR

links, nodes, maxdegree, cells (0 without spatialindex.bin), valid links,
loop links, intermediate vertices and the total length in km. Any
disagreement with the note raises an AssertionError naming the file."""
import os
import struct
import sys


def need(cond, file, what):
    if not cond:
        raise AssertionError("%s: %s" % (file, what))


def read(d, name):
    with open(os.path.join(d, name), "rb") as f:
        return f.read()


def config(d):
    raw = read(d, "kovra_config.ini")
    text = raw.decode("cp1252")
    need(text.endswith("\r\n"), "kovra_config.ini", "lines end in CR LF")
    lines = text[:-2].split("\r\n")
    need(lines[0] == "[kovra]", "kovra_config.ini", "section [kovra] first")
    keys = [l.split("=", 1)[0] for l in lines[1:]]
    values = dict(l.split("=", 1) for l in lines[1:])
    need("encrypted" not in values, "kovra_config.ini", "a plain network")
    order = ["version", "coordinateunit", "coordsys", "prj", "epsg", "linkcount", "xmin", "ymin", "xmax", "ymax",
             "checksum"]
    need([k for k in order if k in values] == keys, "kovra_config.ini", "keys in the note's order: %s" % keys)
    h = 0
    joined = "".join(lines[:-1]).encode("utf-16-le")
    for (c,) in struct.iter_unpack("<H", joined):
        h = (h * 17 + c) & 0xFFFF
    need(int(values["checksum"]) == h, "kovra_config.ini", "checksum %s, computed %d" % (values["checksum"], h))
    need(values["version"] == "400", "kovra_config.ini", "version 400")
    return values


def network(d):
    cfg = config(d)
    L = int(cfg["linkcount"])

    lb = read(d, "length.bin")
    need(len(lb) == 4 * L, "length.bin", "4 x LinkCount bytes")
    length = (0.0,) + struct.unpack("<%df" % L, lb)
    need(all(v >= 0 and v != float("inf") for v in length), "length.bin", "finite lengths >= 0")

    kb = read(d, "link.bin")
    need(len(kb) == 8 * L, "link.bin", "8 x LinkCount bytes")
    ends = struct.unpack("<%dI" % (2 * L), kb)
    frm = (0,) + ends[0::2]
    to = (0,) + ends[1::2]

    cb = read(d, "coord.bin")
    need(len(cb) % 16 == 0, "coord.bin", "16 bytes per node")
    N = len(cb) // 16
    xy = struct.unpack("<%dd" % (2 * N), cb)
    x = (0.0,) + xy[0::2]
    y = (0.0,) + xy[1::2]

    valid = [l for l in range(1, L + 1) if length[l] != 0]
    for l in range(1, L + 1):
        if length[l] == 0:
            need(frm[l] == 0 and to[l] == 0, "link.bin", "link %d of length 0 has nodes" % l)
        else:
            need(1 <= frm[l] <= N and 1 <= to[l] <= N, "link.bin", "link %d joins nodes in 1..%d" % (l, N))

    nb = read(d, "node.bin")
    D = struct.unpack_from("<i", nb, 0)[0]
    need(0 <= D <= 255, "node.bin", "degree %d in 0..255" % D)
    last = struct.unpack_from("<%di" % D, nb, 4)  # last[k-1]: last id of degree D - k + 1
    last_of = {D + 1: 0}
    for k in range(1, D + 1):
        last_of[D - k + 1] = last[k - 1]
    need(D == 0 or last_of[1] == N, "node.bin", "the last id of degree 1 is NodeCount")
    degree = [0] * (N + 1)
    for deg in range(D, 0, -1):
        need(last_of[deg] >= last_of[deg + 1], "node.bin", "ids grouped by descending degree")
        for n in range(last_of[deg + 1] + 1, last_of[deg] + 1):
            degree[n] = deg
    slots = sum(degree)
    need(len(nb) == 4 * (1 + D + slots), "node.bin", "1 + D + slots entries")
    need(slots == 2 * len(valid), "node.bin", "two slots per valid link")
    adjacency = struct.unpack_from("<%di" % slots, nb, 4 * (1 + D))
    at = 0
    count_ends = [0] * (N + 1)
    for l in valid:
        count_ends[frm[l]] += 1
        count_ends[to[l]] += 1
    for n in range(1, N + 1):
        mine = adjacency[at:at + degree[n]]
        at += degree[n]
        need(list(mine) == sorted(mine), "node.bin", "slots of node %d in ascending link order" % n)
        for l in mine:
            need(1 <= l <= L and length[l] != 0 and n in (frm[l], to[l]), "node.bin",
                 "slot of node %d holds link %d that ends there" % (n, l))
        need(count_ends[n] == degree[n], "node.bin", "node %d: degree %d, %d link ends" % (n, degree[n], count_ends[n]))

    ib = read(d, "coord3i.bin")
    need(len(ib) == 4 * (L + 1), "coord3i.bin", "LinkCount + 1 values")
    index = struct.unpack("<%di" % (L + 1), ib)
    need(index[0] == 0 and all(index[k] <= index[k + 1] for k in range(L)), "coord3i.bin", "0, never falling")
    vb = read(d, "coord3.bin")
    need(len(vb) == 16 * index[L], "coord3.bin", "16 bytes per intermediate vertex")
    verts = struct.unpack("<%dd" % (2 * index[L]), vb)

    cells = 0
    if os.path.exists(os.path.join(d, "spatialindex.bin")):
        cells = spatial_index(read(d, "spatialindex.bin"), N, L, x, y)

    return {
        "links": L, "nodes": N, "maxdegree": D, "cells": cells, "valid": len(valid),
        "loops": sum(1 for l in valid if frm[l] == to[l]), "vertices": index[L],
        "total_km": sum(length), "config": cfg, "length": length, "from": frm, "to": to,
        "x": x, "y": y, "index": index, "verts": verts,
    }


def spatial_index(b, N, L, x, y):
    count = struct.unpack_from("<i", b, 0)[0]
    pos = 4
    seen_nodes = set()
    ids = []

    def cell():
        nonlocal pos
        xmin, ymin, xmax, ymax, cid, inner = struct.unpack_from("<4diB", b, pos)
        pos += 37
        ids.append(cid)
        if inner:
            for _ in range(4):
                cell()
            return
        n = struct.unpack_from("<H", b, pos)[0]
        pos += 2
        for a, s1, s2 in struct.iter_unpack("<iHH", b[pos:pos + 8 * n]):
            if s2 == 0:
                need(1 <= a <= N and a not in seen_nodes, "spatialindex.bin", "node %d once" % a)
                need(xmin <= x[a] <= xmax and ymin <= y[a] <= ymax, "spatialindex.bin", "node %d in its leaf" % a)
                seen_nodes.add(a)
            else:
                need(1 <= a <= L and s1 < s2, "spatialindex.bin", "run of link %d" % a)
        pos += 8 * n

    cell()
    need(pos == len(b), "spatialindex.bin", "the root's subtree fills the file")
    need(ids == list(range(1, count + 1)), "spatialindex.bin", "cells numbered 1..CellCount in pre-order")
    need(len(seen_nodes) == N, "spatialindex.bin", "every node in a leaf")
    return count


def road_names(d, nn, L):
    """The name of each link (index 0 unused) from pair nn."""
    numbers = struct.unpack("<%di" % L, read(d, "roadnumber%02d.bin" % nn))
    names = read(d, "roadname%02d.bin" % nn)
    count = max(numbers)
    need(len(names) % count == 0, "roadname%02d.bin" % nn, "records of one width")
    w = len(names) // count
    out = [""]
    for k in numbers:
        rec = names[(k - 1) * w:k * w].decode("utf-16-le").rstrip("\0")
        out.append(rec)
    return out


if __name__ == "__main__":
    net = network(sys.argv[1])
    for k in ("links", "nodes", "maxdegree", "cells", "valid", "loops", "vertices"):
        print(k, net[k])
    print("total_km %.3f" % net["total_km"])
